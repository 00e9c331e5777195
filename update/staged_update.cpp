#include "update/staged_update.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

#include "launcher/text_helpers.h"
#include "update/update_files.h"

namespace launcher {

void PlaceStagedUpdate() {
  std::string folder;
  if (!GetExeFolderA(folder)) return;

  static const char* const kLeftovers[] = {"temp\\Updater.exe", "temp\\update.td0",
                                           "temp\\update.td1",  "temp\\update.td2",
                                           "temp\\update.td3",  "temp\\update.td"};
  for (const char* leftover : kLeftovers) std::remove((folder + leftover).c_str());

  const std::string staged = folder + "temp\\" + "update.zip";
  if (_access(staged.c_str(), 0) != 0) return;
  // The copy keeps the staged file's attributes, and a read-only archive in
  // the installation would refuse both the overwrite and its deletion.
  const std::string placed = folder + "update.zip";
  ClearReadOnly(placed.c_str());
  // A staged archive that could not be copied stays staged for the next start
  // rather than being lost.
  if (!::CopyFileA(staged.c_str(), placed.c_str(), FALSE)) return;
  ClearReadOnly(placed.c_str());
  RemoveUpdateArchive(staged.c_str());
}

}  // namespace launcher
