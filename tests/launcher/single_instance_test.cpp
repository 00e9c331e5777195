// The guard against real reference clients under Wine. The prompt's answer is
// given by the test; the real message box is answered by prompt_test.sh.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "launcher/launch_lock.h"
#include "launcher/single_instance.h"
#include "tests/support/language_key_rig.h"
#include "tests/support/client_rig.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;

// The guard with nothing recorded by a sibling: true means the launch road.
bool CheckSingleInstance(bool force, const launcher::RestartPrompt& prompt) {
  launcher::LaunchRecord record;
  return launcher::CheckSingleInstance(force, prompt, record).launch;
}

// A client that serves no pipe keeps these tests clear of the hand-off.
const std::map<std::wstring, std::wstring> kNoPipe = {{L"VORLAN_PIPE", L"0"}};

// Answers the prompt with a fixed button and remembers what it was shown.
struct ScriptedPrompt {
  int answer = IDCANCEL;
  int shown = 0;
  std::wstring text;
  std::wstring caption;

  launcher::RestartPrompt Fn() {
    return [this](const wchar_t* t, const wchar_t* c) {
      ++shown;
      text = t;
      caption = c;
      return answer;
    };
  }
};

class SingleInstance : public ::testing::Test {
 protected:
  void SetUp() override { EndAllClients(); }
  void TearDown() override {
    EndAllClients();
    for (DWORD id : strangers_) (void)EndProcess(id);
  }

  // Processes not named vorlan.exe that the test started and ends itself.
  std::vector<DWORD> StartStrangers(const std::wstring& folder, const std::wstring& imageName) {
    ::CopyFileW((BinFolder() + L"\\vorlan.exe").c_str(), (folder + L"\\" + imageName).c_str(),
                FALSE);
    std::vector<DWORD> ids = StartClients(folder, 1, kNoPipe, imageName);
    strangers_.insert(strangers_.end(), ids.begin(), ids.end());
    return ids;
  }

  static void ExpectAllEnded(const std::vector<DWORD>& ids) {
    for (DWORD id : ids) EXPECT_TRUE(WaitUntilEnded(id)) << "process " << id << " still runs";
  }
  static void ExpectAllRunning(const std::vector<DWORD>& ids) {
    ::Sleep(300);  // a wrongly ended process has had time to go
    for (DWORD id : ids) EXPECT_TRUE(IsProcessRunning(id)) << "process " << id << " was ended";
  }

  std::vector<DWORD> strangers_;
  LanguageKey language_;
};

TEST_F(SingleInstance, WithNoClientTheLaunchGoesOnWithoutAPrompt) {
  ScriptedPrompt prompt;
  EXPECT_TRUE(CheckSingleInstance(false, prompt.Fn()));
  EXPECT_TRUE(CheckSingleInstance(true, prompt.Fn()));
  EXPECT_EQ(prompt.shown, 0);
}

TEST_F(SingleInstance, OkEndsEveryRunningClientAfterOnePrompt) {
  TestFolder folder;
  InstallLauncher(folder.Path());
  const std::vector<DWORD> clients = StartClients(folder.Path(), 3, kNoPipe);
  ASSERT_EQ(clients.size(), 3u);

  ScriptedPrompt prompt;
  prompt.answer = IDOK;
  EXPECT_TRUE(CheckSingleInstance(false, prompt.Fn()));
  EXPECT_EQ(prompt.shown, 1);
  ExpectAllEnded(clients);
}

TEST_F(SingleInstance, CancelOrAnyOtherAnswerEndsNothing) {
  TestFolder folder;
  InstallLauncher(folder.Path());
  const std::vector<DWORD> clients = StartClients(folder.Path(), 3, kNoPipe);
  ASSERT_EQ(clients.size(), 3u);

  // IDCANCEL is also what Esc and the close button give; 0 is a box that
  // could not be shown.
  for (int answer : {IDCANCEL, IDNO, 0}) {
    ScriptedPrompt prompt;
    prompt.answer = answer;
    EXPECT_FALSE(CheckSingleInstance(false, prompt.Fn())) << "answer " << answer;
    EXPECT_EQ(prompt.shown, 1);
  }
  ExpectAllRunning(clients);
}

TEST_F(SingleInstance, ForceEndsEveryClientWithoutAPrompt) {
  TestFolder folder;
  InstallLauncher(folder.Path());
  const std::vector<DWORD> clients = StartClients(folder.Path(), 3, kNoPipe);
  ASSERT_EQ(clients.size(), 3u);

  ScriptedPrompt prompt;
  EXPECT_TRUE(CheckSingleInstance(true, prompt.Fn()));
  EXPECT_EQ(prompt.shown, 0);
  ExpectAllEnded(clients);
}

