// Shortcuts made on the all-users desktop with the real shell link object,
// refreshed by the launcher's operation and read back the same way.
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <optional>
#include <string>
#include <thread>

#include "desktop/desktop_shortcut.h"
#include "desktop/shell_link_file.h"
#include "launcher/base/file_identity.h"
#include "launcher/base/scoped_resource.h"
#include "tests/support/shortcut_rig.h"
#include "tests/support/test_support.h"

namespace {

using namespace desktop_testing;
using namespace testing_support;
using launcher::UpdateDesktopShortcut;
using launcher::UpdateShortcutInFolder;

// The file's last write time, set first when set is given.
FILETIME LastWriteTime(const std::wstring& path, const FILETIME* set = nullptr) {
  FILETIME time = {};
  const launcher::ScopedFileHandle file(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (set != nullptr) {
    EXPECT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, set));
  }
  EXPECT_TRUE(::GetFileTime(file.Get(), nullptr, nullptr, &time));
  return time;
}

template <typename T>
T LittleEndianAt(const std::vector<char>& bytes, std::size_t offset) {
  T value = 0;
  std::memcpy(&value, &bytes[offset], sizeof(value));
  return value;
}

// A shortcut Wine wrote, with the icon block Windows writes when it keeps the
// icon's location in environment-variable form: flagged in the header and
// put before the terminal block.
std::string WithIconEnvironment(const std::vector<char>& link, const std::wstring& location) {
  std::string bytes(link.begin(), link.end() - 4);
  bytes[0x15] = static_cast<char>(bytes[0x15] | 0x40);  // the flag 0x4000
  std::string block(0x314, '\0');
  const std::uint32_t head[] = {0x314, 0xA0000007};
  std::memcpy(&block[0], head, sizeof(head));
  std::memcpy(&block[8 + 260], location.c_str(), location.size() * sizeof(wchar_t));
  return bytes + block + std::string(4, '\0');
}

