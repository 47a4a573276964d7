#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/command_line.h"

namespace {

// The arguments after the program's name, a `*` after those that are
// patterns to expand.
std::vector<std::wstring> split(const std::wstring& line) {
  std::vector<std::wstring> out;
  const std::vector<CommandArgument> arguments = splitCommandLine(line);
  for (size_t i = 1; i < arguments.size(); ++i) {
    out.push_back(arguments[i].text + (arguments[i].pattern ? L" *" : L""));
  }
  return out;
}

using Words = std::vector<std::wstring>;

}  // namespace

TEST(CommandLine, SplitsAsTheCRuntimeDoes) {
  EXPECT_EQ(
      splitCommandLine(L"\"C:\\Program Files\\brisel.exe\" a.tga")[0].text,
      L"C:\\Program Files\\brisel.exe");
  EXPECT_EQ(splitCommandLine(L"C:\\tools\\brisel.exe\ta.tga")[0].text,
            L"C:\\tools\\brisel.exe");
  EXPECT_EQ(split(L"brisel.exe"), Words{});
  EXPECT_EQ(split(L"brisel.exe  a.tga \t b.tga  "),
            (Words{L"a.tga", L"b.tga"}));
  EXPECT_EQ(split(L"brisel.exe \"sky box.tga\" \"D:\\sub dir\"\\x.tga \"\""),
            (Words{L"sky box.tga", L"D:\\sub dir\\x.tga", L""}));
  // Backslashes before a quote, and quotes in quotes.
  EXPECT_EQ(split(L"x a\\\\b \"c\\\\\" d\\\"e \"f\"\"g\" h\\\\\\\"i"),
            (Words{L"a\\\\b", L"c\\", L"d\"e", L"f\"g", L"h\\\"i"}));
  EXPECT_EQ(split(L"x \\\\?\\C:\\art\\a.tga \"unclosed quote"),
            (Words{L"\\\\?\\C:\\art\\a.tga *", L"unclosed quote"}));
}

TEST(CommandLine, OnlyWildcardsOutsideQuotesMakeAPattern) {
  EXPECT_EQ(split(L"x *.tga art\\?.tga \"*.tga\" \"sky box\"\\*.tga"),
            (Words{L"*.tga *", L"art\\?.tga *", L"*.tga",
                   L"sky box\\*.tga *"}));
  // Quoted and plain wildcards together; an escaped quote quotes nothing.
  EXPECT_EQ(split(L"x a\"*\"?.tga \\\"*"), (Words{L"a*?.tga", L"\"* *"}));
}
