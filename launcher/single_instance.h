// Makes sure the client never runs twice: finds running clients by their exact
// image name, asks the user once whether to restart, and ends them all.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace launcher {

// Shows the restart question and returns the button chosen (IDOK, IDCANCEL).
using RestartPrompt = std::function<int(const wchar_t* text, const wchar_t* caption)>;

// The real prompt: an OK/Cancel message box with no owner and no icon.
int ShowRestartPrompt(const wchar_t* text, const wchar_t* caption);

struct RestartPromptTexts {
  const wchar_t* text;
  const wchar_t* caption;
};
RestartPromptTexts RestartPromptTextsFor(bool chinese);

// True: take the launch road (no client ran, the running clients were ended,
// or the process list could not be read). False: a client runs and the user
// did not agree to restart it; nothing was ended. Prompts at most once, and
// never when force is set.
[[nodiscard]] bool CheckSingleInstance(bool force, const RestartPrompt& prompt = ShowRestartPrompt);

// Ends every process whose image name equals imageName exactly (whole name,
// letter case significant), however many there are. Returns at once without
// waiting for them to disappear.
void TerminateProcessesByName(const std::wstring& imageName);

// Ids of the processes whose image name equals imageName exactly, in the
// order of the process list.
std::vector<DWORD> ProcessIdsNamed(const std::wstring& imageName);

// Opens one process so that it can be ended; null when it cannot.
using ProcessOpener = std::function<HANDLE(DWORD processId)>;
HANDLE OpenProcessToEnd(DWORD processId);

// Opens every listed process (once more with the debug privilege when the
// first open fails), then ends each one opened with exit code 0, in order.
// A process that cannot be opened is skipped.
void TerminateProcesses(const std::vector<DWORD>& processIds,
                        const ProcessOpener& open = OpenProcessToEnd);

// Enables SeDebugPrivilege in the launcher's own token; failures are silent.
void EnableDebugPrivilege();

}  // namespace launcher
