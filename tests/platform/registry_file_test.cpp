#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/registry/registry_store.h"
#include "tests/platform/registry_fixture.h"

// The file store of Linux behind the accessor.

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(RegistryTest, MissingStoreCreatesNoFileAndValuesAreReadableInIt) {
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("Quorvane\\Tessaline", false));
  EXPECT_FALSE(reg.ValueExists("top"));
  EXPECT_FALSE(fs::exists(config_));

  // An existing store without the key: still nothing is added.
  ASSERT_TRUE(reg.OpenKey("Other", true));
  const std::string before = ReadFile(File());
  EXPECT_FALSE(reg.OpenKey("Quorvane\\Tessaline", false));
  EXPECT_EQ(ReadFile(File()), before);
  EXPECT_EQ(Entries(Folder()), std::vector<std::string>{"registry"});

  // The file is text that a person can read.
  ASSERT_TRUE(reg.OpenKey("Quorvane\\Tessaline", true));
  reg.WriteInteger("max", std::numeric_limits<std::int32_t>::max());
  reg.WriteString("text", "UTF-8: Grüße, 日本語, 🎧");
  const std::string text = ReadFile(File());
  EXPECT_EQ(text.rfind("tessaline registry 1\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER \"Quorvane\" \"Tessaline\"]\n"), std::string::npos);
  EXPECT_NE(text.find("\"max\" = dword:2147483647\n"), std::string::npos);
  EXPECT_NE(text.find("Grüße, 日本語, 🎧"), std::string::npos);
}

TEST_F(RegistryTest, EnvironmentIsReadAtEachAccess) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("K", true));
  reg.WriteInteger("v", 1);
  UseConfigHome(root_ / "other");
  EXPECT_FALSE(reg.ValueExists("v"));
  reg.WriteInteger("v", 2);
  EXPECT_EQ(reg.ReadInteger("v"), 2);
  UseConfigHome(root_ / "config");
  EXPECT_EQ(reg.ReadInteger("v"), 1);
}

TEST_F(RegistryTest, WritesReplaceTheFileAtomically) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("K", true));
  reg.WriteString("v", "old");
  const std::string oldText = ReadFile(File());
  const int fd = open(File().c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);

  reg.WriteString("v", "new");

  // The old file was not written in place: its reader still sees it whole.
  std::string seen(oldText.size() + 100, '\0');
  const ssize_t n = pread(fd, seen.data(), seen.size(), 0);
  close(fd);
  ASSERT_GE(n, 0);
  seen.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(seen, oldText);
  EXPECT_NE(ReadFile(File()), oldText);
  EXPECT_EQ(reg.ReadString("v"), "new");
  EXPECT_EQ(Entries(Folder()), std::vector<std::string>{"registry"});  // no temporary left

  // A store that is a symbolic link (here to a link, with a relative path) is written
  // where it points; the links stay links and the file keeps its permissions.
  fs::create_directories(root_ / "elsewhere");
  fs::rename(File(), root_ / "elsewhere" / "real");
  fs::permissions(root_ / "elsewhere" / "real",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("real", root_ / "elsewhere" / "hop");
  fs::create_symlink(root_ / "elsewhere" / "hop", File());
  reg.WriteString("v", "through");
  EXPECT_TRUE(fs::is_symlink(File()));
  EXPECT_TRUE(fs::is_symlink(root_ / "elsewhere" / "hop"));
  EXPECT_NE(ReadFile(root_ / "elsewhere" / "real").find("through"), std::string::npos);
  EXPECT_EQ(fs::status(root_ / "elsewhere" / "real").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Entries(root_ / "elsewhere"), (std::vector<std::string>{"hop", "real"}));
  // A link to a file not there yet makes the file.
  fs::remove(File());
  fs::create_symlink(root_ / "elsewhere" / "new", File());
  ASSERT_TRUE(reg.OpenKey("K", true));
  reg.WriteInteger("n", 3);
  EXPECT_TRUE(fs::is_symlink(File()));
  EXPECT_EQ(reg.ReadInteger("n"), 3);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root_ / "elsewhere" / "new")));
}

TEST_F(RegistryTest, DamagedFileReadsEmptyAndIsKeptBeforeTheFirstWrite) {
  fs::create_directories(Folder());
  const std::string damaged = "tessaline registry 1\n[HKEY_CURRENT_USER \"K\"]\n\"v\" = dword:7";
  WriteFile(File(), damaged);  // no final line feed

  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("K", false));
  EXPECT_EQ(ReadFile(File()), damaged);  // reading leaves it alone
  EXPECT_FALSE(fs::exists(Folder() / "registry.damaged"));

  ASSERT_TRUE(reg.OpenKey("K", true));
  reg.WriteInteger("v", 8);
  EXPECT_EQ(ReadFile(Folder() / "registry.damaged"), damaged);
  EXPECT_EQ(reg.ReadInteger("v"), 8);

  // A second damage never overwrites the first copy.
  WriteFile(File(), "garbage");
  reg.WriteInteger("v", 9);
  EXPECT_EQ(ReadFile(Folder() / "registry.damaged"), damaged);
  EXPECT_EQ(ReadFile(Folder() / "registry.damaged.2"), "garbage");
  EXPECT_EQ(reg.ReadInteger("v"), 9);
  EXPECT_EQ(Entries(Folder()),
            (std::vector<std::string>{"registry", "registry.damaged", "registry.damaged.2"}));
}

