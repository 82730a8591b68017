#include "platform/dsound/dsound.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/wave/wave_caps.h"
#include "tests/platform/wave_test_support.h"

namespace {

using platform::VirtualClock;

struct Entry {
  bool has_guid;
  GUID guid;
  std::string description;
  std::string module;
};

std::vector<Entry> Enumerate(std::size_t stop_after = 100) {
  struct Context {
    std::vector<Entry> entries;
    std::size_t stop_after;
  } context{{}, stop_after};
  auto callback = [](LPGUID guid, LPCSTR description, LPCSTR module, LPVOID user) -> BOOL {
    auto* c = static_cast<Context*>(user);
    c->entries.push_back({guid != nullptr, guid ? *guid : GUID{}, description, module});
    return c->entries.size() < c->stop_after ? TRUE : FALSE;
  };
  EXPECT_EQ(DirectSoundEnumerateA(callback, &context), DS_OK);
  return context.entries;
}

using wavetest::Extensible;
using wavetest::Pcm;

// Releases a sound object at the end of a scope.
struct Releaser {
  void operator()(platform::SoundObject* object) const { object->Release(); }
};
template <typename T>
using Ref = std::unique_ptr<T, Releaser>;

class DirectSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:out=Speakers|Headset", &reason)) << reason;
    backend =
        std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
    ASSERT_NE(backend, nullptr);
    VirtualClock::SetManual(true);
  }
  void TearDown() override { VirtualClock::SetManual(false); }

  // A device with its cooperative level set, for entry `index` of the enumeration.
  Ref<IDirectSound> Device(std::size_t index) {
    std::vector<Entry> entries = Enumerate();
    IDirectSound* ds = nullptr;
    EXPECT_EQ(DirectSoundCreate(entries.at(index).has_guid ? &entries[index].guid : nullptr, &ds,
                                nullptr),
              DS_OK);
    EXPECT_EQ(ds->SetCooperativeLevel(0, DSSCL_PRIORITY), DS_OK);
    return Ref<IDirectSound>(ds);
  }
  Ref<IDirectSoundBuffer> Buffer(IDirectSound* ds, WAVEFORMATEX f, DWORD bytes, DWORD flags) {
    return Buffer(ds, &f, bytes, flags);
  }
  // A buffer of a format record with the extra bytes cbSize tells of.
  Ref<IDirectSoundBuffer> Buffer(IDirectSound* ds, WAVEFORMATEX* f, DWORD bytes, DWORD flags) {
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = flags;
    desc.dwBufferBytes = bytes;
    desc.lpwfxFormat = f;
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    return Ref<IDirectSoundBuffer>(buffer);
  }
  // Writes `bytes` at `offset` through Lock and Unlock.
  static void Write(IDirectSoundBuffer* b, DWORD offset, const std::vector<std::uint8_t>& bytes) {
    LPVOID p1 = nullptr, p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    ASSERT_EQ(b->Lock(offset, static_cast<DWORD>(bytes.size()), &p1, &n1, &p2, &n2, 0), DS_OK);
    ASSERT_EQ(n1 + n2, bytes.size());
    std::memcpy(p1, bytes.data(), n1);
    if (n2 > 0) std::memcpy(p2, bytes.data() + n1, n2);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
  }
  static std::pair<DWORD, DWORD> Cursors(IDirectSoundBuffer* b) {
    DWORD play = 0, write = 0;
    EXPECT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
    return {play, write};
  }

  std::shared_ptr<platform::VirtualAudioBackend> backend;
};

std::vector<std::uint8_t> Ramp(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return bytes;
}

