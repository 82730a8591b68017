#include "app/json_writer.h"

#include <cmath>
#include <cstdio>

#include "app/utf8.h"

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!filled_.empty()) {
    if (filled_.back()) text_ += ',';
    filled_.back() = true;
  }
}

void JsonWriter::Quote(const std::string& value) {
  text_ += '"';
  const auto* p = reinterpret_cast<const unsigned char*>(value.data());
  const std::size_t n = value.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c >= 0x80) {
      // A byte that is no UTF-8 would make the document unreadable.
      const std::size_t length = Utf8Length(p + i, n - i);
      if (length == 0) {
        text_ += "\\ufffd";
        ++i;
      } else if (c == 0xC2 && p[i + 1] < 0xA0) {
        // The C1 controls (U+0080 .. U+009F) would reach a terminal that shows
        // the document as commands.
        char escape[8];
        std::snprintf(escape, sizeof(escape), "\\u%04x", unsigned{p[i + 1]});
        text_ += escape;
        i += 2;
      } else {
        text_.append(value, i, length);
        i += length;
      }
      continue;
    }
    if (c == '"' || c == '\\') {
      text_ += '\\';
      text_ += static_cast<char>(c);
    } else if (c == '\n') {
      text_ += "\\n";
    } else if (c == '\r') {
      text_ += "\\r";
    } else if (c == '\t') {
      text_ += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      text_ += escape;
    } else {
      text_ += static_cast<char>(c);
    }
    ++i;
  }
  text_ += '"';
}

JsonWriter& JsonWriter::Open(char bracket) {
  BeforeValue();
  text_ += bracket;
  filled_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  filled_.pop_back();
  text_ += bracket;
  return *this;
}

JsonWriter& JsonWriter::Key(const std::string& name) {
  BeforeValue();
  Quote(name);
  text_ += ':';
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(const std::string& value) {
  BeforeValue();
  Quote(value);
  return *this;
}

JsonWriter& JsonWriter::Number(double value) {
  if (!std::isfinite(value)) return Null();
  BeforeValue();
  char number[32];
  std::snprintf(number, sizeof(number), "%.1f", value);
  text_ += number;
  return *this;
}

JsonWriter& JsonWriter::Integer(long long value) {
  BeforeValue();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  text_ += "null";
  return *this;
}
