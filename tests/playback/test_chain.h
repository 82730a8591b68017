#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/wave_format.h"
#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "platform/threads/thread.h"
#include "playback/custom_wave_out.h"
#include "stream/dsp_component.h"

// The ends of a playback chain for the output tests.
namespace playtest {

// 44100 Hz, 16-bit stereo: 176400 bytes a second.
inline WAVEFORMATEX Stereo16() {
  WAVEFORMATEX f{};
  BuildPCMFormat(f, 16, 2, 44100);
  return f;
}

// `bytes` bytes in which every position can be told from every other one
// nearby: sample k (16 bit) holds k * 7 + 3.
inline std::vector<std::uint8_t> Pattern(std::size_t bytes) {
  std::vector<std::uint8_t> data(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    const auto sample = static_cast<std::uint16_t>((i / 2) * 7 + 3);
    data[i] = static_cast<std::uint8_t>(i % 2 ? sample >> 8 : sample & 0xFF);
  }
  return data;
}

inline std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A source as a wave file behaves: it hands out its bytes from its position,
// says MoreBuffers False with its last bytes, and, when the output asks for
// looping, ends the buffer at the end of its data with the loop mark and
// starts the next one at its beginning, until the loops asked for are done.
class TTestSource : public TMMDSPComponent {
 public:
  explicit TTestSource(TComponent* owner) : TMMDSPComponent(owner) {}

  void SetData(std::vector<std::uint8_t> data, const WAVEFORMATEX& format) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      data_ = std::move(data);
      position_ = 0;
    }
    SetPWaveFormat(&format);
  }
  void SetPosition(std::size_t byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    position_ = std::min(byte, data_.size());
  }
  std::size_t Position() {
    std::lock_guard<std::mutex> lock(mutex_);
    return position_;
  }

  void BufferLoad(PWaveHdr h, bool& more) override {
    TMMDSPComponent::BufferLoad(h, more);
    std::lock_guard<std::mutex> lock(mutex_);
    ++loads;
    const std::size_t n = std::min<std::size_t>(h->dwBufferLength, data_.size() - position_);
    if (n > 0) std::memcpy(h->lpData, data_.data() + position_, n);
    position_ += n;
    h->dwBytesRecorded = static_cast<DWORD>(n);
    more = n > 0 && position_ < data_.size();
    if (position_ < data_.size() || !h->bLooping) return;
    if (h->dwLoopCount > 0) --h->dwLoopsLeft;
    if (h->dwLoopCount != 0 && static_cast<std::int32_t>(h->dwLoopsLeft) < 0) return;
    position_ = 0;
    more = true;
    h->bLoopDone = -1;
  }

  void Opened() override { ++opened, TMMDSPComponent::Opened(); }
  void Closed() override { ++closed, TMMDSPComponent::Closed(); }
  void Started() override { ++started, TMMDSPComponent::Started(); }
  void Stopped() override { ++stopped, TMMDSPComponent::Stopped(); }
  void Reset() override { ++resets, TMMDSPComponent::Reset(); }
  void Looped() override { ++looped, TMMDSPComponent::Looped(); }

  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TTestSource>("TTestSource", &TMMDSPComponent::StaticClassInfo())
            .Ref<TMMDSPComponent>("Output", &TTestSource::GetOutput, &TTestSource::SetOutput)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  std::atomic<int> loads{0}, opened{0}, closed{0}, started{0}, stopped{0}, resets{0}, looped{0};

 private:
  std::mutex mutex_;
  std::vector<std::uint8_t> data_;
  std::size_t position_ = 0;
};

// The end of the chain: keeps every byte pushed to it and notes whether the
// pushes came on the GUI thread.
class TSink : public TMMDSPComponent {
 public:
  explicit TSink(TComponent* owner) : TMMDSPComponent(owner) {}
  void BufferReady(PWaveHdr h) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bytes_.insert(bytes_.end(), h->lpData, h->lpData + h->dwBytesRecorded);
    }
    if (!platform::IsGuiThread()) off_gui = true;
    ++buffers;
    TMMDSPComponent::BufferReady(h);
  }
  std::vector<std::uint8_t> Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TSink>("TSink", &TMMDSPComponent::StaticClassInfo())
            .Ref<TMMDSPComponent>("Input", &TSink::GetInput, &TSink::SetInput)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  std::atomic<bool> off_gui{false};
  std::atomic<int> buffers{0};

 private:
  std::mutex mutex_;
  std::vector<std::uint8_t> bytes_;
};

