// The whole launch: an installation with ProductConfig.xml and vorlan.ico,
// and the product's shortcut on the all-users desktop under its old name.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/language_key_rig.h"
#include "tests/support/shortcut_rig.h"
#include "tests/support/test_support.h"

namespace {

using namespace desktop_testing;
using namespace testing_support;

class DesktopLaunch : public ::testing::Test {
 protected:
  void SetUp() override { EndAllClients(); }
  void TearDown() override { EndAllClients(); }

  // Installs the launcher with its icon and a configuration naming four
  // shortcuts, puts shortcuts of an earlier installation on the all-users
  // desktop under both present names, launches, and checks that only the
  // chosen language's shortcut moved to its new name.
  void LaunchAndExpectMove(bool chinese) {
    TestFolder install(L"with blanks");
    TestFolder earlier;
    const std::wstring launcher = InstallLauncher(install.Path());
    const std::wstring cn = UniqueName(L"\x6C83\x5170\x5BA2\x6237\x7AEF");
    const std::wstring en = UniqueName(L"Vorlan Client");
    const std::wstring newCn = UniqueName(L"\x6C83\x5170");
    const std::wstring newEn = UniqueName(L"Vorlan");
    WriteConfiguration(install.Path(), cn, en, newCn, newEn);

    DesktopLinks links(PublicDesktop());
    const std::wstring oldPath = links.PathOf(chinese ? cn : en);
    const std::wstring newPath = links.PathOf(chinese ? newCn : newEn);
    const std::wstring otherOldPath = links.PathOf(chinese ? en : cn);
    const std::wstring otherNewPath = links.PathOf(chinese ? newEn : newCn);
    LinkProperties earlierLink;
    earlierLink.target = earlier / L"launcher.exe";
    earlierLink.arguments = L"from-desktop";
    earlierLink.workingFolder = earlier.Path();
    earlierLink.iconPath = L"C:\\windows\\system32\\shell32.dll";
    earlierLink.iconIndex = 2;
    ASSERT_TRUE(WriteLink(oldPath, earlierLink));
    ASSERT_TRUE(WriteLink(otherOldPath, earlierLink));
    const std::vector<char> otherBefore = ReadFileBytes(otherOldPath);

    const ProcessResult result = RunLauncher(launcher, L"");
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(WaitForClients(install.Path(), 1).size(), 1u);
    EndAllClients();  // the client holds files in the folder

    EXPECT_FALSE(FileExists(oldPath));
    const LinkProperties moved = ReadLink(newPath);
    EXPECT_EQ(moved.target, launcher);
    EXPECT_EQ(moved.workingFolder, install.Path());
    EXPECT_EQ(moved.description, L"vorlan");
    EXPECT_EQ(moved.iconPath, install.Path() + L"//vorlan.ico");
    EXPECT_EQ(moved.iconIndex, 0);
    EXPECT_EQ(moved.arguments, L"from-desktop");
    EXPECT_EQ(ReadFileBytes(otherOldPath), otherBefore);
    EXPECT_FALSE(FileExists(otherNewPath));
  }

  // ProductConfig.xml naming the four shortcuts, and the icon beside it.
  static void WriteConfiguration(const std::wstring& folder, const std::wstring& cn,
                                 const std::wstring& en, const std::wstring& newCn,
                                 const std::wstring& newEn) {
    EXPECT_TRUE(::CopyFileW((BinFolder() + L"\\test_vorlan.ico").c_str(),
                            (folder + L"\\vorlan.ico").c_str(), FALSE));
    WriteFileBytes(folder + L"\\ProductConfig.xml",
                   "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ProductConfig>\r\n"
                   "  <shortcut_cn>" + Narrow(cn) + "</shortcut_cn>\r\n"
                   "  <shortcut_en>" + Narrow(en) + "</shortcut_en>\r\n"
                   "  <shortcut_new_cn>" + Narrow(newCn) + "</shortcut_new_cn>\r\n"
                   "  <shortcut_new_en>" + Narrow(newEn) + "</shortcut_new_en>\r\n"
                   "</ProductConfig>\r\n");
  }

  LanguageKey language_;
};

TEST_F(DesktopLaunch, TheChineseShortcutTakesItsNewNameAndPointsAtTheLauncher) {
  language_.Remove();  // Chinese by default
  LaunchAndExpectMove(true);
}

TEST_F(DesktopLaunch, WithEnglishChosenTheEnglishShortcutMoves) {
  language_.SetText(L"en-US");
  LaunchAndExpectMove(false);
}

TEST_F(DesktopLaunch, AFolderTooLongForTheConfigurationPathSkipsTheShortcut) {
  language_.Remove();
  TestFolder root;
  // 245 units: the launcher's path still fits 259, "//ProductConfig.xml" does not.
  const std::wstring install = root.Path() + L"\\" + std::wstring(244 - root.Path().size(), L'i');
  ASSERT_EQ(install.size(), 245u);
  CreateFolders(install);
  const std::wstring launcher = InstallLauncher(install);
  const std::wstring oldName = UniqueName(L"old");
  const std::wstring newName = UniqueName(L"new");
  WriteConfiguration(install, oldName, oldName, newName, newName);
  ASSERT_TRUE(FileExists(install + L"\\ProductConfig.xml"));
  DesktopLinks links(PublicDesktop());
  const std::wstring oldPath = links.PathOf(oldName);
  LinkProperties earlierLink;
  earlierLink.target = root / L"launcher.exe";
  ASSERT_TRUE(WriteLink(oldPath, earlierLink));
  const std::vector<char> before = ReadFileBytes(oldPath);

  const ProcessResult result = RunLauncher(launcher, L"");
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(WaitForClients(install, 1).size(), 1u);
  EndAllClients();
  EXPECT_EQ(ReadFileBytes(oldPath), before);
  EXPECT_FALSE(FileExists(links.PathOf(newName)));
}

}  // namespace
