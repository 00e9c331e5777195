// Runs the command line in RUNEXACT_COMMAND_LINE exactly as given, waits for
// it and returns its exit code (255 when it cannot be started). Scripts use it
// to hand the launcher a tail byte for byte, as the shell would: wine quotes
// the arguments it is given again, so they cannot carry the line themselves.
#include <windows.h>

#include <vector>

int wmain() {
  std::vector<wchar_t> command(32768, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(L"RUNEXACT_COMMAND_LINE", command.data(), 32767);
  if (length == 0 || length >= 32767) return 255;
  ::SetEnvironmentVariableW(L"RUNEXACT_COMMAND_LINE", nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return 255;
  }
  ::WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 255;
  ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return static_cast<int>(code);
}
