"""Running the tool in scratch folders, and writing and reading TGA files
with code of their own (independent of the tool's codec)."""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

TOOL = []     # the command that runs brisel; filled in by run.py
CORPUS = None


def header(width, height, image_type=2, depth=32, id_length=0, color_map=None,
           descriptor=0x28, origin=(0, 0)):
    """The 18 header bytes; color_map is (first, length, entry bits) or None."""
    first, length, bits = color_map or (0, 0, 0)
    return struct.pack("<BBBHHBHHHHBB", id_length, 1 if color_map else 0,
                       image_type, first, length, bits, origin[0], origin[1],
                       width, height, depth, descriptor)


def pixels_of(data):
    return [data[i:i + 4] for i in range(0, len(data), 4)]


def encode(data, width, height, max_raw=121, row=None):
    """Packet stream for BGRA bytes. With the defaults it follows brisel's
    rules: rows apart, runs of 2..128 pixels, raw packets of at most 121.
    max_raw=128 and row=width*height make packets as other programs do."""
    row = row or width
    px = pixels_of(data)
    out = bytearray()
    for start in range(0, width * height, row or 1):
        line, raw, x = px[start:start + row], [], 0

        def flush():
            if raw:
                out.append(len(raw) - 1)
                out.extend(b"".join(raw))
                raw.clear()
        while x < len(line):
            span = 1
            while x + span < len(line) and line[x + span] == line[x]:
                span += 1
            if span >= 2:
                flush()
                left = span
                while left >= 2:
                    count = min(left, 128)
                    out.append(0x7F + count)
                    out.extend(line[x])
                    left -= count
                x += span - left
                if not left:
                    continue
            raw.append(line[x])
            x += 1
            if len(raw) == max_raw:
                flush()
        flush()
    return bytes(out)


def parse(data):
    """(header, ID field and colour map, BGRA pixels, bytes used) of a
    complete 32-bit type 2 or 10 file; raises on a short file."""
    head = data[:18]
    width, height = struct.unpack_from("<HH", head, 12)
    map_length, map_bits = struct.unpack_from("<HB", head, 5)
    pos = 18 + head[0] + (map_length * ((map_bits + 7) // 8) if head[1] == 1 else 0)
    extra, size = data[18:pos], width * height * 4
    if head[2] == 2:
        pixels, pos = data[pos:pos + size], pos + size
    else:
        pixels = bytearray()
        while len(pixels) < size:
            h = data[pos]
            if h & 0x80:
                pixels += data[pos + 1:pos + 5] * (h - 127)
                pos += 5
            else:
                pixels += data[pos + 1:pos + 5 + 4 * h]
                pos += 5 + 4 * h
        pixels = bytes(pixels[:size])
    if len(head) < 18 or len(pixels) < size:
        raise ValueError("short file")
    return head, extra, pixels, pos


def opaque(data):
    return b"".join(p[:3] + b"\xff" for p in pixels_of(data))


def snapshot(folder):
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder).replace(os.sep, "/")] = f.read()
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


def expected_output(head, extra, pixels):
    """The file brisel must write for a loaded image: alpha 255, the header
    and fields carried, packets when strictly smaller than the pixels."""
    width, height = struct.unpack_from("<HH", head, 12)
    pixels = opaque(pixels)
    stream = encode(pixels, width, height)
    rle = len(stream) < len(pixels)
    return (head[:2] + bytes([10 if rle else 2]) + head[3:] + extra
            + (stream if rle else pixels))


def image(width, height, pixels, image_type=2, extra=b"", **fields):
    """A 32-bit file of the given type, packets made as other programs do;
    extra is the ID field and colour map."""
    data = pixels if image_type == 2 else encode(pixels, width, height, 128,
                                                 width * height)
    return header(width, height, image_type, **fields) + extra + data


# A Windows build (run natively or under Wine) has the system's path length
# limits; names beyond 255 characters are only tried elsewhere.
def windows_tool():
    return TOOL[-1].lower().endswith(".exe")
