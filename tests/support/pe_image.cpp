#include "tests/support/pe_image.h"

#include <algorithm>
#include <cstring>

#include "tests/support/test_support.h"

namespace testing_support {
namespace {

class FileView {
 public:
  explicit FileView(const std::vector<char>& file) : file_(file) {}

  template <typename T>
  bool Read(std::uint64_t offset, T* out) const {
    if (offset > file_.size() || file_.size() - offset < sizeof(T)) return false;
    std::memcpy(out, file_.data() + offset, sizeof(T));
    return true;
  }

  // A zero-terminated string at offset; empty when it runs off the file.
  std::string String(std::uint64_t offset) const {
    if (offset >= file_.size()) return std::string();
    const char* begin = file_.data() + offset;
    const void* end = std::memchr(begin, 0, file_.size() - offset);
    return end ? std::string(begin, static_cast<const char*>(end)) : std::string();
  }

 private:
  const std::vector<char>& file_;
};

struct SectionPlacement {
  DWORD virtualAddress;
  DWORD virtualSize;
  DWORD rawOffset;
};

// The file offset of a relative virtual address, or 0 when no section holds it.
std::uint64_t FileOffset(const std::vector<SectionPlacement>& placements, DWORD rva) {
  for (const SectionPlacement& section : placements) {
    if (rva >= section.virtualAddress && rva - section.virtualAddress < section.virtualSize) {
      return std::uint64_t{section.rawOffset} + (rva - section.virtualAddress);
    }
  }
  return 0;
}

// Import descriptors, ordinary or delay-load, end with one whose name is zero;
// a name outside the file ends the list as well.
template <typename Descriptor>
void ReadImportNames(const FileView& view, const std::vector<SectionPlacement>& placements,
                     DWORD directoryRva, DWORD Descriptor::*nameRva,
                     std::vector<std::string>* names) {
  for (std::uint64_t at = directoryRva ? FileOffset(placements, directoryRva) : 0; at != 0;
       at += sizeof(Descriptor)) {
    Descriptor descriptor;
    if (!view.Read(at, &descriptor) || descriptor.*nameRva == 0) break;
    const std::uint64_t name = FileOffset(placements, descriptor.*nameRva);
    if (name == 0) break;
    names->push_back(view.String(name));
  }
}

}  // namespace

PeImage ReadPeImage(const std::vector<char>& file) {
  PeImage image;
  const FileView view(file);
  IMAGE_DOS_HEADER dos;
  if (!view.Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
    image.error = "no MZ header";
    return image;
  }
  const std::uint64_t ntOffset = static_cast<std::uint32_t>(dos.e_lfanew);
  DWORD signature = 0;
  IMAGE_FILE_HEADER header;
  WORD magic = 0;
  if (!view.Read(ntOffset, &signature) || signature != IMAGE_NT_SIGNATURE ||
      !view.Read(ntOffset + sizeof(DWORD), &header) ||
      !view.Read(ntOffset + sizeof(DWORD) + sizeof(header), &magic)) {
    image.error = "no PE header";
    return image;
  }
  const std::uint64_t optionalOffset = ntOffset + sizeof(DWORD) + sizeof(header);
  IMAGE_DATA_DIRECTORY directories[IMAGE_NUMBEROF_DIRECTORY_ENTRIES] = {};
  DWORD directoryCount = 0;
  if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    IMAGE_OPTIONAL_HEADER64 optional;
    if (!view.Read(optionalOffset, &optional)) image.error = "short PE32+ header";
    image.is64Bit = true;
    image.dllCharacteristics = optional.DllCharacteristics;
    directoryCount = optional.NumberOfRvaAndSizes;
    std::memcpy(directories, optional.DataDirectory, sizeof(directories));
  } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    IMAGE_OPTIONAL_HEADER32 optional;
    if (!view.Read(optionalOffset, &optional)) image.error = "short PE32 header";
    image.dllCharacteristics = optional.DllCharacteristics;
    directoryCount = optional.NumberOfRvaAndSizes;
    std::memcpy(directories, optional.DataDirectory, sizeof(directories));
  } else {
    image.error = "unknown optional header";
  }
  if (!image.error.empty()) return image;
  image.machine = header.Machine;
  auto directory = [&](int index) {
    return static_cast<DWORD>(index) < directoryCount ? directories[index] : IMAGE_DATA_DIRECTORY{};
  };
  image.relocationBytes = directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size;

  std::vector<SectionPlacement> placements;
  const std::uint64_t sectionTable = optionalOffset + header.SizeOfOptionalHeader;
  for (WORD i = 0; i < header.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section;
    if (!view.Read(sectionTable + i * sizeof(section), &section)) {
      image.error = "short section table";
      return image;
    }
    const char* name = reinterpret_cast<const char*>(section.Name);
    image.sections.push_back({std::string(name, strnlen(name, IMAGE_SIZEOF_SHORT_NAME)),
                              section.Characteristics});
    placements.push_back({section.VirtualAddress,
                          std::max(section.Misc.VirtualSize, section.SizeOfRawData),
                          section.PointerToRawData});
  }

  ReadImportNames(view, placements, directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress,
                  &IMAGE_IMPORT_DESCRIPTOR::Name, &image.importedDlls);
  ReadImportNames(view, placements, directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT).VirtualAddress,
                  &IMAGE_DELAYLOAD_DESCRIPTOR::DllNameRVA, &image.importedDlls);

  // COFF symbols: a short name inline, a long one in the string table that
  // follows the symbols.
  const std::uint64_t symbolTable = header.PointerToSymbolTable;
  const std::uint64_t stringTable = symbolTable + std::uint64_t{header.NumberOfSymbols} * IMAGE_SIZEOF_SYMBOL;
  for (DWORD i = 0; symbolTable != 0 && i < header.NumberOfSymbols; ++i) {
    IMAGE_SYMBOL symbol;
    if (!view.Read(symbolTable + std::uint64_t{i} * IMAGE_SIZEOF_SYMBOL, &symbol)) break;
    if (symbol.N.Name.Short != 0) {
      const char* name = reinterpret_cast<const char*>(symbol.N.ShortName);
      image.symbols.emplace_back(name, strnlen(name, sizeof(symbol.N.ShortName)));
    } else {
      image.symbols.push_back(view.String(stringTable + symbol.N.Name.Long));
    }
    i += symbol.NumberOfAuxSymbols;
  }
  return image;
}

void PrintTo(const BuiltImage& image, std::ostream* out) { *out << image.label; }

std::vector<BuiltImage> LauncherImages() {
  std::vector<BuiltImage> images = {
      {"launcher", BinFolder() + L"\\launcher.exe", sizeof(void*) == 4}};
#ifdef SHIPPED_I686_LAUNCHER
  images.push_back({"shipped_i686_launcher", L"" SHIPPED_I686_LAUNCHER, true});
#endif
  return images;
}

}  // namespace testing_support
