#include "app/placement_store.h"

#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry/registry.h"
#include "tests/support/isolated_store.h"

namespace fs = std::filesystem;

namespace {

const std::string kKey = "Quorvane\\Tessaline";

class PlacementStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    had_ = std::getenv("XDG_CONFIG_HOME") != nullptr;
    if (had_) saved_ = std::getenv("XDG_CONFIG_HOME");
    root_ = fs::temp_directory_path() / ("placement-test-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    ASSERT_TRUE(fs::create_directories(root_));
    ASSERT_TRUE(test_support::IsolateStore(root_ / "config"));
  }
  void TearDown() override {
    test_support::EndIsolatedStore();
    if (had_) {
      setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    fs::remove_all(root_);
  }
  TVariant Read(const std::string& name, const TVariant& def) {
    return ReadRegValue(HKEY_CURRENT_USER, kKey, name, def);
  }
  void Write(const std::string& name, const TVariant& value) {
    WriteRegValue(HKEY_CURRENT_USER, kKey, name, value);
  }

  fs::path root_;
  std::string saved_;
  bool had_ = false;
};

TEST_F(PlacementStoreTest, FirstRunYieldsDefaultsAndCreatesNothing) {
  EXPECT_EQ(Read("top", 129).AsInteger(), 129);
  EXPECT_EQ(Read("left", 723).AsInteger(), 723);
  EXPECT_EQ(Read("wide", 640).AsInteger(), 640);
  EXPECT_EQ(Read("hei", 480).AsInteger(), 480);
  EXPECT_FALSE(fs::exists(root_ / "config"));
}

TEST_F(PlacementStoreTest, PlacementRoundTripsAndTextTopKeepsItsDefault) {
  Write("top", 10);
  Write("left", -20);  // a window may sit left of the screen
  Write("wide", 300);
  Write("hei", 200);
  EXPECT_EQ(Read("top", 129), TVariant(10));
  EXPECT_EQ(Read("left", 723), TVariant(-20));
  EXPECT_EQ(Read("wide", 640), TVariant(300));
  EXPECT_EQ(Read("hei", 480), TVariant(200));

  // The values are plain integers under the expected key.
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadInteger("wide"), 300);

  Write("top", "10");
  EXPECT_EQ(Read("top", 129).AsInteger(), 129);
  EXPECT_EQ(Read("left", 723).AsInteger(), -20);
  EXPECT_EQ(Read("wide", 640).AsInteger(), 300);
  EXPECT_EQ(Read("hei", 480).AsInteger(), 200);
}

TEST_F(PlacementStoreTest, EveryVariantTypeRoundTrips) {
  const TVariant values[] = {
      TVariant(std::int16_t{-1234}),
      TVariant(std::int32_t{-2000000000}),
      TVariant(std::uint8_t{200}),
      TVariant(1.5f),
      TVariant(-2.0e300),
      TVariant::Currency(-123456789),  // -12345.6789
      TVariant::DateTime(45000.75),
      TVariant::WideString("wide \"text\"\nwith ünïcode\\"),
      TVariant(std::string("narrow\ttext")),
      TVariant(true),
      TVariant(false),
  };
  // Defaults of the same types but other values.
  const TVariant defaults[] = {
      TVariant(std::int16_t{1}),
      TVariant(std::int32_t{1}),
      TVariant(std::uint8_t{1}),
      TVariant(0.0f),
      TVariant(0.0),
      TVariant::Currency(0),
      TVariant::DateTime(0),
      TVariant::WideString(""),
      TVariant(std::string()),
      TVariant(false),
      TVariant(true),
  };
  for (std::size_t i = 0; i < std::size(values); ++i) {
    const std::string name = "v" + std::to_string(i);
    Write(name, values[i]);
    const TVariant back = Read(name, defaults[i]);
    EXPECT_EQ(back, values[i]) << i;
    EXPECT_EQ(back.VarType(), values[i].VarType()) << i;
  }
}

