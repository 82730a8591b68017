#include "app/terminal_text.h"

#include <cstddef>
#include <cstdio>

#include "app/utf8.h"

std::string TerminalText(const std::string& text) {
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
