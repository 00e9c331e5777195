// The folders an extraction makes below its root (EnsureFolder, declared in
// archive.h, is the same rule for one folder on its own).
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>

namespace launcher {

// Folders made sure of while one archive is extracted, so that each is asked
// for once, and the folders its folder items name. A plain file gives way to
// such a declared folder, and only when a file item needs the folder: an
// update that turns a file into a folder brings the folder's files along.
class ArchiveFolders {
 public:
  // Makes sure the root itself exists; asked once. A null root (absolute
  // targets) needs nothing.
  void EnsureRoot(const wchar_t* root);
  // A folder item: the first length units of target below root, with every
  // folder above it. It is remembered as declared.
  void MakeFolderItem(const wchar_t* root, const wchar_t* target, std::size_t length);
  // The folders above a file item: the first folderLength units of target.
  void MakeFoldersFor(const wchar_t* root, const wchar_t* target, std::size_t folderLength);

 private:
  std::unordered_set<std::wstring> known_;
  std::unordered_set<std::wstring> declared_;
  bool rootEnsured_ = false;
};

}  // namespace launcher
