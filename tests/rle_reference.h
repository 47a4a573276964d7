// The packet rules applied literally, for the tests and the fuzzer to hold
// every kernel set to.
//
// The reference encoder and decoder look at one pixel or one byte at a time,
// with no lookahead and no wide stores; they are slow and meant to be
// obviously right. They are no part of the tool.

#ifndef BRISEL_TESTS_RLE_REFERENCE_H
#define BRISEL_TESTS_RLE_REFERENCE_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Same contract and bytes as encodeRleRow.
size_t encodeRleRowReference(const uint8_t* row, uint32_t width, uint8_t* out);
// Same contract and result as decodeRle, zeroing included.
uint64_t decodeRleReference(const uint8_t* stream, size_t size,
                            uint8_t* pixels, uint64_t pixel_bytes);

// The whole tool on one file in memory, from the format's rules alone and
// the two functions above: the expected output of making `data` opaque, and
// whether the input ran short. False for a file that is refused (not type
// 2 or 10, or not 32 bits per pixel).
bool opaqueFileReference(const uint8_t* data, size_t size,
                         std::vector<uint8_t>& out, bool& truncated);

#endif  // BRISEL_TESTS_RLE_REFERENCE_H
