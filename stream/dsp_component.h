#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/wave_format.h"
#include "platform/framework/component.h"
#include "platform/framework/properties.h"
#include "stream/mm_wave_hdr.h"

// The library's non-visual component: an ordinary framework component.
class TMMNonVisualComponent : public TComponent {
 public:
  explicit TMMNonVisualComponent(TComponent* owner) : TComponent(owner) {}
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

class TMMCustomDSPComponent : public TMMNonVisualComponent {
 public:
  explicit TMMCustomDSPComponent(TComponent* owner) : TMMNonVisualComponent(owner) {}
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// Which end of a link a release broadcast is about.
enum TMMLinkSide : std::uint8_t { lsInput, lsOutput };

// Longest link property name kept by StoreInputLink / StoreOutputLink.
inline constexpr std::size_t kMaxLinkNameLength = 20;

// A stream component: at most one Input (the component that feeds it) and at
// most one Output (the component it feeds). Links are symmetric: setting
// either end sets the other, and the component the re-pointed end used to
// reach drops its back reference. The wave format flows from the head of a
// chain downward, one private copy per component; device components drive
// control notifications along the chain; buffers are pushed down with
// BufferReady or pulled from upstream with BufferLoad, on the thread that the
// driving device delivers them on. Everything else runs on the GUI thread.
//
// The base publishes nothing. A concrete class publishes the links it offers,
// so that layouts can set them and the chain can ask about them:
//   .Ref<TMMDSPComponent>("Input", &T::GetInput, &T::SetInput)
//   .Ref<TMMDSPComponent>("Output", &T::GetOutput, &T::SetOutput)
class TMMDSPComponent : public TMMCustomDSPComponent {
 public:
  explicit TMMDSPComponent(TComponent* owner);
  ~TMMDSPComponent() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // After a layout was read: passes the format, held back while loading, down.
  void Loaded() override;
  // A removed Input or Output is unlinked.
  void Notification(TComponent* component, TOperation operation) override;

  // Hands the format on after a link was made.
  virtual void PropagateFormat();
  // Part of the release broadcast: drops this component's back reference to
  // component when it is that component's link of the given name.
  virtual void ReleaseLink(TMMDSPComponent* component, TMMLinkSide side,
                           const std::string& linkName);

  virtual void SetInput(TMMDSPComponent* value);
  virtual TMMDSPComponent* GetInput() const { return input_; }
  virtual void SetOutput(TMMDSPComponent* value);
  virtual TMMDSPComponent* GetOutput() const { return output_; }

  // Holds a private copy of format (none for none) and hands it to Output,
  // except while loading, reading or being destroyed.
  virtual void SetPWaveFormat(const WAVEFORMATEX* format);
  virtual PWaveFormatEx GetPWaveFormat() const { return format_; }
  // The speakers of the format's channels as a wave channel mask; 0 for the usual layout
  // for the channel count. The format's own mask when it is an extensible header, else the
  // Input's as long as the channel count stays the same on the way down (a stage that
  // converts bits or rate keeps the speakers; one that changes the channels does not).
  virtual std::uint32_t ChannelMask() const;

  // The effective size while opened, else the requested size.
  virtual std::int32_t GetBufferSize() const;
  virtual void SetBufferSize(std::int32_t value);

  // How an upstream component hands its format down.
  virtual void SetInputFormat(const WAVEFORMATEX* format);

  // Control notifications.
  virtual void Opened();
  virtual void Closed();
  virtual void Started();
  virtual void Paused();
  virtual void Restarted();
  virtual void Stopped();
  virtual void Reset();
  virtual void Looped();

  // A buffer pushed down: OnBufferReady, then Output.
  virtual void BufferReady(PWaveHdr lpWaveHdr);
  // A buffer pulled from upstream: OnBufferLoad, then Input.
  virtual void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);

  // Only record a link and the name of the link property on the other end
  // that points back here (cut to 20 characters); nobody is notified.
  virtual void StoreInputLink(TMMDSPComponent* component, const std::string& linkName);
  virtual void StoreOutputLink(TMMDSPComponent* component, const std::string& linkName);

  // Whether component may become this component's Input (Output): it must be
  // another stream component that publishes an Output (Input) link or accepts
  // being used as one, and must not lie downstream (upstream) of this one, so
  // that chains never close into a ring.
  virtual bool CanConnectInput(TComponent* component) const;
  virtual bool CanConnectOutput(TComponent* component) const;

  bool IsOpened() const { return opened_; }
  bool IsStarted() const { return started_; }
  bool IsPaused() const { return paused_; }

  bool GetAcceptAsInput() const { return accept_as_input_; }
  void SetAcceptAsInput(bool value) { accept_as_input_ = value; }
  bool GetAcceptAsOutput() const { return accept_as_output_; }
  void SetAcceptAsOutput(bool value) { accept_as_output_ = value; }
  const std::string& InputLinkName() const { return input_link_name_; }
  const std::string& OutputLinkName() const { return output_link_name_; }

  TMMBufferEvent OnBufferReady;
  TMMBufferLoadEvent OnBufferLoad;

 protected:
  // Loading, reading or being destroyed: formats are not handed on.
  bool HoldsFormatBack() const;
  // The requested size, whatever the state.
  std::int32_t RequestedBufferSize() const { return buffer_size_; }

 private:
  // ReleaseLink(component, side, name) on every registered stream component.
  static void BroadcastRelease(TMMDSPComponent* component, TMMLinkSide side,
                               const std::string& linkName);

  TMMDSPComponent* input_ = nullptr;
  TMMDSPComponent* output_ = nullptr;
  PWaveFormatEx format_ = nullptr;
  std::int32_t buffer_size_ = 2048;
  std::int32_t effective_buffer_size_ = 2048;
  bool opened_ = false;
  bool started_ = false;
  bool paused_ = false;
  bool accept_as_output_ = false;
  bool accept_as_input_ = false;
  std::string input_link_name_;
  std::string output_link_name_;
};

// Whether component publishes a link property (a component reference) of
// that name; holder gets what it holds.
bool PublishesLink(const TComponent& component, const std::string& name,
                   TComponent** holder = nullptr);

// The live stream components in creation order; null while there are none.
const std::vector<TMMDSPComponent*>* StreamComponents();
