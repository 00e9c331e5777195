// One update step as a process of its own, for tests that need the step to
// see its own folder as the installation and for the extraction benchmark.
//   update_step place            places the staged archive of its own folder
//   update_step extract FOLDER   applies FOLDER\update.zip over FOLDER and
//                                prints the process's peak memory in bytes
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>

#include "update/staged_update.h"
#include "update/update_extraction.h"

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"place") == 0) {
    launcher::PlaceStagedUpdate();
    return 0;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"extract") == 0) {
    if (!::SetCurrentDirectoryW(argv[2])) return 2;
    launcher::ExtractUpdateArchive();
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    std::printf("peak_working_set=%lu peak_pagefile=%lu\n",
                static_cast<unsigned long>(counters.PeakWorkingSetSize),
                static_cast<unsigned long>(counters.PagefileUsage > counters.PeakPagefileUsage
                                               ? counters.PagefileUsage
                                               : counters.PeakPagefileUsage));
    return 0;
  }
  std::fprintf(stderr, "usage: update_step place | update_step extract FOLDER\n");
  return 1;
}
