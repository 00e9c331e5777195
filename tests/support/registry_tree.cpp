#include "tests/support/registry_tree.h"

#include <utility>

#include "launcher/base/scoped_resource.h"

namespace testing_support {
namespace {

RegistryTree ReadOpenKey(HKEY key, const std::wstring& name) {
  RegistryTree tree;
  tree.name = name;
  tree.present = true;
  DWORD subkeyCount = 0, longestSubkey = 0, valueCount = 0, longestValueName = 0, largestData = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeyCount, &longestSubkey, nullptr,
                         &valueCount, &longestValueName, &largestData, nullptr,
                         nullptr) != ERROR_SUCCESS) {
    return tree;
  }
  for (DWORD index = 0; index < valueCount; ++index) {
    std::vector<wchar_t> valueName(longestValueName + 1);
    DWORD nameLength = static_cast<DWORD>(valueName.size());
    RegistryTree::Value value;
    value.data.resize(largestData);
    DWORD size = largestData;
    if (::RegEnumValueW(key, index, valueName.data(), &nameLength, nullptr, &value.type,
                        value.data.data(), &size) != ERROR_SUCCESS) {
      continue;
    }
    value.name.assign(valueName.data(), nameLength);
    value.data.resize(size);
    tree.values.push_back(std::move(value));
  }
  for (DWORD index = 0; index < subkeyCount; ++index) {
    std::vector<wchar_t> subkeyName(longestSubkey + 1);
    DWORD nameLength = static_cast<DWORD>(subkeyName.size());
    if (::RegEnumKeyExW(key, index, subkeyName.data(), &nameLength, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS) {
      continue;
    }
    const std::wstring child(subkeyName.data(), nameLength);
    launcher::ScopedRegKey subkey;
    if (::RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, subkey.Receive()) == ERROR_SUCCESS) {
      tree.subkeys.push_back(ReadOpenKey(subkey.Get(), child));
    }
  }
  return tree;
}

void WriteBelow(HKEY parent, const std::wstring& path, const RegistryTree& tree) {
  launcher::ScopedRegKey key;
  if (::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  for (const RegistryTree::Value& value : tree.values) {
    ::RegSetValueExW(key.Get(), value.name.c_str(), 0, value.type, value.data.data(),
                     static_cast<DWORD>(value.data.size()));
  }
  for (const RegistryTree& subkey : tree.subkeys) WriteBelow(key.Get(), subkey.name, subkey);
}

}  // namespace

RegistryTree ReadRegistryTree(HKEY root, const std::wstring& path) {
  const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
  launcher::ScopedRegKey key;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
    RegistryTree absent;
    absent.name = name;
    return absent;
  }
  return ReadOpenKey(key.Get(), name);
}

void WriteRegistryTree(HKEY root, const std::wstring& path, const RegistryTree& tree) {
  ::RegDeleteTreeW(root, path.c_str());
  if (tree.present) WriteBelow(root, path, tree);
}

}  // namespace testing_support
