#!/usr/bin/env python3
"""Times brisel against its floors, against cat and against Pillow.

Makes its workloads with its own generator (--workloads picks some):

  flat   long spans: render-like 4096x4096 rows, horizontal spans of equal
         pixels of varied length (2 to 512) with about 20% noise pixels
         between them; stored run-length encoded, written run-length encoded.
  photo  4096x4096, no two neighbouring pixels equal; stored uncompressed,
         written uncompressed.
  short  short runs: 4096x4096 render-like rows of spans about 5.5 pixels
         long, most followed by one to a few noise pixels (raw packets of
         about 1.9), 22% of the pixels: about 4.3 million packets in a
         27 MiB run-length file, written run-length encoded.
  batch  --batch-files (300) files of 64, 128, 256 or 512 pixels a side,
         each flat, short-run or photo-like, stored plain or run-length
         encoded at random; or, with --batch-dir, copies of the 32-bit TGA
         files found there. All in one call of each program.

For each single image it runs, after one warm-up round, --runs interleaved
rounds of:

  cat     cat INPUT > NEW          (copies the bytes once)
  brisel  brisel INPUT             (writes INPUT_brisel.tga beside it)
  pillow  open, putalpha(255), save(compression="tga_rle"), in a fresh
          /usr/bin/python3 (only when Pillow is installed there)
  floors  copy_floor stream and copy_floor image (bench/copy_floor.cc, built
          beside kernels_bench), when found: the least that moving the
          pixels through a process's memory, and holding the whole decoded
          image, cost before any packet coding. cat is not such a floor: it
          has the kernel copy between the files (copy_file_range), and the
          bytes never reach its memory.

For the batch: brisel FILE..., copy_floor files FILE... (the per-file floor:
read each file whole, set alpha, write a temporary file, rename it) and one
Pillow process looping over the files.

Each run is a whole process, timed from spawn to exit. Every output is
deleted before the next run, outside the timing, the same way for all. Peak
resident memory is measured on one more run of brisel under GNU time (a
child spawned from this script would carry the script's own high-water
mark), and compared with RSS_LIMIT (16 MiB): brisel streams its images a
block of rows at a time, so its memory does not grow with their height. It
prints tables that can be pasted into bench/PERFORMANCE.md: each workload
against its floor (the stream floor for one image, the per-file floor for
the batch), then the single images against cat.

Standard library only; run it with any python3:
  python3 bench/compare.py --brisel build/bench/brisel

Builds side by side: with --wrapper (the tool run through wine, qemu-user or
the like) or --other (a second build, with its own --other-wrapper), only the
builds are timed, in interleaved rounds after a warm-up, each round in the
other order than the one before; cat, the floors and Pillow run natively and
would time something else. --repeat N gives each call the single image N
times, so that starting the wrapper weighs less. The warm-up's outputs of the
builds must be the same, byte for byte.
  python3 bench/compare.py --brisel build/mingw-i686/brisel.exe \
      --wrapper "cmake/wine-run /usr/lib/wine/wine" \
      --other build/mingw-x64/brisel.exe \
      --other-wrapper "cmake/wine-run /usr/lib/wine/wine64" --repeat 10
"""

import argparse
import hashlib
import os
import random
import shlex
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

PILLOW_PYTHON = "/usr/bin/python3"
PILLOW_JOB = (
    "import sys\n"
    "from PIL import Image\n"
    "im = Image.open(sys.argv[1])\n"
    "im.putalpha(255)\n"
    "im.save(sys.argv[2], compression='tga_rle')\n"
)
# The same for every INPUT given, in one process: INPUT_pillow.tga.
PILLOW_BATCH_JOB = (
    "import sys\n"
    "from PIL import Image\n"
    "for path in sys.argv[1:]:\n"
    "    im = Image.open(path)\n"
    "    im.putalpha(255)\n"
    "    im.save(path[:-4] + '_pillow.tga', compression='tga_rle')\n"
)


def tga_header(image_type, width, height):
    # No ID field, no colour map, 32 bits per pixel, top-left origin with
    # 8 alpha bits.
    return struct.pack("<BBB5sHHHHBB", 0, 0, image_type, bytes(5), 0, 0,
                       width, height, 32, 0x28)


