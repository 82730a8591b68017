// tessaline-devices: prints the wave devices the catalogue reports, or plays
// a file on one output device.

#include <chrono>
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
#include "playback/audio_player.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessaline-devices [--levels [seconds]] [--help]\n"
    "       tessaline-devices --play K FILE [--wave]\n"
    "Lists the wave input and output devices: their count, then each name.\n"
    "--levels records every input for the given time (default 1 s) at 44100 Hz,\n"
    "16-bit stereo and prints the peak of each channel after its name.\n"
    "--play plays FILE on output device K (1 ... number of outputs) as the play\n"
    "buttons do, through the sound-buffer output (--wave: the wave output), waits\n"
    "for its end and prints how long it took.\n"
    "The audio back-end is chosen by TESSALINE_AUDIO (pulse, virtual,\n"
    "virtual:<device list>, none); without it, the sound server when one answers.\n";

struct Options {
  bool help = false;
  bool levels = false;
  double seconds = 1.0;
  bool play = false;
  long device = 0;
  std::string file;
  bool wave = false;
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
    } else if (std::strcmp(arg, "--play") == 0) {
      if (i + 2 >= argc) {
        *error = "--play needs a device number and a file";
        return false;
      }
      char* end = nullptr;
      options->device = std::strtol(argv[i + 1], &end, 10);
      if (*end != '\0' || end == argv[i + 1] || options->device < 1) {
        *error = std::string("invalid device number: ") + argv[i + 1];
        return false;
      }
      options->play = true;
      options->file = argv[i + 2];
      i += 2;
    } else if (std::strcmp(arg, "--wave") == 0) {
      options->wave = true;
    } else {
      *error = std::string("unknown argument: ") + arg;
      return false;
    }
  }
  if (options->wave && !options->play) {
    *error = "--wave goes with --play";
    return false;
  }
  return true;
}

// A message of the system on one line: each line break (LF CR) becomes a space.
std::string OneLine(const std::string& message) {
  std::string line;
  for (char c : message) {
    if (c == '\n' || c == '\r') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  return line;
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
    return OneLine(e.what());
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

// Plays options.file on output device options.device with a player set up as
// the main window sets up its own, and waits for the end of the sound.
int PlayFile(const Options& options) {
  platform::EnsureToolkit();
  const auto outputs = static_cast<long>(waveOutGetNumDevs());
  if (options.device > outputs) {
    std::fprintf(stderr, "tessaline-devices: there is no output device %ld (%ld found)\n",
                 options.device, outputs);
    return 2;
  }
  // A failure while the sound plays is reported as a message box; here it
  // ends the run and becomes the program's error.
  std::string reported;
  platform::SetMessageBoxHook([&reported](const std::string& text, const std::string&, UINT) {
    if (reported.empty()) reported = text;
    return IDOK;
  });
  try {
    TMMAudioPlayer player(nullptr);
    player.SetBufferSize(8196);
    player.SetNumBuffers(10);
    player.SetDeviceID(InvalidId);
    player.SetCallBackMode(cmWindow);
    player.SetUseDSound(!options.wave);
    player.SetFileName(options.file);
    if (player.AudioFile()->IsEmpty()) {
      std::fprintf(stderr, "tessaline-devices: nothing to play in %s\n", options.file.c_str());
      return 1;
    }
    bool ended = false;
    player.OnStop = [&ended](TComponent*) { ended = true; };
    player.Stop();
    // The sound-buffer output counts the default device as 0.
    player.SetDeviceID(static_cast<TMMDeviceId>(options.wave ? options.device - 1 : options.device));
    const auto start = std::chrono::steady_clock::now();
    // A sound that never ends (a device that stopped consuming) gives up
    // well after the file's length.
    const auto limit = start + std::chrono::milliseconds(player.AudioFile()->GetLength()) +
                       std::chrono::seconds(30);
    player.Play();
    while (!ended && std::chrono::steady_clock::now() < limit) WaitAndPump(5, true);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    if (!reported.empty()) {
      player.Stop();
      std::fprintf(stderr, "tessaline-devices: %s\n", OneLine(reported).c_str());
      return 1;
    }
    if (!ended) {
      player.Stop();
      std::fprintf(stderr, "tessaline-devices: the sound did not end within %lld ms\n",
                   static_cast<long long>(ms));
      return 1;
    }
    std::printf("Played %s on %s: %lld ms\n", options.file.c_str(),
                player.GetProductName().c_str(), static_cast<long long>(ms));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tessaline-devices: %s\n", OneLine(e.what()).c_str());
    return 1;
  }
  return 0;
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
  if (options.play) return PlayFile(options);
  if (options.levels) platform::EnsureToolkit();
  ListDevices("Input Drivers", waveInGetNumDevs(), WaveInDeviceName,
              options.levels ? options.seconds : 0);
  ListDevices("Output Drivers", waveOutGetNumDevs(), WaveOutDeviceName);
  return 0;
}
