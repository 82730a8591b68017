// tessaline-devices: prints the wave devices the catalogue reports, plays a
// file on one output device, or checks what one output's test sound brings to
// one input.

#include <algorithm>
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
#include "app/terminal_watch.h"
#include "capture/wave_in.h"
#include "devices/wave_devices.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "platform/text/arguments.h"
#include "platform/text/console.h"
#include "platform/wave/wave_caps.h"
#include "playback/audio_player.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessaline-devices [--levels [seconds]] [--json]\n"
    "       tessaline-devices --play K FILE [--wave] [--json]\n"
    "       tessaline-devices --check OUT IN [--max-delay SECONDS] [--wave] [--json]\n"
    "       tessaline-devices --watch [--all] [--wave]\n"
    "Lists the wave input and output devices: their count, then each name.\n"
    "--levels records every input for the given time (default 1 s) at 44100 Hz,\n"
    "16-bit stereo and prints the peak of each channel after its name.\n"
    "--play plays FILE on output device K (1 ... number of outputs, or the name\n"
    "of exactly one output as listed) as the play buttons do, through the\n"
    "sound-buffer output (--wave: the wave output), waits for its end and prints\n"
    "how long it took.\n"
    "--check plays the test sound YesLR.wav (beside the program) on output OUT\n"
    "while recording input IN (each a number or a name as listed), and tells on\n"
    "which input channel its left word and its right word arrived, how loud (the\n"
    "peak of what matches the word, in dBFS, at most 0), how loud the other\n"
    "channel heard it (crosstalk, in dB), whether it was clipped (reached full\n"
    "scale) or inverted (reversed polarity), the delay from playing to recording,\n"
    "and one verdict: ok, swapped, mono, left-only, right-only or silent. A word\n"
    "is detected on a channel when it stands at least 20 dB above the noise there\n"
    "(by correlation with the sound); it arrived on the channel where it is\n"
    "loudest, and on both (mono) when the two lie within 2 dB of each other.\n"
    "The sound is looked for within 3 s of the start of playing, or within\n"
    "--max-delay SECONDS (up to 10). Exit code 0 for ok, 3 for any other\n"
    "verdict, 1 when a device fails or there is no sound server.\n"
    "--watch shows every input (the first nine, or all with --all) with live\n"
    "left and right meters in the terminal until q or Ctrl+C; the keys 1 ... 9\n"
    "play the test sound on that output, with its meters.\n"
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
  std::string input_name;        // --check's IN when it is not a number
  double max_delay_seconds = 0;  // 0: --max-delay was not given
  bool json = false;
  bool watch = false;
  bool all = false;
};

// A device number as typed (1 ... n), or 0 when it is not one.
long DeviceNumber(const char* text) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  return *end == '\0' && end != text && number >= 1 ? number : 0;
}

