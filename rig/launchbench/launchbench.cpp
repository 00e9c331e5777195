// Launch speed: the time from starting launcher.exe to the start of the client
// it starts, and to the launcher's own end, against the floor
// (launchfloor.exe: the launcher's system DLLs and its client start, nothing
// else) and against starting the reference client directly, in one run under
// the same warm Wine, the ways taking turns round by round. A fourth way, the
// launcher built with its step marks (tracedlauncher.exe, installed as
// launcher.exe in the folder "traced"), tells where the time goes.
//
// The installations have a ProductConfig.xml and a shortcut of their own on
// the all-users desktop to refresh, and no staged update.
//
// Usage: launchbench.exe <installation folder> [rounds] [bare|stale]
//   bare:  no configuration and no shortcut, the launcher's own fixed cost;
//   stale: the shortcut is written again with its target alone before every
//          launch, so that every launch must save it.
// The folder must hold launcher.exe, launchfloor.exe, vorlan.exe and
// vorlan.ico, and its folder "traced" the traced launcher.exe, vorlan.exe and
// vorlan.ico.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "launcher/launch_step_trace.h"
#include "rig/bench_support.h"

namespace {

using bench::Median;
using bench::MillisecondsSince;
using bench::Now;
using bench::RemoveRecords;
using launcher::LaunchStep;
using launcher::LaunchStepStamps;
using launcher::ScopedComPtr;
using launcher::ScopedHandle;
using launcher::ScopedMappedView;

enum class Shortcuts { kFresh, kNone, kStale };

bool WriteShortcut(const std::wstring& path, const std::wstring& target) {
  ScopedComPtr<IShellLinkW> link;
  ScopedComPtr<IPersistFile> file;
  return SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, reinterpret_cast<void**>(link.Receive()))) &&
         SUCCEEDED(link->SetPath(target.c_str())) &&
         SUCCEEDED(link->QueryInterface(IID_IPersistFile,
                                        reinterpret_cast<void**>(file.Receive()))) &&
         SUCCEEDED(file->Save(path.c_str(), TRUE));
}

bool WriteConfig(const std::wstring& folder, const std::wstring& shortcutName) {
  const std::string name(shortcutName.begin(), shortcutName.end());  // ASCII
  const std::string config = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config>\n" +
                             ("  <shortcut_cn>" + name + "</shortcut_cn>\n") +
                             ("  <shortcut_en>" + name + "</shortcut_en>\n") + "</config>\n";
  const launcher::ScopedFileHandle file(
      ::CreateFileW((folder + L"\\ProductConfig.xml").c_str(), GENERIC_WRITE, 0, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.Get(), config.data(), static_cast<DWORD>(config.size()), &written,
                             nullptr) &&
         written == config.size();
}

void EndClients() {
  const ScopedHandle exitEvent(::CreateEventW(nullptr, TRUE, FALSE, L"vorlan_reference_exit"));
  ::SetEvent(exitEvent.Get());
  // A client ends within a moment once the event is set; then the event is
  // reset for the next round.
  for (int i = 0; i < 200; ++i) {
    const launcher::ScopedFileHandle pipe(::CreateFileW(
        L"\\\\.\\Pipe\\DIRIRA_vorlan", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!pipe && ::GetLastError() == ERROR_FILE_NOT_FOUND) break;
    ::Sleep(10);
  }
  ::Sleep(50);
  ::ResetEvent(exitEvent.Get());
}

struct Timing {
  LARGE_INTEGER start = {};
  double toClient = -1;  // ms to the client's start; negative: none started
  double toExit = -1;    // ms to the program's end; negative: not waited for
};

// Starts a command line and times it to the client's start and, when asked,
// to its own end. A client started directly runs on until it is ended.
Timing Run(const std::wstring& commandLine, const std::wstring& folder, HANDLE startedEvent,
           bool waitForExit) {
  Timing timing;
  std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
  command.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  ::ResetEvent(startedEvent);
  timing.start = Now();
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
    return timing;
  }
  const ScopedHandle thread(info.hThread);
  const ScopedHandle process(info.hProcess);
  // Either may come first: the launcher may end before its client is up.
  HANDLE pending[] = {startedEvent, process.Get()};
  double* const times[] = {&timing.toClient, &timing.toExit};
  DWORD count = waitForExit ? 2 : 1;
  while (count > 0) {
    const DWORD waited = ::WaitForMultipleObjects(count, pending, FALSE, 20000);
    if (waited >= WAIT_OBJECT_0 + count) break;
    const DWORD index = waited - WAIT_OBJECT_0;
    *times[pending[index] == startedEvent ? 0 : 1] = MillisecondsSince(timing.start);
    pending[index] = pending[--count];
  }
  return timing;
}

double Milliseconds(long long from, long long to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to - from) / static_cast<double>(frequency.QuadPart);
}

