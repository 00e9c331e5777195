// Holds HKEY_CURRENT_USER\SOFTWARE\vorlan\Language for one test: the test
// writes the default value as it likes, and the key is put back as it was
// (or removed) at the end. Tests that use it take the machine_state lock.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"

namespace testing_support {

class LanguageKey {
 public:
  static constexpr const wchar_t* kProductKey = L"SOFTWARE\\vorlan";
  static constexpr const wchar_t* kLanguageKey = L"SOFTWARE\\vorlan\\Language";

  LanguageKey() {
    productKeyExisted_ = KeyExists(kProductKey);
    launcher::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kLanguageKey, 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS) {
      return;
    }
    keyExisted_ = true;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), L"", nullptr, &savedType_, nullptr, &size) != ERROR_SUCCESS) {
      return;
    }
    savedData_.resize(size);
    valueExisted_ = ::RegQueryValueExW(key.Get(), L"", nullptr, &savedType_, savedData_.data(),
                                       &size) == ERROR_SUCCESS;
    savedData_.resize(size);
  }

  ~LanguageKey() {
    Remove();
    if (keyExisted_) {
      launcher::ScopedRegKey key = Create();
      if (valueExisted_) {
        ::RegSetValueExW(key.Get(), L"", 0, savedType_, savedData_.data(),
                         static_cast<DWORD>(savedData_.size()));
      }
    } else if (!productKeyExisted_) {
      ::RegDeleteKeyW(HKEY_CURRENT_USER, kProductKey);  // only when left empty
    }
  }

  LanguageKey(const LanguageKey&) = delete;
  LanguageKey& operator=(const LanguageKey&) = delete;

  // The default value as a UTF-16 string (REG_SZ), terminator included.
  void SetText(const std::wstring& text) {
    SetRaw(REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  // The default value as exactly these bytes, of any type.
  void SetBytes(DWORD type, const std::string& bytes) {
    SetRaw(type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  }

  // The key with no default value.
  void SetKeyWithoutValue() {
    Remove();
    Create();
  }

  void Remove() { ::RegDeleteKeyW(HKEY_CURRENT_USER, kLanguageKey); }

 private:
  static bool KeyExists(const wchar_t* path) {
    launcher::ScopedRegKey key;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, key.Receive()) ==
           ERROR_SUCCESS;
  }

  static launcher::ScopedRegKey Create() {
    launcher::ScopedRegKey key;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, kLanguageKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.Receive(), nullptr);
    return key;
  }

  void SetRaw(DWORD type, const BYTE* data, DWORD size) {
    launcher::ScopedRegKey key = Create();
    ::RegSetValueExW(key.Get(), L"", 0, type, data, size);
  }

  bool productKeyExisted_ = false;
  bool keyExisted_ = false;
  bool valueExisted_ = false;
  DWORD savedType_ = REG_NONE;
  std::vector<BYTE> savedData_;
};

}  // namespace testing_support
