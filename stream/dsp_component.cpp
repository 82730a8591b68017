#include "stream/dsp_component.h"

#include <algorithm>

#include "platform/acm/acm_formats.h"

namespace {

// Only the GUI thread creates and destroys stream components.
std::vector<TMMDSPComponent*>* registry = nullptr;

}  // namespace

const TClassInfo& TMMNonVisualComponent::StaticClassInfo() {
  static const TClassInfo info = TClassInfoBuilder<TMMNonVisualComponent>(
                                     "TMMNonVisualComponent", &TComponent::StaticClassInfo())
                                     .Build();
  return info;
}

const TClassInfo& TMMCustomDSPComponent::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMCustomDSPComponent>("TMMCustomDSPComponent",
                                               &TMMNonVisualComponent::StaticClassInfo())
          .Build();
  return info;
}

const TClassInfo& TMMDSPComponent::StaticClassInfo() {
  static const TClassInfo info = TClassInfoBuilder<TMMDSPComponent>(
                                     "TMMDSPComponent", &TMMCustomDSPComponent::StaticClassInfo())
                                     .Build();
  return info;
}

bool PublishesLink(const TComponent& component, const std::string& name, TComponent** holder) {
  const TPropInfo* p = component.FindProperty(name);
  if (!p || p->kind != TPropKind::Component || !p->get) return false;
  if (holder) *holder = GetComponentProperty(component, name);
  return true;
}

const std::vector<TMMDSPComponent*>* StreamComponents() {
  return registry;
}

TMMDSPComponent::TMMDSPComponent(TComponent* owner) : TMMCustomDSPComponent(owner) {
  if (!registry) registry = new std::vector<TMMDSPComponent*>();
  registry->push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
  SetState(csDestroying, true);
  SetInput(nullptr);
  SetOutput(nullptr);
  SetPWaveFormat(nullptr);
  FreeBlock(format_);
  // The release broadcast asks this component's published links, which are
  // gone with the derived part; whoever still points here lets go now.
  for (TMMDSPComponent* c : *registry) {
    if (c == this) continue;
    if (c->input_ == this) c->StoreInputLink(nullptr, "");
    if (c->output_ == this) c->StoreOutputLink(nullptr, "");
  }
  std::erase(*registry, this);
  if (registry->empty()) {
    delete registry;
    registry = nullptr;
  }
}

bool TMMDSPComponent::HoldsFormatBack() const {
  return HasState(csLoading) || HasState(csReading) || HasState(csDestroying);
}

void TMMDSPComponent::Loaded() {
  TMMCustomDSPComponent::Loaded();
  SetPWaveFormat(format_);
}

void TMMDSPComponent::Notification(TComponent* component, TOperation operation) {
  TMMCustomDSPComponent::Notification(component, operation);
  if (operation != opRemove || !component) return;
  if (component == input_)
    SetInput(nullptr);
  else if (component == output_)
    SetOutput(nullptr);
}

void TMMDSPComponent::BroadcastRelease(TMMDSPComponent* component, TMMLinkSide side,
                                       const std::string& linkName) {
  if (!registry) return;
  // A copy: a release handler may not change the registry under the loop.
  const std::vector<TMMDSPComponent*> all = *registry;
  for (TMMDSPComponent* c : all) c->ReleaseLink(component, side, linkName);
}

void TMMDSPComponent::ReleaseLink(TMMDSPComponent* component, TMMLinkSide side,
                                  const std::string& linkName) {
  if (!component) return;
  TComponent* holder = nullptr;
  if (side == lsOutput) {
    if (input_ == component && input_link_name_ == linkName &&
        PublishesLink(*component, linkName, &holder) && holder == this)
      StoreInputLink(nullptr, "");
  } else {
    if (output_ == component && output_link_name_ == linkName &&
        PublishesLink(*component, linkName, &holder) && holder == this)
      StoreOutputLink(nullptr, "");
  }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
  if (value == input_) return;
  if (value && !CanConnectInput(value)) return;
  Stopped();
  if (input_) {
    BroadcastRelease(this, lsInput, "Input");
    StoreInputLink(nullptr, "");
    SetInputFormat(nullptr);
  }
  if (!value) return;
  BroadcastRelease(value, lsOutput, "Output");
  StoreInputLink(value, "Output");
  value->StoreOutputLink(this, "Input");
  PropagateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
  if (value == output_) return;
  if (value && !CanConnectOutput(value)) return;
  Stopped();
  if (output_) {
    TMMDSPComponent* old = output_;
    BroadcastRelease(this, lsOutput, "Output");
    old->SetInputFormat(nullptr);
    StoreOutputLink(nullptr, "");
  }
  if (!value) return;
  BroadcastRelease(value, lsInput, "Input");
  StoreOutputLink(value, "Input");
  value->StoreInputLink(this, "Output");
  PropagateFormat();
}

