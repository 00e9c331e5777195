// Every hostile or damaged archive of the corpus, staged as temp\update.zip
// and applied by the real launcher: the launch ends and starts the client,
// nothing appears or changes outside the installation, every installed file
// an item failed to replace is byte for byte as it was, and the next start
// starts the client too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/hostile_rig.h"

namespace {

using namespace testing_support;
using hostile::CorpusCase;

constexpr int kShards = 4;

class HostileCorpus : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { EndAllClients(); }
  void TearDown() override { EndAllClients(); }
};

void RunCase(const CorpusCase& corpusCase) {
  SCOPED_TRACE(Narrow(corpusCase.archive));
  TestFolder top;
  const hostile::Sandbox sandbox(top.Path());
  const std::wstring installation = sandbox.Installation();
  const std::wstring launcher = InstallLauncher(installation);
  CreateFolders(installation + L"\\temp");
  ASSERT_TRUE(::CopyFileW(hostile::HostileFixturePath(corpusCase.archive).c_str(),
                          (installation + L"\\temp\\update.zip").c_str(), FALSE));
  hostile::Populate(installation, corpusCase);

  const std::vector<std::wstring> places = hostile::SharedPlaces(top.Path());
  const std::vector<std::wstring> probesBefore = hostile::ExistingProbes(places, corpusCase.probes);
  const hostile::Snapshot outsideBefore = sandbox.Outside();

  const ProcessResult result = RunLauncher(launcher, L"hostile");
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  const std::vector<ClientRecord> clients = WaitForClients(installation, 1);
  ASSERT_EQ(clients.size(), 1u);
  EXPECT_EQ(ParametersOf(clients[0]), L"hostile");
  EndAllClients();

  EXPECT_EQ(hostile::DescribeDifferences(outsideBefore, sandbox.Outside()), "");
  EXPECT_EQ(hostile::ExistingProbes(places, corpusCase.probes), probesBefore);
  EXPECT_FALSE(FileExists(installation + L"\\update.zip"));
  // Only an update that brings the next one leaves one staged.
  if (corpusCase.mustBecome.count(L"temp\\update.zip") == 0) {
    EXPECT_FALSE(FileExists(installation + L"\\temp\\update.zip"));
  }
  hostile::ExpectInstallationOutcome(installation, corpusCase);

  // Whatever the archive was, the next starts are ordinary ones.
  for (std::size_t start = 2; start <= 3; ++start) {
    EXPECT_EQ(RunLauncher(launcher, L"again").exitCode, 0u);
    EXPECT_EQ(WaitForClients(installation, start).size(), start);
    EndAllClients();
  }
}

TEST_P(HostileCorpus, TheLaunchEndsAndNothingEscapesOrIsLost) {
  const std::vector<CorpusCase> cases = hostile::ReadManifest();
  ASSERT_GE(cases.size(), 50u);
  for (std::size_t i = static_cast<std::size_t>(GetParam()); i < cases.size(); i += kShards) {
    RunCase(cases[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, HostileCorpus, ::testing::Range(0, kShards));

}  // namespace

namespace {

// Files copied from read-only media keep the attribute; such an archive must
// neither stay behind, applied again at every start, nor block the next one.
TEST(HostileStaging, AReadOnlyStagedArchiveIsAppliedAndConsumed) {
  EndAllClients();
  TestFolder top;
  const std::wstring installation = top.Path();
  const std::wstring launcher = InstallLauncher(installation);
  CreateFolders(installation + L"\\temp");
  const std::wstring staged = installation + L"\\temp\\update.zip";
  ASSERT_TRUE(::CopyFileW(hostile::HostileFixturePath(L"empty_items.zip").c_str(), staged.c_str(),
                          FALSE));
  ASSERT_TRUE(::SetFileAttributesW(staged.c_str(), FILE_ATTRIBUTE_READONLY));
  // One such archive already placed by an earlier start must give way too.
  const std::wstring placed = installation + L"\\update.zip";
  WriteFileBytes(placed, "an older archive that could not be deleted");
  ASSERT_TRUE(::SetFileAttributesW(placed.c_str(), FILE_ATTRIBUTE_READONLY));

  const ProcessResult result = RunLauncher(launcher, L"");
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(WaitForClients(installation, 1).size(), 1u);
  EndAllClients();
  EXPECT_TRUE(FileExists(installation + L"\\sentinel.txt"));
  EXPECT_FALSE(FileExists(staged));
  EXPECT_FALSE(FileExists(placed));
}

}  // namespace
