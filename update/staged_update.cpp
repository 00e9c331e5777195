#include "update/staged_update.h"

#include <windows.h>

#include <string>

#include "launcher/base/text_helpers.h"
#include "update/update_files.h"

namespace launcher {

void PlaceStagedUpdate() {
  // Wide paths: an installation folder the ANSI code page cannot spell gets
  // its update like any other.
  std::wstring folder;
  if (!GetExeFolderW(folder)) return;

  static const wchar_t* const kLeftovers[] = {L"temp\\Updater.exe", L"temp\\update.td0",
                                              L"temp\\update.td1",  L"temp\\update.td2",
                                              L"temp\\update.td3",  L"temp\\update.td"};
  // Paths stay within MAX_PATH, as on Windows: an archive placed from a
  // longer folder could not be extracted there, and would be lost.
  auto fits = [](const std::wstring& path) { return path.size() < MAX_PATH; };
  for (const wchar_t* leftover : kLeftovers) {
    if (fits(folder + leftover)) ::DeleteFileW((folder + leftover).c_str());
  }

  const std::wstring staged = folder + L"temp\\" + L"update.zip";
  if (!fits(staged) || ::GetFileAttributesW(staged.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  // The copy keeps the staged file's attributes, and a read-only archive in
  // the installation would refuse both the overwrite and its deletion.
  const std::wstring placed = folder + L"update.zip";
  ClearReadOnly(placed.c_str());
  // A staged archive that could not be copied stays staged for the next start
  // rather than being lost.
  if (!::CopyFileW(staged.c_str(), placed.c_str(), FALSE)) return;
  ClearReadOnly(placed.c_str());
  // A staged copy that stays behind is placed again, harmlessly, next time.
  (void)RemoveUpdateArchive(staged.c_str());
}

}  // namespace launcher
