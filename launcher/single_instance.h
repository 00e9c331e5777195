// Makes sure the client never runs twice in the launcher's session: finds the
// session's running clients by their exact image name, tells a client that a
// launcher of the same burst has just started from one the user may mean to
// restart, asks the user once, and ends them all.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace launcher {

// Shows the restart question and returns the button chosen (IDOK, IDCANCEL).
using RestartPrompt = std::function<int(const wchar_t* text, const wchar_t* caption)>;

// The real prompt: an OK/Cancel message box with no owner and no icon, in
// front of every other window, so that it never waits unseen.
int ShowRestartPrompt(const wchar_t* text, const wchar_t* caption);

struct RestartPromptTexts {
  const wchar_t* text;
  const wchar_t* caption;
};
RestartPromptTexts RestartPromptTextsFor(bool chinese);

// One client process: its id and creation time (100 ns units since 1601, 0
// when unknown). The time tells it from a later process with a reused id.
struct ClientStamp {
  DWORD processId = 0;
  ULONGLONG creationTime = 0;
};
// Both known and equal.
bool IsSameClient(const ClientStamp& left, const ClientStamp& right);
// The stamp of a process opened with query rights; empty when unreadable.
ClientStamp StampOf(HANDLE process);
// True while that very process runs.
bool IsRunning(const ClientStamp& client);

struct RunningClient {
  ClientStamp stamp;
  DWORD sessionId = 0;
};

// What the launchers of one session tell each other, kept under the launch
// lock: the client the last launch road started, and the clients the user
// chose to keep at the last prompt, with the moment of that answer.
constexpr std::size_t kMaxKeptClients = 16;
struct LaunchRecord {
  ClientStamp started;
  ULONGLONG keptAt = 0;
  std::uint32_t keptCount = 0;
  ClientStamp kept[kMaxKeptClients] = {};
};

// A client a sibling launcher started counts as the burst's own for this long
// after its creation (100 ns units): launchers that existed before it count
// it as theirs anyway, so this covers only launchers created after it, the
// later links of a browser or the second start of a double click. Longer
// would keep the user from restarting a client they have seen come up.
constexpr ULONGLONG kSiblingWindow = 5ULL * 10000000ULL;

struct GuardFacts {
  bool force = false;
  DWORD ownSession = 0;
  ULONGLONG ownCreation = 0;  // this launcher's creation time
  ULONGLONG now = 0;
  std::vector<RunningClient> clients;  // every running client found, of any session
  LaunchRecord record;
};

enum class GuardVerdict {
  kNoClient,          // launch
  kSiblingsClient,    // a sibling launcher's client: hand off, no prompt, never ended
  kKeptByTheUser,     // the user kept these clients while this launcher waited: hand off
  kEndWithoutAsking,  // force: end them, then launch
  kAsk,
};

// Only the clients of the launcher's own session take part.
GuardVerdict DecideGuard(const GuardFacts& facts);
std::vector<ClientStamp> ClientsOfSession(const std::vector<RunningClient>& clients,
                                          DWORD sessionId);

struct GuardAnswer {
  bool launch = true;                // take the launch road
  std::vector<ClientStamp> clients;  // otherwise: the session's running clients
};

// Decides as DecideGuard does, with this session's running clients, asks the
// user when it must (at most once, never when force is set), ends the
// clients when the launch road follows, and notes a Cancel in the record.
// Without a process list nobody can be asked: the launch road follows.
[[nodiscard]] GuardAnswer CheckSingleInstance(bool force, const RestartPrompt& prompt,
                                              LaunchRecord& record);

// The session of a process; ~0 when it cannot be read.
DWORD SessionOf(DWORD processId);

// Ends every process of this session whose image name equals imageName
// exactly (whole name, letter case significant), however many there are, and
// waits a few seconds at most until they are gone.
void TerminateProcessesByName(const std::wstring& imageName);

// Ids of this session's processes whose image name equals imageName exactly,
// in the order of the process list.
std::vector<DWORD> ProcessIdsNamed(const std::wstring& imageName);

// Opens one process so that it can be ended; null when it cannot.
using ProcessOpener = std::function<HANDLE(DWORD processId)>;
HANDLE OpenProcessToEnd(DWORD processId);

// Opens every listed process (once more with the debug privilege when the
// first open fails), then ends each one opened with exit code 0, in order,
// and waits up to kEndWaitMs in all for them to be gone. A process that
// cannot be opened is skipped.
constexpr DWORD kEndWaitMs = 5000;
void TerminateProcesses(const std::vector<DWORD>& processIds,
                        const ProcessOpener& open = OpenProcessToEnd);

// Enables SeDebugPrivilege in the launcher's own token; failures are silent.
void EnableDebugPrivilege();

}  // namespace launcher
