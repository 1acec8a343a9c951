#include <gtest/gtest.h>

#include "program_paths.h"
#include "refused_updates.h"

TEST(ProgramPaths, FolderIsEverythingBeforeTheLastBackslash) {
  struct Case {
    const wchar_t* modulePath;
    const wchar_t* folder;
  };
  const Case cases[] = {
      {L"C:\\Program Files\\Orvane\\orvane.exe", L"C:\\Program Files\\Orvane"},
      {L"C:\\orvane.exe", L"C:"},  // the root of a drive leaves the drive alone
      {L"\\\\server\\share\\orvane.exe", L"\\\\server\\share"},
      {L"C:\\odd.dir\\orvane", L"C:\\odd.dir"},
      {L"C:\\Program\u0103\\orvane.exe", L"C:\\Program\u0103"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgramDirectory(c.modulePath), c.folder);
  }
}

TEST(ProgramPaths, PathWithoutBackslashHasNoFolder) {
  EXPECT_EQ(ProgramDirectory(L"orvane.exe"), std::nullopt);
  EXPECT_EQ(ProgramDirectory(L""), std::nullopt);
}

TEST(ProgramPaths, FilePathJoinsFolderAndNameWithOneBackslash) {
  EXPECT_EQ(ProgramFilePath(L"C:", L"BrennikDll.dll"), L"C:\\BrennikDll.dll");
  EXPECT_EQ(ProgramFilePath(L"C:\\Orvane", L"BrennikDllUpdate.dll"), L"C:\\Orvane\\BrennikDllUpdate.dll");
}

TEST(ProgramPaths, LongPathsAreKeptWhole) {
  const std::wstring folder = L"C:\\" + std::wstring(300, L'a') + L"\\" + std::wstring(200, L'b');
  const auto found = ProgramDirectory(folder + L"\\orvane.exe");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, folder);
  EXPECT_EQ(ProgramFilePath(*found, L"BrennikDll.dll"), folder + L"\\BrennikDll.dll");
}

TEST(ProgramPaths, OnlyLongPathsTakeTheExtendedForm) {
  const std::wstring tail(260, L'x');  // long enough on its own
  struct Case {
    std::wstring path;
    std::wstring expected;
  };
  const Case cases[] = {
      {L"C:\\Orvane\\BrennikDll.dll", L"C:\\Orvane\\BrennikDll.dll"},
      {L"C:\\" + std::wstring(256, L'x'), L"C:\\" + std::wstring(256, L'x')},  // 259 characters: still plain
      {L"C:\\" + std::wstring(257, L'x'), L"\\\\?\\C:\\" + std::wstring(257, L'x')},
      {L"C:\\" + tail, L"\\\\?\\C:\\" + tail},
      {L"\\\\server\\share\\" + tail, L"\\\\?\\UNC\\server\\share\\" + tail},
      {L"\\\\?\\C:\\" + tail, L"\\\\?\\C:\\" + tail},          // already extended
      {L"\\\\.\\device\\" + tail, L"\\\\.\\device\\" + tail},  // a device path is no file path
      {L"relative\\" + tail, L"relative\\" + tail},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtendedLengthPath(c.path), c.expected) << c.path.size();
  }
}

TEST(RefusedUpdates, VersionIsAddedToTheListOrEveryUpdateIsRefused) {
  struct Case {
    const wchar_t* refused;
    const wchar_t* version;
    const wchar_t* list;
  };
  const Case cases[] = {
      {L"", L"1.2", L"1.2"},    {L"1.2", L"1.3", L"1.2;1.3"}, {L"", L"", L"*"},  // the library named no version
      {L"1.2", L"", L"1.2;*"},                                                   // and the earlier ones stay listed
      {L"", L"1.2;1.3", L"*"},                                                   // a version that would read as two
      {L"*", L"1.2", L"*;1.2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WithRefusedUpdate(c.refused, c.version), c.list);
  }
}
