#pragma once

#include <functional>

// The shared display tick: one periodic 25 ms multimedia timer for all
// periodic work of the display controls. Callbacks run on the timer thread,
// under the tick list's lock.
struct TTickEntry;
using TTickCallback = void (*)(void* owner);

inline constexpr int kTickInterval = 25;

// Adds an entry called every max(interval, 25) ms; null when the timer
// cannot start (the caller then runs without ticks).
TTickEntry* AddTick(int interval, TTickCallback callback, void* owner);
void PauseTick(TTickEntry* entry);
void ResumeTick(TTickEntry* entry);
// An idle entry has nothing to do for now (new entries are busy); once the
// tick finds every entry idle or paused the timer stops, and it starts again
// when one becomes busy. Thread-safe; a callback may only make its entry idle.
void SetTickIdle(TTickEntry* entry, bool idle);
// Whether the timer runs (for checks).
bool TickRunning();
// Unlinks and frees the entry; when it returns, its callback is not running.
void RemoveTick(TTickEntry* entry);
// Number of entries (for checks).
int TickEntryCount();
