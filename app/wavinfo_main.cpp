// tessaline-wavinfo FILE...: the format, sizes and info tags of RIFF WAVE files as the wave
// routines read them. One line per file, then one indented line per info tag.
// Exit code 0 when every file was read, 1 otherwise.

#include <cstdio>
#include <string>

#include "devices/wave_format.h"
#include "files/wave_io.h"

namespace {

std::string TagId(FOURCC id) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return s;
}

bool Describe(const char* name) {
  PWaveIOBlock block = nullptr;
  const int result = WaveOpen(block, name, FOURCC_WAVE, wioRead);
  if (result != 0) {
    std::printf("%s: error %d\n", name, result);
    return false;
  }
  const WAVEFORMATEX& f = block->Format;
  std::printf("%s: %s ch=%u rate=%u bits=%u block=%u avg=%u data=%u samples=%d offset=%u\n", name,
              WaveFormatTagName(&f).c_str(), unsigned{f.nChannels}, unsigned{f.nSamplesPerSec},
              unsigned{f.wBitsPerSample}, unsigned{f.nBlockAlign}, unsigned{f.nAvgBytesPerSec},
              block->DataBytes, block->DataSamples, block->DataOffset);
  for (int i = 0; i < WaveInfoTagCount; ++i) {
    const std::string text = WaveInfoGetText(block->InfoList, i);
    if (!text.empty()) std::printf("  %s = %s\n", TagId(WaveInfoTags[i].Id).c_str(), text.c_str());
  }
  WaveFree(block);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tessaline-wavinfo FILE...\n");
    return 1;
  }
  bool all = true;
  for (int i = 1; i < argc; ++i) all = Describe(argv[i]) && all;
  return all ? 0 : 1;
}
