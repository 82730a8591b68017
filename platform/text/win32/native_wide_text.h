#pragma once

// Text crosses into and out of the system here. Inside, text is UTF-8; the
// system's wide-character calls take and give UTF-16. Invalid UTF-8 becomes
// U+FFFD, as does an unpaired surrogate coming back.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::win32 {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
// A fixed field of the system's records: up to its first null or `size` characters.
std::string Utf8FromWideField(const wchar_t* field, std::size_t size);

}  // namespace platform::win32
