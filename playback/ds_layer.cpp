#include "playback/ds_layer.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "devices/wave_format.h"
#include "platform/messages/messages.h"
#include "platform/mmtimer/mmtimer.h"
#include "platform/threads/thread_messages.h"

namespace {

constexpr LONG kMuted = DSBVOLUME_MIN;
constexpr DWORD kCursorJitter = 16;
constexpr int kStartFeeds = 4;
constexpr UINT kTimerResolution = 1;

// A notification taken from a context, delivered once the lock is let go.
struct TNotice {
  PDSWaveOut context;
  DWORD kind;
  DWORD_PTR target;
  DWORD_PTR instance;
  UINT msg;
  PWaveHdr header;
};

struct TLayer {
  // Lives as long as the process: the timer thread may still come for it
  // after the last context has gone.
  std::mutex lock;
  PDSWaveOut list = nullptr;
  HWND cooperative_window = 0;
  UINT feed_timer = 0;
  int feed_users = 0;  // playing contexts
  std::atomic<bool> feeding{false};
  std::uint64_t next_token = 1;
  bool loaded = false;
  HRESULT (*create)(LPCGUID, LPDIRECTSOUND*, void*) = nullptr;
};

TLayer& Layer() {
  static auto* layer = new TLayer;
  return *layer;
}

void Deliver(const TNotice& n) {
  const auto header = reinterpret_cast<DWORD_PTR>(n.header);
  switch (n.kind) {
    case CALLBACK_FUNCTION:
      reinterpret_cast<WAVECALLBACK>(n.target)(n.context, n.msg, n.instance, header, 0);
      break;
    case CALLBACK_WINDOW:
      PostMessage(static_cast<HWND>(n.target), n.msg, reinterpret_cast<WPARAM>(n.context),
                  static_cast<LPARAM>(header));
      break;
    case CALLBACK_THREAD:
      PostThreadMessage(static_cast<DWORD>(n.target), n.msg, reinterpret_cast<WPARAM>(n.context),
                        static_cast<LPARAM>(header));
      break;
    default:
      break;
  }
}

// One call into the layer: it holds the lock. When it ends the lock is let
// go, then the timers given up are killed (a timer's callback may be waiting
// for the lock) and the notifications taken are delivered, in order.
class TLayerCall {
 public:
  TLayerCall() : guard_(Layer().lock) {}
  ~TLayerCall() { Finish(); }
  TLayerCall(const TLayerCall&) = delete;
  TLayerCall& operator=(const TLayerCall&) = delete;

  void Notify(PDSWaveOut c, UINT msg, PWaveHdr header) {
    ++c->in_flight;
    notices_.push_back({c, c->notify_kind, c->target, c->instance, msg, header});
  }
  void Kill(UINT timer) {
    if (timer) kills_.push_back(timer);
  }
  void Finish() {
    if (!guard_.owns_lock()) return;
    std::vector<TNotice> notices = std::move(notices_);
    std::vector<UINT> kills = std::move(kills_);
    guard_.unlock();
    for (UINT id : kills) timeKillEvent(id);
    for (const TNotice& n : notices) {
      Deliver(n);
      --n.context->in_flight;
    }
  }

