#pragma once

#include "platform/threads/thread.h"

class TMMCustomSoundComponent;

// The thread class of the device components: a platform thread whose
// priority is set from a TThreadPriority.
class TMMThreadEx : public TThread {
 public:
  TMMThreadEx() = default;

  // tpIdle -15, tpLowest -2, tpLower -1, tpNormal 0, tpHigher 1, tpHighest 2,
  // tpTimeCritical 15 on the platform's scale.
  void SetPriority(TThreadPriority priority);
  TThreadPriority GetPriority() const;
};

// The platform priority of a TThreadPriority.
int ThreadPriorityValue(TThreadPriority priority);

// A worker thread of a device component (not owned), which runs the
// component's buffer traffic. It is created suspended; its creator sets
// FreeOnTerminate and starts it. Every live one is registered, so that
// CallSynchronized knows the threads that must hand calls to the GUI thread.
// A subclass deleted by another thread calls EndThread in its destructor.
class TMMDSPThread : public TMMThreadEx {
 public:
  explicit TMMDSPThread(TMMCustomSoundComponent* component);
  ~TMMDSPThread() override;

  TMMCustomSoundComponent* Component() const { return component_; }

 private:
  TMMCustomSoundComponent* component_;
};

// Runs method on the GUI thread, and waits for it, when called from a
// registered device worker thread; otherwise (GUI thread, another thread,
// no worker threads) calls it directly.
void CallSynchronized(const TThreadMethod& method);

// Live device worker threads.
int DSPThreadCount();