TEST_F(SingleInstance, OnlyTheExactImageNameIsAClient) {
  TestFolder folder;
  const std::vector<DWORD> upper = StartStrangers(folder.Path(), L"VORLAN.EXE");
  const std::vector<DWORD> longer = StartStrangers(folder.Path(), L"avorlan.exe");
  ASSERT_EQ(upper.size(), 1u);
  ASSERT_EQ(longer.size(), 1u);
  ASSERT_EQ(ProcessesNamed(L"VORLAN.EXE"), upper) << "Wine changed the image name's case";
  ASSERT_TRUE(TestClients().empty());

  ScriptedPrompt prompt;
  prompt.answer = IDOK;
  EXPECT_TRUE(CheckSingleInstance(false, prompt.Fn()));
  // Force with no client ends nothing either.
  EXPECT_TRUE(CheckSingleInstance(true, prompt.Fn()));
  EXPECT_EQ(prompt.shown, 0);
  ExpectAllRunning(upper);
  ExpectAllRunning(longer);
}

TEST_F(SingleInstance, AClientStartedFromAnotherFolderIsEnded) {
  TestFolder launcherFolder;
  TestFolder otherFolder(L"other place \x5BA2\x6237\x7AEF");
  InstallLauncher(launcherFolder.Path());
  InstallLauncher(otherFolder.Path());
  const std::vector<DWORD> clients = StartClients(otherFolder.Path(), 1, kNoPipe);
  ASSERT_EQ(clients.size(), 1u);

  ScriptedPrompt prompt;
  prompt.answer = IDOK;
  EXPECT_TRUE(CheckSingleInstance(false, prompt.Fn()));
  EXPECT_EQ(prompt.shown, 1);
  ExpectAllEnded(clients);
}

TEST_F(SingleInstance, ThePromptSpeaksTheLanguageOfTheRegistryValue) {
  TestFolder folder;
  InstallLauncher(folder.Path());
  ASSERT_EQ(StartClients(folder.Path(), 1, kNoPipe).size(), 1u);

  const std::wstring chineseText = Widen(u8"检测到程序正在运行，是否重新打开!");
  ASSERT_EQ(chineseText.size(), 17u);
  EXPECT_EQ(chineseText[9], L'\xFF0C');

  struct Case {
    const wchar_t* value;  // null: no key at all
    std::wstring text;
    std::wstring caption;
  } const cases[] = {
      {nullptr, chineseText, Widen(u8"提示")},
      {L"zh-CN", chineseText, Widen(u8"提示")},
      {L"en-US", L"Another program is already in progress, start new one?", L"Prompt"},
      {L"en-us", chineseText, Widen(u8"提示")},
  };
  for (const Case& c : cases) {
    if (c.value) {
      language_.SetText(c.value);
    } else {
      language_.Remove();
    }
    ScriptedPrompt prompt;
    EXPECT_FALSE(CheckSingleInstance(false, prompt.Fn()));
    EXPECT_EQ(prompt.text, c.text);
    EXPECT_EQ(prompt.caption, c.caption);
  }
}

TEST_F(SingleInstance, TheLauncherWithTheForcePrefixRestartsTheClient) {
  TestFolder folder;
  const std::wstring launcher = InstallLauncher(folder.Path());
  const std::vector<DWORD> clients = StartClients(folder.Path(), 2, kNoPipe);
  ASSERT_EQ(clients.size(), 2u);

  const ProcessResult result = RunLauncher(launcher, L"forcerun:quintarelox://room=1");
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  ExpectAllEnded(clients);
  const std::vector<ClientRecord> records = WaitForClients(folder.Path(), 3);
  ASSERT_EQ(records.size(), 3u);
  const std::vector<DWORD> running = TestClients();
  ASSERT_EQ(running.size(), 1u);
  for (const ClientRecord& record : records) {
    if (record.processId == running[0]) {
      EXPECT_EQ(ParametersOf(record), L"room=1");
    }
  }
}

