// Launchers started at the same moment, as a double click, a browser or a web
// page opening several links starts them: one client, every link delivered
// once, and a prompt only for a client that ran before them. Each burst is
// repeated, since the race it guards against shows only now and then.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>
#include <random>
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

BOOL CALLBACK FindPromptWindows(HWND window, LPARAM found) {
  wchar_t kind[64] = {};
  wchar_t caption[64] = {};
  ::GetClassNameW(window, kind, 64);
  ::GetWindowTextW(window, caption, 64);
  const bool isPrompt = std::wstring(kind) == L"#32770" && ::IsWindowVisible(window) &&
                        (std::wstring(caption) == launcher::RestartPromptTextsFor(false).caption ||
                         std::wstring(caption) == launcher::RestartPromptTextsFor(true).caption);
  if (isPrompt) reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

// The launcher's restart prompts shown now, in either language.
std::vector<HWND> FindRestartPrompts() {
  std::vector<HWND> found;
  ::EnumWindows(FindPromptWindows, reinterpret_cast<LPARAM>(&found));
  return found;
}

// When the launchers start and how a prompt is answered.
struct BurstPlan {
  std::vector<DWORD> startsAtMs;  // empty: all created suspended and let go together
  WPARAM answer = IDCANCEL;       // IDCANCEL is what Escape gives
  DWORD promptOpenMs = 0;         // how long the user takes to answer
  std::function<void()> whilePromptOpen;
};

struct BurstResult {
  std::vector<DWORD> exitCodes;
  std::size_t prompts = 0;
};

// Wine on a loaded machine now and then fails to create a process; the
// launcher has not run then, so trying again hides nothing of it.
void StartLauncher(const std::wstring& launcherPath, const std::wstring& tail, DWORD flags,
                   std::vector<ScopedHandle>& processes, std::vector<ScopedHandle>& threads) {
  std::wstring commandLine = L"\"" + launcherPath + L"\"" + (tail.empty() ? L"" : L" " + tail);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  bool created = false;
  for (int attempt = 0; attempt < 3 && !created; ++attempt) {
    if (attempt > 0) ::Sleep(200);
    created = ::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                               nullptr, &startup, &info) != FALSE;
  }
  if (!created) {
    ADD_FAILURE() << "cannot start " << Narrow(commandLine) << ": error " << ::GetLastError();
    return;
  }
  processes.emplace_back(info.hProcess);
  threads.emplace_back(info.hThread);
}

// Starts the launchers as planned. Every prompt that appears is counted and,
// once it has been open for as long as planned, answered.
BurstResult RunBurst(const std::wstring& launcherPath, const std::vector<std::wstring>& tails,
                     const BurstPlan& plan) {
  std::vector<ScopedHandle> processes, threads;
  const bool together = plan.startsAtMs.empty();
  std::size_t started = 0;
  for (; together && started < tails.size(); ++started) {
    StartLauncher(launcherPath, tails[started], CREATE_SUSPENDED, processes, threads);
  }
  for (const ScopedHandle& thread : threads) ::ResumeThread(thread.Get());

  BurstResult result;
  std::map<HWND, ULONGLONG> shownAt;
  const ULONGLONG begin = ::GetTickCount64();
  for (bool running = true; running && ::GetTickCount64() < begin + 120000; ::Sleep(10)) {
    const ULONGLONG now = ::GetTickCount64();
    for (; started < tails.size() && now - begin >= plan.startsAtMs[started]; ++started) {
      StartLauncher(launcherPath, tails[started], 0, processes, threads);
    }
    for (const HWND prompt : FindRestartPrompts()) {
      if (shownAt.emplace(prompt, now).second) {
        ++result.prompts;
        if (plan.whilePromptOpen) plan.whilePromptOpen();
      } else if (now - shownAt[prompt] >= plan.promptOpenMs) {
        ::PostMessageW(prompt, WM_COMMAND, plan.answer, 0);
      }
    }
    running = started < tails.size() ||
              std::any_of(processes.begin(), processes.end(), [](const ScopedHandle& process) {
                return ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
              });
  }
  for (const ScopedHandle& process : processes) {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process.Get(), &code);
    if (code == STILL_ACTIVE) ::TerminateProcess(process.Get(), 99);
    result.exitCodes.push_back(code);
  }
  return result;
}

// Launchers one after another, 20 to 150 ms apart, as a loop or a browser
// starts them.
std::vector<DWORD> OneAfterAnother(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<DWORD> gap(20, 150);
  std::vector<DWORD> startsAtMs{0};
  while (startsAtMs.size() < count) startsAtMs.push_back(startsAtMs.back() + gap(random));
  return startsAtMs;
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

  static bool HasDisplay() { return ::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0; }

  // A client that ran before the burst, serving its pipe: its id, or 0.
  static DWORD StartClientBefore(const std::wstring& folder) {
    EndAllClients();
    const std::vector<DWORD> before = StartClients(folder, 1);
    return before.size() == 1 && WaitForClientPipe() ? before[0] : 0;
  }
};

