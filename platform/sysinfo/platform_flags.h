#pragma once

// Platform flags, fixed for the current system: a multi-threaded desktop whose
// wave drivers call back through functions. Device components read them to
// choose how their driver notifies them.
inline constexpr bool IsWin95 = false;
inline constexpr bool IsWin98 = false;
inline constexpr bool IsWinMe = false;
inline constexpr bool IsWin9x = false;
inline constexpr bool IsNT3 = false;
inline constexpr bool IsNT4Up = true;
inline constexpr bool FunctionCallbacks = IsWin9x || IsNT4Up;
