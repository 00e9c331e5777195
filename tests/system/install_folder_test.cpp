// The whole launch from installation folders that stretch the paths: blanks,
// Chinese, a look-alike of another installation's name, a drive root, and
// the longest folders that still fit and just do not. Every step either does
// its work or is skipped; none acts on another folder or cuts a path short.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/language_key_rig.h"
#include "tests/support/shortcut_rig.h"
#include "tests/support/test_support.h"
#include "tests/support/system_rig.h"
#include "tests/support/update_test_support.h"

namespace {

using namespace desktop_testing;
using namespace system_testing;
using namespace testing_support;
using namespace update_testing;

const wchar_t kOldShortcut[] = L"vorlan system old";
const wchar_t kNewShortcut[] = L"vorlan system new";
const wchar_t* const kLeftovers[] = {L"Updater.exe", L"update.td0", L"update.td1",
                                     L"update.td2",  L"update.td3", L"update.td"};
// A drive the test set-up maps to a folder of the build tree.
const wchar_t kDriveRoot[] = L"R:\\";

// What the launch may do in a folder of that name.
struct Expected {
  bool updateApplied;
  bool shortcutMoved;
  // Wine's shell reads open commands of up to 259 units only; a longer one is
  // run here as the shell would run it.
  bool linkThroughShell = true;
};

// Whether the ANSI code page spells a path exactly (Wine stores a shortcut's
// target in it alone).
bool AnsiSpells(const std::wstring& text) {
  BOOL lossy = FALSE;
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr,
                        &lossy);
  return !lossy;
}

void EmptyFolder(const std::wstring& folder) {
  for (const std::wstring& name : FolderEntries(folder)) {
    const std::wstring path = folder + (folder.back() == L'\\' ? L"" : L"\\") + name;
    if (FolderExists(path)) {
      RemoveTree(path);
    } else {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(path.c_str());
    }
  }
}

class InstallFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    EndAllClients();
    RemoveProtocolKey();
    language_.SetText(L"en-US");
  }
  void TearDown() override {
    EndAllClients();
    RemoveProtocolKey();
  }

  // An installation in folder with its configuration, icon, a staged update
  // and the updater's leftovers, and the product's shortcut on the desktop;
  // one launch from the desktop, then one link through the shell.
  void LaunchFrom(const std::wstring& folder, Expected expected) {
    const std::wstring base = folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder;
    const std::wstring launcher = InstallLauncher(base);
    ASSERT_TRUE(FileExists(launcher));
    ASSERT_TRUE(::CopyFileW((BinFolder() + L"\\test_vorlan.ico").c_str(),
                            (base + L"\\vorlan.ico").c_str(), FALSE));
    WriteFileBytes(base + L"\\ProductConfig.xml",
                   "<ProductConfig><shortcut_en>vorlan system old</shortcut_en>"
                   "<shortcut_new_en>vorlan system new</shortcut_new_en></ProductConfig>");
    CreateFolders(base + L"\\temp");
    CopyFixture(L"system_update.zip", base + L"\\temp\\update.zip", Fixtures::kSystem);
    for (const wchar_t* leftover : kLeftovers) {
      WriteFileBytes(base + L"\\temp\\" + leftover, "leftover");
    }
    const std::vector<char> staged = ReadFileBytes(base + L"\\temp\\update.zip");
    DesktopLinks links(PublicDesktop());
    const std::wstring oldLink = links.PathOf(kOldShortcut);
    const std::wstring newLink = links.PathOf(kNewShortcut);
    LinkProperties earlier;
    earlier.target = L"C:\\earlier install\\launcher.exe";
    ASSERT_TRUE(WriteLink(oldLink, earlier));
    const std::vector<char> oldLinkBytes = ReadFileBytes(oldLink);

    const ProcessResult result = RunLauncher(launcher, L"", {}, true);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    const std::vector<ClientRecord> started = WaitForClients(base, 1);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(ParametersOf(started[0]), L"");
    EXPECT_EQ(ReadOpenCommand().data, OpenCommandFor(launcher)) << Narrow(ReadOpenCommand().Text());
    const std::vector<std::string> records = OutputLines(result.output);
    ASSERT_EQ(records.size(), 2u) << result.output;
    EXPECT_EQ(RecordText(records[0]), "class path: vorlan.exe\n");
    EXPECT_EQ(RecordText(records[1]), "par: \n");
    EndAllClients();

    if (expected.updateApplied) {
      EXPECT_TRUE(FolderEntries(base + L"\\temp").empty());
      EXPECT_FALSE(FileExists(base + L"\\update.zip"));
      EXPECT_EQ(ReadText(base + L"\\docs\\readme.txt"), "read me\n");
    } else {
      EXPECT_EQ(ReadFileBytes(base + L"\\temp\\update.zip"), staged);
      EXPECT_EQ(FolderEntries(base + L"\\temp").size(), 7u);
      EXPECT_FALSE(FileExists(base + L"\\update.zip"));
      EXPECT_FALSE(FolderExists(base + L"\\docs"));
    }
    if (expected.shortcutMoved) {
      EXPECT_FALSE(FileExists(oldLink));
      const LinkProperties moved = ReadLink(newLink);
      // Wine keeps a shortcut's target in the ANSI code page alone (Windows
      // keeps Unicode beside it); the working folder, kept in Unicode, shows
      // the refresh whatever the folder's name.
      if (AnsiSpells(launcher)) {
        EXPECT_EQ(moved.target, launcher);
      }
      EXPECT_EQ(moved.workingFolder, folder);
    } else {
      EXPECT_EQ(ReadFileBytes(oldLink), oldLinkBytes);
      EXPECT_FALSE(FileExists(newLink));
    }

    // The registered command reaches this launcher, wherever it lies.
    if (expected.linkThroughShell) {
      const HINSTANCE opened = ::ShellExecuteW(nullptr, nullptr, L"quintarelox://via-shell",
                                               nullptr, nullptr, SW_SHOWNORMAL);
      EXPECT_GT(reinterpret_cast<INT_PTR>(opened), 32);
    } else {
      std::wstring command = ReadOpenCommand().Text();
      const std::wstring::size_type argument = command.find(L"%1");
      ASSERT_NE(argument, std::wstring::npos);
      command.replace(argument, 2, L"quintarelox://via-shell");
      EXPECT_EQ(RunProcess(command).exitCode, 0u);
    }
    const std::vector<ClientRecord> after = WaitForClients(base, 2);
    ASSERT_EQ(after.size(), 2u);
    const ClientRecord& linked = after[0].processId == started[0].processId ? after[1] : after[0];
    EXPECT_EQ(ParametersOf(linked), L"via-shell\"");
    EXPECT_EQ(WaitForClientCount(1), 1u);
  }

  // A folder of exactly length units below a test folder of its own.
  static std::wstring FolderOfLength(const TestFolder& root, std::size_t length) {
    const std::size_t leaf = length - root.Path().size() - 1;
    EXPECT_LT(leaf, 256u);
    const std::wstring folder = root.Path() + L"\\" + std::wstring(leaf, L'L');
    CreateFolders(folder);
    return folder;
  }

  LanguageKey language_;
};

