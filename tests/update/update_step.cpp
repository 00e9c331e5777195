// One update step as a process of its own, for tests that need the step to
// see its own folder as the installation and for the extraction benchmark.
//   update_step place            places the staged archive of its own folder
//   update_step extract FOLDER   applies FOLDER\update.zip over FOLDER and
//                                prints the process's peak memory in bytes
//   update_step bare FOLDER      the same archive through a bare minizip loop
//                                with none of the extraction's checks, as a
//                                reference for what those checks cost
//   update_step bareflush FOLDER the bare loop, then one flush of every file
//                                it wrote: the floor of a durable update
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "unzip.h"

#include "update/staged_update.h"
#include "update/update_extraction.h"

namespace {

void PrintPeakMemory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  std::printf("peak_working_set=%lu peak_pagefile=%lu\n",
              static_cast<unsigned long>(counters.PeakWorkingSetSize),
              static_cast<unsigned long>(counters.PeakPagefileUsage));
}

// Every item written straight to its name: no name rules, no safety checks,
// no replacement beside the target, only the last folder remembered.
void BareExtract(bool flushAfter) {
  unzFile zip = ::unzOpen("update.zip");
  if (zip == nullptr) return;
  std::vector<std::wstring> paths;
  static char buffer[16384];
  std::wstring lastFolder;
  for (int more = ::unzGoToFirstFile(zip); more == UNZ_OK; more = ::unzGoToNextFile(zip)) {
    unz_file_info info = {};
    char name[260];
    if (::unzGetCurrentFileInfo(zip, &info, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK) {
      break;
    }
    wchar_t wide[260];
    if (::MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, 260) == 0) continue;
    std::wstring path(wide);
    const std::size_t slash = path.find_last_of(L"/\\");
    const std::wstring folder = slash == std::wstring::npos ? L"" : path.substr(0, slash);
    if (!folder.empty() && folder != lastFolder) {
      for (std::size_t at = folder.find_first_of(L"/\\"); at != std::wstring::npos;
           at = folder.find_first_of(L"/\\", at + 1)) {
        ::CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
      }
      ::CreateDirectoryW(folder.c_str(), nullptr);
      lastFolder = folder;
    }
    if (slash == path.size() - 1) continue;
    launcher::ScopedFileHandle out(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) continue;
    if (flushAfter) paths.push_back(path);
    if (::unzOpenCurrentFile(zip) == UNZ_OK) {
      int got;
      while ((got = ::unzReadCurrentFile(zip, buffer, sizeof(buffer))) > 0) {
        DWORD written = 0;
        ::WriteFile(out.Get(), buffer, static_cast<DWORD>(got), &written, nullptr);
      }
      ::unzCloseCurrentFile(zip);
    }
    FILETIME local = {}, utc = {};
    ::DosDateTimeToFileTime(static_cast<WORD>(info.dosDate >> 16),
                            static_cast<WORD>(info.dosDate & 0xFFFF), &local);
    ::LocalFileTimeToFileTime(&local, &utc);
    ::SetFileTime(out.Get(), &utc, &utc, &utc);
  }
  ::unzClose(zip);
  ::DeleteFileW(L"update.zip");
  for (const std::wstring& path : paths) {
    launcher::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
    if (file) ::FlushFileBuffers(file.Get());
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"place") == 0) {
    launcher::PlaceStagedUpdate();
    return 0;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"extract") == 0) {
    if (!::SetCurrentDirectoryW(argv[2])) return 2;
    launcher::ExtractUpdateArchive();
    PrintPeakMemory();
    return 0;
  }
  const bool flush = argc == 3 && std::wcscmp(argv[1], L"bareflush") == 0;
  if (argc == 3 && (flush || std::wcscmp(argv[1], L"bare") == 0)) {
    if (!::SetCurrentDirectoryW(argv[2])) return 2;
    BareExtract(flush);
    PrintPeakMemory();
    return 0;
  }
  std::fprintf(stderr, "usage: update_step place | update_step extract|bare|bareflush FOLDER\n");
  return 1;
}
