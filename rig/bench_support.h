// What the benchmark programs share: a clock, medians and the clean-up of the
// reference clients' records between rounds.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"

namespace bench {

inline LARGE_INTEGER Now() {
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return t;
}

inline double MillisecondsSince(LARGE_INTEGER start) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(Now().QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Deletes what the reference clients recorded in folder; the client and its
// icon stay.
inline void RemoveRecords(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  launcher::ScopedFindHandle find(::FindFirstFileW((folder + L"\\vorlan.*.*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"vorlan.exe" && name != L"vorlan.ico") ::DeleteFileW((folder + L"\\" + name).c_str());
  } while (::FindNextFileW(find.Get(), &data));
}

}  // namespace bench
