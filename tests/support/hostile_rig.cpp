#include "tests/support/hostile_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <set>
#include <sstream>

#include "launcher/base/text_helpers.h"
#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"
#include "update/update_journal.h"

namespace hostile {
namespace {

using testing_support::Narrow;
using testing_support::Widen;

std::string FromHex(const std::string& hex) {
  if (hex == "-") return std::string();
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::wstring WindowsPath(const std::string& hex) {
  std::wstring path = Widen(FromHex(hex));
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::string ReadAll(const std::wstring& path, bool& exists) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (!exists) return std::string();
  const std::vector<char> bytes = testing_support::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void Walk(const std::wstring& root, const std::wstring& relative,
          const std::set<std::wstring>& skipped, Snapshot& out) {
  WIN32_FIND_DATAW data;
  const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
  launcher::ScopedFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
    if (skipped.count(child) != 0) continue;
    Node node;
    node.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    node.attributes = data.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    if (node.folder) {
      Walk(root, child, skipped, out);
    } else {
      const std::vector<char> bytes = testing_support::ReadFileBytes(root + L"\\" + child);
      node.bytes.assign(bytes.begin(), bytes.end());
    }
    out[child] = node;
  } while (::FindNextFileW(find.Get(), &data));
}

void FindLeftovers(const std::wstring& folder, std::vector<std::wstring>& out) {
  WIN32_FIND_DATAW data;
  launcher::ScopedFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool temporary = name.compare(0, 4, L"~upd") == 0 ||
                           name == launcher::kUpdateJournalName ||
                           name == launcher::kUpdateJournalDraftName;
    if (temporary) out.push_back(folder + L"\\" + name);
    if (!temporary && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      FindLeftovers(folder + L"\\" + name, out);
    }
  } while (::FindNextFileW(find.Get(), &data));
}

}  // namespace

std::string ToHex(const std::string& bytes, std::size_t limit) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    out.push_back(digits[(static_cast<unsigned char>(bytes[i]) >> 4) & 15]);
    out.push_back(digits[static_cast<unsigned char>(bytes[i]) & 15]);
  }
  if (bytes.size() > limit) out += "...";
  return out;
}

std::wstring HostileFixturePath(const std::wstring& name) {
  return update_testing::FixturePath(name, update_testing::Fixtures::kHostile);
}

std::vector<CorpusCase> ReadManifest() {
  std::vector<CorpusCase> cases;
  const std::vector<char> text =
      testing_support::ReadFileBytes(HostileFixturePath(L"hostile_manifest.txt"));
  std::istringstream in(std::string(text.begin(), text.end()));
  std::string line;
  CorpusCase current;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string keyword, first, second;
    words >> keyword >> first >> second;
    if (keyword == "case") {
      current = CorpusCase();
      current.archive = Widen(FromHex(first));
    } else if (keyword == "folder") {
      current.folders.push_back(WindowsPath(first));
    } else if (keyword == "before") {
      current.before[WindowsPath(first)] = FromHex(second);
    } else if (keyword == "gone") {
      current.gone[WindowsPath(first)] = FromHex(second);
    } else if (keyword == "readonly") {
      current.readOnly.push_back(WindowsPath(first));
    } else if (keyword == "new") {
      current.mustBecome[WindowsPath(first)] = FromHex(second);
    } else if (keyword == "either") {
      current.mayBecome[WindowsPath(first)] = FromHex(second);
    } else if (keyword == "probe") {
      current.probes.push_back(Widen(FromHex(first)));
    } else if (keyword == "end") {
      cases.push_back(current);
    }
  }
  return cases;
}

void Populate(const std::wstring& installation, const CorpusCase& corpusCase) {
  for (const std::wstring& folder : corpusCase.folders) {
    testing_support::CreateFolders(installation + L"\\" + folder);
  }
  for (const auto* files : {&corpusCase.before, &corpusCase.gone}) {
    for (const auto& file : *files) {
      const std::wstring path = installation + L"\\" + file.first;
      testing_support::CreateFolders(launcher::ParentFolderOf(path));
      testing_support::WriteFileBytes(path, file.second);
    }
  }
  for (const std::wstring& file : corpusCase.readOnly) {
    ::SetFileAttributesW((installation + L"\\" + file).c_str(), FILE_ATTRIBUTE_READONLY);
  }
}