TEST_F(DirectSoundTest, EnumerationDevicesAndThePrimaryBuffer) {
  std::vector<Entry> entries = Enumerate();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_FALSE(entries[0].has_guid);
  EXPECT_EQ(entries[0].description, platform::kWaveOutMapperName);
  EXPECT_EQ(entries[0].module, "");
  EXPECT_EQ(entries[1].description, "Speakers");
  EXPECT_EQ(entries[1].module, "out:0");
  EXPECT_EQ(entries[2].description, "Headset");
  EXPECT_FALSE(entries[1].guid == entries[2].guid);
  // The same identifiers every time; FALSE from the callback ends the list.
  EXPECT_TRUE(Enumerate()[2].guid == entries[2].guid);
  EXPECT_EQ(Enumerate(1).size(), 1u);
  EXPECT_EQ(DirectSoundEnumerateA(nullptr, nullptr), DSERR_INVALIDPARAM);

  IDirectSound* ds = nullptr;
  GUID unknown = entries[1].guid;
  unknown.Data1 ^= 1;
  EXPECT_EQ(DirectSoundCreate(&unknown, &ds, nullptr), DSERR_NODRIVER);
  EXPECT_EQ(ds, nullptr);
  EXPECT_EQ(DirectSoundCreate(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
  int outer = 0;
  EXPECT_EQ(DirectSoundCreate(nullptr, &ds, &outer), DSERR_NOAGGREGATION);
  ASSERT_EQ(DirectSoundCreate(&entries[2].guid, &ds, nullptr), DS_OK);
  Ref<IDirectSound> device(ds);

  DSCAPS caps{};
  EXPECT_EQ(device->GetCaps(&caps), DSERR_INVALIDPARAM);  // dwSize not set
  caps.dwSize = sizeof(caps);
  ASSERT_EQ(device->GetCaps(&caps), DS_OK);
  EXPECT_EQ(caps.dwFlags & DSCAPS_EMULDRIVER, 0u);
  EXPECT_EQ(caps.dwFlags & (DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY16BIT),
            DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY16BIT);
  EXPECT_EQ(caps.dwMaxSecondarySampleRate, DSBFREQUENCY_MAX);

  // No buffer before a cooperative level.
  DSBUFFERDESC primary{};
  primary.dwSize = sizeof(primary);
  primary.dwFlags = DSBCAPS_PRIMARYBUFFER;
  IDirectSoundBuffer* buffer = nullptr;
  EXPECT_EQ(device->CreateSoundBuffer(&primary, &buffer, nullptr), DSERR_PRIOLEVELNEEDED);
  EXPECT_EQ(device->SetCooperativeLevel(0, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(device->SetCooperativeLevel(0, 5), DSERR_INVALIDPARAM);
  ASSERT_EQ(device->SetCooperativeLevel(0, DSSCL_NORMAL), DS_OK);
  ASSERT_EQ(device->CreateSoundBuffer(&primary, &buffer, nullptr), DS_OK);
  Ref<IDirectSoundBuffer> first(buffer);
  WAVEFORMATEX cd = Pcm(44100, 16, 2);
  EXPECT_EQ(first->SetFormat(&cd), DSERR_PRIOLEVELNEEDED);
  ASSERT_EQ(device->SetCooperativeLevel(0, DSSCL_PRIORITY), DS_OK);
  WAVEFORMATEX bad = Pcm(44100, 24, 2);
  EXPECT_EQ(first->SetFormat(&bad), DSERR_BADFORMAT);
  ASSERT_EQ(first->SetFormat(&cd), DS_OK);
  // Every primary buffer object of the device shows the same format and state.
  ASSERT_EQ(device->CreateSoundBuffer(&primary, &buffer, nullptr), DS_OK);
  Ref<IDirectSoundBuffer> second(buffer);
  WAVEFORMATEX got{};
  DWORD written = 0;
  ASSERT_EQ(second->GetFormat(&got, sizeof(got), &written), DS_OK);
  EXPECT_EQ(written, 18u);
  EXPECT_EQ(std::memcmp(&got, &cd, sizeof(got)), 0);
  EXPECT_EQ(second->Play(0, 0, 0), DSERR_INVALIDPARAM);  // only looping
  ASSERT_EQ(second->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  DWORD status = 0;
  ASSERT_EQ(first->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  EXPECT_EQ(first->Lock(0, 4, nullptr, nullptr, nullptr, nullptr, 0), DSERR_INVALIDCALL);
  EXPECT_EQ(first->SetVolume(0), DSERR_CONTROLUNAVAIL);
  primary.dwBufferBytes = 100;
  EXPECT_EQ(device->CreateSoundBuffer(&primary, &buffer, nullptr), DSERR_INVALIDPARAM);

  // Secondary buffers that cannot be made.
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwBufferBytes = 4000;
  desc.lpwfxFormat = &cd;
  EXPECT_EQ(device->CreateSoundBuffer(&desc, nullptr, nullptr), DSERR_INVALIDPARAM);
  EXPECT_EQ(device->CreateSoundBuffer(&desc, &buffer, &outer), DSERR_NOAGGREGATION);
  auto refused = [&](DSBUFFERDESC d) {
    buffer = reinterpret_cast<IDirectSoundBuffer*>(1);
    HRESULT r = device->CreateSoundBuffer(&d, &buffer, nullptr);
    EXPECT_EQ(buffer, nullptr);
    return r;
  };
  DSBUFFERDESC d = desc;
  d.lpwfxFormat = &bad;
  EXPECT_EQ(refused(d), DSERR_BADFORMAT);
  WAVEFORMATEX slow = Pcm(99, 8, 1);
  d.lpwfxFormat = &slow;
  EXPECT_EQ(refused(d), DSERR_BADFORMAT);
  d = desc;
  d.lpwfxFormat = nullptr;
  EXPECT_EQ(refused(d), DSERR_INVALIDPARAM);
  d = desc;
  d.dwBufferBytes = 3;
  EXPECT_EQ(refused(d), DSERR_INVALIDPARAM);
  d.dwBufferBytes = DSBSIZE_MAX + 1;
  EXPECT_EQ(refused(d), DSERR_INVALIDPARAM);
  d = desc;
  d.dwFlags = DSBCAPS_CTRL3D;
  EXPECT_EQ(refused(d), DSERR_CONTROLUNAVAIL);
  d.dwFlags = 0x80000000u;
  EXPECT_EQ(refused(d), DSERR_INVALIDPARAM);

  // A size is rounded down to whole frames; the format is fixed.
  d = desc;
  d.dwBufferBytes = 4003;
  d.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLPOSITIONNOTIFY;
  ASSERT_EQ(device->CreateSoundBuffer(&d, &buffer, nullptr), DS_OK);
  Ref<IDirectSoundBuffer> secondary(buffer);
  DSBCAPS bcaps{};
  bcaps.dwSize = sizeof(bcaps);
  ASSERT_EQ(secondary->GetCaps(&bcaps), DS_OK);
  EXPECT_EQ(bcaps.dwBufferBytes, 4000u);
  EXPECT_EQ(bcaps.dwFlags, d.dwFlags);
  EXPECT_EQ(secondary->SetFormat(&cd), DSERR_INVALIDCALL);
  EXPECT_EQ(secondary->GetFormat(nullptr, 0, &written), DS_OK);
  EXPECT_EQ(written, 18u);
  EXPECT_EQ(secondary->GetFormat(&got, 17, nullptr), DSERR_INVALIDPARAM);

  // Without outputs there is nothing to list or open.
  ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=Mic"));
  EXPECT_TRUE(Enumerate().empty());
  EXPECT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DSERR_NODRIVER);
}

// 8000 Hz 8-bit mono, 8 bytes per millisecond; a ring of 100 ms; the write
// cursor runs 30 ms (240 bytes) ahead.
TEST_F(DirectSoundTest, CursorsFollowWhatIsPlayedAndWrap) {
  Ref<IDirectSound> ds = Device(2);
  Ref<IDirectSoundBuffer> b = Buffer(ds.get(), Pcm(8000, 8, 1), 800, DSBCAPS_GETCURRENTPOSITION2);
  // A new buffer is silent.
  LPVOID p1 = nullptr, p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  ASSERT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
  ASSERT_EQ(n1, 800u);
  EXPECT_EQ(n2, 0u);
  EXPECT_EQ(p2, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(static_cast<std::uint8_t*>(p1),
                                      static_cast<std::uint8_t*>(p1) + 800),
            std::vector<std::uint8_t>(800, 128));
  ASSERT_EQ(b->Unlock(p1, 0, nullptr, 0), DS_OK);
  std::vector<std::uint8_t> ring = Ramp(800);
  Write(b.get(), 0, ring);

  EXPECT_EQ(Cursors(b.get()), std::make_pair(0u, 0u));
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(Cursors(b.get()), std::make_pair(0u, 240u));
  VirtualClock::Advance(50);
  EXPECT_EQ(Cursors(b.get()), std::make_pair(400u, 640u));
  VirtualClock::Advance(60);  // 880 bytes played: both cursors wrapped
  EXPECT_EQ(Cursors(b.get()), std::make_pair(80u, 320u));
  DWORD status = 0;
  ASSERT_EQ(b->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  std::vector<std::uint8_t> expected = ring;
  expected.insert(expected.end(), ring.begin(), ring.begin() + 80);
  EXPECT_EQ(backend->Played("out:1"), expected);
  EXPECT_TRUE(backend->Played("out:0").empty());

  // Stopped, the cursors stand at what was heard; what was on its way is
  // dropped, so a change written now at the play cursor is what plays next.
  ASSERT_EQ(b->Stop(), DS_OK);
  VirtualClock::Advance(100);
  EXPECT_EQ(Cursors(b.get()), std::make_pair(80u, 80u));
  ASSERT_EQ(b->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, 0u);
  // A region that runs past the end comes in two parts.
  ASSERT_EQ(b->Lock(700, 200, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(n1, 100u);
  EXPECT_EQ(n2, 100u);
  std::memset(p1, 0xEE, n1);
  std::memset(p2, 0xDD, n2);
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
  std::fill(ring.begin() + 700, ring.end(), 0xEE);
  std::fill(ring.begin(), ring.begin() + 100, 0xDD);
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  VirtualClock::Advance(10);
  expected.insert(expected.end(), ring.begin() + 80, ring.begin() + 160);
  EXPECT_EQ(backend->Played("out:1"), expected);
  // From the write cursor: the lock starts there.
  ASSERT_EQ(b->Lock(0, 8, &p1, &n1, &p2, &n2, DSBLOCK_FROMWRITECURSOR), DS_OK);
  ASSERT_EQ(b->Unlock(p1, 0, p2, 0), DS_OK);

  // A new position drops what was on its way; played once, the buffer stops
  // at its end.
  ASSERT_EQ(b->SetCurrentPosition(600), DS_OK);
  EXPECT_EQ(Cursors(b.get()), std::make_pair(600u, 40u));
  ASSERT_EQ(b->Stop(), DS_OK);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  VirtualClock::Advance(20);
  ASSERT_EQ(b->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_PLAYING);
  VirtualClock::Advance(100);
  ASSERT_EQ(b->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(Cursors(b.get()), std::make_pair(0u, 0u));
  expected.insert(expected.end(), ring.begin() + 600, ring.end());
  EXPECT_EQ(backend->Played("out:1"), expected);

  // Locks that cannot be given.
  EXPECT_EQ(b->Lock(800, 1, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 801, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(700, 200, &p1, &n1, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetCurrentPosition(800), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Play(1, 0, 0), DSERR_INVALIDPARAM);
  ASSERT_EQ(b->Lock(10, 20, &p1, &n1, &p2, &n2, 0), DS_OK);
  std::uint8_t elsewhere[4];
  EXPECT_EQ(b->Unlock(elsewhere, 4, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Unlock(p1, 21, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Unlock(p1, 20, nullptr, 0), DS_OK);
  EXPECT_EQ(b->Unlock(p1, 20, nullptr, 0), DSERR_INVALIDPARAM);  // unlocked already
}

// 1000 Hz 16-bit stereo holding 16000 on both sides.
TEST_F(DirectSoundTest, VolumePanAndFrequencyAreHeard) {
  Ref<IDirectSound> ds = Device(1);
  const DWORD controls = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;
  Ref<IDirectSoundBuffer> b = Buffer(ds.get(), Pcm(1000, 16, 2), 400, controls);
  std::vector<std::uint8_t> ring;
  for (int i = 0; i < 200; ++i) {
    ring.push_back(16000 & 0xFF);
    ring.push_back(16000 >> 8);
  }
  Write(b.get(), 0, ring);
  auto heard = [&](std::size_t frame, int channel) {
    std::vector<std::uint8_t> played = backend->Played("out:0");
    std::size_t at = frame * 4 + channel * 2;
    return static_cast<std::int16_t>(played.at(at) | (played.at(at + 1) << 8));
  };
  struct Step {
    LONG volume, pan;
    int left, right;
  };
  // -6 dB is a factor of 0.501187, -12 dB of 0.251189.
  for (Step step :
       {Step{0, 0, 16000, 16000}, Step{-600, 0, 8019, 8019}, Step{-600, 600, 4019, 8019},
        Step{0, -10000, 16000, 0}, Step{-10000, 0, 0, 0}}) {
    backend->ClearPlayed("out:0");
    ASSERT_EQ(b->SetVolume(step.volume), DS_OK);
    ASSERT_EQ(b->SetPan(step.pan), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    VirtualClock::Advance(10);
    ASSERT_EQ(b->Stop(), DS_OK);
    EXPECT_EQ(heard(9, 0), step.left) << step.volume << " " << step.pan;
    EXPECT_EQ(heard(9, 1), step.right) << step.volume << " " << step.pan;
  }
  LONG value = 1;
  ASSERT_EQ(b->GetVolume(&value), DS_OK);
  EXPECT_EQ(value, -10000);
  ASSERT_EQ(b->GetPan(&value), DS_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(b->SetVolume(1), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetVolume(-10001), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetPan(10001), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetFrequency(99), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetFrequency(200001), DSERR_INVALIDPARAM);

  // At twice its rate, set while it plays, the buffer goes on from the play
  // cursor twice as fast.
  ASSERT_EQ(b->SetVolume(0), DS_OK);
  ASSERT_EQ(b->SetCurrentPosition(0), DS_OK);
  backend->ClearPlayed("out:0");
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  VirtualClock::Advance(10);
  EXPECT_EQ(Cursors(b.get()).first, 40u);
  ASSERT_EQ(b->SetFrequency(2000), DS_OK);
  DWORD frequency = 0;
  ASSERT_EQ(b->GetFrequency(&frequency), DS_OK);
  EXPECT_EQ(frequency, 2000u);
  VirtualClock::Advance(10);
  EXPECT_EQ(Cursors(b.get()).first, 120u);
  EXPECT_EQ(backend->Played("out:0").size(), 80u);  // 40, and 80 resampled to the output's 1000 Hz
  ASSERT_EQ(b->SetFrequency(DSBFREQUENCY_ORIGINAL), DS_OK);
  ASSERT_EQ(b->GetFrequency(&frequency), DS_OK);
  EXPECT_EQ(frequency, 1000u);
  VirtualClock::Advance(10);
  EXPECT_EQ(Cursors(b.get()).first, 160u);

  // Controls that were not asked for are not there.
  Ref<IDirectSoundBuffer> plain = Buffer(ds.get(), Pcm(1000, 16, 2), 400, 0);
  EXPECT_EQ(plain->SetVolume(0), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(plain->SetPan(0), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(plain->SetFrequency(0), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(plain->GetVolume(&value), DSERR_CONTROLUNAVAIL);
}

// A buffer in an extensible PCM header plays with its channel mask's speakers
// and reports its format as plain PCM; a plain one with the wave layout.
TEST_F(DirectSoundTest, ChannelsArePlacedByTheMaskElseTheWaveLayout) {
  using P = platform::ChannelPosition;
  Ref<IDirectSound> ds = Device(1);
  WAVEFORMATEXTENSIBLE quad = Extensible(8000, 16, 4, 0x33);
  Ref<IDirectSoundBuffer> sound = Buffer(ds.get(), &quad.Format, 1600, 0);
  const std::vector<P> front_back{P::kFrontLeft, P::kFrontRight, P::kBackLeft, P::kBackRight};
  EXPECT_EQ(backend->OpenedChannelMap("out:0"), front_back);
  WAVEFORMATEX got{};
  ASSERT_EQ(sound->GetFormat(&got, sizeof got, nullptr), DS_OK);
  EXPECT_EQ(got.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(got.nChannels, 4);
  WAVEFORMATEXTENSIBLE front_center = Extensible(8000, 16, 4, 0x107);
  Ref<IDirectSoundBuffer> other = Buffer(ds.get(), &front_center.Format, 1600, 0);
  EXPECT_EQ(backend->OpenedChannelMap("out:0"),
            (std::vector<P>{P::kFrontLeft, P::kFrontRight, P::kFrontCenter, P::kBackCenter}));
  Ref<IDirectSoundBuffer> plain = Buffer(ds.get(), Pcm(8000, 16, 4), 1600, 0);
  EXPECT_EQ(backend->OpenedChannelMap("out:0"), front_back);
}

TEST_F(DirectSoundTest, OutputThatGoesAwayLosesItsBuffers) {
  std::vector<Entry> entries = Enumerate();
  Ref<IDirectSound> ds = Device(2);
  Ref<IDirectSoundBuffer> b =
      Buffer(ds.get(), Pcm(8000, 8, 1), 800, DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLFREQUENCY);
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  VirtualClock::Advance(20);
  backend->RemoveOutput("out:1");
  DWORD status = 0;
  ASSERT_EQ(b->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
  LPVOID p1 = nullptr, p2 = nullptr;
  DWORD n1 = 0, n2 = 0, play = 0;
  EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
  EXPECT_EQ(b->Lock(0, 10, &p1, &n1, &p2, &n2, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(b->GetCurrentPosition(&play, nullptr), DSERR_BUFFERLOST);
  EXPECT_EQ(b->Restore(), DSERR_BUFFERLOST);
  // What releases it still works.
  EXPECT_EQ(b->SetVolume(DSBVOLUME_MIN), DS_OK);
  EXPECT_EQ(b->SetFrequency(DSBFREQUENCY_ORIGINAL), DS_OK);
  EXPECT_EQ(b->Stop(), DS_OK);
  EXPECT_EQ(b->SetCurrentPosition(0), DS_OK);
  // The device object is still there; its output is not.
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwBufferBytes = 800;
  WAVEFORMATEX f = Pcm(8000, 8, 1);
  desc.lpwfxFormat = &f;
  IDirectSoundBuffer* buffer = nullptr;
  EXPECT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DSERR_NODRIVER);
  EXPECT_EQ(buffer, nullptr);
  IDirectSound* again = nullptr;
  EXPECT_EQ(DirectSoundCreate(&entries[2].guid, &again, nullptr), DSERR_NODRIVER);
  // The device released before its buffer: the buffer goes on by itself.
  ds.reset();
  EXPECT_EQ(b->Stop(), DS_OK);
}

}  // namespace
