// The launcher's one pass: from the command-line tail to the client's start or
// the hand-off to the running client. wWinMain runs it with the real keyboard
// and the real restart prompt; tests run it with keys they hold themselves or
// with a prompt that answers for the user.
#pragma once

#include "launcher/launch_command.h"
#include "launcher/single_instance.h"

namespace launcher {

// Returns the process exit code: 0, or 1 when a hand-off finds no pipe.
[[nodiscard]] int RunLauncher(const wchar_t* commandLineTail, KeyStateReader keyState,
                const RestartPrompt& prompt = ShowRestartPrompt);

}  // namespace launcher
