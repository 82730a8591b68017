#pragma once

#include <functional>
#include <utility>

#include "platform/threads/sync_objects.h"
#include "platform/threads/thread.h"

// A thread whose body is given as a function.
class TBodyThread : public TThread {
 public:
  explicit TBodyThread(std::function<void(TBodyThread&)> body, TEvent* freed = nullptr)
      : body_(std::move(body)), freed_(freed) {}
  ~TBodyThread() override {
    EndThread();
    if (freed_) freed_->SetEvent();
  }
  using TThread::SetReturnValue;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(TBodyThread&)> body_;
  TEvent* freed_;
};
