#include "platform/messages/message_hook.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

namespace {

std::mutex hook_lock;
platform::MessageBoxHook box_hook;
std::atomic<bool> display_lost{false};

}  // namespace

namespace platform {

bool AnswerByHook(const std::string& text, const std::string& caption, UINT type, int* answer) {
  std::lock_guard<std::mutex> lock(hook_lock);
  if (!box_hook) return false;
  *answer = box_hook(text, caption, type);
  return true;
}

int AnswerOnStandardError(const std::string& text, const std::string& caption, UINT type) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  return (type & 0xF) == MB_YESNO ? IDYES : IDOK;
}

void SetMessageBoxHook(MessageBoxHook hook) {
  std::lock_guard<std::mutex> lock(hook_lock);
  box_hook = std::move(hook);
}

void SetDisplayLost() {
  display_lost = true;
}

bool DisplayLost() {
  return display_lost;
}

void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowException(e);
  }
}

}  // namespace platform
