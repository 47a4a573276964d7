// Speed of the image kernels on bytes in memory, in decoded pixel bytes per
// second and, for the packet kernels, time per packet. Three made-up
// 4096x4096 images stand for the usual inputs:
//
//   short_runs  render-like rows: spans of 2 to 9 equal pixels with noise
//               between them, a fifth of all pixels; runs average 5.5 pixels
//               and raw packets 2, about 4.1 million packets. The cost per
//               packet dominates.
//   long_spans  spans of equal pixels, 2 to 512 long, with about a fifth of
//               the pixels noise in between; memory-bound.
//   noise       no two neighbouring pixels equal; written uncompressed, but
//               its rows still go through the encoder to be sized.
//
// The packet kernels run once with each kernel set the processor offers
// (named after the benchmark: DecodeRle/sse2/0, DecodeRle/plain/0, ...);
// the first set listed is the one the tool uses.
//
// Run: build/bench/bench/kernels_bench [--benchmark_filter=Decode]
//      --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
// "per_packet" is seconds per packet of the encoded rows (5n = 5 ns).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imagecodec/rle_kernels.h"
#include "imagecodec/tga_image.h"

namespace {

constexpr uint32_t kSide = 4096;

struct Workload {
  const char* name;
  std::vector<uint8_t> pixels;  // kSide * kSide * 4
  std::vector<uint8_t> stream;  // every row encoded, whatever the file type
  uint64_t packets = 0;         // in `stream`
  std::vector<uint8_t> file;    // the whole TGA file
};

void putPixel(std::vector<uint8_t>& pixels, size_t index, uint32_t value) {
  std::memcpy(pixels.data() + index * 4, &value, 4);
}

// Spans of one colour, 2 to 9 pixels long, most of them followed by 1 to 3
// noise pixels, so a fifth of the pixels are noise: how dithered or
// anti-aliased renders look.
std::vector<uint8_t> shortRunPixels() {
  std::vector<uint8_t> pixels(size_t{kSide} * kSide * 4);
  std::mt19937 rng(3);
  std::uniform_int_distribution<uint32_t> span_length(2, 9);
  for (size_t y = 0; y < kSide; ++y) {
    size_t x = 0;
    uint32_t colour = 0;
    while (x < kSide) {
      uint32_t next = rng();
      colour = next == colour ? next + 1 : next;
      uint32_t span = span_length(rng);
      for (uint32_t i = 0; i < span && x < kSide; ++i, ++x) {
        putPixel(pixels, y * kSide + x, colour);
      }
      uint32_t noise = rng() % 16 < 5 ? 0 : 1 + rng() % 3;
      for (uint32_t i = 0; i < noise && x < kSide; ++i, ++x) {
        putPixel(pixels, y * kSide + x, rng());
      }
    }
  }
  return pixels;
}

std::vector<uint8_t> longSpanPixels() {
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

std::vector<uint8_t> noisePixels() {
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

Workload makeWorkload(const char* name, std::vector<uint8_t> pixels) {
  Workload w;
  w.name = name;
  w.pixels = std::move(pixels);
  std::vector<uint8_t> row(size_t{kSide} * 5);
  for (uint32_t y = 0; y < kSide; ++y) {
    size_t n = encodeRleRow(w.pixels.data() + size_t{y} * kSide * 4, kSide,
                            row.data());
    w.stream.insert(w.stream.end(), row.data(), row.data() + n);
  }
  for (size_t at = 0; at < w.stream.size(); ++w.packets) {
    uint8_t h = w.stream[at];
    at += h < RLE_FLAG ? 1 + (size_t{h} + 1) * 4 : 5;
  }
  TgaHeader header;
  header.width = kSide;
  header.height = kSide;
  header.pixel_depth = 32;
  header.image_descriptor = 0x28;
  const bool rle = w.stream.size() < w.pixels.size();
  header.image_type = rle ? TGA_TYPE_TRUECOLOR_RLE : TGA_TYPE_TRUECOLOR;
  w.file.resize(TGA_HEADER_SIZE);
  writeTgaHeader(header, w.file.data());
  const std::vector<uint8_t>& body = rle ? w.stream : w.pixels;
  w.file.insert(w.file.end(), body.begin(), body.end());
  return w;
}

const Workload& workload(int which) {
  static const Workload short_runs =
      makeWorkload("short_runs", shortRunPixels());
  static const Workload long_spans =
      makeWorkload("long_spans", longSpanPixels());
  static const Workload noise = makeWorkload("noise", noisePixels());
  return which == 0 ? short_runs : which == 1 ? long_spans : noise;
}

const Workload& namedWorkload(benchmark::State& state) {
  const Workload& w = workload(static_cast<int>(state.range(0)));
  state.SetLabel(w.name);
  return w;
}

// Time per packet of the workload's encoded rows.
void countPackets(benchmark::State& state, const Workload& w) {
  state.counters["per_packet"] = benchmark::Counter(
      static_cast<double>(w.packets),
      benchmark::Counter::kIsIterationInvariantRate |
          benchmark::Counter::kInvert);
}

// Throughput in decoded pixel bytes, whatever the kernel reads or writes.
void countBytes(benchmark::State& state, size_t pixel_bytes) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixel_bytes));
}

