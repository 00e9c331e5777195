// The launcher's one pass: from the command-line tail to the client's start or
// the hand-off to the running client. wWinMain runs it with the real keyboard
// and the real restart prompt; tests run it with keys they hold themselves or
// with a prompt that answers for the user.
#pragma once

#include "launcher/launch_command.h"
#include "launcher/single_instance.h"

namespace launcher {

// Exit codes besides 0.
constexpr int kExitHandOffFailed = 1;     // the link did not reach the running client
constexpr int kExitClientNotStarted = 2;  // the launch road could not start the client

// Returns the process exit code.
[[nodiscard]] int RunLauncher(const wchar_t* commandLineTail, KeyStateReader keyState,
                const RestartPrompt& prompt = ShowRestartPrompt);

}  // namespace launcher
