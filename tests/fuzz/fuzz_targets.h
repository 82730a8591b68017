#pragma once

// The fuzz targets: each takes one input whole and aborts with the line of the check that
// failed. tests/fuzz/fuzz_main.cpp makes a libFuzzer program of one of them; the unit tests
// replay the committed corpora through the same functions.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// A byte image opened and read by the wave routines as a memory source.
int WaveOpen(const std::uint8_t* data, std::size_t size);
// A format header and data for the IMA and Microsoft ADPCM decoders (see adpcm_decoders_fuzz.cpp).
int AdpcmDecoders(const std::uint8_t* data, std::size_t size);
// A wave image played whole through an audio file's chain (file object, converters).
int AudioFileChain(const std::uint8_t* data, std::size_t size);

// The input being replayed, named in a failure's message (the fuzzer names its own).
inline const char* replaying = nullptr;

[[noreturn]] inline void Fail(const char* target, int line) {
  std::fprintf(stderr, "%s: check on line %d failed%s%s\n", target, line,
               replaying != nullptr ? " on " : "", replaying != nullptr ? replaying : "");
  std::abort();
}

}  // namespace fuzz

#define FUZZ_CHECK(condition) \
  if (!(condition)) ::fuzz::Fail(__FILE__, __LINE__)
