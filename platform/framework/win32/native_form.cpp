#include "platform/framework/win32/native_form.h"

#include <windows.h>

#include "platform/gdi/win32/native_gdi.h"
#include "platform/text/win32/native_wide_text.h"

namespace platform::win32 {
namespace {

constexpr wchar_t kClassName[] = L"TessalineForm";

HWND Handle(std::uintptr_t wnd) {
  return reinterpret_cast<HWND>(wnd);
}

FormEvents* EventsOf(HWND hwnd) {
  return reinterpret_cast<FormEvents*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void Paint(HWND hwnd, FormEvents* events) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  const RECT& r = ps.rcPaint;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (events && w > 0 && h > 0) {
    // Composed off the screen first, so that nothing flickers.
    MemoryPicture picture(r.right, r.bottom);
    if (picture.Dc()) {
      events->Paint(picture.Dc(), r.left, r.top, r.right, r.bottom);
      picture.CopyTo(reinterpret_cast<std::uintptr_t>(dc), r.left, r.top, r.left, r.top, w, h);
    } else {
      events->Paint(reinterpret_cast<std::uintptr_t>(dc), r.left, r.top, r.right, r.bottom);
    }
  }
  EndPaint(hwnd, &ps);
}

FormKey KeyOf(WPARAM vk) {
  switch (vk) {
    case VK_TAB:
      return kKeyTab;
    case VK_SPACE:
      return kKeySpace;
    case VK_RETURN:
      return kKeyReturn;
    case VK_ESCAPE:
      return kKeyEscape;
    default:
      return kKeyOther;
  }
}

// Runs on the GUI thread.
LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  FormEvents* events = EventsOf(hwnd);
  switch (msg) {
    case WM_PAINT:
      Paint(hwnd, events);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_LBUTTONDOWN:
      SetCapture(hwnd);
      if (events)
        events->MouseDown(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_LBUTTONUP:
      ReleaseCapture();
      if (events)
        events->MouseUp(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_SETCURSOR:
      if (events && LOWORD(lParam) == HTCLIENT) {
        POINT p;
        GetCursorPos(&p);
        ScreenToClient(hwnd, &p);
        SetCursor(LoadCursorA(nullptr, events->HandAt(p.x, p.y) ? IDC_HAND : IDC_ARROW));
        return TRUE;
      }
      break;
    case WM_KEYDOWN:
      if (events &&
          events->KeyDown(KeyOf(wParam), GetKeyState(VK_SHIFT) < 0, (lParam & (1L << 30)) != 0))
        return 0;
      break;
    case WM_ACTIVATE:
      if (events && LOWORD(wParam) != WA_INACTIVE) events->Activated();
      break;
    case WM_GETOBJECT:
      if (events)
        if (const std::intptr_t result = events->ObjectAsked(static_cast<std::uintptr_t>(wParam),
                                                             static_cast<std::intptr_t>(lParam)))
          return result;
      break;
    case WM_CLOSE:
      if (events) events->CloseRequested();
      return 0;
    case WM_ENDSESSION:
      // The session ends (log-off, shut-down) and the process may be ended
      // once this returns: the window closes as its close button closes it,
      // so that what closing keeps is kept.
      if (wParam && events) events->CloseRequested();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool RegisterOnce() {
  static const ATOM atom = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FormProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc);
  }();
  return atom != 0;
}

DWORD StyleOf(const FormStyle& s) {
  DWORD style = WS_CLIPCHILDREN;
  switch (s.frame) {
    case kFrameNone:
      return style | WS_POPUP;
    case kFrameSizeable:
      style |= WS_OVERLAPPED | WS_CAPTION | WS_THICKFRAME;
      break;
    default:
      style |= WS_OVERLAPPED | WS_CAPTION;
      break;
  }
  if (s.system_menu) {
    style |= WS_SYSMENU;
    if (s.frame != kFrameDialog && s.frame != kFrameTool) {
      if (s.minimize) style |= WS_MINIMIZEBOX;
      if (s.maximize) style |= WS_MAXIMIZEBOX;
    }
  }
  return style;
}

DWORD ExStyleOf(const FormStyle& s) {
  DWORD ex = 0;
  if (s.frame == kFrameTool) ex |= WS_EX_TOOLWINDOW;
  if (s.frame == kFrameDialog) ex |= WS_EX_DLGMODALFRAME;
  if (s.stay_on_top) ex |= WS_EX_TOPMOST;
  return ex;
}

}  // namespace

std::uintptr_t CreateForm(FormEvents* events, const FormStyle& style) {
  if (!RegisterOnce()) return 0;
  HWND hwnd = CreateWindowExW(ExStyleOf(style), kClassName, L"", StyleOf(style), 0, 0, 0, 0,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return 0;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(events));
  return reinterpret_cast<std::uintptr_t>(hwnd);
}

void DestroyForm(std::uintptr_t wnd) {
  if (!wnd) return;
  SetWindowLongPtrW(Handle(wnd), GWLP_USERDATA, 0);
  DestroyWindow(Handle(wnd));
}

void SetFormStyle(std::uintptr_t wnd, const FormStyle& style) {
  HWND hwnd = Handle(wnd);
  SetWindowLongPtrW(
      hwnd, GWL_STYLE,
      static_cast<LONG_PTR>(StyleOf(style) | (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_VISIBLE)));
  SetWindowLongPtrW(hwnd, GWL_EXSTYLE, static_cast<LONG_PTR>(ExStyleOf(style)));
  SetWindowPos(hwnd, style.stay_on_top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void SetFormCaption(std::uintptr_t wnd, const std::string& caption) {
  SetWindowTextW(Handle(wnd), WideFromUtf8(caption).c_str());
}

void PlaceForm(std::uintptr_t wnd, int left, int top, int width, int height) {
  HWND hwnd = Handle(wnd);
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
  SetWindowPos(hwnd, nullptr, left, top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowForm(std::uintptr_t wnd, bool show) {
  HWND hwnd = Handle(wnd);
  ShowWindow(hwnd, show ? SW_SHOW : SW_HIDE);
  if (show) UpdateWindow(hwnd);
}

void ActivateForm(std::uintptr_t wnd) {
  HWND hwnd = Handle(wnd);
  SetForegroundWindow(hwnd);
  SetActiveWindow(hwnd);
  SetFocus(hwnd);
}

bool FormShown(std::uintptr_t wnd) {
  return wnd != 0 && IsWindowVisible(Handle(wnd));
}

bool FormPosition(std::uintptr_t wnd, int* left, int* top) {
  RECT r;
  if (!GetWindowRect(Handle(wnd), &r)) return false;
  *left = r.left;
  *top = r.top;
  return true;
}

void InvalidateFormArea(std::uintptr_t wnd, int left, int top, int right, int bottom) {
  RECT r{left, top, right, bottom};
  InvalidateRect(Handle(wnd), &r, FALSE);
}

void DrawOnForm(std::uintptr_t wnd, const std::function<void(std::uintptr_t dc)>& draw) {
  HWND hwnd = Handle(wnd);
  HDC dc = GetDC(hwnd);
  if (!dc) return;
  draw(reinterpret_cast<std::uintptr_t>(dc));
  ReleaseDC(hwnd, dc);
}

std::vector<std::uint32_t> ReadFormPixels(std::uintptr_t wnd, int left, int top, int width,
                                          int height) {
  std::vector<std::uint32_t> pixels;
  HWND hwnd = Handle(wnd);
  HDC dc = GetDC(hwnd);
  if (!dc) return pixels;
  MemoryPicture picture(width, height);
  if (picture.Dc()) {
    picture.CopyFrom(reinterpret_cast<std::uintptr_t>(dc), left, top, width, height);
    pixels.reserve(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) pixels.push_back(picture.Pixel(x, y));
  }
  ReleaseDC(hwnd, dc);
  return pixels;
}

std::vector<ScreenArea> Screens() {
  std::vector<ScreenArea> screens;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR, HDC, LPRECT r, LPARAM found) -> BOOL {
        reinterpret_cast<std::vector<ScreenArea>*>(found)->push_back(
            ScreenArea{r->left, r->top, r->right - r->left, r->bottom - r->top});
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&screens));
  return screens;
}

ScreenArea PrimaryScreen() {
  return ScreenArea{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

}  // namespace platform::win32
