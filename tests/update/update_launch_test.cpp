// The real launcher applies a staged update before it starts the client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/client_rig.h"
#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"

namespace {

using namespace update_testing;
using namespace testing_support;

class UpdateLaunch : public ::testing::Test {
 protected:
  void SetUp() override { EndAllClients(); }
  void TearDown() override { EndAllClients(); }
};

TEST_F(UpdateLaunch, TheStagedUpdateIsInPlaceBeforeTheClientStarts) {
  TestFolder folder;
  const std::wstring launcher = InstallLauncher(folder.Path());
  // Only the client inside the update can start: the installed one is broken.
  WriteFileBytes(folder / L"vorlan.exe", "not a program");
  CreateFolders(folder / L"temp");
  CopyFixture(L"client_update.zip", folder / L"temp\\update.zip");
  WriteFileBytes(folder / L"temp\\Updater.exe", "old updater");
  WriteFileBytes(folder / L"temp\\update.td", "old part");

  const ProcessResult result = RunLauncher(launcher, L"room=1");
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  const std::vector<ClientRecord> clients = WaitForClients(folder.Path(), 1);
  ASSERT_EQ(clients.size(), 1u);
  EXPECT_EQ(ParametersOf(clients[0]), L"room=1");
  EndAllClients();

  EXPECT_EQ(ReadText(folder / L"app\\version.txt"), "2.0\n");
  EXPECT_FALSE(FileExists(folder / L"update.zip"));
  EXPECT_TRUE(FolderEntries(folder / L"temp").empty());
}

// A client ended for the update lets go of its image and its files only as
// it exits, a moment after it was ended: the update waits for that, and
// replaces what the client held in this very start.
TEST_F(UpdateLaunch, WhatAnEndedClientHeldIsReplacedOnceItHasExited) {
  TestFolder folder;
  const std::wstring launcher = InstallLauncher(folder.Path());
  CreateFolders(folder / L"app");
  WriteFileBytes(folder / L"app\\version.txt", "1.0\n");
  ASSERT_EQ(testing_support::StartClients(folder.Path(), 1, {{L"VORLAN_HOLD", L"app\\version.txt"}})
                .size(),
            1u);
  CreateFolders(folder / L"temp");
  CopyFixture(L"client_update.zip", folder / L"temp\\update.zip");

  const ProcessResult result = RunLauncher(launcher, L"forcerun:room=2");
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(WaitForClients(folder.Path(), 2).size(), 2u);
  EndAllClients();
  EXPECT_EQ(ReadText(folder / L"app\\version.txt"), "2.0\n");
  EXPECT_FALSE(FileExists(folder / L"update.zip"));
}

}  // namespace
