// copy_floor: what a job like brisel's costs before any packet coding, so
// that its timings can be read against what no implementation can beat.
//
//   copy_floor stream INPUT OUTPUT
//     Reads INPUT in 1 MiB chunks, sets every fourth byte after the 18-byte
//     header to 255, and writes each chunk to OUTPUT. Any tool that changes
//     the pixels moves every byte through its own memory at least this once;
//     cat does not (it asks the kernel to copy between the files).
//
//   copy_floor image INPUT OUTPUT
//     The memory traffic of holding the whole decoded image: a fresh
//     width x height x 4 buffer (2 MiB pages where the kernel has them),
//     each byte stored once (a plain input is read straight into it; for a
//     run-length input, the chunks read are spread over it with memset,
//     standing in for decoding), alpha set, the buffer read once more
//     (standing in for sizing and encoding), and as many bytes written as
//     were read.
//
//   copy_floor files INPUT...
//     The least a batch tool can do per file: read the file whole into one
//     buffer kept for all files, set every fourth byte after the header to
//     255, write it to a temporary file beside INPUT_floor.tga and rename it
//     to that name. One process for all the files, as `brisel INPUT...`.
//
// It makes no valid image; it only times the traffic.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

constexpr size_t CHUNK = size_t{1} << 20;
constexpr size_t HEADER = 18;

void setAlpha(uint8_t* bytes, size_t size) {
  for (size_t i = 3; i < size; i += 4) bytes[i] = 0xFF;
}

int stream(std::FILE* in, std::FILE* out) {
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[CHUNK]);
  size_t skip = HEADER;
  size_t n;
  while ((n = std::fread(chunk.get(), 1, CHUNK, in)) > 0) {
    size_t from = std::min(skip, n);
    skip -= from;
    setAlpha(chunk.get() + from, n - from);
    if (std::fwrite(chunk.get(), 1, n, out) != n) return 1;
  }
  return 0;
}

int image(std::FILE* in, std::FILE* out) {
  uint8_t header[HEADER] = {};
  if (std::fread(header, 1, HEADER, in) != HEADER) return 1;
  const size_t size = size_t{uint16_t(header[12] | header[13] << 8)} *
                      uint16_t(header[14] | header[15] << 8) * 4;
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[size]);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHuge = uintptr_t{1} << 21;
  uintptr_t first = (reinterpret_cast<uintptr_t>(pixels.get()) + kHuge - 1) &
                    ~(kHuge - 1);
  uintptr_t last = (reinterpret_cast<uintptr_t>(pixels.get()) + size) &
                   ~(kHuge - 1);
  if (last > first) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#endif
  size_t read_total = HEADER;
  if (header[2] == 2) {
    read_total += std::fread(pixels.get(), 1, size, in);
  } else {
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[CHUNK]);
    size_t at = 0;
    size_t n;
    while ((n = std::fread(chunk.get(), 1, CHUNK, in)) > 0) {
      read_total += n;
      // Spread the stream over the image as decoding would, in proportion
      // to the bytes read so far.
      size_t share = std::min(size - at, n * 4);
      std::memset(pixels.get() + at, chunk[0], share);
      at += share;
    }
    std::memset(pixels.get() + at, 0, size - at);
  }
  setAlpha(pixels.get(), size);
  uint64_t sum = 0;
  for (size_t i = 0; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, pixels.get() + i, 8);
    sum += word;
  }
  header[0] = static_cast<uint8_t>(sum);  // keeps the read pass
  std::fwrite(header, 1, 1, out);
  if (size == 0) return 0;
  // Writes the bytes read again, from successive parts of the image's
  // memory: writing one chunk over and over would copy from the cache, which
  // no writer of the whole image gets.
  size_t from = 0;
  for (size_t at = 1; at < read_total;) {
    size_t n = std::min(CHUNK, std::min(read_total - at, size));
    if (from + n > size) from = 0;
    if (std::fwrite(pixels.get() + from, 1, n, out) != n) return 1;
    at += n;
    from += n;
  }
  return 0;
}

// Reads `path` whole into `data`, which keeps its memory for the next file.
bool readWhole(const char* path, std::vector<uint8_t>& data) {
  std::FILE* in = std::fopen(path, "rb");
  if (!in) return false;
  long size = -1;
  if (std::fseek(in, 0, SEEK_END) == 0) size = std::ftell(in);
  std::rewind(in);
  bool ok = size >= 0;
  if (ok) {
    data.resize(static_cast<size_t>(size));
    ok = std::fread(data.data(), 1, data.size(), in) == data.size();
  }
  std::fclose(in);
  return ok;
}

int files(int count, char** paths) {
  std::vector<uint8_t> data;
  for (int i = 0; i < count; ++i) {
    std::string path = paths[i];
    if (!readWhole(path.c_str(), data)) return 1;
    if (data.size() > HEADER) setAlpha(data.data() + HEADER, data.size() - HEADER);
    const std::string target = path.substr(0, path.size() - 4) + "_floor.tga";
    const std::string temp = target + ".tmp";
    std::FILE* out = std::fopen(temp.c_str(), "wb");
    if (!out) return 1;
    const bool written =
        std::fwrite(data.data(), 1, data.size(), out) == data.size();
    if (std::fclose(out) != 0 || !written ||
        std::rename(temp.c_str(), target.c_str()) != 0) {
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "files") == 0) {
    return files(argc - 2, argv + 2);
  }
  if (argc != 4) {
    std::fputs("usage: copy_floor stream|image INPUT OUTPUT\n"
               "       copy_floor files INPUT...\n", stderr);
    return 2;
  }
  std::FILE* in = std::fopen(argv[2], "rb");
  std::FILE* out = std::fopen(argv[3], "wb");
  if (!in || !out) {
    std::fputs("copy_floor: cannot open the files\n", stderr);
    return 1;
  }
  int status = std::strcmp(argv[1], "stream") == 0 ? stream(in, out)
                                                   : image(in, out);
  std::fclose(in);
  return std::fclose(out) == 0 ? status : 1;
}
