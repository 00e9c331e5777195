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

// Writes the payload's message into "\\.\Pipe\DIRIRA_vorlan". While every
// instance of the pipe is busy, or a client runs that does not serve its pipe
// yet, it waits, up to about five seconds in all. Returns the launcher's exit
// code: 0 when the pipe was opened, 1 when it never appeared or stayed busy.
int SendToRunningClient(const std::wstring& payload);

}  // namespace launcher
