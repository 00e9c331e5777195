// Long runs of real launcher processes against reference clients: many
// hand-offs to one running client, and many launches in a row.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/client_rig.h"
#include "tests/support/test_support.h"
#include "tests/support/system_rig.h"

namespace {

using namespace testing_support;
using namespace system_testing;

class Soak : public ::testing::Test {
 protected:
  void SetUp() override { EndAllClients(); }
  void TearDown() override { EndAllClients(); }
};

void PrintRate(const char* what, std::size_t count, DWORD elapsedMs) {
  std::printf("%s: %u in %lu ms, %.1f ms each\n", what, static_cast<unsigned>(count),
              static_cast<unsigned long>(elapsedMs),
              count ? static_cast<double>(elapsedMs) / static_cast<double>(count) : 0.0);
}

// Every link goes to the one running client, once, in the order sent; no
// other client ever starts.
TEST_F(Soak, FiveHundredHandOffsReachTheRunningClientOnceEachInOrder) {
  const std::size_t kHandOffs = 500;
  TestFolder folder;
  const std::wstring launcher = InstallLauncher(folder.Path(), L"cancelling.exe");
  const std::vector<DWORD> client = StartClients(folder.Path(), 1);
  ASSERT_EQ(client.size(), 1u);
  ASSERT_TRUE(WaitForClientPipe());

  const DWORD start = ::GetTickCount();
  for (std::size_t i = 0; i < kHandOffs; ++i) {
    const ProcessResult result =
        RunLauncher(launcher, L"\"quintarelox://link=" + std::to_wstring(i) + L"\"");
    ASSERT_TRUE(result.finished) << "hand-off " << i;
    ASSERT_EQ(result.exitCode, 0u) << "hand-off " << i;
  }
  PrintRate("hand-offs", kHandOffs, ::GetTickCount() - start);

  const std::vector<std::string> messages = WaitForMessages(folder.Path(), kHandOffs);
  ASSERT_EQ(messages.size(), kHandOffs);
  for (std::size_t i = 0; i < kHandOffs; ++i) {
    // The payload keeps the link's closing quote, and the message its zero.
    EXPECT_EQ(messages[i], "link=" + std::to_string(i) + "\"" + std::string(1, '\0'))
        << "message " << i;
  }
  EXPECT_EQ(ReadClientRecords(folder.Path()).size(), 1u);
  EXPECT_EQ(TestClients(), client);
}

// Half the launches force the restart of a client the user started, half
// find the client already ended; each starts exactly one client, which is the
// only one running afterwards. (A client a launcher started moments before is
// a sibling's, which force leaves running.) Each launch's client records into
// a folder of its own: Wine soon reuses process ids, and with them the record
// names.
TEST_F(Soak, TwoHundredLaunchesStartOneClientEach) {
  const std::size_t kLaunches = 200;
  TestFolder folder, userFolder;
  const std::wstring launcher = InstallLauncher(folder.Path());
  InstallLauncher(userFolder.Path());
  const auto recordFolder = [&](std::size_t i) { return folder / (L"run" + std::to_wstring(i)); };

  const DWORD start = ::GetTickCount();
  for (std::size_t i = 0; i < kLaunches; ++i) {
    const bool forced = i % 2 == 0;
    EndAllClients();
    if (forced) {
      // Wine soon gives a new process an id an ended one had: the user's
      // earlier clients' records go, so that the new one's is not missed.
      for (const ClientRecord& ended : ReadClientRecords(userFolder.Path())) {
        ::DeleteFileW((userFolder / (L"vorlan." + std::to_wstring(ended.processId) + L".cmdline")).c_str());
      }
      ASSERT_EQ(StartClients(userFolder.Path(), 1).size(), 1u) << "launch " << i;
    }
    CreateFolders(recordFolder(i));
    const std::wstring parameters = L"launch=" + std::to_wstring(i);
    const ProcessResult result = RunLauncher(launcher, (forced ? L"forcerun:" : L"") + parameters,
                                             {{L"VORLAN_RECORD_DIR", recordFolder(i)}});
    ASSERT_TRUE(result.finished) << "launch " << i;
    ASSERT_EQ(result.exitCode, 0u) << "launch " << i;
    const std::vector<ClientRecord> records = WaitForClients(recordFolder(i), 1);
    ASSERT_EQ(records.size(), 1u) << "launch " << i;
    EXPECT_EQ(ParametersOf(records[0]), parameters);
    ASSERT_EQ(WaitForClientCount(1), 1u) << "launch " << i;
  }
  PrintRate("launches", kLaunches, ::GetTickCount() - start);

  // No launch started a second client later on.
  for (std::size_t i = 0; i < kLaunches; ++i) {
    EXPECT_EQ(ReadClientRecords(recordFolder(i)).size(), 1u) << "launch " << i;
  }
  EXPECT_TRUE(ReadClientRecords(folder.Path()).empty());
  // The one left running is the last one started.
  const std::vector<ClientRecord> last = ReadClientRecords(recordFolder(kLaunches - 1));
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(TestClients(), std::vector<DWORD>{last[0].processId});
}

}  // namespace
