#pragma once

// The method tables of the system's sound device and sound buffer objects
// (DSOUND.DLL), in their order, with plain types: the adapters call through
// them without the system's headers (system_interfaces_check.cpp compares them
// with those headers).

#include <cstdint>

namespace platform::win32 {

struct SystemSoundBuffer;
struct SystemSoundBufferMethods {
  std::int32_t (*QueryInterface)(SystemSoundBuffer*, const void* iid, void** object);
  std::uint32_t (*AddRef)(SystemSoundBuffer*);
  std::uint32_t (*Release)(SystemSoundBuffer*);
  std::int32_t (*GetCaps)(SystemSoundBuffer*, void* caps);
  std::int32_t (*GetCurrentPosition)(SystemSoundBuffer*, std::uint32_t* play, std::uint32_t* write);
  std::int32_t (*GetFormat)(SystemSoundBuffer*, void* format, std::uint32_t size,
                            std::uint32_t* written);
  std::int32_t (*GetVolume)(SystemSoundBuffer*, std::int32_t* volume);
  std::int32_t (*GetPan)(SystemSoundBuffer*, std::int32_t* pan);
  std::int32_t (*GetFrequency)(SystemSoundBuffer*, std::uint32_t* frequency);
  std::int32_t (*GetStatus)(SystemSoundBuffer*, std::uint32_t* status);
  std::int32_t (*Initialize)(SystemSoundBuffer*, void* device, const void* desc);
  std::int32_t (*Lock)(SystemSoundBuffer*, std::uint32_t offset, std::uint32_t bytes, void** part1,
                       std::uint32_t* bytes1, void** part2, std::uint32_t* bytes2,
                       std::uint32_t flags);
  std::int32_t (*Play)(SystemSoundBuffer*, std::uint32_t reserved, std::uint32_t priority,
                       std::uint32_t flags);
  std::int32_t (*SetCurrentPosition)(SystemSoundBuffer*, std::uint32_t position);
  std::int32_t (*SetFormat)(SystemSoundBuffer*, const void* format);
  std::int32_t (*SetVolume)(SystemSoundBuffer*, std::int32_t volume);
  std::int32_t (*SetPan)(SystemSoundBuffer*, std::int32_t pan);
  std::int32_t (*SetFrequency)(SystemSoundBuffer*, std::uint32_t frequency);
  std::int32_t (*Stop)(SystemSoundBuffer*);
  std::int32_t (*Unlock)(SystemSoundBuffer*, void* part1, std::uint32_t bytes1, void* part2,
                         std::uint32_t bytes2);
  std::int32_t (*Restore)(SystemSoundBuffer*);
};
struct SystemSoundBuffer {
  const SystemSoundBufferMethods* methods;
};

struct SystemSound;
struct SystemSoundMethods {
  std::int32_t (*QueryInterface)(SystemSound*, const void* iid, void** object);
  std::uint32_t (*AddRef)(SystemSound*);
  std::uint32_t (*Release)(SystemSound*);
  std::int32_t (*CreateSoundBuffer)(SystemSound*, const void* desc, SystemSoundBuffer** buffer,
                                    void* outer);
  std::int32_t (*GetCaps)(SystemSound*, void* caps);
  std::int32_t (*DuplicateSoundBuffer)(SystemSound*, SystemSoundBuffer* original,
                                       SystemSoundBuffer** duplicate);
  std::int32_t (*SetCooperativeLevel)(SystemSound*, void* window, std::uint32_t level);
  std::int32_t (*Compact)(SystemSound*);
  std::int32_t (*GetSpeakerConfig)(SystemSound*, std::uint32_t* config);
  std::int32_t (*SetSpeakerConfig)(SystemSound*, std::uint32_t config);
  std::int32_t (*Initialize)(SystemSound*, const void* guid);
};
struct SystemSound {
  const SystemSoundMethods* methods;
};

// The library's entry points.
using SystemDirectSoundCreateProc = std::int32_t (*)(const void* guid, SystemSound** device,
                                                     void* outer);
// The wide-character enumeration: description and module name in UTF-16.
using SystemEnumerateCallback = int (*)(void* guid, const wchar_t* description,
                                        const wchar_t* module, void* context);
using SystemDirectSoundEnumerateProc = std::int32_t (*)(SystemEnumerateCallback callback,
                                                        void* context);

}  // namespace platform::win32
