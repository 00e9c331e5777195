// The launcher killed at random moments while an update replaces its own
// image: launcher.exe is always a whole image, the old one or the new one,
// and while it is the old one the update is still staged for the next start.
// The one exception is the instant between the swap's two renames, which no
// order of renames avoids while the image runs: then both images lie whole
// beside the free name.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
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

constexpr int kKills = 24;
// A few megabytes of other items around the launcher, so that kills land
// before, during and after its replacement.
const wchar_t kArchive[] = L"self_update_large.zip";

bool IsStaged(const TestFolder& folder) {
  return FileExists(folder / L"temp\\update.zip") || FileExists(folder / L"update.zip");
}

// Whether folder holds a file with exactly these bytes, under a name that the
// launcher gives a moved-aside image or under any name.
bool HoldsImage(const TestFolder& folder, const std::vector<char>& image, bool movedAside) {
  for (const std::wstring& name : FolderEntries(folder.Path())) {
    if (movedAside && !launcher::IsMovedAsideImageName(name.c_str())) continue;
    if (ReadFileBytes(folder / name) == image) return true;
  }
  return false;
}

using SelfUpdateKill = LaunchingTest;

TEST_F(SelfUpdateKill, AKillAtAnyMomentLeavesAWholeLauncherOrTheUpdateStaged) {
  const std::vector<char> oldImage = BuiltLauncherImage();
  const std::vector<char> newImage = NewLauncherImage();
  ASSERT_FALSE(newImage.empty());

  // One undisturbed start sets the span the kills are spread over.
  DWORD span = 0;
  {
    TestFolder folder;
    const std::wstring launcher = InstallWithStagedUpdate(folder, kArchive);
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(RunLauncher(launcher, L"forcerun:").finished);
    span = static_cast<DWORD>(::GetTickCount64() - start);
    EndAllClients();
    ASSERT_TRUE(ReadFileBytes(launcher) == newImage);
  }

  std::mt19937 random(15);
  std::uniform_int_distribution<DWORD> moment(0, span + span / 4);
  int killedBeforeSwap = 0;
  int killedBetweenRenames = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    TestFolder folder;
    const std::wstring launcher = InstallWithStagedUpdate(folder, kArchive);
    {
      KillableRun run(L"\"" + launcher + L"\" forcerun:", folder.Path());
      ASSERT_TRUE(run.Started());
      ::Sleep(moment(random));
      run.KillAll();
    }
    EndAllClients();
    if (!FileExists(launcher)) {
      ++killedBetweenRenames;
      EXPECT_TRUE(HoldsImage(folder, oldImage, true)) << "the old image is not whole aside";
      EXPECT_TRUE(HoldsImage(folder, newImage, false)) << "the new image is not whole beside";
      continue;
    }
    const std::vector<char> image = ReadFileBytes(launcher);
    ASSERT_TRUE(image == oldImage || image == newImage) << "launcher.exe is no whole image";
    if (image == oldImage) {
      ++killedBeforeSwap;
      ASSERT_TRUE(IsStaged(folder)) << "the old launcher is left without its update";
    }

    // Whichever image is in place runs and finishes the update; the start
    // after it finds nothing left to clear.
    for (int start = 0; start < 2; ++start) {
      const ProcessResult result = RunLauncher(launcher, L"forcerun:");
      ASSERT_TRUE(result.finished);
      EXPECT_EQ(result.exitCode, 0u);
      EndAllClients();
    }
    EXPECT_TRUE(ReadFileBytes(launcher) == newImage);
    EXPECT_FALSE(IsStaged(folder));
    EXPECT_EQ(MovedAsideImageCount(folder.Path()), 0u);
  }
  std::printf("undisturbed start %lu ms; of %d kills %d came before the swap, %d between "
              "its renames\n",
              static_cast<unsigned long>(span), kKills, killedBeforeSwap, killedBetweenRenames);
}

}  // namespace
