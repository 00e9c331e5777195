// The hand-off road: a protocol payload goes to the running client through its
// named pipe, as ANSI text with one terminating zero byte.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace launcher {

// The message the client receives: payload in the system's ANSI code page
// (characters it cannot represent become its default character), then 0x00.
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

// Repeats the write step with the rest of the message until all of it is sent.
// False when a step timed out; a step that wrote nothing ends the loop with
// true: the pipe was there, so a refusal counts as delivered.
bool WriteUntilAllSent(const std::vector<char>& message, const PipeWriteStep& write);

// Writes the payload's message into "\\.\Pipe\DIRIRA_vorlan". While every
// instance of the pipe is busy, or a client runs that does not serve its pipe
// yet, it waits. Returns the launcher's exit code: 0 when the pipe was opened
// and the message written (or refused by the pipe), 1 when no client serves
// the pipe, or when the time limit passed before an instance was free, before
// a starting client served its pipe or before the client took the whole
// message.
[[nodiscard]] int SendToRunningClient(const std::wstring& payload);

}  // namespace launcher