void TMMDSPComponent::StoreInputLink(TMMDSPComponent* component, const std::string& linkName) {
  input_ = component;
  input_link_name_ = linkName.substr(0, kMaxLinkNameLength);
}

void TMMDSPComponent::StoreOutputLink(TMMDSPComponent* component, const std::string& linkName) {
  output_ = component;
  output_link_name_ = linkName.substr(0, kMaxLinkNameLength);
}

bool TMMDSPComponent::CanConnectInput(TComponent* component) const {
  auto* c = dynamic_cast<TMMDSPComponent*>(component);
  if (!c || c == this) return false;
  if (!PublishesLink(*c, "Output") && !c->accept_as_input_) return false;
  return output_ ? output_->CanConnectInput(component) : true;
}

bool TMMDSPComponent::CanConnectOutput(TComponent* component) const {
  auto* c = dynamic_cast<TMMDSPComponent*>(component);
  if (!c || c == this) return false;
  if (!PublishesLink(*c, "Input") && !c->accept_as_output_) return false;
  return input_ ? input_->CanConnectOutput(component) : true;
}

void TMMDSPComponent::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (format != format_) {
    if (started_) Stopped();
    PWaveFormatEx copy = CopyWaveFormat(format);
    FreeBlock(format_);
    format_ = copy;
  }
  if (!HoldsFormatBack() && output_) output_->SetInputFormat(format_);
}

std::uint32_t TMMDSPComponent::ChannelMask() const {
  const WAVEFORMATEX* own = GetPWaveFormat();
  if (own == nullptr) return 0;
  if (const std::uint32_t mask = platform::ExtensibleChannelMask(*own); mask != 0) return mask;
  const WAVEFORMATEX* upstream = input_ != nullptr ? input_->GetPWaveFormat() : nullptr;
  if (upstream == nullptr || upstream->nChannels != own->nChannels) return 0;
  return input_->ChannelMask();
}

void TMMDSPComponent::SetInputFormat(const WAVEFORMATEX* format) {
  SetPWaveFormat(format);
}

void TMMDSPComponent::PropagateFormat() {
  if (HoldsFormatBack()) return;
  if (input_)
    SetInputFormat(input_->GetPWaveFormat());
  else if (output_)
    output_->SetInputFormat(format_);
}

std::int32_t TMMDSPComponent::GetBufferSize() const {
  return opened_ ? effective_buffer_size_ : buffer_size_;
}

void TMMDSPComponent::SetBufferSize(std::int32_t value) {
  if (value == buffer_size_) return;
  if (started_) Stopped();
  buffer_size_ = value;
}

void TMMDSPComponent::Opened() {
  if (opened_) return;
  // Whole sample frames, never less than one frame. A format with a zero
  // block size cannot be divided into frames and counts as none.
  if (format_ && format_->nBlockAlign > 0) {
    const std::int32_t block = format_->nBlockAlign;
    effective_buffer_size_ = std::max(buffer_size_ - buffer_size_ % block, block);
  } else {
    effective_buffer_size_ = buffer_size_;
  }
  opened_ = true;
  started_ = false;
  paused_ = false;
}

void TMMDSPComponent::Closed() {
  opened_ = false;
}

void TMMDSPComponent::Started() {
  if (opened_ && !started_) started_ = true;
}

void TMMDSPComponent::Paused() {
  paused_ = true;
}

void TMMDSPComponent::Restarted() {
  paused_ = false;
}

void TMMDSPComponent::Stopped() {
  if (!started_) return;
  started_ = false;
  paused_ = false;
}

void TMMDSPComponent::Reset() {}

void TMMDSPComponent::Looped() {}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr) {
  if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
  if (output_) output_->BufferReady(lpWaveHdr);
}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
  if (input_) input_->BufferLoad(lpWaveHdr, MoreBuffers);
}
