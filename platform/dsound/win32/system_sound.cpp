#include "platform/dsound/win32/system_sound.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/acm/msacm.h"
#include "platform/dsound/win32/system_interfaces.h"
#include "platform/sysinfo/win32/system_library.h"
#include "platform/text/win32/native_wide_text.h"

namespace platform {
namespace {

using win32::SystemSound;
using win32::SystemSoundBuffer;

// How long after passing the play cursor a buffer's sound is heard: the
// service mixes ahead into its output, and the sound server holds some more.
// Under Wine, with 100 ms of latency at the sound server, the end of a sound
// was heard 40 ... 100 ms after the cursor passed it (42 runs); 150 ms leaves
// a margin.
constexpr DWORD kHeldMs = 150;

// The silent buffer that keeps a device's output running: 1/4 s.
constexpr DWORD kKeepAliveBytes = 44100;
// How long a device waits at most for its output to start (under Wine about
// 15 ms).
constexpr auto kKeepAliveStart = std::chrono::milliseconds(200);

// A system sound buffer as the platform layer's buffer object; it holds one
// reference of the system's object. The records passed on have the system's
// layouts. A buffer found lost stays lost, as dsound.h describes.
class SystemBuffer : public IDirectSoundBuffer {
 public:
  SystemBuffer(SystemSoundBuffer* buffer, std::chrono::milliseconds stalled_after)
      : b_(buffer), stalled_after_(stalled_after) {}
  ~SystemBuffer() override { b_->methods->Release(b_); }

  HRESULT GetCaps(LPDSBCAPS caps) override { return b_->methods->GetCaps(b_, caps); }
  HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_) return DSERR_BUFFERLOST;
    DWORD cursor = 0;
    const HRESULT hr = b_->methods->GetCurrentPosition(b_, &cursor, write);
    if (FAILED(hr)) return hr;
    if (Stalled(cursor)) {
      lost_ = true;
      b_->methods->Stop(b_);
      return DSERR_BUFFERLOST;
    }
    if (play) *play = cursor;
    return hr;
  }
  HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, DWORD* written) override {
    return b_->methods->GetFormat(b_, format, size, written);
  }
  HRESULT GetVolume(LONG* volume) override { return b_->methods->GetVolume(b_, volume); }
  HRESULT GetPan(LONG* pan) override { return b_->methods->GetPan(b_, pan); }
  HRESULT GetFrequency(DWORD* frequency) override {
    return b_->methods->GetFrequency(b_, frequency);
  }
  HRESULT GetStatus(DWORD* status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_ && status) {
      *status = DSBSTATUS_BUFFERLOST;
      return DS_OK;
    }
    return b_->methods->GetStatus(b_, status);
  }
  HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* part1, DWORD* bytes1, LPVOID* part2,
               DWORD* bytes2, DWORD flags) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_) return DSERR_BUFFERLOST;
    return b_->methods->Lock(b_, offset, bytes, part1, bytes1, part2, bytes2, flags);
  }
  HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_) return DSERR_BUFFERLOST;
    watching_ = false;
    return b_->methods->Play(b_, reserved, priority, flags);
  }
  HRESULT SetCurrentPosition(DWORD position) override {
    std::lock_guard<std::mutex> lock(mutex_);
    watching_ = false;
    return b_->methods->SetCurrentPosition(b_, position);
  }
  HRESULT SetFormat(const WAVEFORMATEX* format) override {
    return b_->methods->SetFormat(b_, format);
  }
  HRESULT SetVolume(LONG volume) override { return b_->methods->SetVolume(b_, volume); }
  HRESULT SetPan(LONG pan) override { return b_->methods->SetPan(b_, pan); }
  HRESULT SetFrequency(DWORD frequency) override {
    return b_->methods->SetFrequency(b_, frequency);
  }
  HRESULT Stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    watching_ = false;
    return b_->methods->Stop(b_);
  }
  HRESULT Unlock(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) override {
    return b_->methods->Unlock(b_, part1, bytes1, part2, bytes2);
  }
  HRESULT Restore() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_) return DSERR_BUFFERLOST;
    return b_->methods->Restore(b_);
  }

  // The service's play cursor is where its mixer got to; what it mixed is
  // played from the device's own buffer and the sound server's after that.
  DWORD HeldByOutput() override {
    DWORD status = 0;
    // Room for the extensible header the buffer may have been created with:
    // the service refuses a smaller one.
    WAVEFORMATEXTENSIBLE whole{};
    WAVEFORMATEX& own = whole.Format;
    if (FAILED(GetStatus(&status)) || (status & DSBSTATUS_PLAYING) == 0 ||
        FAILED(b_->methods->GetFormat(b_, &own, sizeof(whole), nullptr)) || own.nBlockAlign == 0)
      return 0;
    DWORD frequency = 0;
    if (FAILED(b_->methods->GetFrequency(b_, &frequency)) || frequency == 0)
      frequency = own.nSamplesPerSec;
    return frequency * kHeldMs / 1000 * own.nBlockAlign;
  }

 private:
  // Whether a playing buffer's play cursor has stood at `cursor` for
  // stalled_after_; holds mutex_.
  bool Stalled(DWORD cursor) {
    DWORD status = 0;
    if (FAILED(b_->methods->GetStatus(b_, &status)) || (status & DSBSTATUS_PLAYING) == 0) {
      watching_ = false;
      return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!watching_ || cursor != last_cursor_) {
      watching_ = true;
      last_cursor_ = cursor;
      moved_at_ = now;
      return false;
    }
    return now - moved_at_ >= stalled_after_;
  }

  SystemSoundBuffer* b_;
  const std::chrono::milliseconds stalled_after_;
  std::mutex mutex_;
  bool lost_ = false;
  bool watching_ = false;  // playing, with last_cursor_ seen at moved_at_
  DWORD last_cursor_ = 0;
  std::chrono::steady_clock::time_point moved_at_;
};

