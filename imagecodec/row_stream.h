// Images made opaque a block of rows at a time: read, decoded, alpha set,
// sized and written through a few small buffers, so that memory depends on
// the width of an image and not on its height.
//
// The output must be run-length encoded exactly when the whole packet stream
// is smaller than the plain pixels, which is only known at the last row. So
// the format is guessed from the first block of rows and written while both
// sizes are counted. Once `switch_bytes` of rows are done, a running count
// that contradicts the guess starts the file over in the other format (once);
// a guess still wrong at the end starts it over in the format now known.
// Starting over needs a source that rewinds and a sink that restarts. A sink
// that cannot restart (a device or pipe) gets a first pass that only sizes.
// Either way the bytes written are those of writeTga after readTga and
// makeOpaque.

#ifndef BRISEL_IMAGECODEC_ROW_STREAM_H
#define BRISEL_IMAGECODEC_ROW_STREAM_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagecodec/tga_stream.h"

enum class RowFormat : uint8_t { GUESS, PLAIN, RLE };

// How the rows travel. The defaults are measured ones; tests make the blocks
// tiny and the guesses wrong to reach every path.
struct RowStreamTuning {
  // Pixel bytes decoded and written at a time, rounded down to whole rows
  // (at least one). The first block decides the guess.
  size_t block_bytes = size_t{256} << 10;
  // Rows done before a running count may overturn the guess.
  size_t switch_bytes = size_t{1} << 20;
  // What the first block is taken to say: GUESS lets it decide.
  RowFormat first_guess = RowFormat::GUESS;
};

// The working memory of streaming, kept from one file to the next. Each I/O
// buffer has a page of room, so that its data can sit at the same offset
// within a page as the file bytes they are copied from or to: the system's
// copies between its pages and these then run aligned.
struct RowStreamBuffers {
  ReusedBytes stream;  // run-length input on its way to the decoder
  ReusedBytes pixels;  // one block of rows
  ReusedBytes packets; // run-length output on its way to the sink
};

enum class RowStreamStatus { OK, READ_FAILED, WRITE_FAILED };

// Writes the image whose prefix readTgaPrefix has just read from `source`
// (`image` holds it) to `sink`, every alpha byte set to 0xFF. The source must
// be able to rewind; READ_FAILED when it cannot do so when asked, or does
// not give the prefix again. Sets `image.truncated` when the source ended
// before the pixels did; the missing bytes are written as zero pixels, as
// readTga gives them. `image.pixels` is not used.
RowStreamStatus writeOpaqueRows(ByteSource& source, TgaImage& image,
                                ByteSink& sink, RowStreamBuffers& buffers,
                                const RowStreamTuning& tuning = {});

// The whole file in memory (tests and the fuzzer): the status of reading,
// and on OK the output in `out`, written as to a sink that restarts or, with
// `in_place`, to one that cannot.
LoadStatus writeOpaqueRowsInMemory(const uint8_t* data, size_t size,
                                   std::vector<uint8_t>& out, bool& truncated,
                                   const RowStreamTuning& tuning = {},
                                   bool in_place = false);

#endif  // BRISEL_IMAGECODEC_ROW_STREAM_H
