#include "platform/registry/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "platform/registry/registry_store.h"

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

// Points XDG_CONFIG_HOME at a fresh temporary folder for each test.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
    had_ = std::getenv("XDG_CONFIG_HOME") != nullptr;
    std::string tmpl = (fs::temp_directory_path() / "registry-test-XXXXXX").string();
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
    fs::remove_all(root_);
  }
  void UseConfigHome(const fs::path& dir) {
    config_ = dir;
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  }
  fs::path Folder() const { return config_ / "tessaline"; }
  fs::path File() const { return Folder() / "registry"; }

  fs::path root_, config_;
  std::string saved_;
  bool had_ = false;
};

TEST_F(RegistryTest, MissingStoreReadsEmptyAndCreatesNothing) {
  TRegistry reg;
  EXPECT_EQ(reg.GetRootKey(), HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.OpenKey("Quorvane\\Tessaline", false));
  EXPECT_FALSE(reg.KeyExists("Quorvane"));
  EXPECT_FALSE(reg.ValueExists("top"));
  EXPECT_EQ(reg.GetDataType("top"), rdUnknown);
  EXPECT_THROW(reg.ReadInteger("top"), ERegistryException);
  EXPECT_THROW(reg.ReadString("top"), ERegistryException);
  EXPECT_FALSE(fs::exists(config_));

  // An existing store without the key: still nothing is added.
  ASSERT_TRUE(reg.OpenKey("Other", true));
  const std::string before = ReadFile(File());
  EXPECT_FALSE(reg.OpenKey("Quorvane\\Tessaline", false));
  EXPECT_EQ(ReadFile(File()), before);
  EXPECT_EQ(Entries(Folder()), std::vector<std::string>{"registry"});
}

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile) {
  const std::string odd[] = {
      "",
      "plain",
      "quote \" backslash \\ end\\",
      "line\nfeed\r\ncarriage\ttab",
      std::string("nul\0inside", 10),
      "\x01\x1f\x7f control",
      "UTF-8: Grüße, 日本語, 🎧",
      "broken UTF-8: \xC3 \xFF \xED\xA0\x80 \xF4\x90\x80\x80 end",
      "] [ = sz:\"x\" \\x41",
  };
  std::string allBytes;
  for (int i = 0; i < 256; ++i) allBytes += static_cast<char>(i);
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Quorvane\\Tessaline", true));
    EXPECT_EQ(reg.GetCurrentPath(), "Quorvane\\Tessaline");
    reg.WriteInteger("min", std::numeric_limits<std::int32_t>::min());
    reg.WriteInteger("max", std::numeric_limits<std::int32_t>::max());
    reg.WriteInteger("minus one", -1);
    reg.WriteInteger("zero", 0);
    for (std::size_t i = 0; i < std::size(odd); ++i)
      reg.WriteString("s" + std::to_string(i), odd[i]);
    reg.WriteString(odd[2], "odd name");  // value names may hold anything too
    reg.WriteBinaryData("bytes", allBytes.data(), allBytes.size());
    reg.WriteBinaryData("nothing", nullptr, 0);
  }
  const std::string text = ReadFile(File());
  EXPECT_EQ(text.rfind("tessaline registry 1\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER \"Quorvane\" \"Tessaline\"]\n"), std::string::npos);
  EXPECT_NE(text.find("\"max\" = dword:2147483647\n"), std::string::npos);
  EXPECT_NE(text.find("Grüße, 日本語, 🎧"), std::string::npos);  // readable as is

  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("QUORVANE\\tessaline", false));  // letter case is ignored
  EXPECT_EQ(reg.ReadInteger("MIN"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(reg.ReadInteger("max"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(reg.ReadInteger("minus one"), -1);
  EXPECT_EQ(reg.ReadInteger("zero"), 0);
  for (std::size_t i = 0; i < std::size(odd); ++i) {
    EXPECT_EQ(reg.ReadString("s" + std::to_string(i)), odd[i]) << i;
  }
  EXPECT_EQ(reg.ReadString(odd[2]), "odd name");
  const std::vector<std::uint8_t> bytes = reg.ReadBinaryData("bytes");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), allBytes);
  EXPECT_TRUE(reg.ReadBinaryData("nothing").empty());
  EXPECT_EQ(reg.GetDataType("zero"), rdInteger);
  EXPECT_EQ(reg.GetDataType("s1"), rdString);
  EXPECT_EQ(reg.GetDataType("bytes"), rdBinary);

  // Parent keys were created; a value of another type is replaced.
  EXPECT_TRUE(reg.KeyExists("Quorvane"));
  reg.WriteString("zero", "now text");
  EXPECT_EQ(reg.GetDataType("zero"), rdString);
}

TEST_F(RegistryTest, ReadersRejectOtherTypes) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("K", true));
  reg.WriteString("text", "12");
  reg.WriteInteger("int", 12);
  reg.WriteBinaryData("bin", "\x0c\0\0\0", 4);
  EXPECT_THROW(reg.ReadInteger("text"), ERegistryException);
  EXPECT_THROW(reg.ReadInteger("bin"), ERegistryException);
  EXPECT_THROW(reg.ReadString("int"), ERegistryException);
  EXPECT_THROW(reg.ReadBinaryData("int"), ERegistryException);
  EXPECT_THROW(reg.ReadBinaryData("text"), ERegistryException);
  EXPECT_THROW(reg.ReadInteger("missing"), ERegistryException);
}

TEST_F(RegistryTest, RootsAndPathsAreSeparate) {
  TRegistry user;
  ASSERT_TRUE(user.OpenKey("\\A\\B\\", true));  // outer backslashes are ignored
  user.WriteInteger("v", 1);
  EXPECT_FALSE(user.OpenKey("A\\\\B", true));  // empty segment
  EXPECT_FALSE(user.OpenKey("A\\B\\C", false));

  TRegistry machine;
  machine.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(machine.OpenKey("A\\B", false));
  ASSERT_TRUE(machine.OpenKey("A\\B", true));
  machine.WriteInteger("v", 2);
  EXPECT_THROW(machine.SetRootKey(0x80000007u), ERegistryException);
  EXPECT_THROW(machine.SetRootKey(0), ERegistryException);

  TRegistry again;
  ASSERT_TRUE(again.OpenKey("A\\B", false));
  EXPECT_EQ(again.ReadInteger("v"), 1);
  again.CloseKey();
  EXPECT_EQ(again.GetCurrentPath(), "");
  EXPECT_FALSE(again.ValueExists("v"));
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
