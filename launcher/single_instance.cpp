#include "launcher/single_instance.h"

#include <tlhelp32.h>

#include <cwchar>
#include <utility>

#include "desktop/language_preference.h"
#include "launcher/base/client_contract.h"
#include "launcher/base/scoped_resource.h"

namespace launcher {
namespace {

// The entry's image name is a file name without folder; a name that fills the
// whole field without a terminator is still read within the field.
bool HasImageName(const PROCESSENTRY32W& entry, const std::wstring& imageName) {
  const std::size_t length = wcsnlen(entry.szExeFile, sizeof(entry.szExeFile) / sizeof(wchar_t));
  return imageName.compare(0, std::wstring::npos, entry.szExeFile, length) == 0;
}

// Walks the process list; visit returns false to stop the walk. False when the
// list could not be taken at all.
template <typename Visit>
bool WalkProcessList(Visit visit) {
  ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (!visit(entry)) break;
  }
  return true;
}

}  // namespace

int ShowRestartPrompt(const wchar_t* text, const wchar_t* caption) {
  return ::MessageBoxW(nullptr, text, caption, MB_OKCANCEL);
}

RestartPromptTexts RestartPromptTextsFor(bool chinese) {
  if (chinese) {
    return {L"\x68C0\x6D4B\x5230\x7A0B\x5E8F\x6B63\x5728\x8FD0\x884C\xFF0C"
            L"\x662F\x5426\x91CD\x65B0\x6253\x5F00!",
            L"\x63D0\x793A"};
  }
  return {L"Another program is already in progress, start new one?", L"Prompt"};
}

bool CheckSingleInstance(bool force, const RestartPrompt& prompt) {
  const std::wstring clientName = kClientFileName;
  bool clientRunning = false;
  const bool listed = WalkProcessList([&](const PROCESSENTRY32W& entry) {
    clientRunning = HasImageName(entry, clientName);
    return !clientRunning;
  });
  if (!listed) {
    // Without a list nobody can be asked; the termination step tries its own.
    TerminateProcessesByName(clientName);
    return true;
  }
  if (!clientRunning) return true;

  if (!force) {
    const RestartPromptTexts texts = RestartPromptTextsFor(IsChineseLanguage());
    const int answer =
        prompt ? prompt(texts.text, texts.caption) : ShowRestartPrompt(texts.text, texts.caption);
    if (answer != IDOK) return false;
  }
  TerminateProcessesByName(clientName);
  return true;
}

std::vector<DWORD> ProcessIdsNamed(const std::wstring& imageName) {
  std::vector<DWORD> ids;
  WalkProcessList([&](const PROCESSENTRY32W& entry) {
    if (HasImageName(entry, imageName)) ids.push_back(entry.th32ProcessID);
    return true;
  });
  return ids;
}

HANDLE OpenProcessToEnd(DWORD processId) {
  return ::OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
}

void TerminateProcesses(const std::vector<DWORD>& processIds, const ProcessOpener& open) {
  // Every process is opened before the first one is ended; the list grows with
  // the number of matches, so no count of clients is too many.
  std::vector<ScopedHandle> processes;
  processes.reserve(processIds.size());
  for (const DWORD id : processIds) {
    ScopedHandle process(open(id));
    if (!process) {
      EnableDebugPrivilege();
      process.Reset(open(id));
    }
    if (process) processes.push_back(std::move(process));
  }
  for (ScopedHandle& process : processes) {
    ::TerminateProcess(process.Get(), 0);
    process.Reset();
  }
}

void TerminateProcessesByName(const std::wstring& imageName) {
  TerminateProcesses(ProcessIdsNamed(imageName));
}

void EnableDebugPrivilege() {
  ScopedHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Receive())) {
    return;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid)) return;
  ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
}

}  // namespace launcher