def pixel_bytes(value):
    return struct.pack("<I", value)


def flat_row(rng, width):
    """One row's packets: runs of up to 128, raw packets of up to 128."""
    out = bytearray()
    x = 0
    previous = -1
    while x < width:
        span = min(int(2 ** rng.uniform(1.0, 9.0)), width - x)
        colour = rng.getrandbits(32)
        if colour == previous:
            colour ^= 1
        x += span
        while span >= 2:
            count = min(span, 128)
            out.append(0x80 + count - 1)
            out += pixel_bytes(colour)
            span -= count
        if span == 1:
            out += b"\x00" + pixel_bytes(colour)
        previous = colour
        # Noise: about a quarter of the span's mean length, so about a
        # fifth of all pixels; no noise pixel equals its left neighbour.
        noise = min(rng.randint(0, 46), width - x)
        x += noise
        while noise > 0:
            count = min(noise, 128)
            raw = bytearray(rng.randbytes(count * 4))
            if struct.unpack_from("<I", raw)[0] == previous:
                raw[0] ^= 1
            for i in range(1, count):
                if raw[i * 4:i * 4 + 4] == raw[i * 4 - 4:i * 4]:
                    raw[i * 4] ^= 1
            out.append(count - 1)
            out += raw
            previous = struct.unpack_from("<I", raw, (count - 1) * 4)[0]
            noise -= count
    return bytes(out)


def write_flat(path, width, height, seed, distinct_rows=None):
    """Run-length encoded, one row after another. With distinct_rows, only
    that many rows are made and then repeated (for very large images)."""
    rng = random.Random(seed)
    rows = [flat_row(rng, width) for _ in range(distinct_rows or 0)]
    with open(path, "wb") as f:
        f.write(tga_header(10, width, height))
        for y in range(height):
            f.write(rows[y % len(rows)] if rows else flat_row(rng, width))


def spans_to_packets(spans):
    """Run packets for spans of 2 or more, raw packets for the single pixels
    between them; packets end with the row."""
    out = bytearray()
    raw = []
    for pixel, count in spans:
        if count == 1:
            raw.append(pixel)
            if len(raw) == 128:
                out.append(127)
                out += b"".join(raw)
                raw = []
            continue
        if raw:
            out.append(len(raw) - 1)
            out += b"".join(raw)
            raw = []
        while count >= 2:
            n = min(count, 128)
            out.append(0x80 + n - 1)
            out += pixel
            count -= n
        if count == 1:
            raw.append(pixel)
    if raw:
        out.append(len(raw) - 1)
        out += b"".join(raw)
    return bytes(out)


def spans_to_plain(spans):
    return b"".join(pixel * count for pixel, count in spans)


def new_pixel(rng, previous):
    pixel = rng.randbytes(4)
    return pixel if pixel != previous else bytes([pixel[0] ^ 1]) + pixel[1:]


def short_spans(rng, width):
    """One row as (pixel, count) spans, no two neighbours alike: runs of 2 or
    more, about 5.5 on average, four times in five followed by about 1.9
    single noise pixels."""
    spans = []
    x = 0
    previous = None
    while x < width:
        count = min(2 + int(rng.expovariate(1 / 4.0)), width - x)
        previous = new_pixel(rng, previous)
        spans.append((previous, count))
        x += count
        if rng.random() < 0.8:
            for _ in range(min(1 + int(rng.expovariate(1 / 1.4)), width - x)):
                previous = new_pixel(rng, previous)
                spans.append((previous, 1))
                x += 1
    return spans


def long_spans(rng, width):
    """As flat_row, as spans: runs of 2 to 512 with up to 46 noise pixels
    after each."""
    spans = []
    x = 0
    previous = None
    while x < width:
        count = min(int(2 ** rng.uniform(1.0, 9.0)), width - x)
        previous = new_pixel(rng, previous)
        spans.append((previous, count))
        x += count
        for _ in range(min(rng.randint(0, 46), width - x)):
            previous = new_pixel(rng, previous)
            spans.append((previous, 1))
            x += 1
    return spans


