"""What is written: fields carried, streams cut or too long, truncated
inputs, and outputs that cannot be written."""
import os
import random
import subprocess
import unittest

import support
from support import ToolTest, expected_output, header, image, windows_tool

rand = random.Random(2)


def noise(pixels):
    return bytes(rand.randrange(256) for _ in range(pixels * 4))


FIELDS = dict(id_length=26, color_map=(0, 4, 24), descriptor=0x08, origin=(3, 7))
ID_AND_MAP = bytes(range(26)) + noise(3)
SPAN = b"\x10\x20\x30\x01" * 7 + noise(8)
LONG = noise(199)
P = noise(1)
TIE = P * 2 + noise(243)  # a run, then raw packets of 121, 121 and 1
ALPHA = b"".join(b"\x10\x20\x30" + bytes([a]) for a in range(18))
# Rows of 121: two flat rows save 958 bytes, each noise row costs one. The
# first rows compress, the whole image only with 957 noise rows, not 958.
FLAT_THEN_NOISE = P * 242 + noise(121 * 958)


class Outputs(ToolTest):
    def check(self, cases, truncated=False):
        """cases: (name, file, header, ID and colour map, pixels) read from it."""
        lines, outputs = [], []
        for name, data, head, extra, pixels in cases:
            self.put(name, data)
            out = name[:-4] + "_brisel.tga"
            lines += ([name + " is truncated"] if truncated else []) + ["written " + out]
            outputs.append((out, expected_output(head, extra, pixels)))
        files = self.run_tool([case[0] for case in cases], lines,
                              [out for out, _ in outputs])
        for out, expected in outputs:
            self.assertEqual(files[out], expected, out)

    def test_fields_are_carried_and_only_the_image_data_is_read(self):
        footer = bytes(8) + b"TRUEVISION-XFILE.\0"
        over = header(3, 2, 10) + b"\xff" + P + b"\x7f" + noise(128)
        self.check([
            ("fields.tga", image(5, 3, SPAN, 2, ID_AND_MAP, **FIELDS),
             header(5, 3, **FIELDS), ID_AND_MAP, SPAN),
            ("fields_rle.tga", image(5, 3, SPAN, 10, ID_AND_MAP, **FIELDS),
             header(5, 3, **FIELDS), ID_AND_MAP, SPAN),
            ("footer.tga", image(4, 2, SPAN[:32]) + footer, header(4, 2), b"", SPAN[:32]),
            # 128-pixel raw packets: the stream is longer than the pixels.
            ("long_stream.tga", image(199, 1, LONG, 10), header(199, 1), b"", LONG),
            ("overlong_run.tga", over, header(3, 2), b"", P * 6),
            ("empty_image.tga", image(0, 5, b"", 10, ID_AND_MAP, **FIELDS),
             header(0, 5, **FIELDS), ID_AND_MAP, b""),
            # A stream exactly as long as the pixels is not used; one byte less is.
            ("tie.tga", image(245, 1, TIE), header(245, 1), b"", TIE),
            ("just_under.tga", image(244, 1, TIE[:-4]), header(244, 1), b"", TIE[:-4]),
            ("alpha_only.tga", image(9, 2, ALPHA, 10), header(9, 2), b"", ALPHA),
            ("late_tie.tga", image(121, 960, FLAT_THEN_NOISE), header(121, 960),
             b"", FLAT_THEN_NOISE),
            ("late_gain.tga", image(121, 959, FLAT_THEN_NOISE[:-484]),
             header(121, 959), b"", FLAT_THEN_NOISE[:-484]),
        ])

    def test_missing_bytes_are_zero_and_reported(self):
        full = header(2, 2)
        self.check([
            ("cut_plain.tga", full + SPAN[:13], full, b"", SPAN[:13] + bytes(3)),
            ("cut_raw.tga", header(2, 2, 10) + b"\x03" + SPAN[:14], header(2, 2),
             b"", SPAN[:14] + bytes(2)),
            ("cut_run.tga", header(2, 2, 10) + b"\x81" + P + b"\x81", header(2, 2),
             b"", P * 2 + bytes(8)),
            # No pixels at all: only the cut field makes these truncated.
            ("cut_id.tga", header(0, 1, id_length=10) + b"abcd",
             header(0, 1, id_length=10), b"abcd" + bytes(6), b""),
            ("cut_map.tga", header(1, 0, 10, color_map=(0, 4, 24)) + b"12345",
             header(1, 0, color_map=(0, 4, 24)), b"12345" + bytes(7), b""),
            ("cut_header.tga", full[:17], full[:17] + b"\0", b"", bytes(16)),
        ], truncated=True)

    def test_output_that_cannot_be_written_leaves_nothing(self):
        self.put("pic.tga", image(2, 1, SPAN[:8]))
        self.put("pic_brisel.tga/keep", b"a folder in the way")
        self.put("next.tga", image(2, 1, SPAN[:8]))
        args = ["pic.tga", "next.tga"]
        lines = ["pic_brisel.tga cannot be written", "written next_brisel.tga"]
        # The output's name is longer than the 255 characters a name may have.
        self.put("p" * 250 + ".tga", image(2, 1, SPAN[:8]))
        args.append("p" * 250 + ".tga")
        lines.append("p" * 250 + "_brisel.tga cannot be written")
        self.run_tool(args, lines, ["next_brisel.tga"])
        self.assertTrue(os.path.isdir(self.path("pic_brisel.tga")))

    def test_output_named_near_the_limit_is_replaced(self):
        # 251 bytes: the temporary file beside it must not take a longer name.
        # The whole path is longer than 260 characters.
        name = "p" * 240 + ".tga"
        out = name[:-4] + "_brisel.tga"
        self.put(name, image(2, 1, SPAN[:8]))
        for _ in range(2):
            files = self.run_tool([name], ["written " + out], [out])
            self.assertEqual(files[out],
                             expected_output(header(2, 1), b"", SPAN[:8]))

    def test_input_that_cannot_be_read(self):
        # A folder opens as a file on POSIX systems, then fails to read; it
        # must not pass for an empty or short file. Windows refuses to open
        # it, which is no reason to call it "not found" either; nor is a
        # loop of symbolic links.
        os.mkdir(self.path("folder.tga"))
        self.put("next.tga", image(2, 1, SPAN[:8]))
        args = ["folder.tga"]
        if not windows_tool():
            os.symlink("loop.tga", self.path("loop.tga"))
            args.append("loop.tga")
        self.run_tool(args + ["next.tga"],
                      [arg + " cannot be read" for arg in args]
                      + ["written next_brisel.tga"], ["next_brisel.tga"])

    def test_named_pipe_input(self):
        # A named pipe that nothing writes to must not hold up the batch in
        # its open; one with a writer is read as a file. Not through
        # run_tool, whose look at the folder would wait on the pipes too.
        if windows_tool():
            self.skipTest("Windows has no named pipes among its files")
        data = image(2, 1, SPAN[:8])
        self.put("next.tga", data)
        for name in ("fed.tga", "idle.tga"):
            os.mkfifo(self.path(name))
        # The writer end stays open all along, holding the image unread.
        fed = os.open(self.path("fed.tga"), os.O_RDWR)
        self.addCleanup(os.close, fed)
        os.write(fed, data)
        done = subprocess.run(support.TOOL + ["fed.tga", "idle.tga", "next.tga"],
                              cwd=self.dir, stdout=subprocess.PIPE, timeout=60)
        self.assertEqual(done.stdout.decode(), "written fed_brisel.tga\n"
                         "idle.tga cannot be read\nwritten next_brisel.tga\n")
        self.assertEqual(sorted(os.listdir(self.dir)), [
            "fed.tga", "fed_brisel.tga", "idle.tga", "next.tga", "next_brisel.tga"])
        with open(self.path("fed_brisel.tga"), "rb") as f:
            self.assertEqual(f.read(), expected_output(header(2, 1), b"", SPAN[:8]))

    def test_path_longer_than_the_system_takes_at_once(self):
        # 18 folders of 250 bytes: the absolute path passes the 4096 bytes
        # that one system call takes (PATH_MAX), though the file system
        # holds it. Built, read and checked through folder descriptors,
        # since Python's own calls cannot name it either.
        if windows_tool():
            self.skipTest("Windows limits paths in its own way")
        if support.qemu_library_root():
            self.skipTest("qemu-user -L %s opens / as that folder, so a walk from / "
                          "starts there" % support.qemu_library_root())
        data = image(2, 1, SPAN[:8])
        fd = os.open(self.dir, os.O_RDONLY)
        folders = ["f%02d" % i + "d" * 247 for i in range(18)]
        for folder in folders:
            os.mkdir(folder, dir_fd=fd)
            inner = os.open(folder, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = inner
        self.addCleanup(os.close, fd)
        with open("pic.tga", "wb", opener=lambda name, flags: os.open(
                name, flags, dir_fd=fd)) as f:
            f.write(data)
        path = "/".join([self.dir] + folders + ["pic.tga"])
        self.assertGreater(len(path), 4096)
        out = path[:-4] + "_brisel.tga"
        for _ in range(2):  # a new output, then one replaced
            done = subprocess.run(support.TOOL + [path], stdout=subprocess.PIPE,
                                  timeout=60)
            self.assertEqual(done.stdout.decode(), "written " + out + "\n")
            self.assertEqual(sorted(os.listdir(fd)), ["pic.tga", "pic_brisel.tga"])
            with open("pic_brisel.tga", "rb", opener=lambda name, flags: os.open(
                    name, flags, dir_fd=fd)) as f:
                self.assertEqual(f.read(), expected_output(header(2, 1), b"", SPAN[:8]))

    def test_input_larger_than_32_bit_offsets(self):
        # A valid image followed by a 3 GiB hole (sparse, so it costs no disk
        # space); 32-bit builds must still open it. Not through run_tool,
        # which would read the whole folder.
        data = image(2, 1, SPAN[:8])
        self.put("big.tga", data)
        with open(self.path("big.tga"), "r+b") as f:
            f.truncate(3 << 30)
        done = subprocess.run(support.TOOL + ["big.tga"], cwd=self.dir,
                              stdout=subprocess.PIPE, timeout=300)
        self.assertEqual(done.stdout.replace(b"\r\n", b"\n"),
                         b"written big_brisel.tga\n")
        with open(self.path("big_brisel.tga"), "rb") as f:
            self.assertEqual(f.read(),
                             expected_output(header(2, 1), b"", SPAN[:8]))

    @unittest.skipIf(not hasattr(os, "geteuid") or os.geteuid() == 0,
                     "permissions do not bind root")
    def test_folder_without_write_permission(self):
        self.put("ro/pic.tga", image(2, 1, SPAN[:8]))
        self.put("ro/pic_brisel.tga", b"an older output")
        os.chmod(self.path("ro"), 0o555)
        self.addCleanup(os.chmod, self.path("ro"), 0o755)
        self.run_tool(["ro/pic.tga"], ["ro/pic_brisel.tga cannot be written"])
