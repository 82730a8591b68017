#pragma once

#include <string>
#include <vector>

#include "devices/wave_format.h"
#include "stream/dsp_component.h"
#include "stream/sound_component.h"

// Small stream components for the chain tests. Each writes the notifications
// it receives into a shared journal, with the buffer size it has then.
namespace streamtest {

inline std::vector<std::string>& Journal() {
  static std::vector<std::string> journal;
  return journal;
}

template <class Base>
class TRecording : public Base {
 public:
  using Base::Base;
  void Opened() override { Note("Opened"), Base::Opened(); }
  void Closed() override { Note("Closed"), Base::Closed(); }
  void Started() override { Note("Started"), Base::Started(); }
  void Paused() override { Note("Paused"), Base::Paused(); }
  void Restarted() override { Note("Restarted"), Base::Restarted(); }
  void Stopped() override { Note("Stopped"), Base::Stopped(); }
  void Reset() override { Note("Reset"), Base::Reset(); }
  void Looped() override { Note("Looped"), Base::Looped(); }

  // Builds a PCM format for this component: lets a layout give one.
  int GetChannels() const { return this->GetPWaveFormat() ? this->GetPWaveFormat()->nChannels : 0; }
  void SetChannels(int channels) {
    WAVEFORMATEX fmt{};
    BuildPCMFormat(fmt, 16, channels, 44100);
    this->SetPWaveFormat(&fmt);
  }

 private:
  void Note(const std::string& what) {
    Journal().push_back(this->GetName() + "." + what + "@" + std::to_string(this->GetBufferSize()));
  }
};

// A component with both links.
class TPlain : public TRecording<TMMDSPComponent> {
 public:
  using TRecording::TRecording;
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TPlain>("TPlain", &TMMDSPComponent::StaticClassInfo())
            .Creatable()
            .Ref<TMMDSPComponent>("Input", &TPlain::GetInput, &TPlain::SetInput)
            .Ref<TMMDSPComponent>("Output", &TPlain::GetOutput, &TPlain::SetOutput)
            .Int<int>("Channels", &TPlain::GetChannels, &TPlain::SetChannels)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// A source: it publishes Output only.
class THead : public TRecording<TMMDSPComponent> {
 public:
  using TRecording::TRecording;
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<THead>("THead", &TMMDSPComponent::StaticClassInfo())
            .Creatable()
            .Ref<TMMDSPComponent>("Output", &THead::GetOutput, &THead::SetOutput)
            .Int<int>("Channels", &THead::GetChannels, &THead::SetChannels)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// A sink: it publishes Input only.
class TTail : public TRecording<TMMDSPComponent> {
 public:
  using TRecording::TRecording;
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TTail>("TTail", &TMMDSPComponent::StaticClassInfo())
            .Creatable()
            .Ref<TMMDSPComponent>("Input", &TTail::GetInput, &TTail::SetInput)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// A device component with both links.
class TDevice : public TRecording<TMMCustomSoundComponent> {
 public:
  using TRecording::TRecording;
  void SetNumBuffers(std::int32_t value) override { num_buffers_ = value; }
  std::int32_t GetNumBuffers() const override { return num_buffers_; }
  void SetDeviceID(TMMDeviceId value) override { device_ = value; }
  TMMDeviceId GetDeviceID() const override { return device_; }
  void SetProductName(const std::string&) override {}
  const std::string& GetProductName() const override { return name_; }
  void SetCallBackMode(TMMCBMode value) override { mode_ = value; }
  TMMCBMode GetCallBackMode() const override { return mode_; }

  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TDevice>("TDevice", &TMMCustomSoundComponent::StaticClassInfo())
            .Creatable()
            .Ref<TMMDSPComponent>("Input", &TDevice::GetInput, &TDevice::SetInput)
            .Ref<TMMDSPComponent>("Output", &TDevice::GetOutput, &TDevice::SetOutput)
            .Int<std::int32_t>("BufferSize", &TDevice::GetBufferSize, &TDevice::SetBufferSize)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  std::int32_t num_buffers_ = 10;
  TMMDeviceId device_ = 0;
  TMMCBMode mode_ = cmWindow;
  std::string name_ = "Test device";
};

// The outer object of the test layouts.
class TChainRoot : public TComponent {
 public:
  explicit TChainRoot(TComponent* owner) : TComponent(owner) {}
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TChainRoot>("TChainRoot", &TComponent::StaticClassInfo()).Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

template <class T>
T* Make(TComponent* owner, const std::string& name) {
  auto* c = new T(owner);
  c->SetName(name);
  return c;
}

}  // namespace streamtest
