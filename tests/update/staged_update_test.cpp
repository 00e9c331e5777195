// Placing a staged update archive: the step runs in a program copied into a
// folder of the test's own, which it sees as its installation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"

namespace {

using namespace update_testing;
using testing_support::FileExists;
using testing_support::TestFolder;
using testing_support::WriteFileBytes;

const wchar_t* const kLeftovers[] = {L"Updater.exe", L"update.td0", L"update.td1",
                                     L"update.td2",  L"update.td3", L"update.td"};

class StagedUpdate : public ::testing::Test {
 protected:
  explicit StagedUpdate(const std::wstring& leaf = L"") : folder_(leaf) {
    program_ = folder_ / L"update_step.exe";
    EXPECT_TRUE(::CopyFileW((testing_support::BinFolder() + L"\\update_step.exe").c_str(),
                            program_.c_str(), FALSE));
  }

  void Place() {
    const auto result = testing_support::RunProcess(L"\"" + program_ + L"\" place", folder_.Path());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
  }

  void WriteLeftovers() {
    testing_support::CreateFolders(folder_ / L"temp");
    for (const wchar_t* name : kLeftovers) WriteFileBytes(folder_ / L"temp" + L"\\" + name, "old");
    WriteFileBytes(folder_ / L"temp\\update.td4", "not ours");
    WriteFileBytes(folder_ / L"temp\\notes.txt", "not ours");
  }

  TestFolder folder_;
  std::wstring program_;
};

TEST_F(StagedUpdate, WithoutATempFolderNothingChanges) {
  Place();
  EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::wstring>{L"update_step.exe"});
}

TEST_F(StagedUpdate, LeftoversAreDeletedAndNothingElseIsTouched) {
  WriteLeftovers();
  WriteFileBytes(folder_ / L"update.zip", "placed earlier");
  Place();
  EXPECT_EQ(FolderEntries(folder_ / L"temp"),
            (std::vector<std::wstring>{L"notes.txt", L"update.td4"}));
  EXPECT_EQ(ReadText(folder_ / L"update.zip"), "placed earlier");
}

TEST_F(StagedUpdate, TheStagedArchiveReplacesAnOlderOne) {
  WriteLeftovers();
  WriteFileBytes(folder_ / L"temp\\update.zip", "staged archive");
  WriteFileBytes(folder_ / L"update.zip", "placed earlier");
  Place();
  EXPECT_EQ(ReadText(folder_ / L"update.zip"), "staged archive");
  EXPECT_EQ(FolderEntries(folder_ / L"temp"),
            (std::vector<std::wstring>{L"notes.txt", L"update.td4"}));
}

TEST_F(StagedUpdate, AStagedArchiveThatCannotBeCopiedStaysStaged) {
  testing_support::CreateFolders(folder_ / L"temp");
  WriteFileBytes(folder_ / L"temp\\update.zip", "staged archive");
  // A folder in the archive's place makes the copy fail.
  testing_support::CreateFolders(folder_ / L"update.zip");
  Place();
  EXPECT_TRUE(testing_support::FolderExists(folder_ / L"update.zip"));
  EXPECT_EQ(ReadText(folder_ / L"temp\\update.zip"), "staged archive");
}

// Korean and an emoji: no ANSI code page of the vendor's machines spells them.
class StagedUpdateInUnrepresentableFolder : public StagedUpdate {
 protected:
  StagedUpdateInUnrepresentableFolder() : StagedUpdate(L"\xC124\xCE58 \xD83C\xDFAE") {}
};

TEST_F(StagedUpdateInUnrepresentableFolder, TheUpdateIsPlacedAndTheLeftoversGo) {
  WriteLeftovers();
  WriteFileBytes(folder_ / L"temp\\update.zip", "staged archive");
  Place();
  EXPECT_EQ(ReadText(folder_ / L"update.zip"), "staged archive");
  EXPECT_EQ(FolderEntries(folder_ / L"temp"),
            (std::vector<std::wstring>{L"notes.txt", L"update.td4"}));
}

}  // namespace
