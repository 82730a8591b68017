#include "platform/framework/application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QtGlobal>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/framework/form.h"
#include "platform/framework/termination_requests.h"
#include "platform/framework/toolkit_platform.h"
#include "platform/messages/messages.h"

namespace {

// The toolkit ends the process with exit() right after this warning when the
// connection to the display breaks (window killed, server gone, session ended).
constexpr char kDisplayBroke[] = "The X11 connection broke";

QtMessageHandler previous_handler = nullptr;
// Set while Initialize opens the display; the program's name for messages.
std::atomic<bool> opening_display{false};
std::string program_name = "tessaline";

bool HasEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

std::string DisplayName() {
  const char* name = std::getenv(HasEnv("DISPLAY") ? "DISPLAY" : "WAYLAND_DISPLAY");
  return name ? name : "";
}

void DestroyFormsAtExit() {
  // The main window's close handler runs as for any close; it only keeps
  // what the window keeps, so it may run under a message box's handler too.
  if (TCustomForm* main = Application->MainForm()) main->CloseForLostDisplay();
  if (platform::OpenMessageBoxes() > 0) {
    // The display went while a message box was open: the handler that opened
    // it is still on the stack, and the components it runs for may not be
    // destroyed under it. The process ends here, as exit() would have ended it.
    std::fflush(nullptr);
    std::_Exit(1);
  }
  Application->DestroyForms();
}

// Runs on the thread that logs (for the display messages, the GUI thread).
void OnToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg && opening_display) {
    // The toolkit would abort; the display just cannot be had (its own warning,
    // logged before, says why).
    std::fprintf(stderr, "%s: cannot open the display \"%s\"\n", program_name.c_str(),
                 DisplayName().c_str());
    std::exit(1);
  }
  if (type == QtWarningMsg && text.startsWith(QLatin1String(kDisplayBroke))) {
    static std::once_flag once;
    std::call_once(once, [] {
      platform::SetDisplayLost();
      // Registered last, this runs first in the exit() that follows: the windows
      // and their components go while everything they use still exists.
      std::atexit(DestroyFormsAtExit);
    });
  }
  if (previous_handler) {
    previous_handler(type, context, text);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
  }
}

void StartToolkit(int argc, char** argv) {
  if (QCoreApplication::instance()) return;
  static std::once_flag handler_once;
  std::call_once(handler_once, [] { previous_handler = qInstallMessageHandler(OnToolkitMessage); });
  // The meters repaint the same small areas every frame. Through shared
  // memory, each paint into an area the X server may still be reading first
  // waits for a round trip to it (and wakes the toolkit's X reader thread);
  // sent over the connection, those few kilobytes need no wait. A value the
  // user set is kept.
  setenv("QT_XCB_NO_MITSHM", "1", 0);
  // The platform goes to the toolkit as an argument, not through the
  // environment, so that programs started from here (links opened on the
  // desktop) choose their own. It follows the program's name, so that a
  // platform named on the command line still wins. The toolkit keeps the
  // arguments for its lifetime.
  static std::vector<std::string> args;
  static std::vector<char*> toolkit_args;
  static int toolkit_args_count = 0;
  if (argv) args.assign(argv, argv + argc);
  if (args.empty()) args.emplace_back(program_name);
  const std::string choice = platform::ToolkitPlatformFor(
      std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("QT_QPA_PLATFORM"));
  if (!choice.empty()) args.insert(args.begin() + 1, {"-platform", choice});
  toolkit_args.clear();
  for (std::string& arg : args) toolkit_args.push_back(arg.data());
  toolkit_args.push_back(nullptr);
  toolkit_args_count = static_cast<int>(args.size());
  auto* app = new QApplication(toolkit_args_count, toolkit_args.data());
  app->setQuitOnLastWindowClosed(false);
}

}  // namespace

void TApplication::Initialize(int& argc, char** argv) {
  if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') {
    program_name = argv[0];
    program_name.erase(0, program_name.rfind('/') + 1);
  }
  if (!QCoreApplication::instance() && !HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY") &&
      !HasEnv("QT_QPA_PLATFORM")) {
    throw Exception("no display to show the window on (DISPLAY is not set)");
  }
  opening_display = true;
  StartToolkit(argc, argv);
  opening_display = false;
}

void TApplication::Run() {
  platform::EnsureToolkit();
  if (!main_form_) return;
  main_form_->Show();
  if (terminated_) return;
  // A request to end the program closes the main window as its close request
  // does, so that its own close path runs.
  platform::TerminationRequests requests([this] {
    if (main_form_) main_form_->Close();
  });
  QApplication::exec();
}

void TApplication::Terminate() {
  terminated_ = true;
  if (QCoreApplication::instance()) QCoreApplication::quit();
}

void TApplication::ProcessMessages() {
  if (platform::DisplayLost()) {
    platform::DeliverPostedMessages();
  } else if (QCoreApplication::instance()) {
    QCoreApplication::processEvents();
  }
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  if (QCoreApplication::instance())
    QCoreApplication::setApplicationName(QString::fromStdString(title));
}

std::string TApplication::ExeName() const {
  platform::EnsureToolkit();
  return QCoreApplication::applicationFilePath().toStdString();
}

std::string TApplication::ExeDir() const {
  platform::EnsureToolkit();
  return QCoreApplication::applicationDirPath().toStdString() + "/";
}

namespace platform {

void EnsureToolkit() {
  StartToolkit(0, nullptr);
}

}  // namespace platform