TEST_F(InstallFolder, BlanksInTheName) {
  TestFolder folder(L"Program Files (x86)\\vorlan  client");
  LaunchFrom(folder.Path(), {true, true});
}

TEST_F(InstallFolder, ChineseName) {
  TestFolder folder(L"\x6C83\x5170 \x5BA2\x6237\x7AEF");
  LaunchFrom(folder.Path(), {true, true});
}

// No ANSI code page spells Korean and emoji together: the update is still
// applied, the configuration read and the shortcut moved, under every system
// locale.
TEST_F(InstallFolder, KoreanAndEmojiName) {
  TestFolder folder(L"\xD55C\xAD6D\xC5B4 \xD83D\xDE00 vorlan");
  LaunchFrom(folder.Path(), {true, true});
}

// A name the ANSI code page can only approximate gets its own update and
// does not lead it to the installation whose name it approximates.
TEST_F(InstallFolder, ALookAlikeNameLeavesTheOtherInstallationAlone) {
  TestFolder root;
  const std::wstring lookAlike = root / L"\x0100pp";
  const std::wstring other = root / L"App";
  CreateFolders(lookAlike);
  CreateFolders(other + L"\\temp");
  WriteFileBytes(other + L"\\temp\\Updater.exe", "the other updater");
  WriteFileBytes(other + L"\\temp\\update.zip", "the other update");
  LaunchFrom(lookAlike, {true, true});
  EXPECT_EQ(FolderEntries(other + L"\\temp"),
            (std::vector<std::wstring>{L"Updater.exe", L"update.zip"}));
  EXPECT_EQ(FolderEntries(other), std::vector<std::wstring>{L"temp"});
}

TEST_F(InstallFolder, DriveRoot) {
  ASSERT_TRUE(FolderExists(kDriveRoot)) << "the test set-up maps R: to a folder";
  AddClientFolder(kDriveRoot);  // the folder lies in the build tree, under another name
  EmptyFolder(kDriveRoot);
  LaunchFrom(kDriveRoot, {true, true});
  EndAllClients();
  EmptyFolder(kDriveRoot);
}

// 240 units: "<folder>//ProductConfig.xml" just fits its 260-unit buffer.
TEST_F(InstallFolder, TheLongestFolderForTheConfigurationPath) {
  TestFolder root;
  const std::wstring folder = FolderOfLength(root, 240);
  LaunchFrom(folder, {true, true, false});
  EXPECT_EQ(FolderEntries(root.Path()), std::vector<std::wstring>{folder.substr(root.Path().size() + 1)});
}

// 241 units: the configuration path does not fit; the shortcut step is
// skipped, the update (whose paths still fit) is applied.
TEST_F(InstallFolder, OneUnitLongerSkipsTheShortcut) {
  TestFolder root;
  const std::wstring folder = FolderOfLength(root, 241);
  LaunchFrom(folder, {true, false, false});
  EXPECT_EQ(FolderEntries(root.Path()), std::vector<std::wstring>{folder.substr(root.Path().size() + 1)});
}

// 246 units: the launcher's own path takes 259, the most that fits; the
// update's paths in temp no longer do, so it stays staged.
TEST_F(InstallFolder, TheLongestFolderForTheLauncherPath) {
  TestFolder root;
  const std::wstring folder = FolderOfLength(root, 246);
  LaunchFrom(folder, {false, false, false});
  EXPECT_EQ(FolderEntries(root.Path()), std::vector<std::wstring>{folder.substr(root.Path().size() + 1)});
}

}  // namespace