def write_short(path, width, height, seed, distinct_rows=None):
    """Run-length encoded short runs, one row after another."""
    rng = random.Random(seed)
    rows = [spans_to_packets(short_spans(rng, width))
            for _ in range(distinct_rows or 0)]
    with open(path, "wb") as f:
        f.write(tga_header(10, width, height))
        for y in range(height):
            f.write(rows[y % len(rows)] if rows
                    else spans_to_packets(short_spans(rng, width)))


def write_photo(path, width, height, seed):
    """Uncompressed random pixels whose blue low bit follows (x + y) parity,
    so no two neighbours, across or down, are equal."""
    rng = random.Random(seed)
    clear = bytes(b & 0xFE for b in range(256))
    setbit = bytes(b | 0x01 for b in range(256))
    with open(path, "wb") as f:
        f.write(tga_header(2, width, height))
        for y in range(height):
            row = bytearray(rng.randbytes(width * 4))
            even, odd = (clear, setbit) if y % 2 == 0 else (setbit, clear)
            row[0::8] = row[0::8].translate(even)
            row[4::8] = row[4::8].translate(odd)
            f.write(row)


def photo_rows(rng, width, height):
    """Random pixels; neighbours are equal with odds of 2**-32 only."""
    return [rng.randbytes(width * 4) for _ in range(height)]