TEST_F(PlacementStoreTest, ValuesOfAnotherTypeOrRangeYieldTheDefault) {
  Write("int", 70000);
  Write("text", "hello");
  Write("real", 2.5);
  EXPECT_EQ(Read("int", TVariant(std::int16_t{7})), TVariant(std::int16_t{7}));  // too big
  EXPECT_EQ(Read("int", TVariant(std::uint8_t{7})), TVariant(std::uint8_t{7}));
  EXPECT_EQ(Read("int", TVariant(std::string("d"))), TVariant(std::string("d")));
  EXPECT_EQ(Read("int", TVariant(1.0)), TVariant(1.0));
  EXPECT_EQ(Read("text", 5), TVariant(5));
  EXPECT_EQ(Read("real", 5), TVariant(5));
  EXPECT_EQ(Read("real", TVariant::Currency(1)).VarType(), vtCurrency);  // eight raw bytes
  Write("big", 1e300);
  EXPECT_EQ(Read("big", TVariant(0.5f)), TVariant(0.5f));  // no single value

  // Booleans are integers: any stored integer reads as a Boolean.
  EXPECT_EQ(Read("int", false), TVariant(true));
}

TEST_F(PlacementStoreTest, NullAndEmptyVariants) {
  Write("n", TVariant::Null());
  EXPECT_EQ(Read("n", 5), TVariant(0));  // a null is stored as the integer 0
  Write("i", 42);
  EXPECT_EQ(Read("i", TVariant::Null()), TVariant(42));
  EXPECT_TRUE(Read("missing", TVariant::Null()).IsNull());
  EXPECT_TRUE(Read("i", TVariant()).IsEmpty());  // empty reads nothing

  Write("e", TVariant());  // stores nothing
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_FALSE(reg.ValueExists("e"));
}

TEST_F(PlacementStoreTest, RootsSelectTheirOwnValues) {
  WriteRegValue(HKEY_LOCAL_MACHINE, kKey, "top", 1);
  WriteRegValue(0x12345u, kKey, "top", 2);  // not a root handle: the current user's
  EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kKey, "top", 0), TVariant(1));
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "top", 0), TVariant(2));
  EXPECT_EQ(ReadRegValue(HKEY_USERS, kKey, "top", 0), TVariant(0));

  // A key that cannot be opened stores nothing, in particular not in the root.
  WriteRegValue(HKEY_CURRENT_USER, "Quorvane\\\\Tessaline", "stray", 3);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, "", "stray", 0), TVariant(0));
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "stray", 0), TVariant(0));
}

#ifndef _WIN32
// Two processes save their whole placements at the same moment, many times over:
// the store always holds one of the two, never a mix. (Linux's store is a file that
// each save replaces; Windows' registry is the system's.)
TEST_F(PlacementStoreTest, ConcurrentWholePlacementsNeverMix) {
  const std::vector<std::pair<std::string, std::int32_t>> first = {
      {"top", 1}, {"left", 2}, {"wide", 3}, {"hei", 4}};
  const std::vector<std::pair<std::string, std::int32_t>> second = {
      {"top", 10}, {"left", 20}, {"wide", 30}, {"hei", 40}};
  for (int round = 0; round < 40; ++round) {
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
      children[c] = fork();
      ASSERT_GE(children[c], 0);
      if (children[c] == 0) {
        close(go[1]);
        char byte;
        // Both start when the pipe closes.
        [[maybe_unused]] const ssize_t got = read(go[0], &byte, 1);
        WriteRegIntegers(HKEY_CURRENT_USER, kKey, c == 0 ? first : second);
        _exit(0);
      }
    }
    close(go[0]);
    close(go[1]);
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const int top = Read("top", -1).AsInteger();
    const int left = Read("left", -1).AsInteger();
    const int wide = Read("wide", -1).AsInteger();
    const int hei = Read("hei", -1).AsInteger();
    const bool is_first = top == 1 && left == 2 && wide == 3 && hei == 4;
    const bool is_second = top == 10 && left == 20 && wide == 30 && hei == 40;
    ASSERT_TRUE(is_first || is_second)
        << "round " << round << ": " << top << " " << left << " " << wide << " " << hei;
  }
}
#endif

TEST_F(PlacementStoreTest, UnwritableStoreFailsSilently) {
  std::ofstream(root_ / "file") << "x";
  setenv("XDG_CONFIG_HOME", (root_ / "file" / "config").string().c_str(), 1);
  EXPECT_NO_THROW(Write("top", 10));
  EXPECT_NO_THROW(Write("text", "x"));
  EXPECT_EQ(Read("top", 129), TVariant(129));
}

}  // namespace
