#include "launcher/single_instance.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "desktop/language_preference.h"
#include "launcher/base/client_contract.h"
#include "launcher/base/process_list.h"
#include "launcher/base/scoped_resource.h"

namespace launcher {
namespace {

ULONGLONG FileTimeValue(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG Now() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  return FileTimeValue(now);
}

bool IsAmong(const ClientStamp& client, const ClientStamp* list, std::size_t count) {
  return std::any_of(list, list + count,
                     [&](const ClientStamp& listed) { return IsSameClient(listed, client); });
}

bool IsSiblingsClient(const GuardFacts& facts, const std::vector<ClientStamp>& ours) {
  const ClientStamp& started = facts.record.started;
  if (ours.size() != 1 || !IsSameClient(ours[0], started)) return false;
  const bool launcherIsOlder = facts.ownCreation != 0 && facts.ownCreation < started.creationTime;
  return launcherIsOlder || facts.now < started.creationTime + kSiblingWindow;
}

bool WasKeptWhileThisLauncherWaited(const GuardFacts& facts,
                                    const std::vector<ClientStamp>& ours) {
  const LaunchRecord& record = facts.record;
  if (record.keptAt == 0 || facts.ownCreation == 0 || facts.ownCreation >= record.keptAt) {
    return false;
  }
  const std::size_t count = std::min<std::size_t>(record.keptCount, kMaxKeptClients);
  return std::all_of(ours.begin(), ours.end(),
                     [&](const ClientStamp& client) { return IsAmong(client, record.kept, count); });
}

void RememberKept(LaunchRecord& record, const std::vector<ClientStamp>& clients) {
  record.keptAt = Now();
  record.keptCount = static_cast<std::uint32_t>(std::min(clients.size(), kMaxKeptClients));
  std::copy_n(clients.begin(), record.keptCount, record.kept);
}

// A client that has already ended is left out; one whose times cannot be read
// is kept with an unknown creation time, so it is asked about.
bool DescribeClient(DWORD processId, RunningClient& client) {
  client.stamp.processId = processId;
  client.sessionId = SessionOf(processId);
  const ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
  if (!process) return true;
  if (::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) return false;
  client.stamp = StampOf(process.Get());
  return true;
}

// The clients by name, and the one a sibling recorded: a process just created
// may not show its image name in the list yet (so under Wine).
bool FindRunningClients(const ClientStamp& recorded, std::vector<RunningClient>& clients) {
  const std::wstring_view clientName = kClientFileName;
  const bool listed = WalkProcessList([&](DWORD processId, std::wstring_view imageName) {
    RunningClient client;
    if (imageName == clientName && DescribeClient(processId, client)) clients.push_back(client);
  });
  const bool recordedListed =
      std::any_of(clients.begin(), clients.end(),
                  [&](const RunningClient& client) { return IsSameClient(client.stamp, recorded); });
  RunningClient client;
  // Opened once: running, and that very process (not a reused id).
  if (listed && !recordedListed && DescribeClient(recorded.processId, client) &&
      IsSameClient(client.stamp, recorded)) {
    clients.push_back(client);
  }
  return listed;
}

}  // namespace

int ShowRestartPrompt(const wchar_t* text, const wchar_t* caption) {
  return ::MessageBoxW(nullptr, text, caption, MB_OKCANCEL | MB_SETFOREGROUND | MB_TOPMOST);
}

RestartPromptTexts RestartPromptTextsFor(bool chinese) {
  if (chinese) {
    return {L"\x68C0\x6D4B\x5230\x7A0B\x5E8F\x6B63\x5728\x8FD0\x884C\xFF0C"
            L"\x662F\x5426\x91CD\x65B0\x6253\x5F00!",
            L"\x63D0\x793A"};
  }
  return {L"Another program is already in progress, start new one?", L"Prompt"};
}

bool IsSameClient(const ClientStamp& left, const ClientStamp& right) {
  return left.processId != 0 && left.creationTime != 0 && left.processId == right.processId &&
         left.creationTime == right.creationTime;
}

ClientStamp StampOf(HANDLE process) {
  FILETIME creation = {}, exit = {}, kernel = {}, user = {};
  if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user)) return {};
  return {::GetProcessId(process), FileTimeValue(creation)};
}

bool IsRunning(const ClientStamp& client) {
  if (client.processId == 0) return false;
  const ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, client.processId));
  return process && ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT &&
         IsSameClient(StampOf(process.Get()), client);
}

