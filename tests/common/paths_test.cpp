#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "common/paths.h"
#include "win32_test_support.h"

namespace {

// 表 in code page 932 is 0x95 0x5C: its trail byte is the backslash's code.
const char HYO[] = "\x95\x5C";

TEST(AppendBackslashTest, RunsUnderCodePage932) { ASSERT_EQ(932u, GetACP()); }

TEST(AppendBackslashTest, AppendsOnlyWhenTheLastCharacterIsNotABackslash) {
  char path[PATH_CAPACITY] = "C:\\Temp";
  ASSERT_TRUE(AppendBackslash(path, sizeof path));
  EXPECT_STREQ("C:\\Temp\\", path);
  ASSERT_TRUE(AppendBackslash(path, sizeof path));
  EXPECT_STREQ("C:\\Temp\\", path);

  char empty[PATH_CAPACITY] = "";
  ASSERT_TRUE(AppendBackslash(empty, sizeof empty));
  EXPECT_STREQ("\\", empty);
}

TEST(AppendBackslashTest, TrailByte5CIsNotTakenForABackslash) {
  char path[PATH_CAPACITY];
  snprintf(path, sizeof path, "C:\\x\\%s", HYO);
  ASSERT_TRUE(AppendBackslash(path, sizeof path));
  EXPECT_EQ(std::string("C:\\x\\") + HYO + "\\", path);

  const std::string noSlashAfter = std::string("C:\\x\\") + HYO;
  EXPECT_EQ(noSlashAfter.c_str() + 4, FindLastBackslash(noSlashAfter.c_str()));
}

TEST(AppendBackslashTest, NeverWritesPastCapacity) {
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  memcpy(buffer, "C:\\abcdefghijk", 15);  // 14 characters and the NUL fill 15 of 16 bytes
  ASSERT_TRUE(AppendBackslash(buffer, 16));
  EXPECT_STREQ("C:\\abcdefghijk\\", buffer);
  buffer[14] = 'z';  // now 15 characters: no room for another byte
  EXPECT_FALSE(AppendBackslash(buffer, 16));
  EXPECT_STREQ("C:\\abcdefghijkz", buffer);
}

TEST(CopyPathTest, CutsOnlyBetweenCharacters) {
  char buffer[7];
  // "ab" + 表 + 表 + "c" needs 8 bytes with its NUL: the "c" is cut.
  const std::string text = std::string("ab") + HYO + HYO + "c";
  EXPECT_FALSE(CopyPath(buffer, sizeof buffer, text.c_str()));
  EXPECT_EQ(std::string("ab") + HYO + HYO, buffer);
  char small[6];
  EXPECT_FALSE(CopyPath(small, sizeof small, text.c_str()));
  EXPECT_EQ(std::string("ab") + HYO, small) << "the second 表 does not fit whole and is left out";
  EXPECT_TRUE(AppendPath(buffer, sizeof buffer, ""));
  EXPECT_FALSE(AppendPath(buffer, sizeof buffer, "x"));
}

// The scenarios show the short form taken for a folder named outside the
// code page; without one there is no ANSI form at all, never a look-alike.
TEST(ExactAnsiPathTest, NameOutsideTheCodePageWithoutAShortFormHasNoAnsiForm) {
  testing_support::ScratchFolder base("exact");
  char ansi[PATH_CAPACITY] = "unchanged";
  // 한 does not exist, so it has no short form.
  EXPECT_FALSE(ExactAnsiPath((testing_support::Widen(base.Path()) + L"\xD55C\\").c_str(), ansi, sizeof ansi));
  EXPECT_STREQ("", ansi);
  // An exact name is taken as it is, a trail byte 0x5C included.
  const std::string hyo = base.Path() + HYO + "\\";
  ASSERT_TRUE(ExactAnsiPath(testing_support::Widen(hyo).c_str(), ansi, sizeof ansi));
  EXPECT_EQ(hyo, ansi);
}

}  // namespace