// A device as typed: a number names it by its place (1 ... n), anything else
// by its name as listed. False (with a message) for neither.
bool DeviceArgument(const char* text, long* number, std::string* name, std::string* error) {
  *number = DeviceNumber(text);
  if (*number != 0) return true;
  if (text[0] == '\0' || text[0] == '-' || std::strspn(text, "+0123456789") == std::strlen(text)) {
    *error = std::string("invalid device number: ") + text;
    return false;
  }
  *name = text;
  return true;
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
      if (!DeviceArgument(argv[i + 1], &options->device, &options->device_name, error)) {
        return false;
      }
      options->play = true;
      options->file = argv[i + 2];
      i += 2;
    } else if (std::strcmp(arg, "--check") == 0) {
      if (i + 2 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0 ||
          std::strncmp(argv[i + 2], "--", 2) == 0) {
        *error = "--check needs an output and an input device";
        return false;
      }
      if (!DeviceArgument(argv[i + 1], &options->device, &options->device_name, error) ||
          !DeviceArgument(argv[i + 2], &options->input, &options->input_name, error)) {
        return false;
      }
      options->check = true;
      i += 2;
    } else if (std::strcmp(arg, "--max-delay") == 0) {
      char* end = nullptr;
      const double seconds = i + 1 < argc ? std::strtod(argv[i + 1], &end) : 0;
      if (i + 1 >= argc || *end != '\0' || !(seconds > 0) ||
          seconds > kLoopbackLongestDelayMs / 1000) {
        *error = std::string("--max-delay needs a number of seconds above 0, up to ") +
                 std::to_string(static_cast<int>(kLoopbackLongestDelayMs / 1000));
        return false;
      }
      options->max_delay_seconds = seconds;
      ++i;
    } else if (std::strcmp(arg, "--watch") == 0) {
      options->watch = true;
    } else if (std::strcmp(arg, "--all") == 0) {
      options->all = true;
    } else if (std::strcmp(arg, "--json") == 0) {
      options->json = true;
    } else if (std::strcmp(arg, "--wave") == 0) {
      options->wave = true;
    } else {
      *error = std::string("unknown argument: ") + arg;
      return false;
    }
  }
  if (options->all && !options->watch) {
    *error = "--all goes with --watch";
    return false;
  }
  if (options->watch && (options->play || options->check || options->levels || options->json)) {
    *error = "--watch goes alone";
    return false;
  }
  if (options->wave && !options->play && !options->check && !options->watch) {
    *error = "--wave goes with --play, --check or --watch";
    return false;
  }
  if (options->check && (options->play || options->levels)) {
    *error = "--check goes alone";
    return false;
  }
  if (options->max_delay_seconds > 0 && !options->check) {
    *error = "--max-delay goes with --check";
    return false;
  }
  return true;
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
  // A failure while the input records (a lost device) is reported as a
  // message box; here it is the input's error.
  platform::FirstMessage reported;
  try {
    in.SetMode(mStereo);
    in.SetBitLength(b16Bit);
    in.SetSampleRate(44100);
    in.SetDeviceID(index);
    in.SetOutput(&probe);
    in.Start();
    // Ends early once a failure was reported.
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (auto now = std::chrono::steady_clock::now(); now < end && reported.Text().empty();
         now = std::chrono::steady_clock::now()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
      WaitAndPump(static_cast<unsigned>(std::min<long long>(left, 100)), true);
    }
    in.Close();
  } catch (const std::exception& e) {
    return {0, 0, OneLine(e.what())};
  }
  if (const std::string text = reported.Text(); !text.empty()) return {0, 0, OneLine(text)};
  return {probe.PeakLeft(), probe.PeakRight(), ""};
}

// dBFS of a peak for JSON: null for silence.
double PeakDbfs(double peak) {
  return peak > 0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
}

