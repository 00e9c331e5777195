#include "desktop/protocol_registration.h"

#include <windows.h>

#include <cstdio>

#include "launcher/base/client_contract.h"
#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"
#include "log/process_logger.h"

namespace launcher {
std::wstring FormatOpenCommand(const std::wstring& launcherPath) {
  return L"\"" + launcherPath + L"\" \"%1\"";
}

namespace {

// Windows starts a scheme's handler only when the scheme's key carries this
// value; an installer's own value, whatever it holds, is left as it is.
void EnsureUrlProtocolValue() {
  ScopedRegKey key;
  if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, kProtocolKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.Receive(),
                        nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (::RegQueryValueExW(key.Get(), kUrlProtocolValue, nullptr, nullptr, nullptr, nullptr) !=
      ERROR_FILE_NOT_FOUND) {
    return;
  }
  const wchar_t empty[] = L"";
  ::RegSetValueExW(key.Get(), kUrlProtocolValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(empty),
                   sizeof(empty));
}

}  // namespace

void WriteRegFun() {
  DWORD error = ERROR_SUCCESS;
  const std::wstring launcherPath = ReadModulePath(nullptr, error);
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
  const std::size_t dataBytes = (command.size() + 1) * sizeof(wchar_t);
  const DWORD dataSize = static_cast<DWORD>(dataBytes);
  if (::RegSetValueExW(key.Get(), L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       dataSize) != ERROR_SUCCESS) {
    LAUNCHER_LOG_INFO << L"set reg failure: ";
  }
  EnsureUrlProtocolValue();
}

}  // namespace launcher
