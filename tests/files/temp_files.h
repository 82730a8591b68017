#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

// A wave file name in the temporary folder, unique to this process and tag.
inline std::string TempPath(const std::string& tag) {
  return (std::filesystem::temp_directory_path() /
          ("tessaline_test_" + std::to_string(::getpid()) + "_" + tag + ".wav"))
      .string();
}

// A test that removes the files it named with Path when it ends.
class TempFilesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& p : paths_) std::filesystem::remove(p);
  }
  std::string Path(const std::string& tag) {
    paths_.push_back(TempPath(tag));
    return paths_.back();
  }
  std::vector<std::string> paths_;
};
