// Whole launches as a user meets them, checked from outside: the registry,
// the files of the installation, the shortcut on the all-users desktop, the
// launcher's standard error and the reference clients' records.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/language_key_rig.h"
#include "tests/support/shortcut_rig.h"
#include "tests/support/test_support.h"
#include "tests/support/system_rig.h"
#include "tests/support/update_test_support.h"

namespace {

using namespace desktop_testing;
using namespace system_testing;
using namespace testing_support;
using namespace update_testing;

using SystemScenario = LaunchingTest;

TEST_F(SystemScenario, AFirstLaunchRegistersTheProtocolAndALinkThenStartsTheClient) {
  TestFolder folder(L"first launch");
  const std::wstring launcher = InstallLauncher(folder.Path());
  ASSERT_FALSE(ReadOpenCommand().present);

  const ProcessResult first = RunLauncher(launcher, L"");
  ASSERT_TRUE(first.finished);
  EXPECT_EQ(first.exitCode, 0u);
  const std::vector<ClientRecord> started = WaitForClients(folder.Path(), 1);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(ParametersOf(started[0]), L"");
  EXPECT_EQ(ReadOpenCommand().data, OpenCommandFor(launcher));
  EndAllClients();

  // No verb: the shell takes the protocol's open command, which starts the
  // launcher, which starts the client with the link's payload.
  const HINSTANCE opened = ::ShellExecuteW(nullptr, nullptr, L"quintarelox://room=7&seat=2",
                                           nullptr, nullptr, SW_SHOWNORMAL);
  EXPECT_GT(reinterpret_cast<INT_PTR>(opened), 32);
  const std::vector<ClientRecord> after = WaitForClients(folder.Path(), 2);
  ASSERT_EQ(after.size(), 2u);
  const ClientRecord& linked = after[0].processId == started[0].processId ? after[1] : after[0];
  EXPECT_EQ(ParametersOf(linked), L"room=7&seat=2\"");
  EXPECT_EQ(WaitForClientCount(1), 1u);
  EXPECT_EQ(ReadOpenCommand().data, OpenCommandFor(launcher));
}

// The updater left a new client, a new configuration and its leftovers in
// temp. The one launch puts the update in place before the client starts,
// with the items' attributes and times, clears temp, moves the shortcut to
// the name the new configuration gives, and logs its two records.
TEST_F(SystemScenario, AStagedUpdateIsInPlaceBeforeTheClientAndTheShortcutMovesInTheSameLaunch) {
  LanguageKey language;
  language.SetText(L"en-US");
  TestFolder folder(L"staged update");
  const std::wstring launcher = InstallLauncher(folder.Path());
  // Only the client inside the update can start.
  WriteFileBytes(folder / L"vorlan.exe", "not a program");
  CreateFolders(folder / L"temp");
  CopyFixture(L"system_update.zip", folder / L"temp\\update.zip", Fixtures::kSystem);
  for (const wchar_t* leftover : {L"Updater.exe", L"update.td0", L"update.td1", L"update.td2",
                                  L"update.td3", L"update.td"}) {
    WriteFileBytes(folder / (std::wstring(L"temp\\") + leftover), "leftover");
  }
  DesktopLinks links(PublicDesktop());
  const std::wstring oldLink = links.PathOf(L"vorlan system old");
  const std::wstring newLink = links.PathOf(L"vorlan system new");
  LinkProperties earlier;
  earlier.target = L"C:\\earlier install\\launcher.exe";
  earlier.arguments = L"from-desktop";
  ASSERT_TRUE(WriteLink(oldLink, earlier));

  const ProcessResult result = RunLauncher(launcher, L"\"quintarelox://room=9\"", {}, true);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  const std::vector<ClientRecord> clients = WaitForClients(folder.Path(), 1);
  ASSERT_EQ(clients.size(), 1u);
  EXPECT_EQ(ParametersOf(clients[0]), L"room=9\"");
  EndAllClients();

  const std::vector<std::string> records = OutputLines(result.output);
  ASSERT_EQ(records.size(), 2u) << result.output;
  EXPECT_EQ(RecordText(records[0]), "class path: vorlan.exe\n");
  EXPECT_EQ(RecordText(records[1]), "par: room=9\"\n");

  EXPECT_TRUE(FolderEntries(folder / L"temp").empty());
  EXPECT_FALSE(FileExists(folder / L"update.zip"));
  // Times first: reading a file moves its access time.
  const FileTimes readme = ReadTimes(folder / L"docs\\readme.txt");
  EXPECT_EQ(readme.write, UnixTicks(1500000000));
  EXPECT_EQ(readme.access, LocalToUtcTicks(2019, 1, 1, 12, 0, 0));
  EXPECT_EQ(ReadText(folder / L"docs\\readme.txt"), "read me\n");
  EXPECT_EQ(Attributes(folder / L"docs\\readme.txt"),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Attributes(folder / L"data\\settings.cfg"),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  const FileTimes settings = ReadTimes(folder / L"data\\settings.cfg");
  EXPECT_EQ(settings.write, LocalToUtcTicks(2020, 2, 29, 23, 59, 58));
  EXPECT_EQ(settings.access, settings.write);
  EXPECT_EQ(settings.creation, settings.write);
  EXPECT_TRUE(FolderExists(folder / L"plugins"));

  EXPECT_FALSE(FileExists(oldLink));
  const LinkProperties moved = ReadLink(newLink);
  EXPECT_EQ(moved.target, launcher);
  EXPECT_EQ(moved.workingFolder, folder.Path());
  EXPECT_EQ(moved.description, L"vorlan");
  EXPECT_EQ(moved.arguments, L"from-desktop");
  EXPECT_EQ(ReadOpenCommand().data, OpenCommandFor(launcher));
}

}  // namespace
