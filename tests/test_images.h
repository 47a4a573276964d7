// Small builders for pixels, packet streams and TGA files in memory.

#ifndef BRISEL_TESTS_TEST_IMAGES_H
#define BRISEL_TESTS_TEST_IMAGES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "imagecodec/rle_kernels.h"

using Bytes = std::vector<uint8_t>;

// One pixel, bytes in memory order (blue, green, red, alpha) = v's bytes from
// the lowest up.
inline Bytes pix(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes rep(const Bytes& pixel, size_t n) {
  Bytes out;
  for (size_t i = 0; i < n; ++i) out.insert(out.end(), pixel.begin(), pixel.end());
  return out;
}

// Packets as the format defines them.
inline Bytes runPacket(size_t n, const Bytes& pixel) {
  return cat({{uint8_t(0x7F + n)}, pixel});
}
inline Bytes rawPacket(const Bytes& pixels) {
  return cat({{uint8_t(pixels.size() / 4 - 1)}, pixels});
}

// `n` pixels with no byte zero and no two neighbours equal.
inline Bytes distinctPixels(size_t n, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  Bytes out;
  for (size_t i = 0; i < n; ++i) {
    Bytes p = pix(rng() | 0x01010101u);
    p[0] = uint8_t(1 + i % 255);  // neighbours always differ in byte 0
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

// An 18-byte header; origin and descriptor hold recognisable values.
inline Bytes tgaHeader(uint8_t type, uint16_t w, uint16_t h, uint8_t depth = 32,
                       uint8_t id_length = 0, uint8_t cmap_type = 0,
                       uint16_t cmap_len = 0, uint8_t cmap_bits = 0) {
  return {id_length, cmap_type, type, 0x07, 0x00,
          uint8_t(cmap_len), uint8_t(cmap_len >> 8), cmap_bits,
          0x11, 0x22, 0x33, 0x44,
          uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8),
          depth, 0x28};
}

// Runs `check` with each kernel set this processor offers in use, then puts
// the fastest back, so that the sets the tool would not choose here are held
// to the same results.
template <class Check>
void forEachKernelSet(Check check) {
  size_t count = 0;
  const RleKernels* const* sets = rleKernelSets(&count);
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(sets[i]->name);
    useRleKernels(*sets[i]);
    check(*sets[i]);
  }
  useRleKernels(*sets[0]);
}

#endif  // BRISEL_TESTS_TEST_IMAGES_H
