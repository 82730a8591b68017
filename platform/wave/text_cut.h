#pragma once

#include <cstddef>

namespace platform {

// The length of the longest start of `text` (`length` bytes of UTF-8) that has at
// most `limit` bytes and ends between two user-perceived characters: never inside
// a UTF-8 sequence, before a combining mark, variation selector, emoji modifier or
// tag character, after a zero-width joiner, or between the two halves of a flag.
// Bytes that are no UTF-8 count as characters of their own.
std::size_t CharacterCut(const char* text, std::size_t length, std::size_t limit);

}  // namespace platform
