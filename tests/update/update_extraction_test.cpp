// Applying "update.zip" from the working folder as the launch does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"
#include "update/update_extraction.h"

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

TEST_F(UpdateExtraction, WithoutAnArchiveNothingHappens) {
  testing_support::WriteFileBytes(folder_ / L"vorlan.exe", "client");
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

TEST_F(UpdateExtraction, ADamagedDirectoryEndsTheUpdate) {
  Stage(L"bad_directory.zip");
  launcher::ExtractUpdateArchive();
  EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::wstring>{L"one.txt"});
}

}  // namespace
