// The parts of update extraction that need no open archive: how stored item
// names are cut and judged, how zip attributes and times become Windows ones,
// and the check of a traditionally encrypted item's header.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace launcher {

// Offset of the part of a decoded item name that is kept: drive prefixes,
// leading separators and everything up to a parent step between separators are
// dropped, repeatedly, from the start.
std::size_t NameRulesStart(const wchar_t* name);

// False when a target path, taken relative to the extraction root, could
// leave that root or name something other than a plain file or folder: a
// component that is ".." once trailing dots and blanks are trimmed (as Windows
// trims them), any ':' (drive-relative names, alternate data streams) or a
// reserved device name, with or without an extension.
bool IsSafeRelativeTarget(const wchar_t* path);

// The same component checks for a path the caller gave as absolute; a drive
// letter and colon at its start are allowed.
bool IsSafeAbsoluteTarget(const wchar_t* path);

// CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 (and COM or LPT with a superscript
// 1, 2 or 3, which Windows reads as the digit), CONIN$, CONOUT$ in any letter
// case, alone or before an extension; the component is length units long.
bool IsReservedDeviceName(const wchar_t* component, std::size_t length);

// Whether size bytes can come out of compressed bytes of data: stored data
// is as long as it is (plus an encryption header), and deflate never
// inflates one byte to more than 1032.
bool IsPlausibleSize(unsigned long method, unsigned long flags, std::uint64_t compressed,
                     std::uint64_t size);

// Where one item's data lies in the archive file: [start, end).
struct DataSpan {
  std::uint64_t start;
  std::uint64_t end;
  int index;
};

// By index below count: true for every item whose data shares at least one
// byte with another item's. Sorts the spans by start, O(n log n).
std::vector<bool> FindOverlappingSpans(std::vector<DataSpan> spans, int count);

// Names of the form <prefix><hex>.<hex><suffix>, each number one to eight
// lowercase hexadecimal digits: the names an update and the launcher's own
// replacement give the files they write or set aside. first and second
// receive the numbers.
bool ParseNumberedName(const wchar_t* name, const wchar_t* prefix, const wchar_t* suffix,
                       std::uint32_t& first, std::uint32_t& second);

// What an update writes before it takes its place, and what it moves aside:
// "~upd", the update's run id and a counter in hex, ".tmp".
std::wstring TemporaryName(std::uint32_t run, std::uint32_t counter);
// True for such a name; run (when given) receives its run id.
bool IsExtractionTemporaryName(const wchar_t* name, std::uint32_t* run = nullptr);

// Windows attribute bits for an item made on the given host (the high byte of
// "version made by") with the given external attributes.
DWORD MapExternalAttributes(unsigned host, std::uint32_t externalAttributes);

// A DOS date (high half) and time (low half), read as local time, in UTC.
// False, with the result zero, when they form no valid calendar time.
bool DosDateTimeToUtc(std::uint32_t dosDateTime, FILETIME& utc);

// Seconds since 1970-01-01 00:00 UTC as a FILETIME.
FILETIME UnixSecondsToFileTime(std::int32_t seconds);

struct ItemTimes {
  FILETIME accessTime;
  FILETIME creationTime;
  FILETIME writeTime;
};

// Overrides times from the first extended timestamp ("UT") block of a local
// extra field. A count that lies beyond its block or the field is not used.
void ApplyExtendedTimestamp(const unsigned char* extraField, std::size_t length,
                            ItemTimes& times);

// Traditional PKWARE decryption with the empty password, the only one the
// launcher tries. The first 12 bytes of an item's data are its encryption
// header; the last of them, decrypted, is the item's check byte.
class TraditionalDecryptor {
 public:
  TraditionalDecryptor();
  void Decrypt(unsigned char* data, std::size_t length);

 private:
  std::uint32_t keys_[3];
};

}  // namespace launcher
