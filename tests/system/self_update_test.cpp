// An update that carries a new launcher.exe, applied by the real launcher to
// its own running image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"
#include "tests/support/self_update_rig.h"
#include "tests/support/system_rig.h"
#include "tests/support/update_test_support.h"

namespace {

using namespace system_testing;
using namespace testing_support;
using namespace update_testing;

class SelfUpdate : public LaunchingTest {
 protected:
  void SetUp() override {
    LaunchingTest::SetUp();
    oldImage_ = BuiltLauncherImage();
    newImage_ = NewLauncherImage();
    ASSERT_FALSE(newImage_.empty());
    ASSERT_NE(oldImage_, newImage_);
  }

  void Launch(const std::wstring& launcher, const std::wstring& records) {
    const ProcessResult result =
        RunLauncher(launcher, L"forcerun:room=1", {{L"VORLAN_RECORD_DIR", records}});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
  }

  std::vector<char> oldImage_;
  std::vector<char> newImage_;
};

// A folder below base whose path has exactly length units.
std::wstring FolderOfLength(const std::wstring& base, std::size_t length) {
  std::wstring folder = base;
  while (folder.size() < length) {
    folder += L"\\" + std::wstring(std::min<std::size_t>(40, length - folder.size() - 1), L'n');
  }
  CreateFolders(folder);
  return folder;
}

// Compared as flags, so that a failure does not print megabytes.
TEST_F(SelfUpdate, ANewLauncherReplacesTheRunningOneOnlyWhenItArrivedIntact) {
  const struct {
    const char* name;
    const wchar_t* archive;
    std::size_t folderLength;  // 0: a folder of its own
    bool olderImageStaged;     // by an earlier update, with a later time
    bool arrives;
  } cases[] = {
      {"intact", L"self_update.zip", 0, false, true},
      {"damaged CRC-32", L"self_update_bad_crc.zip", 0, false, false},
      {"an older image staged with a later time", L"self_update.zip", 0, true, true},
      // launcher.exe runs from there, its staged image's path could not.
      {"a folder too deep for the staged image", L"self_update.zip", 240, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestFolder folder;
    TestFolder records;
    const std::wstring installation =
        c.folderLength == 0 ? folder.Path() : FolderOfLength(folder.Path(), c.folderLength);
    const std::wstring launcher = InstallWithStagedUpdate(installation, c.archive);
    if (c.olderImageStaged) {
      const std::uint32_t crc = Crc32Of(oldImage_.data(), oldImage_.size());
      const std::wstring staged =
          installation + L"\\" +
          launcher::StagedLauncherName(static_cast<std::uint32_t>(oldImage_.size()), crc);
      WriteFileBytes(staged, std::string(oldImage_.begin(), oldImage_.end()));
      // A year from now, in units of 100 ns.
      FILETIME later = {};
      ::GetSystemTimeAsFileTime(&later);
      const std::uint64_t stamp = Ticks(later) + 365ull * 24 * 3600 * 10000000;
      later = {static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
      const launcher::ScopedFileHandle file(::CreateFileW(
          staged.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &later));
    }

    Launch(launcher, records.Path());
    const std::vector<ClientRecord> clients = WaitForClients(records.Path(), 1);
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(ParametersOf(clients[0]), L"room=1");
    EndAllClients();
    // The swap takes the name once the launcher has ended; an image that may
    // not be staged never gets that far.
    EXPECT_TRUE(WaitForImage(launcher, c.arrives ? newImage_ : oldImage_));
    // The other items arrive either way, and the protocol still opens the
    // launcher by its own name.
    EXPECT_EQ(ReadText(installation + L"\\data\\notes.txt"), "next build\n");
    EXPECT_EQ(ReadOpenCommand().data, OpenCommandFor(launcher));
    const std::vector<std::wstring> installed = {L"data", L"launcher.exe", L"temp", L"vorlan.exe"};
    EXPECT_EQ(FolderEntries(installation), installed);

    // The next start runs the image now in place, and stages nothing.
    Launch(launcher, records.Path());
    EXPECT_EQ(WaitForClients(records.Path(), 2).size(), 2u);
    EndAllClients();
    EXPECT_TRUE(ReadFileBytes(launcher) == (c.arrives ? newImage_ : oldImage_));
    EXPECT_EQ(FolderEntries(installation), installed);
  }
}

// Without a single-instance guard both take the launch road and apply the
// same update at the same time. Whichever way they interleave, launcher.exe
// stays a whole image, and the next starts finish what is left.
TEST_F(SelfUpdate, TwoLaunchersAtOnceNeverLoseTheLauncher) {
  TestFolder folder;
  TestFolder records;
  const std::wstring launcher = InstallWithStagedUpdate(folder.Path(), L"self_update.zip");
  const std::wstring command = L"\"" + launcher + L"\" forcerun:";
  const DWORD first = StartProcess(command, folder.Path(), {{L"VORLAN_RECORD_DIR", records.Path()}});
  const DWORD second =
      StartProcess(command, folder.Path(), {{L"VORLAN_RECORD_DIR", records.Path()}});
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  for (DWORD waited = 0; (IsProcessRunning(first) || IsProcessRunning(second)) && waited < 30000;
       waited += 50) {
    const std::vector<char> image = ReadFileBytes(launcher);
    ASSERT_TRUE(image == oldImage_ || image == newImage_);
    ::Sleep(50);
  }
  EndAllClients();
  for (int start = 0; start < 3 && !WaitForImage(launcher, newImage_); ++start) {
    Launch(launcher, records.Path());
    EndAllClients();
  }
  EXPECT_TRUE(ReadFileBytes(launcher) == newImage_);
  EXPECT_EQ(StagedImageCount(folder.Path()), 0u);
}

}  // namespace
