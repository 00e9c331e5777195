#include "launcher/launcher_swap.h"

#include <cwchar>
#include <vector>

#include "launcher/base/file_identity.h"
#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"
#include "log/process_logger.h"
#include "update/self_replace.h"

namespace launcher {
namespace {

constexpr wchar_t kSwapSwitch[] = L"--swap-after ";
constexpr DWORD kSwapRetryPauseMs = 100;

// The handle of the launcher to wait for, as the command line gives it: null
// when there is none, or when it is no process running launcher.exe beside
// this image (a handle value any parent could have written).
HANDLE LauncherToWaitFor(const wchar_t* tail, const std::wstring& ownImage) {
  if (tail == nullptr || std::wcsncmp(tail, kSwapSwitch, std::wcslen(kSwapSwitch)) != 0) {
    return nullptr;
  }
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(tail + std::wcslen(kSwapSwitch), &end, 16);
  if (end == nullptr || *end != L'\0' || value == 0) return nullptr;
  // Handles fit 32 bits, whatever the image: the value went out as one.
  if (value > 0xFFFFFFFFull) return nullptr;
  const HANDLE launcher = ULongToHandle(static_cast<unsigned long>(value));
  const std::wstring folder = FolderPartOf(ownImage);
  if (folder.empty()) return nullptr;
  const std::wstring target = folder + kLauncherFileName;
  wchar_t image[MAX_PATH * 4] = {};
  DWORD length = MAX_PATH * 4;
  if (!::QueryFullProcessImageNameW(launcher, 0, image, &length) ||
      !AreSameFile(image, target.c_str())) {
    return nullptr;
  }
  return launcher;
}

}  // namespace

bool IsStagedLauncherProcess() {
  std::uint32_t size = 0;
  std::uint32_t crc = 0;
  return ParseStagedLauncherName(FileNameOf(OwnImagePath().c_str()), size, crc);
}

std::wstring LauncherSwapCommandLine(const std::wstring& staged, HANDLE launcher) {
  wchar_t handle[32];
  ::wsprintfW(handle, L"%lx", HandleToULong(launcher));
  return L"\"" + staged + L"\" " + kSwapSwitch + handle;
}

bool StartLauncherSwap(const std::wstring& staged) {
  HANDLE self = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                         &self, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
    return false;
  }
  const ScopedHandle inheritable(self);
  // That handle alone goes to the swap: not the pipes or the console the
  // launcher was started with, which the swap is not to hold open.
  SIZE_T size = 0;
  (void)::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
  HANDLE inherited[] = {self};
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.lpAttributeList = attributes;
  bool started = false;
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = LauncherSwapCommandLine(staged, self);
  if (::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  sizeof(inherited), nullptr, nullptr)) {
    started = ::CreateProcessW(staged.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                               CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                               &startup.StartupInfo, &process) != FALSE;
  }
  const DWORD error = ::GetLastError();
  ::DeleteProcThreadAttributeList(attributes);
  if (!started) {
    LAUNCHER_LOG_INFO << L"launcher swap not started: error " << error;
    return false;
  }
  const ScopedHandle thread(process.hThread);
  const ScopedHandle swap(process.hProcess);
  return true;
}

int RunLauncherSwap(const wchar_t* commandLineTail) {
  const std::wstring image = OwnImagePath();
  // Checked once more: only the image the update checked takes the name.
  if (!IsWholeStagedImage(image)) {
    LAUNCHER_LOG_INFO << L"launcher swap refused: the staged image is not whole";
    return kSwapRefused;
  }
  const ScopedHandle launcher(LauncherToWaitFor(commandLineTail, image));
  if (launcher) ::WaitForSingleObject(launcher.Get(), kSwapWaitForLauncherMs);
  const ULONGLONG deadline = ::GetTickCount64() + kSwapRetryMs;
  for (;;) {
    const DWORD error = SwapInStagedLauncher(image);
    if (error == ERROR_SUCCESS) return kSwapDone;
    // Another swap got there first.
    if (error == ERROR_FILE_NOT_FOUND) return kSwapDone;
    if (::GetTickCount64() >= deadline) {
      LAUNCHER_LOG_INFO << L"launcher swap deferred to a later start: error " << error;
      return kSwapDeferred;
    }
    ::Sleep(kSwapRetryPauseMs);
  }
}

}  // namespace launcher
