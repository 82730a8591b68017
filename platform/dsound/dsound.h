#pragma once

// Sound-buffer devices over the process's audio back-end (platform/audio).
//
// A device object stands for one output: the primary device (no identifier:
// the default output) or an output named by the identifier enumeration gave
// it. Its secondary buffers are rings of sound that play, looping or once,
// on a playback stream of their own; the play cursor is where the device has
// got to in what it took from the stream (the sound server's or the virtual
// clock's consumption; an output with a latency of its own plays that later,
// see OutputLatencyBytes), the write cursor is where the buffer hands data to
// the back-end next, a little (about 30 ms) ahead. Data before the write
// cursor and after the play cursor is on its way: changing it changes
// nothing heard. The primary buffer holds the output format; the server
// mixes, so it plays nothing itself.
//
// Objects are created with one reference; the last Release deletes them. A
// buffer keeps what it needs of its device, so buffers and device may be
// released in any order. Every call is thread-safe, and none blocks on the
// GUI thread.
//
// An output that goes away loses its secondary buffers: they stop, and Play,
// Lock, GetCurrentPosition and Restore give DSERR_BUFFERLOST, GetStatus
// DSBSTATUS_BUFFERLOST; everything needed to release them (Stop, Unlock,
// SetCurrentPosition, SetVolume, SetPan, SetFrequency, GetFormat, GetCaps,
// Release) goes on working. Creating a device or a secondary buffer for an
// output that is not there gives DSERR_NODRIVER.

#include <atomic>

#include "platform/dsound/dsound_types.h"

namespace platform {

// Reference counting of the sound objects.
class SoundObject {
 public:
  ULONG AddRef();
  // Deletes the object when the last reference goes; returns what is left.
  ULONG Release();

 protected:
  SoundObject() = default;
  virtual ~SoundObject() = default;
  SoundObject(const SoundObject&) = delete;
  SoundObject& operator=(const SoundObject&) = delete;

 private:
  std::atomic<ULONG> references_{1};
};

}  // namespace platform

class IDirectSoundBuffer : public platform::SoundObject {
 public:
  // dwSize must be sizeof(DSBCAPS). The flags given at creation and the size.
  virtual HRESULT GetCaps(LPDSBCAPS caps) = 0;
  // Either pointer may be null. Stopped, both are the play cursor.
  virtual HRESULT GetCurrentPosition(DWORD* play, DWORD* write) = 0;
  // The format record (18 bytes); with a null format only *written (the size
  // needed) is set.
  virtual HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, DWORD* written) = 0;
  virtual HRESULT GetVolume(LONG* volume) = 0;
  virtual HRESULT GetPan(LONG* pan) = 0;
  virtual HRESULT GetFrequency(DWORD* frequency) = 0;
  virtual HRESULT GetStatus(DWORD* status) = 0;
  // Locks `bytes` from `offset` (DSBLOCK_FROMWRITECURSOR: from the write
  // cursor; DSBLOCK_ENTIREBUFFER: the whole size) for writing. A region that
  // runs past the end wraps to the start: the second part is the rest (null,
  // 0 when it does not wrap). What is written reaches the buffer at Unlock.
  virtual HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* part1, DWORD* bytes1, LPVOID* part2,
                       DWORD* bytes2, DWORD flags) = 0;
  // Plays from the play cursor; DSBPLAY_LOOPING wraps at the end, else the
  // buffer stops there. Priority must be 0.
  virtual HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) = 0;
  // Moves both cursors; what was on its way is dropped.
  virtual HRESULT SetCurrentPosition(DWORD position) = 0;
  // The primary buffer's output format (DSSCL_PRIORITY or higher); a
  // secondary buffer's format is fixed (DSERR_INVALIDCALL).
  virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;
  // DSBVOLUME_MIN ... DSBVOLUME_MAX, applied to both sides (DSBCAPS_CTRLVOLUME).
  virtual HRESULT SetVolume(LONG volume) = 0;
  // DSBPAN_LEFT ... DSBPAN_RIGHT: the other side is lowered by as many
  // hundredths of a decibel (DSBCAPS_CTRLPAN).
  virtual HRESULT SetPan(LONG pan) = 0;
  // DSBFREQUENCY_MIN ... DSBFREQUENCY_MAX frames per second, or
  // DSBFREQUENCY_ORIGINAL for the format's: the buffer is played at that rate
  // and resampled to the output (DSBCAPS_CTRLFREQUENCY).
  virtual HRESULT SetFrequency(DWORD frequency) = 0;
  // Stops at once; the play cursor stays where the sound stopped.
  virtual HRESULT Stop() = 0;
  // The parts Lock gave, with the bytes written to each.
  virtual HRESULT Unlock(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) = 0;
  // DSERR_BUFFERLOST when the output went away: a lost buffer stays lost.
  virtual HRESULT Restore() = 0;
  // What platform::OutputLatencyBytes answers for this buffer.
  virtual DWORD HeldByOutput() { return 0; }
  // The play cursor, as GetCurrentPosition gives it, and with it the bytes
  // past the cursor that the output still holds, where the output measures
  // them (a sound server's timing); 0 where it can only estimate them.
  virtual HRESULT GetCursorAndHeld(DWORD* play, DWORD* held) {
    *held = 0;
    return GetCurrentPosition(play, nullptr);
  }
};
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;

class IDirectSound : public platform::SoundObject {
 public:
  // DSBCAPS_PRIMARYBUFFER (size 0, no format) gives a primary buffer object:
  // all of a device's share its output format and playing state. Otherwise a secondary buffer of
  // dwBufferBytes (DSBSIZE_MIN ... DSBSIZE_MAX, rounded down to whole
  // frames) in lpwfxFormat (PCM, 8 or 16 bit, 1 ... 8 channels, 100 ...
  // 200000 Hz; anything else is DSERR_BADFORMAT), stopped, at position 0,
  // full volume, centred, silent (zero, 128 for 8 bit). The focus, position
  // notification and location flags are accepted and change nothing; 3D and
  // effects are DSERR_CONTROLUNAVAIL. Needs a cooperative level first
  // (DSERR_PRIOLEVELNEEDED). outer must be null.
  virtual HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer,
                                    void* outer) = 0;
  // dwSize must be sizeof(DSCAPS). Mono and stereo, 8 and 16 bit, any rate
  // in 100 ... 200000 Hz; not an emulated driver.
  virtual HRESULT GetCaps(LPDSCAPS caps) = 0;
  // DSSCL_NORMAL ... DSSCL_WRITEPRIMARY. The window is kept, for the record
  // only: every buffer plays whichever window has the focus.
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
};
using LPDIRECTSOUND = IDirectSound*;

// Creates a device object for the output `guid` names (null: the default
// output). DSERR_NODRIVER when there is no such output.
HRESULT DirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, void* outer);
// Reports the primary device (null identifier, described as the default
// output, no module name) and then every output, in the back-end's order,
// with its identifier, its name and the back-end's key as module name;
// nothing when there are no outputs. The identifier of an output stays the
// same while it exists.
HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context);

namespace platform {

// How far a secondary buffer's write cursor runs ahead of its play cursor (at
// most half the buffer).
inline constexpr unsigned kSoundBufferLatencyMs = 30;

// Bytes of a secondary buffer's sound that the output holds beyond the play
// cursor: the output's own latency (a sink's buffer, a headset's radio link),
// so that what passes the play cursor is heard this much later. 0 for
// anything else than a playing secondary buffer.
DWORD OutputLatencyBytes(IDirectSoundBuffer* buffer);

}  // namespace platform
