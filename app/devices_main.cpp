// tessaline-devices: prints the wave devices the catalogue reports.

#include <cstdio>
#include <cstring>
#include <string>

#include "devices/wave_devices.h"
#include "platform/wave/wave_caps.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessaline-devices [--help]\n"
    "Lists the wave input and output devices: their count, then each name.\n"
    "The audio back-end is chosen by TESSALINE_AUDIO (pulse, virtual,\n"
    "virtual:<device list>, none); without it, the sound server when one answers.\n";

struct Options {
  bool help = false;
};

// Returns false (with a message) for an argument that is not understood.
bool ParseArguments(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options->help = true;
    } else {
      *error = std::string("unknown argument: ") + arg;
      return false;
    }
  }
  return true;
}

void ListDevices(const char* title, UINT count, std::string (*name)(std::int32_t)) {
  std::printf("%s: %u\n", title, count);
  for (UINT i = 0; i < count; ++i) {
    std::printf("  %u: %s\n", i + 1, name(static_cast<std::int32_t>(i)).c_str());
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
  ListDevices("Input Drivers", waveInGetNumDevs(), WaveInDeviceName);
  ListDevices("Output Drivers", waveOutGetNumDevs(), WaveOutDeviceName);
  return 0;
}
