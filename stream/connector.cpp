#include "stream/connector.h"

#include <algorithm>
#include <cstring>

#include "controls/level_tick.h"
#include "devices/mm_strings.h"
#include "devices/wave_format.h"
#include "platform/framework/application.h"
#include "platform/framework/properties.h"
#include "platform/mmtimer/mmtimer.h"
#include "platform/threads/thread.h"

namespace {

// While slices wait, a pump cycle comes once per display frame and shows
// every slice that falls due by the middle of the frame ahead, so that each
// slice reaches the screen with the frame nearest its time (rather than a
// whole frame late): the meters' logic still sees each slice, and they paint
// once per frame at most. With nothing waiting the pump sleeps until new data
// wakes it.
constexpr unsigned kFrameMs = 8;
constexpr std::int64_t kPumpLeadUs = kFrameMs * 1000 / 2;
constexpr int kMaxPassesPerCycle = 256;
constexpr UINT kTriggerTimerMs = 20;
// Buffers a connector keeps for showing: about 90 ms of a 2048-byte stream.
constexpr int kMaxPending = 8;

// What all connectors share; GUI thread only.
struct Shared {
  std::vector<TMMConnector*> list;
  std::atomic<HWND> window{0};
  int running = 0;
  // A pump cycle is posted or scheduled and has not run yet: at most one,
  // so that the cycles form a single chain. Set from any thread that wakes
  // the pump.
  std::atomic<bool> armed{false};
  std::int32_t max_speed = 1;
  bool enter_idle = false;
};

Shared& Connectors() {
  static Shared shared;
  return shared;
}

std::atomic<std::int64_t> slices_arrived{0};
std::atomic<std::int64_t> slices_shown{0};

}  // namespace

TMMConnector::TMMConnector(TComponent* owner) : TMMDSPComponent(owner) {
  if (HasState(csDesigning)) return;
  timeBeginPeriod(1);
  Shared& s = Connectors();
  if (s.list.empty()) {
    s.armed = false;
    s.window = AllocateHWnd(WindowProc);
  }
  s.list.push_back(this);
  listed_ = true;
  RecomputeMaxSpeed();
}

TMMConnector::~TMMConnector() {
  Stopped();
  if (listed_) {
    timeEndPeriod(1);
    // Messages for this connector that are still queued are ignored once it
    // has left the list; those of the other connectors and the pump stay.
    Shared& s = Connectors();
    std::erase(s.list, this);
    if (s.list.empty()) {
      // Its pending messages, the pump's among them, go with it.
      DeallocateHWnd(s.window.exchange(0));
      s.armed = false;
    }
    RecomputeMaxSpeed();
  }
  if (timer_) timeKillEvent(timer_);
}

void TMMConnector::PostStart() {
  PostMessage(Connectors().window, WM_CONNECTORSTART, 0, reinterpret_cast<LPARAM>(this));
}

int TMMConnector::RunningCount() {
  return Connectors().running;
}

int TMMConnector::PumpsPending() {
  return Connectors().armed ? 1 : 0;
}

std::int64_t TMMConnector::SlicesArrived() {
  return slices_arrived.load(std::memory_order_relaxed);
}

std::int64_t TMMConnector::SlicesShown() {
  return slices_shown.load(std::memory_order_relaxed);
}

void TMMConnector::RecomputeMaxSpeed() {
  Shared& s = Connectors();
  s.max_speed = 1;
  for (TMMConnector* c : s.list) s.max_speed = std::max(s.max_speed, c->speed_);
}

// --- properties -------------------------------------------------------------

void TMMConnector::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  if (HasState(csDesigning)) return;
  if (!v) {
    StopRunning();
    for (TMMCustomLevel* l : level_)
      if (l) l->ResetData();
  } else if (active_ && real_time_) {
    PostStart();
  }
}

void TMMConnector::SetAutoTrigger(bool v) {
  if (v == auto_trigger_) return;
  const bool designing = HasState(csDesigning);
  if (!v && !designing) StopRunning();  // while the running count still counts it
  auto_trigger_ = v;
  if (v && !designing && active_ && enabled_ && real_time_) PostStart();
  UpdateTimer();
}

void TMMConnector::SetSpeed(std::int32_t v) {
  speed_ = std::clamp(v, 1, 5000);
  RecomputeMaxSpeed();
}

