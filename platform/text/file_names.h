#pragma once

// File names are UTF-8 inside. A std::filesystem::path made from a narrow
// string, or read back with string(), takes Windows' ANSI code page there;
// these go through UTF-8 on every system.

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

std::filesystem::path PathFromUtf8(std::string_view name);
std::string Utf8FromPath(const std::filesystem::path& path);
// With '/' between the names, also where the system writes a backslash.
std::string GenericUtf8FromPath(const std::filesystem::path& path);

}  // namespace platform
