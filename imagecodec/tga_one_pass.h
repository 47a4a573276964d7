// The writer that reads the pixels once: it guesses from the first rows
// whether packets pay, and starts over with the exact writer when wrong.

#ifndef BRISEL_IMAGECODEC_TGA_ONE_PASS_H
#define BRISEL_IMAGECODEC_TGA_ONE_PASS_H

#include <cstddef>

#include "imagecodec/tga_stream.h"

enum class WriteResult { OK, FAILED, START_OVER };

// How much of the image, from its first row, is sized to guess whether
// packets will pay before writing them in one pass.
constexpr size_t RLE_GUESS_BYTES = size_t{256} << 10;

// Writes the same bytes as writeTga, reading the pixels once instead of twice
// when the first `guess_bytes` of rows compress. START_OVER: the guess was
// wrong, the sink holds a partial file; discard it and call writeTga.
WriteResult writeTgaInOnePass(const TgaImage& image, ByteSink& sink,
                              uint8_t* scratch, size_t scratch_size,
                              size_t guess_bytes = RLE_GUESS_BYTES);

#endif  // BRISEL_IMAGECODEC_TGA_ONE_PASS_H
