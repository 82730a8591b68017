// tessaline-devices: prints the wave devices the catalogue reports, plays a
// file on one output device, or checks what one output's test sound brings to
// one input.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/json_writer.h"
#include "app/loopback_check.h"
#include "app/peak_probe.h"
#include "app/terminal_text.h"
#include "capture/wave_in.h"
#include "devices/wave_devices.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "platform/wave/wave_caps.h"
#include "playback/audio_player.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessaline-devices [--levels [seconds]] [--json]\n"
    "       tessaline-devices --play K FILE [--wave] [--json]\n"
    "       tessaline-devices --check OUT IN [--wave] [--json]\n"
    "Lists the wave input and output devices: their count, then each name.\n"
    "--levels records every input for the given time (default 1 s) at 44100 Hz,\n"
    "16-bit stereo and prints the peak of each channel after its name.\n"
    "--play plays FILE on output device K (1 ... number of outputs, or the name\n"
    "of exactly one output as listed) as the play buttons do, through the\n"
    "sound-buffer output (--wave: the wave output), waits for its end and prints\n"
    "how long it took.\n"
    "--check plays the test sound YesLR.wav (beside the program) on output OUT\n"
    "while recording input IN, and tells on which input channels its left word\n"
    "and its right word arrived, how loud (the peak of what matches the word, in\n"
    "dBFS), after what delay from the start of playing, and one verdict: ok,\n"
    "swapped, mono, left-only, right-only or silent. A word counts as heard on a\n"
    "channel when it stands at least 20 dB above the noise there (by correlation\n"
    "with the sound) and at most 12 dB below its loudest channel; weaker is\n"
    "crosstalk. Exit code 0 for ok, 3 for any other verdict, 1 when a device\n"
    "fails.\n"
    "--json prints one JSON document instead (see the README for its fields).\n"
    "--help prints this text, --version the program's version.\n"
    "The audio back-end is chosen by TESSALINE_AUDIO (pulse, virtual,\n"
    "virtual:<device list>, none); without it, the sound server when one answers.\n";

struct Options {
  bool levels = false;
  double seconds = 1.0;
  bool play = false;
  long device = 0;
  std::string device_name;  // --play's K when it is not a number
  std::string file;
  bool wave = false;
  bool check = false;
  long input = 0;
  bool json = false;
};

// A device number as typed (1 ... n), or 0 when it is not one.
long DeviceNumber(const char* text) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  return *end == '\0' && end != text && number >= 1 ? number : 0;
}

// Returns false (with a message) for an argument that is not understood.
bool ParseArguments(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--levels") == 0) {
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
      // A number names the device by its place; anything else by its name.
      options->device = DeviceNumber(argv[i + 1]);
      if (options->device == 0) {
        const char* text = argv[i + 1];
        if (text[0] == '\0' || text[0] == '-' ||
            std::strspn(text, "+0123456789") == std::strlen(text)) {
          *error = std::string("invalid device number: ") + text;
          return false;
        }
        options->device_name = text;
      }
      options->play = true;
      options->file = argv[i + 2];
      i += 2;
    } else if (std::strcmp(arg, "--check") == 0) {
      if (i + 2 >= argc) {
        *error = "--check needs an output and an input device number";
        return false;
      }
      options->device = DeviceNumber(argv[i + 1]);
      options->input = DeviceNumber(argv[i + 2]);
      if (options->device == 0 || options->input == 0) {
        *error =
            std::string("invalid device number: ") + argv[options->device == 0 ? i + 1 : i + 2];
        return false;
      }
      options->check = true;
      i += 2;
    } else if (std::strcmp(arg, "--json") == 0) {
      options->json = true;
    } else if (std::strcmp(arg, "--wave") == 0) {
      options->wave = true;
    } else {
      *error = std::string("unknown argument: ") + arg;
      return false;
    }
  }
  if (options->wave && !options->play && !options->check) {
    *error = "--wave goes with --play or --check";
    return false;
  }
  if (options->check && (options->play || options->levels)) {
    *error = "--check goes alone";
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

// The peaks of input device index recorded for the given time, or the
// device's error message.
struct InputLevels {
  double left = 0, right = 0;
  std::string error;
};

InputLevels MeasureInput(std::int32_t index, double seconds) {
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
    return {0, 0, OneLine(e.what())};
  }
  return {probe.PeakLeft(), probe.PeakRight(), ""};
}

// dBFS of a peak for JSON: null for silence.
double PeakDbfs(double peak) {
  return peak > 0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
}

