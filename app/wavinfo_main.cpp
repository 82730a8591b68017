// tessaline-wavinfo FILE...: the format, sizes and info tags of RIFF WAVE files as the wave
// routines read them. One line per file, then one indented line per info tag.
// Exit code 0 when every file was read, 1 otherwise. Names and tag texts are written with
// escapes for control characters, so that a file cannot drive the terminal.

#include <cstddef>
#include <cstdio>
#include <string>

#include "devices/wave_format.h"
#include "files/wave_io.h"

namespace {

// Length of the well-formed UTF-8 sequence at `p` (of `n` bytes), or 0.
std::size_t Utf8Length(const unsigned char* p, std::size_t n) {
  const unsigned char c = p[0];
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (n < length || p[1] < low || p[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

// The text as it is safe to write to a terminal: control characters (C0, DEL and C1),
// backslashes and bytes that are no UTF-8 become escapes (\n, \r, \t, \\, \xNN);
// printable ASCII and UTF-8 stay as they are.
std::string Escaped(const std::string& text) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = c >= 0x80 ? Utf8Length(p + i, n - i) : 0;
    // U+0080 .. U+009F are the C1 controls.
    if (length > 0 && !(c == 0xC2 && p[i + 1] < 0xA0)) {
      out.append(text, i, length);
      i += length;
      continue;
    }
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default: {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", unsigned{c});
        out += hex;
      }
    }
    ++i;
  }
  return out;
}

std::string TagId(FOURCC id) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return s;
}

bool Describe(const char* name) {
  PWaveIOBlock block = nullptr;
  const int result = WaveOpen(block, name, FOURCC_WAVE, wioRead);
  if (result != 0) {
    std::printf("%s: error %d\n", Escaped(name).c_str(), result);
    return false;
  }
  const WAVEFORMATEX& f = block->Format;
  std::printf("%s: %s ch=%u rate=%u bits=%u block=%u avg=%u data=%u samples=%d offset=%u\n",
              Escaped(name).c_str(), WaveFormatTagName(&f).c_str(), unsigned{f.nChannels},
              unsigned{f.nSamplesPerSec}, unsigned{f.wBitsPerSample}, unsigned{f.nBlockAlign},
              unsigned{f.nAvgBytesPerSec}, block->DataBytes, block->DataSamples, block->DataOffset);
  for (int i = 0; i < WaveInfoTagCount; ++i) {
    const std::string text = WaveInfoGetText(block->InfoList, i);
    if (!text.empty()) {
      std::printf("  %s = %s\n", TagId(WaveInfoTags[i].Id).c_str(), Escaped(text).c_str());
    }
  }
  WaveFree(block);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tessaline-wavinfo FILE...\n");
    return 1;
  }
  bool all = true;
  for (int i = 1; i < argc; ++i) all = Describe(argv[i]) && all;
  return all ? 0 : 1;
}