void TMMConnector::SetTriggerMethod(TMMTriggerMethod v) {
  trigger_method_ = v;
  // A running connector goes on under the new method.
  if (running_) UpdateCounted();
  UpdateTimer();
}

void TMMConnector::SetRealTime(bool v) {
  if (v == real_time_) return;
  if (IsOpened()) throw EMMConnectorError(LoadMMString(kMMChangeWhileOpen));
  real_time_ = v;
}

bool TMMConnector::GetEnterIdle() const {
  return Connectors().enter_idle;
}
void TMMConnector::SetEnterIdle(bool v) {
  Connectors().enter_idle = v;
}

void TMMConnector::SetLevel(int index, TMMCustomLevel* value) {
  if (value == level_[index] || (value && value == level_[1 - index])) return;
  {
    std::lock_guard<TCriticalSection> lock(lock_);
    level_[index] = value;
    level_due_ = false;
    pending_used_ = 0;  // the new meters get data from the next buffer
  }
  if (value) {
    value->FreeNotification(this);
    UpdateDisplayFormats();
  }
}

// The 20 ms timer only matters where Trigger acts on it: without automatic
// refresh, or with refresh by timer.
void TMMConnector::UpdateTimer() {
  const bool wanted = !HasState(csDesigning) && (!auto_trigger_ || trigger_method_ == tmTimer);
  if (wanted && !timer_) {
    timer_ = timeSetEvent(kTriggerTimerMs, 1, TimerFired, reinterpret_cast<DWORD_PTR>(this),
                          TIME_PERIODIC);
  } else if (!wanted && timer_) {
    timeKillEvent(timer_);
    timer_ = 0;
  }
}

void TMMConnector::TimerFired(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  reinterpret_cast<TMMConnector*>(user)->Trigger();
}

void TMMConnector::Notification(TComponent* component, TOperation operation) {
  TMMDSPComponent::Notification(component, operation);
  if (operation != opRemove) return;
  std::lock_guard<TCriticalSection> lock(lock_);
  for (TMMCustomLevel*& l : level_)
    if (l == component) l = nullptr;
}

// --- formats ----------------------------------------------------------------

void TMMConnector::SetPWaveFormat(const WAVEFORMATEX* format) {
  TMMDSPComponent::SetPWaveFormat(format);
  UpdateDisplayFormats();
}

void TMMConnector::UpdateDisplayFormats() {
  const WAVEFORMATEX* format = GetPWaveFormat();
  if (!format) return;
  if (!active_) {
    // Streams that are not PCM have no display here: no conversion service.
    is_pcm_ = format->wFormatTag == WAVE_FORMAT_PCM;
    if (!is_pcm_) return;
    display_format_ = *format;
    display_format_.cbSize = 0;
  }
  silence_ = display_format_.wBitsPerSample == 8 ? static_cast<char>(128) : 0;
  for (TMMCustomLevel* l : level_)
    if (l) l->SetPWaveFormat(&display_format_);
}

// --- stream notifications -----------------------------------------------------

void TMMConnector::Started() {
  TMMDSPComponent::Started();
  const WAVEFORMATEX* format = GetPWaveFormat();
  if (HasState(csDesigning) || !format || active_) return;
  display_size_ = 0;
  if (format->wFormatTag == WAVE_FORMAT_PCM) {
    is_pcm_ = true;
    display_format_ = *format;
    display_format_.cbSize = 0;
    display_size_ = GetBufferSize();
    std::lock_guard<TCriticalSection> lock(lock_);
    pending_buffers_.assign(kMaxPending, Pending{});
    for (Pending& b : pending_buffers_) b.data.assign(static_cast<std::size_t>(display_size_), 0);
  }
  ClearDue();
  level_slices_ = 0;
  if (!is_pcm_ || pending_buffers_.empty() || display_size_ <= 0) return;
  RecomputeMaxSpeed();
  active_ = true;
  UpdateDisplayFormats();
  if (enabled_ && real_time_) PostStart();
}

void TMMConnector::Paused() {
  if (!HasState(csDesigning) && active_ && !paused_display_) {
    paused_display_ = true;
    FillSilence();
    if (real_time_) {
      ClearDue();
      const std::int32_t size = GetBufferSize();
      int interval = size <= 8191 ? BytesToMs(&display_format_, size) : kTickInterval;
      pause_tick_ = AddTick(interval, PauseTickFired, this);
      if (!pause_tick_) throw EOutOfResources("Not enough timers available");
    }
  }
  TMMDSPComponent::Paused();
}