void ExpectInstallationOutcome(const std::wstring& installation, const CorpusCase& corpusCase) {
  std::set<std::wstring> paths;
  for (const auto& file : corpusCase.before) paths.insert(file.first);
  for (const auto& file : corpusCase.mustBecome) paths.insert(file.first);
  for (const auto& file : corpusCase.mayBecome) paths.insert(file.first);
  for (const std::wstring& path : paths) {
    bool exists = false;
    const std::string after = ReadAll(installation + L"\\" + path, exists);
    const auto before = corpusCase.before.find(path);
    const auto must = corpusCase.mustBecome.find(path);
    const auto may = corpusCase.mayBecome.find(path);
    const bool wasThere = before != corpusCase.before.end();
    const bool asBefore = wasThere ? (exists && after == before->second) : !exists;
    bool allowed = false;
    if (must != corpusCase.mustBecome.end()) {
      allowed = exists && after == must->second;
    } else if (may != corpusCase.mayBecome.end()) {
      allowed = asBefore || (exists && after == may->second);
    } else {
      allowed = asBefore;
    }
    EXPECT_TRUE(allowed) << Narrow(path) << (exists ? " holds " + ToHex(after) : " is missing");
  }
  for (const std::wstring& folder : corpusCase.folders) {
    EXPECT_TRUE(testing_support::FolderExists(installation + L"\\" + folder)) << Narrow(folder);
  }
  for (const auto& file : corpusCase.gone) {
    EXPECT_FALSE(testing_support::FileExists(installation + L"\\" + file.first))
        << Narrow(file.first) << " is still a file";
  }
  for (const std::wstring& leftover : TemporaryLeftovers(installation)) {
    // An installed file that only looks like one is payload.
    if (corpusCase.before.count(leftover.substr(installation.size() + 1)) != 0) continue;
    ADD_FAILURE() << "left behind " << Narrow(leftover);
  }
}

std::vector<std::wstring> TemporaryLeftovers(const std::wstring& installation) {
  std::vector<std::wstring> leftovers;
  FindLeftovers(installation, leftovers);
  return leftovers;
}

Snapshot TakeSnapshot(const std::wstring& root, const std::vector<std::wstring>& skipped) {
  Snapshot snapshot;
  Walk(root, L"", std::set<std::wstring>(skipped.begin(), skipped.end()), snapshot);
  return snapshot;
}

std::string DescribeDifferences(const Snapshot& before, const Snapshot& after) {
  std::string out;
  for (const auto& entry : after) {
    const auto old = before.find(entry.first);
    if (old == before.end()) {
      out += "new " + Narrow(entry.first) + "; ";
    } else if (!(old->second == entry.second)) {
      out += "changed " + Narrow(entry.first) + "; ";
    }
  }
  for (const auto& entry : before) {
    if (after.count(entry.first) == 0) out += "gone " + Narrow(entry.first) + "; ";
  }
  return out;
}

Sandbox::Sandbox(const std::wstring& top) : top_(top) {
  // Bait at every level, and a sibling of the installation with files of the
  // names that traversals aim at.
  std::wstring level = top_;
  for (const wchar_t* name : {L"l1", L"l2", L"l3"}) {
    testing_support::WriteFileBytes(level + L"\\bait.txt", "bait at " + Narrow(level));
    testing_support::CreateFolders(level + L"\\sibling");
    testing_support::WriteFileBytes(level + L"\\sibling\\app.cfg", "sibling's own");
    level += L"\\";
    level += name;
    testing_support::CreateFolders(level);
  }
  installation_ = level + L"\\install";
  testing_support::CreateFolders(installation_);
}

Snapshot Sandbox::Outside() const { return TakeSnapshot(top_, {L"l1\\l2\\l3\\install"}); }

std::vector<std::wstring> SharedPlaces(const std::wstring& folder) {
  std::vector<std::wstring> places;
  // Every folder above, down to the one below the drive's root.
  for (std::wstring path = launcher::ParentFolderOf(folder); path.size() > 3;
       path = launcher::ParentFolderOf(path)) {
    places.push_back(path);
  }
  wchar_t drives[256] = {};
  ::GetLogicalDriveStringsW(255, drives);
  for (const wchar_t* drive = drives; *drive != 0; drive += std::wcslen(drive) + 1) {
    places.push_back(drive);
  }
  wchar_t windows[MAX_PATH] = {};
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  places.push_back(windows);
  places.push_back(std::wstring(windows) + L"\\system32");
  places.push_back(L"Z:\\tmp");
  return places;
}

std::vector<std::wstring> ExistingProbes(const std::vector<std::wstring>& places,
                                         const std::vector<std::wstring>& names) {
  std::vector<std::wstring> found;
  for (const std::wstring& place : places) {
    const std::wstring prefix = place.back() == L'\\' ? place : place + L"\\";
    for (const std::wstring& name : names) {
      if (::GetFileAttributesW((prefix + name).c_str()) != INVALID_FILE_ATTRIBUTES) {
        found.push_back(prefix + name);
      }
    }
  }
  return found;
}

}  // namespace hostile
