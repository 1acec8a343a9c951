#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "pe_builder.h"
#include "test_support.h"
#include "update/pe_image.h"

namespace {

bool Check(const std::vector<std::uint8_t>& image, std::uint16_t machine = RUNNING_MACHINE) {
  return IsPeLibraryWithExport(image, machine, "RunBrennikDll");
}

TEST(PeImage, AcceptsACompleteLibraryWithTheExport) {
  EXPECT_TRUE(Check(BuildLibraryImage()));
  EXPECT_TRUE(Check(BuildLibraryImage({.machine = MACHINE_I386}), MACHINE_I386));
  EXPECT_TRUE(Check(BuildLibraryImage({.machine = MACHINE_AMD64, .size = 1100}), MACHINE_AMD64));
}

TEST(PeImage, RejectsEverythingElse) {
  const auto good = BuildLibraryImage();
  const std::vector<std::uint8_t> truncated(good.begin(), good.end() - 1);
  auto noMz = good;
  noMz[0] = 'X';
  auto farHeader = good;
  farHeader[0x3C] = 0xFF, farHeader[0x3D] = 0xFF, farHeader[0x3E] = 0xFF, farHeader[0x3F] = 0x7F;
  auto noSections = good;
  noSections[0x46] = 0;
  auto noExportDirectory = good;
  const std::size_t directories = 0x44 + 20 + (RUNNING_MACHINE == MACHINE_I386 ? 96 : 112);
  noExportDirectory[directories] = 0, noExportDirectory[directories + 1] = 0;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> image;
  } cases[] = {
      {"empty", {}},
      {"truncated by one byte", truncated},
      {"section beyond the file", BuildLibraryImage({.claimExtra = 4096})},
      {"no MZ", noMz},
      {"PE header beyond the file", farHeader},
      {"no sections", noSections},
      {"no export directory", noExportDirectory},
      {"not a DLL", BuildLibraryImage({.dll = false})},
      {"other export", BuildLibraryImage({.exportName = "RunBrennikDl"})},
      {"longer export name", BuildLibraryImage({.exportName = "RunBrennikDllX"})},
      {"forwarded export", BuildLibraryImage({.forwarded = true})},
      {"only the headers", std::vector<std::uint8_t>(good.begin(), good.begin() + 0x200)},
  };
  for (const auto& c : cases) EXPECT_FALSE(Check(c.image)) << c.name;
  EXPECT_FALSE(Check(good, RUNNING_MACHINE == MACHINE_I386 ? MACHINE_AMD64 : MACHINE_I386)) << "other machine";
}

#ifdef ORVANE_TEST_LIBRARY
// A real library built by the MinGW toolchain, and a real program that is not a library.
TEST(PeImage, JudgesRealFilesOfTheToolchain) {
  const auto library = ReadFileBytes(ORVANE_TEST_LIBRARY);
  ASSERT_TRUE(library);
  EXPECT_TRUE(Check(*library));
  auto cut = *library;
  cut.resize(cut.size() / 2);
  EXPECT_FALSE(Check(cut));
  const auto program = ReadFileBytes(ORVANE_TEST_PROGRAM);
  ASSERT_TRUE(program);
  EXPECT_FALSE(Check(*program));
}
#endif

TEST(PeImage, FileVersionComesFromTheVersionResourceAlone) {
  const auto good = BuildLibraryImage();
  // Offsets of the resource data as the builder lays it out (file offset 0x300).
  auto badSignature = good;
  badSignature[0x300 + 0x58 + 40] ^= 1;
  auto badKey = good;
  badKey[0x300 + 0x58 + 6] = 'W';
  auto noVersionType = good;
  noVersionType[0x300 + 16] = 6;  // RT_STRING in place of RT_VERSION
  auto dataOutside = good;
  dataOutside[0x300 + 0x48 + 3] = 0x7F;  // the data's address far beyond the section
  auto leafForDirectory = good;
  leafForDirectory[0x300 + 20 + 3] = 0;  // the type entry points at data, not a directory
  auto shortData = good;
  shortData[0x300 + 0x4C] = 60;  // too short for VS_FIXEDFILEINFO
  struct Case {
    const char* name;
    std::vector<std::uint8_t> image;
    std::optional<std::pair<int, int>> version;
  } cases[] = {
      {"1.2", good, std::pair{1, 2}},
      {"2.5", BuildLibraryImage({.fileVersion = PeFileVersion{2, 5}}), std::pair{2, 5}},
      {"no resource", BuildLibraryImage({.fileVersion = std::nullopt}), std::nullopt},
      {"fixed info without its signature", badSignature, std::nullopt},
      {"another key", badKey, std::nullopt},
      {"no version type", noVersionType, std::nullopt},
      {"data outside the file", dataOutside, std::nullopt},
      {"data where a directory belongs", leafForDirectory, std::nullopt},
      {"data too short", shortData, std::nullopt},
      {"empty", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto version = ReadPeFileVersion(c.image, RUNNING_MACHINE);
    ASSERT_EQ(version.has_value(), c.version.has_value()) << c.name;
    if (version) {
      EXPECT_EQ((std::pair<int, int>(version->major, version->minor)), *c.version) << c.name;
    }
  }
  const std::uint16_t otherMachine = RUNNING_MACHINE == MACHINE_I386 ? MACHINE_AMD64 : MACHINE_I386;
  EXPECT_FALSE(ReadPeFileVersion(good, otherMachine));
}

}  // namespace