 private:
  std::unique_lock<std::mutex> guard_;
  std::vector<TNotice> notices_;
  std::vector<UINT> kills_;
};

// The rest runs with the lock held.

bool Listed(PDSWaveOut c) {
  for (PDSWaveOut p = Layer().list; p; p = p->next)
    if (p == c) return true;
  return false;
}

bool Unlink(PDSWaveOut c) {
  for (PDSWaveOut* p = &Layer().list; *p; p = &(*p)->next) {
    if (*p == c) {
      *p = c->next;
      c->next = nullptr;
      return true;
    }
  }
  return false;
}

bool SameKey(const std::optional<GUID>& a, const std::optional<GUID>& b) {
  return a.has_value() == b.has_value() && (!a || *a == *b);
}

bool TakeFeedTimer();
void GiveFeedTimer(TLayerCall& call);

void ReleaseObjects(PDSWaveOut c) {
  if (c->secondary) c->secondary->Release();
  if (c->primary) c->primary->Release();
  if (c->device) c->device->Release();
  c->secondary = c->primary = nullptr;
  c->device = nullptr;
}

// The header leaves the layer done.
void ReturnHeader(PDSWaveOut c, PWaveHdr h, TLayerCall& call) {
  h->dwFlags |= WHDR_DONE;
  h->lpDevice = nullptr;
  call.Kill(h->dwSavedLength);
  h->dwSavedLength = 0;
  call.Notify(c, MM_WOM_DONE, h);
}

// Every header comes back done: those waiting for the play cursor, then the
// queue, in order.
void ReturnAll(PDSWaveOut c, TLayerCall& call) {
  for (const auto& p : c->pending) ReturnHeader(c, p.header, call);
  c->pending.clear();
  for (WAVEHDR* h = c->queue; h;) {
    WAVEHDR* next = h->lpNext;
    h->lpNext = nullptr;
    ReturnHeader(c, static_cast<PWaveHdr>(h), call);
    h = next;
  }
  c->queue = nullptr;
}

void MarkLost(PDSWaveOut c, TLayerCall& call) {
  if (c->lost) return;
  c->lost = true;
  ReturnAll(c, call);
}

// How far the play cursor moved from the last one seen; a cursor at most 16
// bytes behind it has not moved.
DWORD CursorAdvance(PDSWaveOut c, DWORD cursor) {
  if (cursor >= c->last_cursor) return cursor - c->last_cursor;
  if (c->last_cursor - cursor > kCursorJitter) return c->buffer_size - c->last_cursor + cursor;
  return 0;
}

// Adds what the play cursor moved to the bytes played; false (and the
// context lost) when the buffer is gone. `write` receives the write cursor.
bool UpdatePlayed(PDSWaveOut c, DWORD& cursor, TLayerCall& call, DWORD* write = nullptr) {
  if (c->lost || FAILED(c->secondary->GetCurrentPosition(&cursor, write))) {
    MarkLost(c, call);
    return false;
  }
  const DWORD advance = CursorAdvance(c, cursor);
  if (advance > 0 || cursor >= c->last_cursor) {
    c->bytes_played += advance;
    c->last_cursor = cursor;
  }
  return true;
}

void FillAll(PDSWaveOut c) {
  LPVOID p1 = nullptr, p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  if (FAILED(c->secondary->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER))) return;
  std::memset(p1, c->fill_byte, n1);
  if (p2) std::memset(p2, c->fill_byte, n2);
  c->secondary->Unlock(p1, n1, p2, n2);
}

void DoneTimerProc(UINT, UINT, DWORD_PTR token, DWORD_PTR, DWORD_PTR);

// A buffer's format, with room for the extensible header it may have been
// created with: the system's service refuses a smaller place.
HRESULT ReadFormat(IDirectSoundBuffer* buffer, WAVEFORMATEXTENSIBLE* whole) {
  return buffer->GetFormat(&whole->Format, sizeof(*whole), nullptr);
}

// Bytes played that have been heard: an output with a latency of its own
// plays what passed the play cursor that much later.
std::uint64_t BytesHeard(PDSWaveOut c) {
  return c->bytes_played -
         std::min<std::uint64_t>(c->bytes_played, platform::OutputLatencyBytes(c->secondary));
}

// Reports, in order, every waiting header whose last byte has been heard,
// and those up to `through` whatever the cursor says.
void ReportDue(PDSWaveOut c, TLayerCall& call, PWaveHdr through = nullptr) {
  bool forced = through != nullptr;
  const std::uint64_t heard = BytesHeard(c);
  while (!c->pending.empty()) {
    const auto front = c->pending.front();
    if (!forced && front.end > heard) break;
    c->pending.pop_front();
    ReturnHeader(c, front.header, call);
    if (front.header == through) forced = false;
  }
}

// Arms the one-shot timer of a waiting header; false when there is none.
bool ArmDoneTimer(PDSWaveOut c, TDSWaveOutContext::TPending& p, int delay_ms) {
  const UINT id = timeSetEvent(static_cast<UINT>(std::max(delay_ms, 1)), kTimerResolution,
                               DoneTimerProc, p.token, TIME_ONESHOT);
  p.header->lpDevice = c;
  p.header->dwSavedLength = id;
  return id != 0;
}

