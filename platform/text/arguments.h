#pragma once

// A program's arguments in UTF-8. On Windows the C runtime's argv is in the
// ANSI code page, which cannot hold every file name; the system's own
// command line, in UTF-16, is read instead.

#include <string>
#include <vector>

namespace platform {

class Utf8Arguments {
 public:
  Utf8Arguments(int argc, char** argv);
  int Count() const { return static_cast<int>(pointers_.size()) - 1; }
  // Null-terminated, as argv; valid while this object lives.
  char** Values() { return pointers_.data(); }

 private:
  std::vector<std::string> values_;
  std::vector<char*> pointers_;
};

}  // namespace platform
