#include "update/update_extraction.h"

#include <windows.h>

#include "launcher/base/scoped_resource.h"
#include "update/archive.h"
#include "update/self_replace.h"
#include "update/update_files.h"

namespace launcher {

namespace {
using ScopedArchive = ScopedResource<ArchiveHandle*, ArchiveHandleTraits>;
constexpr wchar_t kUpdateArchiveName[] = L"update.zip";
}  // namespace

void ExtractUpdateArchive() {
  // Whatever an earlier update moved aside of the launcher goes first, with or
  // without a new update.
  RemoveMovedAsideImages();
  if (::GetFileAttributesW(kUpdateArchiveName) == INVALID_FILE_ATTRIBUTES) return;
  {
    ScopedArchive archive;
    if (OpenArchive(kUpdateArchiveName, archive.Receive()) == kArchiveOk) {
      ArchiveItem item = {};
      // A count that cannot be read leaves the item zeroed: no items.
      (void)GetArchiveItem(archive.Get(), -1, &item);
      const int count = item.index;
      for (int index = 0; index < count; ++index) {
        item.index = 0;
        item.name[0] = 0;
        item.uncompressedSize = 0;
        const int described = GetArchiveItem(archive.Get(), index, &item);
        // A damaged directory cannot be walked any further.
        if (described == kArchiveDirectoryDamaged) break;
        if (described != kArchiveOk) continue;
        // The old file is not deleted ahead: the extraction replaces it only
        // with a complete copy, and leaves it untouched when the item fails.
        // A failed item is skipped; the others still go in.
        (void)ExtractArchiveItem(archive.Get(), index, item.name);
      }
    }
  }
  // An archive that cannot be deleted is applied again at the next start.
  (void)RemoveUpdateArchive(kUpdateArchiveName);
}

}  // namespace launcher
