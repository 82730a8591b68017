#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/messages/messages.h"

// The shell: hands documents and addresses (web pages, "mailto:" links,
// "file://" addresses) to the desktop, which opens them with the user's
// chosen program.

using HINSTANCE = std::intptr_t;

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_NORMAL = SW_SHOWNORMAL;

// Results of ShellExecuteA at or below 32 are errors.
inline constexpr HINSTANCE ERROR_FILE_NOT_FOUND = 2;
inline constexpr HINSTANCE SE_ERR_NOASSOC = 31;

// Carries out an operation on a file or address. The operation "open" (or
// none) hands the file to the desktop's opener, xdg-open, in a process of its
// own, started in directory when one is given; the call does not wait for it.
// Returns a value above 32 once the request is handed over; ERROR_FILE_NOT_FOUND
// for an empty file or when the opener cannot be started; SE_ERR_NOASSOC for
// another operation or parameters (only documents and addresses are opened).
// The owner window and the show state are accepted and left to the desktop.
HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                        const char* directory, int show);

namespace platform {

// One request as ShellExecuteA received it (absent texts are empty).
struct ShellRequest {
  HWND Owner = 0;
  std::string Operation;
  std::string File;
  std::string Parameters;
  std::string Directory;
  int Show = SW_HIDE;
};

// Tests intercept shell requests: while a hook is set it answers instead of
// the desktop. Any thread.
using ShellHook = std::function<HINSTANCE(const ShellRequest& request)>;
void SetShellHook(ShellHook hook);

}  // namespace platform
