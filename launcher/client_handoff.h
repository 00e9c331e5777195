// The hand-off road: a protocol payload goes to the running client through its
// named pipe, as ANSI text with one terminating zero byte.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace launcher {

// The message the client receives: payload in the system's ANSI code page
// (characters it cannot represent become its default character), then 0x00.
std::vector<char> ClientMessageFor(const std::wstring& payload);

// The whole hand-off, waiting for a free pipe instance and writing, ends
// within this time.
constexpr ULONGLONG kHandOffLimitMs = 5000;

// Writes the payload's message into "\\.\Pipe\DIRIRA_vorlan". While every
// instance of the pipe is busy, or a client runs that does not serve its pipe
// yet, it waits. Returns the launcher's exit code: 0 when the pipe was opened
// and the message written (or refused by the pipe), 1 when no client serves
// the pipe, or when the time limit passed before an instance was free, before
// a starting client served its pipe or before the client took the whole
// message.
[[nodiscard]] int SendToRunningClient(const std::wstring& payload);

}  // namespace launcher