// More processes than any fixed list of 1024 handles would hold: every one of
// 1500 distinct ids is opened and held at once, and every process ends. The
// ids around the clients are no processes; the opener hands out an event for
// them (ending it fails harmlessly), so that each is held like a process.
// The processes are gone when it returns.
TEST_F(SingleInstance, TerminationHoldsAnyNumberOfProcesses) {
  TestFolder folder;
  InstallLauncher(folder.Path());
  const std::vector<DWORD> clients = StartClients(folder.Path(), 3, kNoPipe);
  ASSERT_EQ(clients.size(), 3u);
  std::vector<DWORD> manyIds;
  for (DWORD standIn = 0xFFFF0000; manyIds.size() < 1500; standIn -= 4) {
    manyIds.push_back(standIn);
  }
  // The first, one past the 1024th, and the last.
  manyIds[0] = clients[0];
  manyIds[1100] = clients[1];
  manyIds.back() = clients[2];

  std::vector<DWORD> opened;
  launcher::TerminateProcesses(manyIds, [&](DWORD id) {
    opened.push_back(id);
    const bool client = std::find(clients.begin(), clients.end(), id) != clients.end();
    // Signalled, as an ended process is: nothing waits for it.
    return client ? launcher::OpenProcessToEnd(id) : ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  });
  EXPECT_EQ(opened, manyIds);
  for (DWORD id : clients) EXPECT_FALSE(IsProcessRunning(id));
}

// A descriptor that a process without elevation could give: owned by the
// user, open to everyone.
std::wstring ForeignDescriptorText() {
  launcher::ScopedHandle token;
  ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive());
  BYTE buffer[256] = {};
  DWORD size = 0;
  wchar_t* user = nullptr;
  if (!::GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &size) ||
      !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user)) {
    return L"D:(A;;GA;;;WD)";
  }
  const launcher::ScopedLocalMemory owned(user);
  return L"O:" + std::wstring(user) + L"D:(A;;GA;;;WD)";
}

// Another process may take either name first. Its object is not the
// launcher's: the launcher neither waits on it nor believes it, says so in
// its log, and goes on as a launcher alone would.
TEST_F(SingleInstance, ANameTakenBySomeoneElseNeitherHoldsNorSteersTheLauncher) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      ForeignDescriptorText().c_str(), SDDL_REVISION_1, &descriptor, nullptr));
  const launcher::ScopedLocalMemory owned(descriptor);
  SECURITY_ATTRIBUTES foreign = {sizeof(foreign), descriptor, FALSE};
  const struct {
    const char* name;
    std::function<HANDLE()> take;
  } squatters[] = {
      {"the lock, held", [&] { return ::CreateMutexW(&foreign, TRUE, launcher::kLaunchLockName); }},
      {"the lock's name, an event",
       [&] { return ::CreateEventW(&foreign, TRUE, FALSE, launcher::kLaunchLockName); }},
      {"the record", [&] {
         return ::CreateFileMappingW(INVALID_HANDLE_VALUE, &foreign, PAGE_READWRITE, 0, 4096,
                                     launcher::kLaunchRecordName);
       }},
  };
  for (const auto& squatter : squatters) {
    SCOPED_TRACE(squatter.name);
    TestFolder folder;
    const std::wstring launcherPath = InstallLauncher(folder.Path());
    const launcher::ScopedHandle taken(squatter.take());
    ASSERT_TRUE(taken);
    const ProcessResult result = RunLauncher(launcherPath, L"\"quintarelox://a\"", {}, true);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(WaitForClients(folder.Path(), 1).size(), 1u);
    EXPECT_NE(result.output.find("not the launcher's own"), std::string::npos) << result.output;
    EndAllClients();
  }
}

// Owned by Administrators, open to Administrators and SYSTEM alone, so a
// process without elevation can neither hold the lock nor forge the record.
// Wine runs every process elevated: the refusal itself cannot be shown here.
TEST(LaunchLock, IsOwnedAndOpenedByAdministratorsAlone) {
  const launcher::LaunchLock lock;
  const launcher::ScopedHandle objects[] = {
      launcher::ScopedHandle(::OpenMutexW(READ_CONTROL, FALSE, launcher::kLaunchLockName)),
      launcher::ScopedHandle(
          ::OpenFileMappingW(READ_CONTROL, FALSE, launcher::kLaunchRecordName))};
  for (const launcher::ScopedHandle& object : objects) {
    ASSERT_TRUE(object);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(object.Get(), SE_KERNEL_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, nullptr, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const launcher::ScopedLocalMemory owned(descriptor);
    wchar_t* text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        &text, nullptr));
    const launcher::ScopedLocalMemory ownedText(text);
    const std::string sddl = Narrow(text);
    EXPECT_TRUE(std::regex_match(sddl, std::regex(R"(O:BAD:P\(A;;[^;]*;;;BA\)\(A;;[^;]*;;;SY\))")))
        << sddl;
  }
}

