#pragma once

// The system's events and critical sections with plain types (see
// messages/win32/native_windows.h). Handles are opaque; a null event handle is an
// event the system could not make.

#include <cstdint>

namespace platform::win32 {

void* MakeEvent(bool manualReset, bool initialState);
void CloseEvent(void* event);
void SetEvent(void* event);
void ResetEvent(void* event);
// The system's WAIT_OBJECT_0 + index, WAIT_TIMEOUT, WAIT_ABANDONED_0 + index or WAIT_FAILED.
std::uint32_t WaitForEvents(std::uint32_t count, void* const* events, std::uint32_t milliseconds);
// A wait for nothing but the time.
void Pause(std::uint32_t milliseconds);

void* MakeCriticalSection();
void DeleteCriticalSection(void* section);
void EnterCriticalSection(void* section);
void LeaveCriticalSection(void* section);
bool TryEnterCriticalSection(void* section);

}  // namespace platform::win32