TEST_F(RegistryTest, AnythingNotExactlyInTheFormatIsDamaged) {
  const std::string head = "tessaline registry 1\n[HKEY_CURRENT_USER \"K\"]\n";
  // The well-formed base must read, so each failure below is due to its own change.
  fs::create_directories(Folder());
  WriteFile(File(), head + "\"v\" = dword:5\n\n\"s\" = sz:\"a\\x41\\n\"\n\"b\" = binary:00ff\n");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("K", false));
  EXPECT_EQ(reg.ReadInteger("v"), 5);
  EXPECT_EQ(reg.ReadString("s"), "aA\n");

  const std::string broken[] = {
      "",
      "tessaline registry 2\n",
      "\"v\" = dword:5\n",
      "tessaline registry 1\n\"v\" = dword:5\n",  // value before any key
      head + "\"v\" = dword:05\n",
      head + "\"v\" = dword:-0\n",
      head + "\"v\" = dword:+5\n",
      head + "\"v\" = dword:2147483648\n",
      head + "\"v\" = dword:\n",
      head + "\"v\" = qword:5\n",
      head + "\"v\"= dword:5\n",
      head + "\"v\" = dword:5 \n",
      head + "\"v\" = binary:0\n",
      head + "\"v\" = binary:0g\n",
      head + "\"v\" = sz:\"a\\q\"\n",
      head + "\"v\" = sz:\"a\\x4\"\n",
      head + "\"v\" = sz:\"unterminated\n",
      head + "\"v\" = sz:\"raw\ttab\"\n",
      head + "\"v\" = sz:\"a\" trailing\n",
      head + "\"v\" = dword:1\n\"V\" = dword:2\n",  // duplicate value name
      head + "[HKEY_CURRENT_USER \"k\"]\n",         // duplicate key
      head + "[HKEY_CURRENT_USER \"\"]\n",
      head + "[HKEY_CURRENT_USER \"a\\\\b\"]\n",
      head + "[HKEY_NOWHERE \"a\"]\n",
      head + "[HKEY_CURRENT_USER  \"a\"]\n",
      head + "\r\n",
      head + "\"v\" = dword:5",
  };
  for (const std::string& text : broken) {
    WriteFile(File(), text);
    platform::RegistryFile file = platform::LoadRegistryFile();
    EXPECT_EQ(file.state, platform::RegistryFileState::Damaged) << text;
    EXPECT_TRUE(file.store.Empty()) << text;
    EXPECT_FALSE(reg.OpenKey("K", false)) << text;
  }
}

TEST_F(RegistryTest, FailedWritesAreReportedAndChangeNothing) {
  // The configuration folder lies below a regular file: it cannot be created.
  WriteFile(root_ / "plain-file", "x");
  UseConfigHome(root_ / "plain-file" / "config");
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("K", true));
  EXPECT_THROW(reg.WriteInteger("v", 1), ERegistryException);
  EXPECT_EQ(ReadFile(root_ / "plain-file"), "x");

  // A store that cannot be read is never written over.
  UseConfigHome(root_ / "config");
  fs::create_directories(File());
  EXPECT_FALSE(reg.OpenKey("K", true));
  EXPECT_THROW(reg.WriteString("v", "x"), ERegistryException);
  EXPECT_TRUE(fs::is_directory(File()));
  EXPECT_EQ(Entries(Folder()), std::vector<std::string>{"registry"});

  // A FIFO in the store's place is skipped at once, read or written.
  fs::remove(File());
  ASSERT_EQ(mkfifo(File().c_str(), 0600), 0);
  EXPECT_FALSE(reg.OpenKey("K", false));
  EXPECT_FALSE(reg.ValueExists("v"));
  EXPECT_EQ(platform::LoadRegistryFile().state, platform::RegistryFileState::Unreadable);
  EXPECT_FALSE(reg.OpenKey("K", true));
  EXPECT_THROW(reg.WriteInteger("v", 1), ERegistryException);
  EXPECT_TRUE(fs::is_fifo(File()));

  // A read-only store is read but never replaced, even where the folder is writable.
  fs::remove(File());
  ASSERT_TRUE(reg.OpenKey("K", true));
  reg.WriteInteger("v", 1);
  const std::string kept = ReadFile(File());
  fs::permissions(File(), fs::perms::owner_read);
  EXPECT_EQ(reg.ReadInteger("v"), 1);
  EXPECT_THROW(reg.WriteInteger("v", 2), ERegistryException);
  EXPECT_FALSE(reg.OpenKey("New", true));
  EXPECT_EQ(ReadFile(File()), kept);
  EXPECT_EQ(fs::status(File()).permissions() & fs::perms::all, fs::perms::owner_read);
  EXPECT_EQ(Entries(Folder()), std::vector<std::string>{"registry"});
}

}  // namespace
