#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// Runs tools/sound-server with the given arguments; returns its first line of
// output (the server to use), or "" when it failed.
inline std::string SoundServer(const std::string& arguments) {
  std::filesystem::path tool =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "tools" /
      "sound-server";
  std::string command = "'" + tool.string() + "' " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  char line[512] = {};
  std::string result = fgets(line, sizeof(line), pipe) ? line : "";
  if (pclose(pipe) != 0) return "";
  while (!result.empty() && result.back() == '\n') result.pop_back();
  return result;
}
