// The launcher killed at random moments while an update replaces its own
// image, and the swap killed at each of its steps: launcher.exe is always a
// whole image, the old one or the new one; while it is the old one the
// update is still staged (as an archive or as a checked image), and the next
// start completes it.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "launcher/launcher_swap.h"
#include "tests/support/test_support.h"
#include "tests/support/self_update_rig.h"
#include "tests/support/system_rig.h"
#include "tests/support/update_test_support.h"
#include "update/update_journal.h"

namespace {

using namespace system_testing;
using namespace testing_support;
using namespace update_testing;

constexpr int kKills = 100;
// A few megabytes of other items around the launcher, so that kills land
// before, during and after its staging, and in the swap.
const wchar_t kArchive[] = L"self_update_large.zip";

bool IsArchiveStaged(const TestFolder& folder) {
  return FileExists(folder / L"temp\\update.zip") || FileExists(folder / L"update.zip");
}

using SelfUpdateKill = LaunchingTest;

TEST_F(SelfUpdateKill, AKillAtAnyMomentLeavesAWholeLauncherAndTheNextStartCompletes) {
  const std::vector<char> oldImage = BuiltLauncherImage();
  const std::vector<char> newImage = NewLauncherImage();
  ASSERT_FALSE(newImage.empty());

  // One undisturbed start, swap included, sets the span the kills are spread over.
  DWORD span = 0;
  {
    TestFolder folder;
    const std::wstring launcher = InstallWithStagedUpdate(folder.Path(), kArchive);
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(RunLauncher(launcher, L"forcerun:").finished);
    ASSERT_TRUE(WaitForImage(launcher, newImage));
    span = static_cast<DWORD>(::GetTickCount64() - start);
    EndAllClients();
  }

  std::mt19937 random(15);
  std::uniform_int_distribution<DWORD> moment(0, span + span / 4);
  int oldWithArchive = 0, oldWithImage = 0, alreadyNew = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    const ULONGLONG roundStart = ::GetTickCount64();
    TestFolder folder;
    const std::wstring launcher = InstallWithStagedUpdate(folder.Path(), kArchive);
    {
      // The job takes the client and the swap along with the launcher.
      KillableRun run(L"\"" + launcher + L"\" forcerun:", folder.Path());
      ASSERT_TRUE(run.Started());
      ::Sleep(moment(random));
      run.KillAll();
    }
    EndAllClients();
    const std::vector<char> image = ReadFileBytes(launcher);
    ASSERT_TRUE(image == oldImage || image == newImage) << "launcher.exe is no whole image";
    if (image == newImage) {
      ++alreadyNew;
    } else if (IsArchiveStaged(folder)) {
      ++oldWithArchive;
    } else {
      ASSERT_EQ(StagedImageCount(folder.Path()), 1u) << "the old launcher is left without its update";
      ++oldWithImage;
    }

    const ProcessResult result = RunLauncher(launcher, L"forcerun:");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EndAllClients();
    EXPECT_TRUE(WaitForImage(launcher, newImage));
    EXPECT_FALSE(IsArchiveStaged(folder));
    EXPECT_EQ(StagedImageCount(folder.Path()), 0u);
    EXPECT_FALSE(FileExists(folder / launcher::kUpdateJournalName));
    // A slow round is named, so that a run that ends on its time limit says where.
    const ULONGLONG roundMs = ::GetTickCount64() - roundStart;
    if (roundMs > 10000) std::fprintf(stderr, "kill %d took %llu ms\n", kill, roundMs);
  }
  std::printf("undisturbed start %lu ms; of %d kills %d left the old launcher with the archive, "
              "%d with the staged image, %d the new launcher\n",
              static_cast<unsigned long>(span), kKills, oldWithArchive, oldWithImage, alreadyNew);
}

// The swap's own steps, each held where it waits: for the launcher that
// started it, and for launcher.exe to be free. A kill there leaves the old
// launcher whole and the staged image for the next try.
TEST_F(SelfUpdateKill, AKillAtEachStepOfTheSwapLeavesAWholeLauncher) {
  TestFolder folder;
  // A program that runs as launcher.exe stands in for the old launcher.
  const std::wstring launcher = folder / L"launcher.exe";
  ASSERT_TRUE(::CopyFileW((BinFolder() + L"\\vorlan.exe").c_str(), launcher.c_str(), FALSE));
  const std::vector<char> oldImage = ReadFileBytes(launcher);
  const std::vector<char> newImage = NewLauncherImage();
  const std::uint32_t crc = Crc32Of(newImage.data(), newImage.size());
  const std::wstring staged =
      folder / launcher::StagedLauncherName(static_cast<std::uint32_t>(newImage.size()), crc);
  ASSERT_TRUE(::CopyFileW(FixturePath(L"launcher_new.exe", Fixtures::kSystem).c_str(),
                          staged.c_str(), FALSE));

  // An image that is not what its name records swaps nothing, though
  // launcher.exe is free to take.
  const std::wstring damaged =
      folder / launcher::StagedLauncherName(static_cast<std::uint32_t>(newImage.size()), crc ^ 1);
  ASSERT_TRUE(::CopyFileW(staged.c_str(), damaged.c_str(), FALSE));
  EXPECT_EQ(RunLauncher(damaged, L"").exitCode, static_cast<DWORD>(launcher::kSwapRefused));
  EXPECT_TRUE(ReadFileBytes(launcher) == oldImage);

  const DWORD old = StartProcess(L"\"" + launcher + L"\"", folder.Path(), {{L"VORLAN_PIPE", L"0"}});
  ASSERT_NE(old, 0u);
  ASSERT_FALSE(WaitForClients(folder.Path(), 1).empty());
  launcher::ScopedHandle oldProcess(::OpenProcess(
      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, TRUE, old));
  ASSERT_TRUE(oldProcess);
  // Waiting for the old launcher, then (without one to wait for) retrying
  // while launcher.exe runs.
  for (const bool handedTheLauncher : {true, false}) {
    SCOPED_TRACE(handedTheLauncher ? "waiting for the launcher" : "retrying the rename");
    KillableRun swap(handedTheLauncher ? launcher::LauncherSwapCommandLine(staged, oldProcess.Get())
                                       : L"\"" + staged + L"\"",
                     folder.Path());
    ASSERT_TRUE(swap.Started());
    ::Sleep(1000);
    EXPECT_TRUE(swap.KillAll()) << "the swap did not wait";
    EXPECT_TRUE(ReadFileBytes(launcher) == oldImage);
    EXPECT_TRUE(launcher::IsWholeStagedImage(staged));
  }

  // Started again, it finishes as soon as the old launcher has ended.
  KillableRun swap(launcher::LauncherSwapCommandLine(staged, oldProcess.Get()), folder.Path());
  ASSERT_TRUE(swap.Started());
  ::Sleep(300);
  EXPECT_TRUE(ReadFileBytes(launcher) == oldImage);
  ::TerminateProcess(oldProcess.Get(), 0);
  EXPECT_TRUE(WaitForImage(launcher, newImage));
  EXPECT_FALSE(FileExists(staged));
}

}  // namespace
