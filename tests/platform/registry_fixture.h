#pragma once

// The registry tests' fixture: each test gets a store of its own. On Linux that is a fresh
// configuration folder (XDG_CONFIG_HOME); on Windows the process's current-user and
// machine roots are redirected to fresh keys, removed after the test.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include "tests/support/win32/native_registry.h"
#endif

class RegistryTest : public ::testing::Test {
 protected:
#ifdef _WIN32
  void SetUp() override {
    ASSERT_TRUE(test_support::RedirectRegistryRoots());
  }
  void TearDown() override {
    test_support::RestoreRegistryRoots();
  }
#else
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
    had_ = std::getenv("XDG_CONFIG_HOME") != nullptr;
    std::string tmpl = (std::filesystem::temp_directory_path() / "registry-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    UseConfigHome(root_ / "config");
  }
  void TearDown() override {
    if (had_) {
      setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::filesystem::remove_all(root_);
  }
  void UseConfigHome(const std::filesystem::path& dir) {
    config_ = dir;
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  }
  std::filesystem::path Folder() const {
    return config_ / "tessaline";
  }
  std::filesystem::path File() const {
    return Folder() / "registry";
  }

  std::filesystem::path root_, config_;
  std::string saved_;
  bool had_ = false;
#endif
};
