#include "launcher/base/process_list.h"

#include <winternl.h>

#include <algorithm>
#include <vector>

namespace launcher {
namespace {

constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
// Room for a few hundred processes; the list grows the buffer when it must.
constexpr std::size_t kProcessListBytes = 64 * 1024;

}  // namespace

// The list is taken in one query: a snapshot of it costs Wine a section, and
// a mapping of that section for every entry read.
bool WalkProcessList(const std::function<void(DWORD, std::wstring_view)>& visit) {
  std::vector<unsigned char> buffer(kProcessListBytes);
  NTSTATUS status = kInfoLengthMismatch;
  // Processes started between two queries may need more room still.
  for (int attempt = 0; attempt < 4 && status == kInfoLengthMismatch; ++attempt) {
    ULONG needed = 0;
    status = ::NtQuerySystemInformation(SystemProcessInformation, buffer.data(),
                                        static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<std::size_t>(needed, buffer.size()) * 2);
    }
  }
  if (status < 0) return false;
  for (std::size_t offset = 0; offset + sizeof(SYSTEM_PROCESS_INFORMATION) <= buffer.size();) {
    const auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(&buffer[offset]);
    const UNICODE_STRING& name = process->ImageName;
    const std::wstring_view imageName(name.Buffer != nullptr ? name.Buffer : L"",
                                      name.Length / sizeof(wchar_t));
    visit(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(process->UniqueProcessId)), imageName);
    if (process->NextEntryOffset == 0) break;
    offset += process->NextEntryOffset;
  }
  return true;
}

}  // namespace launcher
