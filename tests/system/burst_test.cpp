// Launchers started at the same moment, as a double click, a browser or a web
// page opening several links starts them: one client, every link delivered
// once, and a prompt only for a client that ran before them. Each burst is
// repeated, since the race it guards against shows only now and then.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "launcher/single_instance.h"
#include "tests/support/client_rig.h"
#include "tests/support/test_support.h"
#include "tests/support/system_rig.h"

namespace {

using namespace testing_support;
using namespace system_testing;
using launcher::ScopedHandle;

constexpr std::size_t kBurstSize = 10;

BOOL CALLBACK FindPromptWindow(HWND window, LPARAM found) {
  wchar_t kind[64] = {};
  wchar_t caption[64] = {};
  ::GetClassNameW(window, kind, 64);
  ::GetWindowTextW(window, caption, 64);
  const bool isPrompt = std::wstring(kind) == L"#32770" && ::IsWindowVisible(window) &&
                        (std::wstring(caption) == launcher::RestartPromptTextsFor(false).caption ||
                         std::wstring(caption) == launcher::RestartPromptTextsFor(true).caption);
  if (!isPrompt) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The launcher's restart prompt, in either language, when one is shown.
HWND FindRestartPrompt() {
  HWND found = nullptr;
  ::EnumWindows(FindPromptWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

struct BurstResult {
  std::vector<DWORD> exitCodes;
  std::size_t prompts = 0;
};

// Creates every launcher suspended and then lets them all go at once. Each
// prompt that appears is counted and answered with the button given.
BurstResult RunBurst(const std::wstring& launcherPath, const std::vector<std::wstring>& tails,
                     WPARAM answer) {
  std::vector<ScopedHandle> processes, threads;
  for (const std::wstring& tail : tails) {
    std::wstring commandLine = L"\"" + launcherPath + L"\"" + (tail.empty() ? L"" : L" " + tail);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // Wine on a loaded machine now and then fails to create a process; the
    // launcher has not run then, so trying again hides nothing of it.
    bool created = false;
    for (int attempt = 0; attempt < 3 && !created; ++attempt) {
      if (attempt > 0) ::Sleep(200);
      created = ::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                                 CREATE_SUSPENDED, nullptr, nullptr, &startup, &info) != FALSE;
    }
    if (!created) {
      ADD_FAILURE() << "cannot start " << Narrow(commandLine) << ": error " << ::GetLastError();
      continue;
    }
    processes.emplace_back(info.hProcess);
    threads.emplace_back(info.hThread);
  }
  for (const ScopedHandle& thread : threads) ::ResumeThread(thread.Get());

  BurstResult result;
  std::vector<HANDLE> waitable;
  for (const ScopedHandle& process : processes) waitable.push_back(process.Get());
  HWND answered = nullptr;
  const ULONGLONG deadline = ::GetTickCount64() + 60000;
  while (::WaitForMultipleObjects(static_cast<DWORD>(waitable.size()), waitable.data(), TRUE,
                                  20) == WAIT_TIMEOUT &&
         ::GetTickCount64() < deadline) {
    const HWND prompt = FindRestartPrompt();
    if (prompt != nullptr && prompt != answered) {
      ++result.prompts;
      ::PostMessageW(prompt, WM_COMMAND, answer, 0);
      answered = prompt;
    }
  }
  for (const ScopedHandle& process : processes) {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process.Get(), &code);
    if (code == STILL_ACTIVE) ::TerminateProcess(process.Get(), 99);
    result.exitCodes.push_back(code);
  }
  return result;
}

// A link per launcher, as the shell passes it on: the payload keeps the
// closing quotation mark.
std::vector<std::wstring> LinkTails(int round) {
  std::vector<std::wstring> tails;
  for (std::size_t i = 0; i < kBurstSize; ++i) {
    tails.push_back(L"\"quintarelox://room=" + std::to_wstring(round) + L"-" + std::to_wstring(i) +
                    L"\"");
  }
  return tails;
}

std::vector<std::wstring> PayloadsOf(const std::vector<std::wstring>& tails) {
  std::vector<std::wstring> payloads;
  for (const std::wstring& tail : tails) {
    const std::wstring::size_type scheme = tail.find(L"quintarelox://");
    if (scheme != std::wstring::npos) payloads.push_back(tail.substr(scheme + 14));
  }
  std::sort(payloads.begin(), payloads.end());
  return payloads;
}

// What reached the client started in the burst: its parameters and every pipe
// message, as text without the terminating zero, sorted.
std::vector<std::wstring> DeliveredTo(const ClientRecord& client) {
  std::vector<std::wstring> delivered{ParametersOf(client)};
  for (const std::string& message : client.messages) {
    delivered.push_back(Widen(message.substr(0, message.size() - 1)));
  }
  std::sort(delivered.begin(), delivered.end());
  return delivered;
}

class Burst : public ::testing::Test {
 protected:
  void SetUp() override {
    EndAllClients();
    RemoveProtocolKey();
  }
  void TearDown() override {
    EndAllClients();
    RemoveProtocolKey();
  }
};

struct BurstKind {
  const char* name;
  bool links;
  int rounds;
};

// Names the case in the test list instead of the struct's bytes.
void PrintTo(const BurstKind& kind, std::ostream* out) { *out << kind.name; }

class BurstWithoutClient : public Burst, public ::testing::WithParamInterface<BurstKind> {};

// The first launcher starts the client with its own parameters; every other
// one waits for it and hands its link to that client, or just ends.
TEST_P(BurstWithoutClient, StartsOneClientAndDeliversEveryLinkOnceWithoutAPrompt) {
  const BurstKind kind = GetParam();
  for (int round = 0; round < kind.rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    EndAllClients();
    TestFolder folder;
    const std::wstring launcher = InstallLauncher(folder.Path());
    const std::vector<std::wstring> tails =
        kind.links ? LinkTails(round) : std::vector<std::wstring>(kBurstSize);

    const BurstResult burst = RunBurst(launcher, tails, IDCANCEL);
    EXPECT_EQ(burst.prompts, 0u);
    EXPECT_EQ(burst.exitCodes, std::vector<DWORD>(kBurstSize, 0));

    const std::size_t handedOff = kind.links ? kBurstSize - 1 : 0;
    EXPECT_EQ(WaitForMessages(folder.Path(), handedOff).size(), handedOff);
    ::Sleep(200);  // a message or client too many has had time to show
    EXPECT_EQ(WaitForClientCount(1), 1u);
    const std::vector<ClientRecord> clients = ReadClientRecords(folder.Path());
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(DeliveredTo(clients[0]),
              kind.links ? PayloadsOf(tails) : std::vector<std::wstring>{L""});
  }
}

INSTANTIATE_TEST_SUITE_P(TenAtOnce, BurstWithoutClient,
                         ::testing::Values(BurstKind{"links", true, 5},
                                           BurstKind{"plain_starts", false, 3}),
                         [](const ::testing::TestParamInfo<BurstKind>& info) {
                           return std::string(info.param.name);
                         });

// The user is asked once about the client that ran before; after OK the new
// client gets every link, and nobody asks about it.
TEST_F(Burst, AClientRunningBeforeIsAskedAboutOnceAndRestarted) {
  if (::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
    GTEST_SKIP() << "the prompt needs a display";
  }
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    EndAllClients();
    TestFolder folder;
    const std::wstring launcher = InstallLauncher(folder.Path());
    const std::vector<DWORD> before = StartClients(folder.Path(), 1);
    ASSERT_EQ(before.size(), 1u);
    ASSERT_TRUE(WaitForClientPipe());
    const std::vector<std::wstring> tails = LinkTails(round);

    const BurstResult burst = RunBurst(launcher, tails, IDOK);
    EXPECT_EQ(burst.prompts, 1u);
    EXPECT_EQ(burst.exitCodes, std::vector<DWORD>(kBurstSize, 0));

    EXPECT_EQ(WaitForMessages(folder.Path(), kBurstSize - 1).size(), kBurstSize - 1);
    ::Sleep(200);
    EXPECT_EQ(WaitForClientCount(1), 1u);
    EXPECT_FALSE(IsProcessRunning(before[0]));
    std::vector<ClientRecord> clients = ReadClientRecords(folder.Path());
    ASSERT_EQ(clients.size(), 2u);
    if (clients[0].processId != before[0]) std::swap(clients[0], clients[1]);
    EXPECT_TRUE(clients[0].messages.empty());
    EXPECT_EQ(DeliveredTo(clients[1]), PayloadsOf(tails));
  }
}

}  // namespace
