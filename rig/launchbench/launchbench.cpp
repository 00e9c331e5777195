// Launch speed: the time from starting launcher.exe to the start of the client
// it starts, against starting the reference client directly and against the
// floor (launchfloor.exe: the launcher's system DLLs and its client start, nothing
// else), in one run under the same warm Wine. The installation has a
// ProductConfig.xml and a shortcut on the all-users desktop to refresh, and no
// staged update.
//
// Usage: launchbench.exe <installation folder> [rounds] [bare]
// With "bare" there is no configuration and no shortcut: the launcher's own
// fixed cost.
// The folder must hold launcher.exe, launchfloor.exe, vorlan.exe and vorlan.ico.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "rig/bench_support.h"

namespace {

using bench::Median;
using bench::MillisecondsSince;
using bench::Now;
using bench::RemoveRecords;

const wchar_t kShortcutName[] = L"Quintarelox launch benchmark";

bool WriteShortcut(const std::wstring& path, const std::wstring& target) {
  IShellLinkW* link = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
    return false;
  }
  link->SetPath(target.c_str());
  IPersistFile* file = nullptr;
  bool saved = false;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    saved = SUCCEEDED(file->Save(path.c_str(), TRUE));
    file->Release();
  }
  link->Release();
  return saved;
}

void EndClients() {
  HANDLE exitEvent = ::CreateEventW(nullptr, TRUE, FALSE, L"vorlan_reference_exit");
  ::SetEvent(exitEvent);
  // A client ends within a moment once the event is set; then the event is
  // reset for the next round.
  for (int i = 0; i < 200; ++i) {
    HANDLE pipe = ::CreateFileW(L"\\\\.\\Pipe\\DIRIRA_vorlan", GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) break;
    if (pipe != INVALID_HANDLE_VALUE) ::CloseHandle(pipe);
    ::Sleep(10);
  }
  ::Sleep(50);
  ::ResetEvent(exitEvent);
  ::CloseHandle(exitEvent);
}

// Starts a command line and returns the milliseconds until a client started.
// A launcher (or the floor) is waited for until it has ended; a client started directly runs
// on until it is ended.
double TimeToClientStart(const std::wstring& commandLine, const std::wstring& folder,
                         HANDLE startedEvent, bool waitForExit) {
  std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
  command.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  ::ResetEvent(startedEvent);
  const LARGE_INTEGER start = Now();
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
    return -1;
  }
  const bool started = ::WaitForSingleObject(startedEvent, 20000) == WAIT_OBJECT_0;
  const double elapsed = MillisecondsSince(start);
  if (waitForExit) ::WaitForSingleObject(info.hProcess, 20000);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return started ? elapsed : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: launchbench <installation folder> [rounds]\n");
    return 2;
  }
  const std::wstring folder = argv[1];
  const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 30;
  const std::wstring launcher = folder + L"\\launcher.exe";
  const std::wstring client = folder + L"\\vorlan.exe";

  ::CoInitialize(nullptr);
  wchar_t desktop[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, 0, desktop);
  const std::wstring shortcut = std::wstring(desktop) + L"\\" + kShortcutName + L".lnk";
  const bool bare = argc > 3 && std::wcscmp(argv[3], L"bare") == 0;
  if (!bare && !WriteShortcut(shortcut, launcher)) {
    std::fwprintf(stderr, L"cannot write the shortcut %ls\n", shortcut.c_str());
    return 1;
  }
  const std::string config = std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config>\n") +
                             "  <shortcut_cn>Quintarelox launch benchmark</shortcut_cn>\n"
                             "  <shortcut_en>Quintarelox launch benchmark</shortcut_en>\n"
                             "</config>\n";
  if (!bare) {
    HANDLE file = ::CreateFileW((folder + L"\\ProductConfig.xml").c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, config.data(), static_cast<DWORD>(config.size()), &written, nullptr);
    ::CloseHandle(file);
  }

  HANDLE startedEvent = ::CreateEventW(nullptr, TRUE, FALSE, L"vorlan_reference_started");
  // The three ways to the client's start; each round starts with another one.
  struct Way {
    const wchar_t* label;
    std::wstring commandLine;
    bool waitForExit;
    std::vector<double> times;
  };
  Way ways[] = {
      {L"launcher.exe to client start", L"\"" + launcher + L"\" \"quintarelox://room=1\"", true, {}},
      {L"launchfloor.exe (the floor) ", L"\"" + folder + L"\\launchfloor.exe\" room=1\"", true, {}},
      {L"vorlan.exe started directly ", L"\"" + client + L"\" room=1\"", false, {}},
  };
  constexpr int wayCount = 3;
  EndClients();
  for (int round = 0; round < rounds + 1; ++round) {
    // Round 0 only warms every way up.
    for (int turn = 0; turn < wayCount; ++turn) {
      Way& way = ways[(round + turn) % wayCount];
      const double ms = TimeToClientStart(way.commandLine, folder, startedEvent, way.waitForExit);
      EndClients();
      RemoveRecords(folder);
      if (ms < 0) {
        std::fwprintf(stderr, L"no client started (%ls)\n", way.label);
        return 1;
      }
      if (round > 0) way.times.push_back(ms);
    }
  }
  ::DeleteFileW(shortcut.c_str());
  ::CoUninitialize();

  std::wprintf(L"rounds: %d%ls\n", rounds, bare ? L" (no configuration, no shortcut)" : L"");
  double medians[wayCount];
  for (int i = 0; i < wayCount; ++i) {
    medians[i] = Median(ways[i].times);
    std::wprintf(L"%ls, median: %.1f ms (min %.1f)\n", ways[i].label, medians[i],
                 *std::min_element(ways[i].times.begin(), ways[i].times.end()));
  }
  std::wprintf(L"ratio launcher / direct: %.2f\n", medians[0] / medians[2]);
  std::wprintf(L"ratio launcher / floor:  %.2f\n", medians[0] / medians[1]);
  std::wprintf(L"ratio floor / direct:    %.2f\n", medians[1] / medians[2]);
  return 0;
}
