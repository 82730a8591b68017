#include "platform/threads/sync_objects.h"

#include "platform/threads/win32/native_sync.h"

// Events and critical sections are the system's own.

namespace platform {
namespace {

constexpr DWORD kMaxEvents = 64;  // the most the system waits for at once

}  // namespace

struct EventState {
  void* handle;
};

struct CriticalSectionState {
  void* section;
};

DWORD WaitForEvents(DWORD count, TEvent* const* events, DWORD milliseconds) {
  if (count > kMaxEvents) return WAIT_FAILED;
  if (count == 0) {
    win32::Pause(milliseconds);
    return WAIT_TIMEOUT;
  }
  void* handles[kMaxEvents];
  for (DWORD i = 0; i < count; ++i) {
    if (!events[i] || !events[i]->state_->handle) return WAIT_FAILED;
    handles[i] = events[i]->state_->handle;
  }
  const DWORD result = win32::WaitForEvents(count, handles, milliseconds);
  return result < WAIT_OBJECT_0 + count || result == WAIT_TIMEOUT ? result : WAIT_FAILED;
}

}  // namespace platform

TEvent::TEvent(bool manualReset, bool initialState)
    : state_(std::make_unique<platform::EventState>(
          platform::EventState{platform::win32::MakeEvent(manualReset, initialState)})) {}

TEvent::~TEvent() {
  platform::win32::CloseEvent(state_->handle);
}

void TEvent::SetEvent() {
  platform::win32::SetEvent(state_->handle);
}

void TEvent::ResetEvent() {
  platform::win32::ResetEvent(state_->handle);
}

TWaitResult TEvent::WaitFor(DWORD milliseconds) {
  TEvent* self = this;
  switch (platform::WaitForEvents(1, &self, milliseconds)) {
    case WAIT_OBJECT_0:
      return wrSignaled;
    case WAIT_TIMEOUT:
      return wrTimeout;
    default:  // events are never abandoned
      return wrError;
  }
}

TCriticalSection::TCriticalSection()
    : state_(std::make_unique<platform::CriticalSectionState>(
          platform::CriticalSectionState{platform::win32::MakeCriticalSection()})) {}

TCriticalSection::~TCriticalSection() {
  platform::win32::DeleteCriticalSection(state_->section);
}

void TCriticalSection::Enter() {
  platform::win32::EnterCriticalSection(state_->section);
}

void TCriticalSection::Leave() {
  platform::win32::LeaveCriticalSection(state_->section);
}

bool TCriticalSection::TryEnter() {
  return platform::win32::TryEnterCriticalSection(state_->section);
}