void TMMConnector::PauseTickFired(void* owner) {
  auto* self = static_cast<TMMConnector*>(owner);
  {
    std::lock_guard<TCriticalSection> lock(self->lock_);
    if (self->pending_buffers_.empty() || !(self->level_[0] || self->level_[1])) return;
    // The display shows silence again from its start.
    Pending& b = self->QueueBuffer(self->display_size_);
    std::fill(b.data.begin(), b.data.end(), self->silence_);
  }
  WakePump();
}

void TMMConnector::Restarted() {
  if (paused_display_) {
    paused_display_ = false;
    if (real_time_) {
      ClearDue();
      if (pause_tick_) RemoveTick(pause_tick_);
      pause_tick_ = nullptr;
    }
  }
  TMMDSPComponent::Restarted();
}

void TMMConnector::Reset() {
  if (active_ && !pending_buffers_.empty()) FillSilence();
  TMMDSPComponent::Reset();
}

void TMMConnector::Stopped() {
  if (!HasState(csDesigning) && active_) {
    active_ = false;
    StopRunning();
    paused_display_ = false;
    ClearDue();
    if (pause_tick_) RemoveTick(pause_tick_);
    pause_tick_ = nullptr;
    {
      std::lock_guard<TCriticalSection> lock(lock_);
      pending_buffers_.clear();
      pending_buffers_.shrink_to_fit();
      pending_first_ = pending_used_ = 0;
      display_size_ = 0;
    }
    if (refresh_on_stop_)
      for (TMMCustomLevel* l : level_)
        if (l) l->ResetData();
  }
  TMMDSPComponent::Stopped();
}

void TMMConnector::FillSilence() {
  // What is still to be shown becomes silence too.
  std::lock_guard<TCriticalSection> lock(lock_);
  for (Pending& b : pending_buffers_) std::fill(b.data.begin(), b.data.end(), silence_);
}

void TMMConnector::ClearDue() {
  std::lock_guard<TCriticalSection> lock(lock_);
  level_due_ = false;
  pending_used_ = 0;
}

TMMConnector::Pending& TMMConnector::QueueBuffer(std::int32_t count) {
  if (pending_used_ == kMaxPending) {
    // A burst larger than the ring (a device that delivers seconds at once,
    // or more buffers between two pump cycles than the ring holds). On the
    // GUI thread, where the meters paint, the oldest buffer shows what it
    // has left at once, as the pump does with a newer one behind it, so
    // that no slice is lost; on another thread it gives way.
    if (platform::IsGuiThread()) {
      TLevelPaintHold hold;  // one paint per meter for all of them
      const int n = SliceBytes();
      Pending& front = PendingFront();
      for (; n > 0 && front.pos + n <= front.count; front.pos += n)
        ShowSlice(front.data.data() + front.pos);
    }
    DropFront();
  }
  const int slot = (pending_first_ + pending_used_) % kMaxPending;
  ++pending_used_;
  Pending& b = pending_buffers_[static_cast<std::size_t>(slot)];
  b.count = std::min(count, display_size_);
  b.arrival = clock_();
  b.pos = 0;
  level_due_ = true;
  return b;
}

void TMMConnector::DropFront() {
  pending_first_ = (pending_first_ + 1) % kMaxPending;
  --pending_used_;
}

// --- data ---------------------------------------------------------------------

void TMMConnector::BufferReady(PWaveHdr lpWaveHdr) {
  PWaveHdr shown = lpWaveHdr;
  if (synchronize_ && lpWaveHdr->lpNextBuffer && lpWaveHdr->dwBytesRecorded > 0)
    shown = lpWaveHdr->lpNextBuffer;
  TakeData(shown->lpData, static_cast<std::int32_t>(shown->dwBytesRecorded));
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMConnector::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  TakeData(lpWaveHdr->lpData, static_cast<std::int32_t>(lpWaveHdr->dwBytesRecorded));
}