void ListDevices(const char* title, UINT count, std::string (*name)(std::int32_t),
                 double level_seconds = 0) {
  std::printf("%s: %u\n", title, count);
  for (UINT i = 0; i < count; ++i) {
    auto index = static_cast<std::int32_t>(i);
    std::printf("  %u: %s", i + 1, TerminalText(name(index)).c_str());
    if (level_seconds > 0) {
      std::fflush(stdout);
      const InputLevels levels = MeasureInput(index, level_seconds);
      if (levels.error.empty()) {
        std::printf("  L %s dBFS  R %s dBFS", FormatDbfs(levels.left).c_str(),
                    FormatDbfs(levels.right).c_str());
      } else {
        std::printf("  %s", TerminalText(levels.error).c_str());
      }
    }
    std::printf("\n");
    std::fflush(stdout);
  }
}

// The same as one JSON document: {"inputs": [...], "outputs": [...]}.
void ListDevicesJson(double level_seconds) {
  JsonWriter json;
  json.BeginObject();
  for (const bool inputs : {true, false}) {
    json.Key(inputs ? "inputs" : "outputs").BeginArray();
    const UINT count = inputs ? waveInGetNumDevs() : waveOutGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
      auto index = static_cast<std::int32_t>(i);
      json.BeginObject().Key("index").Integer(i + 1).Key("name").String(
          inputs ? WaveInDeviceName(index) : WaveOutDeviceName(index));
      if (inputs && level_seconds > 0) {
        const InputLevels levels = MeasureInput(index, level_seconds);
        if (levels.error.empty()) {
          json.Key("peak_dbfs").BeginObject();
          json.Key("left").Number(PeakDbfs(levels.left));
          json.Key("right").Number(PeakDbfs(levels.right));
          json.EndObject();
        } else {
          json.Key("error").String(levels.error);
        }
      }
      json.EndObject();
    }
    json.EndArray();
  }
  json.EndObject();
  std::printf("%s\n", json.Text().c_str());
}

// Ends a run that failed: the message on standard error and, for --json, a
// document that carries it. Returns the exit code.
int Fail(const Options& options, const std::string& message, int code) {
  std::fprintf(stderr, "tessaline-devices: %s\n", TerminalText(message).c_str());
  if (options.json) {
    JsonWriter json;
    json.BeginObject().Key("error").String(message).EndObject();
    std::printf("%s\n", json.Text().c_str());
  }
  return code;
}

// A device number beyond those the catalogue lists is a usage error.
bool DeviceExists(const Options& options, const char* what, long number, long count) {
  if (number <= count) return true;
  Fail(options,
       std::string("there is no ") + what + " device " + std::to_string(number) + " (" +
           std::to_string(count) + " found)",
       2);
  return false;
}

void WriteDevice(JsonWriter& json, const char* key, long number, const std::string& name) {
  json.Key(key).BeginObject().Key("index").Integer(number).Key("name").String(name).EndObject();
}

// Plays options.file on output device options.device with a player set up as
// the main window sets up its own, and waits for the end of the sound.
int PlayFile(Options options) {
  platform::EnsureToolkit();
  if (!options.device_name.empty()) {
    const std::vector<std::int32_t> named = WaveOutDevicesNamed(options.device_name);
    if (named.size() != 1) {
      return Fail(options,
                  std::string(named.empty() ? "there is no output device named \""
                                            : "more than one output device is named \"") +
                      options.device_name + "\"",
                  2);
    }
    options.device = named.front() + 1;
  }
  if (!DeviceExists(options, "output", options.device, static_cast<long>(waveOutGetNumDevs()))) {
    return 2;
  }
  // A failure while the sound plays is reported as a message box; here it
  // ends the run and becomes the program's error.
  std::string reported;
  platform::SetMessageBoxHook([&reported](const std::string& text, const std::string&, UINT) {
    if (reported.empty()) reported = text;
    return IDOK;
  });
  long long ms = 0;
  std::string device;
  try {
    TMMAudioPlayer player(nullptr);
    player.SetBufferSize(8196);
    player.SetNumBuffers(10);
    player.SetDeviceID(InvalidId);
    player.SetCallBackMode(cmWindow);
    player.SetUseDSound(!options.wave);
    player.SetFileName(options.file);
    if (player.AudioFile()->IsEmpty())
      return Fail(options, "nothing to play in " + options.file, 1);
    bool ended = false;
    player.OnStop = [&ended](TComponent*) { ended = true; };
    player.Stop();
    // The sound-buffer output counts the default device as 0.
    player.SetDeviceID(
        static_cast<TMMDeviceId>(options.wave ? options.device - 1 : options.device));
    const auto start = std::chrono::steady_clock::now();
    // A sound that never ends (a device that stopped consuming) gives up
    // well after the file's length.
    const auto limit = start + std::chrono::milliseconds(player.AudioFile()->GetLength()) +
                       std::chrono::seconds(30);
    player.Play();
    while (!ended && std::chrono::steady_clock::now() < limit) WaitAndPump(5, true);
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
             .count();
    if (!reported.empty()) {
      player.Stop();
      return Fail(options, OneLine(reported), 1);
    }
    if (!ended) {
      player.Stop();
      return Fail(options, "the sound did not end within " + std::to_string(ms) + " ms", 1);
    }
    device = player.GetProductName();
  } catch (const std::exception& e) {
    return Fail(options, OneLine(e.what()), 1);
  }
  if (options.json) {
    JsonWriter json;
    json.BeginObject().Key("file").String(options.file);
    WriteDevice(json, "output", options.device, device);
    json.Key("played_ms").Integer(ms).EndObject();
    std::printf("%s\n", json.Text().c_str());
  } else {
    std::printf("Played %s on %s: %lld ms\n", TerminalText(options.file).c_str(),
                TerminalText(device).c_str(), ms);
  }
  return 0;
}

