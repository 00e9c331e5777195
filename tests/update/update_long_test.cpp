// The slow update tests: an archive larger than 2 GiB, a small drive that an
// update must not fill, and an update killed again and again in the middle.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "launcher/base/text_helpers.h"
#include "tests/support/test_support.h"
#include "tests/support/hostile_rig.h"
#include "tests/support/update_test_support.h"
#include "update/archive.h"
#include "update/update_extraction.h"

namespace {

using namespace launcher;
using namespace testing_support;
using namespace update_testing;


// Extracts every item of archive (any path) below the current folder and
// gives each item's result by name.
std::map<std::wstring, int> ExtractAll(const std::wstring& archive) {
  std::map<std::wstring, int> results;
  ScopedArchive handle;
  const int opened = OpenArchive(archive.c_str(), handle.Receive());
  EXPECT_EQ(opened, kArchiveOk) << Narrow(archive);
  if (opened != kArchiveOk) return results;
  ArchiveItem item = {};
  EXPECT_EQ(GetArchiveItem(handle.Get(), -1, &item), kArchiveOk);
  const int count = item.index;
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(GetArchiveItem(handle.Get(), i, &item), kArchiveOk);
    results[item.name] = ExtractArchiveItem(handle.Get(), i, item.name);
  }
  return results;
}

TEST(LargeArchive, ItemsBeyondTwoGibibytesAreRead) {
  TestFolder folder;
  CurrentFolder current(folder.Path());
  // Read in place: the fixture is a sparse file of just over 2 GiB.
  const std::map<std::wstring, int> results = ExtractAll(FixturePath(L"beyond_2gib.zip"));
  EXPECT_EQ(results, (std::map<std::wstring, int>{{L"far.txt", kArchiveOk},
                                                   {L"near.txt", kArchiveOk}}));
  EXPECT_EQ(ReadText(folder / L"near.txt"), "before the hole\n");
  EXPECT_EQ(ReadText(folder / L"far.txt"), "beyond two gibibytes\n");
}

// A drive of a few dozen MiB, mapped by tests/update/small_drive.sh, which
// names it in LAUNCHER_SMALL_DRIVE ("X:").
class SmallDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* drive = std::getenv("LAUNCHER_SMALL_DRIVE");
    if (drive == nullptr || *drive == 0) {
      GTEST_SKIP() << "no small drive: tests/update/small_drive.sh maps one and runs this test";
    }
    root_ = Widen(drive) + L"\\update";
    CreateFolders(root_);
  }
  void TearDown() override {
    if (!root_.empty()) RemoveTree(root_);
  }
  std::wstring root_;
};

TEST_F(SmallDrive, AnUpdateNeverFillsTheDrive) {
  WriteFileBytes(root_ + L"\\lie.bin", "installed\n");
  CurrentFolder current(root_);
  const std::map<std::wstring, int> results = ExtractAll(FixturePath(L"small_drive.zip"));
  // 20 MiB would leave less than the 64 MiB reserve; 1 MiB leaves enough.
  EXPECT_EQ(results.at(L"big.bin"), kArchiveWriteFailed);
  EXPECT_EQ(results.at(L"small.bin"), kArchiveOk);
  // Refused as soon as it runs past its 1,000 bytes, not when the drive is
  // full (which would give 0x400).
  EXPECT_EQ(results.at(L"lie.bin"), kArchiveDataUnreadable);
  EXPECT_EQ(FolderEntries(root_), (std::vector<std::wstring>{L"lie.bin", L"small.bin"}));
  EXPECT_EQ(ReadText(root_ + L"\\lie.bin"), "installed\n");

  // Two folders, one volume: what the first two items took counts for the
  // third, in whichever folder it goes.
  const std::map<std::wstring, int> folders = ExtractAll(FixturePath(L"small_drive_folders.zip"));
  EXPECT_EQ(folders, (std::map<std::wstring, int>{{L"a/one.bin", kArchiveOk},
                                                   {L"a/three.bin", kArchiveWriteFailed},
                                                   {L"b/two.bin", kArchiveOk}}));
  ULARGE_INTEGER available = {};
  ASSERT_TRUE(::GetDiskFreeSpaceExW(root_.c_str(), &available, nullptr, nullptr));
  EXPECT_GE(available.QuadPart, 64ull << 20);
}

// --- An update killed in the middle -----------------------------------------

