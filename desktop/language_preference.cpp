#include "desktop/language_preference.h"

#include <windows.h>

#include <cstring>
#include <sstream>
#include <string>

#include "launcher/base/client_contract.h"
#include "launcher/base/scoped_resource.h"

namespace launcher {

bool IsChineseLanguage() {
  std::wostringstream keyPath;
  keyPath << L"SOFTWARE\\" << kClientBaseName << L"\\Language";

  ScopedRegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.str().c_str(), 0, KEY_QUERY_VALUE,
                      key.Receive()) != ERROR_SUCCESS) {
    return true;
  }
  // The value is read as ANSI text whatever its type; one spare zero byte
  // keeps the text terminated even when the data fills the whole buffer.
  char value[kPathBufferSize + 1] = {};
  DWORD size = kPathBufferSize;
  if (::RegQueryValueExA(key.Get(), "", nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                         &size) != ERROR_SUCCESS) {
    return true;
  }
  if (std::strcmp(value, "zh-CN") == 0) return true;
  return std::strcmp(value, "en-US") != 0;
}

}  // namespace launcher