// "L -12.3 dBFS  R -inf dBFS" and which channels heard the word.
std::string DescribeArrival(const WordArrival& word) {
  const char* heard = word.heard[0] ? (word.heard[1] ? "heard on L and R" : "heard on L")
                                    : (word.heard[1] ? "heard on R" : "not heard");
  auto level = [](double dbfs) {
    return FormatDbfs(std::isfinite(dbfs) ? std::pow(10, dbfs / 20) : 0);
  };
  return "L " + level(word.level_dbfs[0]) + " dBFS  R " + level(word.level_dbfs[1]) + " dBFS  (" +
         heard + ")";
}

void WriteArrival(JsonWriter& json, const char* key, const WordArrival& word) {
  json.Key(key).BeginObject();
  json.Key("level_dbfs").BeginObject().Key("left").Number(word.level_dbfs[0]);
  json.Key("right").Number(word.level_dbfs[1]).EndObject();
  json.Key("heard").BeginArray();
  if (word.heard[0]) json.String("left");
  if (word.heard[1]) json.String("right");
  json.EndArray().EndObject();
}

// Plays the test sound on one output while recording one input, and tells how
// it arrived: exit code 0 for ok, 3 for any other verdict.
int CheckLoopback(const Options& options) {
  platform::EnsureToolkit();
  if (!DeviceExists(options, "output", options.device, static_cast<long>(waveOutGetNumDevs())) ||
      !DeviceExists(options, "input", options.input, static_cast<long>(waveInGetNumDevs()))) {
    return 2;
  }
  const std::string sound = Application->ExeDir() + "YesLR.wav";
  LoopbackCheck check;
  std::string error;
  if (!RunLoopbackCheck(static_cast<int>(options.device - 1), static_cast<int>(options.input - 1),
                        options.wave, sound, &check, &error)) {
    return Fail(options, OneLine(error), 1);
  }
  const LoopbackResult& result = check.result;
  const char* verdict = LoopbackVerdictName(result.verdict);
  if (options.json) {
    JsonWriter json;
    json.BeginObject();
    WriteDevice(json, "output", options.device, check.output_name);
    WriteDevice(json, "input", options.input, check.input_name);
    json.Key("words").BeginObject();
    WriteArrival(json, "left", result.left_word);
    WriteArrival(json, "right", result.right_word);
    json.EndObject();
    json.Key("delay_ms").Number(check.delay_ms < 0 ? std::nan("") : check.delay_ms);
    json.Key("verdict").String(verdict).EndObject();
    std::printf("%s\n", json.Text().c_str());
  } else {
    std::printf("Check: output %ld %s -> input %ld %s\n", options.device,
                TerminalText(check.output_name).c_str(), options.input,
                TerminalText(check.input_name).c_str());
    std::printf("  left word:  %s\n", DescribeArrival(result.left_word).c_str());
    std::printf("  right word: %s\n", DescribeArrival(result.right_word).c_str());
    if (check.delay_ms >= 0) {
      std::printf("  delay: %.1f ms\n", check.delay_ms);
    } else {
      std::printf("  delay: -\n");
    }
    std::printf("  verdict: %s\n", verdict);
  }
  return result.verdict == LoopbackVerdict::ok ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int code = AnswerHelpOrVersion(argc, argv, "tessaline-devices", kUsage); code >= 0) {
    return code;
  }
  Options options;
  std::string error;
  if (!ParseArguments(argc, argv, &options, &error)) {
    return UsageError("tessaline-devices", error, kUsage);
  }
  // A back-end that was named but cannot be had is an error, not a machine
  // without devices.
  if (const std::string problem = platform::AudioBackendProblem(); !problem.empty()) {
    std::fprintf(stderr, "tessaline-devices: %s\n", problem.c_str());
    return 1;
  }
  if (options.play) return PlayFile(options);
  if (options.check) return CheckLoopback(options);
  if (options.levels) platform::EnsureToolkit();
  if (options.json) {
    ListDevicesJson(options.levels ? options.seconds : 0);
    return 0;
  }
  ListDevices("Input Drivers", waveInGetNumDevs(), WaveInDeviceName,
              options.levels ? options.seconds : 0);
  ListDevices("Output Drivers", waveOutGetNumDevs(), WaveOutDeviceName);
  return 0;
}