void TMMConnector::TakeData(const char* data, std::int32_t count) {
  if (!enabled_ || paused_display_ || !is_pcm_ || !data || count <= 0) return;
  {
    std::lock_guard<TCriticalSection> lock(lock_);
    if (pending_buffers_.empty() || !(level_[0] || level_[1])) return;
    Pending& b = QueueBuffer(count);
    std::memcpy(b.data.data(), data, static_cast<std::size_t>(b.count));
    const int n = SliceBytes();
    if (n > 0) slices_arrived.fetch_add(b.count / n, std::memory_order_relaxed);
  }
  if (!real_time_ && auto_trigger_)
    Refresh();
  else if (running_)
    WakePump();
}

bool TMMConnector::Refresh(std::int64_t lead_us) {
  if (!enabled_ || !(running_ || (!real_time_ && active_))) return false;
  const bool shown = RefreshLevels(lead_us);
  if (OnTrigger) OnTrigger(this);
  return shown;
}

bool TMMConnector::RefreshLevels(std::int64_t lead_us) {
  std::lock_guard<TCriticalSection> lock(lock_);
  if (!LevelWaiting()) return false;
  const int n = SliceBytes();
  Pending& b = PendingFront();
  // The slices of a buffer fall due over its duration from its arrival; a
  // buffer with a newer one behind it shows what it has left at once.
  if (synchronize_ && display_format_.nAvgBytesPerSec > 0 && pending_used_ == 1) {
    const std::int64_t due =
        static_cast<std::int64_t>(b.pos) * 1000000 / display_format_.nAvgBytesPerSec;
    if (clock_() + lead_us - b.arrival < due) return false;
  }
  const std::int32_t pos = b.pos;
  b.pos += n;
  if (n <= 0 || pos + n > b.count) {
    DropFront();  // the buffer is used up
    if (pending_used_ == 0) level_due_ = false;
    return false;
  }
  ShowSlice(b.data.data() + pos);
  if (b.pos + n > b.count) {
    DropFront();
    if (pending_used_ == 0) level_due_ = false;
  }
  return true;
}

int TMMConnector::SliceBytes() const {
  return std::max(level_[0] ? level_[0]->BytesPerRefresh() : 0,
                  level_[1] ? level_[1]->BytesPerRefresh() : 0);
}

void TMMConnector::ShowSlice(const char* slice) {
  for (TMMCustomLevel* l : level_)
    if (l) l->RefreshPCMData(slice);
  ++level_slices_;
  slices_shown.fetch_add(1, std::memory_order_relaxed);
}

// --- automatic refresh --------------------------------------------------------

void TMMConnector::StartRunning() {
  if (!active_) return;
  pending_ = 0;
  running_ = true;
  UpdateCounted();
}

void TMMConnector::StopRunning() {
  if (!running_) return;
  running_ = false;
  UpdateCounted();
}

// The running count holds exactly the connectors that run by message; the
// first of them sets the pump going unless a cycle is on its way already.
void TMMConnector::UpdateCounted() {
  const bool counted = running_ && auto_trigger_ && trigger_method_ == tmMessage;
  if (counted == counted_) return;
  counted_ = counted;
  Shared& s = Connectors();
  if (!counted) {
    --s.running;
    return;
  }
  ++s.running;
  WakePump();
}

void TMMConnector::WakePump() {
  Shared& s = Connectors();
  if (s.armed.exchange(true)) return;  // a cycle is on its way already
  if (!PostMessage(s.window, WM_CONNECTORPUMP, 0, 0)) s.armed = false;
}

void TMMConnector::Trigger() {
  if (!enabled_) return;
  if (!running_ && (real_time_ || !active_)) return;
  if (auto_trigger_ && trigger_method_ != tmTimer) return;
  // On the GUI thread a trigger refreshes at once, also while one from the
  // timer thread waits for its turn; those wait one at a time.
  if (platform::IsGuiThread()) {
    Refresh();
    return;
  }
  if (pending_ > 0) return;
  ++pending_;
  PostMessage(Connectors().window, WM_CONNECTORREFRESH, 0, reinterpret_cast<LPARAM>(this));
}

