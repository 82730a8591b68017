// Linked into every unit-test program: the tests run on the off-screen
// platform with the virtual audio devices unless they choose otherwise, and
// LeakSanitizer leaves alone the caches that the font and toolkit libraries
// keep for the life of the process. AddressSanitizer does not follow the
// thread-local blocks of libraries loaded at run time (the toolkit's
// plugins): its record of them went wrong and the leak check at exit crashed.
#include <cstdlib>

namespace {

struct TestEnvironment {
  TestEnvironment() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TESSALINE_AUDIO", "virtual", 0);
  }
} const test_environment;

}  // namespace

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libQt6Gui.so\nleak:libQt6Core.so\nleak:libdbus-1.so\n";
}

extern "C" const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}
