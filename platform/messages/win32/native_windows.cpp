#include "platform/messages/win32/native_windows.h"

#include <windows.h>

#include <chrono>
#include <cstring>

#include "platform/text/win32/native_wide_text.h"

namespace platform::win32 {
namespace {

constexpr char kClassName[] = "TessalineNotifyWindow";

struct WindowData {
  NativeProc proc;
  void* context;
};

struct LaterCall {
  void (*proc)(void*);
  void* context;
};

bool Routed(UINT msg) {
  // The multimedia notifications (MM_WOM_OPEN ... MM_MIXM_CONTROL_CHANGE) lie
  // below WM_USER; the application's own messages from WM_USER on.
  return msg >= WM_USER || (msg >= 0x3B0 && msg < WM_USER);
}

// Runs on the window's thread.
LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER) {
    KillTimer(hwnd, wParam);
    auto* call = reinterpret_cast<LaterCall*>(wParam);
    call->proc(call->context);
    delete call;
    return 0;
  }
  auto* data = reinterpret_cast<WindowData*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    delete data;
  }
  if (data && Routed(msg)) return data->proc(data->context, msg, wParam, lParam);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

ATOM RegisterOnce() {
  static const ATOM atom = [] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassExA(&wc);
  }();
  return atom;
}

HWND Handle(std::uintptr_t wnd) {
  return reinterpret_cast<HWND>(wnd);
}

bool Dispatch(const MSG& m) {
  if (m.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(m.wParam));  // stays for the loop that owns it
    return false;
  }
  TranslateMessage(&m);
  DispatchMessageA(&m);
  return true;
}

}  // namespace

std::uintptr_t CreateNotifyWindow(NativeProc proc, void* context) {
  if (!RegisterOnce()) return 0;
  HWND hwnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  if (!hwnd) return 0;
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new WindowData{proc, context}));
  return reinterpret_cast<std::uintptr_t>(hwnd);
}

void DestroyNotifyWindow(std::uintptr_t wnd) {
  DestroyWindow(Handle(wnd));
}

bool IsNotifyWindow(std::uintptr_t wnd) {
  return wnd != 0 && IsWindow(Handle(wnd));
}

bool OwnedByThisThread(std::uintptr_t wnd) {
  return GetWindowThreadProcessId(Handle(wnd), nullptr) == GetCurrentThreadId();
}

bool Post(std::uintptr_t wnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  return wnd != 0 && PostMessageA(Handle(wnd), msg, wParam, lParam) != FALSE;
}

std::intptr_t Send(std::uintptr_t wnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  return wnd != 0 ? SendMessageA(Handle(wnd), msg, wParam, lParam) : 0;
}

int RemovePosted(std::uintptr_t wnd, unsigned msg) {
  int removed = 0;
  MSG m;
  while (PeekMessageA(&m, Handle(wnd), msg, msg, PM_REMOVE | PM_NOYIELD)) ++removed;
  return removed;
}

bool PumpPending() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
    if (!Dispatch(m)) return false;
  return true;
}

bool PumpFor(unsigned milliseconds) {
  // The tick count moves in steps of about 16 ms: the steady clock tells the time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (!PumpPending()) return false;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left.count()), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

void PumpUntilQuit() {
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}

void Quit() {
  PostQuitMessage(0);
}

bool CallLater(std::uintptr_t wnd, unsigned milliseconds, void (*proc)(void*), void* context) {
  auto* call = new LaterCall{proc, context};
  // The call's address is the timer's identifier: unique while it waits.
  if (SetTimer(Handle(wnd), reinterpret_cast<UINT_PTR>(call), milliseconds, nullptr) == 0) {
    delete call;
    return false;
  }
  return true;
}

bool ThreadShowsWindow() {
  bool shows = false;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM found) -> BOOL {
        if (!IsWindowVisible(hwnd)) return TRUE;
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&shows));
  return shows;
}

std::uintptr_t ProcessWindowOrDesktop() {
  HWND found = nullptr;
  EnumWindows(
      [](HWND hwnd, LPARAM result) -> BOOL {
        DWORD process = 0;
        GetWindowThreadProcessId(hwnd, &process);
        // Not a hidden helper window (input method, tool tips): a buffer that
        // loses its global focus is heard only while its window is in front.
        if (process != GetCurrentProcessId() || !IsWindowVisible(hwnd) ||
            GetWindow(hwnd, GW_OWNER) != nullptr)
          return TRUE;
        *reinterpret_cast<HWND*>(result) = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return reinterpret_cast<std::uintptr_t>(found ? found : GetDesktopWindow());
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) {
  return MessageBoxW(nullptr, WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), type);
}

void CloseThreadDialogs() {
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM) -> BOOL {
        char name[16] = {};
        // "#32770" is the system's class of dialog boxes.
        if (GetClassNameA(window, name, sizeof name) > 0 && std::strcmp(name, "#32770") == 0)
          PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
      },
      0);
}

unsigned long CurrentThreadId() {
  return GetCurrentThreadId();
}

void Sleep(unsigned milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace platform::win32
