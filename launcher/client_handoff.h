// The hand-off road: a protocol payload goes to the running client through its
// named pipe, as ANSI text with one terminating zero byte.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "launcher/single_instance.h"

namespace launcher {

// The message the client receives: payload in the system's ANSI code page
// (characters it cannot represent become its default character, never an
// ASCII look-alike such as '"' for a fullwidth quote), then 0x00.
std::vector<char> ClientMessageFor(const std::wstring& payload);

// The whole hand-off, waiting for a free pipe instance and writing, ends
// within this time.
constexpr ULONGLONG kHandOffLimitMs = 5000;

// What one write to the client's pipe did: the bytes the pipe took, or none
// when it refused the write or broke, or timedOut when the deadline passed
// first.
struct PipeWriteResult {
  DWORD written = 0;
  bool timedOut = false;
};
// Writes at most size bytes from data, once.
using PipeWriteStep = std::function<PipeWriteResult(const char* data, DWORD size)>;

enum class PipeWriteOutcome { kSent, kRefused, kTimedOut };
// Repeats the write step with the rest of the message until all of it is sent,
// a step writes nothing (the pipe refused the write or broke) or a step timed
// out.
PipeWriteOutcome WriteUntilAllSent(const std::vector<char>& message, const PipeWriteStep& write);

// Who serves the pipe, as far as the launcher checks it.
struct PipeServerFacts {
  bool known = false;            // its process and image could be read
  DWORD sessionId = 0;
  bool inInstallFolder = false;  // its image lies in the launcher's folder
};
enum class PipeServerVerdict { kTrusted, kUnknown, kOtherSession, kOtherFolder };
// Only a process of the launcher's session running a program of this
// installation (vorlan.exe, or a program installed beside it) gets a link.
PipeServerVerdict JudgePipeServer(const PipeServerFacts& server, DWORD ownSession);

enum class HandOffResult {
  kDelivered,     // written (or refused by the pipe of a client that still runs)
  kNoClientLeft,  // none of the clients runs any more: no pipe, or it broke
  kNotDelivered,  // a foreign server, or the time limit passed
};

// Writes the payload's message into "\\.\Pipe\DIRIRA_vorlan" once its server
// has proved to be this installation's, in the launcher's session; the
// client may then come to the foreground. While every instance of the pipe
// is busy, or one of the given clients runs but does not serve its pipe yet,
// it waits, within kHandOffLimitMs.
[[nodiscard]] HandOffResult SendToRunningClient(const std::wstring& payload,
                                                const std::wstring& installFolder,
                                                const std::vector<ClientStamp>& clients);

}  // namespace launcher
