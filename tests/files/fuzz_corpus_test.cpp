// Replays the committed fuzzing corpora through the fuzz targets themselves (tests/fuzz), so
// that inputs that once broke a target are checked on every build, without the fuzzing
// compiler. A target aborts on a failed check; under the sanitizer build the address checker
// also sees every read past an input, which each target hands on in a buffer of its size.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

struct Target {
  const char* corpus;
  int (*run)(const std::uint8_t*, std::size_t);
  int seeds;  // at least this many inputs are committed
};

}  // namespace

TEST(FuzzCorpora, EveryCommittedInputPassesItsTarget) {
  const fs::path fixtures = fs::path(__FILE__).parent_path().parent_path() / "fixtures";
  for (const Target& t :
       {Target{"wave_corpus", fuzz::WaveOpen, 18}, Target{"adpcm_corpus", fuzz::AdpcmDecoders, 15},
        Target{"audio_file_corpus", fuzz::AudioFileChain, 15}}) {
    int inputs = 0;
    for (const auto& entry : fs::directory_iterator(fixtures / t.corpus)) {
      if (!entry.is_regular_file()) continue;
      const std::string name = entry.path().string();
      SCOPED_TRACE(name);
      fuzz::replaying = name.c_str();
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<char> read{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
      // A copy of exactly the input's size.
      const std::vector<std::uint8_t> input(read.begin(), read.end());
      EXPECT_EQ(t.run(input.data(), input.size()), 0);
      fuzz::replaying = nullptr;
      ++inputs;
    }
    EXPECT_GE(inputs, t.seeds) << t.corpus;
  }
}