// A header is wholly in the buffer, its last byte `ahead` bytes in front of
// the play cursor (`end` in bytes written). It is done when it is heard: once
// the cursor passed it and the output played what it holds.
void HeaderCopied(PDSWaveOut c, PWaveHdr h, std::int64_t ahead, std::uint64_t end,
                  TLayerCall& call) {
  ahead += platform::OutputLatencyBytes(c->secondary);
  const std::int32_t bytes = static_cast<std::int32_t>(std::clamp<std::int64_t>(
      ahead, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
  int delay = MulDivTrunc(bytes, 1000, static_cast<std::int32_t>(c->bytes_per_second));
  if (c->emulated) delay += kDSEmulatedDelayMs;
  c->pending.push_back({h, end, Layer().next_token++});
  if (delay > 0 && ArmDoneTimer(c, c->pending.back(), delay)) return;
  // No timer: done at once (and those before it).
  ReportDue(c, call, h);
}

// Copies queued data into one locked part of the buffer; what is left when
// the queue runs dry is silence.
void CopyQueued(PDSWaveOut c, BYTE* dest, DWORD length, DWORD following, DWORD latency,
                TLayerCall& call) {
  while (c->queue && length > 0) {
    auto* h = static_cast<PWaveHdr>(c->queue);
    const auto copied = static_cast<DWORD>(h->reserved);
    const DWORD n = std::min(h->dwBufferLength - copied, length);
    std::memcpy(dest, h->lpData + copied, n);
    dest += n;
    length -= n;
    h->reserved = copied + n;
    if (h->reserved < h->dwBufferLength) break;
    c->queue = h->lpNext;
    h->lpNext = nullptr;
    const std::uint64_t behind = std::uint64_t{length} + following;
    HeaderCopied(c, h, static_cast<std::int64_t>(latency) - static_cast<std::int64_t>(behind),
                 c->bytes_written - behind, call);
  }
  if (length > 0) std::memset(dest, c->fill_byte, length);
}

// Bytes still to be copied from the queue.
std::uint64_t QueuedBytes(PDSWaveOut c) {
  std::uint64_t bytes = 0;
  for (const WAVEHDR* h = c->queue; h; h = h->lpNext) bytes += h->dwBufferLength - h->reserved;
  return bytes;
}

// Fills `bytes` behind the written data with silence without counting them
// as written: a feed that comes late lets the play cursor run into silence,
// not into sound it played a round before, and data queued in time still
// follows the written data without a gap.
void ClearAhead(PDSWaveOut c, DWORD bytes) {
  if (bytes == 0) return;
  LPVOID p1 = nullptr, p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  if (FAILED(c->secondary->Lock(c->write_offset, bytes, &p1, &n1, &p2, &n2, 0))) return;
  std::memset(p1, c->fill_byte, n1);
  if (p2) std::memset(p2, c->fill_byte, n2);
  c->secondary->Unlock(p1, n1, p2, n2);
}

// Copies queued data into space that has been played: a chunk when the
// queue holds one and there is room for it, else what the queue holds, so
// that a short queue never has silence put between its buffers. Silence is
// written only when the queue is empty and less than a chunk of sound is
// left in front of the play cursor, so that the buffer never plays old data.
void Feed(PDSWaveOut c, TLayerCall& call) {
  if (!c->playing || c->paused || c->lost) return;
  if (c->volume_restore_pending) {
    c->secondary->SetVolume(c->volume);
    c->volume_restore_pending = false;
  }
  DWORD cursor = 0, write = 0;
  if (!UpdatePlayed(c, cursor, call, &write)) return;
  // The device has taken everything up to the write cursor; what is written
  // there now would never be heard.
  const DWORD lead = write >= cursor ? write - cursor : c->buffer_size - cursor + write;
  if (c->bytes_played + lead > c->bytes_written) {
    // The cursors overtook what was written: go on a chunk past the write
    // cursor, so that late data follows after a gap instead of being skipped.
    // The device takes its next piece from the write cursor at any moment,
    // also while this feed writes, and would take silence instead of what
    // lands there; what lies past the written data is silence already.
    const DWORD margin = std::min(c->chunk_size, c->buffer_size / 2);
    c->bytes_written = c->bytes_played + lead + margin;
    c->write_offset = (write + margin) % c->buffer_size;
  }
  const std::uint64_t ahead = c->bytes_written - c->bytes_played;
  const std::uint64_t free = c->buffer_size - std::min<std::uint64_t>(ahead, c->buffer_size);
  const std::uint64_t chunk = c->chunk_size;
  const std::uint64_t block = c->format.nBlockAlign;
  const std::uint64_t queued = QueuedBytes(c);
  std::uint64_t bytes = 0;
  if (queued >= chunk) {
    if (free < chunk) return;
    bytes = chunk;
  } else {
    bytes = std::min(queued, free);
    if (bytes < queued) bytes -= bytes % block;
    if (bytes == queued && ahead + bytes < chunk) bytes = chunk - ahead;
    bytes = std::min((bytes + block - 1) / block * block, free);
  }
  if (bytes > 0) {
    const auto length = static_cast<DWORD>(bytes);
    LPVOID p1 = nullptr, p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    if (FAILED(c->secondary->Lock(c->write_offset, length, &p1, &n1, &p2, &n2, 0))) return;
    c->write_offset += length;
    c->bytes_written += length;
    const DWORD latency = c->write_offset >= cursor ? c->write_offset - cursor
                                                    : c->buffer_size - cursor + c->write_offset;
    CopyQueued(c, static_cast<BYTE*>(p1), n1, n2, latency, call);
    if (p2) CopyQueued(c, static_cast<BYTE*>(p2), n2, 0, latency, call);
    if (c->write_offset >= c->buffer_size) c->write_offset -= c->buffer_size;
    c->secondary->Unlock(p1, n1, p2, n2);
  }
  ClearAhead(c, static_cast<DWORD>(free - bytes));
}

void FeedTimerProc(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  TLayer& layer = Layer();
  if (layer.feeding.exchange(true)) return;
  {
    TLayerCall call;
    for (PDSWaveOut c = layer.list; c; c = c->next) Feed(c, call);
  }
  layer.feeding = false;
}

// A waiting header's time has come: it is reported once it has been heard,
// else looked at again when it should have.
void DoneTimerProc(UINT, UINT, DWORD_PTR token, DWORD_PTR, DWORD_PTR) {
  TLayerCall call;
  for (PDSWaveOut c = Layer().list; c; c = c->next) {
    auto it = std::find_if(c->pending.begin(), c->pending.end(),
                           [&](const auto& p) { return p.token == token; });
    if (it == c->pending.end()) continue;
    it->header->dwSavedLength = 0;  // this timer has ended
    DWORD cursor = 0;
    if (c->playing && !c->paused && !UpdatePlayed(c, cursor, call)) return;
    ReportDue(c, call);
    it = std::find_if(c->pending.begin(), c->pending.end(),
                      [&](const auto& p) { return p.token == token; });
    if (it == c->pending.end()) return;
    int delay = static_cast<int>(kDSFeedPeriodMs);
    if (c->playing && !c->paused)
      delay = static_cast<int>((it->end - BytesHeard(c)) * 1000 / c->bytes_per_second) + 1;
    if (!ArmDoneTimer(c, *it, delay)) ReportDue(c, call, it->header);
    return;
  }
}

bool TakeFeedTimer() {
  TLayer& layer = Layer();
  if (layer.feed_users == 0) {
    timeBeginPeriod(kTimerResolution);
    layer.feed_timer =
        timeSetEvent(kDSFeedPeriodMs, kTimerResolution, FeedTimerProc, 0, TIME_PERIODIC);
    if (!layer.feed_timer) {
      timeEndPeriod(kTimerResolution);
      return false;
    }
  }
  ++layer.feed_users;
  return true;
}

void GiveFeedTimer(TLayerCall& call) {
  TLayer& layer = Layer();
  if (layer.feed_users <= 0 || --layer.feed_users > 0) return;
  call.Kill(layer.feed_timer);
  layer.feed_timer = 0;
  timeEndPeriod(kTimerResolution);
}

// Fills the buffer from the queue and plays it, once the lock is let go.
DWORD StartPlaying(PDSWaveOut c) {
  for (int i = 0; i < kStartFeeds; ++i) {
    TLayerCall call;
    if (Listed(c)) Feed(c, call);
  }
  TLayerCall call;
  if (!Listed(c) || c->lost) return kDSFailed;
  if (FAILED(c->secondary->Play(0, 0, DSBPLAY_LOOPING))) {
    MarkLost(c, call);
    return kDSFailed;
  }
  return kDSOk;
}

void ResetLocked(PDSWaveOut c, TLayerCall& call) {
  if (c->playing) GiveFeedTimer(call);
  c->playing = false;
  c->secondary->SetVolume(kMuted);
  c->secondary->Stop();
  c->secondary->SetCurrentPosition(0);
  ReturnAll(c, call);
  c->write_offset = 0;
  c->bytes_written = c->bytes_played = 0;
  c->last_cursor = 0;
  FillAll(c);
}

}  // namespace

bool DSLoad() {
  TLayerCall call;
  TLayer& layer = Layer();
  if (!layer.loaded) {
    // The service is part of the program: it is always there.
    layer.create = DirectSoundCreate;
    layer.loaded = true;
  }
  return layer.loaded;
}

void SetCooperativeWindow(HWND window) {
  TLayerCall call;
  Layer().cooperative_window = window;
}

DWORD DSWaveOutOpen(PDSWaveOut& context, LPCGUID key, const WAVEFORMATEX* format, DWORD_PTR target,
                    DWORD_PTR instance, DWORD flags) {
  context = nullptr;
  if (!DSLoad() || !format || (flags & WAVE_ALLOWSYNC)) return kDSFailed;
  const DWORD kind = flags & CALLBACK_TYPEMASK;
  const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
  if (!query && kind != CALLBACK_NULL && target == 0) return kDSFailed;
  if (!query && kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION && kind != CALLBACK_WINDOW &&
      kind != CALLBACK_THREAD)
    return kDSFailed;
  if (format->nAvgBytesPerSec == 0 || format->nBlockAlign == 0) return kDSFailed;
  // Asked before taking the lock: the system walks its windows for it.
  const HWND fallback_window = ProcessWindowOrDesktop();

  TLayerCall call;
  TLayer& layer = Layer();
  auto* c = new TDSWaveOutContext;
  if (key) c->key = *key;
  for (PDSWaveOut p = layer.list; p; p = p->next) {
    if (SameKey(p->key, c->key)) {
      c->device = p->device;
      c->device->AddRef();
      break;
    }
  }
  if (!c->device && FAILED(layer.create(key, &c->device, nullptr))) {
    c->device = nullptr;
    delete c;
    return kDSFailed;
  }
  c->cooperative_window =
      layer.cooperative_window != 0 ? layer.cooperative_window : fallback_window;
  c->device->SetCooperativeLevel(c->cooperative_window, DSSCL_PRIORITY);

  DSCAPS caps{};
  caps.dwSize = sizeof(caps);
  if (SUCCEEDED(c->device->GetCaps(&caps))) c->emulated = (caps.dwFlags & DSCAPS_EMULDRIVER) != 0;
  c->format = *format;
  c->format.cbSize = 0;
  constexpr std::uint16_t kExtensibleFields = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= kExtensibleFields) {
    std::memcpy(&c->buffer_format, format, sizeof c->buffer_format);
    c->buffer_format.Format.cbSize = kExtensibleFields;
  } else {
    c->buffer_format.Format = c->format;
  }
  c->bytes_per_second = format->nAvgBytesPerSec;
  // 1/16 s in whole 4-byte units (and whole frames).
  c->chunk_size = (c->bytes_per_second >> 4) & ~3u;
  c->chunk_size -= c->chunk_size % format->nBlockAlign;
  c->buffer_size = c->chunk_size * (c->emulated ? 8 : 4);
  c->fill_byte = format->wBitsPerSample == 8 ? 128 : 0;

  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_STICKYFOCUS |
                 DSBCAPS_CTRLPOSITIONNOTIFY;
  if (flags & DSWAVE_CTRLVOLUME) desc.dwFlags |= DSBCAPS_CTRLVOLUME;
  if (flags & DSWAVE_CTRLPAN) desc.dwFlags |= DSBCAPS_CTRLPAN;
  if (flags & DSWAVE_CTRLFREQUENCY) desc.dwFlags |= DSBCAPS_CTRLFREQUENCY;
  desc.dwBufferBytes = c->buffer_size;
  desc.lpwfxFormat = &c->buffer_format.Format;
  bool created = c->chunk_size > 0;
  if (created && FAILED(c->device->CreateSoundBuffer(&desc, &c->secondary, nullptr))) {
    desc.dwFlags &= ~(DSBCAPS_GLOBALFOCUS | DSBCAPS_STICKYFOCUS);
    created = SUCCEEDED(c->device->CreateSoundBuffer(&desc, &c->secondary, nullptr));
  }
  if (!created) {
    c->secondary = nullptr;
    ReleaseObjects(c);
    delete c;
    return kDSFailed;
  }
  if (query) {
    ReleaseObjects(c);
    delete c;
    return kDSOk;
  }

  c->secondary->SetVolume(kMuted);
  FillAll(c);
  c->notify_kind = kind;
  c->target = target;
  c->instance = instance;
  c->next = layer.list;
  layer.list = c;
  context = c;
  call.Notify(c, MM_WOM_OPEN, nullptr);
  return kDSOk;
}

