#include "update/staged_update.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "launcher/base/text_helpers.h"
#include "update/archive.h"
#include "update/folder_handles.h"
#include "update/install_tree.h"
#include "update/replacement.h"
#include "update/update_journal.h"

namespace launcher {
namespace {

constexpr wchar_t kTempFolder[] = L"temp";


}  // namespace

void PlaceStagedUpdate() {
  // Wide paths: an installation folder the ANSI code page cannot spell gets
  // its update like any other.
  std::wstring folder;
  if (!GetExeFolderW(folder)) return;
  // Paths stay within MAX_PATH, as on Windows: an archive placed from a
  // longer folder could not be extracted there, and would be lost.
  if (folder.size() + std::wcslen(kTempFolder) + 1 + std::wcslen(kUpdateArchiveName) >= MAX_PATH) {
    return;
  }
  // Without a temp folder nothing is staged, and the folder is not held.
  if (::GetFileAttributesW((folder + kTempFolder).c_str()) == INVALID_FILE_ATTRIBUTES) return;

  // Everything is reached through the installation's own folders: a temp
  // folder that is a link, junction or mount point is not followed, nor is
  // a leftover or an archive that is one.
  InstallTree tree(NewRunId());
  HANDLE temp = nullptr;
  if (tree.OpenRoot(folder) != kArchiveOk || tree.Folder(kTempFolder, false, temp) != kArchiveOk) {
    return;
  }
  static const wchar_t* const kLeftovers[] = {L"Updater.exe", L"update.td0", L"update.td1",
                                              L"update.td2",  L"update.td3", L"update.td"};
  for (const wchar_t* leftover : kLeftovers) (void)DeleteLeftover(tree, kTempFolder, leftover);

  ScopedFileHandle staged;
  const OpenRequest request = {DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE, 0};
  if (OpenInFolder(temp, kUpdateArchiveName, request, staged) != ERROR_SUCCESS ||
      !tree.IsPlainEntryAt(staged.Get(), kTempFolder, kUpdateArchiveName)) {
    return;
  }
  // Moved up in one step: the placed archive is whole or absent, and one
  // placed earlier only loses its name. A staged archive that cannot be
  // moved stays staged for the next start.
  // An archive placed earlier would refuse the replacement while read-only
  // (one with other names keeps the attribute, and the placement waits).
  ClearOwnReadOnlyInRoot(tree, kUpdateArchiveName);
  (void)RenameIntoFolder(staged.Get(), tree.Root(), kUpdateArchiveName, true);
}

}  // namespace launcher
