#include "platform/dsound/win32/system_sound.h"

#include "platform/dsound/win32/system_interfaces.h"
#include "platform/sysinfo/win32/system_library.h"

namespace platform {
namespace {

using win32::SystemSound;
using win32::SystemSoundBuffer;

// A system sound buffer as the platform layer's buffer object; it holds one
// reference of the system's object. The records passed on have the system's
// layouts.
class SystemBuffer : public IDirectSoundBuffer {
 public:
  explicit SystemBuffer(SystemSoundBuffer* buffer) : b_(buffer) {}
  ~SystemBuffer() override { b_->methods->Release(b_); }

  HRESULT GetCaps(LPDSBCAPS caps) override { return b_->methods->GetCaps(b_, caps); }
  HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override {
    return b_->methods->GetCurrentPosition(b_, play, write);
  }
  HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, DWORD* written) override {
    return b_->methods->GetFormat(b_, format, size, written);
  }
  HRESULT GetVolume(LONG* volume) override { return b_->methods->GetVolume(b_, volume); }
  HRESULT GetPan(LONG* pan) override { return b_->methods->GetPan(b_, pan); }
  HRESULT GetFrequency(DWORD* frequency) override {
    return b_->methods->GetFrequency(b_, frequency);
  }
  HRESULT GetStatus(DWORD* status) override { return b_->methods->GetStatus(b_, status); }
  HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* part1, DWORD* bytes1, LPVOID* part2,
               DWORD* bytes2, DWORD flags) override {
    return b_->methods->Lock(b_, offset, bytes, part1, bytes1, part2, bytes2, flags);
  }
  HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) override {
    return b_->methods->Play(b_, reserved, priority, flags);
  }
  HRESULT SetCurrentPosition(DWORD position) override {
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
  HRESULT Stop() override { return b_->methods->Stop(b_); }
  HRESULT Unlock(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) override {
    return b_->methods->Unlock(b_, part1, bytes1, part2, bytes2);
  }
  HRESULT Restore() override { return b_->methods->Restore(b_); }

 private:
  SystemSoundBuffer* b_;
};

// A system sound device as the platform layer's device object.
class SystemDevice : public IDirectSound {
 public:
  explicit SystemDevice(SystemSound* device) : d_(device) {}
  ~SystemDevice() override { d_->methods->Release(d_); }

  HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer,
                            void* outer) override {
    if (buffer == nullptr) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    SystemSoundBuffer* created = nullptr;
    const HRESULT hr = d_->methods->CreateSoundBuffer(d_, desc, &created, outer);
    if (SUCCEEDED(hr) && created != nullptr) *buffer = new SystemBuffer(created);
    return hr;
  }
  HRESULT GetCaps(LPDSCAPS caps) override { return d_->methods->GetCaps(d_, caps); }
  HRESULT SetCooperativeLevel(HWND window, DWORD level) override {
    return d_->methods->SetCooperativeLevel(d_, reinterpret_cast<void*>(window), level);
  }

 private:
  SystemSound* d_;
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
        win32::LibraryFunction(dll, "DirectSoundEnumerateA"));
    return l.create && l.enumerate ? &l : nullptr;
  }();
  return library;
}

}  // namespace

HRESULT SystemDirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, void* outer) {
  if (device == nullptr) return DSERR_INVALIDPARAM;
  *device = nullptr;
  const SoundLibrary* library = Library();
  if (!library) return DSERR_NODRIVER;
  SystemSound* created = nullptr;
  const HRESULT hr = library->create(guid, &created, outer);
  if (SUCCEEDED(hr) && created != nullptr) *device = new SystemDevice(created);
  return hr;
}

HRESULT SystemDirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
  if (callback == nullptr) return DSERR_INVALIDPARAM;
  const SoundLibrary* library = Library();
  if (!library) return DS_OK;  // no device
  return library->enumerate(reinterpret_cast<win32::SystemEnumerateCallback>(callback), context);
}

}  // namespace platform
