#include "launcher/base/text_helpers.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace launcher {
namespace {

bool AllZero(const char (&buffer)[kPathBufferSize]) {
  for (char c : buffer) {
    if (c != '\0') return false;
  }
  return true;
}

TEST(WideToCp936, FitsUpTo259BytesAndRejectsLongerTextWithAZeroBuffer) {
  char out[kPathBufferSize];
  std::memset(out, 'x', sizeof(out));
  const std::wstring fits(259, L'a');
  EXPECT_TRUE(WideToCp936(fits.c_str(), out));
  EXPECT_EQ(std::string(out), std::string(259, 'a'));
  EXPECT_EQ(out[259], '\0');

  const std::wstring tooLong(260, L'a');
  EXPECT_FALSE(WideToCp936(tooLong.c_str(), out));
  EXPECT_TRUE(AllZero(out));

  // 130 Chinese characters need 260 bytes and the terminator one more.
  const std::wstring chinese(130, L'\x63D0');
  std::memset(out, 'x', sizeof(out));
  EXPECT_FALSE(WideToCp936(chinese.c_str(), out));
  EXPECT_TRUE(AllZero(out));
}

TEST(WideToCp936, ConvertsChineseAndReplacesWhatCodePage936Lacks) {
  char out[kPathBufferSize];
  EXPECT_TRUE(WideToCp936(L"C:\\\x63D0\x793A\\ProductConfig.xml", out));
  EXPECT_EQ(std::string(out), "C:\\\xCC\xE1\xCA\xBE\\ProductConfig.xml");

  // Thai has no code page 936 form: the code page's default character.
  EXPECT_TRUE(WideToCp936(L"th\x0E01", out));
  EXPECT_EQ(std::string(out), "th?");
}

TEST(WideToCp936, NullLeavesTheBufferAndEmptyClearsIt) {
  char out[kPathBufferSize];
  std::memset(out, 'x', sizeof(out));
  EXPECT_FALSE(WideToCp936(nullptr, out));
  EXPECT_EQ(out[0], 'x');
  EXPECT_FALSE(WideToCp936(L"", out));
  EXPECT_TRUE(AllZero(out));
}

TEST(Utf8ToWide, DecodesUtf8AndReplacesMalformedBytes) {
  wchar_t out[kPathBufferSize];
  EXPECT_TRUE(Utf8ToWide("\xE6\x8F\x90\xE7\xA4\xBA", out));
  EXPECT_EQ(std::wstring(out), L"\x63D0\x793A");

  EXPECT_TRUE(Utf8ToWide("a\xFF" "b", out));
  EXPECT_EQ(std::wstring(out), L"a\xFFFD" L"b");
}

TEST(Utf8ToWide, EmptyAndNullTextGiveFalse) {
  wchar_t out[kPathBufferSize];
  out[0] = L'x';
  EXPECT_FALSE(Utf8ToWide(nullptr, out));
  EXPECT_EQ(out[0], L'x');
  EXPECT_FALSE(Utf8ToWide("", out));
  EXPECT_EQ(out[0], L'\0');
}

TEST(Utf8ToWide, TextLongerThan259UnitsIsRefusedWithoutAbortingOrCutting) {
  wchar_t out[kPathBufferSize];
  EXPECT_TRUE(Utf8ToWide(std::string(259, 'a').c_str(), out));
  EXPECT_EQ(std::wstring(out), std::wstring(259, L'a'));

  std::wcscpy(out, L"previous");
  EXPECT_FALSE(Utf8ToWide(std::string(260, 'a').c_str(), out));
  EXPECT_EQ(std::wstring(out), L"previous");
  // 200 Chinese characters are 600 bytes but only 200 units: they fit.
  std::string chinese;
  for (int i = 0; i < 200; ++i) chinese += "\xE6\x8F\x90";
  EXPECT_TRUE(Utf8ToWide(chinese.c_str(), out));
  EXPECT_EQ(std::wstring(out), std::wstring(200, L'\x63D0'));
}

TEST(PathParts, FollowTheRulesOfAPathsParent) {
  EXPECT_EQ(ParentFolderOf(L"C:\\a\\b\\launcher.exe"), L"C:\\a\\b");
  EXPECT_EQ(ParentFolderOf(L"C:\\launcher.exe"), L"C:\\");
  EXPECT_EQ(ParentFolderOf(L"D:/x/launcher.exe"), L"D:/x");
  EXPECT_EQ(ParentFolderOf(L"C:\\a\\\\launcher.exe"), L"C:\\a");
  EXPECT_EQ(ParentFolderOf(L"C:\\a/b\\launcher.exe"), L"C:\\a/b");
  EXPECT_EQ(ParentFolderOf(L"C:launcher.exe"), L"C:");
  EXPECT_EQ(ParentFolderOf(L"\\\\server\\share\\launcher.exe"), L"\\\\server\\share");
  EXPECT_EQ(ParentFolderOf(L"\\\\?\\C:\\launcher.exe"), L"\\\\?\\C:\\");
  EXPECT_EQ(ParentFolderOf(L"launcher.exe"), L"");
  EXPECT_EQ(ParentFolderOf(L""), L"");
  // The name and the folder part split at the last separator of either kind.
  EXPECT_STREQ(FileNameOf(L"C:\\a/b\\launcher.exe"), L"launcher.exe");
  EXPECT_STREQ(FileNameOf(L"launcher.exe"), L"launcher.exe");
  EXPECT_EQ(FolderPartOf(L"C:\\a/b\\launcher.exe"), L"C:\\a/b\\");
  EXPECT_EQ(FolderPartOf(L"launcher.exe"), L"");
}

TEST(ExeFolder, KeepsTheTrailingBackslashAndSplitsOnlyAtBackslashes) {
  std::wstring out = L"unchanged";
  EXPECT_TRUE(ExeFolderFromModulePath(L"D:\\launcher.exe", out));
  EXPECT_EQ(out, L"D:\\");
  EXPECT_TRUE(ExeFolderFromModulePath(L"C:\\Program Files\\App\\launcher.exe", out));
  EXPECT_EQ(out, L"C:\\Program Files\\App\\");
  EXPECT_TRUE(ExeFolderFromModulePath(L"C:\\a/b/launcher.exe", out));
  EXPECT_EQ(out, L"C:\\");

  out = L"unchanged";
  EXPECT_FALSE(ExeFolderFromModulePath(L"C:/a/launcher.exe", out));
  EXPECT_EQ(out, L"unchanged");
}

TEST(ExeFolder, OfTheRunningProgramEndsInABackslash) {
  std::wstring folder;
  ASSERT_TRUE(GetExeFolderW(folder));
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), L'\\');
  wchar_t module[1025] = {};
  GetModuleFileNameW(nullptr, module, 1024);
  EXPECT_EQ(std::wstring(module).rfind(folder, 0), 0u);
}

