// tessaline-devices: prints the wave devices the catalogue reports.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/peak_probe.h"
#include "capture/wave_in.h"
#include "devices/wave_devices.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "platform/wave/wave_caps.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessaline-devices [--levels [seconds]] [--help]\n"
    "Lists the wave input and output devices: their count, then each name.\n"
    "--levels records every input for the given time (default 1 s) at 44100 Hz,\n"
    "16-bit stereo and prints the peak of each channel after its name.\n"
    "The audio back-end is chosen by TESSALINE_AUDIO (pulse, virtual,\n"
    "virtual:<device list>, none); without it, the sound server when one answers.\n";

struct Options {
  bool help = false;
  bool levels = false;
  double seconds = 1.0;
};

// Returns false (with a message) for an argument that is not understood.
bool ParseArguments(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options->help = true;
    } else if (std::strcmp(arg, "--levels") == 0) {
      options->levels = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') {
        char* end = nullptr;
        double seconds = std::strtod(argv[i + 1], &end);
        if (*end != '\0' || !(seconds > 0) || seconds > 3600) {
          *error = std::string("invalid number of seconds: ") + argv[i + 1];
          return false;
        }
        options->seconds = seconds;
        ++i;
      }
    } else {
      *error = std::string("unknown argument: ") + arg;
      return false;
    }
  }
  return true;
}

// "L <peak> dBFS  R <peak> dBFS" of input device index recorded for the
// given time, or the device's error message.
std::string MeasureInput(std::int32_t index, double seconds) {
  TMMWaveIn in(nullptr);
  TPeakProbe probe(nullptr);
  try {
    in.SetMode(mStereo);
    in.SetBitLength(b16Bit);
    in.SetSampleRate(44100);
    in.SetDeviceID(index);
    in.SetOutput(&probe);
    in.Start();
    WaitAndPump(static_cast<unsigned>(seconds * 1000.0), true);
    in.Close();
  } catch (const std::exception& e) {
    std::string message = e.what();
    for (char& c : message)
      if (c == '\n' || c == '\r') c = ' ';
    return message;
  }
  return "L " + FormatDbfs(probe.PeakLeft()) + " dBFS  R " + FormatDbfs(probe.PeakRight()) +
         " dBFS";
}

void ListDevices(const char* title, UINT count, std::string (*name)(std::int32_t),
                 double level_seconds = 0) {
  std::printf("%s: %u\n", title, count);
  for (UINT i = 0; i < count; ++i) {
    auto index = static_cast<std::int32_t>(i);
    std::printf("  %u: %s", i + 1, name(index).c_str());
    if (level_seconds > 0) {
      std::fflush(stdout);
      std::printf("  %s", MeasureInput(index, level_seconds).c_str());
    }
    std::printf("\n");
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseArguments(argc, argv, &options, &error)) {
    std::fprintf(stderr, "tessaline-devices: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // A back-end that was named but cannot be had is an error, not a machine
  // without devices.
  if (const std::string problem = platform::AudioBackendProblem(); !problem.empty()) {
    std::fprintf(stderr, "tessaline-devices: %s\n", problem.c_str());
    return 1;
  }
  if (options.levels) platform::EnsureToolkit();
  ListDevices("Input Drivers", waveInGetNumDevs(), WaveInDeviceName,
              options.levels ? options.seconds : 0);
  ListDevices("Output Drivers", waveOutGetNumDevs(), WaveOutDeviceName);
  return 0;
}
