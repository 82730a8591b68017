#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "app/app_classes.h"
#include "app/command_line.h"
#include "app/info_window.h"
#include "app/main_window.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "platform/mmtimer/mmtimer.h"
#include "platform/text/arguments.h"
#include "platform/text/console.h"
#include "stream/connector.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessaline [--follow-devices] [--wave]\n"
    "Opens the window that lists every input device with its live left and right\n"
    "level, and every output device with a play button for a test sound.\n"
    "Needs a display (X, or Wayland where there is no X); the audio back-end is\n"
    "chosen by TESSALINE_AUDIO (pulse, virtual, virtual:<device list>, none).\n"
    "--follow-devices refreshes the names and counts, as the Refresh button does,\n"
    "whenever the sound server reports an input or output added or removed.\n"
    "--wave plays the test sound through the wave output instead of the sound-buffer\n"
    "output.\n"
    "--help prints this text, --version the program's version.\n";

// TESSALINE_STATS=<file>: once a second the file is replaced by one line,
// "<slices arrived> <slices shown>" of all level meters since the start, when
// they changed (so that an idle program is not measured writing files); for
// measurements (bench/app-cpu). Runs on the timer thread.
std::string stats_file;
long long stats_written[2] = {-1, -1};

void WriteStats(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  const long long now[2] = {static_cast<long long>(TMMConnector::SlicesArrived()),
                            static_cast<long long>(TMMConnector::SlicesShown())};
  if (now[0] == stats_written[0] && now[1] == stats_written[1]) return;
  const std::string temporary = stats_file + ".new";
  if (std::FILE* f = std::fopen(temporary.c_str(), "w")) {
    std::fprintf(f, "%lld %lld\n", now[0], now[1]);
    std::fclose(f);
    if (std::rename(temporary.c_str(), stats_file.c_str()) == 0) {
      stats_written[0] = now[0];
      stats_written[1] = now[1];
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  platform::Utf8Arguments arguments(argc, argv);
  argv = arguments.Values();
  if (const int code = AnswerHelpOrVersion(argc, argv, "tessaline", kUsage); code >= 0) return code;
  bool follow_devices = false;
  bool wave = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--follow-devices") {
      follow_devices = true;
    } else if (std::string(argv[i]) == "--wave") {
      wave = true;
    } else {
      return UsageError("tessaline", std::string("unknown option: ") + argv[i], kUsage);
    }
  }
  // The toolkit is given no arguments of the user's.
  argc = 1;
  try {
    Application->Initialize(argc, argv);
  } catch (const std::exception& e) {
    // Without a display nobody would see the window while every input records.
    platform::PrintText(stderr, "tessaline: %s\n", e.what());
    return 1;
  }
  Application->SetTitle("TESSALINE AUDIO DRIVER");
  RegisterAppClasses();
  // A back-end that was named but cannot be had leaves the window without
  // devices; say why.
  if (const std::string problem = platform::AudioBackendProblem(); !problem.empty())
    platform::PrintText(stderr, "tessaline: %s\n", problem.c_str());
  try {
    TForm1* main = Application->CreateForm<TForm1>();
    if (follow_devices) main->FollowDevices();
    // After the layout, which sets the sound-buffer output.
    if (wave) main->MMAudioPlayer1->SetUseDSound(false);
  } catch (const std::exception& e) {
    // Without its main window the program cannot run.
    platform::ShowException(e);
    Application->DestroyForms();
    return 1;
  }
  try {
    // Its layout shows it at once, above the main window.
    Application->CreateForm<TFrmInfo>();
  } catch (const std::exception& e) {
    // The program works without it.
    platform::ShowException(e);
  }
  UINT stats_timer = 0;
  if (const char* file = std::getenv("TESSALINE_STATS"); file && *file) {
    stats_file = file;
    stats_timer = timeSetEvent(1000, 100, WriteStats, 0, TIME_PERIODIC);
  }
  Application->Run();
  if (stats_timer) timeKillEvent(stats_timer);
  Application->DestroyForms();
  return 0;
}
