// The primary buffer: the output format of a device. The sound server mixes
// the secondary buffers itself, so the primary buffer holds its format and
// its playing state and carries no sound of its own.

#include <cstring>

#include "platform/dsound/dsound_device.h"

namespace platform {
namespace {

class PrimaryBuffer : public IDirectSoundBuffer {
 public:
  PrimaryBuffer(std::shared_ptr<SoundDevice> device, DWORD flags)
      : device_(std::move(device)), flags_(flags) {}

  HRESULT GetCaps(LPDSBCAPS caps) override {
    if (caps == nullptr || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(device_->mutex);
    caps->dwFlags = flags_;
    // A quarter of a second of the output format.
    const WAVEFORMATEX& format = device_->primary_format;
    caps->dwBufferBytes = format.nAvgBytesPerSec / 4 / format.nBlockAlign * format.nBlockAlign;
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return DS_OK;
  }

  HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, DWORD* written) override {
    if (format == nullptr) {
      if (written == nullptr) return DSERR_INVALIDPARAM;
      *written = sizeof(WAVEFORMATEX);
      return DS_OK;
    }
    if (size < sizeof(WAVEFORMATEX)) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(device_->mutex);
    std::memcpy(format, &device_->primary_format, sizeof(WAVEFORMATEX));
    if (written != nullptr) *written = sizeof(WAVEFORMATEX);
    return DS_OK;
  }

  HRESULT SetFormat(const WAVEFORMATEX* format) override {
    if (format == nullptr) return DSERR_INVALIDPARAM;
    if (!SoundBufferFormat(*format)) return DSERR_BADFORMAT;
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (device_->level < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
    device_->primary_format = *format;
    device_->primary_format.wFormatTag = WAVE_FORMAT_PCM;
    device_->primary_format.cbSize = 0;
    return DS_OK;
  }

  HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) override {
    if (reserved != 0 || priority != 0) return DSERR_INVALIDPARAM;
    // The primary buffer only plays looping.
    if ((flags & DSBPLAY_LOOPING) == 0) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->primary_playing = true;
    return DS_OK;
  }

  HRESULT Stop() override {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->primary_playing = false;
    return DS_OK;
  }

  HRESULT GetStatus(DWORD* status) override {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(device_->mutex);
    *status = device_->primary_playing ? DSBSTATUS_PLAYING | DSBSTATUS_LOOPING : 0;
    return DS_OK;
  }

  HRESULT Restore() override { return DS_OK; }

  // The mix is the server's: nothing of it can be read or written here.
  HRESULT GetCurrentPosition(DWORD*, DWORD*) override { return DSERR_INVALIDCALL; }
  HRESULT Lock(DWORD, DWORD, LPVOID*, DWORD*, LPVOID*, DWORD*, DWORD) override {
    return DSERR_INVALIDCALL;
  }
  HRESULT Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return DSERR_INVALIDCALL; }
  HRESULT SetCurrentPosition(DWORD) override { return DSERR_INVALIDCALL; }
  HRESULT GetVolume(LONG*) override { return DSERR_CONTROLUNAVAIL; }
  HRESULT GetPan(LONG*) override { return DSERR_CONTROLUNAVAIL; }
  HRESULT GetFrequency(DWORD*) override { return DSERR_CONTROLUNAVAIL; }
  HRESULT SetVolume(LONG) override { return DSERR_CONTROLUNAVAIL; }
  HRESULT SetPan(LONG) override { return DSERR_CONTROLUNAVAIL; }
  HRESULT SetFrequency(DWORD) override { return DSERR_CONTROLUNAVAIL; }

 private:
  const std::shared_ptr<SoundDevice> device_;
  const DWORD flags_;
};

}  // namespace

IDirectSoundBuffer* NewPrimaryBuffer(const std::shared_ptr<SoundDevice>& device, DWORD flags) {
  return new PrimaryBuffer(device, flags);
}

}  // namespace platform
