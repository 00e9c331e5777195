#include "launcher/launch_lock.h"

#include <algorithm>

#include "launcher/base/client_contract.h"

namespace launcher {
namespace {

// Per session: launchers of other signed-in users start clients of their own.
constexpr wchar_t kLaunchLockName[] = L"Local\\quintarelox_launch_road";

// Process creation times come from the one system clock, also under Wine,
// so a launcher and the clients it sees compare directly.
ULONGLONG CreationTimeOf(HANDLE process) {
  FILETIME creation = {}, exit = {}, kernel = {}, user = {};
  if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user)) return 0;
  return (static_cast<ULONGLONG>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}

}  // namespace

LaunchLock::LaunchLock(DWORD timeoutMs)
    : mutex_(::CreateMutexW(nullptr, FALSE, kLaunchLockName)) {
  if (!mutex_) return;
  const DWORD result = ::WaitForSingleObject(mutex_.Get(), timeoutMs);
  held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void LaunchLock::Release() {
  if (held_) ::ReleaseMutex(mutex_.Get());
  held_ = false;
}

bool IsClientNewerThanLauncher(ULONGLONG launcherCreation,
                               const std::vector<ULONGLONG>& clientCreations) {
  if (launcherCreation == 0) return false;
  return std::any_of(clientCreations.begin(), clientCreations.end(),
                     [&](ULONGLONG client) { return client > launcherCreation; });
}

std::vector<ULONGLONG> ClientCreationTimes() {
  std::vector<ULONGLONG> times;
  for (const DWORD id : ProcessIdsNamed(kClientFileName)) {
    const ScopedHandle client(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    const ULONGLONG created = client ? CreationTimeOf(client.Get()) : 0;
    if (created != 0) times.push_back(created);
  }
  return times;
}

RestartPrompt PromptUnlessClientIsNewer(const RestartPrompt& prompt) {
  return [prompt](const wchar_t* text, const wchar_t* caption) {
    if (IsClientNewerThanLauncher(CreationTimeOf(::GetCurrentProcess()), ClientCreationTimes())) {
      return IDCANCEL;
    }
    return prompt ? prompt(text, caption) : ShowRestartPrompt(text, caption);
  };
}

}  // namespace launcher
