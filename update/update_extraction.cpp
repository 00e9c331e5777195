#include "update/update_extraction.h"

#include <windows.h>

#include <exception>
#include <string>

#include "launcher/base/scoped_resource.h"
#include "log/process_logger.h"
#include "update/archive.h"
#include "update/folder_handles.h"
#include "update/install_tree.h"
#include "update/update_journal.h"

namespace launcher {

namespace {

enum class Outcome {
  kApplied,    // every item that could be, all at once
  kRefused,    // the archive itself is unusable
  kPostponed,  // a passing cause: the installation is as it was
};

std::wstring Hex(int value) {
  wchar_t text[16];
  ::wsprintfW(text, L"0x%x", static_cast<unsigned>(value));
  return text;
}

// The archive in the root, opened as itself: a link is never followed.
bool OpenArchiveFile(const InstallTree& tree, ACCESS_MASK access, ScopedFileHandle& file) {
  const OpenRequest request = {access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               FILE_OPEN, FILE_NON_DIRECTORY_FILE, 0};
  return OpenInFolder(tree.Root(), kUpdateArchiveName, request, file) == ERROR_SUCCESS &&
         tree.IsPlainEntryAt(file.Get(), std::wstring(), kUpdateArchiveName);
}

void ArchiveIdentity(HANDLE file, std::uint64_t& size, std::uint64_t& time) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(file, &information)) return;
  size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  time = (static_cast<std::uint64_t>(information.ftLastWriteTime.dwHighDateTime) << 32) |
         information.ftLastWriteTime.dwLowDateTime;
}

// What a start finds of an update that a kill or a power cut interrupted:
// the promised replacements are finished, then what they moved aside is
// deleted. What stays in use stays in the journal for a later start.
void FinishJournal(InstallTree& tree, UpdateJournal& journal) {
  std::vector<ReplacementNames> unfinished;
  for (const ReplacementNames& names : journal.replacements) {
    const int result = FinishFromNames(tree, names);
    if (result == kArchiveOk) {
      journal.leftovers.push_back(LeftoverName{names.folder, names.backup});
    } else {
      LAUNCHER_LOG_INFO << L"update replacement still unfinished: " << names.target << L" "
                        << Hex(result);
      if (IsTransientArchiveResult(result)) unfinished.push_back(names);
    }
  }
  journal.replacements = unfinished;
  std::vector<LeftoverName> staying;
  for (const LeftoverName& leftover : journal.leftovers) {
    if (!DeleteLeftover(tree, leftover.folder, leftover.name)) staying.push_back(leftover);
  }
  journal.leftovers = staying;
  // Runs killed while they wrote: what they wrote is deleted, wherever it is.
  std::vector<std::uint32_t> sweeping;
  for (const std::uint32_t run : journal.stagingRuns) {
    if (!SweepRun(tree, run)) sweeping.push_back(run);
  }
  journal.stagingRuns = sweeping;
}

Outcome ApplyArchive(InstallTree& tree, UpdateJournal& journal) {
  ScopedArchive archive;
  const int opened = OpenArchive(kUpdateArchiveName, archive.Receive());
  if (opened != kArchiveOk) {
    LAUNCHER_LOG_INFO << L"update archive refused: " << Hex(opened);
    return IsTransientArchiveResult(opened) ? Outcome::kPostponed : Outcome::kRefused;
  }
  // Recorded before the first file is written: a kill from now on leaves
  // files that the next start can tell are this run's.
  std::uint32_t run = 0;
  (void)BeginArchiveTransaction(archive.Get(), &run);
  journal.stagingRuns.push_back(run);
  if (!SaveJournal(tree, journal)) return Outcome::kPostponed;
  ArchiveItem item = {};
  // A count that cannot be read leaves the item zeroed: no items.
  (void)GetArchiveItem(archive.Get(), -1, &item);
  const int count = item.index;
  for (int index = 0; index < count; ++index) {
    item.index = 0;
    item.name[0] = 0;
    item.uncompressedSize = 0;
    int result = GetArchiveItem(archive.Get(), index, &item);
    if (result == kArchiveOk) result = ExtractArchiveItem(archive.Get(), index, item.name);
    if (result == kArchiveOk) continue;
    LAUNCHER_LOG_INFO << L"update item " << index << L" " << item.name << L" failed: " << Hex(result);
    // Nothing is in place yet: a passing cause leaves the whole update for
    // a later start rather than half of it now.
    if (IsTransientArchiveResult(result)) return Outcome::kPostponed;
    // A damaged directory cannot be walked any further.
    if (result == kArchiveDirectoryDamaged) break;
  }
  ArchiveCommitReport report;
  const int committed = CommitArchiveTransaction(
      archive.Get(),
      [&](const std::vector<ReplacementNames>& replacements) {
        UpdateJournal promised = journal;
        promised.replacements = replacements;
        return SaveJournal(tree, promised);
      },
      report);
  // Items the commit could not place are named whether or not it went in.
  for (const auto& refused : report.refused) {
    LAUNCHER_LOG_INFO << L"update item " << refused.first << L" not placed: " << Hex(refused.second);
  }
  if (committed != kArchiveOk) {
    LAUNCHER_LOG_INFO << L"update not committed: " << Hex(committed);
    return IsTransientArchiveResult(committed) ? Outcome::kPostponed : Outcome::kRefused;
  }
  journal.leftovers.insert(journal.leftovers.end(), report.movedAside.begin(),
                           report.movedAside.end());
  return Outcome::kApplied;
}

