#include "update/update_journal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "update/archive.h"
#include "update/archive_rules.h"
#include "update/folder_handles.h"
#include "update/install_tree.h"
#include "zlib.h"

namespace launcher {
namespace {

constexpr char kJournalHeader[] = "quintarelox update journal 1";
// Far more than the journal of any real update; anything larger is not ours.
constexpr DWORD kLongestJournal = 64u << 20;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                          nullptr, nullptr);
  }
  return out;
}

bool FromUtf8(const std::string& text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return false;
  out.assign(static_cast<std::size_t>(size), L'\0');
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(),
                               static_cast<int>(text.size()), &out[0], size) == size;
}

std::uint32_t Crc(const std::string& text) {
  return static_cast<std::uint32_t>(
      ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(text.data()),
              static_cast<uInt>(text.size())));
}

// One name of one folder: nothing that could reach another folder, a stream
// or a device.
bool IsPlainComponent(const std::wstring& name) {
  if (name.empty() || name == L"." || name.find_first_of(L"\\/") != std::wstring::npos) {
    return false;
  }
  for (const wchar_t c : name) {
    if (c < 0x20) return false;
  }
  return IsSafeRelativeTarget(name.c_str());
}

bool IsPlainFolder(const std::wstring& folder) {
  if (folder.empty()) return true;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = folder.find(L'\\', begin);
    if (!IsPlainComponent(folder.substr(begin, end - begin))) return false;
    if (end == std::wstring::npos) return true;
    begin = end + 1;
  }
}

bool IsUpdatesOwnName(const std::wstring& name) {
  return IsExtractionTemporaryName(name.c_str());
}

// A line of a keyword and count numbers, each decimal and whole.
bool ParseNumbers(const std::string& line, const char* keyword, std::size_t count,
                  std::vector<unsigned long long>& numbers) {
  const std::size_t keywordLength = std::strlen(keyword);
  if (line.compare(0, keywordLength, keyword) != 0) return false;
  numbers.clear();
  const char* at = line.c_str() + keywordLength;
  while (*at == ' ') {
    ++at;
    if (*at < '0' || *at > '9') return false;
    char* end = nullptr;
    errno = 0;
    numbers.push_back(std::strtoull(at, &end, 10));
    if (errno != 0) return false;
    at = end;
  }
  return *at == '\0' && numbers.size() == count;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = line.find('\t', begin);
    fields.push_back(line.substr(begin, end - begin));
    if (end == std::string::npos) return fields;
    begin = end + 1;
  }
}

bool ParseLine(const std::string& line, UpdateJournal& journal) {
  const std::vector<std::string> fields = Fields(line);
  std::vector<std::wstring> names(fields.size());
  for (std::size_t i = 1; i < fields.size(); ++i) {
    if (!FromUtf8(fields[i], names[i])) return false;
  }
  if (fields[0] == "replace" && fields.size() == 5) {
    ReplacementNames replacement = {names[1], names[2], names[3], names[4]};
    if (!IsPlainFolder(replacement.folder) || !IsUpdatesOwnName(replacement.temporary) ||
        !IsPlainComponent(replacement.target) || !IsUpdatesOwnName(replacement.backup)) {
      return false;
    }
    journal.replacements.push_back(replacement);
    return true;
  }
  std::vector<unsigned long long> run;
  if (ParseNumbers(line, "staging", 1, run) && run[0] <= 0xFFFFFFFFull && run[0] != 0) {
    journal.stagingRuns.push_back(static_cast<std::uint32_t>(run[0]));
    return true;
  }
  if (fields[0] == "leftover" && fields.size() == 3) {
    if (!IsPlainFolder(names[1]) || !IsUpdatesOwnName(names[2])) return false;
    journal.leftovers.push_back(LeftoverName{names[1], names[2]});
    return true;
  }
  return false;
}

}  // namespace

std::string FormatJournal(const UpdateJournal& journal) {
  std::ostringstream text;
  text << kJournalHeader << '\n'
       << "attempts " << journal.failedAttempts << ' ' << journal.archiveSize << ' '
       << journal.archiveTime << '\n';
  for (const std::uint32_t run : journal.stagingRuns) text << "staging " << run << '\n';
  for (const ReplacementNames& r : journal.replacements) {
    text << "replace\t" << Utf8(r.folder) << '\t' << Utf8(r.temporary) << '\t' << Utf8(r.target)
         << '\t' << Utf8(r.backup) << '\n';
  }
  for (const LeftoverName& leftover : journal.leftovers) {
    text << "leftover\t" << Utf8(leftover.folder) << '\t' << Utf8(leftover.name) << '\n';
  }
  const std::string body = text.str();
  return body + "crc " + std::to_string(Crc(body)) + '\n';
}

bool ParseJournal(const std::string& text, UpdateJournal& journal) {
  journal = UpdateJournal();
  if (text.empty() || text.back() != '\n') return false;
  const std::size_t crcLine = text.rfind('\n', text.size() - 2);
  if (crcLine == std::string::npos) return false;
  const std::string body = text.substr(0, crcLine + 1);
  if (text.compare(crcLine + 1, std::string::npos, "crc " + std::to_string(Crc(body)) + '\n') != 0) {
    return false;
  }
  std::istringstream lines(body);
  std::string line;
  if (!std::getline(lines, line) || line != kJournalHeader) return false;
  std::vector<unsigned long long> attempts;
  if (!std::getline(lines, line) || !ParseNumbers(line, "attempts", 3, attempts) ||
      attempts[0] > kUpdateAttempts) {
    return false;
  }
  journal.failedAttempts = static_cast<std::uint32_t>(attempts[0]);
  journal.archiveSize = attempts[1];
  journal.archiveTime = attempts[2];
  while (std::getline(lines, line)) {
    if (!ParseLine(line, journal)) {
      journal = UpdateJournal();
      return false;
    }
  }
  return true;
}

bool LoadJournal(InstallTree& tree, UpdateJournal& journal) {
  journal = UpdateJournal();
  ScopedFileHandle file;
  const OpenRequest request = {FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, 0};
  if (OpenInFolder(tree.Root(), kUpdateJournalName, request, file) != ERROR_SUCCESS ||
      !tree.IsPlainEntryAt(file.Get(), std::wstring(), kUpdateJournalName)) {
    return false;
  }
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kLongestJournal) return false;
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() &&
      (!::ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) ||
       read != text.size())) {
    return false;
  }
  return ParseJournal(text, journal);
}

bool SaveJournal(InstallTree& tree, const UpdateJournal& journal) {
  if (journal.IsEmpty()) return DeleteLeftover(tree, std::wstring(), kUpdateJournalName);
  // Written whole as a draft, on disk, then renamed over the old one: a kill
  // or a power cut leaves the old journal or the new one. The draft is
  // created anew, never written through (it could be a link to a file
  // elsewhere); a killed run's draft went when this start took the folder.
  ScopedFileHandle file;
  const OpenRequest request = {kWrittenFileAccess, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE,
                               FILE_ATTRIBUTE_NORMAL};
  if (OpenInFolder(tree.Root(), kUpdateJournalDraftName, request, file) != ERROR_SUCCESS) {
    return false;
  }
  const std::string text = FormatJournal(journal);
  DWORD written = 0;
  const bool saved =
      ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size() && ::FlushFileBuffers(file.Get()) &&
      RenameIntoFolder(file.Get(), tree.Root(), kUpdateJournalName, true) == ERROR_SUCCESS;
  if (!saved) (void)DeleteThroughHandle(file);
  return saved;
}

}  // namespace launcher
