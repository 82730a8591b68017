#include "stream/sound_component.h"

#include <cstddef>

#include "platform/messages/messages.h"
#include "platform/sysinfo/platform_flags.h"

namespace {

// Longest walk worth taking: every stream component once. Links never close
// into a ring, so this only guards against a corrupted chain.
std::size_t WalkLimit() {
  const auto* all = StreamComponents();
  return all ? all->size() : 0;
}

}  // namespace

const TClassInfo& TMMCustomSoundComponent::StaticClassInfo() {
  static const TClassInfo info = TClassInfoBuilder<TMMCustomSoundComponent>(
                                     "TMMCustomSoundComponent", &TMMDSPComponent::StaticClassInfo())
                                     .Build();
  return info;
}

void TMMCustomSoundComponent::Send(TMMDSPComponent* c, TChainNotification notification) {
  switch (notification) {
    case cnOpened:
      c->Opened();
      break;
    case cnClosed:
      c->Closed();
      break;
    case cnStarted:
      c->Started();
      break;
    case cnPaused:
      c->Paused();
      break;
    case cnRestarted:
      c->Restarted();
      break;
    case cnStopped:
      c->Stopped();
      break;
    case cnReset:
      c->Reset();
      break;
    case cnLooped:
      c->Looped();
      break;
  }
}

void TMMCustomSoundComponent::NotifyChain(TChainNotification notification) {
  const std::size_t limit = WalkLimit();
  const bool closing = notification == cnClosed || notification == cnStopped;

  // Closed and Stopped reach the next device downstream first.
  if (closing) {
    std::size_t steps = 0;
    for (TMMDSPComponent* c = GetOutput(); c && steps < limit; c = c->GetOutput(), ++steps) {
      if (IsSoundDevice(c)) {
        Send(c, notification);
        break;
      }
    }
  }

  // Upstream search for the walk start.
  if (notification == cnOpened) has_upstream_device_ = false;
  TMMDSPComponent* start = this;
  {
    std::size_t steps = 0;
    for (TMMDSPComponent* c = GetInput(); c && steps < limit; c = c->GetInput(), ++steps) {
      if (IsSoundDevice(c)) {
        if (notification == cnOpened) has_upstream_device_ = true;
        start = this;
        break;
      }
      start = c;
    }
  }

  // The walk down from the start.
  const std::int32_t size = GetBufferSize();
  std::size_t steps = 0;
  for (TMMDSPComponent* c = start; c && steps <= limit; c = c->GetOutput(), ++steps) {
    if (c == this) continue;
    const bool device = IsSoundDevice(c);
    if (device && closing) break;
    if (notification == cnOpened) c->SetBufferSize(size);
    Send(c, notification);
    if (device) break;
  }

  // Last, this device's own base notification.
  switch (notification) {
    case cnOpened:
      TMMDSPComponent::Opened();
      break;
    case cnClosed:
      TMMDSPComponent::Closed();
      break;
    case cnStarted:
      TMMDSPComponent::Started();
      break;
    case cnPaused:
      TMMDSPComponent::Paused();
      break;
    case cnRestarted:
      TMMDSPComponent::Restarted();
      break;
    case cnStopped:
      TMMDSPComponent::Stopped();
      break;
    case cnReset:
      TMMDSPComponent::Reset();
      break;
    case cnLooped:
      TMMDSPComponent::Looped();
      break;
  }
}

void TMMCustomSoundComponent::Opened() {
  NotifyChain(cnOpened);
}
void TMMCustomSoundComponent::Closed() {
  NotifyChain(cnClosed);
}
void TMMCustomSoundComponent::Started() {
  NotifyChain(cnStarted);
}
void TMMCustomSoundComponent::Paused() {
  NotifyChain(cnPaused);
}
void TMMCustomSoundComponent::Restarted() {
  NotifyChain(cnRestarted);
}
void TMMCustomSoundComponent::Stopped() {
  NotifyChain(cnStopped);
}
void TMMCustomSoundComponent::Reset() {
  NotifyChain(cnReset);
}
void TMMCustomSoundComponent::Looped() {
  NotifyChain(cnLooped);
}

bool TMMCustomSoundComponent::TakesCallBackMode(TMMCBMode value, const char* caption) {
  if (value != cmCallback || IsWin95) return true;
  MessageBox(
      "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
      "Windows 95",
      caption, MB_OK);
  return false;
}
