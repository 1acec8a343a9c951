// What the two binaries tell Windows about themselves: the version block that Explorer's
// properties and the uninstall entry show, and the launcher's manifest and icon; read from the
// files as the system reads them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

struct Binary {
  const char* path;
  const char* description;
  const char* originalName;
  DWORD fileType;
};
const Binary BINARIES[] = {
    {ORVANE_LAUNCHER_PROGRAM, "Orvane exchange rates", "orvane.exe", VFT_APP},
    {ORVANE_LIBRARY, "Orvane exchange rates library", "BrennikDll.dll", VFT_DLL},
};

std::optional<std::string> VersionString(const std::vector<char>& block, const std::string& name) {
  char* value = nullptr;
  UINT length = 0;
  const std::string path = "\\StringFileInfo\\040904b0\\" + name;
  if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value) {
    return std::nullopt;
  }
  return std::string(value);
}

std::vector<char> VersionBlock(const char* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  std::vector<char> block(size);
  if (size == 0 || !GetFileVersionInfoA(path, 0, size, block.data())) block.clear();
  return block;
}

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR parameter) {
  auto& types = *reinterpret_cast<std::set<ULONG_PTR>*>(parameter);
  if (IS_INTRESOURCE(type)) types.insert(reinterpret_cast<ULONG_PTR>(type));
  return TRUE;
}

}  // namespace

TEST(VersionResource, BothBinariesNameTheProductTheMakerAndTheOneVersion) {
  for (const Binary& binary : BINARIES) {
    const std::vector<char> block = VersionBlock(binary.path);
    ASSERT_FALSE(block.empty()) << binary.path;
    EXPECT_EQ(VersionString(block, "ProductName"), "Orvane") << binary.path;
    EXPECT_EQ(VersionString(block, "CompanyName"), "Brennik Software") << binary.path;
    EXPECT_EQ(VersionString(block, "FileDescription"), binary.description) << binary.path;
    EXPECT_EQ(VersionString(block, "OriginalFilename"), binary.originalName) << binary.path;
    EXPECT_EQ(VersionString(block, "FileVersion"), ORVANE_VERSION_TEXT) << binary.path;
    EXPECT_EQ(VersionString(block, "ProductVersion"), ORVANE_VERSION_TEXT) << binary.path;

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(std::string(numbers), ORVANE_VERSION_TEXT) << binary.path;
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS) << binary.path;
    EXPECT_EQ(fixed->dwFileType, binary.fileType) << binary.path;
  }
}

TEST(LauncherResources, AreItsIconManifestAndVersionOnly) {
  const HMODULE launcher = LoadLibraryExA(ORVANE_LAUNCHER_PROGRAM, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(launcher, nullptr);
  std::set<ULONG_PTR> types;
  EnumResourceTypesA(launcher, CollectType, reinterpret_cast<LONG_PTR>(&types));
  EXPECT_EQ(types,
            (std::set<ULONG_PTR>{reinterpret_cast<ULONG_PTR>(RT_ICON), reinterpret_cast<ULONG_PTR>(RT_GROUP_ICON),
                                 reinterpret_cast<ULONG_PTR>(RT_VERSION), reinterpret_cast<ULONG_PTR>(RT_MANIFEST)}));

  // The manifest the loader reads for a program: runs as its user, declares the systems it
  // knows, and leaves DPI scaling to Windows, which then scales the bitmap window as a whole.
  HRSRC found = FindResourceA(launcher, MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(launcher, found)));
  const std::string manifest(text, SizeofResource(launcher, found));
  FreeLibrary(launcher);
  EXPECT_NE(manifest.find(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"), std::string::npos);
  EXPECT_NE(manifest.find(R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)"), std::string::npos)
      << "Windows 10 and 11";
  EXPECT_NE(manifest.find(R"(<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>)"), std::string::npos)
      << "Windows 7";
  EXPECT_EQ(manifest.find("<dpiAware"), std::string::npos);
  EXPECT_EQ(manifest.find("<dpiAwareness"), std::string::npos);
}