DWORD SessionOf(DWORD processId) {
  DWORD session = 0;
  return ::ProcessIdToSessionId(processId, &session) ? session : ~DWORD{0};
}

std::vector<ClientStamp> ClientsOfSession(const std::vector<RunningClient>& clients,
                                          DWORD sessionId) {
  std::vector<ClientStamp> ours;
  for (const RunningClient& client : clients) {
    if (client.sessionId == sessionId) ours.push_back(client.stamp);
  }
  return ours;
}

GuardVerdict DecideGuard(const GuardFacts& facts) {
  const std::vector<ClientStamp> ours = ClientsOfSession(facts.clients, facts.ownSession);
  if (ours.empty()) return GuardVerdict::kNoClient;
  if (IsSiblingsClient(facts, ours)) return GuardVerdict::kSiblingsClient;
  if (facts.force) return GuardVerdict::kEndWithoutAsking;
  if (WasKeptWhileThisLauncherWaited(facts, ours)) return GuardVerdict::kKeptByTheUser;
  return GuardVerdict::kAsk;
}

GuardAnswer CheckSingleInstance(bool force, const RestartPrompt& prompt, LaunchRecord& record) {
  GuardFacts facts;
  facts.force = force;
  facts.ownSession = SessionOf(::GetCurrentProcessId());
  facts.ownCreation = StampOf(::GetCurrentProcess()).creationTime;
  facts.now = Now();
  facts.record = record;
  if (!FindRunningClients(record.started, facts.clients)) {
    // Without a list nobody can be asked; the termination step tries its own.
    TerminateProcessesByName(kClientFileName);
    return {};
  }
  GuardAnswer handOff{false, ClientsOfSession(facts.clients, facts.ownSession)};
  switch (DecideGuard(facts)) {
    case GuardVerdict::kNoClient:
      return {};
    case GuardVerdict::kSiblingsClient:
    case GuardVerdict::kKeptByTheUser:
      return handOff;
    case GuardVerdict::kEndWithoutAsking: {
      // The clients were listed a moment ago; the list is not walked again.
      std::vector<DWORD> ids;
      for (const ClientStamp& client : handOff.clients) ids.push_back(client.processId);
      TerminateProcesses(ids);
      return {};
    }
    case GuardVerdict::kAsk: {
      const RestartPromptTexts texts = RestartPromptTextsFor(IsChineseLanguage());
      const int answer =
          prompt ? prompt(texts.text, texts.caption) : ShowRestartPrompt(texts.text, texts.caption);
      if (answer != IDOK) {
        RememberKept(record, handOff.clients);
        return handOff;
      }
      // Listed afresh: the user may have started another client meanwhile.
      TerminateProcessesByName(kClientFileName);
      return {};
    }
  }
  return {};
}

std::vector<DWORD> ProcessIdsNamed(const std::wstring& imageName) {
  const DWORD session = SessionOf(::GetCurrentProcessId());
  std::vector<DWORD> ids;
  WalkProcessList([&](DWORD processId, std::wstring_view name) {
    if (name == imageName && SessionOf(processId) == session) ids.push_back(processId);
  });
  return ids;
}

HANDLE OpenProcessToEnd(DWORD processId) {
  return ::OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
}

void TerminateProcesses(const std::vector<DWORD>& processIds, const ProcessOpener& open) {
  // Every process is opened before the first one is ended; the list grows with
  // the number of matches, so no count of clients is too many.
  std::vector<ScopedHandle> processes;
  processes.reserve(processIds.size());
  for (const DWORD id : processIds) {
    ScopedHandle process(open(id));
    if (!process) {
      EnableDebugPrivilege();
      process.Reset(open(id));
    }
    if (process) processes.push_back(std::move(process));
  }
  for (ScopedHandle& process : processes) ::TerminateProcess(process.Get(), 0);
  // Ended processes linger for a moment; a launcher behind this one must not
  // find them, nor a link reach their pipe.
  const ULONGLONG deadline = ::GetTickCount64() + kEndWaitMs;
  for (ScopedHandle& process : processes) {
    const ULONGLONG now = ::GetTickCount64();
    ::WaitForSingleObject(process.Get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    process.Reset();
  }
}

void TerminateProcessesByName(const std::wstring& imageName) {
  TerminateProcesses(ProcessIdsNamed(imageName));
}

void EnableDebugPrivilege() {
  ScopedHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Receive())) {
    return;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid)) return;
  ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
}

}  // namespace launcher