DWORD DSCreatePrimary(PDSWaveOut c, const WAVEFORMATEX* format) {
  TLayerCall call;
  if (!Listed(c) || !format || c->primary) return kDSFailed;
  for (PDSWaveOut p = Layer().list; p; p = p->next) {
    if (p == c || p->device != c->device || !p->primary) continue;
    WAVEFORMATEXTENSIBLE whole{};
    if (FAILED(ReadFormat(p->primary, &whole))) return kDSFailed;
    const WAVEFORMATEX& current = whole.Format;
    WAVEFORMATEX merged{};
    BuildPCMFormat(merged, std::max(current.wBitsPerSample, format->wBitsPerSample),
                   std::max(current.nChannels, format->nChannels),
                   std::max(current.nSamplesPerSec, format->nSamplesPerSec));
    if (FAILED(p->primary->SetFormat(&merged))) return kDSFailed;
    c->primary = p->primary;
    c->primary->AddRef();
    return kDSOk;
  }
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
  if (FAILED(c->device->CreateSoundBuffer(&desc, &c->primary, nullptr))) {
    c->primary = nullptr;
    return kDSFailed;
  }
  if (FAILED(c->primary->SetFormat(format)) || FAILED(c->primary->Play(0, 0, DSBPLAY_LOOPING)))
    return kDSFailed;
  return kDSOk;
}

