"""Running the tool in scratch folders; the TGA model the tests check it
against comes from tests/tga_model.py."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tga_model import (  # noqa: E402,F401 (the tests import them from here)
    encode, expected_output, header, image, load, opaque, pixels_of)

TOOL = []     # the command that runs brisel; filled in by run.py
CORPUS = None


def parse(data):
    """(header, ID field and colour map, BGRA pixels, True) of a complete
    32-bit type 2 or 10 file; raises on anything else."""
    loaded = load(data)
    if isinstance(loaded, str) or not loaded[3]:
        raise ValueError("not a complete 32-bit file")
    return loaded


def snapshot(folder):
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            key = os.path.relpath(path, folder).replace(os.sep, "/")
            if os.path.islink(path):  # it may lead nowhere, or in a loop
                files[key] = b"-> " + os.fsencode(os.readlink(path))
                continue
            with open(path, "rb") as f:
                files[key] = f.read()
    return files


class ToolTest(unittest.TestCase):
    """Each test runs in a fresh scratch folder, passing relative paths."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="brisel-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def put(self, name, data):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as f:
            f.write(data)

    def run_tool(self, args, lines, written=(), status=0):
        """Runs brisel on args; checks stdout, exit status, that exactly the
        files `written` are new or changed and every other file is as it was.
        Returns the folder's files."""
        before = snapshot(self.dir)
        done = subprocess.run(TOOL + list(args), cwd=self.dir, timeout=300,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        stdout = done.stdout.replace(b"\r\n", b"\n").decode("utf-8", "replace")
        self.assertEqual(stdout, "".join(line + "\n" for line in lines))
        self.assertEqual(done.returncode, status, done.stderr)
        after = snapshot(self.dir)
        self.assertEqual(sorted(after), sorted(set(before) | set(written)))
        for name, data in before.items():
            if name not in written:
                self.assertEqual(after[name], data, name + " was changed")
        return after


# A Windows build, run natively or under Wine.
def windows_tool():
    return TOOL[-1].lower().endswith(".exe")


def qemu_library_root():
    """The library root (-L) other than / of a qemu-user emulator running
    the tool, else None. qemu takes an absolute path from under that root
    whenever it exists there, "/" itself included."""
    if os.path.basename(TOOL[0]).startswith("qemu-") and "-L" in TOOL[:-1]:
        root = TOOL[TOOL.index("-L") + 1]
        if os.path.realpath(root) != "/":
            return root
    return None
