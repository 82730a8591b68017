// The libFuzzer entry of one target, chosen at build time (TESSALINE_FUZZ_TARGET names it).

#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::TESSALINE_FUZZ_TARGET(data, size);
}
