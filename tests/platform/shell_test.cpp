#include "platform/shell/shell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/framework/application.h"

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The desktop's opener replaced by a script that writes its working folder and
// arguments to a file, found first on the PATH.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnsureToolkit();
    dir_ =
        std::filesystem::temp_directory_path() / ("tessaline-shell-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "bin");
    std::filesystem::create_directories(dir_ / "work dir");
    const std::filesystem::path opener = dir_ / "bin/xdg-open";
    std::ofstream(opener) << "#!/bin/sh\n{ pwd; printf '%s|' \"$@\"; } > \""
                          << (dir_ / "log.tmp").string() << "\"\nmv \""
                          << (dir_ / "log.tmp").string() << "\" \"" << (dir_ / "log").string()
                          << "\"\n";
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    old_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", ((dir_ / "bin").string() + ":" + old_path_).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", old_path_.c_str(), 1);
    std::filesystem::remove_all(dir_);
  }
  // What the opener was given, once it has run (at most 10 s); empty if never.
  std::string OpenerLog() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(dir_ / "log")) {
      if (std::chrono::steady_clock::now() > deadline) return {};
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string log = ReadFile(dir_ / "log");
    std::filesystem::remove(dir_ / "log");
    return log;
  }

  std::filesystem::path dir_;
  std::string old_path_;
};

TEST_F(ShellTest, OpenHandsTheAddressToTheDesktopsOpener) {
  EXPECT_GT(ShellExecuteA(0, "open", "mailto:support@example.org", nullptr, nullptr, SW_SHOWNORMAL),
            32);
  EXPECT_EQ(OpenerLog(),
            std::filesystem::current_path().string() + "\nmailto:support@example.org|");

  // No operation means "open"; a working folder is where the opener starts; a
  // name that looks like an option is passed as a path.
  const std::string work = (dir_ / "work dir").string();
  EXPECT_GT(ShellExecuteA(7, nullptr, "-manual.txt", "", work.c_str(), SW_SHOWNORMAL), 32);
  EXPECT_EQ(OpenerLog(), work + "\n./-manual.txt|");

  // Refused without running the opener.
  EXPECT_EQ(ShellExecuteA(0, "print", "file:///tmp/x", nullptr, nullptr, SW_SHOWNORMAL),
            SE_ERR_NOASSOC);
  EXPECT_EQ(ShellExecuteA(0, "open", "/bin/true", "--now", nullptr, SW_SHOWNORMAL), SE_ERR_NOASSOC);
  EXPECT_EQ(ShellExecuteA(0, "open", "", nullptr, nullptr, SW_SHOWNORMAL), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ShellExecuteA(0, "open", nullptr, nullptr, nullptr, SW_SHOWNORMAL),
            ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "log"));

  // No opener on the desktop, or a working folder that does not exist.
  EXPECT_EQ(
      ShellExecuteA(0, "open", "file:///tmp/x", nullptr, (dir_ / "missing").c_str(), SW_SHOWNORMAL),
      ERROR_FILE_NOT_FOUND);
  setenv("PATH", (dir_ / "work dir").c_str(), 1);
  EXPECT_EQ(ShellExecuteA(0, "open", "file:///tmp/x", nullptr, nullptr, SW_SHOWNORMAL),
            ERROR_FILE_NOT_FOUND);

  // A hook answers instead, with the request as it was made.
  platform::ShellRequest seen;
  platform::SetShellHook([&](const platform::ShellRequest& r) {
    seen = r;
    return HINSTANCE{5};
  });
  EXPECT_EQ(ShellExecuteA(9, "open", "https://example.org/", nullptr, nullptr, SW_SHOWNORMAL), 5);
  platform::SetShellHook(nullptr);
  EXPECT_EQ(seen.Owner, 9u);
  EXPECT_EQ(seen.Operation, "open");
  EXPECT_EQ(seen.File, "https://example.org/");
  EXPECT_EQ(seen.Parameters, "");
  EXPECT_EQ(seen.Directory, "");
  EXPECT_EQ(seen.Show, SW_SHOWNORMAL);
}

}  // namespace
