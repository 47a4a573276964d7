#!/usr/bin/env python3
"""Fault tests: the built tool pushed into failures.

usage: fault_test.py CASE SANITIZED SHIM TOOL [TOOL_ARGS...]
Runs FaultTest.test_CASE with TOOL (plus any emulator in front) as the tool.
Exit status 77 when the case is skipped.
"""
import os
import random
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tga_model import encode, header, load, opaque  # noqa: E402

TOOL = []
SANITIZED = False
SHIM = ""  # the library that rewrites an input while the tool runs


def noise(pixels, seed):
    return random.Random(seed).randbytes(pixels * 4)


def image_file(width, height, seed, rle, id_field=b""):
    """A valid file: rows of short runs and single pixels, so that it holds
    run and raw packets when run-length encoded."""
    rng = random.Random(seed)
    rows = []
    for _ in range(height):
        row = []
        while len(row) < width:
            row += [rng.randbytes(4)] * rng.choice((1, 1, 2, 3, 5))
        rows.append(row[:width])
    pixels = b"".join(b"".join(row) for row in rows)
    body = encode(pixels, width, height, 128) if rle else pixels
    return header(width, height, 10 if rle else 2, id_length=len(id_field)) \
        + id_field + body + b"TRUEVISION-XFILE.\0"


def flat_rle(width, height, pixel):
    """width x height pixels, as runs of up to 128 within each row."""
    return header(width, height, 10) + flat_row(width, pixel) * height


def flat_row(width, pixel):
    runs, last = divmod(width, 128)
    return (b"\xff" + pixel) * runs + \
        (bytes([0x7f + last]) + pixel if last else b"")


def wrong_at_the_end(seed):
    """A plain 1024 x 1024 image whose first rows pack and whose whole does
    not: its first row is flat, the rest noise."""
    return header(1024, 1024) + b"\1\2\3\4" * 1024 + noise(1024 * 1023, seed)


def wrong_part_way(seed):
    """A plain 1024 x 1024 image whose first rows (a block) do not pack and
    whose first MiB does: 64 rows of noise, 192 flat, the rest noise."""
    return (header(1024, 1024) + noise(1024 * 64, seed) + b"\1\2\3\4" * 1024 * 192
            + noise(1024 * 768, seed + 100))


def join(procs):
    """A preexec_fn that moves the child into the cgroup of `procs`."""
    def join_cgroup():
        with open(procs, "w") as f:
            f.write(str(os.getpid()))
    return join_cgroup


class FaultTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.realpath(
            tempfile.mkdtemp(prefix="faults-", dir=os.getcwd()))
        self.inputs = {}

    def tearDown(self):
        try:
            for name, data in self.inputs.items():
                with open(self.path(name), "rb") as f:
                    self.assertTrue(f.read() == data, name + " changed")
        finally:
            shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def put(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        self.inputs[name] = data

    def run_tool(self, *args, **kwargs):
        kwargs.setdefault("timeout", 600)
        result = subprocess.run(TOOL + list(args), cwd=self.dir,
                                capture_output=True, **kwargs)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(result.stderr, b"")
        return result.stdout.decode()

    def piped(self, name, data):
        """Makes `name` lead to standard input and returns run_tool's
        arguments that feed `data` to it through a pipe: an input that can
        be read only once."""
        os.symlink("/dev/stdin", self.path(name))
        return {"input": data}

    def check_output(self, name, expected):
        head, extra, pixels, _ = expected
        with open(self.path(name), "rb") as f:
            got = load(f.read())
        self.assertIsInstance(got, tuple, name)
        self.assertEqual(got[0][:2] + got[0][3:], head[:2] + head[3:], name)
        self.assertEqual(got[1:], (extra, opaque(pixels), True), name)

    def unwritable(self, make_output, timeout=600):
        self.put("a.tga", image_file(5, 3, 1, rle=True))
        self.put("b.tga", image_file(5, 3, 2, rle=False))
        make_output(self.path("a_brisel.tga"))
        before = sorted(os.listdir(self.dir))
        self.assertEqual(self.run_tool("a.tga", "b.tga", timeout=timeout),
                         "a_brisel.tga cannot be written\n"
                         "written b_brisel.tga\n")
        self.assertEqual(sorted(os.listdir(self.dir)),
                         sorted(before + ["b_brisel.tga"]))
        self.check_output("b_brisel.tga", load(self.inputs["b.tga"]))

    def test_output_is_folder(self):
        def make(path):
            os.mkdir(path)
            with open(os.path.join(path, "keep"), "wb") as f:
                f.write(b"keep")
        self.unwritable(make)
        self.assertEqual(os.listdir(self.path("a_brisel.tga")), ["keep"])
        with open(self.path("a_brisel.tga/keep"), "rb") as f:
            self.assertEqual(f.read(), b"keep")

    @unittest.skipUnless(os.path.exists("/dev/full"), "no /dev/full")
    def test_output_links_to_dev_full(self):
        self.unwritable(lambda path: os.symlink("/dev/full", path))
        self.assertEqual(os.readlink(self.path("a_brisel.tga")), "/dev/full")

    @unittest.skipUnless(os.path.exists("/dev/full"), "no /dev/full")
    def test_messages_cannot_be_written(self):
        # The lines are the only report: every file is still handled, but
        # a lost line must show in the exit status, with a word on stderr.
        self.put("a.tga", image_file(5, 3, 1, rle=True))
        full = open("/dev/full", "wb")
        self.addCleanup(full.close)
        # A reader gone while SIGPIPE is ignored, as a parent may hand down
        # (Python's subprocess, a shell's trap '' PIPE): each write fails.
        gone, broken = os.pipe()
        os.close(gone)
        self.addCleanup(os.close, broken)
        for name, how in (("a full disk", {"stdout": full}),
                          ("closed", {"preexec_fn": lambda: os.close(1)}),
                          ("a broken pipe", {"stdout": broken,
                                             "restore_signals": False})):
            with self.subTest(stdout=name):
                done = subprocess.run(TOOL + ["a.tga", "missing.tga"],
                                      cwd=self.dir, stderr=subprocess.PIPE,
                                      timeout=60, **how)
                self.assertEqual(done.returncode, 1, name)
                self.assertRegex(done.stderr.decode(),
                                 "^brisel: messages could not be written: .+\n$")
                self.check_output("a_brisel.tga", load(self.inputs["a.tga"]))
                os.remove(self.path("a_brisel.tga"))

    def test_output_is_fifo_without_reader(self):
        # Nothing reads it, so waiting to open it would hold the batch
        # forever.
        self.unwritable(os.mkfifo, timeout=60)
        self.assertTrue(stat.S_ISFIFO(os.lstat(self.path("a_brisel.tga")).st_mode))

    def test_output_fifo_reader_leaves(self):
        # A reader that leaves while the output is written breaks the pipe:
        # that output cannot be written, but the batch must go on, its
        # messages kept. Only standard output may end the run by SIGPIPE.
        self.put("o.tga", header(256, 256) + noise(256 * 256, 14))  # > a pipe
        self.put("p.tga", image_file(3, 2, 15, rle=True))
        for link in (False, True):
            with self.subTest(link=link):
                for name in ("fifo", "o_brisel.tga", "p_brisel.tga"):
                    if os.path.lexists(self.path(name)):
                        os.remove(self.path(name))
                fifo = self.path("fifo" if link else "o_brisel.tga")
                os.mkfifo(fifo)
                if link:
                    os.symlink("fifo", self.path("o_brisel.tga"))
                reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
                left = threading.Thread(target=self.leave_after,
                                        args=(reader, 100))
                left.start()
                try:
                    self.assertEqual(self.run_tool("o.tga", "p.tga", timeout=60),
                                     "o_brisel.tga cannot be written\n"
                                     "written p_brisel.tga\n")
                finally:
                    left.join()
                self.check_output("p_brisel.tga", load(self.inputs["p.tga"]))
        # Standard output's own reader leaving still ends the run.
        out, gone = os.pipe()
        os.close(out)
        done = subprocess.run(TOOL + ["p.tga"], cwd=self.dir, stdout=gone,
                              timeout=60)
        os.close(gone)
        self.assertEqual(done.returncode, -signal.SIGPIPE)

    def test_piped_input_to_fifo_output(self):
        # Neither a pipe input nor a named pipe output can be read twice:
        # the file is made in a temporary file, here started over when the
        # first rows prove wrong, and copied into the pipe once whole.
        data = wrong_at_the_end(16)
        os.mkfifo(self.path("p_brisel.tga"))
        os.symlink("/dev/null", self.path("q_brisel.tga"))
        reader = os.open(self.path("p_brisel.tga"), os.O_RDONLY | os.O_NONBLOCK)
        got, done = [], threading.Event()

        def drain():
            while True:
                try:
                    chunk = os.read(reader, 1 << 16)
                except BlockingIOError:
                    chunk = None
                if chunk:
                    got.append(chunk)
                elif done.is_set():
                    return
                else:
                    time.sleep(0.001)
        thread = threading.Thread(target=drain)
        thread.start()
        try:
            self.put("q.tga", data)
            self.assertEqual(self.run_tool("p.tga", "q.tga", timeout=60,
                                           **self.piped("p.tga", data)),
                             "written p_brisel.tga\nwritten q_brisel.tga\n")
        finally:
            done.set()
            thread.join()
            os.close(reader)
        self.assertTrue(b"".join(got) == data[:18] + opaque(data[18:]))

    def test_input_rewritten_during_run(self):
        # An input is read once, from its first byte to its last: when the
        # first guess of the format proves wrong, the tool reads back its own
        # output, never the input. An input rewritten in place at that
        # moment, part way through it or after its last pixel, gives
        # "cannot be read" and no output, never a mix of two versions.
        if SANITIZED or len(TOOL) > 1:
            self.skipTest("the shim is preloaded into the tool run natively")
        cases = {"early.tga": (wrong_part_way(1), wrong_part_way(2)),
                 "late.tga": (wrong_at_the_end(3), wrong_at_the_end(4))}
        for name, (old, new) in cases.items():
            with open(self.path(name), "wb") as f:
                f.write(old)
            with open(self.path("new.tga"), "wb") as f:
                f.write(new)
            env = dict(os.environ, LD_PRELOAD=SHIM, BRISEL_SHIM_WITH=self.path("new.tga"),
                       BRISEL_SHIM_REWRITE=self.path(name))
            line = self.run_tool(name, env=env)
            with open(self.path(name), "rb") as f:
                self.assertTrue(f.read() == new, "not rewritten: " + name)
            self.assertEqual(line, name + " cannot be read\n")
            self.assertFalse(os.path.exists(self.path(name[:-4] + "_brisel.tga")))

    @staticmethod
    def leave_after(fd, count):
        """Reads `count` bytes or more from the pipe `fd`, then closes it."""
        got = 0
        deadline = time.monotonic() + 60
        while got < count and time.monotonic() < deadline:
            try:
                got += len(os.read(fd, count))
            except BlockingIOError:
                pass
            time.sleep(0.001)
        os.close(fd)

    def test_replaced_output_keeps_permissions(self):
        # A private or read-only output must not come back readable or
        # writable by others; a new output gets the mode the umask gives.
        umask = os.umask(0o22)
        os.umask(umask)
        old_modes = {"a_brisel.tga": 0o600, "b_brisel.tga": 0o444}
        for name, mode in old_modes.items():
            self.put(name[0] + ".tga", image_file(3, 2, ord(name[0]), rle=True))
            with open(self.path(name), "wb") as f:
                f.write(b"an older output")
            os.chmod(self.path(name), mode)
        self.put("c.tga", image_file(3, 2, 13, rle=False))
        owner = (os.getuid(), os.getgid())
        if os.geteuid() == 0:
            owner = (1234, 5678)
            os.chown(self.path("a_brisel.tga"), *owner)
        self.run_tool("a.tga", "b.tga", "c.tga")
        modes = {name: stat.S_IMODE(os.stat(self.path(name)).st_mode)
                 for name in ("a_brisel.tga", "b_brisel.tga", "c_brisel.tga")}
        self.assertEqual(modes, dict(old_modes, **{"c_brisel.tga": 0o666 & ~umask}))
        got = os.stat(self.path("a_brisel.tga"))
        self.assertEqual((got.st_uid, got.st_gid), owner)
        self.check_output("a_brisel.tga", load(self.inputs["a.tga"]))

    def test_killed_while_writing(self):
        side = 4096
        pixels = noise(side * side, 3)
        self.put("big.tga", header(side, side) + pixels)
        new = header(side, side) + opaque(pixels)
        old = image_file(3, 2, 4, rle=True)
        input_path = os.path.realpath(self.path("big.tga"))
        partial = 0
        # With O_TMPFILE the temporary file has no name while it is written.
        # It gets one for the instant between the end of writing and the
        # rename (no call replaces a name by an unnamed file), so a kill just
        # then may leave it behind, complete. Without O_TMPFILE it has a name
        # from the start and may be left behind at any point.
        try:
            os.close(os.open(self.dir, os.O_TMPFILE | os.O_WRONLY))
            unnamed = True
        except OSError:
            unnamed = False
        # The moment of each kill: while the input is read (None), or when
        # this share of the output is in the temporary file.
        for moment in (None, 0.0, 0.25, 0.5, 0.75, 1.0):
            with open(self.path("big_brisel.tga"), "wb") as f:
                f.write(old)
            proc = subprocess.Popen(TOOL + ["big.tga"], cwd=self.dir,
                                    stdout=subprocess.DEVNULL)
            size = None
            if moment is None:
                time.sleep(0.005)
            else:
                while proc.poll() is None:
                    size = self.temp_size(proc.pid, input_path)
                    if size is not None and size >= moment * len(new):
                        partial += 0 < size < len(new)
                        break
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            for name in os.listdir(self.dir):
                if name.startswith("big_brisel.tga.brisel-tmp-"):
                    with open(self.path(name), "rb") as f:
                        left = f.read()
                    print(f"left behind: {name}, {len(left)} bytes")
                    self.assertTrue(left == new or not unnamed, "part left")
                    os.remove(self.path(name))
            self.assertEqual(sorted(os.listdir(self.dir)),
                             ["big.tga", "big_brisel.tga"])
            with open(self.path("big_brisel.tga"), "rb") as f:
                result = f.read()
            print(f"killed at {moment}: temporary file {size} bytes, output "
                  f"{'old' if result == old else 'new' if result == new else 'torn'}")
            self.assertTrue(result in (old, new), f"torn at {moment}")
        self.assertGreater(partial, 0, "no kill struck while writing")

    def test_lines_flushed(self):
        # Each line must reach a pipe as soon as it is printed: the first
        # file's line arrives while the tool is still busy with the second,
        # and survives the tool being killed.
        self.put("a.tga", image_file(3, 2, 5, rle=True))
        side = 4096
        self.put("big.tga", header(side, side) + noise(side * side, 6))
        proc = subprocess.Popen(TOOL + ["a.tga", "big.tga"], cwd=self.dir,
                                stdout=subprocess.PIPE)
        line = proc.stdout.readline().replace(b"\r\n", b"\n")
        # A line held back until exit would only come after the big output.
        busy = not os.path.exists(self.path("big_brisel.tga"))
        proc.kill()
        proc.wait()
        proc.stdout.close()
        self.assertEqual(line, b"written a_brisel.tga\n")
        self.assertTrue(busy, "the line only came when the tool ended")

    def test_nonblocking_stdout(self):
        # A standard output inherited with O_NONBLOCK refuses a line while
        # its pipe is full (EAGAIN); the reader is there, only slow, so no
        # line may be lost. The pipe is full before the tool starts.
        self.put("a.tga", image_file(3, 2, 16, rle=True))
        r, w = os.pipe()
        os.set_blocking(w, False)
        filler = 0
        for size in (4096, 1):
            try:
                while True:
                    filler += os.write(w, b"x" * size)
            except BlockingIOError:
                pass
        proc = subprocess.Popen(TOOL + ["a.tga", "missing.tga"], cwd=self.dir,
                                stdout=w, stderr=subprocess.PIPE)
        os.close(w)
        time.sleep(0.2)
        with os.fdopen(r, "rb") as reader:
            got = reader.read()
        self.assertEqual(proc.wait(timeout=60), 0, proc.stderr.read().decode())
        proc.stderr.close()
        self.assertEqual(got[filler:], b"written a_brisel.tga\n"
                         b"missing.tga not found\n")

    def temp_size(self, pid, input_path):
        """Size of the file the tool has open in the test's folder other than
        the input, or None when there is none (yet)."""
        fd_dir = f"/proc/{pid}/fd"
        try:
            for fd in os.listdir(fd_dir):
                target = os.readlink(os.path.join(fd_dir, fd))
                if target.startswith(self.dir + "/") and \
                        not target.startswith(input_path):
                    return os.stat(os.path.join(fd_dir, fd)).st_size
        except OSError:
            pass
        return None

    def test_damaged_inputs(self):
        rng = random.Random(5)
        samples = {"rle": image_file(7, 5, 6, rle=True, id_field=b"id!"),
                   "plain": image_file(4, 3, 7, rle=False)}
        expected = {}
        for kind, data in samples.items():
            variants = [data[:cut] for cut in range(len(data) + 1)]
            for at in range(len(data)):
                flipped = bytearray(data)
                flipped[at] ^= rng.randrange(1, 256)
                variants.append(bytes(flipped))
            for _ in range(100):
                mutant = bytearray(data)
                for _ in range(rng.randrange(2, 6)):
                    mutant[rng.randrange(len(data))] = rng.randrange(256)
                variants.append(bytes(mutant[:rng.randrange(len(data) + 1)]))
            for i, variant in enumerate(variants):
                name = f"{kind}{i}.tga"
                self.put(name, variant)
                expected[name] = load(variant)
        lines = self.run_tool(*expected).splitlines(keepends=True)
        for name, want in expected.items():
            out = name[:-4] + "_brisel.tga"
            if isinstance(want, str):
                self.assertEqual(lines.pop(0), want.format(name) + "\n")
                self.assertFalse(os.path.exists(self.path(out)))
                continue
            if not want[3]:
                self.assertEqual(lines.pop(0), f"{name} is truncated\n")
            self.assertEqual(lines.pop(0), f"written {out}\n")
            self.check_output(out, want)
        self.assertEqual(lines, [])

    def test_address_space_limit(self):
        if SANITIZED:
            self.skipTest("sanitizers reserve more address space than allowed")
        if len(TOOL) > 1:
            self.skipTest("an emulator needs address space of its own")
        # Images are streamed a few rows at a time, from a file or a pipe
        # alike, so 1 GiB of pixels fits.
        huge = header(16384, 16384) + noise(16, 8)
        self.put("huge.tga", huge)
        self.put("ok.tga", image_file(6, 4, 9, rle=True))
        limit = 256 << 20  # well below the 1 GiB of pixels

        def limit_memory():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        self.assertEqual(
            self.run_tool("huge.tga", "piped.tga", "ok.tga",
                          preexec_fn=limit_memory, **self.piped("piped.tga", huge)),
            "huge.tga is truncated\nwritten huge_brisel.tga\n"
            "piped.tga is truncated\nwritten piped_brisel.tga\n"
            "written ok_brisel.tga\n")
        self.check_output("ok_brisel.tga", load(self.inputs["ok.tga"]))
        # The 16 pixels given, then zero ones: all rows runs of 128 after
        # the first.
        first = encode(opaque(huge[18:] + bytes(16384 * 4 - 64)), 16384, 1)
        for name in ("huge_brisel.tga", "piped_brisel.tga"):
            with open(self.path(name), "rb") as f:
                self.assertTrue(f.read() == header(16384, 16384, 10) + first
                                + b"\xff\0\0\0\xff" * 128 * 16383, name)

    def memory_cgroup(self, limit):
        """The cgroup.procs file of a new memory cgroup that allows `limit`
        bytes, swap included (v1 or v2, whichever this machine has); skips
        the test when none can be made."""
        own = {}
        with open("/proc/self/cgroup") as f:
            for line in f:
                _, controllers, path = line.rstrip("\n").split(":", 2)
                for controller in controllers.split(",") or [""]:
                    own[controller] = path
        mounts = {}
        with open("/proc/self/mounts") as f:
            for line in f:
                _, point, kind, options = line.split()[:4]
                if kind == "cgroup2" or "memory" in options.split(","):
                    mounts.setdefault(kind, point)
        name = f"brisel-faults-{os.getpid()}-{limit >> 20}"
        tries = []
        if "memory" in own and "cgroup" in mounts:
            tries.append((mounts["cgroup"] + own["memory"], False))
        if "" in own and "cgroup2" in mounts:
            # A v2 cgroup with processes of its own cannot hand controllers
            # down, so the top of the hierarchy is tried as well.
            tries += [(mounts["cgroup2"] + own[""], True), (mounts["cgroup2"], True)]
        why = "no memory cgroup controller"
        for parent, v2 in tries:
            folder = os.path.join(parent, name)
            try:
                if v2:
                    with open(os.path.join(parent, "cgroup.subtree_control"), "w") as f:
                        f.write("+memory")
                os.mkdir(folder)
            except OSError as e:
                why = f"{folder}: {e}"
                continue
            self.addCleanup(os.rmdir, folder)
            files = (["memory.max", "memory.swap.max"] if v2 else
                     ["memory.limit_in_bytes", "memory.memsw.limit_in_bytes"])
            try:
                for file in files:
                    if os.path.exists(os.path.join(folder, file)):
                        with open(os.path.join(folder, file), "w") as f:
                            f.write(str(0 if file == "memory.swap.max" else limit))
                return os.path.join(folder, "cgroup.procs")
            except OSError as e:
                why = f"{folder}: {e}"
        self.skipTest("cannot make a memory cgroup: " + why)

    def test_memory_cgroup_limit(self):
        # Linux overcommits: in a cgroup with a memory limit, as containers
        # and batch schedulers set, memory beyond it is allocated all the
        # same, and touching it gets the whole batch killed. Images are
        # streamed in a few MiB, from a pipe as from a file, so images far
        # larger than the limit are written.
        if len(TOOL) > 1:
            self.skipTest("an emulator needs memory of its own")
        procs = self.memory_cgroup(128 << 20)
        big = flat_rle(12000, 12000, b"\1\2\3\4")  # 549 MiB of pixels
        self.put("big.tga", big)
        self.put("small.tga", image_file(6, 4, 12, rle=True))
        self.assertEqual(
            self.run_tool("piped.tga", "big.tga", "small.tga",
                          preexec_fn=join(procs), **self.piped("piped.tga", big)),
            "written piped_brisel.tga\nwritten big_brisel.tga\n"
            "written small_brisel.tga\n")
        for name in ("piped", "big"):
            with open(self.path(name + "_brisel.tga"), "rb") as f:
                self.assertTrue(f.read() == flat_rle(12000, 12000, b"\1\2\3\xff"))
        self.check_output("small_brisel.tga", load(self.inputs["small.tga"]))

        # Outputs on a memory-backed file system (a tmpfs such as /dev/shm,
        # or /tmp in many containers) are charged to the writer's cgroup and
        # cannot be reclaimed without swap, so they must fit the room too:
        # those that do not are refused as unwritable, and the batch goes
        # on. 12 plain outputs of 8 MiB each, from a 64 MiB cgroup. Under
        # the sanitizers, their own memory at exit would not fit.
        if SANITIZED:
            return
        procs = self.memory_cgroup(64 << 20)
        shm = self.path("shm")
        os.mkdir(shm)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256m",
                                  "brisel-faults", shm], capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs: " + mounted.stderr.decode())
        try:
            pixels = noise(1024 * 2048, 13)
            data = header(1024, 2048) + pixels
            names = [f"shm/p{i:02}.tga" for i in range(12)]
            for name in names:
                with open(self.path(name), "wb") as f:
                    f.write(data)
            lines = self.run_tool(*names, preexec_fn=join(procs)).splitlines()
            self.assertEqual(len(lines), len(names))
            written = 0
            for name, line in zip(names, lines):
                out = name[:-4] + "_brisel.tga"
                if line == out + " cannot be written":
                    continue
                self.assertEqual(line, "written " + out)
                with open(self.path(out), "rb") as f:
                    self.assertTrue(f.read() == header(1024, 2048) + opaque(pixels))
                written += 1
            print(f"on a tmpfs from a 64 MiB cgroup: {written} of 12 written")
            self.assertEqual(sorted(os.listdir(shm)), sorted(
                [name[4:] for name in names] +
                [name[4:-4] + "_brisel.tga" for name, line in zip(names, lines)
                 if line.startswith("written ")]))
        finally:
            subprocess.run(["umount", shm])

    def test_images_streamed_in_small_cgroups(self):
        # Images are streamed a few rows at a time: the largest image the
        # format holds, 16 GiB of pixels, is written in a 256 MiB cgroup,
        # and two runs sharing a 384 MiB cgroup each write 200 MiB of pixels.
        if SANITIZED or len(TOOL) > 1:
            self.skipTest("too slow under sanitizers or an emulator")
        side = 65535
        with open(self.path("huge.tga"), "wb") as f:
            f.write(header(side, side, 10))
            rows = flat_row(side, b"\1\2\3\4") * 4096
            for _ in range(side // 4096):
                f.write(rows)
            f.write(flat_row(side, b"\1\2\3\4") * (side % 4096))
        self.assertEqual(self.run_tool(
            "huge.tga", preexec_fn=join(self.memory_cgroup(256 << 20))),
            "written huge_brisel.tga\n")
        with open(self.path("huge_brisel.tga"), "rb") as f:
            self.assertEqual(f.read(18), header(side, side, 10))
            row = flat_row(side, b"\1\2\3\xff")
            for y in range(side):
                if f.read(len(row)) != row:
                    self.fail(f"row {y} differs")
            self.assertEqual(f.read(), b"")
        os.remove(self.path("huge.tga"))
        os.remove(self.path("huge_brisel.tga"))

        procs = self.memory_cgroup(384 << 20)
        image = flat_rle(7240, 7240, b"\5\6\7\x08")  # 200 MiB of pixels
        for name in ("a.tga", "b.tga"):
            self.put(name, image)
        runs = [subprocess.Popen(TOOL + [name], cwd=self.dir, preexec_fn=join(procs),
                                 stdout=subprocess.PIPE) for name in ("a.tga", "b.tga")]
        for run, name in zip(runs, ("a", "b")):
            self.assertEqual(run.communicate(timeout=600)[0].decode(),
                             f"written {name}_brisel.tga\n")
            self.assertEqual(run.returncode, 0)
            with open(self.path(name + "_brisel.tga"), "rb") as f:
                self.assertTrue(f.read() == flat_rle(7240, 7240, b"\5\6\7\xff"))

    def test_files_closed_when_memory_runs_out(self):
        # Streaming a run-length file allocates its buffers after the input
        # is open, so a limit can fall there. When that fails, the input
        # must still be closed: with few descriptors allowed, leaked ones
        # soon make later files "not found". The address-space limit is
        # swept, since where the failure falls depends on the build; runs
        # that fail at startup are passed over.
        if SANITIZED:
            self.skipTest("sanitizers reserve more address space than allowed")
        if len(TOOL) > 1:
            self.skipTest("an emulator needs address space of its own")
        sized = image_file(512, 256, 10, rle=True)
        names = [f"t{i}.tga" for i in range(12)]
        for name in names:
            self.put(name, sized)
        self.put("ok.tga", image_file(2, 2, 11, rle=False))
        struck = 0
        for limit in range(4 << 20, 96 << 20, 256 << 10):
            def limit_resources(limit=limit):
                resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
                resource.setrlimit(resource.RLIMIT_NOFILE, (8, 8))
            try:
                done = subprocess.run(TOOL + names + ["ok.tga"], cwd=self.dir,
                                      capture_output=True, timeout=60,
                                      preexec_fn=limit_resources)
            except OSError:  # too little even to start the program
                continue
            lines = done.stdout.decode().splitlines()
            for name in os.listdir(self.dir):
                if name.endswith("_brisel.tga"):
                    os.remove(self.path(name))
            if done.returncode != 0:
                continue
            self.assertNotIn("not found", done.stdout.decode(), f"limit {limit}")
            struck += lines[0] == "t0.tga is too large"
        self.assertGreater(struck, 0, "no limit fell between open and load")

    def test_named_temporary_files(self):
        # Without /proc an unnamed file cannot be given a name, so outputs go
        # through a named temporary file, as on systems without O_TMPFILE:
        # new outputs and replaced ones, with nothing left beside them.
        if len(TOOL) > 1:
            self.skipTest("an emulator needs /proc of its own")
        hide_proc = 'mount -t tmpfs none /proc && exec "$@"'
        try:
            probe = subprocess.run(["unshare", "-m", "sh", "-c", hide_proc,
                                    "sh", "true"], capture_output=True)
        except FileNotFoundError:
            self.skipTest("no unshare")
        if probe.returncode != 0:
            self.skipTest("cannot hide /proc here: " + probe.stderr.decode())
        self.put("a.tga", image_file(5, 3, 1, rle=True))
        self.put("b.tga", image_file(5, 3, 2, rle=False))
        with open(self.path("b_brisel.tga"), "wb") as f:
            f.write(b"an older output")
        os.chmod(self.path("b_brisel.tga"), 0o600)
        done = subprocess.run(["unshare", "-m", "sh", "-c", hide_proc, "sh"]
                              + TOOL + ["a.tga", "b.tga"], cwd=self.dir,
                              capture_output=True, timeout=60)
        self.assertEqual(done.stdout.decode(), "written a_brisel.tga\n"
                         "written b_brisel.tga\n", done.stderr.decode())
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["a.tga", "a_brisel.tga", "b.tga", "b_brisel.tga"])
        self.check_output("a_brisel.tga", load(self.inputs["a.tga"]))
        self.check_output("b_brisel.tga", load(self.inputs["b.tga"]))
        self.assertEqual(stat.S_IMODE(os.stat(self.path("b_brisel.tga")).st_mode),
                         0o600)


if __name__ == "__main__":
    case, SANITIZED, SHIM, TOOL = (sys.argv[1], sys.argv[2] == "1", sys.argv[3],
                                   sys.argv[4:])
    suite = unittest.defaultTestLoader.loadTestsFromName(
        "FaultTest.test_" + case, sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.skipped else 0)
