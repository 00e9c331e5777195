// The update journal: what an update in progress has promised to finish and
// what it left to delete, kept beside the archive as "update.journal" so
// that the start after a kill or a power cut completes it. It also counts the
// attempts that failed for a passing cause, so that an archive is not tried
// for ever. The journal lies in a folder others may write to: it is read as
// untrusted text, and it can only ever name files of the update's own
// temporary names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/replacement.h"

namespace launcher {

class InstallTree;

// The placed archive, in the installation folder, and its journal beside it.
constexpr wchar_t kUpdateArchiveName[] = L"update.zip";
constexpr wchar_t kUpdateJournalName[] = L"update.journal";
// A new journal is written whole under this name, then renamed over the old
// one. One fixed name: a draft that a kill left is found and deleted by the
// next start, and never piles up.
constexpr wchar_t kUpdateJournalDraftName[] = L"update.journal.new";

// An update is tried at this many starts at most; after that its archive is
// deleted and the installation stays as it was.
constexpr std::uint32_t kUpdateAttempts = 5;

struct UpdateJournal {
  // Failed attempts of the archive with this size and last-write time.
  std::uint32_t failedAttempts = 0;
  std::uint64_t archiveSize = 0;
  std::uint64_t archiveTime = 0;
  // Runs that began to write and may have been killed before they finished:
  // every file and staged folder named with their run id is theirs to delete.
  std::vector<std::uint32_t> stagingRuns;
  // Replacements promised: each still to be finished from its names.
  std::vector<ReplacementNames> replacements;
  // Files of the run to delete once they are no longer in use.
  std::vector<LeftoverName> leftovers;

  bool IsEmpty() const {
    return failedAttempts == 0 && stagingRuns.empty() && replacements.empty() && leftovers.empty();
  }
};

// The journal as text: UTF-8 lines, checked by a CRC-32 in its last line.
std::string FormatJournal(const UpdateJournal& journal);
// False for anything that is not a whole, intact journal whose every name is
// a plain component and whose every temporary name is of the update's own
// form: a journal can make a start rename or delete nothing else.
bool ParseJournal(const std::string& text, UpdateJournal& journal);

// Reads the journal of the tree's root. False when there is none, or none
// that parses.
bool LoadJournal(InstallTree& tree, UpdateJournal& journal);
// Replaces the journal, on disk before it returns, or deletes it when it is
// empty. False when it could not be written.
bool SaveJournal(InstallTree& tree, const UpdateJournal& journal);

}  // namespace launcher
