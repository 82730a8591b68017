// tessaline-wavinfo [--json] FILE...: the format, sizes and info tags of RIFF WAVE files as
// the wave routines read them. One line per file, then one indented line per info tag; with
// --json one JSON document.
// Exit code 0 when every file was read, 1 otherwise. Names and tag texts are written with
// escapes for control characters, so that a file cannot drive the terminal.

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/json_writer.h"
#include "app/terminal_text.h"
#include "devices/wave_format.h"
#include "files/wave_io.h"
#include "platform/text/arguments.h"
#include "platform/text/console.h"

namespace {

std::string TagId(FOURCC id) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return s;
}

constexpr char kUsage[] =
    "Usage: tessaline-wavinfo [--json] FILE...\n"
    "Reads RIFF WAVE files as the program does and prints each one's format, data\n"
    "size and info tags, or the error code it got. Exit code 0 when every file was\n"
    "read, 1 otherwise.\n"
    "--json prints one JSON document instead (see the README for its fields).\n"
    "--help prints this text, --version the program's version.\n";

bool Describe(const char* name, JsonWriter* json) {
  PWaveIOBlock block = nullptr;
  const int result = WaveOpen(block, name, FOURCC_WAVE, wioRead);
  if (result != 0) {
    if (json) {
      json->BeginObject().Key("file").String(name).Key("error").Integer(result).EndObject();
    } else {
      platform::PrintText(stdout, "%s: error %d\n", TerminalText(name).c_str(), result);
    }
    return false;
  }
  const WAVEFORMATEX& f = block->Format;
  if (json) {
    json->BeginObject().Key("file").String(name);
    json->Key("format").BeginObject();
    json->Key("tag").Integer(f.wFormatTag).Key("name").String(WaveFormatTagName(&f));
    json->Key("channels").Integer(f.nChannels).Key("rate").Integer(f.nSamplesPerSec);
    json->Key("bits").Integer(f.wBitsPerSample).Key("block_align").Integer(f.nBlockAlign);
    json->Key("avg_bytes_per_second").Integer(f.nAvgBytesPerSec).EndObject();
    json->Key("data_bytes").Integer(block->DataBytes).Key("samples").Integer(block->DataSamples);
    json->Key("data_offset").Integer(block->DataOffset).Key("info").BeginObject();
  } else {
    platform::PrintText(
        stdout, "%s: %s ch=%u rate=%u bits=%u block=%u avg=%u data=%u samples=%d offset=%u\n",
        TerminalText(name).c_str(), WaveFormatTagName(&f).c_str(), unsigned{f.nChannels},
        unsigned{f.nSamplesPerSec}, unsigned{f.wBitsPerSample}, unsigned{f.nBlockAlign},
        unsigned{f.nAvgBytesPerSec}, block->DataBytes, block->DataSamples, block->DataOffset);
  }
  for (int i = 0; i < WaveInfoTagCount; ++i) {
    const std::string text = WaveInfoGetText(block->InfoList, i);
    if (text.empty()) continue;
    if (json) {
      json->Key(TagId(WaveInfoTags[i].Id)).String(text);
    } else {
      platform::PrintText(stdout, "  %s = %s\n", TagId(WaveInfoTags[i].Id).c_str(),
                          TerminalText(text).c_str());
    }
  }
  if (json) json->EndObject().EndObject();
  WaveFree(block);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  platform::Utf8Arguments arguments(argc, argv);
  argv = arguments.Values();
  if (const int code = AnswerHelpOrVersion(argc, argv, "tessaline-wavinfo", kUsage); code >= 0) {
    return code;
  }
  bool json_output = false;
  std::vector<const char*> files;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && arg == "--json") {
      json_output = true;
    } else if (!options_end && arg.size() > 1 && arg[0] == '-') {
      return UsageError("tessaline-wavinfo", "unknown option: " + arg, kUsage);
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) return UsageError("tessaline-wavinfo", "no file given", kUsage);
  JsonWriter json;
  if (json_output) json.BeginObject().Key("files").BeginArray();
  bool all = true;
  for (const char* file : files) all = Describe(file, json_output ? &json : nullptr) && all;
  if (json_output) platform::PrintText(stdout, "%s\n", json.EndArray().EndObject().Text().c_str());
  return all ? 0 : 1;
}
