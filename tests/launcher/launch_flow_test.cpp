// The real launcher under Wine starts the reference client; what the client
// recorded is what the launcher passed.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/client_rig.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;

class LaunchFlow : public ::testing::Test {
 protected:
  void SetUp() override { EndAllClients(); }
  void TearDown() override { EndAllClients(); }

  // Runs the launcher installed in a fresh folder and returns the parameters
  // that the one client it started received.
  std::wstring ParametersFor(const std::wstring& tail,
                             const std::wstring& launcherSource = L"launcher.exe") {
    TestFolder folder;
    const std::wstring launcher = InstallLauncher(folder.Path(), launcherSource);
    const ProcessResult result = RunLauncher(launcher, tail);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    const std::vector<ClientRecord> clients = WaitForClients(folder.Path(), 1);
    EndAllClients();
    EXPECT_EQ(clients.size(), 1u) << Narrow(tail);
    return clients.empty() ? L"<no client>" : ParametersOf(clients[0]);
  }
};

TEST_F(LaunchFlow, EveryTailReachesTheClientAsItsParameters) {
  const struct {
    const wchar_t* tail;
    const wchar_t* parameters;
  } cases[] = {
      {L"", L""},
      {L"forcerun:", L""},
      {L"forcerun:quintarelox://room=1", L"room=1"},
      {L"\"quintarelox://room=1\"", L"room=1\""},
      {L"a quintarelox://b quintarelox://c", L"b quintarelox://c"},
      {L"QUINTARELOX://b", L"QUINTARELOX://b"},
      {L"FORCERUN:abc", L"FORCERUN:abc"},
      {L"x forcerun:abc", L"x forcerun:abc"},
      {L"room=\x623F\x95F4 \"quoted\"", L"room=\x623F\x95F4 \"quoted\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParametersFor(c.tail), c.parameters) << "tail: " << Narrow(c.tail);
  }
}

TEST_F(LaunchFlow, NothingIsTrimmedAfterTheForcePrefix) {
  EXPECT_EQ(ParametersFor(L"forcerun: abc"), L" abc");
}

TEST_F(LaunchFlow, IsAdminIsAppendedOnlyWhenCtrlAndAltAreHeld) {
  EXPECT_EQ(ParametersFor(L"a", L"heldkeys.exe"), L"a IsAdmin");
  EXPECT_EQ(ParametersFor(L"", L"heldkeys.exe"), L" IsAdmin");
  EXPECT_EQ(ParametersFor(L"\"quintarelox://room=1\"", L"heldkeys.exe"), L"room=1\" IsAdmin");
  // The real keyboard holds nothing here.
  EXPECT_EQ(ParametersFor(L"a"), L"a");
}

TEST_F(LaunchFlow, TheClientRunsInTheLauncherFolderWhateverTheCallersFolder) {
  TestFolder folder(L"with blanks \x4E2D\x6587");
  TestFolder elsewhere;
  const std::wstring launcher = InstallLauncher(folder.Path());
  const ProcessResult result =
      RunProcess(L"\"" + launcher + L"\" quintarelox://x", elsewhere.Path());
  EXPECT_EQ(result.exitCode, 0u);
  const std::vector<ClientRecord> clients = WaitForClients(folder.Path(), 1);
  ASSERT_EQ(clients.size(), 1u);
  EXPECT_EQ(ParametersOf(clients[0]), L"x");
  EXPECT_TRUE(ReadClientRecords(elsewhere.Path()).empty());
  EndAllClients();  // before the folders go, so that they can go
}

// The launcher's folder is gone by the time the launch road starts. The
// folder it was started from holds a vorlan.exe and an update of its own:
// neither may be started, applied or deleted.
TEST_F(LaunchFlow, WithoutItsOwnFolderTheLauncherActsOnNoOtherFolder) {
  TestFolder running, console, parent;
  InstallLauncher(running.Path());
  ASSERT_EQ(StartClients(running.Path(), 1).size(), 1u);  // so that the prompt is asked
  const std::wstring install = parent / L"install";
  CreateFolders(install);
  const std::wstring launcher = InstallLauncher(install, L"movedfolder.exe");
  InstallLauncher(console.Path());
  const std::string emptyArchive = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  WriteFileBytes(console / L"update.zip", emptyArchive);

  const ProcessResult result =
      RunProcess(L"\"" + launcher + L"\" quintarelox://x", console.Path(), 30000, {}, true);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 2u);
  ASSERT_TRUE(FolderExists(install + L" moved"));
  EXPECT_EQ(ReadFileBytes(console / L"update.zip"),
            std::vector<char>(emptyArchive.begin(), emptyArchive.end()));
  ::Sleep(500);
  EXPECT_TRUE(TestClients().empty());
  EXPECT_TRUE(ReadClientRecords(console.Path()).empty());
  EXPECT_NE(result.output.find("nothing launched"), std::string::npos) << result.output;
}

// A client that cannot start (missing here; blocked or damaged alike) is
// not reported as started: exit code 2 and a record naming it.
TEST_F(LaunchFlow, WithNoClientInstalledTheLaunchEndsWithTwoAndSaysWhy) {
  TestFolder folder;
  const std::wstring launcher = InstallLauncher(folder.Path());
  ASSERT_TRUE(::DeleteFileW((folder / L"vorlan.exe").c_str()));
  const ProcessResult result = RunLauncher(launcher, L"\"quintarelox://room=1\"", {}, true);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 2u);
  EXPECT_TRUE(TestClients().empty());
  const std::string record = "client not started: " + Narrow(folder / L"vorlan.exe") + ", error 2";
  EXPECT_NE(result.output.find(record), std::string::npos) << result.output;
}

}  // namespace