void DeleteArchive(const InstallTree& tree) {
  ScopedFileHandle file;
  if (OpenArchiveFile(tree, DELETE | FILE_WRITE_ATTRIBUTES, file) && !DeleteThroughHandle(file)) {
    LAUNCHER_LOG_INFO << L"update archive could not be deleted";
  }
}

}  // namespace

void ExtractUpdateArchive() {
  // Most starts have no update: the names tell so before the folder is held.
  const bool archiveNamed = ::GetFileAttributesW(kUpdateArchiveName) != INVALID_FILE_ATTRIBUTES;
  if (!archiveNamed && ::GetFileAttributesW(kUpdateJournalName) == INVALID_FILE_ATTRIBUTES &&
      ::GetFileAttributesW(kUpdateJournalDraftName) == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  wchar_t root[kPathBufferSize] = {};
  const DWORD rootLength = ::GetCurrentDirectoryW(kPathBufferSize, root);
  if (rootLength == 0 || rootLength >= kPathBufferSize) return;
  InstallTree tree(NewRunId());
  const int opened = tree.OpenRoot(root);
  if (opened != kArchiveOk) {
    if (archiveNamed) {
      LAUNCHER_LOG_INFO << L"update not applied: the installation folder cannot be held "
                        << Hex(opened);
    }
    return;
  }

  // A journal a kill left half written never counts.
  (void)DeleteLeftover(tree, std::wstring(), kUpdateJournalDraftName);
  UpdateJournal journal;
  const bool journaled = LoadJournal(tree, journal);
  if (journaled) FinishJournal(tree, journal);

  ScopedFileHandle archiveFile;
  if (!OpenArchiveFile(tree, 0, archiveFile)) {
    if (archiveNamed) {
      LAUNCHER_LOG_INFO << L"update archive is not a plain file here; left alone";
    }
    journal.failedAttempts = 0;
    if (journaled) (void)SaveJournal(tree, journal);
    return;
  }
  std::uint64_t size = 0;
  std::uint64_t time = 0;
  ArchiveIdentity(archiveFile.Get(), size, time);
  archiveFile.Reset();
  // Attempts count only for the archive they were made with.
  if (journal.archiveSize != size || journal.archiveTime != time) journal.failedAttempts = 0;
  journal.archiveSize = size;
  journal.archiveTime = time;

  Outcome outcome = Outcome::kRefused;
  const std::vector<std::uint32_t> runsBefore = journal.stagingRuns;
  try {
    outcome = ApplyArchive(tree, journal);
  } catch (const std::exception&) {
    // A crafted archive must never keep the client from starting, now or at
    // any later start: it is dealt with like a damaged one.
    LAUNCHER_LOG_INFO << L"update archive failed with an exception";
  }
  // The run has ended: what it wrote is in place or deleted.
  journal.stagingRuns = runsBefore;
  if (outcome == Outcome::kPostponed && ++journal.failedAttempts < kUpdateAttempts) {
    LAUNCHER_LOG_INFO << L"update postponed to a later start, attempt " << journal.failedAttempts
                      << L" of " << kUpdateAttempts;
    (void)SaveJournal(tree, journal);
    return;
  }
  if (outcome == Outcome::kPostponed) {
    LAUNCHER_LOG_INFO << L"update given up after " << kUpdateAttempts << L" attempts";
  }
  journal.failedAttempts = 0;
  journal.replacements.clear();
  (void)SaveJournal(tree, journal);
  DeleteArchive(tree);
}

}  // namespace launcher