TEST(EqualsIgnoringAsciiCase, FoldsOnlyAsciiLettersInWideAndNarrowText) {
  struct Case {
    const wchar_t* left;
    const wchar_t* right;
    bool equal;
  };
  const Case cases[] = {
      {L"Shortcut_CN", L"shortcut_cn", true},
      {L"vorlan.EXE", L"VORLAN.exe", true},
      {L"\u00D6lan", L"\u00F6lan", false},  // only ASCII folds
      {L"abc", L"abcd", false},
      {L"", L"", true},
      {nullptr, L"a", false},
      {L"a", nullptr, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.left, c.right), c.equal)
        << (c.left ? "left given" : "left null") << " / " << (c.right ? "right given" : "right null");
  }
  EXPECT_TRUE(EqualsIgnoringAsciiCase("SHORTCUT_new_EN", "shortcut_NEW_en"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC3\x96lan", "\xC3\xB6lan"));  // UTF-8 bytes must match
}

TEST(ReadModulePath, ReadsTheWholePathOfTheRunningProgram) {
  DWORD error = 0;
  const std::wstring path = ReadModulePath(nullptr, error);
  ASSERT_FALSE(path.empty()) << error;
  EXPECT_EQ(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  std::wstring folder;
  ASSERT_TRUE(GetExeFolderW(folder));
  EXPECT_EQ(path.compare(0, folder.size(), folder), 0);
}

TEST(WideToLogText, ConvertsToCodePage936AndLeavesTheCallersLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  EXPECT_EQ(WideToLogText(L"par: "), "par: ");
  EXPECT_EQ(WideToLogText(L"\x63D0\x793A"), "\xCC\xE1\xCA\xBE");
  EXPECT_EQ(WideToLogText(L""), "");
  EXPECT_EQ(WideToLogText(std::wstring(L"par\0tail", 8)), "par");
  EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), before);
}

TEST(WideToLogText, AnyUnconvertibleCharacterEmptiesTheWholeText) {
  EXPECT_EQ(WideToLogText(L"room=\x0E01"), "");
  EXPECT_EQ(WideToLogText(L"caf\x00E9"), "caf\xA8\xA6");  // GBK has pinyin letters
  EXPECT_EQ(WideToLogText(L"\xD83D\xDE00"), "");
}

// A look-alike would name another file: U+0100 must not become another letter.
TEST(WideToCp936, GivesTheDefaultCharacterRatherThanALookAlike) {
  char out[kPathBufferSize];
  EXPECT_TRUE(WideToCp936(L"C:\\\x0100pp\\ProductConfig.xml", out));
  EXPECT_EQ(std::string(out), "C:\\?pp\\ProductConfig.xml");
}

}  // namespace
}  // namespace launcher
