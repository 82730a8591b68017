#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "platform/text/console.h"

int AnswerHelpOrVersion(int argc, char** argv, const char* program, const char* usage) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      platform::WriteText(stdout, usage);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      platform::PrintText(stdout, "%s %s\n", program, TESSALINE_VERSION);
      return 0;
    }
  }
  return -1;
}

int UsageError(const char* program, const std::string& problem, const char* usage) {
  platform::PrintText(stderr, "%s: %s\n%s", program, problem.c_str(), usage);
  return 2;
}
