#pragma once

#include <cstddef>

// Length of the well-formed UTF-8 sequence at `p` (of `n` bytes), or 0.
std::size_t Utf8Length(const unsigned char* p, std::size_t n);
