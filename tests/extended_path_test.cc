#include <gtest/gtest.h>

#include <string>

#include "system/extended_path.h"

// Pure string work, so it runs everywhere; on Windows the same function sits
// behind every call that opens, creates, renames or removes a file.
TEST(ExtendedPath, OnlyPathsTooLongForThePlainCallsChange) {
  // Full paths of 259 and 260 characters: the last that the plain calls
  // take, and the first that they refuse.
  const std::wstring fits = L"C:\\" + std::wstring(256, L'f');
  const std::wstring too_long = L"C:\\" + std::wstring(257, L'l');
  const std::wstring folder = std::wstring(300, L'd');
  const struct {
    std::wstring given, full, expected;
  } cases[] = {
      {L"pic.tga", L"C:\\art\\pic.tga", L"pic.tga"},
      {L"x/" + fits.substr(5), fits, L"x/" + fits.substr(5)},
      {too_long, too_long, L"\\\\?\\" + too_long},
      // Relative and `/`-separated names take the full path, with `\` only.
      {folder + L"\\pic.tga", L"C:\\work\\" + folder + L"\\pic.tga",
       L"\\\\?\\C:\\work\\" + folder + L"\\pic.tga"},
      {L"C:/art/" + folder + L"/pic.tga", L"C:/art/" + folder + L"/pic.tga",
       L"\\\\?\\C:\\art\\" + folder + L"\\pic.tga"},
      {L"\\\\server\\share\\" + folder, L"\\\\server\\share\\" + folder,
       L"\\\\?\\UNC\\server\\share\\" + folder},
      {L"//server/share/" + folder, L"//server/share/" + folder,
       L"\\\\?\\UNC\\server\\share\\" + folder},
      // Already extended, or a device: taken as written, never prefixed twice.
      {L"\\\\?\\C:\\" + folder, L"\\\\?\\C:\\" + folder, L"\\\\?\\C:\\" + folder},
      {L"\\\\?\\UNC\\server\\share\\" + folder, L"\\\\server\\share\\" + folder,
       L"\\\\?\\UNC\\server\\share\\" + folder},
      {L"\\\\.\\" + folder, L"\\\\.\\" + folder, L"\\\\.\\" + folder},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(extendedPath(c.given, c.full), c.expected) << c.full.size();
  }
}

TEST(ExtendedPath, ReservedDeviceNamesInAnyCaseFolderAndExtension) {
  for (const wchar_t* device :
       {L"CON", L"prn", L"Aux", L"NUL", L"COM1", L"com9", L"LPT1", L"Lpt9",
        L"COM9.tga", L"lpt1.x.tga", L"NUL:", L"\\\\.\\NUL", L"C:nul.tga",
        L"C:\\art\\prn.tga", L"sub/aux.tga", L"con.tga. ", L"aux . .tga",
        L"nul...", L"COM\u00B9.tga", L"Lpt\u00B3.x.tga", L"com\u00B2"}) {
    EXPECT_TRUE(namesReservedDevice(device)) << device;
  }
  for (const wchar_t* file :
       {L"\\\\?\\C:\\art\\aux.tga", L"COM0", L"com10.tga", L"LPT", L"console",
        L"nul_brisel.tga", L"con\\a.tga", L"xaux.tga", L"",
        L"COM\u2074.tga"}) {
    EXPECT_FALSE(namesReservedDevice(file)) << file;
  }
}

// Names a folder listing may hold (made through \\?\ or by other systems)
// that a plain path would not reach.
TEST(ExtendedPath, TrailingDotsSpacesAndDevicesNeedTheExtendedForm) {
  for (const wchar_t* name :
       {L"t.tga.", L"u.tga ", L"aux.tga", L"t.tga.. ", L"COM\u00B9.tga"}) {
    EXPECT_TRUE(plainPathAltersName(name)) << name;
  }
  for (const wchar_t* name : {L"t.tga", L".tga", L"t .tga", L"auxiliary.tga"}) {
    EXPECT_FALSE(plainPathAltersName(name)) << name;
  }
  EXPECT_EQ(extendedForm(L"C:\\art/t.tga."), L"\\\\?\\C:\\art\\t.tga.");
  EXPECT_EQ(extendedForm(L"\\\\server\\share\\u.tga "),
            L"\\\\?\\UNC\\server\\share\\u.tga ");
}
