#include "platform/messages/message_hook.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex hook_lock;
platform::MessageBoxHook box_hook;
platform::ExceptionReport exception_report;
std::atomic<bool> display_lost{false};

// GUI thread only.
int open_boxes = 0;
struct AfterBoxes {
  const void* owner;
  std::function<void()> action;
};
std::vector<AfterBoxes> after_boxes;
// The window through which the actions reach the message loop.
HWND after_boxes_window = 0;
constexpr UINT kRunAfterBoxes = 0x8010;

// Runs the actions that wait. A box that opened meanwhile (this runs in its
// loop then) is closed too, and the actions wait for it in turn. Called from
// the message loop, through after_boxes_window.
void RunAfterBoxes(TMessage& m) {
  if (m.Msg != kRunAfterBoxes) return;
  if (open_boxes > 0) {
    platform::CloseOpenDialogs();
    return;
  }
  std::vector<AfterBoxes> actions;
  actions.swap(after_boxes);
  for (AfterBoxes& a : actions) platform::Guarded(a.action);
}

void ScheduleAfterBoxes() {
  if (!after_boxes_window) after_boxes_window = AllocateHWnd(RunAfterBoxes);
  PostMessage(after_boxes_window, kRunAfterBoxes, 0, 0);
}

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

FirstMessage::FirstMessage() {
  SetMessageBoxHook([this](const std::string& text, const std::string&, UINT) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (text_.empty()) text_ = text;
    return IDOK;
  });
}

FirstMessage::~FirstMessage() {
  SetMessageBoxHook(nullptr);
}

std::string FirstMessage::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

void SetDisplayLost() {
  display_lost = true;
}

bool DisplayLost() {
  return display_lost;
}

OpenMessageBox::OpenMessageBox() {
  ++open_boxes;
}

OpenMessageBox::~OpenMessageBox() {
  if (--open_boxes == 0 && !after_boxes.empty()) ScheduleAfterBoxes();
}

int OpenMessageBoxes() {
  return open_boxes;
}

void AfterMessageBoxes(const void* owner, std::function<void()> action) {
  after_boxes.push_back({owner, std::move(action)});
  if (open_boxes == 0) ScheduleAfterBoxes();
}

void CancelAfterMessageBoxes(const void* owner) {
  std::erase_if(after_boxes, [owner](const AfterBoxes& a) { return a.owner == owner; });
}

void CloseMessageBoxes() {
  if (open_boxes > 0) CloseOpenDialogs();
}

void SetExceptionReport(ExceptionReport report) {
  std::lock_guard<std::mutex> lock(hook_lock);
  exception_report = std::move(report);
}

void ShowException(const std::exception& e) {
  ExceptionReport report;
  {
    std::lock_guard<std::mutex> lock(hook_lock);
    report = exception_report;
  }
  if (report && report(e)) return;
  ShowExceptionBox(e);
}

void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowException(e);
  }
}

}  // namespace platform