bool discard(void*, const uint8_t*, size_t) { return true; }

// The packet stream alone, decoded into a buffer that is already mapped.
void BM_DecodeRle(benchmark::State& state, const RleKernels* set) {
  useRleKernels(*set);
  const Workload& w = namedWorkload(state);
  std::vector<uint8_t> pixels(w.pixels.size());
  for (auto _ : state) {
    decodeRle(w.stream.data(), w.stream.size(), pixels.data(), pixels.size());
    benchmark::ClobberMemory();
  }
  countBytes(state, pixels.size());
  countPackets(state, w);
}

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
void BM_RleStreamSize(benchmark::State& state, const RleKernels* set) {
  useRleKernels(*set);
  const Workload& w = namedWorkload(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(rleStreamSize(w.pixels.data(), kSide, kSide));
  }
  countBytes(state, w.pixels.size());
  countPackets(state, w);
}

// Rows into packets, without the sizing pass, into one buffer of all rows.
void BM_EncodeRows(benchmark::State& state, const RleKernels* set) {
  useRleKernels(*set);
  const Workload& w = namedWorkload(state);
  std::vector<uint8_t> out(size_t{kSide} * kSide * 5);
  for (auto _ : state) {
    size_t total = 0;
    for (uint32_t y = 0; y < kSide; ++y) {
      total += encodeRleRow(w.pixels.data() + size_t{y} * kSide * 4, kSide,
                            out.data() + total);
    }
    benchmark::DoNotOptimize(total);
    benchmark::ClobberMemory();
  }
  countBytes(state, w.pixels.size());
  countPackets(state, w);
}

bool cannotRestart(void*, ByteSource&) { return false; }

// A whole file from memory as the tool streams it: read, decoded, made
// opaque, sized and written, plain for noise, into a sink that drops it.
void BM_SaveImage(benchmark::State& state, const RleKernels* set) {
  useRleKernels(*set);
  const Workload& w = namedWorkload(state);
  ByteSink sink{discard, cannotRestart, nullptr};
  SaveBuffers buffers;
  for (auto _ : state) {
    MemoryBytes bytes{w.file.data(), w.file.size()};
    ByteSource source = memorySource(bytes);
    TgaImage image;
    loadImage(source, image);
    benchmark::DoNotOptimize(saveImage(source, image, sink, buffers));
  }
  countBytes(state, w.pixels.size());
  countPackets(state, w);
}

// The benchmarks that depend on the kernel set, once per set.
void registerPerKernelSet() {
  using Kernel = void (*)(benchmark::State&, const RleKernels*);
  const struct {
    const char* name;
    Kernel kernel;
  } kernels[] = {{"DecodeRle", BM_DecodeRle},
                 {"RleStreamSize", BM_RleStreamSize},
                 {"EncodeRows", BM_EncodeRows},
                 {"SaveImage", BM_SaveImage}};
  size_t count = 0;
  const RleKernels* const* sets = rleKernelSets(&count);
  for (const auto& k : kernels) {
    for (size_t i = 0; i < count; ++i) {
      const std::string name = std::string(k.name) + "/" + sets[i]->name;
      benchmark::RegisterBenchmark(name.c_str(), k.kernel, sets[i])
          ->DenseRange(0, 2)
          ->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerPerKernelSet();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
