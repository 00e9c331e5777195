#include "tests/support/update_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"
#include "zlib.h"

namespace update_testing {

std::wstring FixturePath(const std::wstring& name, Fixtures set) {
  const wchar_t* const setFolder = set == Fixtures::kUpdate   ? L"\\update\\"
                                   : set == Fixtures::kSystem ? L"\\system\\"
                                                              : L"\\hostile\\";
  std::wstring folder = testing_support::Widen(FIXTURE_ROOT);
  std::replace(folder.begin(), folder.end(), L'/', L'\\');
  return folder + setFolder + name;
}

void CopyFixture(const std::wstring& name, const std::wstring& target, Fixtures set) {
  const std::wstring source = FixturePath(name, set);
  ASSERT_TRUE(::CopyFileW(source.c_str(), target.c_str(), FALSE))
      << "missing archive " << testing_support::Narrow(source);
}

std::uint64_t Ticks(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FileTimes ReadTimes(const std::wstring& path) {
  FileTimes times;
  const launcher::ScopedFileHandle file(
      ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    ADD_FAILURE() << "cannot open " << testing_support::Narrow(path);
    return times;
  }
  FILETIME creation = {}, access = {}, write = {};
  EXPECT_TRUE(::GetFileTime(file.Get(), &creation, &access, &write));
  times.creation = Ticks(creation);
  times.access = Ticks(access);
  times.write = Ticks(write);
  return times;
}

DWORD Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  launcher::ScopedFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find.Get(), &data));
  std::sort(names.begin(), names.end());
  return names;
}

std::uint64_t LocalToUtcTicks(WORD year, WORD month, WORD day, WORD hour, WORD minute,
                              WORD second) {
  SYSTEMTIME local = {};
  local.wYear = year;
  local.wMonth = month;
  local.wDay = day;
  local.wHour = hour;
  local.wMinute = minute;
  local.wSecond = second;
  SYSTEMTIME utc = {};
  EXPECT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
  FILETIME result = {};
  EXPECT_TRUE(::SystemTimeToFileTime(&utc, &result));
  return Ticks(result);
}

std::uint64_t UnixTicks(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL;
}

std::string ReadText(const std::wstring& path) {
  const std::vector<char> bytes = testing_support::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

CurrentFolder::CurrentFolder(const std::wstring& folder) {
  wchar_t previous[MAX_PATH + 1] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  previous_ = previous;
  EXPECT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
}

CurrentFolder::~CurrentFolder() { ::SetCurrentDirectoryW(previous_.c_str()); }

std::uint32_t Crc32Of(const void* data, std::size_t size) {
  return static_cast<std::uint32_t>(
      ::crc32(0, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

}  // namespace update_testing
