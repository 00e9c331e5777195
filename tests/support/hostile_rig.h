// Rig of the hostile-input suites: the manifest of the hostile archives, tree
// snapshots that show what changed where, and a small fixed-seed generator.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hostile {

// One archive of the corpus and what the installation holds around it.
struct CorpusCase {
  std::wstring archive;
  std::vector<std::wstring> folders;                    // relative, '\' separated
  std::map<std::wstring, std::string> before;           // file -> bytes before the launch
  std::vector<std::wstring> readOnly;
  std::map<std::wstring, std::string> gone;             // file before -> no file after
  std::map<std::wstring, std::string> mustBecome;       // file -> bytes after
  std::map<std::wstring, std::string> mayBecome;        // file -> as before, or these bytes
  std::vector<std::wstring> probes;                     // names that must not appear outside
};

std::wstring HostileFixturePath(const std::wstring& name);
std::vector<CorpusCase> ReadManifest();

// Writes the case's files and folders below installation.
void Populate(const std::wstring& installation, const CorpusCase& corpusCase);

// Adds a failure for every file that does not hold what the case allows after
// a launch, and for temporary files an extraction left behind.
void ExpectInstallationOutcome(const std::wstring& installation, const CorpusCase& corpusCase);

// What an update writes before it takes its place ("~upd...": files and
// staged folders) and its journal, still below the installation.
std::vector<std::wstring> TemporaryLeftovers(const std::wstring& installation);

// Every file and folder below a root, by relative path: the bytes of files,
// nothing for folders. Paths under any of the skipped relative folders are
// left out.
struct Node {
  bool folder = false;
  std::string bytes;
  DWORD attributes = 0;
  bool operator==(const Node& other) const {
    return folder == other.folder && bytes == other.bytes && attributes == other.attributes;
  }
};
using Snapshot = std::map<std::wstring, Node>;
Snapshot TakeSnapshot(const std::wstring& root, const std::vector<std::wstring>& skipped = {});
// Names the differences, or gives the empty string.
std::string DescribeDifferences(const Snapshot& before, const Snapshot& after);

// A sandbox whose installation lies a few folders deep, each level holding a
// bait file, so that every escape of up to that many parent steps lands
// inside the sandbox, where a snapshot sees it.
class Sandbox {
 public:
  explicit Sandbox(const std::wstring& top);
  const std::wstring& Installation() const { return installation_; }
  Snapshot Outside() const;  // the sandbox without the installation

 private:
  std::wstring top_;
  std::wstring installation_;
};

// Places outside any sandbox that hostile names aim at: every ancestor of the
// folder given, the drive roots, the Windows folders, the Unix root and /tmp.
std::vector<std::wstring> SharedPlaces(const std::wstring& folder);
// Which of the names exist in which of the places.
std::vector<std::wstring> ExistingProbes(const std::vector<std::wstring>& places,
                                         const std::vector<std::wstring>& names);

// xorshift64*: the same sequence on every run and every compiler.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed == 0 ? 0x9E3779B97F4A7C15ULL : seed) {}
  std::uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  // Uniform enough in [0, bound), bound > 0.
  std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() >> 33) % bound; }

 private:
  std::uint64_t state_;
};

std::string ToHex(const std::string& bytes, std::size_t limit = 64);

}  // namespace hostile
