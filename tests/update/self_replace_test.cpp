// The pieces of a launcher update that reaches the launcher itself, on real
// files: which file is the running image, the staged images a start takes or
// deletes, and the swap's rename. The whole road, with the real launcher
// replacing itself, is in the system suites.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"
#include "tests/support/client_rig.h"
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

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(::towupper(c));
  return text;
}

TEST(SelfReplace, TheRunningImageIsKnownByIdentityNotByName) {
  TestFolder folder;
  const std::wstring own = OwnImagePath();
  ASSERT_TRUE(::CopyFileW(own.c_str(), (folder / L"copy.exe").c_str(), FALSE));
  const std::wstring roundabout =
      ParentFolderOf(own) + L"\\.\\..\\bin\\" + FileNameOf(own.c_str());
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

// What the update stages and what the swap puts in place, on plain files: a
// whole staged image is taken, the newest of several; damaged and older ones
// and what earlier launchers moved aside are deleted, unless something runs
// from them; other names stay.
TEST(SelfReplace, TheNewestWholeStagedImageIsTakenAndOnlyStaleImagesGo) {
  TestFolder folder;
  const std::string image = "a new launcher image";
  const std::uint32_t crc = Crc32Of(image.data(), image.size());
  const std::wstring whole = StagedLauncherName(static_cast<std::uint32_t>(image.size()), crc);
  const std::wstring older = StagedLauncherName(static_cast<std::uint32_t>(image.size()), crc ^ 1);
  std::uint32_t size = 0;
  std::uint32_t parsedCrc = 0;
  ASSERT_TRUE(ParseStagedLauncherName(whole.c_str(), size, parsedCrc));
  EXPECT_EQ(size, image.size());
  EXPECT_EQ(parsedCrc, crc);
  WriteFileBytes(folder / whole, image);
  WriteFileBytes(folder / older, image);  // its name records another CRC-32
  const wchar_t* const removed[] = {L"~launcher1f.0.old", L"~launcherabcdef01.f.old"};
  const wchar_t* const kept[] = {L"~launcher.old", L"~launcher1f.old", L"~launcher1f..old",
                                 L"~launcher1f.0.old.txt", L"~launcher123456789.0.old",
                                 L"~launcher.1.2.txt", L"~launcher2A.0.old", L"launcher.exe"};
  // Every name that goes is one no archive item may take.
  for (const wchar_t* name : removed) {
    EXPECT_TRUE(IsSelfReplacementName(name)) << name;
    WriteFileBytes(folder / name, "old image");
  }
  for (const wchar_t* name : kept) {
    EXPECT_FALSE(IsSelfReplacementName(name)) << name;
    WriteFileBytes(folder / name, "other");
  }
  ASSERT_TRUE(::SetFileAttributesW((folder / removed[0]).c_str(), FILE_ATTRIBUTE_READONLY));
  // An image moved aside that another launcher still runs from.
  const std::wstring running = folder / L"~launcher3.0.old";
  ASSERT_TRUE(::CopyFileW((BinFolder() + L"\\vorlan.exe").c_str(), running.c_str(), FALSE));
  const DWORD client = testing_support::StartProcess(L"\"" + running + L"\"", folder.Path(),
                                                     {{L"VORLAN_PIPE", L"0"}});
  ASSERT_NE(client, 0u);
  ASSERT_FALSE(testing_support::WaitForClients(folder.Path(), 1).empty());

  EXPECT_EQ(TakeStagedLauncher(folder.Path() + L"\\"), folder / whole);
  EXPECT_FALSE(FileExists(folder / older));
  for (const wchar_t* name : removed) EXPECT_FALSE(FileExists(folder / name)) << name;
  for (const wchar_t* name : kept) EXPECT_EQ(ReadText(folder / name), "other") << name;
  EXPECT_TRUE(FileExists(running));
  ASSERT_TRUE(testing_support::EndProcess(client));
  EXPECT_EQ(TakeStagedLauncher(folder.Path() + L"\\"), folder / whole);
  EXPECT_FALSE(FileExists(running));
}

// The swap is one rename over launcher.exe: refused while launcher.exe runs,
// done once it has ended, a read-only launcher.exe included.
TEST(SelfReplace, TheSwapRenamesOverLauncherExeOnceNothingRunsFromIt) {
  TestFolder folder;
  const std::wstring launcher = folder / L"launcher.exe";
  ASSERT_TRUE(::CopyFileW((BinFolder() + L"\\vorlan.exe").c_str(), launcher.c_str(), FALSE));
  const std::wstring staged = folder / StagedLauncherName(5, 0x1234);
  WriteFileBytes(staged, "stage");
  const DWORD running = testing_support::StartProcess(L"\"" + launcher + L"\"", folder.Path(),
                                                      {{L"VORLAN_PIPE", L"0"}});
  ASSERT_NE(running, 0u);
  ASSERT_FALSE(testing_support::WaitForClients(folder.Path(), 1).empty());
  EXPECT_NE(SwapInStagedLauncher(staged), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(FileExists(staged));
  ASSERT_TRUE(testing_support::EndProcess(running));
  ASSERT_TRUE(::SetFileAttributesW(launcher.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(SwapInStagedLauncher(staged), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(ReadText(launcher), "stage");
  EXPECT_FALSE(FileExists(staged));
}

}  // namespace