DWORD DSWaveOutPrepareHeader(PDSWaveOut c, PWaveHdr header) {
  TLayerCall call;
  if (!Listed(c) || !header) return kDSFailed;
  header->dwFlags = WHDR_PREPARED;
  return kDSOk;
}

DWORD DSWaveOutUnprepareHeader(PDSWaveOut c, PWaveHdr header) {
  TLayerCall call;
  if (!Listed(c) || !header) return kDSFailed;
  std::erase_if(c->pending, [&](const auto& p) { return p.header == header; });
  for (WAVEHDR** p = &c->queue; *p; p = &(*p)->lpNext) {
    if (*p == header) {
      *p = header->lpNext;
      header->lpNext = nullptr;
      break;
    }
  }
  call.Kill(header->dwSavedLength);
  header->dwSavedLength = 0;
  header->lpDevice = nullptr;
  header->dwFlags = WHDR_DONE;
  return kDSOk;
}

DWORD DSWaveOutWrite(PDSWaveOut c, PWaveHdr header) {
  {
    TLayerCall call;
    if (!Listed(c) || !header || c->lost) return kDSFailed;
    header->reserved = 0;
    header->lpNext = nullptr;
    header->dwFlags &= ~WHDR_DONE;
    WAVEHDR** tail = &c->queue;
    while (*tail) tail = &(*tail)->lpNext;
    *tail = header;
    if (c->playing || c->paused) return kDSOk;
    if (!TakeFeedTimer()) {
      c->secondary->Stop();
      return kDSFailed;
    }
    c->volume_restore_pending = true;
    c->secondary->SetVolume(kMuted);
    c->secondary->SetCurrentPosition(0);
    c->last_cursor = 0;
    c->playing = true;
  }
  return StartPlaying(c);
}

