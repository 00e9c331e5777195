// Reads from a built Windows image what a release engineer inspects before
// shipping it: the header flags, the sections, the DLLs it imports and the
// names in its COFF symbol table. PE32 and PE32+ alike, so the same checks
// hold for whichever image the build made. Plain file reading, no loader.
#pragma once

#include <windows.h>

#include <cstdint>
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
  WORD dllCharacteristics = 0;
  DWORD relocationBytes = 0;  // size of the base relocation directory
  std::vector<PeSection> sections;
  std::vector<std::string> importedDlls;  // ordinary and delay-loaded
  std::vector<std::string> symbols;       // empty in a stripped image
};

// Never throws on a malformed file: error says what did not fit.
PeImage ReadPeImage(const std::vector<char>& file);

}  // namespace testing_support
