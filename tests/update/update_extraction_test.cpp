// Applying "update.zip" from the working folder as the launch does.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"
#include "update/archive.h"
#include "update/update_extraction.h"
#include "update/update_journal.h"

namespace {

using namespace update_testing;
using testing_support::FileExists;
using testing_support::TestFolder;

class UpdateExtraction : public ::testing::Test {
 protected:
  UpdateExtraction() : current_(folder_.Path()) {}
  void Stage(const std::wstring& fixture) { CopyFixture(fixture, folder_ / L"update.zip"); }

  TestFolder folder_;
  CurrentFolder current_;
};

TEST_F(UpdateExtraction, WithoutAnArchiveNothingHappensButAKilledRunsDraftJournalGoes) {
  testing_support::WriteFileBytes(folder_ / L"vorlan.exe", "client");
  launcher::ExtractUpdateArchive();
  EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::wstring>{L"vorlan.exe"});
  // A kill between writing the journal and renaming it left the draft.
  testing_support::WriteFileBytes(folder_ / launcher::kUpdateJournalDraftName, "quintarelox");
  launcher::ExtractUpdateArchive();
  EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::wstring>{L"vorlan.exe"});
}

TEST_F(UpdateExtraction, AnArchiveThatCannotBeReadIsStillDeleted) {
  for (const wchar_t* fixture : {L"not_a_zip.zip", L"no_items.zip"}) {
    Stage(fixture);
    launcher::ExtractUpdateArchive();
    EXPECT_TRUE(FolderEntries(folder_.Path()).empty()) << testing_support::Narrow(fixture);
  }
}

TEST_F(UpdateExtraction, EveryItemIsAppliedAndTheArchiveDeleted) {
  Stage(L"infozip.zip");
  launcher::ExtractUpdateArchive();
  EXPECT_EQ(FolderEntries(folder_.Path()),
            (std::vector<std::wstring>{L"bin", L"locked.cfg", L"readme.txt"}));
  EXPECT_EQ(ReadText(folder_ / L"bin\\plugins\\plugin.cfg"), "enabled=1\n");
}

TEST_F(UpdateExtraction, FailedItemsKeepTheInstallationAndTheWalkGoesOn) {
  Stage(L"first.zip");
  launcher::ExtractUpdateArchive();
  const std::string first = ReadText(folder_ / L"app\\data.bin");
  for (const wchar_t* fixture : {L"bad_crc.zip", L"bad_data.zip", L"bad_local_header.zip"}) {
    Stage(fixture);
    launcher::ExtractUpdateArchive();
    EXPECT_EQ(ReadText(folder_ / L"app\\data.bin"), first) << testing_support::Narrow(fixture);
    EXPECT_EQ(ReadText(folder_ / L"app\\after.txt"), "after\n");
    EXPECT_FALSE(FileExists(folder_ / L"update.zip"));
  }
  EXPECT_EQ(FolderEntries(folder_ / L"app"),
            (std::vector<std::wstring>{L"after.txt", L"data.bin", L"tool.exe"}));
}