// Drives the virtual back-end's manual clock in 10 ms steps and lets the GUI
// thread handle its messages between the steps, for PumpMs() of real time.
// What the multimedia timer thread does runs in real time: tests of the
// DirectSound output pace the clock at about real time (10 ms a step).
class TClockDriver {
 public:
  static unsigned& PumpMs() {
    static unsigned ms = 2;
    return ms;
  }
  // Until cond holds, or 30 s of real time have passed.
  template <class Cond>
  static bool RunUntil(Cond cond) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!cond() && std::chrono::steady_clock::now() < deadline) Step();
    return cond();
  }
  static void RunFor(unsigned ms) {
    for (unsigned t = 0; t < ms; t += 10) Step();
  }
  // Lets the GUI thread handle what is posted, without moving the clock,
  // until cond holds (or 30 s have passed).
  template <class Cond>
  static bool PumpUntil(Cond cond) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!cond() && std::chrono::steady_clock::now() < deadline) WaitAndPump(2, true);
    return cond();
  }

 private:
  static void Step() {
    platform::VirtualClock::Advance(10);
    WaitAndPump(PumpMs(), true);
  }
};

// The message boxes shown while it lives, as "caption|text".
class TBoxes {
 public:
  TBoxes() {
    platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, UINT) {
      std::lock_guard<std::mutex> lock(mutex_);
      boxes_.push_back(caption + "|" + text);
      return IDOK;
    });
  }
  ~TBoxes() { platform::SetMessageBoxHook(nullptr); }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> boxes_;
};

// Whether a box ("caption|text") shows the system's message for an output
// device that went away. The wave output meets the loss either reading the
// device's position or writing the next buffer, depending on where its
// handler is when the device goes; both messages are the system's.
inline bool ShowsDeviceLost(const std::string& box, bool dsound) {
  if (dsound) return box.ends_with("|DSWaveOutWrite:\n\rUnable to write to device");
  const std::string driver = ":\n\rNo audio driver is available for this device.";
  return box.ends_with("|WaveOutGetPosition" + driver) || box.ends_with("|WaveOutWrite" + driver);
}

// Counts the notify events of an output.
struct TEvents {
  explicit TEvents(TMMCustomWaveOutComponent& out) {
    out.OnOpen = [this](TComponent*) { ++open; };
    out.OnStart = [this](TComponent*) { ++start; };
    out.OnStop = [this](TComponent*) { ++stop; };
    out.OnClose = [this](TComponent*) { ++close; };
    out.OnError = [this](TComponent*) { ++error; };
    out.OnPause = [this](TComponent*) { ++pause; };
    out.OnRestart = [this](TComponent*) { ++restart; };
  }
  std::atomic<int> open{0}, start{0}, stop{0}, close{0}, error{0}, pause{0}, restart{0};
};

// The virtual devices "Speakers" and "Headset" with the clock driven by hand.
class TVirtualOutputs {
 public:
  explicit TVirtualOutputs(unsigned pump_ms) {
    platform::EnsureToolkit();
    ok = platform::SelectAudioBackend("virtual:out=Speakers|Headset");
    Attach();
    platform::VirtualClock::SetManual(true);
    TClockDriver::PumpMs() = pump_ms;
  }
  ~TVirtualOutputs() {
    TClockDriver::PumpMs() = 2;
    platform::VirtualClock::SetManual(false);
    platform::SelectAudioBackend("virtual");
  }
  // After another back-end was selected.
  void Attach() {
    backend =
        std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
    ok = ok && backend != nullptr;
  }
  std::vector<std::uint8_t> Played(const std::string& id) { return backend->Played(id); }

  bool ok = false;
  std::shared_ptr<platform::VirtualAudioBackend> backend;
};

}  // namespace playtest
