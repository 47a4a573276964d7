#include <gtest/gtest.h>

#include <string>

#include "driver/output_name.h"
#include "system/file_names.h"

TEST(OutputName, ReplacesTheLastFourCharacters) {
  const std::string long_stem(5000, 'n');
  const struct { std::string input, output; } cases[] = {
      {"pic.tga", "pic_brisel.tga"},
      {"pic.TGA", "pic_brisel.tga"},
      {"image.targa", "image.t_brisel.tga"},
      {"dir/pic.tga", "dir/pic_brisel.tga"},
      {"pic_brisel.tga", "pic_brisel_brisel.tga"},
      {".tga", "_brisel.tga"},
      {"sub/.tga", "sub/_brisel.tga"},
      {"abcd", "_brisel.tga"},
      {long_stem + ".tga", long_stem + "_brisel.tga"},
  };
  for (const auto& c : cases) {
    std::string out = "stale";
    EXPECT_TRUE(outputName(c.input, out)) << c.input;
    EXPECT_EQ(out, c.output);
  }
  // Short after the last separator: the output would land in another folder.
  for (const char* short_name :
       {"", "a", "ab", "abc", "sub/abc", "../ab", "dir/", "a/b/c"}) {
    std::string out;
    EXPECT_FALSE(outputName(short_name, out)) << short_name;
  }
#ifdef _WIN32
  for (const char* short_name : {"sub\\abc", "C:abc", "..\\ab"}) {
    std::string out;
    EXPECT_FALSE(outputName(short_name, out)) << short_name;
  }
#endif
}

// Windows hands names over as UTF-8, where one character may take several
// bytes; the rule still counts characters there.
TEST(OutputName, CountsCharactersNotBytesOnWindows) {
  std::string out;
#ifdef _WIN32
  EXPECT_TRUE(outputName("photo.tg\xC3\xA9", out));
  EXPECT_EQ(out, "photo_brisel.tga");
  EXPECT_TRUE(outputName("x.\xD1\x82\xD0\xB3\xD0\xB0", out));  // "x.tga" in Cyrillic
  EXPECT_EQ(out, "x_brisel.tga");
  EXPECT_TRUE(outputName("\xE5\x86\x99\xE7\x9C\x9F.tga", out));
  EXPECT_EQ(out, "\xE5\x86\x99\xE7\x9C\x9F_brisel.tga");
  EXPECT_FALSE(outputName("\xC3\xA9\xC3\xA9", out));
  EXPECT_FALSE(outputName("\xE5\x86\x99\xE7\x9C\x9F", out));
#else
  EXPECT_TRUE(outputName("photo.tg\xC3\xA9", out));
  EXPECT_EQ(out, "photo._brisel.tga");
  EXPECT_TRUE(outputName("\xC3\xA9\xC3\xA9", out));
  EXPECT_EQ(out, "_brisel.tga");
#endif
}

#ifdef _WIN32
// As redirected lines show names on Windows; the 65001 row is a system set
// to UTF-8, where Windows refuses the flags that other code pages take.
TEST(OutputName, ShownInTheCodePageWithoutLookAlikesOnWindows) {
  EXPECT_EQ(nameInCodePage("\xCE\xA9mega_brisel.tga", 1252),
            "?mega_brisel.tga");
  EXPECT_EQ(nameInCodePage("\xCE\xA9mega_brisel.tga", 65001),
            "\xCE\xA9mega_brisel.tga");
}
#endif