// A file in use is a passing cause: nothing of the update goes in, the
// archive stays for a later start, which applies it whole once the file is
// free; an archive still refused after the attempts allowed is given up,
// and the installation stays as it was.
TEST_F(UpdateExtraction, AFileInUseKeepsTheWholeUpdateForALaterStartAFewTimes) {
  const struct {
    std::uint32_t busyStarts;
    bool appliedAfter;
  } cases[] = {{1, true}, {launcher::kUpdateAttempts - 1, true}, {launcher::kUpdateAttempts, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE("busy for " + std::to_string(c.busyStarts) + " starts");
    testing_support::RemoveTree(folder_ / L"app");
    testing_support::CreateFolders(folder_ / L"app");
    testing_support::WriteFileBytes(folder_ / L"app\\data.bin", "installed\n");
    Stage(L"first.zip");
    {
      const launcher::ScopedFileHandle busy(::CreateFileW(
          (folder_ / L"app\\data.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(busy);
      for (std::uint32_t start = 0; start < c.busyStarts; ++start) launcher::ExtractUpdateArchive();
    }
    EXPECT_EQ(FolderEntries(folder_ / L"app"), std::vector<std::wstring>{L"data.bin"});
    EXPECT_EQ(ReadText(folder_ / L"app\\data.bin"), "installed\n");
    EXPECT_EQ(FileExists(folder_ / L"update.zip"), c.appliedAfter);
    launcher::ExtractUpdateArchive();
    EXPECT_EQ(FolderEntries(folder_ / L"app").size(), c.appliedAfter ? 2u : 1u);
    EXPECT_EQ(FolderEntries(folder_.Path()), (std::vector<std::wstring>{L"app"}));
  }
}

// All or none: a target that turns busy between the writing and the commit
// takes back the replacements already made.
TEST_F(UpdateExtraction, ACommitThatMeetsABusyTargetTakesEverythingBack) {
  testing_support::CreateFolders(folder_ / L"app");
  testing_support::WriteFileBytes(folder_ / L"app\\data.bin", "installed data\n");
  testing_support::WriteFileBytes(folder_ / L"app\\tool.exe", "installed tool\n");
  Stage(L"first.zip");
  {
    launcher::ScopedArchive archive;
    ASSERT_EQ(launcher::OpenArchive(L"update.zip", archive.Receive()), launcher::kArchiveOk);
    ASSERT_EQ(launcher::BeginArchiveTransaction(archive.Get()), launcher::kArchiveOk);
    EXPECT_EQ(launcher::ExtractArchiveItem(archive.Get(), 0, L"app/data.bin"), launcher::kArchiveOk);
    EXPECT_EQ(launcher::ExtractArchiveItem(archive.Get(), 1, L"app/tool.exe"), launcher::kArchiveOk);
    const launcher::ScopedFileHandle busy(::CreateFileW(
        (folder_ / L"app\\tool.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy);
    launcher::ArchiveCommitReport report;
    EXPECT_EQ(launcher::CommitArchiveTransaction(archive.Get(), nullptr, report),
              launcher::kArchiveTargetBusy);
  }
  EXPECT_EQ(ReadText(folder_ / L"app\\data.bin"), "installed data\n");
  EXPECT_EQ(ReadText(folder_ / L"app\\tool.exe"), "installed tool\n");
  EXPECT_EQ(FolderEntries(folder_ / L"app"), (std::vector<std::wstring>{L"data.bin", L"tool.exe"}));
}

// The journal lies where others may write: it is taken only whole, and only
// when it names nothing but single names and the update's own temporary ones.
TEST(UpdateJournal, OnlyAWholeJournalOfTheUpdatesOwnNamesIsTaken) {
  launcher::UpdateJournal journal;
  journal.failedAttempts = 2;
  journal.archiveSize = 1234;
  journal.stagingRuns = {0x1a2b};
  journal.replacements = {{L"data\\\u914d\u7f6e", L"~upd1a2b.3.tmp", L"vorlan.exe", L"~upd1a2b.4.tmp"}};
  journal.leftovers = {{L"", L"~upd9.1.tmp"}};
  const std::string text = launcher::FormatJournal(journal);
  launcher::UpdateJournal read;
  ASSERT_TRUE(launcher::ParseJournal(text, read));
  EXPECT_EQ(launcher::FormatJournal(read), text);

  const auto forged = [&](const std::wstring& temporary, const std::wstring& folder,
                          const std::wstring& target) {
    launcher::UpdateJournal changed = journal;
    changed.replacements[0] = {folder, temporary, target, L"~upd1a2b.4.tmp"};
    return launcher::FormatJournal(changed);
  };
  std::string damaged = text;
  damaged[damaged.find("vorlan")] = 'V';
  const std::string refused[] = {
      damaged,                                           // its CRC-32 no longer fits
      text.substr(0, text.size() - 1),                   // cut short
      forged(L"vorlan.exe", L"data", L"x"),              // an installed file as a temporary one
      forged(L"~upd1.1.tmp", L"..\\..", L"x"),            // a folder outside
      forged(L"~upd1.1.tmp", L"data", L"a\\b"),           // a target in another folder
      forged(L"~upd1.1.tmp", L"data", L"x:stream"),       // a stream
      forged(L"~upd1.1.tmp", L"C:\\Windows", L"x"),       // a drive
  };
  for (const std::string& candidate : refused) {
    EXPECT_FALSE(launcher::ParseJournal(candidate, read)) << candidate;
  }
}

TEST_F(UpdateExtraction, ADamagedDirectoryEndsTheUpdate) {
  Stage(L"bad_directory.zip");
  launcher::ExtractUpdateArchive();
  EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::wstring>{L"one.txt"});
}

}  // namespace
