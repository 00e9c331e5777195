#include "update/archive_rules.h"

#include <algorithm>
#include <cwchar>
#include <initializer_list>

#include <zlib.h>

#include "launcher/base/text_helpers.h"

namespace launcher {
namespace {

// Index just past the first occurrence of pattern in text, or 0 for none.
std::size_t PastFirst(const wchar_t* text, const wchar_t* pattern) {
  const wchar_t* found = std::wcsstr(text, pattern);
  return found == nullptr ? 0 : static_cast<std::size_t>(found - text) + std::wcslen(pattern);
}

wchar_t UpperAscii(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
}

bool EqualsIgnoringCase(const wchar_t* text, std::size_t length, const wchar_t* word) {
  std::size_t i = 0;
  for (; i < length && word[i] != 0; ++i) {
    if (UpperAscii(text[i]) != word[i]) return false;
  }
  return i == length && word[i] == 0;
}

// A component made only of dots and blanks with at least two dots: "..", and
// whatever Windows turns into ".." by dropping trailing dots and blanks.
bool IsParentStep(const wchar_t* component, std::size_t length) {
  std::size_t dots = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (component[i] == L'.') {
      ++dots;
    } else if (component[i] != L' ') {
      return false;
    }
  }
  return dots >= 2;
}

// Checks every component between separators, from start to the end.
bool ComponentsAreSafe(const wchar_t* path, std::size_t start) {
  std::size_t begin = start;
  for (std::size_t i = start;; ++i) {
    const wchar_t c = path[i];
    if (c == L':') return false;
    if (c != 0 && !IsPathSeparator(c)) continue;
    if (IsParentStep(path + begin, i - begin)) return false;
    if (IsReservedDeviceName(path + begin, i - begin)) return false;
    if (c == 0) return true;
    begin = i + 1;
  }
}

constexpr std::uint64_t kUnixEpochInFileTimeSeconds = 11644473600ULL;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000ULL;

}  // namespace

std::size_t NameRulesStart(const wchar_t* name) {
  std::size_t start = 0;
  for (;;) {
    const wchar_t* rest = name + start;
    std::size_t drop = 0;
    if (rest[0] != 0 && rest[1] == L':') {
      drop = 2;
    } else if (IsPathSeparator(rest[0])) {
      drop = 1;
    } else if ((drop = PastFirst(rest, L"\\..\\")) == 0 &&
               (drop = PastFirst(rest, L"\\../")) == 0 &&
               (drop = PastFirst(rest, L"/../")) == 0) {
      drop = PastFirst(rest, L"/..\\");
    }
    if (drop == 0) return start;
    start += drop;
  }
}

