// Small Windows-side helper for prompt_test.sh, which drives the launcher's
// real message box from outside Wine:
//   promptprobe launch LAUNCHER TAIL   runs the launcher with exactly this tail
//                                      and exits with the launcher's exit code
//   promptprobe box                    prints the open message box: owner,
//                                      caption, text and buttons (UTF-8)
//   promptprobe clients                prints the number of running clients
//                                      the tests started
//   promptprobe end-clients            ends every client the tests started
//   promptprobe processes              prints every process: name, id and
//                                      creation time (100 ns units), for the
//                                      report of a box that never showed
#include <windows.h>

#include <cstdio>
#include <string>

#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1024);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  const std::wstring kind = ClassOf(child);
  const LONG style = ::GetWindowLongW(child, GWL_STYLE);
  if (_wcsicmp(kind.c_str(), L"Button") == 0) {
    std::printf("button=%s\n", Narrow(WindowText(child)).c_str());
  } else if (_wcsicmp(kind.c_str(), L"Static") == 0) {
    if ((style & SS_TYPEMASK) == SS_ICON) {
      const bool hasIcon = ::SendMessageW(child, STM_GETICON, 0, 0) != 0;
      std::printf("icon=%s\n", hasIcon && ::IsWindowVisible(child) ? "some" : "none");
    } else if (::IsWindowVisible(child)) {
      std::printf("text=%s\n", Narrow(WindowText(child)).c_str());
    }
  }
  return TRUE;
}

BOOL CALLBACK PrintMessageBox(HWND window, LPARAM found) {
  if (ClassOf(window) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
  std::printf("owner=%s\n", ::GetWindow(window, GW_OWNER) ? "some" : "none");
  std::printf("caption=%s\n", Narrow(WindowText(window)).c_str());
  ::EnumChildWindows(window, PrintChild, 0);
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

// The launcher asks only about clients older than itself, so the report
// shows the creation times it compares.
void PrintProcesses() {
  for (const ListedProcess& entry : RunningProcesses()) {
    const launcher::ScopedHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.processId));
    FILETIME creation = {}, exit = {}, kernel = {}, user = {};
    const bool timed =
        process && ::GetProcessTimes(process.Get(), &creation, &exit, &kernel, &user);
    const unsigned long long created =
        (static_cast<unsigned long long>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    std::printf("process %s id=%lu created=%s\n", Narrow(entry.imageName).c_str(),
                static_cast<unsigned long>(entry.processId),
                timed ? std::to_string(created).c_str() : "unknown");
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"launch" && argc == 4) {
    // The box waits for its answer as long as the script needs.
    const ProcessResult result =
        RunProcess(L"\"" + std::wstring(argv[2]) + L"\" " + argv[3], L"", 120000);
    if (!result.finished) return 99;
    std::printf("%lu\n", static_cast<unsigned long>(result.exitCode));
    return static_cast<int>(result.exitCode);
  }
  if (command == L"box") {
    bool found = false;
    ::EnumWindows(PrintMessageBox, reinterpret_cast<LPARAM>(&found));
    return found ? 0 : 1;
  }
  if (command == L"clients") {
    std::printf("%u\n", static_cast<unsigned>(TestClients().size()));
    return 0;
  }
  if (command == L"end-clients") {
    EndAllClients();
    return 0;
  }
  if (command == L"processes") {
    PrintProcesses();
    return 0;
  }
  std::fputs("usage: promptprobe launch LAUNCHER TAIL | box | clients | end-clients | processes\n",
             stderr);
  return 2;
}