void ListDevices(const char* title, UINT count, std::string (*name)(std::int32_t),
                 double level_seconds = 0) {
  platform::PrintText(stdout, "%s: %u\n", title, count);
  for (UINT i = 0; i < count; ++i) {
    auto index = static_cast<std::int32_t>(i);
    platform::PrintText(stdout, "  %u: %s", i + 1, TerminalText(name(index)).c_str());
    if (level_seconds > 0) {
      std::fflush(stdout);
      const InputLevels levels = MeasureInput(index, level_seconds);
      if (levels.error.empty()) {
        platform::PrintText(stdout, "  L %s dBFS  R %s dBFS", FormatDbfs(levels.left).c_str(),
                            FormatDbfs(levels.right).c_str());
      } else {
        platform::PrintText(stdout, "  %s", TerminalText(levels.error).c_str());
      }
    }
    platform::PrintText(stdout, "\n");
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
  platform::PrintText(stdout, "%s\n", json.Text().c_str());
}

// Ends a run that failed: the message on standard error and, for --json, a
// document that carries it. Returns the exit code.
void PrintJsonError(const std::string& message) {
  JsonWriter json;
  json.BeginObject().Key("error").String(message).EndObject();
  platform::PrintText(stdout, "%s\n", json.Text().c_str());
}

int Fail(const Options& options, const std::string& message, int code) {
  platform::PrintText(stderr, "tessaline-devices: %s\n", TerminalText(message).c_str());
  if (options.json) PrintJsonError(message);
  return code;
}

// Without a sound server there are no devices: that is the back-end's
// failure, not a device number beyond the list. Returns 0, or the exit code.
int FailWithoutServer(const Options& options) {
  const std::string absence = platform::AudioBackendAbsence();
  return absence.empty() ? 0 : Fail(options, absence, 1);
}

// Turns a device given by its name into its number; a name that no device
// or more than one device has is a usage error. Returns 0, or the exit code.
int ResolveDevice(const Options& options, bool output, const std::string& name, long* number) {
  if (name.empty()) return 0;
  const std::vector<std::int32_t> named =
      output ? WaveOutDevicesNamed(name) : WaveInDevicesNamed(name);
  const std::string what = output ? "output" : "input";
  if (named.empty())
    return Fail(options, "there is no " + what + " device named \"" + name + "\"", 2);
  if (named.size() > 1) {
    std::string which;
    for (std::size_t k = 0; k < named.size(); ++k) {
      which += (k == 0                  ? ""
                : k + 1 == named.size() ? " and "
                                        : ", ") +
               std::to_string(named[k] + 1);
    }
    return Fail(options,
                "more than one " + what + " device is named \"" + name + "\": " + which +
                    "; give its number",
                2);
  }
  *number = named.front() + 1;
  return 0;
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
  if (const int code = FailWithoutServer(options)) return code;
  if (const int code = ResolveDevice(options, true, options.device_name, &options.device)) {
    return code;
  }
  if (!DeviceExists(options, "output", options.device, static_cast<long>(waveOutGetNumDevs()))) {
    return 2;
  }
  // A failure while the sound plays is reported as a message box; here it
  // ends the run and becomes the program's error.
  platform::FirstMessage reported;
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
    if (const std::string text = reported.Text(); !text.empty()) {
      player.Stop();
      return Fail(options, OneLine(text), 1);
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
    platform::PrintText(stdout, "%s\n", json.Text().c_str());
  } else {
    platform::PrintText(stdout, "Played %s on %s: %lld ms\n", TerminalText(options.file).c_str(),
                        TerminalText(device).c_str(), ms);
  }
  return 0;
}

const char* kChannelNames[2] = {"L", "R"};

// "L" or "R" or "L and R" for the channels where flags holds; empty for none.
std::string Channels(const bool flags[2]) {
  if (flags[0] && flags[1]) return "L and R";
  return flags[0] ? "L" : flags[1] ? "R" : "";
}

// "L -3.1 dBFS  R -9.2 dBFS  (heard on L, crosstalk -6.1 dB, clipped on L)".
std::string DescribeArrival(const WordArrival& word) {
  auto level = [](double dbfs) {
    return FormatDbfs(std::isfinite(dbfs) ? std::pow(10, dbfs / 20) : 0);
  };
  std::string text = std::string(kChannelNames[0]) + " " + level(word.level_dbfs[0]) + " dBFS  " +
                     kChannelNames[1] + " " + level(word.level_dbfs[1]) + " dBFS  (";
  const std::string heard = Channels(word.heard);
  if (heard.empty()) return text + "not heard)";
  text += "heard on " + heard;
  if (!word.heard[0] || !word.heard[1]) {
    char crosstalk[32];
    std::snprintf(crosstalk, sizeof(crosstalk), "%.1f", word.crosstalk_db);
    text += std::string(", crosstalk ") + (std::isfinite(word.crosstalk_db) ? crosstalk : "-inf") +
            " dB";
  }
  if (const std::string clipped = Channels(word.clipped); !clipped.empty()) {
    text += ", clipped on " + clipped;
  }
  if (const std::string inverted = Channels(word.inverted); !inverted.empty()) {
    text += ", inverted on " + inverted;
  }
  return text + ")";
}

void WriteChannels(JsonWriter& json, const char* key, const bool flags[2]) {
  json.Key(key).BeginArray();
  if (flags[0]) json.String("left");
  if (flags[1]) json.String("right");
  json.EndArray();
}

void WriteArrival(JsonWriter& json, const char* key, const WordArrival& word) {
  json.Key(key).BeginObject();
  json.Key("level_dbfs").BeginObject().Key("left").Number(word.level_dbfs[0]);
  json.Key("right").Number(word.level_dbfs[1]).EndObject();
  WriteChannels(json, "heard", word.heard);
  json.Key("crosstalk_db").Number(word.crosstalk_db);
  WriteChannels(json, "clipped", word.clipped);
  WriteChannels(json, "inverted", word.inverted);
  json.EndObject();
}

// The notes under the verdict: each word that arrived inverted somewhere.
std::vector<std::string> PolarityNotes(const LoopbackResult& result) {
  std::vector<std::string> notes;
  const WordArrival* words[2] = {&result.left_word, &result.right_word};
  for (int w = 0; w < 2; ++w) {
    if (const std::string inverted = Channels(words[w]->inverted); !inverted.empty()) {
      notes.push_back(std::string("the ") + (w == 0 ? "left" : "right") +
                      " word arrived with its polarity reversed on " + inverted +
                      " (a wire or a setting inverts it)");
    }
  }
  return notes;
}

// Plays the test sound on one output while recording one input, and tells how
// it arrived: exit code 0 for ok, 3 for any other verdict.
int CheckLoopback(Options options) {
  platform::EnsureToolkit();
  if (const int code = FailWithoutServer(options)) return code;
  if (const int code = ResolveDevice(options, true, options.device_name, &options.device)) {
    return code;
  }
  if (const int code = ResolveDevice(options, false, options.input_name, &options.input)) {
    return code;
  }
  if (!DeviceExists(options, "output", options.device, static_cast<long>(waveOutGetNumDevs())) ||
      !DeviceExists(options, "input", options.input, static_cast<long>(waveInGetNumDevs()))) {
    return 2;
  }
  const double max_delay_ms =
      options.max_delay_seconds > 0 ? options.max_delay_seconds * 1000 : kLoopbackMaxDelayMs;
  const std::string sound = Application->ExeDir() + "YesLR.wav";
  LoopbackCheck check;
  std::string error;
  if (!RunLoopbackCheck(static_cast<int>(options.device - 1), static_cast<int>(options.input - 1),
                        options.wave, sound, max_delay_ms, &check, &error)) {
    return Fail(options, OneLine(error), 1);
  }
  const LoopbackResult& result = check.result;
  const char* verdict = LoopbackVerdictName(result.verdict);
  const bool clipped = result.left_word.clipped[0] || result.left_word.clipped[1] ||
                       result.right_word.clipped[0] || result.right_word.clipped[1];
  const std::vector<std::string> notes = PolarityNotes(result);
  if (options.json) {
    JsonWriter json;
    json.BeginObject();
    WriteDevice(json, "output", options.device, check.output_name);
    WriteDevice(json, "input", options.input, check.input_name);
    json.Key("words").BeginObject();
    WriteArrival(json, "left", result.left_word);
    WriteArrival(json, "right", result.right_word);
    json.EndObject();
    json.Key("delay_ms").Number(check.delay_ms);
    json.Key("verdict").String(verdict);
    json.Key("clipped").Bool(clipped);
    json.Key("notes").BeginArray();
    for (const std::string& note : notes) json.String(note);
    json.EndArray();
    if (!result.reason.empty()) json.Key("reason").String(result.reason);
    json.Key("max_delay_ms").Number(max_delay_ms);
    json.Key("thresholds").BeginObject();
    json.Key("detection_db").Number(kLoopbackDetectionDb).Key("mono_db").Number(kLoopbackMonoDb);
    json.EndObject().EndObject();
    platform::PrintText(stdout, "%s\n", json.Text().c_str());
  } else {
    platform::PrintText(stdout, "Check: output %ld %s -> input %ld %s\n", options.device,
                        TerminalText(check.output_name).c_str(), options.input,
                        TerminalText(check.input_name).c_str());
    platform::PrintText(stdout, "  left word:  %s\n", DescribeArrival(result.left_word).c_str());
    platform::PrintText(stdout, "  right word: %s\n", DescribeArrival(result.right_word).c_str());
    if (!std::isnan(check.delay_ms)) {
      platform::PrintText(stdout, "  delay: %.1f ms\n", check.delay_ms);
    } else {
      platform::PrintText(stdout, "  delay: -\n");
    }
    if (!result.reason.empty()) {
      platform::PrintText(stdout, "  verdict: %s (%s)\n", verdict, result.reason.c_str());
    } else {
      platform::PrintText(stdout, "  verdict: %s%s\n", verdict, clipped ? ", clipped" : "");
    }
    for (const std::string& note : notes) platform::PrintText(stdout, "  note: %s\n", note.c_str());
  }
  return result.verdict == LoopbackVerdict::ok ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  platform::Utf8Arguments arguments(argc, argv);
  argv = arguments.Values();
  if (const int code = AnswerHelpOrVersion(argc, argv, "tessaline-devices", kUsage); code >= 0) {
    return code;
  }
  Options options;
  std::string error;
  if (!ParseArguments(argc, argv, &options, &error)) {
    // A usage error is an error too for whoever reads the JSON.
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--json") == 0) {
        PrintJsonError(error);
        break;
      }
    }
    return UsageError("tessaline-devices", error, kUsage);
  }
  // A back-end that was named but cannot be had is an error, not a machine
  // without devices.
  if (const std::string problem = platform::AudioBackendProblem(); !problem.empty()) {
    return Fail(options, problem, 1);
  }
  if (options.watch) return RunTerminalWatch({options.all, options.wave});
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
