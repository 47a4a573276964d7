"""The command line: usage, output names, messages, several arguments."""
import os
import random
import shutil
import socket
import subprocess

import support
from support import ToolTest, expected_output, header, image, parse, windows_tool

NOISE = bytes(random.Random(1).randrange(256) for _ in range(3 * 2 * 4))
PIC = image(3, 2, NOISE)
OUT = expected_output(PIC[:18], b"", NOISE)


class CommandLine(ToolTest):
    def test_no_arguments_prints_usage_and_touches_nothing(self):
        self.put("pic.tga", PIC)
        self.run_tool([], ["usage: brisel filename"], status=255)

    def test_output_name_drops_last_four_characters(self):
        names = [("pic.tga", "pic_brisel.tga"), ("pic.TGA", "pic_brisel.tga"),
                 ("image.targa", "image.t_brisel.tga"),
                 ("dir/pic.tga", "dir/pic_brisel.tga"),
                 ("dir/../pic.tga", "dir/../pic_brisel.tga"), ("abcd", "_brisel.tga")]
        # Longer than any fixed 256-byte name buffer, and than the 260
        # characters that Windows takes without the extended form.
        long = "d" * 120 + "/" + "p" * 200
        names.append((long + ".tga", long + "_brisel.tga"))
        for arg, out in names:
            with self.subTest(arg=arg):
                shutil.rmtree(self.dir)
                os.makedirs(self.path("dir"))
                self.put(arg, PIC)
                key = os.path.normpath(out).replace(os.sep, "/")
                files = self.run_tool([arg], ["written " + out], [key])
                self.assertEqual(files[key], OUT)

    def test_names_in_any_script(self):
        # Windows gives such names intact only through its wide command
        # line and calls; the messages there are in the system's code page,
        # so only their shape is checked.
        name = "caf\u00e9-\u56fe-\u0436.tga"
        out = name[:-4] + "_brisel.tga"
        self.put(name, PIC)
        env = dict(os.environ, LANG="C.UTF-8")  # Wine reads names by it
        done = subprocess.run(support.TOOL + [name], cwd=self.dir, env=env,
                              stdout=subprocess.PIPE, timeout=60)
        line = done.stdout.decode("utf-8", "replace").rstrip("\r\n")
        if windows_tool():
            self.assertRegex(line, "^written caf.*_brisel\\.tga$")
        else:
            self.assertEqual(line, "written " + out)
        self.assertEqual(sorted(os.listdir(self.dir)), sorted([name, out]))
        with open(self.path(out), "rb") as f:
            self.assertEqual(f.read(), OUT)

    def test_own_output_is_processed_again_unchanged(self):
        self.put("pic.tga", PIC)
        self.run_tool(["pic.tga"], ["written pic_brisel.tga"], ["pic_brisel.tga"])
        files = self.run_tool(["pic_brisel.tga"], ["written pic_brisel_brisel.tga"],
                              ["pic_brisel_brisel.tga"])
        self.assertEqual(files["pic_brisel_brisel.tga"], OUT)

    def test_arguments_are_handled_one_after_another(self):
        self.put("a.tga", PIC)
        self.put("b.tga", image(2, 1, b"\1\2\3\4\5\6\7\x08", 10))
        self.put("a_brisel.tga", b"an older output, longer than the new one" * 9)
        files = self.run_tool(
            ["a.tga", "x.tga", "b.tga", "a.tga"],
            ["written a_brisel.tga", "x.tga not found", "written b_brisel.tga",
             "written a_brisel.tga"], ["a_brisel.tga", "b_brisel.tga"])
        self.assertEqual(files["a_brisel.tga"], OUT)
        self.assertEqual(parse(files["b_brisel.tga"])[2], b"\1\2\3\xff\5\6\7\xff")

    def test_refusals_name_the_argument_and_write_nothing(self):
        cases = [("rgb24.tga", image(2, 2, bytes(12), depth=24), "is not 32bit tga file"),
                 ("rle24.tga", header(1, 1, 10, 24) + b"\x80" + bytes(3),
                  "is not 32bit tga file"),
                 ("rgb16.tga", image(2, 2, bytes(8), depth=16), "is not 32bit tga file"),
                 ("three.tga", b"\0\0\2", "is not 32bit tga file"),
                 ("grey.tga", header(2, 2, 3, 8) + bytes(4), "is not tga file"),
                 ("grey32.tga", header(1, 1, 3) + bytes(4), "is not tga file"),
                 ("mapped.tga", header(1, 1, 1, 8) + bytes(1), "is not tga file"),
                 ("mapped_rle.tga", header(1, 1, 9, 8) + bytes(2), "is not tga file"),
                 ("grey_rle.tga", header(1, 1, 11, 8) + bytes(2), "is not tga file"),
                 ("none.tga", header(1, 1, 0) + bytes(4), "is not tga file"),
                 ("empty.tga", b"", "is not tga file"),
                 ("two.tga", b"\0\0", "is not tga file"),
                 ("abc", PIC, "has too short a name"),
                 ("./a", PIC, "has too short a name"),
                 ("nothing/pic.tga", None, "not found")]
        if not windows_tool():
            # Longer than a name may be (255 bytes): no file can have it.
            cases.append(("n" * 300 + ".tga", None, "not found"))
        for name, data, _ in cases:
            if data is not None:
                self.put(name, data)
        self.put("ok.tga", PIC)
        self.run_tool([name for name, _, _ in cases] + ["ok.tga"],
                      ["%s %s" % (name, message) for name, _, message in cases]
                      + ["written ok_brisel.tga"], ["ok_brisel.tga"])

    def test_long_lines_are_written_whole(self):
        # Parallel runs sharing a pipe keep their lines apart only when each
        # line goes out in one write, and a long path makes a line longer
        # than any stdio buffer. A packet socket keeps each write apart.
        if windows_tool():
            self.skipTest("a Windows program cannot write to a packet socket")
        name = "nothing/" * 600 + "pic.tga"
        ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        with ours:
            with theirs:
                done = subprocess.run(support.TOOL + [name, name], cwd=self.dir,
                                      stdout=theirs, timeout=60)
            writes = list(iter(lambda: ours.recv(1 << 20), b""))
        self.assertEqual(done.returncode, 0)
        self.assertEqual(writes, [name.encode() + b" not found\n"] * 2)
