// Reads from a built Windows image what a release engineer inspects before
// shipping it: the header flags, the sections, the DLLs it imports and the
// names in its COFF symbol table. PE32 and PE32+ alike, so the same checks
// hold for whichever image the build made. Plain file reading, no loader.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

struct PeSection {
  std::string name;
  DWORD characteristics = 0;
};

struct PeImage {
  std::string error;  // empty when the file was read as a PE image
  bool is64Bit = false;
  WORD machine = 0;  // IMAGE_FILE_MACHINE_*
  WORD dllCharacteristics = 0;
  DWORD relocationBytes = 0;  // size of the base relocation directory
  std::vector<PeSection> sections;
  std::vector<std::string> importedDlls;  // ordinary and delay-loaded
  std::vector<std::string> symbols;       // empty in a stripped image
};

// Never throws on a malformed file: error says what did not fit.
PeImage ReadPeImage(const std::vector<char>& file);

// An image this build made, and the name its tests carry.
struct BuiltImage {
  const char* label;
  std::wstring path;
  bool shipped;  // the 32-bit launcher.exe that ships
};

void PrintTo(const BuiltImage& image, std::ostream* out);

// The build's own launcher.exe (the shipped one where the build is 32-bit)
// and, where the build is the 64-bit stand-in, the shipped 32-bit one built
// beside it.
std::vector<BuiltImage> LauncherImages();

}  // namespace testing_support
