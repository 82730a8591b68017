#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/wave/wave_hdr.h"

class TComponent;

// The header of every audio buffer that travels along a chain. A buffer is
// one block: this header, then directly the data bytes, so that the block can
// be handed to the platform's wave calls as it is (the header begins with
// WAVEHDR). Capture leaves everything after WAVEHDR zero; outputs and sources
// use the rest as described at each field.
struct TMMWaveHdr : WAVEHDR {
  // Zero when first allocated; the DirectSound output keeps the owning device
  // here while a done timer is pending.
  void* lpDevice = nullptr;
  // Wave output: byte count kept across a platform write; DirectSound output:
  // the pending done timer.
  DWORD dwSavedLength = 0;
  // Output side: the block that plays next; none on capture.
  TMMWaveHdr* lpNextBuffer = nullptr;
  // 32-bit Boolean (0 or -1): looping requested by the output.
  std::int32_t bLooping = 0;
  // Loop count requested.
  DWORD dwLoopCount = 0;
  // Loops remaining, written back by the source.
  DWORD dwLoopsLeft = 0;
  // 32-bit Boolean set (-1) by a source that wrapped to its start within
  // this block.
  std::int32_t bLoopDone = 0;
};
using PWaveHdr = TMMWaveHdr*;

// Bytes of the header in front of a buffer's data: lpData = block + kWaveHdrSize.
inline constexpr std::size_t kWaveHdrSize = sizeof(TMMWaveHdr);

// The data bytes of a buffer block.
inline char* WaveHdrData(PWaveHdr hdr) {
  return reinterpret_cast<char*>(hdr) + kWaveHdrSize;
}

// A buffer pushed down a chain.
using TMMBufferEvent = std::function<void(TComponent* Sender, PWaveHdr lpWaveHdr)>;
// A buffer pulled from upstream; the source clears MoreBuffers at the end of its data.
using TMMBufferLoadEvent =
    std::function<void(TComponent* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;

// A device's buffer block set up anew: the data follow the header, size
// bytes of them, and the platform fields are clear.
inline void ResetDeviceHeader(PWaveHdr h, std::int32_t size) {
  h->lpData = WaveHdrData(h);
  h->dwBufferLength = static_cast<DWORD>(size);
  h->dwBytesRecorded = 0;
  h->dwUser = 0;
  h->dwFlags = 0;
  h->dwLoops = 0;
  h->lpNext = nullptr;
}

// Before a header is unprepared: its WHDR_DONE is polled (65000 times, not
// sleeping) and set alone where the device never set it. Each poll reads the
// flags afresh: the device's thread sets them.
inline void AwaitHeaderDone(PWaveHdr h) {
  const std::atomic_ref<DWORD> flags(h->dwFlags);
  for (int polls = 0; !(flags.load() & WHDR_DONE) && polls < 65000; ++polls) {
  }
  if (!(flags.load() & WHDR_DONE)) flags.store(WHDR_DONE);
}
