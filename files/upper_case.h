#pragma once

#include <cctype>
#include <string>

// The text with ASCII letters in upper case, for comparing file names and patterns without
// regard to letter case.
inline std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}
