#include "app/text.h"

#include <gtest/gtest.h>

#include <string>

namespace dozerin::text {
namespace {

// The same Japanese texts in the form each platform stores: code page 932 on Windows, UTF-8 on
// Linux.
#ifdef _WIN32
const std::string kMemo = "\x83\x81\x83\x82\x92\xA0";  // メモ帳
const std::string kFullwidthA = "\x82\x81";            // ａ
const std::string kFullwidthUpperA = "\x82\x60";       // Ａ
const std::string kHyou = "\x95\x5C";                  // 表: trail byte is '\\'
const std::string kDi = "\x83\x61";                    // ヂ: trail byte is 'a'
const std::string kA = "\x83\x41";                     // ア: trail byte is 'A'
#else
const std::string kMemo = "\xE3\x83\xA1\xE3\x83\xA2\xE5\xB8\xB3";
const std::string kFullwidthA = "\xEF\xBD\x81";
const std::string kFullwidthUpperA = "\xEF\xBC\xA1";
const std::string kHyou = "\xE8\xA1\xA8";
const std::string kDi = "\xE3\x83\x82";
const std::string kA = "\xE3\x82\xA2";
#endif

TEST(Text, CountsWholeCharacters) {
  struct Row {
    std::string s;
    std::size_t chars;
  };
  const Row rows[] = {
      {"", 0},           {"abc", 3},
      {kMemo, 3},        {"x" + kMemo + "y", 5},
      {kHyou + "\\", 2}, {kFullwidthA + kDi + kA, 3},
  };
  for (const Row& r : rows) EXPECT_EQ(CountChars(r.s), r.chars) << r.s;
}

TEST(Text, CharSizeNeverPassesTheEnd) {
  // A lead byte (or a UTF-8 start byte) at the very end is a character of its own.
  const std::string cut = kMemo.substr(0, kMemo.size() - 1);
  std::size_t pos = 0;
  std::size_t chars = 0;
  while (pos < cut.size()) {
    const std::size_t size = CharSize(cut, pos);
    ASSERT_GE(size, 1u);
    ASSERT_LE(pos + size, cut.size());
    pos += size;
    ++chars;
  }
  EXPECT_GE(chars, 3u);
  EXPECT_EQ(CharSize(cut, cut.size()), 0u);
}

TEST(Text, UpperCasesWholeCharacters) {
  struct Row {
    std::string in;
    std::string out;
  };
  const Row rows[] = {
      {"notepad.exe", "NOTEPAD.EXE"},
      {"Untitled - Notepad", "UNTITLED - NOTEPAD"},
      {kFullwidthA, kFullwidthUpperA},
      {"a" + kFullwidthA + "b", "A" + kFullwidthUpperA + "B"},
      // Trail bytes in the ASCII range are part of their character and are never upper-cased.
      {kDi, kDi},
      {kHyou + "a", kHyou + "A"},
      {kMemo + ".exe", kMemo + ".EXE"},
      {"", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(ToUpper(r.in), r.out) << r.in;
}

TEST(Text, ComparesIgnoringCaseOverWholeStrings) {
  struct Row {
    std::string a, b;
    bool equal;
  };
  const Row rows[] = {
      {"notepad.exe", "NOTEPAD.EXE", true},
      {"Notepad.exe", "notepad.EXE", true},
      {"notepad", "notepad.exe", false},
      {"notepad.exe", "notepad", false},
      {kFullwidthA, kFullwidthUpperA, true},
      {kDi, kA, false},  // differ only in a trail byte that looks like a letter
      {kMemo + ".exe", kMemo + ".EXE", true},
      {"", "", true},
  };
  for (const Row& r : rows) EXPECT_EQ(EqualNoCase(r.a, r.b), r.equal) << r.a << " / " << r.b;
}

TEST(Text, FittingPrefixEndsOnACharacterBoundary) {
  const std::size_t one = kMemo.size() / 3;  // bytes of one of these characters
  EXPECT_EQ(FittingPrefix(kMemo, kMemo.size()), kMemo.size());
  EXPECT_EQ(FittingPrefix(kMemo, kMemo.size() - 1), 2 * one);
  EXPECT_EQ(FittingPrefix(kMemo, one), one);
  EXPECT_EQ(FittingPrefix(kMemo, one - 1), 0u);
  EXPECT_EQ(FittingPrefix("abc", 2), 2u);
}

#ifndef _WIN32
TEST(Text, MalformedUtf8IsSteppedByteByByteAndKept) {
  const std::string bad = "a\xFF\xC0\x80\xE3\x83z";  // stray, overlong, cut-off sequences
  EXPECT_EQ(CountChars(bad), 7u);
  EXPECT_EQ(ToUpper(bad), "A\xFF\xC0\x80\xE3\x83Z");
}
#endif

}  // namespace
}  // namespace dozerin::text