def write_batch_file(path, rng):
    """One file of the batch: 64, 128, 256 or 512 pixels a side, as textures
    are, with flat, short-run or photo-like content, stored plain or
    run-length encoded."""
    width = rng.choice((64, 128, 256, 512))
    height = rng.choice((64, 128, 256, 512))
    kind = rng.choice(("flat", "short", "photo"))
    rle = rng.random() < 0.5
    with open(path, "wb") as f:
        f.write(tga_header(10 if rle else 2, width, height))
        if kind == "photo":
            for row in photo_rows(rng, width, height):
                if not rle:
                    f.write(row)
                    continue
                for x in range(0, width, 128):
                    piece = row[x * 4:(x + 128) * 4]
                    f.write(bytes([len(piece) // 4 - 1]) + piece)
            return
        make = long_spans if kind == "flat" else short_spans
        for _ in range(height):
            spans = make(rng, width)
            f.write(spans_to_packets(spans) if rle else spans_to_plain(spans))


def batch_inputs(args, workdir):
    """The batch's files: generated into workdir/batch, or with --batch-dir
    the 32-bit type 2 and 10 files found there (read, never written to)."""
    if args.batch_dir:
        found = []
        for root, _, names in os.walk(args.batch_dir):
            for name in sorted(names):
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    head = f.read(18)
                if (name.lower().endswith(".tga") and len(head) == 18
                        and head[2] in (2, 10) and head[16] == 32
                        and not name.endswith("_brisel.tga")):
                    found.append(path)
        if not found:
            sys.exit(f"{args.batch_dir}: no 32-bit TGA files")
        # Outputs go beside copies in workdir, never into the folder given.
        folder = os.path.join(workdir, "batch-dir")
        os.makedirs(folder, exist_ok=True)
        paths = []
        for i, source in enumerate(found):
            path = os.path.join(folder, f"{i:04d}.tga")
            if not os.path.exists(path):
                shutil.copyfile(source, path)
            paths.append(path)
        return paths
    folder = os.path.join(workdir, "batch")
    os.makedirs(folder, exist_ok=True)
    paths = []
    for i in range(args.batch_files):
        path = os.path.join(folder, f"{i:04d}.tga")
        if not os.path.exists(path):
            write_batch_file(path, random.Random(1000 + i))
        paths.append(path)
    return paths


def remove(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def run_timed(argv, stdout_path=None):
    """Runs argv to completion; returns (seconds, peak RSS in bytes)."""
    start = time.perf_counter()
    if stdout_path is None:
        proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    else:
        with open(stdout_path, "wb") as out:
            proc = subprocess.Popen(argv, stdout=out)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"{argv[0]} failed with status {proc.returncode}")
    run_timed.cpu = usage.ru_utime + usage.ru_stime
    run_timed.usage = usage
    return elapsed, usage.ru_maxrss * 1024


TIME_PROGRAM = "/usr/bin/time"


def peak_rss(argv, fallback):
    """The peak resident memory of one more run of argv, through GNU time
    when it is there. A child spawned straight from this script inherits the
    script's own high-water mark, which hides a peak smaller than it (a
    batch of small files); one spawned from time does not."""
    if not os.access(TIME_PROGRAM, os.X_OK):
        return fallback
    done = subprocess.run([TIME_PROGRAM, "-f", "%M"] + argv,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        return int(done.stderr.decode().split()[-1]) * 1024
    except (ValueError, IndexError):
        return fallback


def have_pillow():
    if not os.access(PILLOW_PYTHON, os.X_OK):
        return False
    return subprocess.run([PILLOW_PYTHON, "-c", "import PIL"],
                          stderr=subprocess.DEVNULL).returncode == 0


def same_pixels(brisel_output, pillow_output):
    """Pillow reads both outputs; their pixels must agree."""
    check = ("import sys\nfrom PIL import Image\n"
             "a = Image.open(sys.argv[1]); b = Image.open(sys.argv[2])\n"
             "sys.exit(0 if a.size == b.size and a.tobytes() == b.tobytes() "
             "else 1)\n")
    return subprocess.run([PILLOW_PYTHON, "-c", check, brisel_output,
                           pillow_output]).returncode == 0


def measure(name, path, args, pillow):
    stem = path[:-4]
    outputs = {"cat": stem + "_cat.tga", "brisel": stem + "_brisel.tga",
               "pillow": stem + "_pillow.tga"}
    commands = {
        "cat": (["cat", path], outputs["cat"]),
        "brisel": ([args.brisel, path], None),
    }
    if pillow:
        commands["pillow"] = ([PILLOW_PYTHON, "-c", PILLOW_JOB, path,
                               outputs["pillow"]], None)
    if args.floor:
        for mode in ("stream", "image"):
            outputs[mode] = stem + "_" + mode + ".tga"
            commands[mode] = ([args.floor, mode, path, outputs[mode]], None)
    times = {tool: [] for tool in commands}
    cpu = {tool: [] for tool in commands}
    peaks = []
    for round_index in range(args.runs + 1):
        for tool, (argv, stdout_path) in commands.items():
            remove(outputs[tool])
            elapsed, peak = run_timed(argv, stdout_path)
            if round_index > 0:  # round 0 is the warm-up
                times[tool].append(elapsed)
                cpu[tool].append(run_timed.cpu)
                if tool == "brisel":
                    peaks.append(peak)
        if round_index == 0 and pillow and args.check:
            if not same_pixels(outputs["brisel"], outputs["pillow"]):
                sys.exit(f"{name}: brisel's pixels differ from Pillow's")
    with open(outputs["brisel"], "rb") as f:
        out_type = f.read(3)[2]
    remove(outputs["brisel"])
    peak = peak_rss(commands["brisel"][0], max(peaks, default=0))
    for output in outputs.values():
        remove(output)
    medians = {tool: statistics.median(values) for tool, values in times.items()}
    return {
        "name": name,
        "input_mib": os.path.getsize(path) / 2**20,
        "out_type": out_type,
        "medians": medians,
        "peak": peak,
        "cpu": {t: statistics.median(v) for t, v in cpu.items()},
        "limit": RSS_LIMIT,
    }


def measure_batch(paths, args, pillow):
    """brisel, the per-file floor and Pillow, each one process for all the
    files, interleaved as in measure."""
    stems = [path[:-4] for path in paths]
    outputs = {"brisel": [s + "_brisel.tga" for s in stems],
               "pillow": [s + "_pillow.tga" for s in stems],
               "files": [s + "_floor.tga" for s in stems]}
    commands = {"brisel": [args.brisel] + paths}
    if args.floor:
        commands["files"] = [args.floor, "files"] + paths
    if pillow:
        commands["pillow"] = [PILLOW_PYTHON, "-c", PILLOW_BATCH_JOB] + paths
    times = {tool: [] for tool in commands}
    cpu = {tool: [] for tool in commands}
    peaks = []
    # Each program's outputs are deleted right after its run, so that each
    # finds the folder as the one before left it: only the inputs, and the
    # inodes of the outputs just deleted, which the file system steps over.
    for tool in commands:
        for output in outputs[tool]:
            remove(output)
    for round_index in range(args.runs + 1):
        for tool, argv in commands.items():
            elapsed, peak = run_timed(argv)
            for output in outputs[tool]:
                remove(output)
            if round_index > 0:
                times[tool].append(elapsed)
                cpu[tool].append(run_timed.cpu)
                if tool == "brisel":
                    peaks.append(peak)
    peak = peak_rss(commands["brisel"], max(peaks, default=0))
    for output in outputs["brisel"]:
        remove(output)
    return {
        "name": f"batch of {len(paths)}",
        "input_mib": sum(os.path.getsize(p) for p in paths) / 2**20,
        "out_type": None,
        "medians": {t: statistics.median(v) for t, v in times.items()},
        "peak": peak,
        "cpu": {t: statistics.median(v) for t, v in cpu.items()},
        "limit": RSS_LIMIT,
    }


def digest(paths):
    """One hash of the files' bytes, or None when one is missing."""
    sha = hashlib.sha256()
    for path in paths:
        try:
            with open(path, "rb") as f:
                sha.update(f.read())
        except FileNotFoundError:
            return None
    return sha.hexdigest()


def measure_builds(name, paths, builds, args):
    """Each build ((label, command) pairs) given `paths` in one call, in
    interleaved rounds after a warm-up round, first and last by turns."""
    outputs = sorted(set(path[:-4] + "_brisel.tga" for path in paths))
    times = {label: [] for label, _ in builds}
    cpu = {label: [] for label, _ in builds}
    sums = {}
    for round_index in range(args.runs + 1):
        for label, command in builds if round_index % 2 == 0 else builds[::-1]:
            elapsed, _ = run_timed(command + paths)
            if round_index == 0:
                sums[label] = digest(outputs)
            for output in outputs:
                remove(output)
            if round_index > 0:
                times[label].append(elapsed)
                cpu[label].append(run_timed.cpu)
    first = builds[0][0]
    for label, _ in builds:
        if sums[label] is None or sums[label] != sums[first]:
            sys.exit(f"{name}: the outputs of {label} differ from those of "
                     f"{first} or are missing")
    return {
        "name": name,
        "input_mib": sum(os.path.getsize(p) for p in set(paths)) / 2**20,
        "times": times,
        "cpu": {t: statistics.median(v) for t, v in cpu.items()},
    }


def one_off(args, side):
    """One run of cat and of brisel on a flat side x side image."""
    workdir = args.workdir or tempfile.mkdtemp(prefix="brisel-bench-")
    os.makedirs(workdir, exist_ok=True)
    path = os.path.join(workdir, f"flat{side}.tga")
    outputs = [path[:-4] + "_cat.tga", path[:-4] + "_brisel.tga"]
    try:
        print(f"making {path} ...", flush=True)
        write_flat(path, side, side, 1, distinct_rows=64)
        cat_time, _ = run_timed(["cat", path], outputs[0])
        remove(outputs[0])
        brisel_time, peak = run_timed(args.wrapper + [args.brisel, path])
        usage = run_timed.usage
        out_size = os.path.getsize(outputs[1])
        pixels = side * side * 4
        print(f"flat {side}x{side}: input {os.path.getsize(path) / 2**30:.2f} "
              f"GiB, output {out_size / 2**30:.2f} GiB, pixels "
              f"{pixels / 2**30:.2f} GiB")
        print(f"cat {cat_time:.1f} s, brisel {brisel_time:.1f} s, brisel "
              f"peak RSS {peak / 2**30:.2f} GiB (limit "
              f"{RSS_LIMIT / 2**30:.2f} GiB)")
        print(f"brisel CPU: user {usage.ru_utime:.1f} s, system "
              f"{usage.ru_stime:.1f} s, {usage.ru_minflt} page faults")
    finally:
        for name in outputs + [path]:
            remove(name)
        if not args.workdir:
            shutil.rmtree(workdir)


WORKLOADS = ("flat", "photo", "short", "batch")
# The most memory brisel may take for any image read from a file.
RSS_LIMIT = 16 * 2**20
LABELS = {"flat": "long spans", "photo": "photo", "short": "short runs"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--brisel", default="build/bench/brisel",
                        help="the tool to time (default: %(default)s)")
    parser.add_argument("--runs", type=int, default=11,
                        help="timed rounds after the warm-up (default: 11)")
    parser.add_argument("--size", type=int, default=4096,
                        help="width and height of the single-image workloads")
    parser.add_argument("--workloads", default=",".join(WORKLOADS),
                        help="comma-separated, from " + ", ".join(WORKLOADS)
                             + " (default: all)")
    parser.add_argument("--batch-files", type=int, default=300,
                        help="files in the generated batch (default: 300)")
    parser.add_argument("--batch-dir",
                        help="time the batch on the 32-bit TGA files under "
                             "this folder (copied to the work folder) instead "
                             "of generated ones")
    parser.add_argument("--workdir",
                        help="folder for inputs and outputs (default: a new "
                             "temporary folder, removed afterwards); inputs "
                             "already there are reused")
    parser.add_argument("--floor",
                        help="the copy_floor program (default: "
                             "bench/copy_floor beside the tool, if built)")
    parser.add_argument("--no-pillow", action="store_true",
                        help="leave Pillow out")
    parser.add_argument("--check", action="store_true",
                        help="after the warm-up, check with Pillow that "
                             "brisel's output has Pillow's pixels (single "
                             "images)")
    parser.add_argument("--one-off", type=int, metavar="SIDE",
                        help="instead of the table: one run of cat and brisel "
                             "on a flat SIDExSIDE image (65535 is the largest; "
                             "its input takes about 4 GB, deleted afterwards)")
    parser.add_argument("--wrapper", type=shlex.split, default=[],
                        help="command that runs the tool, such as wine or "
                             "\"qemu-aarch64-static -L /usr/aarch64-linux-gnu\"; "
                             "then only builds are timed")
    parser.add_argument("--other", metavar="BRISEL",
                        help="a second build, timed side by side with the tool")
    parser.add_argument("--other-wrapper", type=shlex.split, default=[],
                        help="command that runs the second build")
    parser.add_argument("--repeat", type=int, default=1,
                        help="with --wrapper or --other: each call processes "
                             "the single image this many times (default: 1)")
    args = parser.parse_args()
    # The tool alone against the floors, or builds side by side.
    builds = [("brisel", args.wrapper, args.brisel)]
    if args.other:
        builds.append(("other", args.other_wrapper, args.other))
    for i, (label, wrapper, program) in enumerate(builds):
        program = os.path.abspath(program)
        if not os.access(program, os.X_OK):
            sys.exit(f"{program}: no such program; build it first "
                     "(cmake --workflow ... or cmake --build --preset bench)")
        builds[i] = (label, wrapper + [program])
    args.brisel = os.path.abspath(args.brisel)
    if not (args.wrapper or args.other):
        builds = []
        if args.repeat != 1:
            sys.exit("--repeat is for builds timed through --wrapper or --other")
    if args.floor is None:
        args.floor = os.path.join(os.path.dirname(args.brisel), "bench",
                                  "copy_floor")
    args.floor = os.path.abspath(args.floor)
    if not os.access(args.floor, os.X_OK):
        args.floor = None
    if args.one_off:
        one_off(args, args.one_off)
        return
    workloads = [w for w in args.workloads.split(",") if w]
    for w in workloads:
        if w not in WORKLOADS:
            sys.exit(f"unknown workload {w}; choose from {', '.join(WORKLOADS)}")
    pillow = not args.no_pillow and have_pillow()

    workdir = args.workdir or tempfile.mkdtemp(prefix="brisel-bench-")
    os.makedirs(workdir, exist_ok=True)
    side = args.size
    writers = {"flat": (write_flat, 1), "photo": (write_photo, 2),
               "short": (write_short, 4)}
    try:
        rows = []
        for name in workloads:
            if name == "batch":
                paths = batch_inputs(args, workdir)
                rows.append(measure_builds(f"batch of {len(paths)}", paths,
                                           builds, args) if builds else
                            measure_batch(paths, args, pillow))
                continue
            writer, seed = writers[name]
            path = os.path.join(workdir, f"{name}{side}.tga")
            if not os.path.exists(path):
                writer(path, side, side, seed)
            if builds:
                rows.append(measure_builds(LABELS[name], [path] * args.repeat,
                                           builds, args))
                continue
            row = measure(name, path, args, pillow)
            row["name"] = LABELS[name]
            rows.append(row)
    finally:
        if not args.workdir:
            shutil.rmtree(workdir)
    if builds:
        print_builds(rows, builds, args, side)
    else:
        print_tables(rows, args, side, pillow)


def print_builds(rows, builds, args, side):
    print(f"medians of {args.runs} interleaved runs after a warm-up, with the "
          f"range; whole processes, spawn to exit; single images {side}x{side}, "
          f"{args.repeat} to a call")
    for label, command in builds:
        print(f"{label}: {shlex.join(command)}")
    print()
    labels = [label for label, _ in builds]
    header = ["workload", "input"]
    for label in labels:
        header += [label, f"{label} CPU"]
    if len(labels) == 2:
        header.append("/".join(labels))
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        cells = [row["name"], f"{row['input_mib']:.1f} MiB"]
        medians = {}
        for label in labels:
            values = [t * 1e3 for t in row["times"][label]]
            medians[label] = statistics.median(values)
            cells += [f"{medians[label]:.1f} ms ({min(values):.1f}-{max(values):.1f})",
                      f"{row['cpu'][label] * 1e3:.1f} ms"]
        if len(labels) == 2:
            cells.append(f"{medians[labels[0]] / medians[labels[1]]:.2f}x")
        print("| " + " | ".join(cells) + " |")


def print_tables(rows, args, side, pillow):
    print(f"medians of {args.runs} interleaved runs after a warm-up; whole "
          f"processes, spawn to exit; single images {side}x{side}")
    print()
    # Each workload against its floor: the stream floor for one image, the
    # per-file floor (copy_floor files) for the batch. CPU time (user plus
    # system) moves less than wall time on a shared machine.
    header = ["workload", "input", "floor", "brisel", "brisel/floor",
              "floor CPU", "brisel CPU", "CPU ratio"]
    if pillow:
        header += ["Pillow", "Pillow/brisel"]
    header += ["brisel peak RSS", "RSS limit"]
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        m = row["medians"]
        floor_tool = "stream" if "stream" in m else "files"
        floor = m.get(floor_tool)
        floor_cpu = row["cpu"].get(floor_tool)
        brisel_cpu = row["cpu"]["brisel"]
        if row["out_type"] is None:
            name = row["name"]
        else:
            kind = "RLE" if row["out_type"] == 10 else "plain"
            name = f"{row['name']} ({kind})"
        cells = [name, f"{row['input_mib']:.1f} MiB",
                 f"{floor * 1e3:.1f} ms" if floor else "-",
                 f"{m['brisel'] * 1e3:.1f} ms",
                 f"{m['brisel'] / floor:.2f}x" if floor else "-",
                 f"{floor_cpu * 1e3:.1f} ms" if floor else "-",
                 f"{brisel_cpu * 1e3:.1f} ms",
                 f"{brisel_cpu / floor_cpu:.2f}x" if floor else "-"]
        if pillow:
            cells += [f"{m['pillow'] * 1e3:.0f} ms",
                      f"{m['pillow'] / m['brisel']:.1f}x"]
        cells += [f"{row['peak'] / 2**20:.1f} MiB",
                  f"{row['limit'] / 2**20:.1f} MiB"]
        print("| " + " | ".join(cells) + " |")
    singles = [row for row in rows if "cat" in row["medians"]]
    if args.floor and singles:
        print()
        print("| workload | cat | stream floor | image floor | brisel |")
        print("|---|---|---|---|---|")
        for row in singles:
            m = row["medians"]
            cells = [row["name"]] + [
                f"{m[tool] * 1e3:.1f} ms ({m[tool] / m['cat']:.2f}x cat)"
                for tool in ("cat", "stream", "image", "brisel")]
            print("| " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
