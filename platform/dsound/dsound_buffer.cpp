// Secondary sound buffers: a ring played on a playback stream of its own.
//
// The stream pulls the ring from the read position on (the write cursor)
// and reports how much of it the output has taken and heard; the play
// cursor is the ring position of the last byte the output took. `anchor`
// ties the two: the byte pulled as number `anchor_total` since the stream
// opened lay at ring position `anchor_position`, and the bytes after it
// follow in ring order.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>
#include <vector>

#include "platform/dsound/dsound_device.h"
#include "platform/wave/wave_device.h"

namespace platform {
namespace {

// The flags a secondary buffer accepts.
constexpr DWORD kKnownFlags = DSBCAPS_STATIC | DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE |
                              DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                              DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_STICKYFOCUS |
                              DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_LOCDEFER;

// Linear gain of a level in hundredths of a decibel; the bottom is silence.
double Gain(LONG level) {
  if (level <= DSBVOLUME_MIN) return 0.0;
  return std::pow(10.0, level / 2000.0);
}

class SecondaryBuffer : public IDirectSoundBuffer {
 public:
  SecondaryBuffer(std::shared_ptr<SoundDevice> device, DWORD flags, const WAVEFORMATEX& format,
                  DWORD size)
      : device_(std::move(device)),
        flags_(flags),
        format_(format),
        channel_map_(DeviceChannelMap(format)),
        ring_(size, format.wBitsPerSample == 8 ? 0x80 : 0) {
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.cbSize = 0;
  }

  ~SecondaryBuffer() override {
    std::lock_guard<std::mutex> control(control_);
    stream_.reset();
  }

  // Opens the buffer's stream; false when the output is not there (or the
  // back-end refuses it).
  bool Open() {
    std::lock_guard<std::mutex> control(control_);
    stream_ = OpenStream(false);
    return stream_ != nullptr;
  }

  DWORD HeldByOutput() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return Held();
  }

  HRESULT GetCaps(LPDSBCAPS caps) override {
    if (caps == nullptr || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
    caps->dwFlags = flags_;
    caps->dwBufferBytes = Size();
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return DS_OK;
  }

  HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_) return DSERR_BUFFERLOST;
    DWORD cursor = PlayCursor();
    if (play != nullptr) *play = cursor;
    if (write != nullptr) *write = playing_ ? read_ : cursor;
    return DS_OK;
  }

