#include "platform/dsound/win32/system_sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "platform/dsound/win32/system_interfaces.h"

namespace {

using platform::win32::SystemSound;
using platform::win32::SystemSoundBuffer;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A system sound buffer: its play cursor moves `step` bytes at every query
// while it plays.
struct FakeBuffer : SystemSoundBuffer {
  DSBUFFERDESC desc{};
  WAVEFORMATEX format{};
  std::vector<std::uint8_t> data;
  bool playing = false;
  bool looping = false;
  bool released = false;
  std::uint32_t cursor = 0;
  std::uint32_t step = 4;
  std::uint32_t frequency = 0;
};

FakeBuffer* Fake(SystemSoundBuffer* b) {
  return static_cast<FakeBuffer*>(b);
}

const platform::win32::SystemSoundBufferMethods* BufferMethods() {
  static const auto* methods = [] {
    static platform::win32::SystemSoundBufferMethods m{};
    m.Release = [](SystemSoundBuffer* b) -> std::uint32_t {
      Fake(b)->released = true;
      return 0;
    };
    m.GetCurrentPosition = [](SystemSoundBuffer* b, std::uint32_t* play, std::uint32_t* write) {
      FakeBuffer* f = Fake(b);
      if (f->playing && !f->data.empty())
        f->cursor = (f->cursor + f->step) % static_cast<std::uint32_t>(f->data.size());
      if (play) *play = f->cursor;
      if (write) *write = f->cursor;
      return std::int32_t{0};
    };
    m.GetFormat = [](SystemSoundBuffer* b, void* format, std::uint32_t, std::uint32_t*) {
      *static_cast<WAVEFORMATEX*>(format) = Fake(b)->format;
      return std::int32_t{0};
    };
    m.GetFrequency = [](SystemSoundBuffer* b, std::uint32_t* frequency) {
      *frequency = Fake(b)->frequency ? Fake(b)->frequency : Fake(b)->format.nSamplesPerSec;
      return std::int32_t{0};
    };
    m.GetStatus = [](SystemSoundBuffer* b, std::uint32_t* status) {
      *status =
          Fake(b)->playing ? DSBSTATUS_PLAYING | (Fake(b)->looping ? DSBSTATUS_LOOPING : 0) : 0;
      return std::int32_t{0};
    };
    m.Lock = [](SystemSoundBuffer* b, std::uint32_t, std::uint32_t, void** part1,
                std::uint32_t* bytes1, void** part2, std::uint32_t* bytes2, std::uint32_t) {
      *part1 = Fake(b)->data.data();
      *bytes1 = static_cast<std::uint32_t>(Fake(b)->data.size());
      *part2 = nullptr;
      *bytes2 = 0;
      return std::int32_t{0};
    };
    m.Unlock = [](SystemSoundBuffer*, void*, std::uint32_t, void*, std::uint32_t) {
      return std::int32_t{0};
    };
    m.Play = [](SystemSoundBuffer* b, std::uint32_t, std::uint32_t, std::uint32_t flags) {
      Fake(b)->playing = true;
      Fake(b)->looping = (flags & DSBPLAY_LOOPING) != 0;
      return std::int32_t{0};
    };
    m.Stop = [](SystemSoundBuffer* b) {
      Fake(b)->playing = false;
      return std::int32_t{0};
    };
    m.SetVolume = [](SystemSoundBuffer*, std::int32_t) { return std::int32_t{0}; };
    m.Restore = [](SystemSoundBuffer*) { return std::int32_t{0}; };
    return &m;
  }();
  return methods;
}

// A system sound device keeping every buffer it made.
struct FakeDevice : SystemSound {
  std::vector<std::unique_ptr<FakeBuffer>> buffers;
  bool released = false;
};

FakeDevice* MakeDevice() {
  static platform::win32::SystemSoundMethods m{};
  m.Release = [](SystemSound* d) -> std::uint32_t {
    static_cast<FakeDevice*>(d)->released = true;
    return 0;
  };
  m.CreateSoundBuffer = [](SystemSound* d, const void* desc, SystemSoundBuffer** buffer, void*) {
    auto fake = std::make_unique<FakeBuffer>();
    fake->methods = BufferMethods();
    fake->desc = *static_cast<const DSBUFFERDESC*>(desc);
    if (fake->desc.lpwfxFormat) fake->format = *fake->desc.lpwfxFormat;
    fake->data.assign(fake->desc.dwBufferBytes, 0x55);
    *buffer = fake.get();
    static_cast<FakeDevice*>(d)->buffers.push_back(std::move(fake));
    return std::int32_t{0};
  };
  auto* device = new FakeDevice;
  device->methods = &m;
  return device;
}

LPDIRECTSOUNDBUFFER Secondary(IDirectSound* device, WAVEFORMATEX& format) {
  format = {};
  format.wFormatTag = 1;
  format.nChannels = 2;
  format.nSamplesPerSec = 22050;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 4;
  format.nAvgBytesPerSec = 22050 * 4;
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwBufferBytes = 8820;
  desc.lpwfxFormat = &format;
  LPDIRECTSOUNDBUFFER buffer = nullptr;
  EXPECT_EQ(device->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
  return buffer;
}

TEST(SystemSound, FirstSecondaryBufferKeepsTheOutputRunningAndPlayedSoundCountsAsHeldAWhile) {
  std::unique_ptr<FakeDevice> fake(MakeDevice());
  IDirectSound* device = platform::WrapSystemDevice(fake.get());
  DSBUFFERDESC primary_desc{};
  primary_desc.dwSize = sizeof(primary_desc);
  primary_desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
  LPDIRECTSOUNDBUFFER primary = nullptr;
  ASSERT_EQ(device->CreateSoundBuffer(&primary_desc, &primary, nullptr), DS_OK);
  EXPECT_EQ(fake->buffers.size(), 1u) << "a primary buffer plays nothing of its own";

  WAVEFORMATEX format{};
  LPDIRECTSOUNDBUFFER first = Secondary(device, format);
  ASSERT_EQ(fake->buffers.size(), 3u);
  const FakeBuffer& silent = *fake->buffers[2];
  EXPECT_TRUE(silent.playing && silent.looping);
  EXPECT_NE(silent.cursor, 0u) << "the device waits for its output to start";
  for (std::uint8_t byte : silent.data) ASSERT_EQ(byte, 0);
  LPDIRECTSOUNDBUFFER second = Secondary(device, format);
  EXPECT_EQ(fake->buffers.size(), 4u) << "one silent buffer per device";

  // Played sound is heard 150 ms after it passed the play cursor, at the
  // buffer's rate; a stopped buffer holds nothing in the output.
  EXPECT_EQ(platform::OutputLatencyBytes(first), 0u);
  ASSERT_EQ(first->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(platform::OutputLatencyBytes(first), 3307u * 4);
  fake->buffers[1]->frequency = 44100;
  EXPECT_EQ(platform::OutputLatencyBytes(first), 6615u * 4);
  first->Stop();
  EXPECT_EQ(platform::OutputLatencyBytes(first), 0u);

  device->Release();
  EXPECT_TRUE(fake->released && silent.released);
  EXPECT_FALSE(fake->buffers[1]->released) << "buffers outlive their device";
  first->Release();
  second->Release();
  primary->Release();
  EXPECT_TRUE(fake->buffers[0]->released && fake->buffers[1]->released);
}

// Polls the buffer's play cursor until it reports a loss or `limit` passed.
HRESULT PollPosition(LPDIRECTSOUNDBUFFER buffer, milliseconds limit) {
  const auto end = steady_clock::now() + limit;
  DWORD play = 0, write = 0;
  HRESULT hr = DS_OK;
  while ((hr = buffer->GetCurrentPosition(&play, &write)) == DS_OK && steady_clock::now() < end)
    std::this_thread::sleep_for(milliseconds(2));
  return hr;
}

TEST(SystemSound, PlayingBufferWhosePlayCursorStandsStillIsLostForGood) {
  std::unique_ptr<FakeDevice> fake(MakeDevice());
  IDirectSound* device = platform::WrapSystemDevice(fake.get(), milliseconds(40));
  WAVEFORMATEX format{};
  LPDIRECTSOUNDBUFFER buffer = Secondary(device, format);
  FakeBuffer& system = *fake->buffers[0];

  // Moving, or stopped where it is: nothing lost.
  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(PollPosition(buffer, milliseconds(120)), DS_OK);
  buffer->Stop();
  EXPECT_EQ(PollPosition(buffer, milliseconds(120)), DS_OK);

  // Playing with the cursor standing still: lost after the time given, not
  // before; then it stays lost, and what is needed to let it go still works.
  system.step = 0;
  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  const auto start = steady_clock::now();
  EXPECT_EQ(PollPosition(buffer, milliseconds(5000)), DSERR_BUFFERLOST);
  EXPECT_GE(steady_clock::now() - start, milliseconds(40));
  EXPECT_FALSE(system.playing);
  DWORD status = 0;
  EXPECT_EQ(buffer->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
  LPVOID p1 = nullptr, p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  EXPECT_EQ(buffer->Lock(0, 4, &p1, &n1, &p2, &n2, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer->Restore(), DSERR_BUFFERLOST);
  system.step = 4;
  EXPECT_EQ(buffer->GetCurrentPosition(nullptr, nullptr), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer->SetVolume(0), DS_OK);
  EXPECT_EQ(buffer->Stop(), DS_OK);
  EXPECT_EQ(platform::OutputLatencyBytes(buffer), 0u);
  buffer->Release();
  device->Release();
}

}  // namespace
