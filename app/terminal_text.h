#pragma once

#include <string>

// The text as it is safe to write to a terminal: control characters (C0, DEL and C1),
// backslashes and bytes that are no UTF-8 become escapes (\n, \r, \t, \\, \xNN);
// printable ASCII and UTF-8 stay as they are. Device names and file tags, which the
// programs print, come from outside and must not drive the terminal.
std::string TerminalText(const std::string& text);

// A message of the system on one line: each line break (LF CR) becomes a space.
std::string OneLine(const std::string& message);
