#pragma once

// What the command-line programs write. Text is UTF-8; where a standard stream
// is a Windows console, it goes there as the console's own (UTF-16)
// characters, so that any name shows right whatever the console's code page;
// written to a file or a pipe it stays UTF-8 bytes, as on Linux.

#include <cstdio>
#include <string_view>

namespace platform {

void WriteText(std::FILE* stream, std::string_view text);
// As std::fprintf, through WriteText.
void PrintText(std::FILE* stream, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));

}  // namespace platform
