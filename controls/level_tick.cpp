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

std::mutex control_lock;  // serialises adding and removing
std::mutex list_lock;     // the entry list; held while callbacks run
std::vector<TTickEntry*> entries;
// The running timer (0: none). A tick that finds nothing busy sets
// `stopped` and ends its own timer; whoever makes an entry busy again and
// clears `stopped` starts a new one. Neither takes a lock, so entries can
// become busy under any other lock.
std::atomic<UINT> timer_id{0};
std::atomic<bool> stopped{false};
std::atomic<bool> in_tick{false};

// With list_lock held: an entry is neither idle nor paused.
bool AnyBusy() {
  for (const TTickEntry* e : entries)
    if (!e->idle && e->pause_count == 0) return true;
  return false;
}

void TickProc(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

void StartTimer() {
  timer_id = timeSetEvent(kTickInterval, kTickInterval, TickProc, 0, TIME_PERIODIC);
}

// Starts the timer again if a tick stopped it.
void Restart() {
  if (stopped.exchange(false)) StartTimer();
}

void TickProc(UINT id, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
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
  if (rest) {
    // From here an entry that becomes busy starts a new timer; one that
    // became busy meanwhile is seen by the second look.
    stopped = true;
    bool busy;
    {
      std::lock_guard<std::mutex> lock(list_lock);
      busy = AnyBusy();
    }
    if (!busy || !stopped.exchange(false)) {
      timeKillEvent(id);  // its own timer: does not wait
      UINT mine = id;
      timer_id.compare_exchange_strong(mine, 0);
    }
  }
  in_tick = false;
}

}  // namespace

TTickEntry* AddTick(int interval, TTickCallback callback, void* owner) {
  if (!callback) return nullptr;
  std::lock_guard<std::mutex> control(control_lock);
  const bool first = TickEntryCount() == 0;
  if (first) {
    timeBeginPeriod(kTickInterval);
    stopped = false;
    StartTimer();
    if (timer_id == 0) {
      timeEndPeriod(kTickInterval);
      return nullptr;
    }
  }
  auto* e = new TTickEntry;
  e->interval = std::max(interval, kTickInterval);
  e->callback = callback;
  e->owner = owner;
  {
    std::lock_guard<std::mutex> lock(list_lock);
    entries.push_back(e);
  }
  Restart();
  return e;
}

void SetTickIdle(TTickEntry* entry, bool idle) {
  if (!entry) return;
  if (idle) {
    entry->idle = true;  // the tick stops the timer when it sees nothing busy
    return;
  }
  if (entry->idle.exchange(false)) Restart();
}

bool TickRunning() {
  return !stopped && timer_id != 0;
}

void PauseTick(TTickEntry* entry) {
  if (!entry) return;
  std::lock_guard<std::mutex> lock(list_lock);
  ++entry->pause_count;
  entry->elapsed = 0;
}

void ResumeTick(TTickEntry* entry) {
  if (!entry) return;
  bool busy;
  {
    std::lock_guard<std::mutex> lock(list_lock);
    if (entry->pause_count == 0) return;
    busy = --entry->pause_count == 0 && !entry->idle;
  }
  if (busy) Restart();
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
    stopped = true;  // nothing can restart it: no entry is left
    if (UINT id = timer_id.exchange(0)) timeKillEvent(id);  // outside the list lock
    timeEndPeriod(kTickInterval);
  }
}

int TickEntryCount() {
  std::lock_guard<std::mutex> lock(list_lock);
  return static_cast<int>(entries.size());
}