// Bytes placed to end right before a page no one may read.
class GuardedBytes {
 public:
  GuardedBytes() {
    SYSTEM_INFO system = {};
    ::GetSystemInfo(&system);
    page_ = system.dwPageSize;
    pages_ = static_cast<unsigned char*>(
        ::VirtualAlloc(nullptr, 2 * page_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD previous = 0;
    ready_ = pages_ != nullptr && ::VirtualProtect(pages_ + page_, page_, PAGE_NOACCESS, &previous);
  }
  ~GuardedBytes() {
    if (pages_ != nullptr) ::VirtualFree(pages_, 0, MEM_RELEASE);
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  bool IsReady() const { return ready_; }
  std::optional<launcher::ShellLinkFile> Read(const std::vector<char>& bytes) {
    unsigned char* start = pages_ + page_ - bytes.size();
    if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
    return launcher::ReadShellLinkFile(start, bytes.size());
  }

 private:
  std::size_t page_ = 0;
  unsigned char* pages_ = nullptr;
  bool ready_ = false;
};

class DesktopShortcut : public ::testing::Test {
 protected:
  DesktopShortcut()
      : desktop_(PublicDesktop()),
        links_(desktop_),
        oldName_(UniqueName(L"\x6C83\x5170 old")),
        newName_(UniqueName(L"\x6C83\x5170 new")),
        oldPath_(links_.PathOf(oldName_)),
        newPath_(links_.PathOf(newName_)) {
    launcher_ = install_ / L"launcher.exe";
    WriteFileBytes(launcher_, "MZ");
    icon_ = install_.Path() + L"//vorlan.ico";
    ::CopyFileW((BinFolder() + L"\\test_vorlan.ico").c_str(), (install_ / L"vorlan.ico").c_str(),
                FALSE);
    WriteFileBytes(previous_ / L"launcher.exe", "MZ");
    WriteFileBytes(previous_ / L"other.exe", "MZ");
  }

  // A shortcut as an earlier installation left it.
  LinkProperties Earlier(const std::wstring& targetName = L"launcher.exe") const {
    LinkProperties link;
    link.target = previous_ / targetName;
    link.arguments = L"--from-desktop \"x y\"";
    link.workingFolder = previous_.Path();
    link.description = L"earlier description";
    link.iconPath = L"C:\\windows\\system32\\shell32.dll";
    link.iconIndex = 3;
    link.showCommand = SW_SHOWMAXIMIZED;
    link.hotKey = MAKEWORD('V', HOTKEYF_CONTROL | HOTKEYF_ALT);
    return link;
  }

  // What a refresh of the loaded shortcut must give: the launcher's own
  // target, folder, icon and description, everything else as loaded.
  LinkProperties Refreshed(const LinkProperties& loaded) const {
    LinkProperties link = loaded;
    link.target = launcher_;
    link.workingFolder = install_.Path();
    link.description = L"vorlan";
    link.iconPath = icon_;
    link.iconIndex = 0;
    return link;
  }

  int Update(const wchar_t* oldName, const wchar_t* newName, const wchar_t* icon = nullptr) {
    return UpdateDesktopShortcut(oldName, newName, launcher_.c_str(), L"vorlan",
                                 icon != nullptr ? icon : icon_.c_str(), install_.Path().c_str());
  }

  void Write(const std::wstring& path, const LinkProperties& link) {
    ASSERT_TRUE(WriteLink(path, link)) << Narrow(path);
  }

  void ExpectLink(const std::wstring& path, const LinkProperties& expected) {
    ASSERT_TRUE(FileExists(path)) << Narrow(path);
    const LinkProperties actual = ReadLink(path);
    EXPECT_TRUE(actual == expected) << "actual:   " << Describe(actual)
                                    << "\nexpected: " << Describe(expected);
  }

  TestFolder install_;
  TestFolder previous_;
  std::wstring desktop_;
  DesktopLinks links_;
  std::wstring oldName_, newName_, oldPath_, newPath_;
  std::wstring launcher_, icon_;
};

TEST_F(DesktopShortcut, NothingHappensWithoutAnOldNameOrAShortcutOnTheAllUsersDesktop) {
  EXPECT_EQ(Update(oldName_.c_str(), newName_.c_str()), launcher::kShortcutNotFound);
  EXPECT_EQ(Update(oldName_.c_str(), nullptr), launcher::kShortcutNotFound);

  // A shortcut on the user's own desktop is not considered.
  DesktopLinks ownLinks(UserDesktop());
  const std::wstring ownPath = ownLinks.PathOf(oldName_);
  Write(ownPath, Earlier());
  const std::vector<char> ownBefore = ReadFileBytes(ownPath);
  EXPECT_EQ(Update(oldName_.c_str(), newName_.c_str()), launcher::kShortcutNotFound);
  EXPECT_EQ(ReadFileBytes(ownPath), ownBefore);
  EXPECT_FALSE(FileExists(oldPath_));
  EXPECT_FALSE(FileExists(newPath_));

  // Only new names configured: nothing, even with the new shortcut present.
  Write(newPath_, Earlier());
  const std::vector<char> newBefore = ReadFileBytes(newPath_);
  EXPECT_EQ(Update(nullptr, newName_.c_str()), launcher::kShortcutNoOldName);
  EXPECT_EQ(Update(L"", newName_.c_str()), launcher::kShortcutNoOldName);
  EXPECT_EQ(ReadFileBytes(newPath_), newBefore);
}

TEST_F(DesktopShortcut, WithoutANewNameTheOldShortcutIsRefreshedInPlace) {
  Write(oldPath_, Earlier());
  const LinkProperties loaded = ReadLink(oldPath_);
  EXPECT_EQ(Update(oldName_.c_str(), nullptr), launcher::kShortcutSaveAttempted);
  ExpectLink(oldPath_, Refreshed(loaded));
  // An empty new name is no name either; the shortcut is up to date now.
  EXPECT_EQ(Update(oldName_.c_str(), L""), launcher::kShortcutUpToDate);
  ExpectLink(oldPath_, Refreshed(loaded));
  EXPECT_FALSE(FileExists(newPath_));
}

TEST_F(DesktopShortcut, TheLaunchersOldShortcutMovesToTheNewName) {
  // The target's file name is compared without letter case.
  WriteFileBytes(previous_ / L"LAUNCHER.EXE", "MZ");
  for (const wchar_t* targetName : {L"launcher.exe", L"LAUNCHER.EXE"}) {
    Write(oldPath_, Earlier(targetName));
    const LinkProperties loaded = ReadLink(oldPath_);
    EXPECT_EQ(Update(oldName_.c_str(), newName_.c_str()), launcher::kShortcutSaveAttempted);
    ExpectLink(newPath_, Refreshed(loaded));
    EXPECT_FALSE(FileExists(oldPath_)) << Narrow(targetName);
    ::DeleteFileW(newPath_.c_str());
  }
}

TEST_F(DesktopShortcut, AShortcutNotPointingAtTheLauncherIsCopiedButKept) {
  Write(oldPath_, Earlier(L"other.exe"));
  const LinkProperties loaded = ReadLink(oldPath_);
  const std::vector<char> before = ReadFileBytes(oldPath_);
  EXPECT_EQ(Update(oldName_.c_str(), newName_.c_str()), launcher::kShortcutSaveAttempted);
  ExpectLink(newPath_, Refreshed(loaded));
  EXPECT_EQ(ReadFileBytes(oldPath_), before);

  // Without a target to compare with, the old shortcut stays too.
  ::DeleteFileW(newPath_.c_str());
  Write(oldPath_, Earlier());
  EXPECT_EQ(UpdateDesktopShortcut(oldName_.c_str(), newName_.c_str(), nullptr, nullptr, nullptr,
                                  nullptr),
            launcher::kShortcutSaveAttempted);
  EXPECT_EQ(ReadLink(newPath_).target, Earlier().target);
  EXPECT_TRUE(FileExists(oldPath_));
}

TEST_F(DesktopShortcut, AShortcutUnderTheNewNameAloneIsRefreshedInPlace) {
  Write(newPath_, Earlier(L"other.exe"));
  const LinkProperties loaded = ReadLink(newPath_);
  EXPECT_EQ(Update(oldName_.c_str(), newName_.c_str()), launcher::kShortcutSaveAttempted);
  ExpectLink(newPath_, Refreshed(loaded));
  EXPECT_FALSE(FileExists(oldPath_));
}

TEST_F(DesktopShortcut, WithBothPresentTheOldOneOverwritesTheNewOne) {
  Write(oldPath_, Earlier());
  LinkProperties stale = Earlier(L"other.exe");
  stale.arguments = L"stale";
  stale.hotKey = 0;
  Write(newPath_, stale);
  const LinkProperties loaded = ReadLink(oldPath_);
  EXPECT_EQ(Update(oldName_.c_str(), newName_.c_str()), launcher::kShortcutSaveAttempted);
  ExpectLink(newPath_, Refreshed(loaded));
  EXPECT_FALSE(FileExists(oldPath_));
}

// A shortcut the refresh would leave as it is is not written again (so the
// shell hears of no change); one property the refresh sets that differs, or a
// move to the new name, makes it save. What the refresh keeps plays no part.
TEST_F(DesktopShortcut, AShortcutAsTheRefreshLeavesItIsNotSavedAgain) {
  std::wstring otherCase = oldName_;
  for (wchar_t& c : otherCase) c = static_cast<wchar_t>(std::towupper(c));
  const struct {
    const char* what;
    void (*change)(LinkProperties&);
    bool newShortcutOnly;
    std::wstring newName;
    int expected;
  } cases[] = {
      {"as refreshed", [](LinkProperties&) {}, false, L"", launcher::kShortcutUpToDate},
      {"other arguments", [](LinkProperties& l) { l.arguments = L"--other"; }, false, L"",
       launcher::kShortcutUpToDate},
      {"new name of the same file", [](LinkProperties&) {}, false, otherCase,
       launcher::kShortcutUpToDate},
      {"new shortcut alone", [](LinkProperties&) {}, true, newName_, launcher::kShortcutUpToDate},
      {"another target", [](LinkProperties& l) { l.target += L".old"; }, false, L"",
       launcher::kShortcutSaveAttempted},
      {"another working folder", [](LinkProperties& l) { l.workingFolder += L"\\x"; }, false,
       L"", launcher::kShortcutSaveAttempted},
      {"another description", [](LinkProperties& l) { l.description = L"Vorlan"; }, false, L"",
       launcher::kShortcutSaveAttempted},
      {"another icon", [](LinkProperties& l) { l.iconPath += L".old"; }, false, L"",
       launcher::kShortcutSaveAttempted},
      {"another icon index", [](LinkProperties& l) { l.iconIndex = 1; }, false, L"",
       launcher::kShortcutSaveAttempted},
      {"a move to the new name", [](LinkProperties&) {}, false, newName_,
       launcher::kShortcutSaveAttempted},
  };
  WriteFileBytes(launcher_ + L".old", "MZ");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LinkProperties written = Refreshed(Earlier());
    c.change(written);
    const std::wstring& path = c.newShortcutOnly ? newPath_ : oldPath_;
    Write(path, written);
    // A save of the same bytes would still give the file a new time.
    const FILETIME past = {0, 0x01D00000};
    LastWriteTime(path, &past);
    const std::vector<char> before = ReadFileBytes(path);
    const LinkProperties loaded = ReadLink(path);
    EXPECT_EQ(Update(oldName_.c_str(), c.newName.c_str()), c.expected);
    const std::wstring& saved = c.newName == newName_ ? newPath_ : path;
    ExpectLink(saved, Refreshed(loaded));
    if (c.expected == launcher::kShortcutUpToDate) {
      EXPECT_EQ(ReadFileBytes(path), before);
      EXPECT_EQ(LastWriteTime(path).dwHighDateTime, past.dwHighDateTime);
    }
    ::DeleteFileW(oldPath_.c_str());
    ::DeleteFileW(newPath_.c_str());
  }

  // Windows may keep the icon in environment-variable form, which Wine never
  // writes: the test adds that block to a shortcut Wine wrote, and the
  // decision follows the variable's value.
  Write(oldPath_, Refreshed(Earlier()));
  WriteFileBytes(oldPath_, WithIconEnvironment(ReadFileBytes(oldPath_),
                                               L"%VORLAN_TEST_FOLDER%//vorlan.ico"));
  const std::vector<char> withBlock = ReadFileBytes(oldPath_);
  ::SetEnvironmentVariableW(L"VORLAN_TEST_FOLDER", install_.Path().c_str());
  EXPECT_EQ(Update(oldName_.c_str(), nullptr), launcher::kShortcutUpToDate);
  EXPECT_EQ(ReadFileBytes(oldPath_), withBlock);
  ::SetEnvironmentVariableW(L"VORLAN_TEST_FOLDER", previous_.Path().c_str());
  EXPECT_EQ(Update(oldName_.c_str(), nullptr), launcher::kShortcutSaveAttempted);
  ::SetEnvironmentVariableW(L"VORLAN_TEST_FOLDER", nullptr);
}

// The file's own bytes, read without the link object: what the shell wrote
// reads back as the link object reports it, and no cut or damaged file is
// read past its end (each ends right before a page no one may read).
TEST_F(DesktopShortcut, AShortcutFileIsReadWithinItsBytes) {
  Write(oldPath_, Refreshed(Earlier()));
  const std::vector<char> file = ReadFileBytes(oldPath_);
  const LinkProperties expected = ReadLink(oldPath_);
  GuardedBytes guarded;
  ASSERT_TRUE(guarded.IsReady());

  const std::optional<launcher::ShellLinkFile> whole = guarded.Read(file);
  ASSERT_TRUE(whole);
  EXPECT_FALSE(whole->targetItems.empty());
  EXPECT_EQ(whole->description, expected.description);
  EXPECT_EQ(whole->workingFolder, expected.workingFolder);
  EXPECT_EQ(whole->iconLocation, expected.iconPath);
  EXPECT_EQ(whole->iconIndex, expected.iconIndex);

  for (std::size_t size = 0; size < file.size(); ++size) {
    (void)guarded.Read(std::vector<char>(file.begin(), file.begin() + size));
  }
  // Sizes that claim more than the file holds.
  const std::size_t items = 0x4C;
  const std::size_t linkInfo = items + 2 + LittleEndianAt<std::uint16_t>(file, items);
  const std::size_t description = linkInfo + LittleEndianAt<std::uint32_t>(file, linkInfo);
  const struct {
    const char* what;
    std::size_t offset;
    std::uint32_t value;
    std::size_t width;
  } damage[] = {
      {"item list size", items, 0xFFFF, 2},
      {"first item size", items + 2, 0xFFF0, 2},
      {"link information size", linkInfo, 0x7FFFFFFF, 4},
      {"description length", description, 0xFFFF, 2},
  };
  for (const auto& d : damage) {
    SCOPED_TRACE(d.what);
    std::vector<char> damaged = file;
    std::memcpy(&damaged[d.offset], &d.value, d.width);
    EXPECT_FALSE(guarded.Read(damaged));
  }
}

// File names fold letter case in all of Unicode: the save lands in the old
// file itself, which must then stay.
TEST_F(DesktopShortcut, ANewNameDifferingOnlyInLetterCaseRemovesNothing) {
  const std::wstring oldName = oldName_ + L" \x00D6lan \x0416";  // "Ölan Ж"
  std::wstring asciiUpper = oldName;
  for (wchar_t& c : asciiUpper) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  const struct {
    const wchar_t* what;
    std::wstring newName;
  } cases[] = {
      {L"ASCII letters", asciiUpper},
      {L"letters beyond ASCII", oldName_ + L" \x00F6lan \x0436"},  // "ölan ж"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.what));
    const std::wstring oldPath = links_.PathOf(oldName);
    Write(oldPath, Earlier());
    const LinkProperties loaded = ReadLink(oldPath);
    ASSERT_NE(c.newName, oldName);
    EXPECT_EQ(Update(oldName.c_str(), c.newName.c_str()), launcher::kShortcutSaveAttempted);
    ExpectLink(desktop_ + L"\\" + c.newName + L".lnk", Refreshed(loaded));
  }
}

// Wine keeps no 8.3 aliases, so the decision is checked on the other second
// name a file can have, a hard link; the folded-case name is checked too.
TEST_F(DesktopShortcut, OneFileIsRecognisedUnderAnyOfItsNames) {
  const std::wstring file = install_ / L"Vorlan \x00D6lan.lnk";
  const std::wstring link = install_ / L"VORLAN~1.LNK";
  const std::wstring other = install_ / L"other.lnk";
  WriteFileBytes(file, "L");
  WriteFileBytes(other, "L");
  ASSERT_TRUE(::CreateHardLinkW(link.c_str(), file.c_str(), nullptr));
  EXPECT_TRUE(launcher::AreSameFile(file.c_str(), link.c_str()));
  EXPECT_TRUE(launcher::AreSameFile(file.c_str(), (install_ / L"vorlan \x00F6LAN.lnk").c_str()));
  EXPECT_FALSE(launcher::AreSameFile(file.c_str(), other.c_str()));
  EXPECT_FALSE(launcher::AreSameFile(file.c_str(), (install_ / L"missing.lnk").c_str()));
}

// A thread already in the multithreaded apartment refuses CoInitialize; the
// refresh must not take that apartment away from it.
TEST(ComInitialization, AThreadInAnotherApartmentKeepsIt) {
  std::thread([] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    { launcher::ScopedComInitializer com; }
    EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "apartment left";
    ::CoUninitialize();
    ::CoUninitialize();
  }).join();
}

// On Windows SLR_UPDATE alone searches for a moved target and can show a
// dialog before the client starts; Wine shows none either way, so the flags
// are checked as the refresh hands them to Resolve.
TEST(ShortcutResolve, ShowsNoDialogAndSearchesBriefly) {
  const unsigned long flags = launcher::ShortcutResolveFlags();
  EXPECT_EQ(flags & 0xFFFFu, static_cast<unsigned long>(SLR_NO_UI | SLR_UPDATE));
  const unsigned long timeoutMs = flags >> 16;
  EXPECT_GT(timeoutMs, 0u);  // zero would mean the platform's default of 3 s
  EXPECT_LE(timeoutMs, 1000u);
}

TEST_F(DesktopShortcut, WithoutTheIconFileTheShortcutKeepsItsIcon) {
  Write(oldPath_, Earlier());
  const LinkProperties loaded = ReadLink(oldPath_);
  const std::wstring missing = install_.Path() + L"//missing.ico";
  EXPECT_EQ(Update(oldName_.c_str(), newName_.c_str(), missing.c_str()),
            launcher::kShortcutSaveAttempted);
  LinkProperties expected = Refreshed(loaded);
  expected.iconPath = loaded.iconPath;
  expected.iconIndex = loaded.iconIndex;
  ExpectLink(newPath_, expected);
}

TEST_F(DesktopShortcut, AShortcutThatDoesNotLoadIsLeftAsItIs) {
  WriteFileBytes(newPath_, "not a shell link");
  EXPECT_EQ(Update(oldName_.c_str(), newName_.c_str()), launcher::kShortcutNotLoaded);
  EXPECT_EQ(ReadFileBytes(newPath_), std::vector<char>({'n', 'o', 't', ' ', 'a', ' ', 's', 'h',
                                                        'e', 'l', 'l', ' ', 'l', 'i', 'n', 'k'}));
  EXPECT_FALSE(FileExists(oldPath_));
}

TEST_F(DesktopShortcut, AFailedSaveKeepsTheOldShortcut) {
  Write(oldPath_, Earlier());
  const std::vector<char> before = ReadFileBytes(oldPath_);
  // A folder under the new name cannot be written as a file.
  ASSERT_TRUE(::CreateDirectoryW(newPath_.c_str(), nullptr));
  EXPECT_EQ(Update(oldName_.c_str(), newName_.c_str()), launcher::kShortcutSaveAttempted);
  EXPECT_TRUE(FolderExists(newPath_));
  EXPECT_EQ(ReadFileBytes(oldPath_), before);
  ::RemoveDirectoryW(newPath_.c_str());
}

// The desktop folder given directly, so that its length can be chosen.
class ShortcutPathLimit : public ::testing::Test {
 protected:
  // A desktop folder of exactly the given length under the test's folder.
  std::wstring DesktopOfLength(std::size_t length) {
    std::wstring path = root_.Path() + L"\\";
    path += std::wstring(length - path.size(), L'd');
    CreateFolders(path);
    return path;
  }
  LinkProperties ToLauncher() const {
    LinkProperties link;
    link.target = target_;
    return link;
  }
  int Update(const std::wstring& desktop, const std::wstring& oldName,
             const std::wstring& newName) {
    return UpdateShortcutInFolder(desktop.c_str(), oldName.c_str(), newName.c_str(),
                                  target_.c_str(), L"vorlan", nullptr, root_.Path().c_str());
  }

