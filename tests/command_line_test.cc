#include <gtest/gtest.h>

#include <random>
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

bool blank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Microsoft's documented rules for the C runtime's argv, one character at a
// time, with backslashes held back until what follows them is known. The
// program name takes quotes as toggles and backslashes as written, as
// Microsoft's runtime does; Wine's msvcrt applies backslash escapes there
// too, which brisel does not follow. Each argument is written as in
// `split`, the program name first.
Words documentedSplit(const std::wstring& line) {
  Words argv(1);
  size_t i = 0;
  for (bool quoted = false; i < line.size() && (quoted || !blank(line[i]));
       ++i) {
    if (line[i] == L'"') {
      quoted = !quoted;
    } else {
      argv[0] += line[i];
    }
  }
  std::wstring text;
  bool in_argument = false, quoted = false, outside = false, inside = false;
  size_t held = 0;
  for (; i <= line.size(); ++i) {
    const wchar_t c = i < line.size() ? line[i] : L'\0';
    if (c == L'\\') {
      ++held, in_argument = true;
      continue;
    }
    if (c == L'"') {
      text.append(held / 2, L'\\');
      const bool doubled = quoted && i + 1 < line.size() && line[i + 1] == L'"';
      if (held % 2 == 1 || doubled) {
        text += L'"';
        i += held % 2 == 0;
      } else {
        quoted = !quoted;
      }
      held = 0, in_argument = true;
      continue;
    }
    text.append(held, L'\\');
    held = 0;
    if (c == L'\0' || (blank(c) && !quoted)) {
      if (in_argument) {
        argv.push_back(text + (outside && !inside ? L" *" : L""));
      }
      text.clear();
      in_argument = outside = inside = false;
      continue;
    }
    if (c == L'*' || c == L'?') (quoted ? inside : outside) = true;
    text += c, in_argument = true;
  }
  return argv;
}

Words splitWithProgram(const std::wstring& line) {
  Words out = split(line);
  out.insert(out.begin(), splitCommandLine(line)[0].text);
  return out;
}

}  // namespace

TEST(CommandLine, SplitsAsTheCRuntimeDoes) {
  EXPECT_EQ(
      splitCommandLine(L"\"C:\\Program Files\\brisel.exe\" a.tga")[0].text,
      L"C:\\Program Files\\brisel.exe");
  EXPECT_EQ(splitCommandLine(L"C:\\tools\\brisel.exe\ta.tga")[0].text,
            L"C:\\tools\\brisel.exe");
  // The program name runs to the first blank outside quotes, which toggle
  // anywhere in it; its backslashes never escape.
  EXPECT_EQ(
      splitWithProgram(L"\"C:\\Program Files\"\\brisel\\brisel.exe a.tga"),
      (Words{L"C:\\Program Files\\brisel\\brisel.exe", L"a.tga"}));
  EXPECT_EQ(splitWithProgram(L"\"a\\\"b c"), (Words{L"a\\b", L"c"}));
  EXPECT_EQ(split(L"brisel.exe"), Words{});
  EXPECT_EQ(split(L"brisel.exe  a.tga \t b.tga  "),
            (Words{L"a.tga", L"b.tga"}));
  EXPECT_EQ(split(L"brisel.exe \"sky box.tga\" \"D:\\sub dir\"\\x.tga \"\""),
            (Words{L"sky box.tga", L"D:\\sub dir\\x.tga", L""}));
  // Backslashes before a quote, and quotes in quotes.
  EXPECT_EQ(split(L"x a\\\\b \"c\\\\\" d\\\"e \"f\"\"g\" h\\\\\\\"i"),
            (Words{L"a\\\\b", L"c\\", L"d\"e", L"f\"g", L"h\\\"i"}));
  EXPECT_EQ(split(L"x \\\\?\\C:\\art\\a.tga \"unclosed quote"),
            (Words{L"\\\\?\\C:\\art\\a.tga", L"unclosed quote"}));
}

// Every short mix of blanks, quotes, backslashes, wildcards and letters,
// from a fixed seed, program name included.
TEST(CommandLine, AgreesWithTheDocumentedRules) {
  const std::wstring alphabet = L"a* \t\"\\";
  std::mt19937 random(23);
  for (int n = 0; n < 2000; ++n) {
    std::wstring line(random() % 13, L' ');
    for (wchar_t& c : line) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(splitWithProgram(line), documentedSplit(line))
        << ::testing::PrintToString(line);
  }
}

TEST(CommandLine, OnlyWildcardsOutsideQuotesMakeAPattern) {
  EXPECT_EQ(split(L"x *.tga art\\?.tga \"*.tga\" \"sky box\"\\*.tga"),
            (Words{L"*.tga *", L"art\\?.tga *", L"*.tga",
                   L"sky box\\*.tga *"}));
  // The "?" of the extended prefix is none, quoted or not.
  EXPECT_EQ(split(L"x \"\\\\?\\C:\\sky box\"\\*.tga \"\\\\?\\C:\\?.tga\""),
            (Words{L"\\\\?\\C:\\sky box\\*.tga *", L"\\\\?\\C:\\?.tga"}));
  // Quoted and plain wildcards together; an escaped quote quotes nothing.
  EXPECT_EQ(split(L"x a\"*\"?.tga \\\"*"), (Words{L"a*?.tga", L"\"* *"}));
}
