#!/usr/bin/env python3
"""Times brisel against copying the file with cat, and against Pillow.

Makes two 4096x4096 32-bit TGA workloads with its own generator:

  flat   render-like rows: horizontal spans of equal pixels of varied length
         (2 to 512) with about 20% noise pixels between them; stored run-length
         encoded, and brisel writes it run-length encoded.
  photo  no two neighbouring pixels equal; stored uncompressed, and brisel
         writes it uncompressed.

For each workload it runs, after one warm-up round, --runs interleaved rounds
of:

  cat     cat INPUT > NEW          (the floor: read and write the bytes once)
  brisel  brisel INPUT             (writes INPUT_brisel.tga beside it)
  pillow  open, putalpha(255), save(compression="tga_rle"), in a fresh
          /usr/bin/python3 (only when Pillow is installed there)
  floors  copy_floor stream and copy_floor image (bench/copy_floor.cc, built
          beside kernels_bench), when found: the least that moving the
          pixels through a process's memory, and holding the whole decoded
          image, cost before any packet coding. cat is not such a floor: it
          has the kernel copy between the files (copy_file_range), and the
          bytes never reach its memory.

Each run is a whole process, timed from spawn to exit; its peak resident
memory comes from the kernel's rusage for that child (os.wait4). Every
output is deleted before the next run, outside the timing, the same way for
all three. It prints medians, ratios and brisel's peak memory against
1.1 x (width x height x 4) + 8 MiB.

Standard library only; run it with any python3:
  python3 bench/compare.py --brisel build/bench/brisel
"""

import argparse
import os
import random
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


def measure(name, path, width, height, args, pillow):
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
    peaks = []
    cpu = []
    for round_index in range(args.runs + 1):
        for tool, (argv, stdout_path) in commands.items():
            remove(outputs[tool])
            elapsed, peak = run_timed(argv, stdout_path)
            if round_index > 0:  # round 0 is the warm-up
                times[tool].append(elapsed)
                if tool == "brisel":
                    peaks.append(peak)
                    cpu.append(run_timed.cpu)
        if round_index == 0 and pillow and args.check:
            if not same_pixels(outputs["brisel"], outputs["pillow"]):
                sys.exit(f"{name}: brisel's pixels differ from Pillow's")
    with open(outputs["brisel"], "rb") as f:
        out_type = f.read(3)[2]
    for output in outputs.values():
        remove(output)
    medians = {tool: statistics.median(values) for tool, values in times.items()}
    return {
        "name": name,
        "input_mib": os.path.getsize(path) / 2**20,
        "out_type": out_type,
        "medians": medians,
        "peak": max(peaks),
        "cpu": statistics.median(cpu),
        "limit": 1.1 * width * height * 4 + 8 * 2**20,
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
        brisel_time, peak = run_timed([args.brisel, path])
        usage = run_timed.usage
        out_size = os.path.getsize(outputs[1])
        pixels = side * side * 4
        print(f"flat {side}x{side}: input {os.path.getsize(path) / 2**30:.2f} "
              f"GiB, output {out_size / 2**30:.2f} GiB, pixels "
              f"{pixels / 2**30:.2f} GiB")
        print(f"cat {cat_time:.1f} s, brisel {brisel_time:.1f} s, brisel "
              f"peak RSS {peak / 2**30:.2f} GiB (limit "
              f"{(1.1 * pixels + 8 * 2**20) / 2**30:.2f} GiB)")
        print(f"brisel CPU: user {usage.ru_utime:.1f} s, system "
              f"{usage.ru_stime:.1f} s, {usage.ru_minflt} page faults")
    finally:
        for name in outputs + [path]:
            remove(name)
        if not args.workdir:
            shutil.rmtree(workdir)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--brisel", default="build/bench/brisel",
                        help="the tool to time (default: %(default)s)")
    parser.add_argument("--runs", type=int, default=11,
                        help="timed rounds after the warm-up (default: 11)")
    parser.add_argument("--size", type=int, default=4096,
                        help="width and height of the workloads")
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
                             "brisel's output has Pillow's pixels")
    parser.add_argument("--one-off", type=int, metavar="SIDE",
                        help="instead of the table: one run of cat and brisel "
                             "on a flat SIDExSIDE image (65535 is the largest; "
                             "its input takes about 4 GB, deleted afterwards)")
    args = parser.parse_args()
    args.brisel = os.path.abspath(args.brisel)
    if not os.access(args.brisel, os.X_OK):
        sys.exit(f"{args.brisel}: no such program; build it first "
                 "(cmake --workflow ... or cmake --build --preset bench)")
    if args.floor is None:
        args.floor = os.path.join(os.path.dirname(args.brisel), "bench",
                                  "copy_floor")
    args.floor = os.path.abspath(args.floor)
    if not os.access(args.floor, os.X_OK):
        args.floor = None
    if args.one_off:
        one_off(args, args.one_off)
        return
    pillow = not args.no_pillow and have_pillow()

    workdir = args.workdir or tempfile.mkdtemp(prefix="brisel-bench-")
    os.makedirs(workdir, exist_ok=True)
    side = args.size
    try:
        rows = []
        for name, writer, seed in (("flat", write_flat, 1),
                                   ("photo", write_photo, 2)):
            path = os.path.join(workdir, f"{name}{side}.tga")
            if not os.path.exists(path):
                writer(path, side, side, seed)
            rows.append(measure(name, path, side, side, args, pillow))
    finally:
        if not args.workdir:
            shutil.rmtree(workdir)

    print(f"{side}x{side}, medians of {args.runs} interleaved runs after a "
          f"warm-up; whole processes, spawn to exit")
    print()
    header = ["workload", "input", "cat", "brisel", "brisel/cat", "brisel CPU"]
    if pillow:
        header += ["Pillow", "Pillow/brisel"]
    header += ["brisel peak RSS", "RSS limit"]
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        m = row["medians"]
        kind = "RLE" if row["out_type"] == 10 else "plain"
        cells = [f"{row['name']} ({kind})", f"{row['input_mib']:.1f} MiB",
                 f"{m['cat'] * 1e3:.1f} ms", f"{m['brisel'] * 1e3:.1f} ms",
                 f"{m['brisel'] / m['cat']:.2f}x", f"{row['cpu'] * 1e3:.1f} ms"]
        if pillow:
            cells += [f"{m['pillow'] * 1e3:.0f} ms",
                      f"{m['pillow'] / m['brisel']:.1f}x"]
        cells += [f"{row['peak'] / 2**20:.1f} MiB",
                  f"{row['limit'] / 2**20:.1f} MiB"]
        print("| " + " | ".join(cells) + " |")
    if args.floor:
        print()
        print("| workload | cat | stream floor | image floor | brisel |")
        print("|---|---|---|---|---|")
        for row in rows:
            m = row["medians"]
            cells = [row["name"]] + [
                f"{m[tool] * 1e3:.1f} ms ({m[tool] / m['cat']:.2f}x cat)"
                for tool in ("cat", "stream", "image", "brisel")]
            print("| " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
