// Holds HKEY_CURRENT_USER\SOFTWARE\vorlan\Language for one test: the test
// writes the default value as it likes, and the key is put back as it was
// (or removed) at the end. Tests that use it take the machine_state lock.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/base/scoped_resource.h"
#include "tests/support/registry_tree.h"

namespace testing_support {

class LanguageKey {
 public:
  static constexpr const wchar_t* kProductKey = L"SOFTWARE\\vorlan";
  static constexpr const wchar_t* kLanguageKey = L"SOFTWARE\\vorlan\\Language";

  LanguageKey() = default;
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

  // The product's key with everything below it, put back as it was (or
  // removed) at the end.
  SavedRegistryKey saved_{HKEY_CURRENT_USER, kProductKey};
};

}  // namespace testing_support
