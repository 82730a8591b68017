// Fuzz target: any byte image given to the wave routines as a memory source. Opening must
// either fail with a code or give a block whose counters agree with each other; reading
// the whole play window must stay inside the image and end with -1.

#include <algorithm>
#include <cstring>
#include <vector>

#include "files/wave_io.h"
#include "platform/acm/msacm.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

void ExerciseBlock(PWaveIOBlock block, std::size_t imageSize) {
  const WAVEFORMATEX& f = block->Format;
  FUZZ_CHECK(f.nBlockAlign != 0 && f.nSamplesPerSec != 0 && f.nAvgBytesPerSec != 0);
  // ADPCM keeps a partial last block, also inside the extensible header,
  // whose coding the block's format record does not carry.
  FUZZ_CHECK(WaveKeepsPartialBlock(&f) || f.wFormatTag == WAVE_FORMAT_EXTENSIBLE ||
             block->DataBytes % f.nBlockAlign == 0);
  FUZZ_CHECK(std::uint64_t{block->DataOffset} + block->DataBytes <= imageSize);
  FUZZ_CHECK(block->DataSamples >= 0 && block->LastSample == block->DataSamples);
  for (int i = 0; i < WaveInfoTagCount; ++i) (void)WaveInfoGetText(block->InfoList, i);

  if (WaveReopen(block) != 0) return;
  std::vector<char> buffer(4096);
  std::uint64_t total = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    const std::int32_t got =
        WaveRead(block, buffer.data(), static_cast<std::int32_t>(buffer.size()));
    if (got < 0) break;
    FUZZ_CHECK(got <= static_cast<std::int32_t>(buffer.size()));
    total += static_cast<std::uint64_t>(got);
    FUZZ_CHECK(got != 0 || WaveRead(block, buffer.data(), 1) == -1);
    if (got == 0) break;
  }
  FUZZ_CHECK(total <= block->DataBytes);
  // Seeking anywhere (past the end included) lands inside the play window.
  const std::int32_t beyond = block->DataSamples > 0x7FFFFFF0 ? 0x7FFFFFFF : block->DataSamples + 5;
  for (std::int32_t sample : {0, block->DataSamples / 2, beyond}) {
    if (WaveSeek(block, sample) != 0) continue;
    FUZZ_CHECK(block->SamplePos >= 0 && block->SamplePos <= std::max(block->DataSamples, 0));
    (void)WaveRead(block, buffer.data(), 64);
  }
  FUZZ_CHECK(WaveSeek(block, -1) == WIOERR_FILEERROR);
  WaveFinish(block);
}

}  // namespace

int fuzz::WaveOpen(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  // A copy, so that reads beyond the image are caught by the address checker.
  std::vector<char> image(data, data + size);
  const void* bytes = image.empty() ? nullptr : image.data();

  PWaveIOBlock block = nullptr;
  const int result = WaveOpenMemory(block, bytes, static_cast<std::int32_t>(image.size()));
  if (result == 0) {
    FUZZ_CHECK(block != nullptr);
    ExerciseBlock(block, image.size());
    WaveFree(block);
  } else {
    FUZZ_CHECK(block == nullptr);
  }

  // Header-only mode over the same image: the info and display lists without a format.
  if (!image.empty()) {
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = image.data();
    info.cchBuffer = static_cast<LONG>(image.size());
    if (WaveOpen(block, reinterpret_cast<const char*>(&info), FOURCC_WAVE,
                 wioRead | wioMemory | wioHeaderOnly) == 0) {
      for (int i = 0; i < WaveInfoTagCount; ++i) (void)WaveInfoGetText(block->InfoList, i);
      WaveFree(block);
    }
  }
  return 0;
}
