#include <gtest/gtest.h>

#include <string>

#include "driver/output_name.h"

TEST(OutputName, ReplacesTheLastFourCharacters) {
  const std::string long_stem(5000, 'n');
  const struct { std::string input, output; } cases[] = {
      {"pic.tga", "pic_brisel.tga"},
      {"pic.TGA", "pic_brisel.tga"},
      {"image.targa", "image.t_brisel.tga"},
      {"dir/pic.tga", "dir/pic_brisel.tga"},
      {"pic_brisel.tga", "pic_brisel_brisel.tga"},
      {".tga", "_brisel.tga"},
      {"abcd", "_brisel.tga"},
      {long_stem + ".tga", long_stem + "_brisel.tga"},
  };
  for (const auto& c : cases) {
    std::string out = "stale";
    EXPECT_TRUE(outputName(c.input, out)) << c.input;
    EXPECT_EQ(out, c.output);
  }
  for (const char* short_name : {"", "a", "ab", "abc"}) {
    std::string out;
    EXPECT_FALSE(outputName(short_name, out)) << short_name;
  }
}