struct BurstKind {
  const char* name;
  bool links;
  int rounds;
  bool oneAfterAnother;  // else resumed together
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

    BurstPlan plan;
    if (kind.oneAfterAnother) plan.startsAtMs = OneAfterAnother(kBurstSize, round);
    const BurstResult burst = RunBurst(launcher, tails, plan);
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

INSTANTIATE_TEST_SUITE_P(Ten, BurstWithoutClient,
                         ::testing::Values(BurstKind{"links", true, 5, false},
                                           BurstKind{"plain_starts", false, 3, false},
                                           BurstKind{"links_one_after_another", true, 5, true},
                                           BurstKind{"plain_starts_one_after_another", false, 3,
                                                     true}),
                         [](const ::testing::TestParamInfo<BurstKind>& info) {
                           return std::string(info.param.name);
                         });

// The user is asked once about the client that ran before; after OK the new
// client gets every link, and nobody asks about it.
TEST_F(Burst, AClientRunningBeforeIsAskedAboutOnceAndRestarted) {
  if (!HasDisplay()) GTEST_SKIP() << "the prompt needs a display";
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TestFolder folder;
    const std::wstring launcher = InstallLauncher(folder.Path());
    const DWORD before = StartClientBefore(folder.Path());
    ASSERT_NE(before, 0u);
    const std::vector<std::wstring> tails = LinkTails(round);

    BurstPlan plan;
    plan.answer = IDOK;
    const BurstResult burst = RunBurst(launcher, tails, plan);
    EXPECT_EQ(burst.prompts, 1u);
    EXPECT_EQ(burst.exitCodes, std::vector<DWORD>(kBurstSize, 0));

    EXPECT_EQ(WaitForMessages(folder.Path(), kBurstSize - 1).size(), kBurstSize - 1);
    ::Sleep(200);
    EXPECT_EQ(WaitForClientCount(1), 1u);
    EXPECT_FALSE(IsProcessRunning(before));
    std::vector<ClientRecord> clients = ReadClientRecords(folder.Path());
    ASSERT_EQ(clients.size(), 2u);
    if (clients[0].processId != before) std::swap(clients[0], clients[1]);
    EXPECT_TRUE(clients[0].messages.empty());
    EXPECT_EQ(DeliveredTo(clients[1]), PayloadsOf(tails));
  }
}

// A user who takes their time over the prompt about a client that ran
// before: launchers that arrive meanwhile wait and follow the answer, and a
// client that ends meanwhile leaves the link the launch road.
TEST_F(Burst, APromptLeftOpenIsTheOnlyOneAndEveryLinkArrivesAfterEscape) {
  if (!HasDisplay()) GTEST_SKIP() << "the prompt needs a display";
  const struct {
    const char* name;
    std::vector<DWORD> startsAtMs;
    DWORD promptOpenMs;
    bool clientExits;
  } cases[] = {
      {"open for 40 s while three more launchers arrive", {0, 10000, 20000, 30000}, 40000, false},
      {"the client exits while it is open", {0}, 2000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestFolder folder;
    const std::wstring launcher = InstallLauncher(folder.Path());
    const DWORD before = StartClientBefore(folder.Path());
    ASSERT_NE(before, 0u);
    std::vector<std::wstring> tails = LinkTails(0);
    tails.resize(c.startsAtMs.size());

    BurstPlan plan;
    plan.startsAtMs = c.startsAtMs;
    plan.promptOpenMs = c.promptOpenMs;
    if (c.clientExits) plan.whilePromptOpen = [] { EndAllClients(); };
    const BurstResult burst = RunBurst(launcher, tails, plan);
    EXPECT_EQ(burst.prompts, 1u);
    EXPECT_EQ(burst.exitCodes, std::vector<DWORD>(tails.size(), 0));

    // Every link once, to the one client running at the end: the one that
    // ran before (which got no parameters), or the one started for the link.
    ASSERT_EQ(WaitForClientCount(1), 1u);
    const std::vector<DWORD> running = TestClients();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0] == before, !c.clientExits);
    std::vector<std::wstring> expected = PayloadsOf(tails);
    if (!c.clientExits) expected.insert(expected.begin(), L"");
    WaitForMessages(folder.Path(), expected.size() - 1);
    // A client started for the link records its start a moment after it runs.
    std::size_t recorded = 0;
    for (const ClientRecord& client : WaitForClients(folder.Path(), c.clientExits ? 2 : 1)) {
      if (client.processId != running[0]) continue;
      ++recorded;
      EXPECT_EQ(DeliveredTo(client), expected);
    }
    EXPECT_EQ(recorded, 1u);
  }
}

}  // namespace
