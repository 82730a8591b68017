#include "controls/level_tick.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/mmtimer/mmtimer.h"

struct TTickEntry {
  int interval = kTickInterval;
  int elapsed = 0;
  int pause_count = 0;
  std::atomic<bool> idle{false};
  TTickCallback callback = nullptr;
  void* owner = nullptr;
};

namespace {

std::mutex control_lock;  // serialises adding and removing (timer start and stop)
std::mutex list_lock;     // the entry list; held while callbacks run
std::vector<TTickEntry*> entries;
UINT timer_id = 0;  // under control_lock; 0 while stopped
std::atomic<bool> in_tick{false};
// With list_lock held: an entry is neither idle nor paused.
bool AnyBusy() {
  for (const TTickEntry* e : entries)
    if (!e->idle && e->pause_count == 0) return true;
  return false;
}

void TickProc(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

// With control_lock held.
void StartTimer() {
  if (timer_id == 0)
    timer_id = timeSetEvent(kTickInterval, kTickInterval, TickProc, 0, TIME_PERIODIC);
}

void TickProc(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  if (in_tick.exchange(true)) return;
  bool rest;
  {
    std::lock_guard<std::mutex> lock(list_lock);
    for (TTickEntry* e : entries) {
      if (e->pause_count != 0) continue;
      e->elapsed += kTickInterval;
      if (e->elapsed >= e->interval) {
        e->callback(e->owner);
        e->elapsed = 0;
      }
    }
    rest = !AnyBusy();
  }
  // Nothing to do: the timer stops until an entry becomes busy. Removing an
  // entry holds control_lock while it waits for this tick, so the tick only
  // tries it (and stops a later time).
  if (rest) {
    std::unique_lock<std::mutex> control(control_lock, std::try_to_lock);
    if (control.owns_lock()) {
      std::lock_guard<std::mutex> lock(list_lock);
      if (!AnyBusy() && timer_id != 0) {
        timeKillEvent(timer_id);  // its own timer: does not wait
        timer_id = 0;
      }
    }
  }
  in_tick = false;
}

}  // namespace

TTickEntry* AddTick(int interval, TTickCallback callback, void* owner) {
  if (!callback) return nullptr;
  std::lock_guard<std::mutex> control(control_lock);
  const bool first = TickEntryCount() == 0;
  if (first) timeBeginPeriod(kTickInterval);
  StartTimer();
  if (timer_id == 0) {
    if (first) timeEndPeriod(kTickInterval);
    return nullptr;
  }
  auto* e = new TTickEntry;
  e->interval = std::max(interval, kTickInterval);
  e->callback = callback;
  e->owner = owner;
  std::lock_guard<std::mutex> lock(list_lock);
  entries.push_back(e);
  return e;
}

void SetTickIdle(TTickEntry* entry, bool idle) {
  if (!entry) return;
  if (idle) {
    entry->idle = true;  // the tick stops the timer when it sees nothing busy
    return;
  }
  if (!entry->idle.exchange(false)) return;
  std::lock_guard<std::mutex> control(control_lock);
  std::lock_guard<std::mutex> lock(list_lock);
  if (entry->pause_count == 0) StartTimer();
}

bool TickRunning() {
  std::lock_guard<std::mutex> control(control_lock);
  return timer_id != 0;
}

void PauseTick(TTickEntry* entry) {
  if (!entry) return;
  std::lock_guard<std::mutex> lock(list_lock);
  ++entry->pause_count;
  entry->elapsed = 0;
}

void ResumeTick(TTickEntry* entry) {
  if (!entry) return;
  std::lock_guard<std::mutex> control(control_lock);
  std::lock_guard<std::mutex> lock(list_lock);
  if (entry->pause_count == 0) return;
  if (--entry->pause_count == 0 && !entry->idle) StartTimer();
}

void RemoveTick(TTickEntry* entry) {
  if (!entry) return;
  std::lock_guard<std::mutex> control(control_lock);
  bool last;
  {
    // Taking the list lock waits for a running tick, so the callback is not
    // running once the entry is unlinked.
    std::lock_guard<std::mutex> lock(list_lock);
    auto it = std::find(entries.begin(), entries.end(), entry);
    if (it == entries.end()) return;
    entries.erase(it);
    last = entries.empty();
  }
  delete entry;
  if (last) {
    if (timer_id != 0) timeKillEvent(timer_id);  // outside the list lock: the tick takes it
    timer_id = 0;
    timeEndPeriod(kTickInterval);
  }
}

int TickEntryCount() {
  std::lock_guard<std::mutex> lock(list_lock);
  return static_cast<int>(entries.size());
}
