#include "platform/registry/registry.h"

#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "tests/platform/registry_fixture.h"

#ifdef _WIN32
#include "tests/support/win32/native_registry.h"
#endif

// The accessor on either store: Linux's file, Windows' own registry.

namespace {

TEST_F(RegistryTest, MissingKeysAndValuesReadAsMissingAndAreNotCreated) {
  TRegistry reg;
  EXPECT_EQ(reg.GetRootKey(), HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.OpenKey("Quorvane\\Tessaline", false));
  EXPECT_FALSE(reg.KeyExists("Quorvane"));
  EXPECT_FALSE(reg.ValueExists("top"));
  EXPECT_EQ(reg.GetDataType("top"), rdUnknown);
  EXPECT_THROW(reg.ReadInteger("top"), ERegistryException);
  EXPECT_THROW(reg.ReadString("top"), ERegistryException);

  ASSERT_TRUE(reg.OpenKey("Other", true));
  EXPECT_FALSE(reg.OpenKey("Quorvane\\Tessaline", false));
  EXPECT_EQ(reg.GetCurrentPath(), "Other");  // a failed open keeps the current key
  EXPECT_FALSE(reg.KeyExists("Quorvane"));
  EXPECT_FALSE(reg.ValueExists("top"));
}

TEST_F(RegistryTest, ValuesRoundTrip) {
  const std::string odd[] = {
      "",
      "plain",
      "quote \" backslash \\ end\\",
      "line\nfeed\r\ncarriage\ttab",
      std::string("nul\0inside", 10),
      "\x01\x1f\x7f control",
      "UTF-8: Grüße, 日本語, 🎧",
#ifndef _WIN32
      // The file store keeps any bytes; the system's registry holds UTF-16 text,
      // where broken UTF-8 cannot be kept (it reads back as U+FFFD).
      "broken UTF-8: \xC3 \xFF \xED\xA0\x80 \xF4\x90\x80\x80 end",
#endif
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

#ifdef _WIN32
// Without redirection: the placement's values land in the current user's own registry
// under the program's key, integers as REG_DWORD, as the system's own tools read them.
TEST(RegistryOnWindows, ValuesLandInTheCurrentUsersRegistryWithTheSystemsTypes) {
  const std::string key = "Quorvane\\Tessaline";
  const char* const names[] = {"top", "left", "wide", "hei", "title", "blob", "name"};
  struct Cleanup {
    const std::string& key;
    const char* const (&names)[7];
    ~Cleanup() {
      for (const char* name : names) test_support::DeleteUserValue(key, name);
    }
  } cleanup{key, names};

  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(key, true));
  reg.WriteInteger("top", 129);
  reg.WriteInteger("left", -8);
  reg.WriteInteger("wide", 640);
  reg.WriteInteger("hei", 0x12345678);
  reg.WriteString("title", "Tess");
  reg.WriteString("name", "Grüße Ü 日本語 🎧");
  reg.WriteBinaryData("blob", "\0\xff", 2);

  std::uint32_t type = 0;
  std::string data;
  const std::pair<const char*, std::string> dwords[] = {{"top", std::string("\x81\0\0\0", 4)},
                                                        {"left", "\xf8\xff\xff\xff"},
                                                        {"wide", std::string("\x80\x02\0\0", 4)},
                                                        {"hei", "\x78\x56\x34\x12"}};
  for (const auto& [name, bytes] : dwords) {
    ASSERT_TRUE(test_support::ReadUserValue(key, name, type, data)) << name;
    EXPECT_EQ(type, REG_DWORD) << name;
    EXPECT_EQ(data, bytes) << name;
  }
  ASSERT_TRUE(test_support::ReadUserValue(key, "title", type, data));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(data, std::string("Tess", 5));  // with the terminating null the system expects
  ASSERT_TRUE(test_support::ReadUserValue(key, "blob", type, data));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(data, std::string("\0\xff", 2));
  EXPECT_EQ(reg.ReadString("title"), "Tess");
  // Text is stored as the system's own tools read it, in UTF-16, and reads back whole.
  std::wstring text;
  ASSERT_TRUE(test_support::ReadUserText(key, "name", text));
  EXPECT_EQ(text, L"Gr\u00fc\u00dfe \u00dc \u65e5\u672c\u8a9e \U0001f3a7");
  EXPECT_EQ(reg.ReadString("name"), "Grüße Ü 日本語 🎧");
}
#endif

}  // namespace
