// A registry key with everything below it, read into memory and written back
// exactly, so that a test can put back a key it or the launcher changed.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct RegistryTree {
  struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const Value& other) const {
      return name == other.name && type == other.type && data == other.data;
    }
  };

  std::wstring name;  // the key's own name below its parent
  bool present = false;
  std::vector<Value> values;
  std::vector<RegistryTree> subkeys;

  bool operator==(const RegistryTree& other) const {
    return name == other.name && present == other.present && values == other.values &&
           subkeys == other.subkeys;
  }
};

RegistryTree ReadRegistryTree(HKEY root, const std::wstring& path);
// Makes the key at path hold exactly what the tree holds, or removes it when
// the tree is absent. Key classes, security and write times are not kept.
void WriteRegistryTree(HKEY root, const std::wstring& path, const RegistryTree& tree);

// Saves a key tree and puts it back as it was (absent stays absent) when it
// goes out of scope.
class SavedRegistryKey {
 public:
  SavedRegistryKey(HKEY root, std::wstring path)
      : root_(root), path_(std::move(path)), saved_(ReadRegistryTree(root_, path_)) {}
  ~SavedRegistryKey() { WriteRegistryTree(root_, path_, saved_); }
  SavedRegistryKey(const SavedRegistryKey&) = delete;
  SavedRegistryKey& operator=(const SavedRegistryKey&) = delete;

 private:
  HKEY root_;
  std::wstring path_;
  RegistryTree saved_;
};

}  // namespace testing_support