// A system sound device as the platform layer's device object.
class SystemDevice : public IDirectSound {
 public:
  SystemDevice(SystemSound* device, std::chrono::milliseconds stalled_after)
      : d_(device), stalled_after_(stalled_after) {}
  ~SystemDevice() override {
    if (keep_alive_) keep_alive_->methods->Release(keep_alive_);
    d_->methods->Release(d_);
  }

  HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer,
                            void* outer) override {
    if (buffer == nullptr) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    SystemSoundBuffer* created = nullptr;
    const HRESULT hr = d_->methods->CreateSoundBuffer(d_, desc, &created, outer);
    if (SUCCEEDED(hr) && created != nullptr) {
      *buffer = new SystemBuffer(created, stalled_after_);
      if (desc && (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) == 0 && !keep_alive_) KeepAlive();
    }
    return hr;
  }
  HRESULT GetCaps(LPDSCAPS caps) override { return d_->methods->GetCaps(d_, caps); }
  HRESULT SetCooperativeLevel(HWND window, DWORD level) override {
    return d_->methods->SetCooperativeLevel(d_, reinterpret_cast<void*>(window), level);
  }

 private:
  // Plays a looping buffer of silence while the device object lives. Under
  // Wine the service's output starts empty and is fed only while one of its
  // buffers plays; a sound that starts it after running dry loses its first
  // milliseconds in the sound server.
  void KeepAlive() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DSBCAPS_GLOBALFOCUS;
    desc.dwBufferBytes = kKeepAliveBytes;
    desc.lpwfxFormat = &format;
    SystemSoundBuffer* silent = nullptr;
    if (FAILED(d_->methods->CreateSoundBuffer(d_, &desc, &silent, nullptr)) || !silent) return;
    void* part1 = nullptr;
    void* part2 = nullptr;
    std::uint32_t bytes1 = 0, bytes2 = 0;
    if (SUCCEEDED(silent->methods->Lock(silent, 0, 0, &part1, &bytes1, &part2, &bytes2,
                                        DSBLOCK_ENTIREBUFFER))) {
      std::memset(part1, 0, bytes1);
      silent->methods->Unlock(silent, part1, bytes1, part2, bytes2);
    }
    if (FAILED(silent->methods->Play(silent, 0, 0, DSBPLAY_LOOPING))) {
      silent->methods->Release(silent);
      return;
    }
    keep_alive_ = silent;
    // The output starts with this silence: what is played next follows it.
    const auto limit = std::chrono::steady_clock::now() + kKeepAliveStart;
    std::uint32_t play = 0;
    while (SUCCEEDED(silent->methods->GetCurrentPosition(silent, &play, nullptr)) && play == 0 &&
           std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  SystemSound* d_;
  const std::chrono::milliseconds stalled_after_;
  SystemSoundBuffer* keep_alive_ = nullptr;
};

struct SoundLibrary {
  win32::SystemDirectSoundCreateProc create = nullptr;
  win32::SystemDirectSoundEnumerateProc enumerate = nullptr;
};

// The library's entry points, or nullptr; loaded once per process.
const SoundLibrary* Library() {
  static const SoundLibrary* library = []() -> const SoundLibrary* {
    void* dll = win32::LoadSystemLibrary("DSOUND.DLL");
    if (!dll) return nullptr;
    static SoundLibrary l;
    l.create = reinterpret_cast<win32::SystemDirectSoundCreateProc>(
        win32::LibraryFunction(dll, "DirectSoundCreate"));
    l.enumerate = reinterpret_cast<win32::SystemDirectSoundEnumerateProc>(
        win32::LibraryFunction(dll, "DirectSoundEnumerateW"));
    return l.create && l.enumerate ? &l : nullptr;
  }();
  return library;
}

}  // namespace

IDirectSound* WrapSystemDevice(win32::SystemSound* device,
                               std::chrono::milliseconds stalled_after) {
  return new SystemDevice(device, stalled_after);
}

HRESULT SystemDirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, void* outer) {
  if (device == nullptr) return DSERR_INVALIDPARAM;
  *device = nullptr;
  const SoundLibrary* library = Library();
  if (!library) return DSERR_NODRIVER;
  SystemSound* created = nullptr;
  const HRESULT hr = library->create(guid, &created, outer);
  if (SUCCEEDED(hr) && created != nullptr) *device = WrapSystemDevice(created);
  return hr;
}

HRESULT SystemDirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
  if (callback == nullptr) return DSERR_INVALIDPARAM;
  const SoundLibrary* library = Library();
  if (!library) return DS_OK;  // no device
  // The service names its devices in UTF-16; the caller is handed UTF-8.
  struct Caller {
    LPDSENUMCALLBACKA callback;
    LPVOID context;
  } caller{callback, context};
  // Called by the service on the calling thread, once per device.
  auto each = [](void* guid, const wchar_t* description, const wchar_t* module, void* c) -> int {
    const auto* to = static_cast<const Caller*>(c);
    const std::string d = description ? win32::Utf8FromWide(description) : std::string();
    const std::string m = module ? win32::Utf8FromWide(module) : std::string();
    return to->callback(static_cast<LPGUID>(guid), d.c_str(), m.c_str(), to->context);
  };
  return library->enumerate(each, &caller);
}

}  // namespace platform
