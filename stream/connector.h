#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "controls/level.h"
#include "platform/messages/messages.h"
#include "platform/mmtimer/mmtimer.h"
#include "platform/threads/sync_objects.h"
#include "stream/dsp_component.h"

class EMMConnectorError : public Exception {
 public:
  using Exception::Exception;
};

class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

enum TMMTriggerMethod : std::uint8_t { tmMessage, tmTimer };
enum TMMTriggerMode : std::uint8_t { tmNone, tmUpFlank, tmDownFlank };

// Messages of the connectors' shared window (lParam = the connector).
inline constexpr UINT WM_CONNECTORSTART = 0xB1F5;
inline constexpr UINT WM_CONNECTORREFRESH = 0xB1F6;
inline constexpr UINT WM_CONNECTORPUMP = 0xB1F7;

struct TTickEntry;

// Shows the stream passing through it on display controls without changing
// it. Every buffer is copied into the connector's display buffer (on the
// thread that delivers buffers); the displays are fed from that copy slice by
// slice on the GUI thread, paced to real time with Synchronize. One chain of
// pump messages on a shared window keeps every running connector refreshed.
// Of the display groups only the level meters are provided.
class TMMConnector : public TMMDSPComponent {
 public:
  explicit TMMConnector(TComponent* owner);
  ~TMMConnector() override;

  // One refresh pass now (GUI thread) or through the shared window.
  virtual void Trigger();
  // Copies a buffer for the displays; on the delivering thread.
  virtual void TakeData(const char* data, std::int32_t count);

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v);
  bool GetAutoConvert() const { return auto_convert_; }
  void SetAutoConvert(bool v) { auto_convert_ = v; }
  bool GetAutoTrigger() const { return auto_trigger_; }
  void SetAutoTrigger(bool v);
  bool GetSynchronize() const { return synchronize_; }
  void SetSynchronize(bool v) { synchronize_ = v; }
  std::int32_t GetSpeed() const { return speed_; }
  void SetSpeed(std::int32_t v);
  TMMTriggerMethod GetTriggerMethod() const { return trigger_method_; }
  void SetTriggerMethod(TMMTriggerMethod v);
  TMMTriggerMode GetTriggerMode() const { return trigger_mode_; }
  void SetTriggerMode(TMMTriggerMode v) { trigger_mode_ = v; }
  std::int32_t GetTriggerLevel() const { return trigger_level_; }
  void SetTriggerLevel(std::int32_t v) { trigger_level_ = v; }
  bool GetRefreshOnStop() const { return refresh_on_stop_; }
  void SetRefreshOnStop(bool v) { refresh_on_stop_ = v; }
  bool GetRealTime() const { return real_time_; }
  void SetRealTime(bool v);
  // One switch shared by all connectors.
  bool GetEnterIdle() const;
  void SetEnterIdle(bool v);
  TMMCustomLevel* GetLevel1() const { return level_[0]; }
  void SetLevel1(TMMCustomLevel* v) { SetLevel(0, v); }
  TMMCustomLevel* GetLevel2() const { return level_[1]; }
  void SetLevel2(TMMCustomLevel* v) { SetLevel(1, v); }

  bool Active() const { return active_; }
  bool Running() const { return running_; }
  // Slices shown by the level group since the start.
  int LevelSlices() const { return level_slices_; }

  void Notification(TComponent* component, TOperation operation) override;
  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Reset() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  TNotifyEvent OnTrigger;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // Connectors whose automatic refresh runs by message (for checks).
  static int RunningCount();
  // Pump cycles on their way (for checks): 1 while a running connector has
  // slices waiting, else 0 once the last cycle has come: the pump sleeps
  // while nothing is due and new data wakes it.
  static int PumpsPending();
  // Over all connectors since the process started (for measurements): whole
  // level slices that arrived with the buffers, and slices the meters were
  // given.
  static std::int64_t SlicesArrived();
  static std::int64_t SlicesShown();
  // The microsecond clock that paces the slices (NowMicroseconds unless set);
  // tests drive their own. Set before data arrives.
  void SetClock(std::int64_t (*now)()) { clock_ = now ? now : NowMicroseconds; }

 private:
  void SetLevel(int index, TMMCustomLevel* value);
  void UpdateDisplayFormats();
  // One refresh pass; true when it showed a slice. With synchronized slices,
  // one falls due lead_us early (the pump shows each slice with the frame
  // nearest its time).
  bool Refresh(std::int64_t lead_us = 0);
  bool RefreshLevels(std::int64_t lead_us);
  // Asks the shared window to begin automatic refresh of this connector.
  void PostStart();
  void StartRunning();
  void StopRunning();
  // Brings this connector's share of the running count in line with whether
  // it runs by message now.
  void UpdateCounted();
  void FillSilence();
  void ClearDue();
  void UpdateTimer();
  static void WindowProc(TMessage& msg);
  static void Pump();
  static void PauseTickFired(void* owner);
  static void TimerFired(UINT id, UINT msg, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
  static void RecomputeMaxSpeed();

  bool enabled_ = true, auto_convert_ = true, auto_trigger_ = true, synchronize_ = true;
  std::int32_t speed_ = 5000;
  TMMTriggerMethod trigger_method_ = tmMessage;
  TMMTriggerMode trigger_mode_ = tmNone;
  std::int32_t trigger_level_ = 0;
  bool refresh_on_stop_ = true, real_time_ = true;
  TMMCustomLevel* level_[2] = {nullptr, nullptr};

  // Also read by the multimedia timer thread's trigger.
  std::atomic<bool> active_{false}, running_{false};
  bool paused_display_ = false, is_pcm_ = false;
  bool listed_ = false;
  bool counted_ = false;  // counted in the running count
  WAVEFORMATEX display_format_{};
  std::int32_t display_size_ = 0;
  char silence_ = 0;
  std::atomic<int> pending_{0};
  TTickEntry* pause_tick_ = nullptr;
  UINT timer_ = 0;
  std::int64_t (*clock_)() = NowMicroseconds;
  TCriticalSection lock_;

  // Buffers whose level slices are still to be shown, oldest first; under
  // the lock. A buffer that arrives before the previous one's slices have
  // all fallen due waits behind them instead of replacing them.
  struct Pending {
    std::int32_t count = 0;  // bytes held
    std::int64_t arrival = 0;
    std::int32_t pos = 0;  // read position
    std::vector<char> data;
  };
  std::vector<Pending> pending_buffers_;  // a ring of kMaxPending
  int pending_first_ = 0, pending_used_ = 0;
  Pending& PendingFront() { return pending_buffers_[static_cast<std::size_t>(pending_first_)]; }
  // With the lock held: the front buffer is used up.
  void DropFront();
  // With the lock held: the next free buffer of the ring (the oldest one
  // gives way when all are waiting), now held and due from its start.
  Pending& QueueBuffer(std::int32_t count);
  // With the lock held: the bytes of one level slice (0 without meters).
  int SliceBytes() const;
  // With the lock held: the meters take one slice.
  void ShowSlice(const char* slice);
  // True when some slice is waiting (due now or later); lock held.
  bool LevelWaiting() const { return level_due_ && pending_used_ > 0; }
  // Wakes the sleeping pump: thread-safe.
  static void WakePump();

  bool level_due_ = false;
  int level_slices_ = 0;
};
