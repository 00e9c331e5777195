// The second half of the launcher's own replacement (the first, staging the
// checked new image beside launcher.exe, is the update's): a process started
// from the staged image waits for the launcher that started it to end, then
// renames itself over launcher.exe. It lives only until the swap is done or
// deferred, and never takes the launch road.
#pragma once

#include <windows.h>

#include <string>

namespace launcher {

// Exit codes of the swap process.
constexpr int kSwapDone = 0;
constexpr int kSwapDeferred = 4;  // launcher.exe stayed in use; a later start tries again
constexpr int kSwapRefused = 5;   // the image is not whole as its name says

// How long the swap waits for the launcher that started it, and then for
// launcher.exe to be free (siblings started from it may still run).
constexpr DWORD kSwapWaitForLauncherMs = 10000;
constexpr DWORD kSwapRetryMs = 5000;

// Whether this process runs from a staged launcher image.
bool IsStagedLauncherProcess();

// The command line of a swap process for the staged image, handed the
// inheritable handle of the launcher to wait for.
std::wstring LauncherSwapCommandLine(const std::wstring& staged, HANDLE launcher);

// Starts the staged image as the swap process, with an inheritable handle to
// this process. False when it could not be started.
bool StartLauncherSwap(const std::wstring& staged);

// The swap process: checks its own image, waits for the launcher whose handle
// the command-line tail carries (none: no wait), and renames its image over
// launcher.exe. Nothing is taken from the environment: the target is
// launcher.exe beside its own image. Gives an exit code above.
int RunLauncherSwap(const wchar_t* commandLineTail);

}  // namespace launcher
