// Helpers of the update tests: the archives built at test time, file times
// and attributes as Windows reports them, and a current folder of the test's
// own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace update_testing {

// The sets of archives the fixture scripts build, each in a folder of its own:
// the update suites', the whole-system scenarios' and the hostile corpus.
enum class Fixtures { kUpdate, kSystem, kHostile };

// The archive of that name built by the fixture script of that set.
std::wstring FixturePath(const std::wstring& name, Fixtures set = Fixtures::kUpdate);
// Copies that archive to target; fails the test when it is missing.
void CopyFixture(const std::wstring& name, const std::wstring& target,
                 Fixtures set = Fixtures::kUpdate);

std::uint64_t Ticks(const FILETIME& time);

struct FileTimes {
  std::uint64_t creation = 0;
  std::uint64_t access = 0;
  std::uint64_t write = 0;
};
// The three times of a file or folder, read without touching its data.
FileTimes ReadTimes(const std::wstring& path);

DWORD Attributes(const std::wstring& path);

// Names in a folder, "." and ".." left out, sorted.
std::vector<std::wstring> FolderEntries(const std::wstring& folder);

// A local calendar time as UTC ticks, through the time zone rather than
// through the code under test.
std::uint64_t LocalToUtcTicks(WORD year, WORD month, WORD day, WORD hour, WORD minute,
                              WORD second);

// Seconds since 1970 as FILETIME ticks.
std::uint64_t UnixTicks(std::int64_t seconds);

std::string ReadText(const std::wstring& path);

// The CRC-32 of the bytes, as a zip directory and a staged image's name carry it.
std::uint32_t Crc32Of(const void* data, std::size_t size);

// Makes folder the current folder and restores the previous one at the end.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::wstring& folder);
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::wstring previous_;
};

}  // namespace update_testing