DWORD DSWaveOutPause(PDSWaveOut c) {
  TLayerCall call;
  if (!Listed(c)) return kDSFailed;
  c->paused = true;
  c->secondary->Stop();
  c->secondary->SetVolume(kMuted);
  return kDSOk;
}

DWORD DSWaveOutRestart(PDSWaveOut c) {
  {
    TLayerCall call;
    if (!Listed(c) || !c->paused || c->lost) return kDSFailed;
    if (!c->playing && !TakeFeedTimer()) return kDSFailed;
    c->paused = false;
    c->secondary->SetVolume(c->volume);
    // After a reset the buffer starts afresh; after a pause the sound goes
    // on where it stopped, behind the data already written.
    if (c->bytes_written == 0) {
      c->secondary->SetCurrentPosition(0);
      c->last_cursor = 0;
    }
    c->playing = true;
  }
  return StartPlaying(c);
}

DWORD DSWaveOutReset(PDSWaveOut c) {
  TLayerCall call;
  if (!Listed(c)) return kDSFailed;
  ResetLocked(c, call);
  return kDSOk;
}

DWORD DSWaveOutGetPosition(PDSWaveOut c, MMTIME& time) {
  TLayerCall call;
  if (!Listed(c)) return kDSFailed;
  if (time.wType != TIME_SAMPLES) {
    time.wType = TIME_SAMPLES;
    return kDSFailed;
  }
  // The buffer's format is the one it was created with.
  const WAVEFORMATEX& format = c->format;
  DWORD cursor = 0;
  DWORD held = 0;
  if (c->lost || FAILED(c->secondary->GetCursorAndHeld(&cursor, &held))) {
    MarkLost(c, call);
    return kDSFailed;
  }
  // What was heard, where the output measures what it holds beyond the play
  // cursor; else what passed the cursor.
  std::uint64_t bytes = c->bytes_played + CursorAdvance(c, cursor);
  bytes -= std::min<std::uint64_t>(bytes, held);
  time.u.sample =
      bytes <= INT32_MAX
          ? static_cast<DWORD>(BytesToSamples(&format, static_cast<std::int32_t>(bytes)))
          : static_cast<DWORD>(bytes / format.nBlockAlign);
  return kDSOk;
}