  // Both under one lock: the server's answers move the cursor and what the
  // output holds together.
  HRESULT GetCursorAndHeld(DWORD* play, DWORD* held) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_) return DSERR_BUFFERLOST;
    *play = PlayCursor();
    *held = Held();
    return DS_OK;
  }

  HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, DWORD* written) override {
    if (format == nullptr) {
      if (written == nullptr) return DSERR_INVALIDPARAM;
      *written = sizeof(WAVEFORMATEX);
      return DS_OK;
    }
    if (size < sizeof(WAVEFORMATEX)) return DSERR_INVALIDPARAM;
    std::memcpy(format, &format_, sizeof(WAVEFORMATEX));
    if (written != nullptr) *written = sizeof(WAVEFORMATEX);
    return DS_OK;
  }

  HRESULT GetVolume(LONG* volume) override {
    if ((flags_ & DSBCAPS_CTRLVOLUME) == 0) return DSERR_CONTROLUNAVAIL;
    if (volume == nullptr) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> control(control_);
    *volume = volume_;
    return DS_OK;
  }

  HRESULT GetPan(LONG* pan) override {
    if ((flags_ & DSBCAPS_CTRLPAN) == 0) return DSERR_CONTROLUNAVAIL;
    if (pan == nullptr) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> control(control_);
    *pan = pan_;
    return DS_OK;
  }

  HRESULT GetFrequency(DWORD* frequency) override {
    if ((flags_ & DSBCAPS_CTRLFREQUENCY) == 0) return DSERR_CONTROLUNAVAIL;
    if (frequency == nullptr) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> control(control_);
    *frequency = frequency_ == DSBFREQUENCY_ORIGINAL ? format_.nSamplesPerSec : frequency_;
    return DS_OK;
  }

  HRESULT GetStatus(DWORD* status) override {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(mutex_);
    *status = 0;
    if (playing_) *status |= DSBSTATUS_PLAYING;
    if (playing_ && looping_) *status |= DSBSTATUS_LOOPING;
    if (lost_) *status |= DSBSTATUS_BUFFERLOST;
    return DS_OK;
  }

  HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* part1, DWORD* bytes1, LPVOID* part2,
               DWORD* bytes2, DWORD flags) override {
    if (part1 == nullptr || bytes1 == nullptr) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_) return DSERR_BUFFERLOST;
    const DWORD size = Size();
    if ((flags & DSBLOCK_FROMWRITECURSOR) != 0) offset = playing_ ? read_ : PlayCursor();
    if ((flags & DSBLOCK_ENTIREBUFFER) != 0) bytes = size;
    if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;
    const DWORD first = std::min(bytes, size - offset);
    const DWORD second = bytes - first;
    if (second > 0 && (part2 == nullptr || bytes2 == nullptr)) return DSERR_INVALIDPARAM;
    // The caller writes into copies; Unlock puts them into the ring, so that
    // the stream never reads memory that is being written.
    Region& region = locks_.emplace_back();
    region.offset = offset;
    region.first.assign(ring_.begin() + offset, ring_.begin() + offset + first);
    region.second.assign(ring_.begin(), ring_.begin() + second);
    *part1 = region.first.data();
    *bytes1 = first;
    if (part2 != nullptr) *part2 = second > 0 ? region.second.data() : nullptr;
    if (bytes2 != nullptr) *bytes2 = second;
    return DS_OK;
  }

  HRESULT Unlock(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto region = std::find_if(locks_.begin(), locks_.end(), [&](const Region& r) {
      return static_cast<const void*>(r.first.data()) == part1;
    });
    if (part1 == nullptr || region == locks_.end()) return DSERR_INVALIDPARAM;
    if (bytes1 > region->first.size() || bytes2 > region->second.size() ||
        (bytes2 > 0 && part2 != region->second.data())) {
      return DSERR_INVALIDPARAM;
    }
    if (bytes1 > 0) std::memcpy(ring_.data() + region->offset, region->first.data(), bytes1);
    if (bytes2 > 0) std::memcpy(ring_.data(), region->second.data(), bytes2);
    locks_.erase(region);
    return DS_OK;
  }

  HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) override {
    if (reserved != 0 || priority != 0) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> control(control_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (lost_) return DSERR_BUFFERLOST;
      looping_ = (flags & DSBPLAY_LOOPING) != 0;
      // Played once, the buffer ends at its last byte.
      end_ = looping_ ? UINT64_MAX : pulled_ + (Size() - read_);
      playing_ = true;
    }
    stream_->Start();
    stream_->Wake();
    return DS_OK;
  }

  HRESULT SetCurrentPosition(DWORD position) override {
    if (position >= Size()) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> control(control_);
    Reposition([&] { return position; });
    return DS_OK;
  }

  HRESULT SetFormat(const WAVEFORMATEX*) override { return DSERR_INVALIDCALL; }

  HRESULT SetVolume(LONG volume) override {
    if ((flags_ & DSBCAPS_CTRLVOLUME) == 0) return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> control(control_);
    volume_ = volume;
    ApplyGains();
    return DS_OK;
  }

  HRESULT SetPan(LONG pan) override {
    if ((flags_ & DSBCAPS_CTRLPAN) == 0) return DSERR_CONTROLUNAVAIL;
    if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> control(control_);
    pan_ = pan;
    ApplyGains();
    return DS_OK;
  }

  HRESULT SetFrequency(DWORD frequency) override {
    if ((flags_ & DSBCAPS_CTRLFREQUENCY) == 0) return DSERR_CONTROLUNAVAIL;
    if (frequency != DSBFREQUENCY_ORIGINAL &&
        (frequency < DSBFREQUENCY_MIN || frequency > DSBFREQUENCY_MAX)) {
      return DSERR_INVALIDPARAM;
    }
    std::lock_guard<std::mutex> control(control_);
    const DWORD rate = frequency == DSBFREQUENCY_ORIGINAL ? format_.nSamplesPerSec : frequency;
    if (!Lost()) {
      // The stream plays the frames unchanged until another rate is asked
      // for; then a stream that can change its rate takes over.
      if (!variable_rate_ && rate != format_.nSamplesPerSec && !UseVariableRate()) {
        return DSERR_GENERIC;
      }
      if (variable_rate_ && !stream_->SetRate(rate) && !Lost()) return DSERR_GENERIC;
    }
    frequency_ = frequency;
    return DS_OK;
  }

  HRESULT Stop() override {
    std::lock_guard<std::mutex> control(control_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      playing_ = false;
    }
    stream_->Stop();
    // What was on its way is dropped; playing goes on from where the sound stopped.
    Reposition([this] { return PlayCursor(); });
    return DS_OK;
  }

  HRESULT Restore() override { return Lost() ? DSERR_BUFFERLOST : DS_OK; }

 private:
  struct Region {
    DWORD offset = 0;
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> second;
  };

  DWORD Size() const { return static_cast<DWORD>(ring_.size()); }

  bool Lost() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_;
  }

  // With `mutex_` held: what passed the play cursor and is not yet heard.
  DWORD Held() const { return playing_ ? static_cast<DWORD>(fetched_ - consumed_) : 0; }

  // With `mutex_` held.
  DWORD PlayCursor() const {
    const std::uint64_t played = fetched_ > anchor_total_ ? fetched_ - anchor_total_ : 0;
    return static_cast<DWORD>((anchor_position_ + played) % ring_.size());
  }

  PlaybackCallbacks Callbacks() {
    PlaybackCallbacks callbacks;
    callbacks.pull = [this](std::uint8_t* data, std::size_t bytes) { return OnPull(data, bytes); };
    callbacks.consumed = [this](std::uint64_t total, std::uint64_t in_device) {
      OnConsumed(total, in_device);
    };
    callbacks.lost = [this] { OnLost(); };
    return callbacks;
  }

  // With `control_` held: a stream for the buffer, null when the output is
  // not there (or the back-end refuses it).
  std::unique_ptr<PlaybackStream> OpenStream(bool variable_rate) {
    if (!device_->backend) return nullptr;
    PcmFormat pcm{format_.nSamplesPerSec, format_.wBitsPerSample, format_.nChannels};
    PlaybackOptions options;
    const std::size_t frame = format_.nBlockAlign;
    const std::size_t ahead = std::size_t{format_.nAvgBytesPerSec} * kSoundBufferLatencyMs / 1000;
    options.latency_bytes = std::max(frame, std::min(ahead, ring_.size() / 2) / frame * frame);
    options.variable_rate = variable_rate;
    options.channel_map = channel_map_;
    return device_->backend->OpenPlayback(device_->endpoint_id, pcm, options, Callbacks(), nullptr);
  }

  // With `control_` held: replaces the stream by one that can change its
  // rate. It goes on from the play cursor: what the old stream had taken but
  // not yet given to the output is handed out again; what was in the output
  // is not heard. False, and the old stream plays on, when there is none.
  bool UseVariableRate() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holding_ = true;
    }
    std::unique_ptr<PlaybackStream> fresh = OpenStream(true);
    if (!fresh) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = false;
      }
      stream_->Wake();
      return false;
    }
    stream_.reset();
    bool playing = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const DWORD position = PlayCursor();
      pulled_ = consumed_ = fetched_ = anchor_total_ = 0;
      anchor_position_ = read_ = position;
      if (!looping_) end_ = Size() - read_;
      holding_ = false;
      playing = playing_;
    }
    stream_ = std::move(fresh);
    variable_rate_ = true;
    ApplyGains();
    if (playing) stream_->Start();
    stream_->Wake();
    return true;
  }

  // With `control_` held: drops what the stream holds and goes on from the
  // position `where` gives (asked with `mutex_` held, after the drop).
  template <typename Where>
  void Reposition(Where where) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holding_ = true;
    }
    stream_->Flush();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const DWORD position = where();
      // The flush counts what it dropped as consumed.
      consumed_ = fetched_ = std::max(consumed_, pulled_);
      anchor_total_ = pulled_;
      anchor_position_ = read_ = position;
      if (!looping_) end_ = pulled_ + (Size() - read_);
      holding_ = false;
    }
    stream_->Wake();
  }

  // With `control_` held.
  void ApplyGains() {
    // A pan lowers the other side.
    const double left = Gain(volume_ - std::max<LONG>(0, pan_));
    const double right = Gain(volume_ + std::min<LONG>(0, pan_));
    stream_->SetVolume(left, right);
  }

  // The back-end's callbacks.
  std::size_t OnPull(std::uint8_t* data, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!playing_ || lost_ || holding_) return 0;
    const std::size_t size = ring_.size();
    if (end_ != UINT64_MAX) bytes = std::min<std::uint64_t>(bytes, end_ - pulled_);
    bytes = bytes / format_.nBlockAlign * format_.nBlockAlign;
    std::size_t done = 0;
    while (done < bytes) {
      const std::size_t take = std::min(bytes - done, size - read_);
      std::memcpy(data + done, ring_.data() + read_, take);
      done += take;
      read_ = static_cast<DWORD>((read_ + take) % size);
    }
    pulled_ += done;
    return done;
  }

  void OnConsumed(std::uint64_t total, std::uint64_t in_device) {
    std::lock_guard<std::mutex> lock(mutex_);
    consumed_ = std::max(consumed_, total);
    // The play cursor never goes back, also when the output says it holds less.
    fetched_ = std::max({fetched_, consumed_, std::min(pulled_, consumed_ + in_device)});
    // Played once to the end: the buffer stops there.
    if (playing_ && !looping_ && consumed_ >= end_) playing_ = false;
  }

  void OnLost() {
    std::lock_guard<std::mutex> lock(mutex_);
    lost_ = true;
    playing_ = false;
  }

  const std::shared_ptr<SoundDevice> device_;
  const DWORD flags_;
  WAVEFORMATEX format_;
  std::vector<ChannelPosition> channel_map_;

  std::mutex control_;  // serialises the stream's calls; never taken inside the callbacks
  std::unique_ptr<PlaybackStream> stream_;
  LONG volume_ = 0;
  LONG pan_ = 0;
  DWORD frequency_ = DSBFREQUENCY_ORIGINAL;
  bool variable_rate_ = false;  // the stream can change its rate

  std::mutex mutex_;  // everything below; the stream's callbacks take it
  std::vector<std::uint8_t> ring_;
  std::list<Region> locks_;
  bool playing_ = false;
  bool looping_ = false;
  bool holding_ = false;  // a repositioning is under way: nothing is handed out
  bool lost_ = false;
  DWORD read_ = 0;                  // the next byte to hand to the stream
  std::uint64_t pulled_ = 0;        // bytes handed to the stream since it opened
  std::uint64_t consumed_ = 0;      // of those, bytes heard (or dropped)
  std::uint64_t fetched_ = 0;       // bytes the output took: at the play cursor
  std::uint64_t anchor_total_ = 0;  // see the top of the file
  DWORD anchor_position_ = 0;
  std::uint64_t end_ = UINT64_MAX;  // played once: `pulled_` at the end of the buffer
};

}  // namespace

