// Thousands of valid archives with random damage (byte flips, cut ends, holes,
// forced header fields), applied in a folder of the test's own exactly as the
// launch applies "update.zip". Every case must end, leave nothing outside
// the installation, consume the archive, and leave each installed file either
// as it was or as the undamaged archive would have made it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "launcher/base/text_helpers.h"
#include "tests/support/test_support.h"
#include "tests/support/hostile_rig.h"
#include "tests/support/update_test_support.h"
#include "update/update_extraction.h"

namespace {

using namespace testing_support;

constexpr int kCases = 3000;
constexpr std::uint64_t kSeed = 20261208;

struct Base {
  std::wstring name;
  std::string bytes;
  std::map<std::wstring, std::string> made;  // what the undamaged archive writes
};

std::string ReadAllBytes(const std::wstring& path) {
  const std::vector<char> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string OldContent(const std::wstring& path) { return "installed " + Narrow(path) + "\n"; }

// The case being applied, for the crash and hang reports.
std::atomic<int> currentCase(-1);
std::atomic<unsigned> progress(0);

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* pointers) {
  std::fprintf(stderr, "crash 0x%08lx in mutation case %d (seed %llu)\n",
               pointers->ExceptionRecord->ExceptionCode, currentCase.load(),
               static_cast<unsigned long long>(kSeed));
  std::fflush(stderr);
  return EXCEPTION_CONTINUE_SEARCH;
}

std::string Mutate(const std::string& base, hostile::Random& random, std::string& how) {
  std::string bytes = base;
  const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
  const std::uint32_t kind = random.Below(10);
  // Headers cluster at the end (the central directory) and at item starts;
  // half the damage goes to the last quarter.
  auto position = [&]() {
    return random.Below(2) == 0 ? random.Below(size) : size - 1 - random.Below(size / 4 + 1);
  };
  if (kind < 6) {
    const std::uint32_t flips = 1 + random.Below(4);
    for (std::uint32_t i = 0; i < flips; ++i) {
      const std::uint32_t at = position();
      bytes[at] = static_cast<char>(bytes[at] ^ (1 + random.Below(255)));
    }
    how = "flips";
  } else if (kind == 6) {
    bytes.resize(random.Below(size));
    how = "cut";
  } else if (kind == 7) {
    const std::uint32_t at = position();
    const std::uint32_t length = 1 + random.Below(16);
    bytes.erase(at, length);
    how = "hole";
  } else {
    // A 16- or 32-bit header field forced to an extreme.
    const std::uint32_t at = position();
    const char fill = random.Below(2) == 0 ? '\xFF' : '\0';
    for (std::uint32_t i = 0; i < (kind == 8 ? 2u : 4u) && at + i < size; ++i) bytes[at + i] = fill;
    how = "field";
  }
  return bytes;
}

void Restore(const std::wstring& installation, const Base& base) {
  RemoveTree(installation);
  CreateFolders(installation);
  for (const auto& file : base.made) {
    const std::wstring path = installation + L"\\" + file.first;
    CreateFolders(launcher::ParentFolderOf(path));
    WriteFileBytes(path, OldContent(file.first));
  }
}

TEST(HostileMutation, DamagedArchivesNeverCrashEscapeOrCostAFile) {
  ::SetUnhandledExceptionFilter(ReportCrash);
  TestFolder top;
  const hostile::Sandbox sandbox(top.Path());
  const std::wstring installation = sandbox.Installation();
  const std::wstring archive = installation + L"\\update.zip";

  std::vector<Base> bases;
  for (const wchar_t* name : {L"infozip.zip", L"sevenzip.zip", L"first.zip", L"times.zip",
                              L"attributes.zip", L"encrypted.zip"}) {
    bases.push_back(Base{name, ReadAllBytes(update_testing::FixturePath(name)), {}});
  }
  for (const wchar_t* name : {L"descriptor_signed.zip", L"encrypted_empty_password.zip",
                              L"encrypted_buffers.zip", L"zip64_encrypted.zip",
                              L"empty_items.zip", L"zip64.zip", L"dotdot_mixed.zip",
                              L"streams.zip", L"device_names.zip"}) {
    bases.push_back(Base{name, ReadAllBytes(hostile::HostileFixturePath(name)), {}});
  }
  {
    update_testing::CurrentFolder current(installation);
    for (Base& base : bases) {
      ASSERT_GT(base.bytes.size(), 22u) << Narrow(base.name);
      RemoveTree(installation);
      CreateFolders(installation);
      WriteFileBytes(archive, base.bytes);
      launcher::ExtractUpdateArchive();
      for (const auto& node : hostile::TakeSnapshot(installation)) {
        if (!node.second.folder) base.made[node.first] = node.second.bytes;
      }
      ASSERT_FALSE(base.made.empty()) << Narrow(base.name);
    }
  }

  // A case that hangs is named before the process is ended.
  std::atomic<bool> done(false);
  std::thread watchdog([&done]() {
    unsigned seen = progress.load();
    int quiet = 0;
    while (!done.load()) {
      ::Sleep(250);
      const unsigned now = progress.load();
      quiet = now == seen ? quiet + 1 : 0;
      seen = now;
      if (quiet == 80) {
        std::fprintf(stderr, "mutation case %d hangs (seed %llu)\n", currentCase.load(),
                     static_cast<unsigned long long>(kSeed));
        std::fflush(stderr);
        ::ExitProcess(3);
      }
    }
  });

  const hostile::Snapshot outsideBefore = sandbox.Outside();
  hostile::Random random(kSeed);
  {
    update_testing::CurrentFolder current(installation);
    int failures = 0;
    for (int i = 0; i < kCases && failures < 5; ++i) {
      const Base& base = bases[static_cast<std::size_t>(i) % bases.size()];
      std::string how;
      const std::string mutated = Mutate(base.bytes, random, how);
      Restore(installation, base);
      WriteFileBytes(archive, mutated);
      currentCase = i;
      launcher::ExtractUpdateArchive();
      ++progress;

      std::string problems;
      if (FileExists(archive)) problems += "archive kept; ";
      for (const auto& file : base.made) {
        const std::string after = ReadAllBytes(installation + L"\\" + file.first);
        if (after != OldContent(file.first) && after != file.second) {
          problems += Narrow(file.first) + " holds " + hostile::ToHex(after) + "; ";
        }
      }
      for (const std::wstring& leftover : hostile::TemporaryLeftovers(installation)) {
        problems += "left behind " + Narrow(leftover) + "; ";
      }
      problems += hostile::DescribeDifferences(outsideBefore, sandbox.Outside());
      if (!problems.empty()) {
        ++failures;
        // Kept beside the test folders, so the case can be taken apart.
        const std::wstring kept = top.Path() + L"\\..\\failed-mutation-" + std::to_wstring(i) + L".zip";
        WriteFileBytes(kept, mutated);
        ADD_FAILURE() << "kept as " << Narrow(kept) << "; " << "case " << i << " (" << how << " of " << Narrow(base.name)
                      << ", seed " << kSeed << "): " << problems;
      }
    }
  }
  done = true;
  watchdog.join();
}

}  // namespace
