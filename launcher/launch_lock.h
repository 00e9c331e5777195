// Launchers started together (a double click, a browser opening several links)
// take the launch road one after the other: a named mutex of the user's
// session is held from before the single-instance guard until the client has
// been started. A later launcher then finds the client its sibling started,
// and does not ask the user about it.
#pragma once

#include <windows.h>

#include <vector>

#include "launcher/base/scoped_resource.h"
#include "launcher/single_instance.h"

namespace launcher {

// Long enough for a large update applied by the launcher before.
constexpr DWORD kLaunchLockWaitMs = 30000;

class LaunchLock {
 public:
  // Waits up to timeoutMs for the launchers before this one. A holder that
  // died is taken over as if it had let go; after the timeout, or when the
  // mutex cannot be had at all, this launcher goes on without it.
  explicit LaunchLock(DWORD timeoutMs = kLaunchLockWaitMs);
  ~LaunchLock() { Release(); }
  LaunchLock(const LaunchLock&) = delete;
  LaunchLock& operator=(const LaunchLock&) = delete;

  // Lets the next launcher go on.
  void Release();

 private:
  ScopedHandle mutex_;
  bool held_ = false;
};

// True when one of the running clients was created after this launcher: the
// user started the launcher before that client existed, so it cannot be the
// client the user meant to restart. Times are creation times in 100 ns units.
bool IsClientNewerThanLauncher(ULONGLONG launcherCreation,
                               const std::vector<ULONGLONG>& clientCreations);

// Creation times of the running clients; a client whose times cannot be read
// is left out.
std::vector<ULONGLONG> ClientCreationTimes();

// The restart question as this launcher asks it: when a client newer than
// this launcher runs (a sibling started together with it got there first),
// the answer is Cancel without a box, so the link is handed to that client.
RestartPrompt PromptUnlessClientIsNewer(const RestartPrompt& prompt);

}  // namespace launcher