// The rows of the step table: each runs from the stamp before it (the
// benchmark's own stamp before CreateProcessW for the first) to its own. The
// floor has the first, the client start and the return only.
struct StepRow {
  const wchar_t* label;
  LaunchStep end;
};
const StepRow kStepRows[] = {
    {L"process start (to wWinMain)", LaunchStep::kEntered},
    {L"lock", LaunchStep::kLock},
    {L"guard", LaunchStep::kGuard},
    {L"registration", LaunchStep::kRegistration},
    {L"working folder, records", LaunchStep::kFolderAndRecords},
    {L"placement", LaunchStep::kPlacement},
    {L"extraction check", LaunchStep::kExtraction},
    {L"configuration", LaunchStep::kConfiguration},
    {L"shortcut", LaunchStep::kShortcut},
    {L"client start (CreateProcessW)", LaunchStep::kClientStart},
    {L"wWinMain returns", LaunchStep::kReturned},
};
constexpr int kStepRowCount = sizeof(kStepRows) / sizeof(kStepRows[0]);
// Two more rows from the benchmark's own clock: from the client start to the
// client's own start signal, and from the return to the process's end.
constexpr int kClientOwnStartRow = kStepRowCount;
constexpr int kExitRow = kStepRowCount + 1;
constexpr int kRowCount = kStepRowCount + 2;

double Quartile(std::vector<double> values, int quarter) {
  std::sort(values.begin(), values.end());
  return values[(values.size() - 1) * static_cast<std::size_t>(quarter) / 4];
}

struct Way {
  Way(const wchar_t* wayLabel, std::wstring command, std::wstring startFolder, bool waits,
      bool hasTrace)
      : label(wayLabel),
        commandLine(std::move(command)),
        folder(std::move(startFolder)),
        waitForExit(waits),
        traced(hasTrace) {}

  const wchar_t* label;
  std::wstring commandLine;
  std::wstring folder;
  bool waitForExit;
  bool traced;
  std::vector<double> toClient;
  std::vector<double> toExit;
  std::vector<double> rows[kRowCount];  // of traced ways
};

// The rows of one traced run; a step without its stamp is left out. False
// when the stamps of the whole run are missing.
bool AddStepTimes(const LaunchStepStamps& stamps, const Timing& timing, Way& way) {
  const auto stampOf = [&](LaunchStep step) { return stamps.at[static_cast<int>(step)]; };
  if (stampOf(LaunchStep::kEntered) == 0 || stampOf(LaunchStep::kClientStart) == 0 ||
      stampOf(LaunchStep::kReturned) == 0) {
    return false;
  }
  long long previous = timing.start.QuadPart;
  for (int i = 0; i < kStepRowCount; ++i) {
    const long long stamp = stampOf(kStepRows[i].end);
    if (stamp == 0) continue;
    way.rows[i].push_back(Milliseconds(previous, stamp));
    previous = stamp;
  }
  const double started = Milliseconds(timing.start.QuadPart, stampOf(LaunchStep::kClientStart));
  way.rows[kClientOwnStartRow].push_back(timing.toClient - started);
  const double returned = Milliseconds(timing.start.QuadPart, stampOf(LaunchStep::kReturned));
  way.rows[kExitRow].push_back(timing.toExit - returned);
  return true;
}

