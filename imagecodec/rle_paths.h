// Other ways to the same packets, for the tests and the fuzzer to hold the
// fast codec to.
//
// The reference encoder and decoder apply the packet rules literally, one
// pixel or one byte at a time, with no lookahead and no wide stores; they are
// slow and meant to be obviously right. The portable encoder is the tool's own
// encoder with its plain-C++ neighbour comparison, the path every CPU without
// SSE2 takes; on such CPUs it is the same code as encodeRleRow.

#ifndef BRISEL_IMAGECODEC_RLE_PATHS_H
#define BRISEL_IMAGECODEC_RLE_PATHS_H

#include <cstddef>
#include <cstdint>

// Same contract and bytes as encodeRleRow.
size_t encodeRleRowReference(const uint8_t* row, uint32_t width, uint8_t* out);
size_t encodeRleRowPortable(const uint8_t* row, uint32_t width, uint8_t* out);
// Same contract and result as rleRowSize.
size_t rleRowSizePortable(const uint8_t* row, uint32_t width);
// Same contract and result as decodeRle, zeroing included.
uint64_t decodeRleReference(const uint8_t* stream, size_t size,
                            uint8_t* pixels, uint64_t pixel_bytes);

#endif  // BRISEL_IMAGECODEC_RLE_PATHS_H
