// The codec's memory: blocks kept from one image to the next, and making
// pixels opaque.

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "imagecodec/rle_kernels.h"
#include "imagecodec/tga_stream.h"

#if defined(__SANITIZE_ADDRESS__)
#define BRISEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRISEL_ASAN 1
#endif
#endif
#ifdef BRISEL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

// A block kept for reuse may be larger than what is put in it. Under
// AddressSanitizer the bytes past `used` are marked unaddressable, so that a
// store past the image or the buffer is still caught, as it would be in a
// block of the exact size.
void fenceUnused(uint8_t* data, size_t used, size_t capacity) {
#ifdef BRISEL_ASAN
  ASAN_UNPOISON_MEMORY_REGION(data, used);
  ASAN_POISON_MEMORY_REGION(data + used, capacity - used);
#else
  (void)data;
  (void)used;
  (void)capacity;
#endif
}

}  // namespace

uint8_t* reserveBytes(ReusedBytes& buffer, size_t size) {
  if (!buffer.bytes || size > buffer.capacity) {
    buffer = ReusedBytes();
    buffer.bytes.reset(new uint8_t[std::max<size_t>(size, 1)]);
    buffer.capacity = size;
  }
  fenceUnused(buffer.bytes.get(), size, buffer.capacity);
  return buffer.bytes.get();
}

// Uses the block `pixels` holds when it is large enough: a batch of images
// then faults its pixel memory in once, not once per file.
bool allocatePixels(uint64_t size, PixelBuffer& pixels,
                    void (*new_block)(uint8_t* data, size_t size)) {
  if (size > uint64_t{std::numeric_limits<ptrdiff_t>::max()}) return false;
  if (pixels.bytes && size <= pixels.capacity) {
    pixels.size = size;
    fenceUnused(pixels.data(), static_cast<size_t>(size),
                static_cast<size_t>(pixels.capacity));
    return true;
  }
  // The old block goes before the new one comes, so that memory never holds
  // two images.
  pixels = PixelBuffer();
  pixels.bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
  if (!pixels.bytes) return false;
  pixels.size = size;
  pixels.capacity = size;
  if (new_block) new_block(pixels.data(), static_cast<size_t>(size));
  return true;
}

void makeOpaque(uint8_t* pixels, uint64_t size) {
  if (size > 0) rleKernels().make_opaque(pixels, size);
}
