// Burst speed: how long ten launchers started at the same moment, each with a
// link, take to settle (all ended: one client started, nine links handed to
// it) beside one launcher with one link, in one run under the same warm Wine.
// Also how long the reference client takes from its start to its pipe, which
// the hand-offs of a burst wait for.
//
// Usage: burstbench.exe <installation folder> [rounds]
// The folder must hold launcher.exe and vorlan.exe.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "rig/bench_support.h"

namespace {

using bench::Median;
using bench::MillisecondsSince;
using bench::Now;
using bench::RemoveRecords;

const wchar_t kPipeName[] = L"\\\\.\\Pipe\\DIRIRA_vorlan";
constexpr int kBurstSize = 10;

bool PipeExists() {
  return ::WaitNamedPipeW(kPipeName, 1) || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

// Sets the reference clients' exit event until their pipe is gone.
void EndClients() {
  HANDLE exitEvent = ::CreateEventW(nullptr, TRUE, FALSE, L"vorlan_reference_exit");
  ::SetEvent(exitEvent);
  for (int i = 0; i < 500 && PipeExists(); ++i) ::Sleep(10);
  ::Sleep(50);
  ::ResetEvent(exitEvent);
  ::CloseHandle(exitEvent);
}

// False when the program could not be started.
bool Start(const std::wstring& commandLine, const std::wstring& folder, DWORD flags,
           PROCESS_INFORMATION& info) {
  std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
  command.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  return ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, flags, nullptr,
                          folder.c_str(), &startup, &info) != FALSE;
}

// Milliseconds from starting count launchers together to the end of the
// last one; negative when one could not be started or did not end.
double SettleTime(const std::wstring& launcher, const std::wstring& folder, int count, int round) {
  std::vector<std::wstring> commands;
  for (int i = 0; i < count; ++i) {
    commands.push_back(L"\"" + launcher + L"\" \"quintarelox://room=" + std::to_wstring(round) +
                       L"-" + std::to_wstring(i) + L"\"");
  }
  // Creation takes its time under Wine, so every launcher is created
  // suspended first and all are let go together.
  std::vector<PROCESS_INFORMATION> started;
  for (const std::wstring& commandLine : commands) {
    PROCESS_INFORMATION info = {};
    if (Start(commandLine, folder, CREATE_SUSPENDED, info)) started.push_back(info);
  }
  const LARGE_INTEGER start = Now();
  for (const PROCESS_INFORMATION& info : started) ::ResumeThread(info.hThread);
  std::vector<HANDLE> processes;
  for (const PROCESS_INFORMATION& info : started) processes.push_back(info.hProcess);
  const bool ended = !processes.empty() &&
                     ::WaitForMultipleObjects(static_cast<DWORD>(processes.size()),
                                              processes.data(), TRUE, 60000) == WAIT_OBJECT_0;
  const double elapsed = MillisecondsSince(start);
  for (const PROCESS_INFORMATION& info : started) {
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
  }
  return ended && static_cast<int>(started.size()) == count ? elapsed : -1;
}

// Milliseconds from starting the reference client to its pipe; negative when
// the pipe did not appear within 10 seconds.
double TimeToPipe(const std::wstring& client, const std::wstring& folder) {
  const LARGE_INTEGER start = Now();
  PROCESS_INFORMATION info = {};
  if (!Start(L"\"" + client + L"\"", folder, 0, info)) return -1;
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  for (;;) {
    if (PipeExists()) return MillisecondsSince(start);
    if (MillisecondsSince(start) > 10000) return -1;
    ::Sleep(1);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: burstbench <installation folder> [rounds]\n");
    return 2;
  }
  const std::wstring folder = argv[1];
  const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 10;
  const std::wstring launcher = folder + L"\\launcher.exe";

  std::vector<double> single, burst, toPipe;
  EndClients();
  for (int round = 0; round < rounds + 1; ++round) {
    // Alternate which one goes first; round 0 only warms up.
    for (int which = 0; which < 3; ++which) {
      const int turn = (which + round) % 3;
      const double ms = turn == 0   ? SettleTime(launcher, folder, 1, round)
                        : turn == 1 ? SettleTime(launcher, folder, kBurstSize, round)
                                    : TimeToPipe(folder + L"\\vorlan.exe", folder);
      EndClients();
      RemoveRecords(folder);
      if (ms < 0) {
        std::fwprintf(stderr, L"round %d: %ls did not settle\n", round,
                      turn == 0 ? L"one launch" : turn == 1 ? L"the burst" : L"the client's pipe");
        return 1;
      }
      if (round > 0) (turn == 0 ? single : turn == 1 ? burst : toPipe).push_back(ms);
    }
  }

  const double singleMedian = Median(single), burstMedian = Median(burst);
  std::wprintf(L"rounds: %d\n", rounds);
  std::wprintf(L"one launcher with a link, start to end, median: %.1f ms (max %.1f)\n",
               singleMedian, *std::max_element(single.begin(), single.end()));
  std::wprintf(L"%d launchers at once, start to the last end, median: %.1f ms (max %.1f)\n",
               kBurstSize, burstMedian, *std::max_element(burst.begin(), burst.end()));
  std::wprintf(L"ratio burst / one launch: %.2f\n", burstMedian / singleMedian);
  std::wprintf(L"reference client, start to pipe, median: %.1f ms (max %.1f)\n", Median(toPipe),
               *std::max_element(toPipe.begin(), toPipe.end()));
  return 0;
}
