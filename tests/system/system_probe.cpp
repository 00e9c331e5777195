// Windows-side helper for link_while_running.sh:
//   systemprobe launch LAUNCHER TAIL OUTPUT   runs the launcher with exactly
//       this tail, its standard output and error going to the file OUTPUT,
//       and exits with the launcher's exit code (99 when it did not end)
// The streams go to a file, not a pipe: the desktop process that Wine starts
// for the first message box inherits them and would keep a pipe open.
#include <windows.h>

#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 5 || std::wstring(argv[1]) != L"launch") return 2;
  SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  launcher::ScopedFileHandle output(::CreateFileW(argv[4], GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output) return 98;
  const std::wstring commandLine = L"\"" + std::wstring(argv[2]) + L"\" " + argv[3];
  std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
  command.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output.Get();
  startup.hStdError = output.Get();
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return 97;
  }
  launcher::ScopedHandle process(info.hProcess);
  launcher::ScopedHandle thread(info.hThread);
  // The prompt waits for its answer as long as the script needs.
  if (::WaitForSingleObject(process.Get(), 120000) != WAIT_OBJECT_0) return 99;
  DWORD exitCode = 99;
  ::GetExitCodeProcess(process.Get(), &exitCode);
  return static_cast<int>(exitCode);
}