DWORD DSWaveOutClose(PDSWaveOut c) {
  TNotice closed{};
  {
    TLayerCall call;
    if (!Unlink(c)) return kDSFailed;
    ResetLocked(c, call);
    ReleaseObjects(c);
    Layer().cooperative_window = 0;
    closed = {c, c->notify_kind, c->target, c->instance, MM_WOM_CLOSE, nullptr};
    call.Finish();
  }
  // Done notifications on their way from the timer thread go out first.
  while (c->in_flight > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  delete c;
  Deliver(closed);
  return kDSOk;
}

DWORD DSWaveOutSetVolume(PDSWaveOut c, LONG volume) {
  TLayerCall call;
  if (!Listed(c) || FAILED(c->secondary->SetVolume(volume))) return kDSFailed;
  c->volume = volume;
  return kDSOk;
}

DWORD DSWaveOutSetPan(PDSWaveOut c, LONG pan) {
  TLayerCall call;
  if (!Listed(c) || FAILED(c->secondary->SetPan(pan))) return kDSFailed;
  return kDSOk;
}

DWORD DSWaveOutSetPlayBackRate(PDSWaveOut c, DWORD frequency) {
  TLayerCall call;
  if (!Listed(c) || FAILED(c->secondary->SetFrequency(frequency))) return kDSFailed;
  return kDSOk;
}

int DSOpenContextCount() {
  TLayerCall call;
  int n = 0;
  for (PDSWaveOut p = Layer().list; p; p = p->next) ++n;
  return n;
}

bool DSFeedTimerRunning() {
  TLayerCall call;
  return Layer().feed_timer != 0;
}