bool IsReservedDeviceName(const wchar_t* component, std::size_t length) {
  // The device is named by the part before the first dot, blanks trimmed.
  std::size_t base = 0;
  while (base < length && component[base] != L'.') ++base;
  while (base > 0 && component[base - 1] == L' ') --base;
  if (base == 3) {
    for (const wchar_t* word : {L"CON", L"PRN", L"AUX", L"NUL"}) {
      if (EqualsIgnoringCase(component, 3, word)) return true;
    }
    return false;
  }
  const wchar_t digit = base == 4 ? component[3] : 0;
  const bool deviceDigit = (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' ||
                           digit == L'\u00B2' || digit == L'\u00B3';
  if (deviceDigit) {
    return EqualsIgnoringCase(component, 3, L"COM") || EqualsIgnoringCase(component, 3, L"LPT");
  }
  return (base == 6 && EqualsIgnoringCase(component, 6, L"CONIN$")) ||
         (base == 7 && EqualsIgnoringCase(component, 7, L"CONOUT$"));
}

bool IsSafeRelativeTarget(const wchar_t* path) {
  if (path == nullptr || path[0] == 0) return false;
  return ComponentsAreSafe(path, 0);
}

bool IsSafeAbsoluteTarget(const wchar_t* path) {
  if (path == nullptr || path[0] == 0) return false;
  const std::size_t start = (path[1] == L':') ? 2 : 0;
  return ComponentsAreSafe(path, start);
}

bool IsPlausibleSize(unsigned long method, unsigned long flags, std::uint64_t compressed,
                     std::uint64_t size) {
  constexpr std::uint64_t kDeflateMostPerByte = 1032;
  constexpr std::uint64_t kEncryptionHeader = 12;
  if (method == 0) return size <= compressed;
  if ((flags & 1u) != 0 && compressed >= kEncryptionHeader) compressed -= kEncryptionHeader;
  return compressed <= ~std::uint64_t{0} / kDeflateMostPerByte &&
         size <= compressed * kDeflateMostPerByte + kDeflateMostPerByte;
}

std::vector<bool> FindOverlappingSpans(std::vector<DataSpan> spans, int count) {
  std::vector<bool> overlapping(count > 0 ? static_cast<std::size_t>(count) : 0, false);
  std::sort(spans.begin(), spans.end(),
            [](const DataSpan& a, const DataSpan& b) { return a.start < b.start; });
  // The span reaching furthest so far: any later span that starts before its
  // end shares bytes with it.
  const DataSpan* furthest = nullptr;
  for (const DataSpan& span : spans) {
    if (span.end <= span.start) continue;
    if (furthest != nullptr && span.start < furthest->end) {
      overlapping[static_cast<std::size_t>(span.index)] = true;
      overlapping[static_cast<std::size_t>(furthest->index)] = true;
    }
    if (furthest == nullptr || span.end > furthest->end) furthest = &span;
  }
  return overlapping;
}

bool ParseNumberedName(const wchar_t* name, const wchar_t* prefix, const wchar_t* suffix,
                       std::uint32_t& first, std::uint32_t& second) {
  const std::size_t prefixLength = std::wcslen(prefix);
  if (name == nullptr || std::wcsncmp(name, prefix, prefixLength) != 0) return false;
  const wchar_t* at = name + prefixLength;
  std::uint32_t* numbers[2] = {&first, &second};
  for (int part = 0; part < 2; ++part) {
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (;; ++digits) {
      const wchar_t c = at[digits];
      const bool decimal = c >= L'0' && c <= L'9';
      if (!decimal && !(c >= L'a' && c <= L'f')) break;
      value = value * 16 + static_cast<std::uint32_t>(decimal ? c - L'0' : c - L'a' + 10);
    }
    if (digits == 0 || digits > 8) return false;
    *numbers[part] = value;
    at += digits;
    if (part == 0 && *at++ != L'.') return false;
  }
  return std::wcscmp(at, suffix) == 0;
}

std::wstring TemporaryName(std::uint32_t run, std::uint32_t counter) {
  wchar_t name[32];
  ::wsprintfW(name, L"~upd%lx.%lx.tmp", static_cast<unsigned long>(run),
              static_cast<unsigned long>(counter));
  return name;
}

bool IsExtractionTemporaryName(const wchar_t* name, std::uint32_t* run) {
  std::uint32_t runId = 0;
  std::uint32_t counter = 0;
  if (!ParseNumberedName(name, L"~upd", L".tmp", runId, counter)) return false;
  if (run != nullptr) *run = runId;
  return true;
}

DWORD MapExternalAttributes(unsigned host, std::uint32_t externalAttributes) {
  bool directory = (externalAttributes & 0x40000000u) != 0;
  bool readOnly = (externalAttributes & 0x00800000u) == 0;
  bool hidden = false;
  bool system = false;
  bool archive = true;
  // These hosts keep DOS attribute bits in the low half; they decide instead.
  // Windows NTFS (10) and OS/2 HPFS (6) are among them: read as Unix modes
  // their files would all come out read-only.
  if (host == 0 || host == 6 || host == 7 || host == 10 || host == 11 || host == 14) {
    readOnly = (externalAttributes & 0x01u) != 0;
    hidden = (externalAttributes & 0x02u) != 0;
    system = (externalAttributes & 0x04u) != 0;
    directory = (externalAttributes & 0x10u) != 0;
    archive = (externalAttributes & 0x20u) != 0;
  }
  DWORD attributes = 0;
  if (directory) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (archive) attributes |= FILE_ATTRIBUTE_ARCHIVE;
  if (hidden) attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (readOnly) attributes |= FILE_ATTRIBUTE_READONLY;
  if (system) attributes |= FILE_ATTRIBUTE_SYSTEM;
  return attributes;
}

bool DosDateTimeToUtc(std::uint32_t dosDateTime, FILETIME& utc) {
  utc = FILETIME{};
  const unsigned dosDate = dosDateTime >> 16;
  const unsigned dosTime = dosDateTime & 0xFFFFu;
  SYSTEMTIME local = {};
  local.wYear = static_cast<WORD>((dosDate >> 9) + 1980);
  local.wMonth = static_cast<WORD>((dosDate >> 5) & 15);
  local.wDay = static_cast<WORD>(dosDate & 31);
  local.wHour = static_cast<WORD>(dosTime >> 11);
  local.wMinute = static_cast<WORD>((dosTime >> 5) & 63);
  local.wSecond = static_cast<WORD>((dosTime & 31) * 2);
  FILETIME localTime = {};
  if (!::SystemTimeToFileTime(&local, &localTime)) return false;
  if (!::LocalFileTimeToFileTime(&localTime, &utc)) {
    utc = FILETIME{};
    return false;
  }
  return true;
}

FILETIME UnixSecondsToFileTime(std::int32_t seconds) {
  const std::uint64_t value = static_cast<std::uint64_t>(
      (static_cast<std::int64_t>(seconds) + static_cast<std::int64_t>(kUnixEpochInFileTimeSeconds)) *
      static_cast<std::int64_t>(kFileTimeUnitsPerSecond));
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  result.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return result;
}

void ApplyExtendedTimestamp(const unsigned char* extraField, std::size_t length,
                            ItemTimes& times) {
  std::size_t offset = 0;
  while (offset + 4 < length) {
    const unsigned char* block = extraField + offset;
    const std::size_t dataSize = block[2] | (static_cast<std::size_t>(block[3]) << 8);
    if (block[0] != 'U' || block[1] != 'T') {
      offset += 4 + dataSize;
      continue;
    }
    // The block's data, never beyond the field.
    std::size_t available = length - offset - 4;
    if (dataSize < available) available = dataSize;
    const unsigned char* data = block + 4;
    const unsigned flags = data[0];
    std::size_t position = 1;
    FILETIME* targets[3] = {&times.writeTime, &times.accessTime, &times.creationTime};
    for (unsigned bit = 0; bit < 3; ++bit) {
      if ((flags & (1u << bit)) == 0) continue;
      if (position + 4 > available) break;
      const std::uint32_t raw = data[position] | (static_cast<std::uint32_t>(data[position + 1]) << 8) |
                                (static_cast<std::uint32_t>(data[position + 2]) << 16) |
                                (static_cast<std::uint32_t>(data[position + 3]) << 24);
      *targets[bit] = UnixSecondsToFileTime(static_cast<std::int32_t>(raw));
      position += 4;
    }
    return;
  }
}

TraditionalDecryptor::TraditionalDecryptor() : keys_{0x12345678u, 0x23456789u, 0x34567890u} {}

void TraditionalDecryptor::Decrypt(unsigned char* data, std::size_t length) {
  const z_crc_t* table = get_crc_table();
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint32_t temp = (keys_[2] & 0xFFFFu) | 2u;
    const auto plain =
        static_cast<unsigned char>(data[i] ^ static_cast<unsigned char>((temp * (temp ^ 1u)) >> 8));
    data[i] = plain;
    keys_[0] = table[(keys_[0] ^ plain) & 0xFFu] ^ (keys_[0] >> 8);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFFu)) * 134775813u + 1u;
    keys_[2] = table[(keys_[2] ^ (keys_[1] >> 24)) & 0xFFu] ^ (keys_[2] >> 8);
  }
}

}  // namespace launcher
