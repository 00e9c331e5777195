#include "desktop/protocol_registration.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "launcher/client_contract.h"
#include "launcher/scoped_resource.h"
#include "log/process_logger.h"

namespace launcher {
namespace {

// Long-path forms of a module path may exceed the usual 260 units.
constexpr DWORD kLongestModulePath = 32768;

// The full path of the launcher's executable; empty with the error code when
// it cannot be read.
std::wstring OwnModulePath(DWORD& error) {
  std::vector<wchar_t> path(kPathBufferSize, L'\0');
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(path.size());
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), capacity);
    if (length == 0) {
      error = ::GetLastError();
      return std::wstring();
    }
    // A path cut at the buffer's end would register a program that does not exist.
    if (length < capacity) return std::wstring(path.data(), length);
    if (capacity >= kLongestModulePath) {
      error = ERROR_INSUFFICIENT_BUFFER;
      return std::wstring();
    }
    path.assign(capacity * 2, L'\0');
  }
}

}  // namespace

std::wstring FormatOpenCommand(const std::wstring& launcherPath) {
  return L"\"" + launcherPath + L"\" \"%1\"";
}

void WriteRegFun() {
  DWORD error = ERROR_SUCCESS;
  const std::wstring launcherPath = OwnModulePath(error);
  if (launcherPath.empty()) {
    std::wprintf(L"GetModuleFileName failed w/err 0x%08lx\n", static_cast<unsigned long>(error));
    std::fflush(stdout);
    return;
  }

  ScopedRegKey key;
  if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, kProtocolCommandKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
    return;
  }

  // The data is the command and its terminator, nothing after it: readers
  // with a short buffer (Wine's shell among them) reject a longer value.
  const std::wstring command = FormatOpenCommand(launcherPath);
  const DWORD dataSize = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
  if (::RegSetValueExW(key.Get(), L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       dataSize) != ERROR_SUCCESS) {
    LAUNCHER_LOG_INFO << L"set reg failure: ";
  }
}

}  // namespace launcher
