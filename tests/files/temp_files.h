#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// A wave file name in the temporary folder, unique to this process and tag.
inline std::string TempPath(const std::string& tag) {
  return (std::filesystem::temp_directory_path() /
          ("tessaline_test_" + std::to_string(::getpid()) + "_" + tag + ".wav"))
      .string();
}

// Makes a sparse file of `size` bytes holding `pieces` (offset, bytes) and zeros elsewhere:
// files of gigabytes that take no disk space and no time to write.
inline bool WriteSparseFile(const std::string& path, std::int64_t size,
                            const std::vector<std::pair<std::int64_t, std::vector<char>>>& pieces) {
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  for (const auto& [offset, bytes] : pieces) {
    ok = ok && ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                   static_cast<ssize_t>(bytes.size());
  }
  return ::close(fd) == 0 && ok;
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
