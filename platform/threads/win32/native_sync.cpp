#include "platform/threads/win32/native_sync.h"

#include <windows.h>

namespace platform::win32 {

void* MakeEvent(bool manualReset, bool initialState) {
  return CreateEventA(nullptr, manualReset, initialState, nullptr);
}

void CloseEvent(void* event) {
  if (event != nullptr) CloseHandle(event);
}

void SetEvent(void* event) {
  if (event != nullptr) ::SetEvent(event);
}

void ResetEvent(void* event) {
  if (event != nullptr) ::ResetEvent(event);
}

std::uint32_t WaitForEvents(std::uint32_t count, void* const* events, std::uint32_t milliseconds) {
  return count == 1 ? WaitForSingleObject(events[0], milliseconds)
                    : WaitForMultipleObjects(count, events, FALSE, milliseconds);
}

void Pause(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

void* MakeCriticalSection() {
  auto* section = new CRITICAL_SECTION;
  InitializeCriticalSection(section);
  return section;
}

void DeleteCriticalSection(void* section) {
  ::DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(section));
  delete static_cast<CRITICAL_SECTION*>(section);
}

void EnterCriticalSection(void* section) {
  ::EnterCriticalSection(static_cast<CRITICAL_SECTION*>(section));
}

void LeaveCriticalSection(void* section) {
  ::LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(section));
}

bool TryEnterCriticalSection(void* section) {
  return ::TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(section)) != FALSE;
}

}  // namespace platform::win32
