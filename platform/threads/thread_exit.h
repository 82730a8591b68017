#pragma once

// Work to do when a thread ends (each binding runs it as its system allows:
// linux/, win32/).

namespace platform {

// Runs drop(value) when the calling thread ends; one registration per thread
// (a later one replaces it).
void AtThreadExit(void (*drop)(void* value), void* value);

}  // namespace platform