void PrintWay(const Way& way) {
  std::wprintf(L"%-29ls %8.1f ms (%5.1f-%5.1f)", way.label, Median(way.toClient),
               Quartile(way.toClient, 1), Quartile(way.toClient, 3));
  if (way.waitForExit) {
    std::wprintf(L"   %8.1f ms (%5.1f-%5.1f)", Median(way.toExit), Quartile(way.toExit, 1),
                 Quartile(way.toExit, 3));
  }
  std::wprintf(L"\n");
}

void PrintRow(const wchar_t* label, const std::vector<double>& launcher,
              const std::vector<double>& floor) {
  std::wprintf(L"  %-34ls %7.2f (%5.2f-%5.2f)", label, Median(launcher), Quartile(launcher, 1),
               Quartile(launcher, 3));
  if (!floor.empty()) {
    std::wprintf(L"   %7.2f (%5.2f-%5.2f)", Median(floor), Quartile(floor, 1), Quartile(floor, 3));
  }
  std::wprintf(L"\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: launchbench <installation folder> [rounds] [bare|stale]\n");
    return 2;
  }
  const std::wstring folder = argv[1];
  const std::wstring tracedFolder = folder + L"\\traced";
  const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 30;
  const std::wstring mode = argc > 3 ? argv[3] : L"";
  const Shortcuts shortcuts = mode == L"bare"    ? Shortcuts::kNone
                              : mode == L"stale" ? Shortcuts::kStale
                                                 : Shortcuts::kFresh;

  const launcher::ScopedComInitializer com;
  wchar_t desktop[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, 0, desktop);
  // Each installation has its own shortcut, so that each finds it as it left it.
  struct Installation {
    std::wstring folder;
    std::wstring shortcutName;
    std::wstring shortcut;
  } installations[] = {{folder, L"Quintarelox launch benchmark", {}},
                       {tracedFolder, L"Quintarelox launch benchmark traced", {}}};
  for (Installation& installation : installations) {
    installation.shortcut = std::wstring(desktop) + L"\\" + installation.shortcutName + L".lnk";
    if (shortcuts == Shortcuts::kNone) continue;
    if (!WriteShortcut(installation.shortcut, installation.folder + L"\\launcher.exe") ||
        !WriteConfig(installation.folder, installation.shortcutName)) {
      std::fwprintf(stderr, L"cannot write the shortcut %ls or the configuration in %ls\n",
                    installation.shortcut.c_str(), installation.folder.c_str());
      return 1;
    }
  }

  // The traced launcher's stamps land here.
  const ScopedHandle traceSection(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr,
                                                       PAGE_READWRITE, 0, sizeof(LaunchStepStamps),
                                                       launcher::kLaunchStepTraceName));
  const ScopedMappedView traceView(
      traceSection ? ::MapViewOfFile(traceSection.Get(), FILE_MAP_WRITE, 0, 0, 0) : nullptr);
  if (!traceView) {
    std::fwprintf(stderr, L"cannot make the step trace section\n");
    return 1;
  }
  auto* const stamps = static_cast<LaunchStepStamps*>(traceView.Get());

  const ScopedHandle startedEvent(
      ::CreateEventW(nullptr, TRUE, FALSE, L"vorlan_reference_started"));
  const std::wstring link = L" \"quintarelox://room=1\"";
  Way ways[] = {
      {L"launcher.exe", L"\"" + folder + L"\\launcher.exe\"" + link, folder, true, false},
      {L"launchfloor.exe (the floor)", L"\"" + folder + L"\\launchfloor.exe\" room=1\"", folder,
       true, false},
      {L"vorlan.exe started directly", L"\"" + folder + L"\\vorlan.exe\" room=1\"", folder, false,
       false},
      {L"traced launcher", L"\"" + tracedFolder + L"\\launcher.exe\"" + link, tracedFolder, true,
       true},
      {L"traced floor", L"\"" + tracedFolder + L"\\launchfloor.exe\" room=1\"", tracedFolder,
       true, true},
  };
  constexpr int kWayCount = sizeof(ways) / sizeof(ways[0]);
  const Way& shipped = ways[0];
  const Way& floor = ways[1];
  const Way& direct = ways[2];
  const Way& tracedLauncher = ways[3];
  const Way& tracedFloor = ways[4];

  EndClients();
  for (int round = 0; round < rounds + 1; ++round) {
    // Round 0 only warms every way up.
    for (int turn = 0; turn < kWayCount; ++turn) {
      Way& way = ways[(round + turn) % kWayCount];
      if (shortcuts == Shortcuts::kStale) {
        for (const Installation& installation : installations) {
          WriteShortcut(installation.shortcut, installation.folder + L"\\launcher.exe");
        }
      }
      *stamps = LaunchStepStamps{};
      const Timing timing = Run(way.commandLine, way.folder, startedEvent.Get(), way.waitForExit);
      const LaunchStepStamps traceOfRound = *stamps;
      EndClients();
      RemoveRecords(folder);
      RemoveRecords(tracedFolder);
      Way warmUp(way.label, {}, {}, way.waitForExit, way.traced);
      Way& into = round == 0 ? warmUp : way;
      if (timing.toClient < 0 || (way.waitForExit && timing.toExit < 0) ||
          (way.traced && !AddStepTimes(traceOfRound, timing, into))) {
        std::fwprintf(stderr, L"no client started, no end or no step trace (%ls)\n", way.label);
        return 1;
      }
      into.toClient.push_back(timing.toClient);
      if (way.waitForExit) into.toExit.push_back(timing.toExit);
    }
  }
  for (const Installation& installation : installations) {
    ::DeleteFileW(installation.shortcut.c_str());
    ::DeleteFileW((installation.folder + L"\\ProductConfig.xml").c_str());
  }

  const wchar_t* modeText = shortcuts == Shortcuts::kNone    ? L"no configuration, no shortcut"
                            : shortcuts == Shortcuts::kStale ? L"a shortcut to save every time"
                                                             : L"a shortcut to refresh";
  std::wprintf(L"rounds: %d, %ls; medians (quartiles)\n\n", rounds, modeText);
  std::wprintf(L"%-29ls %24ls   %24ls\n", L"", L"to the client's start", L"to its own end");
  for (const Way& way : ways) PrintWay(way);

  std::wprintf(L"\n%-36ls %-24ls %ls\n", L"steps, median ms (quartiles)", L"traced launcher",
               L"traced floor");
  for (int i = 0; i < kStepRowCount; ++i) {
    PrintRow(kStepRows[i].label, tracedLauncher.rows[i], tracedFloor.rows[i]);
  }
  PrintRow(L"then the client's own start", tracedLauncher.rows[kClientOwnStartRow],
           tracedFloor.rows[kClientOwnStartRow]);
  PrintRow(L"exit (after wWinMain returns)", tracedLauncher.rows[kExitRow],
           tracedFloor.rows[kExitRow]);

  std::wprintf(L"\nratio launcher / floor:  %.2f to the client's start, %.2f to the end\n",
               Median(shipped.toClient) / Median(floor.toClient),
               Median(shipped.toExit) / Median(floor.toExit));
  const double directMedian = Median(direct.toClient);
  std::wprintf(L"ratio launcher / direct: %.2f\n", Median(shipped.toClient) / directMedian);
  std::wprintf(L"ratio floor / direct:    %.2f\n", Median(floor.toClient) / directMedian);
  std::wprintf(L"ratio traced / untraced: %.2f launcher, %.2f floor (the marks' own cost)\n",
               Median(tracedLauncher.toClient) / Median(shipped.toClient),
               Median(tracedFloor.toClient) / Median(floor.toClient));
  return 0;
}
