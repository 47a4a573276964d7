#include <gtest/gtest.h>

#include "imagecodec/tga_image.h"

TEST(RleDecode, Placeholder) {
  uint8_t stream[] = {0x81, 1, 2, 3, 4};
  uint8_t out[8];
  EXPECT_EQ(decodeRle(stream, sizeof stream, out, 8), 8u);
}
