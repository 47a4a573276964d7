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

// Same contract and bytes as encodeRleRow.
size_t encodeRleRowReference(const uint8_t* row, uint32_t width, uint8_t* out);
// Same contract and result as decodeRle, zeroing included.
uint64_t decodeRleReference(const uint8_t* stream, size_t size,
                            uint8_t* pixels, uint64_t pixel_bytes);

#endif  // BRISEL_TESTS_RLE_REFERENCE_H