  TestFolder root_;
  std::wstring target_ = root_ / L"launcher.exe";
};

TEST_F(ShortcutPathLimit, APathBeyond259UnitsChangesNothing) {
  // Folder, backslash, name and ".lnk": 200 + 1 + 54 + 4 = 259 units.
  const std::wstring desktop = DesktopOfLength(200);
  const std::wstring oldName(54, L'o');
  const std::wstring oldPath = desktop + L"\\" + oldName + L".lnk";
  ASSERT_TRUE(WriteLink(oldPath, ToLauncher()));
  const std::vector<char> before = ReadFileBytes(oldPath);

  // A new name one unit too long, an old name one unit too long and a folder
  // that alone exceeds the buffers.
  EXPECT_EQ(Update(desktop, oldName, std::wstring(55, L'n')), launcher::kShortcutNotFound);
  EXPECT_EQ(Update(desktop, oldName, std::wstring(400, L'n')), launcher::kShortcutNotFound);
  EXPECT_EQ(Update(desktop, std::wstring(55, L'o'), oldName), launcher::kShortcutNotFound);
  EXPECT_EQ(Update(desktop + L"\\" + std::wstring(300, L'x'), L"a", L"b"),
            launcher::kShortcutNotFound);
  EXPECT_EQ(ReadFileBytes(oldPath), before);
  const std::wstring newPath = desktop + L"\\" + std::wstring(54, L'n') + L".lnk";
  EXPECT_FALSE(FileExists(newPath));

  // At 259 units the move works.
  EXPECT_EQ(Update(desktop, oldName, std::wstring(54, L'n')), launcher::kShortcutSaveAttempted);
  EXPECT_TRUE(FileExists(newPath));
  EXPECT_FALSE(FileExists(oldPath));
}

TEST_F(ShortcutPathLimit, AnEmptyDesktopFolderIsNotLocated) {
  EXPECT_EQ(UpdateShortcutInFolder(L"", L"a", L"b", nullptr, nullptr, nullptr, nullptr),
            launcher::kShortcutNoDesktop);
  EXPECT_EQ(UpdateShortcutInFolder(nullptr, L"a", L"b", nullptr, nullptr, nullptr, nullptr),
            launcher::kShortcutNoDesktop);
}

}  // namespace
