#pragma once

// Stream components for the converter and audio file tests: a source that serves bytes from
// memory, at most `piece` bytes a pull (so that pulls can end inside a block), looping when
// the buffer asks for it; and a sink that keeps what is pushed to it.

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "stream/dsp_component.h"

namespace filestest {

using Bytes = std::vector<std::uint8_t>;

class TMemorySource : public TMMDSPComponent {
 public:
  TMemorySource(const WAVEFORMATEX* format, Bytes data, std::size_t piece)
      : TMMDSPComponent(nullptr), data_(std::move(data)), piece_(piece) {
    SetPWaveFormat(format);
  }
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TMemorySource>("TMemorySource", &TMMDSPComponent::StaticClassInfo())
            .Ref<TMMDSPComponent>("Output", &TMemorySource::GetOutput, &TMemorySource::SetOutput)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  void BufferLoad(PWaveHdr h, bool& more) override {
    const std::size_t n = std::min({std::size_t{h->dwBufferLength}, piece_, data_.size() - at_});
    std::memcpy(h->lpData, data_.data() + at_, n);
    at_ += n;
    h->dwBytesRecorded = static_cast<DWORD>(n);
    ++pulls_;
    if (at_ < data_.size()) {
      more = true;
    } else if (h->bLooping != 0) {
      at_ = 0;
      more = true;
      h->bLoopDone = -1;
    }
  }
  void Rewind(std::size_t at) { at_ = at; }
  int Pulls() const { return pulls_; }

 private:
  Bytes data_;
  std::size_t piece_;
  std::size_t at_ = 0;
  int pulls_ = 0;
};

class TSink : public TMMDSPComponent {
 public:
  TSink() : TMMDSPComponent(nullptr) {}
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TSink>("TSink", &TMMDSPComponent::StaticClassInfo())
            .Ref<TMMDSPComponent>("Input", &TSink::GetInput, &TSink::SetInput)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  void BufferReady(PWaveHdr h) override {
    received.insert(received.end(), h->lpData, h->lpData + h->dwBytesRecorded);
    largest = std::max<std::size_t>(largest, h->dwBytesRecorded);
  }
  Bytes received;
  std::size_t largest = 0;
};

// A stream buffer block: header, then `size` data bytes.
struct Buffer {
  explicit Buffer(std::size_t size) : block(kWaveHdrSize + size) {
    hdr = new (block.data()) TMMWaveHdr();
    hdr->lpData = WaveHdrData(hdr);
    hdr->dwBufferLength = static_cast<DWORD>(size);
  }
  Bytes Data() const {
    return Bytes(reinterpret_cast<const std::uint8_t*>(hdr->lpData),
                 reinterpret_cast<const std::uint8_t*>(hdr->lpData) + hdr->dwBytesRecorded);
  }
  // One pull from c; the bytes it gave.
  Bytes Load(TMMDSPComponent& c, bool& more) {
    hdr->dwBytesRecorded = 0;
    hdr->bLoopDone = 0;
    more = false;
    c.BufferLoad(hdr, more);
    return Data();
  }
  // Pulls from c until it has no more (at most `limit` pulls); everything it gave.
  Bytes Drain(TMMDSPComponent& c, int limit = 10000) {
    Bytes all;
    bool more = true;
    for (int i = 0; more && i < limit; ++i) {
      const Bytes got = Load(c, more);
      all.insert(all.end(), got.begin(), got.end());
    }
    return all;
  }
  std::vector<char> block;
  TMMWaveHdr* hdr;
};

}  // namespace filestest
