#include "update/staged_update.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

#include "launcher/text_helpers.h"

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
  // A staged archive that could not be copied stays staged for the next start
  // rather than being lost.
  if (!::CopyFileA(staged.c_str(), (folder + "update.zip").c_str(), FALSE)) return;
  std::remove(staged.c_str());
}

}  // namespace launcher
