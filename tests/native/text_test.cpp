// Display paths, path building from search patterns, and bounded text.
#include "engine/text.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

namespace {

std::string Shorten(const std::string& src, int maxLen) {
  char dst[260];
  ShortenPath(src.c_str(), dst, sizeof dst, maxLen);
  return dst;
}

// One result is one line, and nothing in it steers a terminal; names in a
// Windows code page keep their bytes, a UTF-8 terminal gets only UTF-8.
TEST(EscapeControlBytes, ControlsAreEscapedAndBrokenUtf8ForATerminal) {
  struct Case {
    std::string in;
    std::string line;      // EscapeControlBytes
    std::string terminal;  // EscapeForUtf8Terminal
  };
  const Case cases[] = {
      {"C:\\WINDOWS\\x.exe\tok", "C:\\WINDOWS\\x.exe\tok", "C:\\WINDOWS\\x.exe\tok"},
      {"a\nb\rc", "a\\nb\\rc", "a\\nb\\rc"},
      {"\x1b[2J\x07\x7f", "\\x1b[2J\\x07\\x7f", "\\x1b[2J\\x07\\x7f"},
      {std::string("nul\0end", 7), "nul\\x00end", "nul\\x00end"},
      {"M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80", "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80",
       "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"\xC2\x9B" "2J", "\xC2\x9B" "2J", "\\xc2\\x9b2J"},  // C1 control sequence introducer
      {"Caf\xE9", "Caf\xE9", "Caf\\xe9"},                  // a Windows code page, not UTF-8
      {"\xC0\x8A", "\xC0\x8A", "\\xc0\\x8a"},              // overlong newline
      {"\xED\xA0\x80", "\xED\xA0\x80", "\\xed\\xa0\\x80"},  // a surrogate
      {"\xE2\x82", "\xE2\x82", "\\xe2\\x82"},              // cut short
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeControlBytes(c.in), c.line) << c.in;
    EXPECT_EQ(EscapeForUtf8Terminal(c.in), c.terminal) << c.in;
  }
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  return text;
}

// Whole however long, up to a bound that keeps a hostile name from taking
// all memory: what fits of a longer text is kept.
TEST(FormatTextV, TheWholeTextUpToOneMebibyte) {
  for (const size_t length : {size_t{0}, size_t{511}, size_t{512}, size_t{5000}, size_t{1} << 19}) {
    const std::string name(length, 'n');
    EXPECT_EQ(Format("<%s>%d", name.c_str(), 7), "<" + name + ">7") << length;
  }
  const std::string huge((size_t{1} << 20) + 10, 'h');
  EXPECT_EQ(Format("%s", huge.c_str()), huge.substr(0, (size_t{1} << 20) - 1));
}

TEST(ShortenPath, LongPathKeepsBothEndsAroundTwoDots) {
  const std::string path = "C:\\WINDOWS\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch\\x.lnk";
  const std::string shown = Shorten(path, 60);
  ASSERT_EQ(shown.size(), 60u);
  EXPECT_EQ(shown.substr(0, 29), path.substr(0, 29));
  EXPECT_EQ(shown.substr(29, 2), "..");
  EXPECT_EQ(shown.substr(31), path.substr(path.size() - 29));
}

TEST(ShortenPath, AtOrBelowTheLimitIsUnchanged) {
  EXPECT_EQ(Shorten(std::string(60, 'a'), 60), std::string(60, 'a'));
  EXPECT_EQ(Shorten("", 60), "");
  EXPECT_EQ(Shorten(std::string(61, 'a'), 60).size(), 60u);
}

TEST(ShortenPath, OddLimitsFillTheMiddleWithMoreDots) {
  // maxLen 7: half 2, so 2 + 3 dots + 2.
  EXPECT_EQ(Shorten("abcdefghij", 7), "ab...ij");
}

TEST(ShortenPath, LimitsTooSmallToHalveLeaveTheTextAlone) {
  EXPECT_EQ(Shorten("abcdefghij", 3), "abcdefghij");  // half = 0
  EXPECT_EQ(Shorten("abcdefghij", 0), "abcdefghij");
  EXPECT_EQ(Shorten("abcdefghij", -5), "abcdefghij");
}

TEST(ShortenPath, NeverWritesPastTheDestination) {
  char small[8];
  ShortenPath("abcdefghijklmnop", small, sizeof small, 60);
  EXPECT_STREQ(small, "abcdefg");
}

std::string Built(PathBuild expected, PathBuild actual, const char* out) {
  EXPECT_EQ(static_cast<int>(actual), static_cast<int>(expected));
  return out;
}

TEST(PathBuilding, EntrySubfolderAndNextPatterns) {
  char out[260];
  EXPECT_EQ(Built(PathBuild::Ok, BuildEntryPath("C:\\dir\\*.*", "file.exe", out, sizeof out), out),
            "C:\\dir\\file.exe");
  EXPECT_EQ(Built(PathBuild::Ok, BuildSubfolderPattern("C:\\dir\\*.*", out, sizeof out), out),
            "C:\\dir\\*.*");
  EXPECT_EQ(Built(PathBuild::Ok, BuildNextPattern("C:\\dir\\*.*", "sub", out, sizeof out), out),
            "C:\\dir\\sub\\*.*");
}

TEST(PathBuilding, DotsInFolderNamesDoNotDisturbIt) {
  char out[260];
  EXPECT_EQ(Built(PathBuild::Ok, BuildEntryPath("C:\\a.b\\c.d\\*.*", "x", out, sizeof out), out),
            "C:\\a.b\\c.d\\x");
  EXPECT_EQ(Built(PathBuild::Ok, BuildNextPattern("C:\\a.b\\*.*", "v1.2", out, sizeof out), out),
            "C:\\a.b\\v1.2\\*.*");
}

TEST(PathBuilding, SingleFilePatternSearchesItsStemAsSubfolders) {
  // With a file path as the pattern, the subfolder search is the path cut
  // after its last '.' followed by '*'.
  char out[260];
  EXPECT_EQ(Built(PathBuild::Ok, BuildSubfolderPattern("C:\\WINDOWS\\worm.exe", out, sizeof out), out),
            "C:\\WINDOWS\\worm.*");
}

TEST(PathBuilding, NoDotAbandons) {
  char out[260] = "untouched";
  EXPECT_EQ(BuildEntryPath("C:\\dir\\*", "x", out, sizeof out), PathBuild::NoDot);
  EXPECT_EQ(BuildSubfolderPattern("C:\\dir", out, sizeof out), PathBuild::NoDot);
  EXPECT_EQ(BuildNextPattern("C:\\dir", "x", out, sizeof out), PathBuild::NoDot);
  EXPECT_STREQ(out, "untouched");
}

TEST(PathBuilding, ResultsThatDoNotFitAreRefusedNotCut) {
  const std::string pattern = "C:\\" + std::string(250, 'd') + "\\*.*";  // folder part: 254 chars
  char out[260] = "untouched";
  // 254 + 5 = 259 characters fit with the terminator; 260 do not.
  EXPECT_EQ(BuildEntryPath(pattern.c_str(), "12345", out, sizeof out), PathBuild::Ok);
  EXPECT_EQ(std::string(out).size(), 259u);
  std::strcpy(out, "untouched");
  EXPECT_EQ(BuildEntryPath(pattern.c_str(), "123456", out, sizeof out), PathBuild::TooLong);
  EXPECT_STREQ(out, "untouched");
  EXPECT_EQ(BuildNextPattern(pattern.c_str(), "1", out, sizeof out), PathBuild::Ok);  // +"1\*.*" = 259
  EXPECT_EQ(BuildNextPattern(pattern.c_str(), "12", out, sizeof out), PathBuild::TooLong);
}

TEST(CopyText, CutsAndTerminates) {
  char out[4];
  EXPECT_TRUE(CopyText(out, sizeof out, "abc"));
  EXPECT_STREQ(out, "abc");
  EXPECT_FALSE(CopyText(out, sizeof out, "abcd"));
  EXPECT_STREQ(out, "abc");
}

}  // namespace