std::string Bytes(const std::wstring& path) {
  const std::vector<char> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Where the installation lies: a folder of its own, or one so deep that the
// longest item's full path comes to 259 units, the most Windows allows.
class InterruptedUpdate : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      const std::size_t longestItem = std::wstring(L"\\data\\deep\\noise35.bin").size();
      std::wstring deep = folder_.Path();
      while (deep.size() + longestItem < 259) {
        deep += L"\\" + std::wstring(std::min<std::size_t>(40, 259 - longestItem - deep.size() - 1), L'n');
      }
      CreateFolders(deep);
      installation_ = deep;
    } else {
      installation_ = folder_.Path();
    }
    EndAllClients();
    // What the archive makes, from an extraction of its own.
    TestFolder reference;
    {
      CurrentFolder current(reference.Path());
      CopyFixture(L"large_update.zip", reference / L"update.zip");
      ExtractUpdateArchive();
    }
    for (const auto& node : hostile::TakeSnapshot(reference.Path())) {
      if (!node.second.folder) updated_[node.first] = node.second.bytes;
    }
    ASSERT_GT(updated_.size(), 30u);
    // Every second file is installed already, in an older version.
    std::size_t position = 0;
    for (const auto& file : updated_) {
      if (position++ % 2 == 0) old_[file.first] = "old " + Narrow(file.first) + "\n";
    }
    launcher_ = InstallLauncher(installation_);
  }
  void TearDown() override { EndAllClients(); }

  void InstallOldVersionAndStage() {
    for (const auto& file : updated_) {
      const std::wstring path = At(file.first);
      ::DeleteFileW(path.c_str());
      const auto old = old_.find(file.first);
      if (old == old_.end()) continue;
      CreateFolders(launcher::ParentFolderOf(path));
      WriteFileBytes(path, old->second);
    }
    CreateFolders(At(L"temp"));
    CopyFixture(L"large_update.zip", At(L"temp\\update.zip"));
  }

  // Every file of the update is the old one (or absent, where there was
  // none) or the new one, byte for byte.
  std::string Mixed() {
    std::string problems;
    for (const auto& file : updated_) {
      const std::wstring path = At(file.first);
      const auto old = old_.find(file.first);
      if (!FileExists(path)) {
        if (old != old_.end()) problems += Narrow(file.first) + " is gone; ";
        continue;
      }
      const std::string now = Bytes(path);
      if (now != file.second && (old == old_.end() || now != old->second)) {
        problems += Narrow(file.first) + " is neither; ";
      }
    }
    return problems;
  }

  bool UpdatePending() {
    return FileExists(At(L"temp\\update.zip")) || FileExists(At(L"update.zip"));
  }

  std::wstring At(const std::wstring& relative) const { return installation_ + L"\\" + relative; }

  TestFolder folder_;
  std::wstring installation_;
  std::wstring launcher_;
  std::map<std::wstring, std::string> updated_;
  std::map<std::wstring, std::string> old_;
};

TEST_P(InterruptedUpdate, EveryKillLeavesOldOrNewFilesAndTheNextStartFinishes) {
  // How long an uninterrupted start takes, so the kills fall inside it.
  InstallOldVersionAndStage();
  const auto began = std::chrono::steady_clock::now();
  ASSERT_TRUE(RunLauncher(launcher_, L"").finished);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - began).count();
  EndAllClients();
  ASSERT_FALSE(UpdatePending());
  EXPECT_EQ(Mixed(), "");

  hostile::Random random(20261209);
  InstallOldVersionAndStage();
  int interrupted = 0;
  auto window = static_cast<std::uint32_t>(took);
  for (int kill = 0; kill < 24; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    if (!UpdatePending()) InstallOldVersionAndStage();
    KillableRun run(L"\"" + launcher_ + L"\"", installation_);
    ASSERT_TRUE(run.Started());
    ::Sleep(static_cast<DWORD>(random.Below(window + 1)));
    // The client it may just have begun to start goes with it.
    if (run.KillAll()) {
      ++interrupted;
    } else {
      // Starts run faster than the measured one on a quieter machine: later
      // kills come earlier, so that they still fall inside a start.
      window = window * 3 / 4;
    }
    EndAllClients();
    EXPECT_EQ(Mixed(), "");
  }
  EXPECT_GE(interrupted, 18);  // most kills land inside a start

  // The next start completes whatever was interrupted.
  ASSERT_TRUE(RunLauncher(launcher_, L"").finished);
  EndAllClients();
  EXPECT_FALSE(UpdatePending());
  for (const auto& file : updated_) {
    EXPECT_EQ(Bytes(At(file.first)), file.second) << Narrow(file.first);
  }
  EXPECT_EQ(hostile::TemporaryLeftovers(installation_), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(Installations, InterruptedUpdate, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "AtThePathLimit" : "InAFolderOfItsOwn");
                         });

}  // namespace