void TMMConnector::WindowProc(TMessage& msg) {
  Shared& s = Connectors();
  auto* c = reinterpret_cast<TMMConnector*>(msg.LParam);
  // A connector that has gone in the meantime is no longer listed.
  if (c && std::find(s.list.begin(), s.list.end(), c) == s.list.end()) return;
  switch (msg.Msg) {
    case WM_CONNECTORSTART:
      if (c && !c->running_) c->StartRunning();
      break;
    case WM_CONNECTORREFRESH:
      // The count always comes down, so that a connector refreshed by hand
      // (without RealTime) is not blocked by a request it did not run.
      if (c) {
        if (c->enabled_ && (c->running_ || (!c->real_time_ && c->active_))) c->Refresh();
        --c->pending_;
      }
      break;
    case WM_CONNECTORPUMP:
      Pump();
      break;
    default:
      break;
  }
}

// One cycle of the refresh loop: shows every slice of every running
// connector that has fallen due; comes back after a display frame while any
// slice waits, and otherwise sleeps until new data wakes it. Between cycles
// the GUI thread is free for its other work.
void TMMConnector::Pump() {
  Shared& s = Connectors();
  auto waiting = [&s] {
    for (TMMConnector* c : s.list) {
      if (!(c->auto_trigger_ && c->trigger_method_ == tmMessage && c->enabled_ && c->running_))
        continue;
      std::lock_guard<TCriticalSection> lock(c->lock_);
      if (c->LevelWaiting()) return true;
    }
    return false;
  };
  if (s.running <= 0 || Application->Terminated()) {
    s.armed = false;
    return;
  }
  {
    auto list = s.list;
    // Each meter asks once for a paint of all the slices it was shown.
    TLevelPaintHold hold;
    for (TMMConnector* c : list)
      if (c->auto_trigger_ && c->trigger_method_ == tmMessage && c->enabled_ && c->running_)
        for (int pass = 0; pass < kMaxPassesPerCycle && c->Refresh(kPumpLeadUs); ++pass) {
        }
  }
  if (s.running <= 0 || Application->Terminated() || s.list.empty()) {
    s.armed = false;
    return;
  }
  if (s.enter_idle) Application->ProcessMessages();
  if (!waiting()) {
    // Data that arrives from now on wakes the pump; data that arrived while
    // it looked is seen by the second look.
    s.armed = false;
    if (!waiting() || s.armed.exchange(true)) return;
  }
  platform::PostMessageAfter(s.window, WM_CONNECTORPUMP, 0, 0, kFrameMs);
}

// --- class --------------------------------------------------------------------

const TClassInfo& TMMConnector::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMConnector>("TMMConnector", &TMMDSPComponent::StaticClassInfo())
          .Creatable()
          .Event("OnTrigger", &TMMConnector::OnTrigger)
          .Bool("Enabled", &TMMConnector::GetEnabled, &TMMConnector::SetEnabled)
          .Bool("AutoConvert", &TMMConnector::GetAutoConvert, &TMMConnector::SetAutoConvert)
          .Bool("AutoTrigger", &TMMConnector::GetAutoTrigger, &TMMConnector::SetAutoTrigger)
          .Bool("Synchronize", &TMMConnector::GetSynchronize, &TMMConnector::SetSynchronize)
          .Int("Speed", &TMMConnector::GetSpeed, &TMMConnector::SetSpeed)
          .Enum("TriggerMethod", {"tmMessage", "tmTimer"}, &TMMConnector::GetTriggerMethod,
                &TMMConnector::SetTriggerMethod)
          .Enum("TriggerMode", {"tmNone", "tmUpFlank", "tmDownFlank"},
                &TMMConnector::GetTriggerMode, &TMMConnector::SetTriggerMode)
          .Int("TriggerLevel", &TMMConnector::GetTriggerLevel, &TMMConnector::SetTriggerLevel)
          .Bool("RefreshOnStop", &TMMConnector::GetRefreshOnStop, &TMMConnector::SetRefreshOnStop)
          .Bool("RealTime", &TMMConnector::GetRealTime, &TMMConnector::SetRealTime)
          .Bool("EnterIdle", &TMMConnector::GetEnterIdle, &TMMConnector::SetEnterIdle)
          .Ref<TMMDSPComponent>("Input", &TMMConnector::GetInput, &TMMConnector::SetInput)
          .Ref<TMMDSPComponent>("Output", &TMMConnector::GetOutput, &TMMConnector::SetOutput)
          .Ref<TMMCustomLevel>("Level1", &TMMConnector::GetLevel1, &TMMConnector::SetLevel1)
          .Ref<TMMCustomLevel>("Level2", &TMMConnector::GetLevel2, &TMMConnector::SetLevel2)
          .Build();
  return info;
}