// Wine puts every process in one session, and a sibling's record is the
// launcher's own doing: the guard's decision is fed with the sessions,
// creation times and records the test supplies. Session 1 is the launcher's.
TEST(GuardDecision, SiblingsAndKeptClientsOfTheOwnSessionAreNotAskedAbout) {
  using launcher::ClientStamp;
  using V = launcher::GuardVerdict;
  constexpr ULONGLONG kSecond = 10000000, kT = 1000 * kSecond;  // the sibling's client starts
  const ClientStamp client{100, kT}, older{200, kT - 60 * kSecond}, reused{100, kT + 1};
  const struct {
    const char* name;
    bool force;
    std::vector<launcher::RunningClient> clients;
    ULONGLONG keptAt;                // 0: no answer recorded; else the older client was kept
    ULONGLONG launcherCreated, now;  // the sibling recorded `client`
    V expected;
  } cases[] = {
      {"no client", false, {}, 0, kT, kT, V::kNoClient},
      {"another session's client only", false, {{older, 2}}, 0, kT, kT, V::kNoClient},
      {"sibling's client, 1 s old", false, {{client, 1}}, 0, kT + kSecond, kT + kSecond,
       V::kSiblingsClient},
      {"... beside another session's", false, {{client, 1}, {older, 2}}, 0, kT + kSecond,
       kT + kSecond, V::kSiblingsClient},
      {"sibling's client, 6 s old", false, {{client, 1}}, 0, kT + kSecond, kT + 6 * kSecond,
       V::kAsk},
      {"sibling's client, 60 s old, launcher waited since before it", false, {{client, 1}}, 0,
       kT - kSecond, kT + 60 * kSecond, V::kSiblingsClient},
      {"the recorded id reused", false, {{reused, 1}}, 0, kT + kSecond, kT + kSecond, V::kAsk},
      {"sibling's client and an older one", false, {{client, 1}, {older, 1}}, 0, kT + kSecond,
       kT + kSecond, V::kAsk},
      {"a client nobody recorded", false, {{older, 1}}, 0, kT, kT, V::kAsk},
      {"force, sibling's client", true, {{client, 1}}, 0, kT + kSecond, kT + kSecond,
       V::kSiblingsClient},
      {"force, an older client", true, {{older, 1}}, 0, kT, kT, V::kEndWithoutAsking},
      {"kept while this launcher waited", false, {{older, 1}}, kT, kT - kSecond, kT + kSecond,
       V::kKeptByTheUser},
      {"kept before this launcher started", false, {{older, 1}}, kT, kT + kSecond, kT + kSecond,
       V::kAsk},
      {"kept, but a client nobody kept runs too", false, {{older, 1}, {reused, 1}}, kT,
       kT - kSecond, kT + kSecond, V::kAsk},
      {"force, kept", true, {{older, 1}}, kT, kT - kSecond, kT + kSecond, V::kEndWithoutAsking},
  };
  for (const auto& c : cases) {
    launcher::GuardFacts facts;
    facts.force = c.force;
    facts.ownSession = 1;
    facts.ownCreation = c.launcherCreated;
    facts.now = c.now;
    facts.clients = c.clients;
    facts.record.started = client;
    facts.record.keptAt = c.keptAt;
    facts.record.keptCount = 1;
    facts.record.kept[0] = older;
    EXPECT_EQ(launcher::DecideGuard(facts), c.expected) << c.name;
  }
}

bool IsDebugPrivilegeEnabled() {
  launcher::ScopedHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  LUID debug = {};
  ::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &debug);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token.Get(), TokenPrivileges, buffer.data(), size, &size)) {
    return false;
  }
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
    if (p.Luid.LowPart == debug.LowPart && p.Luid.HighPart == debug.HighPart) {
      return (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  return false;
}

TEST(DebugPrivilege, IsEnabledInTheOwnToken) {
  launcher::ScopedHandle token;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Receive()));
  TOKEN_PRIVILEGES off = {};
  off.PrivilegeCount = 1;
  ::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &off.Privileges[0].Luid);
  ::AdjustTokenPrivileges(token.Get(), FALSE, &off, sizeof(off), nullptr, nullptr);
  ASSERT_FALSE(IsDebugPrivilegeEnabled());

  launcher::EnableDebugPrivilege();
  EXPECT_TRUE(IsDebugPrivilegeEnabled());
}

}  // namespace
