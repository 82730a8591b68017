// What a screen reader learns of a window through the system's accessibility
// interface (IAccessible), and keys sent to the window, for the Windows tests:
//   accessible_probe dump <title>          one line per element of the window's client
//                                          object: role, name, value, state, action
//   accessible_probe focused <title>       the name of the focused element
//   accessible_probe press <title> <name>  the element's default action
//   accessible_probe key <title> <tab|space|return|escape>
// Exit status 1 when the window or the element is not there.
#include <ole2.h>
#include <oleacc.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The interface's identifier, spelt out: MinGW's import library offers the
// name as a function stub, not as the identifier's bytes.
constexpr IID kIAccessible = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

std::wstring Wide(const char* text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
  return out;
}

std::string Utf8(BSTR text) {
  if (!text) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  SysFreeString(text);
  return out;
}

const char* RoleName(LONG role) {
  switch (role) {
    case ROLE_SYSTEM_CLIENT:
      return "client";
    case ROLE_SYSTEM_STATICTEXT:
      return "text";
    case ROLE_SYSTEM_LINK:
      return "link";
    case ROLE_SYSTEM_PUSHBUTTON:
      return "button";
    case ROLE_SYSTEM_PROGRESSBAR:
      return "progressbar";
    default:
      return "other";
  }
}

VARIANT Child(LONG id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

std::string States(LONG s) {
  std::string out;
  const auto add = [&](LONG flag, const char* name) {
    if (!(s & flag)) return;
    if (!out.empty()) out += ',';
    out += name;
  };
  add(STATE_SYSTEM_FOCUSABLE, "focusable");
  add(STATE_SYSTEM_FOCUSED, "focused");
  add(STATE_SYSTEM_UNAVAILABLE, "unavailable");
  add(STATE_SYSTEM_READONLY, "readonly");
  add(STATE_SYSTEM_LINKED, "linked");
  return out;
}

std::string Name(IAccessible* acc, LONG id) {
  BSTR text = nullptr;
  acc->get_accName(Child(id), &text);
  return Utf8(text);
}

void Describe(IAccessible* acc, LONG id) {
  VARIANT role, state;
  BSTR value = nullptr, action = nullptr;
  acc->get_accRole(Child(id), &role);
  acc->get_accState(Child(id), &state);
  acc->get_accValue(Child(id), &value);
  acc->get_accDefaultAction(Child(id), &action);
  std::printf("%s\t%s\t%s\t%s\t%s\n", RoleName(role.vt == VT_I4 ? role.lVal : 0),
              Name(acc, id).c_str(), Utf8(value).c_str(),
              States(state.vt == VT_I4 ? state.lVal : 0).c_str(), Utf8(action).c_str());
}

// The element so named, or 0.
LONG Find(IAccessible* acc, const std::string& name) {
  LONG count = 0;
  acc->get_accChildCount(&count);
  for (LONG id = 1; id <= count; ++id)
    if (Name(acc, id) == name) return id;
  return 0;
}

int Run(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string command = argv[1];
  HWND wnd = FindWindowW(nullptr, Wide(argv[2]).c_str());
  if (!wnd) {
    std::fprintf(stderr, "accessible_probe: no window \"%s\"\n", argv[2]);
    return 1;
  }
  if (command == "key") {
    if (argc < 4) return 2;
    const std::string key = argv[3];
    const WPARAM vk = key == "space"    ? VK_SPACE
                      : key == "return" ? VK_RETURN
                      : key == "escape" ? VK_ESCAPE
                                        : VK_TAB;
    return PostMessageW(wnd, WM_KEYDOWN, vk, 1) && PostMessageW(wnd, WM_KEYUP, vk, 0xC0000001) ? 0
                                                                                               : 1;
  }
  IAccessible* acc = nullptr;
  const HRESULT got = AccessibleObjectFromWindow(wnd, static_cast<DWORD>(OBJID_CLIENT),
                                                 kIAccessible, reinterpret_cast<void**>(&acc));
  if (FAILED(got) || !acc) {
    std::fprintf(stderr, "accessible_probe: no accessible object (0x%08lx)\n",
                 static_cast<unsigned long>(got));
    return 1;
  }
  int status = 0;
  if (command == "dump") {
    LONG count = 0;
    acc->get_accChildCount(&count);
    for (LONG id = 0; id <= count; ++id) Describe(acc, id);
  } else if (command == "focused") {
    VARIANT focus;
    VariantInit(&focus);
    if (acc->get_accFocus(&focus) == S_OK && focus.vt == VT_I4)
      std::printf("%s\n", Name(acc, focus.lVal).c_str());
    else
      status = 1;
  } else if (command == "press" && argc >= 4) {
    const LONG id = Find(acc, argv[3]);
    status = id > 0 && acc->accDoDefaultAction(Child(id)) == S_OK ? 0 : 1;
  } else {
    status = 2;
  }
  acc->Release();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status = Run(argc, argv);
  std::fflush(stdout);
  CoUninitialize();
  return status;
}
