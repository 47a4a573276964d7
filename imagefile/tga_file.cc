// loadImage and saveImage: whole images attached to files, with the messages.

#include "imagecodec/tga_image.h"
#include "imagecodec/tga_one_pass.h"
#include "imagecodec/tga_stream.h"
#include "imagefile/file_stream.h"

bool loadImage(const char* path, TgaImage& image, CodecBuffers& buffers) {
  bool can_read_again;
  InputFile file = openInput(path, can_read_again);
  if (!file) return false;
  ByteSource source = fileSource(file.get(), false);
  const LoadStatus status =
      readTga(source, image, buffers, &wholeImageMemory());
  return finishLoad(path, file.get(), status, image);
}

bool loadImage(const char* path, TgaImage& image) {
  CodecBuffers buffers;
  return loadImage(path, image, buffers);
}

bool saveImage(const char* path, const TgaImage& image, CodecBuffers& buffers) {
  if (image.header.image_type != TGA_TYPE_TRUECOLOR ||
      image.header.pixel_depth != 32) {
    return false;
  }
  const size_t scratch_size = tgaWriteScratchSize(image.header);
  uint8_t* scratch = reserveBytes(buffers.write_scratch, scratch_size);
  OutputSink target;
  if (!openSink(path, target)) return false;
  ByteSink sink = byteSink(target);
  // Starting again is only possible in a temporary file; a device or pipe
  // written in place gets the exact writer alone.
  WriteResult result =
      sink.restart ? writeTgaInOnePass(image, sink, scratch, scratch_size)
                   : WriteResult::START_OVER;
  if (result == WriteResult::START_OVER) {
    if (sink.restart && !sink.restart(sink.context)) return false;
    result = writeTga(image, sink, scratch, scratch_size)
                 ? WriteResult::OK
                 : WriteResult::FAILED;
  }
  if (result != WriteResult::OK) {
    abandonOutput(target.out);
    return false;
  }
  return commitOutput(target.out);
}

bool saveImage(const char* path, const TgaImage& image) {
  CodecBuffers buffers;
  return saveImage(path, image, buffers);
}