DWORD OutputLatencyBytes(IDirectSoundBuffer* buffer) {
  return buffer != nullptr ? buffer->HeldByOutput() : 0;
}

HRESULT CreateSecondaryBuffer(const std::shared_ptr<SoundDevice>& device, const DSBUFFERDESC& desc,
                              IDirectSoundBuffer** buffer) {
  *buffer = nullptr;
  if ((desc.dwFlags & (DSBCAPS_CTRL3D | DSBCAPS_CTRLFX)) != 0) return DSERR_CONTROLUNAVAIL;
  if ((desc.dwFlags & ~kKnownFlags) != 0) return DSERR_INVALIDPARAM;
  if (desc.lpwfxFormat == nullptr) return DSERR_INVALIDPARAM;
  if (!SoundBufferFormat(*desc.lpwfxFormat)) return DSERR_BADFORMAT;
  if (desc.dwBufferBytes < DSBSIZE_MIN || desc.dwBufferBytes > DSBSIZE_MAX) {
    return DSERR_INVALIDPARAM;
  }
  const DWORD block = desc.lpwfxFormat->nBlockAlign;
  const DWORD size = desc.dwBufferBytes / block * block;
  if (size == 0) return DSERR_INVALIDPARAM;
  auto* created = new SecondaryBuffer(device, desc.dwFlags, *desc.lpwfxFormat, size);
  if (!created->Open()) {
    created->Release();
    return DSERR_NODRIVER;
  }
  *buffer = created;
  return DS_OK;
}

}  // namespace platform
