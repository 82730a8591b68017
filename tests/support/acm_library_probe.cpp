// Converts with the compression manager step by step and prints, after each step, its
// results and which of the codec module and the codec libraries are mapped into the process.
// The platform tests run it in processes of their own, so that nothing another test loaded
// is mapped already.
//
// Output, one line a step: "<step> open=<result> out=<bytes> module=<0|1> codecs=<0|1>
// resampler=<0|1>"; the first line is "installed=<0|1> version=<high word>".

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/wave_formats.h"

namespace {

using wavetest::Format;

bool Mapped(const char* name) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find(name) != std::string::npos) return true;
  }
  return false;
}

// Opens src -> dst and converts `in` to the end; the destination bytes given.
MMRESULT Convert(const Format& src, const Format& dst, std::vector<std::uint8_t> in, DWORD& out) {
  out = 0;
  HACMSTREAM stream = nullptr;
  const MMRESULT opened = acmStreamOpen(&stream, nullptr, src.get(), dst.get(), nullptr, 0, 0, 0);
  if (opened != MMSYSERR_NOERROR) return opened;
  std::vector<std::uint8_t> dest(65536);
  ACMSTREAMHEADER header;
  header.cbStruct = sizeof header;
  header.pbSrc = in.data();
  header.cbSrcLength = static_cast<DWORD>(in.size());
  header.pbDst = dest.data();
  header.cbDstLength = static_cast<DWORD>(dest.size());
  if (acmStreamPrepareHeader(stream, &header, 0) == MMSYSERR_NOERROR &&
      acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_END) == MMSYSERR_NOERROR) {
    out = header.cbDstLengthUsed;
  }
  acmStreamUnprepareHeader(stream, &header, 0);
  acmStreamClose(stream, 0);
  return opened;
}

void Report(const char* step, MMRESULT result, DWORD out) {
  std::printf("%s open=%u out=%u module=%d codecs=%d resampler=%d\n", step, result, out,
              Mapped("/tessaline-codecs.so"), Mapped("/libavcodec.so."),
              Mapped("/libswresample.so."));
}

void Step(const char* step, const Format& src, const Format& dst, DWORD bytes) {
  DWORD out = 0;
  const MMRESULT result = Convert(src, dst, std::vector<std::uint8_t>(bytes, 0x35), out);
  Report(step, result, out);
}

}  // namespace

int main() {
  std::printf("installed=%d version=%#x\n", ACMInstalled() ? 1 : 0, acmGetVersion() >> 16);
  Report("start", MMSYSERR_NOERROR, 0);
  // What platform/acm converts itself: samples stored whole, and ADPCM.
  Step("pcm24", wavetest::Pcm(24, 1, 48000), wavetest::Pcm(16, 1, 48000), 300);
  Step("ima", wavetest::Ima(1, 8000, 36), wavetest::Pcm(16, 1, 8000), 36);
  // What needs the codec libraries.
  const Format alaw = wavetest::MakeFormat(WAVE_FORMAT_ALAW, 1, 8000, 8, 1);
  Step("alaw", alaw, wavetest::Pcm(16, 1, 8000), 100);
  Format suggestion = wavetest::Pcm(16, 1, 8000);
  Report("suggest-alaw",
         acmFormatSuggest(nullptr, alaw.get(), suggestion.get(), sizeof(WAVEFORMATEX),
                          ACM_FORMATSUGGESTF_WFORMATTAG),
         0);
  Step("resample", wavetest::Pcm(16, 1, 8000), wavetest::Pcm(16, 1, 16000), 2000);
  return 0;
}
