#include "platform/framework/application.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <memory>

#include "platform/framework/form.h"

namespace {

TApplication the_application;

int toolkit_argc = 1;
char toolkit_arg0[] = "tessaline";
char* toolkit_argv[] = {toolkit_arg0, nullptr};

void StartToolkit(int& argc, char** argv) {
  if (QCoreApplication::instance()) return;
  // Without a display the program runs on the off-screen platform.
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  auto* app = new QApplication(argc, argv);
  app->setQuitOnLastWindowClosed(false);
}

}  // namespace

TApplication* Application = &the_application;

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() {
  DestroyComponents();
}

void TApplication::Initialize(int& argc, char** argv) {
  StartToolkit(argc, argv);
}

void TApplication::Run() {
  platform::EnsureToolkit();
  if (!main_form_) return;
  main_form_->Show();
  if (!terminated_) QApplication::exec();
}

void TApplication::Terminate() {
  terminated_ = true;
  if (QCoreApplication::instance()) QCoreApplication::quit();
}

void TApplication::ProcessMessages() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
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

void TApplication::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == main_form_) main_form_ = nullptr;
}

namespace platform {

void EnsureToolkit() {
  StartToolkit(toolkit_argc, toolkit_argv);
}

}  // namespace platform
