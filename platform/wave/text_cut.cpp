#include "platform/wave/text_cut.h"

#include <cstdint>

namespace platform {
namespace {

// One decoded character: its code point and its length in bytes. A byte that
// starts no well-formed sequence decodes as itself (never joining anything).
struct Decoded {
  char32_t code;
  std::size_t bytes;
};

Decoded Decode(const unsigned char* p, std::size_t n) {
  const unsigned char c = p[0];
  std::size_t bytes = 0;
  char32_t code = 0;
  if (c < 0x80) return {c, 1};
  if (c >= 0xC2 && c <= 0xDF) {
    bytes = 2;
    code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    bytes = 3;
    code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    bytes = 4;
    code = c & 0x07;
  } else {
    return {0xFFFD, 1};
  }
  if (n < bytes) return {0xFFFD, 1};
  for (std::size_t i = 1; i < bytes; ++i) {
    if ((p[i] & 0xC0) != 0x80) return {0xFFFD, 1};
    code = code << 6 | (p[i] & 0x3F);
  }
  return {code, bytes};
}

bool In(char32_t c, char32_t low, char32_t high) {
  return c >= low && c <= high;
}

constexpr char32_t kZeroWidthJoiner = 0x200D;

// Characters that belong to the character before them: combining marks of the
// common scripts, the zero-width joiners, variation selectors, emoji modifiers,
// tag characters and Hangul vowel and final jamo.
bool Continues(char32_t c) {
  return In(c, 0x0300, 0x036F) || In(c, 0x0483, 0x0489) || In(c, 0x0591, 0x05BD) ||
         In(c, 0x05BF, 0x05C7) || In(c, 0x0610, 0x061A) || In(c, 0x064B, 0x065F) || c == 0x0670 ||
         In(c, 0x06D6, 0x06ED) || In(c, 0x0900, 0x0903) || In(c, 0x093A, 0x094F) ||
         In(c, 0x0951, 0x0957) || In(c, 0x0962, 0x0963) || In(c, 0x0981, 0x0983) ||
         In(c, 0x09BC, 0x09D7) || In(c, 0x0E31, 0x0E31) || In(c, 0x0E34, 0x0E3A) ||
         In(c, 0x0E47, 0x0E4E) || In(c, 0x1160, 0x11FF) || In(c, 0x1AB0, 0x1AFF) ||
         In(c, 0x1DC0, 0x1DFF) || In(c, 0x200C, 0x200D) || In(c, 0x20D0, 0x20FF) ||
         In(c, 0x302A, 0x302F) || In(c, 0x3099, 0x309A) || In(c, 0xFE00, 0xFE0F) ||
         In(c, 0xFE20, 0xFE2F) || In(c, 0x1F3FB, 0x1F3FF) || In(c, 0xE0020, 0xE007F) ||
         In(c, 0xE0100, 0xE01EF);
}

bool RegionalIndicator(char32_t c) {
  return In(c, 0x1F1E6, 0x1F1FF);
}

}  // namespace

std::size_t CharacterCut(const char* text, std::size_t length, std::size_t limit) {
  if (length <= limit) return length;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  std::size_t cut = 0;  // the last boundary found within the limit
  std::size_t at = 0;
  char32_t previous = 0;
  int indicators = 0;  // regional indicators in a row before `at`
  while (at < length) {
    const Decoded d = Decode(p + at, length - at);
    const bool boundary = at == 0 || !(Continues(d.code) || previous == kZeroWidthJoiner ||
                                       (previous == '\r' && d.code == '\n') ||
                                       (RegionalIndicator(d.code) && indicators % 2 == 1));
    if (boundary) cut = at;
    if (at + d.bytes > limit) break;
    indicators = RegionalIndicator(d.code) ? indicators + 1 : 0;
    previous = d.code;
    at += d.bytes;
  }
  // A first character longer than the limit leaves nothing.
  return cut;
}

}  // namespace platform
