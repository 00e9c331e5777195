// An update that carries a new launcher.exe, applied by the real launcher to
// its own running image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Compared as flags, so that a failure does not print megabytes.
TEST_F(SelfUpdate, ANewLauncherReplacesTheRunningOneOnlyWhenItArrivedIntact) {
  for (const bool intact : {true, false}) {
    SCOPED_TRACE(intact ? "intact" : "damaged CRC-32");
    TestFolder folder;
    TestFolder records;
    const std::wstring launcher = InstallWithStagedUpdate(
        folder, intact ? L"self_update.zip" : L"self_update_bad_crc.zip");

    Launch(launcher, records.Path());
    const std::vector<ClientRecord> clients = WaitForClients(records.Path(), 1);
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(ParametersOf(clients[0]), L"room=1");
    EndAllClients();
    // The swap takes the name once the launcher has ended; a damaged image
    // never gets that far.
    EXPECT_TRUE(WaitForImage(launcher, intact ? newImage_ : oldImage_));
    // The other items arrive either way, and the protocol still opens the
    // launcher by its own name.
    EXPECT_EQ(ReadText(folder / L"data\\notes.txt"), "next build\n");
    EXPECT_EQ(ReadOpenCommand().data, OpenCommandFor(launcher));
    const std::vector<std::wstring> installed = {L"data", L"launcher.exe", L"temp", L"vorlan.exe"};
    EXPECT_EQ(FolderEntries(folder.Path()), installed);

    // The next start runs the image now in place, and stages nothing.
    Launch(launcher, records.Path());
    EXPECT_EQ(WaitForClients(records.Path(), 2).size(), 2u);
    EndAllClients();
    EXPECT_TRUE(ReadFileBytes(launcher) == (intact ? newImage_ : oldImage_));
    EXPECT_EQ(FolderEntries(folder.Path()), installed);
  }
}

// Without a single-instance guard both take the launch road and apply the
// same update at the same time. Whichever way they interleave, launcher.exe
// stays a whole image, and the next starts finish what is left.
TEST_F(SelfUpdate, TwoLaunchersAtOnceNeverLoseTheLauncher) {
  TestFolder folder;
  TestFolder records;
  const std::wstring launcher = InstallWithStagedUpdate(folder, L"self_update.zip");
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
