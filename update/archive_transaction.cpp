// The commit of a transaction: every file written beside its target, and
// every folder staged beside the file in its way, takes its place; when one
// cannot, those that did are taken back.
#include <algorithm>

#include "update/archive_reader.h"
#include "update/self_replace.h"

namespace launcher {

int ArchiveReader::Commit(const ArchiveCommitJournal& journal, ArchiveCommitReport& report) {
  if (!deferred_ || committed_) return kArchiveOk;
  // Every file finished and on disk first; one that could not be is a
  // passing cause (a full disk), and nothing goes in.
  std::vector<FinishingPool::Failure> failures = pool_->Drain();
  if (!failures.empty()) {
    for (const FinishingPool::Failure& failure : failures) {
      if (failure.ticket >= kStagedTicket) {
        const LeftoverName& file = stagedFiles_[failure.ticket - kStagedTicket];
        report.refused.emplace_back(JoinedRelative(file.folder, file.name), failure.result);
      } else {
        const ReplacementNames& names = pending_[failure.ticket].names;
        report.refused.emplace_back(JoinedRelative(names.folder, names.target), failure.result);
      }
    }
    return failures.front().result;
  }
  // Folders go last: the files inside them have taken their names by then.
  // A folder none of whose files arrived leaves the file in its way alone.
  const std::size_t files = pending_.size();
  std::vector<std::wstring> unfilled;
  for (const StagedFolder& staged : tree_->StagedFolders()) {
    const std::wstring relative = JoinedRelative(staged.parent, staged.targetName);
    // A new folder goes in as the archive made it, empty or not.
    const bool filled =
        !staged.replacesFile ||
        std::any_of(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(files),
                    [&](const Replacement& file) { return IsWithin(file.names.folder, relative); }) ||
        std::any_of(stagedFiles_.begin(), stagedFiles_.end(),
                    [&](const LeftoverName& file) { return IsWithin(file.folder, relative); });
    if (!filled) {
      unfilled.push_back(relative);
      continue;
    }
    Replacement replacement;
    replacement.names = {staged.parent, staged.stagingName, staged.targetName,
                         tree_->NextTemporaryName()};
    replacement.borrowed = tree_->HeldFolder(relative);
    replacement.folder = true;
    pending_.push_back(std::move(replacement));
  }
  std::vector<ReplacementNames> names;
  names.reserve(pending_.size());
  // The journal names what a later start finds on disk after a kill: files
  // in a staged folder are found under the folder's temporary name.
  for (const Replacement& replacement : pending_) {
    names.push_back(replacement.names);
    names.back().folder = tree_->OnDiskPath(replacement.names.folder);
  }
  // Nothing to replace needs no journal.
  if (!pending_.empty() && journal && !journal(names)) return kArchiveWriteFailed;

  for (std::size_t i = 0; i < pending_.size(); ++i) {
    const int result = PutInPlace(*tree_, pending_[i]);
    if (result == kArchiveOk) continue;
    const ReplacementNames& failed = pending_[i].names;
    report.refused.emplace_back(JoinedRelative(failed.folder, failed.target), result);
    if (!IsTransientArchiveResult(result)) {
      // This item alone stays out, as if its data had been refused.
      DeleteUnused(*tree_, pending_[i]);
      continue;
    }
    while (i > 0) TakeBack(*tree_, pending_[--i]);
    return result;
  }
  committed_ = true;
  for (const std::wstring& relative : unfilled) tree_->RemoveMadeFolders(relative);
  if (!stagedLauncher_.empty()) DeleteSupersededStagedLaunchers(*tree_, stagedLauncher_);
  for (Replacement& replacement : pending_) {
    replacement.entry.Reset();
    if (replacement.kept &&
        !DeleteLeftover(*tree_, replacement.names.folder, replacement.names.backup)) {
      report.movedAside.push_back(LeftoverName{replacement.names.folder, replacement.names.backup});
    }
  }
  pending_.clear();
  return kArchiveOk;
}

void ArchiveReader::Abandon() {
  writer_.Discard();
  if (pool_) (void)pool_->Drain();
  for (Replacement& replacement : pending_) DeleteUnused(*tree_, replacement);
  pending_.clear();
  for (const LeftoverName& file : stagedFiles_) (void)DeleteLeftover(*tree_, file.folder, file.name);
  stagedFiles_.clear();
  tree_->RemoveMadeFolders();
}

}  // namespace launcher
