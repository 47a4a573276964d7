// Throughput of the image kernels on bytes in memory, in decoded pixel bytes
// per second. Two made-up 4096x4096 images stand for the usual inputs:
//
//   flat   render-like rows: spans of equal pixels, 2 to 512 long, with about
//          a fifth of the pixels noise in between; run-length encodes well.
//   photo  no two neighbouring pixels equal; written uncompressed.
//
// Run: build/bench/bench/kernels_bench [--benchmark_filter=Decode]

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "imagecodec/tga_image.h"

namespace {

constexpr uint32_t kSide = 4096;

struct Workload {
  std::vector<uint8_t> pixels;  // kSide * kSide * 4
  std::vector<uint8_t> file;    // the whole TGA file
};

void putPixel(std::vector<uint8_t>& pixels, size_t index, uint32_t value) {
  std::memcpy(pixels.data() + index * 4, &value, 4);
}

std::vector<uint8_t> flatPixels() {
  std::vector<uint8_t> pixels(size_t{kSide} * kSide * 4);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> log_length(1.0, 9.0);
  for (size_t y = 0; y < kSide; ++y) {
    size_t x = 0;
    uint32_t colour = 0;
    while (x < kSide) {
      // A span of one colour, then noise: about a quarter of the span's
      // length on average, so noise is about a fifth of all pixels.
      uint32_t span = static_cast<uint32_t>(std::exp2(log_length(rng)));
      uint32_t next = rng();
      colour = next == colour ? next + 1 : next;
      for (uint32_t i = 0; i < span && x < kSide; ++i, ++x) {
        putPixel(pixels, y * kSide + x, colour);
      }
      std::uniform_int_distribution<uint32_t> noise_length(0, span / 2);
      uint32_t noise = noise_length(rng);
      for (uint32_t i = 0; i < noise && x < kSide; ++i, ++x) {
        putPixel(pixels, y * kSide + x, rng());
      }
    }
  }
  return pixels;
}

std::vector<uint8_t> photoPixels() {
  std::vector<uint8_t> pixels(size_t{kSide} * kSide * 4);
  std::mt19937 rng(2);
  for (size_t y = 0; y < kSide; ++y) {
    for (size_t x = 0; x < kSide; ++x) {
      // The low bit of blue alternates, so no two neighbours are equal.
      uint32_t value = (rng() & ~1u) | static_cast<uint32_t>((x + y) & 1);
      putPixel(pixels, y * kSide + x, value);
    }
  }
  return pixels;
}

Workload makeWorkload(std::vector<uint8_t> pixels) {
  Workload w;
  w.pixels = std::move(pixels);
  TgaImage image;
  image.header.image_type = TGA_TYPE_TRUECOLOR;
  image.header.width = kSide;
  image.header.height = kSide;
  image.header.pixel_depth = 32;
  image.header.image_descriptor = 0x28;
  image.pixels.bytes.reset(new uint8_t[w.pixels.size()]);
  image.pixels.size = w.pixels.size();
  std::memcpy(image.pixels.data(), w.pixels.data(), w.pixels.size());
  w.file = writeTgaToMemory(image);
  return w;
}

const Workload& workload(int which) {
  static const Workload flat = makeWorkload(flatPixels());
  static const Workload photo = makeWorkload(photoPixels());
  return which == 0 ? flat : photo;
}

void nameWorkload(benchmark::State& state) {
  state.SetLabel(state.range(0) == 0 ? "flat" : "photo");
}

// Throughput in decoded pixel bytes, whatever the kernel reads or writes.
void countBytes(benchmark::State& state, size_t pixel_bytes) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixel_bytes));
}

bool discard(void*, const uint8_t*, size_t) { return true; }

// The packet stream alone, decoded into a buffer that is already mapped.
void BM_DecodeRle(benchmark::State& state) {
  const Workload& w = workload(0);
  const uint8_t* stream = w.file.data() + TGA_HEADER_SIZE;
  size_t stream_size = w.file.size() - TGA_HEADER_SIZE;
  std::vector<uint8_t> pixels(w.pixels.size());
  for (auto _ : state) {
    decodeRle(stream, stream_size, pixels.data(), pixels.size());
    benchmark::ClobberMemory();
  }
  countBytes(state, pixels.size());
}
BENCHMARK(BM_DecodeRle)->Unit(benchmark::kMillisecond);

// A whole file from memory, as the loader does it: a fresh pixel buffer,
// filled through 1 MiB reads (run-length decoded for flat, copied for photo).
void BM_Load(benchmark::State& state) {
  const Workload& w = workload(static_cast<int>(state.range(0)));
  nameWorkload(state);
  for (auto _ : state) {
    TgaImage image;
    readTgaFromMemory(w.file.data(), w.file.size(), image);
    benchmark::DoNotOptimize(image.pixels.data());
  }
  countBytes(state, w.pixels.size());
}
BENCHMARK(BM_Load)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_MakeOpaque(benchmark::State& state) {
  std::vector<uint8_t> pixels = workload(0).pixels;
  for (auto _ : state) {
    makeOpaque(pixels.data(), pixels.size());
    benchmark::ClobberMemory();
  }
  countBytes(state, pixels.size());
}
BENCHMARK(BM_MakeOpaque)->Unit(benchmark::kMillisecond);

// The sizing pass that decides between run-length and plain output.
void BM_RleStreamSize(benchmark::State& state) {
  const Workload& w = workload(static_cast<int>(state.range(0)));
  nameWorkload(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(rleStreamSize(w.pixels.data(), kSide, kSide));
  }
  countBytes(state, w.pixels.size());
}
BENCHMARK(BM_RleStreamSize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Rows into packets, without the sizing pass.
void BM_EncodeRows(benchmark::State& state) {
  const Workload& w = workload(static_cast<int>(state.range(0)));
  nameWorkload(state);
  std::vector<uint8_t> out(size_t{kSide} * 5);
  for (auto _ : state) {
    size_t total = 0;
    for (uint32_t y = 0; y < kSide; ++y) {
      total += encodeRleRow(w.pixels.data() + size_t{y} * kSide * 4, kSide,
                            out.data());
    }
    benchmark::DoNotOptimize(total);
  }
  countBytes(state, w.pixels.size());
}
BENCHMARK(BM_EncodeRows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The whole writer: sizing pass, header, packets or plain pixels into a sink
// that drops them.
void BM_Write(benchmark::State& state) {
  const Workload& w = workload(static_cast<int>(state.range(0)));
  nameWorkload(state);
  TgaImage image;
  readTgaFromMemory(w.file.data(), w.file.size(), image);
  std::vector<uint8_t> scratch(tgaWriteScratchSize(image.header));
  ByteSink sink{discard, nullptr};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        writeTga(image, sink, scratch.data(), scratch.size()));
  }
  countBytes(state, w.pixels.size());
}
BENCHMARK(BM_Write)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
