// What a release engineer checks in the built images before shipping them,
// read from the files themselves: only Windows' own DLLs imported, and a
// hardened launcher.exe. The checks hold for PE32 and PE32+ images alike; each
// prints what it found.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/pe_image.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::BuiltImage;
using testing_support::LauncherImages;
using testing_support::PeImage;

std::vector<BuiltImage> ShippedImages() {
  std::vector<BuiltImage> images = LauncherImages();
  images.push_back({"vorlan", testing_support::BinFolder() + L"\\vorlan.exe", false});
  return images;
}

PeImage ReadBuiltImage(const BuiltImage& image) {
  return testing_support::ReadPeImage(testing_support::ReadFileBytes(image.path));
}

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// DLLs that every supported Windows has in its system folder.
bool IsWindowsOwnDll(const std::string& name) {
  static const char* const kWindowsDlls[] = {
      "advapi32.dll", "bcrypt.dll",  "comctl32.dll", "comdlg32.dll", "crypt32.dll",
      "gdi32.dll",    "kernel32.dll", "msvcrt.dll",  "ntdll.dll",    "ole32.dll",
      "oleaut32.dll", "rpcrt4.dll",  "shell32.dll",  "shlwapi.dll",  "user32.dll",
      "version.dll",  "ws2_32.dll"};
  const std::string lower = Lowercase(name);
  return std::any_of(std::begin(kWindowsDlls), std::end(kWindowsDlls),
                     [&](const char* dll) { return lower == dll; });
}

class ShippedImage : public testing::TestWithParam<BuiltImage> {};

TEST_P(ShippedImage, ImportsOnlyWindowsOwnDlls) {
  const PeImage image = ReadBuiltImage(GetParam());
  ASSERT_EQ(image.error, "");
  ASSERT_FALSE(image.importedDlls.empty());
  for (const std::string& dll : image.importedDlls) {
    std::cout << "imports " << dll << "\n";
    EXPECT_TRUE(IsWindowsOwnDll(dll)) << dll << " is not part of Windows: link it statically";
  }
}

INSTANTIATE_TEST_SUITE_P(Built, ShippedImage, testing::ValuesIn(ShippedImages()),
                         [](const testing::TestParamInfo<BuiltImage>& info) {
                           return std::string(info.param.label);
                         });

bool HasSymbol(const PeImage& image, const std::string& name) {
  // 32-bit images carry a leading underscore on C names.
  return std::any_of(image.symbols.begin(), image.symbols.end(), [&](const std::string& symbol) {
    return symbol == name || symbol == "_" + name;
  });
}

struct Finding {
  bool holds;
  std::string detail;
};

Finding AddressSpaceRandomisation(const PeImage& image) {
  // Without relocations the loader cannot move the image, whatever the flag says.
  const bool flag = (image.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) != 0;
  return {flag && image.relocationBytes > 0,
          std::string("DYNAMIC_BASE ") + (flag ? "set" : "missing") + ", relocations " +
              std::to_string(image.relocationBytes) + " bytes"};
}

Finding HighEntropyAddresses(const PeImage& image) {
  if (!image.is64Bit) return {true, "PE32 image: not applicable"};
  const bool flag = (image.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) != 0;
  return {flag, std::string("HIGH_ENTROPY_VA ") + (flag ? "set" : "missing")};
}

Finding DataExecutionPrevention(const PeImage& image) {
  const bool flag = (image.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) != 0;
  return {flag, std::string("NX_COMPAT ") + (flag ? "set" : "missing")};
}

Finding NoWritableCode(const PeImage& image) {
  std::string both;
  for (const testing_support::PeSection& section : image.sections) {
    const DWORD writableCode = IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE;
    if ((section.characteristics & writableCode) == writableCode) both += " " + section.name;
  }
  return {both.empty(), both.empty() ? std::to_string(image.sections.size()) +
                                           " sections, none both writable and executable"
                                     : "writable and executable:" + both};
}

Finding StackProtection(const PeImage& image) {
  if (image.symbols.empty()) return {false, "no symbol table to look in (stripped image)"};
  const bool linked = HasSymbol(image, "__stack_chk_fail") && HasSymbol(image, "__stack_chk_guard");
  return {linked, linked ? "__stack_chk_guard and __stack_chk_fail linked in"
                         : "no stack protector support code"};
}

Finding FortifiedBufferCalls(const PeImage& image) {
  // The checking variants (__memcpy_chk and its kin) only come in when
  // fortified calls use them.
  std::string checked;
  for (const std::string& symbol : image.symbols) {
    const std::string bare = symbol.rfind("___", 0) == 0 ? symbol.substr(1) : symbol;
    const bool isCheck = bare.rfind("__", 0) == 0 && bare.size() > 6 &&
                         bare.compare(bare.size() - 4, 4, "_chk") == 0 &&
                         bare.rfind("__stack_chk", 0) != 0;
    if (isCheck && checked.find(" " + bare) == std::string::npos) checked += " " + bare;
  }
  return {!checked.empty(), checked.empty() ? "no checked buffer calls linked in"
                                            : "checked calls:" + checked};
}

struct ImageProperty {
  const char* name;
  Finding (*check)(const PeImage&);
};

void PrintTo(const ImageProperty& property, std::ostream* out) { *out << property.name; }

const ImageProperty kLauncherProperties[] = {
    {"AddressSpaceRandomisation", &AddressSpaceRandomisation},
    {"HighEntropyAddressesOn64Bit", &HighEntropyAddresses},
    {"DataExecutionPrevention", &DataExecutionPrevention},
    {"NoWritableExecutableSection", &NoWritableCode},
    {"StackProtection", &StackProtection},
    {"FortifiedBufferCalls", &FortifiedBufferCalls},
};

class LauncherHardening
    : public testing::TestWithParam<std::tuple<ImageProperty, BuiltImage>> {};

TEST_P(LauncherHardening, Holds) {
  const ImageProperty& property = std::get<0>(GetParam());
#ifdef _MSC_VER
  if (property.check == &StackProtection || property.check == &FortifiedBufferCalls) {
    GTEST_SKIP() << "the evidence looked for is GCC's; MSVC builds use /GS";
  }
#endif
  const PeImage image = ReadBuiltImage(std::get<1>(GetParam()));
  ASSERT_EQ(image.error, "");
  const Finding finding = property.check(image);
  std::cout << property.name << " (" << (image.is64Bit ? "PE32+" : "PE32") << "): " << finding.detail
            << "\n";
  EXPECT_TRUE(finding.holds) << finding.detail;
}

INSTANTIATE_TEST_SUITE_P(
    Image, LauncherHardening,
    testing::Combine(testing::ValuesIn(kLauncherProperties), testing::ValuesIn(LauncherImages())),
    [](const testing::TestParamInfo<std::tuple<ImageProperty, BuiltImage>>& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).label;
    });

}  // namespace
