#include "update/staged_update.h"

#include <windows.h>

#include <string>

#include "launcher/base/text_helpers.h"
#include "update/archive.h"
#include "update/folder_handles.h"
#include "update/install_tree.h"
#include "update/item_writer.h"
#include "update/replacement.h"

namespace launcher {
namespace {

constexpr wchar_t kTempFolder[] = L"temp";
constexpr wchar_t kArchiveName[] = L"update.zip";

// An archive placed earlier that the staged one replaces: its read-only
// attribute would refuse the replacement, and goes first where it is the
// file's own (a file with other names keeps it, and the placement waits).
void LetPlacedArchiveGo(InstallTree& tree) {
  ScopedFileHandle placed;
  const OpenRequest request = {FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, 0};
  FileFacts facts;
  if (OpenInFolder(tree.Root(), kArchiveName, request, placed) != ERROR_SUCCESS ||
      !tree.IsPlainEntryAt(placed.Get(), std::wstring(), kArchiveName) ||
      !ReadFileFacts(placed.Get(), facts) || facts.links != 1 ||
      (facts.attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return;
  }
  (void)SetAttributes(placed.Get(), facts.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

}  // namespace

void PlaceStagedUpdate() {
  // Wide paths: an installation folder the ANSI code page cannot spell gets
  // its update like any other.
  std::wstring folder;
  if (!GetExeFolderW(folder)) return;
  // Paths stay within MAX_PATH, as on Windows: an archive placed from a
  // longer folder could not be extracted there, and would be lost.
  if (folder.size() + std::wcslen(L"temp\\update.zip") >= MAX_PATH) return;
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
  if (OpenInFolder(temp, kArchiveName, request, staged) != ERROR_SUCCESS ||
      !tree.IsPlainEntryAt(staged.Get(), kTempFolder, kArchiveName)) {
    return;
  }
  // Moved up in one step: the placed archive is whole or absent, and one
  // placed earlier only loses its name. A staged archive that cannot be
  // moved stays staged for the next start.
  LetPlacedArchiveGo(tree);
  (void)RenameIntoFolder(staged.Get(), tree.Root(), kArchiveName, true);
}

}  // namespace launcher
