#include "desktop/shell_link_file.h"

#include <cstdint>
#include <cstring>

namespace launcher {
namespace {

// Link flags of the header.
constexpr std::uint32_t kHasTargetItems = 0x1;
constexpr std::uint32_t kHasLinkInfo = 0x2;
constexpr std::uint32_t kHasName = 0x4;
constexpr std::uint32_t kHasRelativePath = 0x8;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;
constexpr std::uint32_t kHasExpString = 0x200;
constexpr std::uint32_t kHasDarwinId = 0x1000;
constexpr std::uint32_t kHasExpIcon = 0x4000;
constexpr std::uint32_t kPreferEnvironmentPath = 0x2000000;

constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr unsigned char kShellLinkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::size_t kFlagsOffset = 0x14;
constexpr std::size_t kIconIndexOffset = 0x38;

constexpr std::uint32_t kIconEnvironmentSignature = 0xA0000007;
// Size, signature, 260 narrow characters, then 260 UTF-16 units.
constexpr std::uint32_t kIconEnvironmentBlockSize = 0x314;
constexpr std::size_t kIconEnvironmentUnicodeOffset = 8 + 260;
constexpr std::size_t kIconEnvironmentUnits = 260;

// Little-endian reads that never pass the end of the bytes.
class Reader {
 public:
  Reader(const unsigned char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

  bool Has(std::size_t count) const { return count <= size_ - position_; }
  std::size_t Position() const { return position_; }

  template <typename T>
  bool Read(T& value) {
    if (!Has(sizeof(T))) return false;
    std::memcpy(&value, bytes_ + position_, sizeof(T));
    position_ += sizeof(T);
    return true;
  }
  bool Skip(std::size_t count) {
    if (!Has(count)) return false;
    position_ += count;
    return true;
  }
  const unsigned char* Here() const { return bytes_ + position_; }

 private:
  const unsigned char* bytes_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// Items of at least their own size field each, ending with the two-byte
// terminator exactly at the end of the list.
bool IsWholeItemList(const unsigned char* list, std::size_t size) {
  Reader items(list, size);
  for (std::uint16_t itemSize = 0; items.Read(itemSize);) {
    if (itemSize == 0) return items.Position() == size;
    if (itemSize < sizeof(itemSize) || !items.Skip(itemSize - sizeof(itemSize))) return false;
  }
  return false;
}

// A counted UTF-16 string of the string data. Wine counts a terminator in,
// which the text ends at as it does for the shell.
bool ReadCountedString(Reader& reader, std::wstring& text) {
  std::uint16_t units = 0;
  if (!reader.Read(units) || !reader.Has(std::size_t{units} * 2)) return false;
  text.clear();
  for (std::uint16_t unit = 0; units > 0; --units) {
    reader.Read(unit);
    if (unit == 0) return reader.Skip((std::size_t{units} - 1) * 2);
    text.push_back(static_cast<wchar_t>(unit));
  }
  return true;
}

// The extra data blocks that follow the strings, up to the terminal block:
// the icon's environment-variable form when the flags say it is there.
bool ReadIconEnvironment(Reader& reader, std::wstring& unexpanded) {
  for (std::uint32_t blockSize = 0; reader.Read(blockSize) && blockSize >= 4;) {
    const unsigned char* block = reader.Here() - sizeof(blockSize);
    std::uint32_t signature = 0;
    if (blockSize < 8 || !reader.Read(signature) || !reader.Skip(blockSize - 8)) return false;
    if (signature != kIconEnvironmentSignature) continue;
    if (blockSize != kIconEnvironmentBlockSize) return false;
    Reader text(block + kIconEnvironmentUnicodeOffset, kIconEnvironmentUnits * 2);
    for (std::uint16_t unit = 0; text.Read(unit) && unit != 0;) {
      unexpanded.push_back(static_cast<wchar_t>(unit));
    }
    return !unexpanded.empty();
  }
  return false;
}

}  // namespace

std::optional<ShellLinkFile> ReadShellLinkFile(const unsigned char* bytes, std::size_t size) {
  Reader reader(bytes, size);
  std::uint32_t headerSize = 0;
  std::uint32_t flags = 0;
  std::int32_t iconIndex = 0;
  if (!reader.Read(headerSize) || headerSize != kHeaderSize || !reader.Has(kHeaderSize - 4) ||
      std::memcmp(reader.Here(), kShellLinkClassId, sizeof(kShellLinkClassId)) != 0) {
    return std::nullopt;
  }
  std::memcpy(&flags, bytes + kFlagsOffset, sizeof(flags));
  std::memcpy(&iconIndex, bytes + kIconIndexOffset, sizeof(iconIndex));
  reader.Skip(kHeaderSize - 4);
  if ((flags & kIsUnicode) == 0 ||
      (flags & (kHasExpString | kHasDarwinId | kPreferEnvironmentPath)) != 0) {
    return std::nullopt;
  }

  ShellLinkFile link;
  link.iconIndex = iconIndex;
  if ((flags & kHasTargetItems) != 0) {
    std::uint16_t listSize = 0;
    if (!reader.Read(listSize) || !reader.Has(listSize) ||
        !IsWholeItemList(reader.Here(), listSize)) {
      return std::nullopt;
    }
    link.targetItems.assign(reader.Here(), reader.Here() + listSize);
    reader.Skip(listSize);
  }
  if ((flags & kHasLinkInfo) != 0) {
    // The size counts its own four bytes.
    std::uint32_t infoSize = 0;
    if (!reader.Read(infoSize) || infoSize < sizeof(infoSize) ||
        !reader.Skip(infoSize - sizeof(infoSize))) {
      return std::nullopt;
    }
  }

  // The string data, each present when its flag is set, in this order.
  std::wstring relativePath, arguments;
  const struct {
    std::uint32_t flag;
    std::wstring* text;
  } strings[] = {{kHasName, &link.description},
                 {kHasRelativePath, &relativePath},
                 {kHasWorkingDir, &link.workingFolder},
                 {kHasArguments, &arguments},
                 {kHasIconLocation, &link.iconLocation}};
  for (const auto& string : strings) {
    if ((flags & string.flag) != 0 && !ReadCountedString(reader, *string.text)) {
      return std::nullopt;
    }
  }
  if ((flags & kHasExpIcon) != 0 && !ReadIconEnvironment(reader, link.iconLocationUnexpanded)) {
    return std::nullopt;
  }
  return link;
}

}  // namespace launcher
