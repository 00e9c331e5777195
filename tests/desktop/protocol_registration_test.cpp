// The quintarelox open command as the real launcher leaves it in the registry,
// and a link opened through the shell afterwards.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop/protocol_registration.h"
#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;
using launcher::ScopedRegKey;

RegistryValue ReadOpenCommand() {
  return ReadRegistryValue(HKEY_CLASSES_ROOT, launcher::kProtocolCommandKey, L"");
}

void WriteOpenCommand(DWORD type, const void* data, DWORD size) {
  ScopedRegKey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, launcher::kProtocolCommandKey, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(key.Get(), L"", 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
}

// The value a reader must find for a launcher at this path: the command and
// its terminating NUL, nothing more.
std::vector<BYTE> ExpectedData(const std::wstring& launcherPath) {
  const std::wstring command = L"\"" + launcherPath + L"\" \"%1\"";
  const BYTE* bytes = reinterpret_cast<const BYTE*>(command.c_str());
  return std::vector<BYTE>(bytes, bytes + (command.size() + 1) * sizeof(wchar_t));
}

class ProtocolRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    EndAllClients();
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"quintarelox");
  }
  void TearDown() override {
    EndAllClients();
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"quintarelox");
  }

  // Runs the launcher installed in folder and waits for the client it starts.
  void Launch(const std::wstring& launcherPath, const std::wstring& folder) {
    const std::size_t clientsBefore = ReadClientRecords(folder).size();
    const ProcessResult result = RunLauncher(launcherPath, L"a");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(WaitForClients(folder, clientsBefore + 1).size(), clientsBefore + 1);
    EndAllClients();
  }
};

TEST(OpenCommand, QuotesThePathAndTheLink) {
  EXPECT_EQ(launcher::FormatOpenCommand(L"C:\\Program Files\\q\\launcher.exe"),
            L"\"C:\\Program Files\\q\\launcher.exe\" \"%1\"");
}

TEST_F(ProtocolRegistration, ALaunchLeavesTheQuotedCommandWithItsExactSize) {
  TestFolder folder(L"with blanks \x4E2D\x6587");
  const std::wstring launcherPath = InstallLauncher(folder.Path());
  Launch(launcherPath, folder.Path());

  const RegistryValue value = ReadOpenCommand();
  ASSERT_TRUE(value.present);
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value.data, ExpectedData(launcherPath)) << Narrow(value.Text());
  EXPECT_EQ(value.data.size(), (launcherPath.size() + 8) * sizeof(wchar_t));

  // A second launch from the same folder writes the same value again.
  Launch(launcherPath, folder.Path());
  EXPECT_EQ(ReadOpenCommand().data, value.data);
}

TEST_F(ProtocolRegistration, TheLauncherStartedLastOwnsTheProtocol) {
  TestFolder first, second;
  const std::wstring firstLauncher = InstallLauncher(first.Path());
  const std::wstring secondLauncher = InstallLauncher(second.Path());
  Launch(firstLauncher, first.Path());
  EXPECT_EQ(ReadOpenCommand().data, ExpectedData(firstLauncher));
  Launch(secondLauncher, second.Path());
  EXPECT_EQ(ReadOpenCommand().data, ExpectedData(secondLauncher));
}

TEST_F(ProtocolRegistration, AnyPreviousValueIsReplacedWhole) {
  TestFolder folder;
  const std::wstring launcherPath = InstallLauncher(folder.Path());

  const DWORD number = 42;
  WriteOpenCommand(REG_DWORD, &number, sizeof(number));
  Launch(launcherPath, folder.Path());
  RegistryValue value = ReadOpenCommand();
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value.data, ExpectedData(launcherPath));

  // A longer command of the same type leaves nothing of itself behind.
  const std::wstring longer(600, L'z');
  WriteOpenCommand(REG_EXPAND_SZ, longer.c_str(),
                   static_cast<DWORD>((longer.size() + 1) * sizeof(wchar_t)));
  Launch(launcherPath, folder.Path());
  value = ReadOpenCommand();
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value.data, ExpectedData(launcherPath));
}

TEST_F(ProtocolRegistration, ALongLauncherPathIsRegisteredWhole) {
  TestFolder base;
  // The longest launcher path that a 260-unit buffer holds: its command needs
  // 267 units with the terminator.
  const std::wstring fileName = L"\\launcher.exe";
  const std::size_t leafLength = 259 - base.Path().size() - 1 - fileName.size();
  ASSERT_LT(leafLength, 256u);
  const std::wstring folder = base.Path() + L"\\" + std::wstring(leafLength, L'p');
  CreateFolders(folder);
  const std::wstring launcherPath = InstallLauncher(folder);
  ASSERT_EQ(launcherPath.size(), 259u);
  Launch(launcherPath, folder);

  const RegistryValue value = ReadOpenCommand();
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value.data, ExpectedData(launcherPath)) << Narrow(value.Text());
}

// Windows starts a scheme's handler only when the scheme's key has a "URL
// Protocol" value (Wine needs none): a launch adds an empty one where it is
// missing and leaves an installer's own, of whatever type, as it was.
TEST_F(ProtocolRegistration, TheSchemeGetsAnEmptyUrlProtocolValueOnlyWhereItHasNone) {
  TestFolder folder;
  const std::wstring launcherPath = InstallLauncher(folder.Path());
  const std::vector<BYTE> installers = {7, 0, 0, 0};
  for (const bool present : {false, true}) {
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, launcher::kProtocolKey);
    if (present) {
      ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, launcher::kProtocolKey,
                                  launcher::kUrlProtocolValue, REG_DWORD, installers.data(), 4),
                ERROR_SUCCESS);
    }
    Launch(launcherPath, folder.Path());
    const RegistryValue value =
        ReadRegistryValue(HKEY_CLASSES_ROOT, launcher::kProtocolKey, launcher::kUrlProtocolValue);
    EXPECT_EQ(value.type, static_cast<DWORD>(present ? REG_DWORD : REG_SZ));
    EXPECT_EQ(value.data, present ? installers : std::vector<BYTE>(2, 0));
  }
}

TEST_F(ProtocolRegistration, ALinkOpenedThroughTheShellStartsTheRegisteredLauncher) {
  TestFolder folder(L"link target");
  const std::wstring launcherPath = InstallLauncher(folder.Path());
  Launch(launcherPath, folder.Path());
  const std::vector<ClientRecord> before = ReadClientRecords(folder.Path());
  ASSERT_EQ(before.size(), 1u);

  // No verb: the shell takes the protocol's open command.
  const HINSTANCE opened =
      ::ShellExecuteW(nullptr, nullptr, L"quintarelox://room=1", nullptr, nullptr, SW_SHOWNORMAL);
  EXPECT_GT(reinterpret_cast<INT_PTR>(opened), 32);

  const std::vector<ClientRecord> after = WaitForClients(folder.Path(), 2);
  ASSERT_EQ(after.size(), 2u);
  const ClientRecord& started =
      after[0].processId == before[0].processId ? after[1] : after[0];
  // The link arrives quoted; the client gets the payload with the closing quote.
  EXPECT_EQ(ParametersOf(started), L"room=1\"");
}

}  // namespace
