// The pieces of a launcher update that reaches the launcher itself, on real
// files: which file is the running image, the swap and its undo, and the
// removal of images moved aside by earlier starts. The whole road, with the
// real launcher replacing itself, is in the system suites.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"
#include "update/self_replace.h"

namespace {

using namespace launcher;
using namespace update_testing;
using testing_support::BinFolder;
using testing_support::FileExists;
using testing_support::TestFolder;
using testing_support::WriteFileBytes;

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(::towupper(c));
  return text;
}

TEST(SelfReplace, TheRunningImageIsKnownByIdentityNotByName) {
  TestFolder folder;
  const std::wstring own = OwnPath();
  ASSERT_TRUE(::CopyFileW(own.c_str(), (folder / L"copy.exe").c_str(), FALSE));
  const std::size_t separator = own.find_last_of(L'\\');
  const std::wstring roundabout =
      own.substr(0, separator) + L"\\.\\..\\bin\\" + own.substr(separator + 1);
  const struct {
    std::wstring path;
    bool running;
  } cases[] = {
      {own, true},
      {Upper(own), true},
      {roundabout, true},
      {folder / L"copy.exe", false},  // the same bytes, another file
      {folder / L"missing.exe", false},
      {BinFolder() + L"\\vorlan.exe", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsRunningImage(c.path.c_str()), c.running) << testing_support::Narrow(c.path);
  }
}

// The swap itself needs no running image: a plain file stands in for it. A
// replacement that cannot be renamed makes the second step fail: Windows
// refuses a file handle without the right to delete, Wine does not, so a
// handle that is no file at all stands in for it.
TEST(SelfReplace, TheNewImageTakesTheNameOrTheOldOneKeepsIt) {
  for (const bool renamable : {true, false}) {
    SCOPED_TRACE(renamable ? "renamable" : "not renamable");
    TestFolder folder;
    const std::wstring image = folder / L"launcher.exe";
    WriteFileBytes(image, "old image");
    WriteFileBytes(folder / L"new.tmp", "new image");
    ScopedFileHandle replacement(::CreateFileW((folder / L"new.tmp").c_str(),
                                               GENERIC_READ | DELETE, 0, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    ScopedHandle notAFile(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(replacement && notAFile);

    EXPECT_EQ(ReplaceRunningImage(renamable ? replacement.Get() : notAFile.Get(), image.c_str()),
              renamable);
    replacement.Reset();
    EXPECT_EQ(ReadText(image), renamable ? "new image" : "old image");
    std::vector<std::wstring> entries = FolderEntries(folder.Path());
    if (renamable) {
      // The old image waits beside the new one under a name of the launcher's own.
      ASSERT_EQ(entries.size(), 2u);
      EXPECT_TRUE(IsMovedAsideImageName(entries[1].c_str()));
      EXPECT_EQ(ReadText(folder / entries[1]), "old image");
      entries.pop_back();
    } else {
      EXPECT_EQ(ReadText(folder / L"new.tmp"), "new image");
    }
    EXPECT_EQ(entries[0], L"launcher.exe");
    EXPECT_EQ(entries.size(), renamable ? 1u : 2u);
  }
}

TEST(SelfReplace, OnlyImagesMovedAsideAreRemovedAndOnlyOnceNothingRunsFromThem) {
  TestFolder folder;
  const wchar_t* const removed[] = {L"~launcher1f.0.old", L"~launcherabcdef01.f.old"};
  const wchar_t* const kept[] = {
      L"~launcher.old",          L"~launcher1f.old",      L"~launcher1f..old",
      L"~launcherxyz.0.old",     L"~launcher1f.0.old.txt", L"~launcher1f.0.oldx",
      L"~launcher123456789.0.old", L"~upd1f.0.tmp",       L"launcher.exe",
      L"~launcher2A.0.old",
  };
  for (const wchar_t* name : removed) WriteFileBytes(folder / name, "old image");
  for (const wchar_t* name : kept) WriteFileBytes(folder / name, "other");
  ASSERT_TRUE(::CreateDirectoryW((folder / L"~launcher2.0.old").c_str(), nullptr));
  // An image moved aside that another launcher still runs from.
  const std::wstring running = folder / L"~launcher3.0.old";
  ASSERT_TRUE(::CopyFileW((BinFolder() + L"\\vorlan.exe").c_str(), running.c_str(), FALSE));
  const DWORD client = testing_support::StartProcess(L"\"" + running + L"\"", folder.Path(),
                                                     {{L"VORLAN_PIPE", L"0"}});
  ASSERT_NE(client, 0u);
  ASSERT_FALSE(testing_support::WaitForClients(folder.Path(), 1).empty());

  RemoveMovedAsideImages(folder.Path().c_str());
  for (const wchar_t* name : removed) EXPECT_FALSE(FileExists(folder / name)) << name;
  for (const wchar_t* name : kept) EXPECT_EQ(ReadText(folder / name), "other") << name;
  EXPECT_TRUE(testing_support::FolderExists(folder / L"~launcher2.0.old"));
  EXPECT_TRUE(FileExists(running));

  {
    ScopedHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, client));
    ASSERT_TRUE(process);
    ::TerminateProcess(process.Get(), 0);
    ::WaitForSingleObject(process.Get(), 10000);
  }
  RemoveMovedAsideImages((folder.Path() + L"\\").c_str());
  EXPECT_FALSE(FileExists(running));
}

}  // namespace
