// Fuzz target: the IMA and Microsoft ADPCM decoders. The input is a format header and data:
//   byte 0      bit 0: Microsoft ADPCM (else IMA); bit 1: two channels; bits 2-7: how many
//               blocks the second pass converts at a time (1 to 64)
//   bytes 1-2   block alignment (little-endian)
//   byte 3      extra format bytes (cbSize) that follow, then the data.
// The data is decoded three ways, each from buffers of exactly its size: all whole blocks at
// once with the partial last block at the end, a few blocks at a time, and through a
// compression-manager stream; all three must give the same samples, within the bounds the
// decoder reports.

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/acm/acm_codec.h"
#include "platform/acm/acm_formats.h"
#include "platform/acm/msacm.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Decodes `data` through an open stream fed in one exact-size source buffer, taking the
// output in pieces until nothing is left.
Bytes ThroughStream(const WAVEFORMATEX& src, const Bytes& data) {
  WAVEFORMATEX dst;
  platform::MakeAcmPcm(dst, 16, src.nChannels, src.nSamplesPerSec);
  HACMSTREAM stream = nullptr;
  FUZZ_CHECK(acmStreamOpen(&stream, nullptr, &src, &dst, nullptr, 0, 0, 0) == MMSYSERR_NOERROR);
  Bytes source(data);
  Bytes dest(4096);
  ACMSTREAMHEADER h{};
  h.cbStruct = sizeof h;
  h.pbSrc = source.empty() ? dest.data() : source.data();
  h.cbSrcLength = static_cast<DWORD>(source.size());
  h.pbDst = dest.data();
  h.cbDstLength = static_cast<DWORD>(dest.size());
  FUZZ_CHECK(acmStreamPrepareHeader(stream, &h, 0) == MMSYSERR_NOERROR);
  Bytes out;
  DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END;
  for (;;) {
    FUZZ_CHECK(acmStreamConvert(stream, &h, flags) == MMSYSERR_NOERROR);
    FUZZ_CHECK(h.cbDstLengthUsed <= h.cbDstLength);
    out.insert(out.end(), dest.begin(), dest.begin() + h.cbDstLengthUsed);
    if (h.cbDstLengthUsed == 0) break;
    // The rest of the output comes without more source.
    h.cbSrcLength = 0;
    flags = ACM_STREAMCONVERTF_BLOCKALIGN;
  }
  // Unprepared with the lengths it was prepared with.
  h.cbSrcLength = static_cast<DWORD>(source.size());
  FUZZ_CHECK(acmStreamUnprepareHeader(stream, &h, 0) == MMSYSERR_NOERROR);
  FUZZ_CHECK(acmStreamClose(stream, 0) == MMSYSERR_NOERROR);
  return out;
}

}  // namespace

int fuzz::AdpcmDecoders(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || size > (1u << 20)) return 0;
  const bool ms = (data[0] & 1) != 0;
  const int channels = (data[0] & 2) != 0 ? 2 : 1;
  const std::size_t blocksAtATime = 1 + (data[0] >> 2);
  const std::uint16_t align = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
  const std::size_t extra = std::min<std::size_t>(data[3], size - 4);

  // The format record ends exactly where its extra bytes do.
  Bytes record(sizeof(WAVEFORMATEX) + extra);
  WAVEFORMATEX f{};
  f.wFormatTag = ms ? WAVE_FORMAT_ADPCM : WAVE_FORMAT_IMA_ADPCM;
  f.nChannels = static_cast<std::uint16_t>(channels);
  f.nSamplesPerSec = 8000;
  f.nBlockAlign = align;
  f.nAvgBytesPerSec = std::max<std::uint32_t>(align, 1) * 8000u / 500u + 1;
  f.wBitsPerSample = 4;
  f.cbSize = static_cast<std::uint16_t>(extra);
  std::memcpy(record.data(), &f, sizeof f);
  std::memcpy(record.data() + sizeof f, data + 4, extra);
  const auto& src = *reinterpret_cast<const WAVEFORMATEX*>(record.data());

  auto codec = platform::MakeAdpcmDecoder(src);
  FUZZ_CHECK((codec != nullptr) ==
             (platform::ClassifyAcmSource(src).route == platform::AcmRoute::Adpcm));
  if (codec == nullptr) return 0;
  FUZZ_CHECK(codec->SourceBlock() == align);

  const Bytes input(data + 4 + extra, data + size);
  const std::size_t frame = 2 * static_cast<std::size_t>(channels);
  const std::size_t whole = input.size() / align * align;

  // All at once.
  Bytes once;
  FUZZ_CHECK(codec->Convert(input.data(), static_cast<std::uint32_t>(whole), once));
  const Bytes tail(input.begin() + static_cast<std::ptrdiff_t>(whole), input.end());
  FUZZ_CHECK(codec->Flush(tail.data(), static_cast<std::uint32_t>(tail.size()), once));
  FUZZ_CHECK(once.size() % frame == 0);
  FUZZ_CHECK(once.size() <= codec->OutputBound(input.size()));

  // A few blocks at a time, each piece in a buffer of its own size.
  codec->Restart();
  Bytes pieces;
  const std::size_t step = blocksAtATime * align;
  for (std::size_t at = 0; at < whole; at += step) {
    const Bytes piece(input.begin() + static_cast<std::ptrdiff_t>(at),
                      input.begin() + static_cast<std::ptrdiff_t>(std::min(at + step, whole)));
    FUZZ_CHECK(codec->Convert(piece.data(), static_cast<std::uint32_t>(piece.size()), pieces));
  }
  FUZZ_CHECK(codec->Flush(tail.data(), static_cast<std::uint32_t>(tail.size()), pieces));
  FUZZ_CHECK(pieces == once);

  FUZZ_CHECK(ThroughStream(src, input) == once);
  return 0;
}
