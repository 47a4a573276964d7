"""Generated images through the tool, read back by Pillow: colours as in the
input, alpha 255, packets only when strictly smaller than the pixels."""
import io
import random

from PIL import Image

from support import ToolTest, expected_output, header, image, pixels_of

WIDTHS = [0, 1, 2, 120, 121, 122, 127, 128, 129, 242, 243, 256, 257]
rand = random.Random(3)


def pattern(kind, count):
    if kind == "flat":
        return b"\x01\x02\x03\x04" * count
    if kind == "noise":
        return bytes(rand.randrange(256) for _ in range(count * 4))
    if kind == "blocks":  # 130 noise pixels, 130 equal ones, and so on
        return b"".join(pattern("noise" if i // 130 % 2 else "flat", 1)
                        for i in range(count))
    if kind == "alpha":  # equal once opaque
        return b"".join(b"\x05\x06\x07" + bytes([rand.randrange(256)])
                        for _ in range(count))
    # Spans of assorted lengths, each differing from the last in one byte.
    out, pixel = b"", bytearray(b"\x40\x50\x60\x70")
    while len(out) < count * 4:
        pixel[rand.randrange(3)] ^= 1 << rand.randrange(8)
        out += bytes(pixel) * rand.choice([1, 1, 2, 3, 120, 121, 122, 127, 128, 129,
                                           130, 256, 257])
    return out[:count * 4]


def rgba_rows(pixels, width, top_first):
    """Pillow's RGBA bytes for BGRA pixels in file order."""
    rgba = b"".join(p[2::-1] + p[3:] for p in pixels_of(pixels))
    rows = [rgba[i:i + width * 4] for i in range(0, len(rgba), width * 4)]
    return b"".join(rows if top_first else rows[::-1])


class GeneratedImages(ToolTest):
    def test_outputs_read_by_pillow(self):
        cases = []
        for width in WIDTHS:
            for height in ([0, 1, 3] if width else [0, 2]):
                kinds = ["flat", "noise", "blocks", "alpha", "spans"] if width * height else ["flat"]
                for kind in kinds:
                    pixels = pattern(kind, width * height)
                    for image_type in (2, 10):
                        fields = dict(descriptor=0x28 if len(cases) % 3 else 0x08,
                                      id_length=len(cases) % 5)
                        name = "%s_%dx%d_%d.tga" % (kind, width, height, image_type)
                        extra = bytes(range(fields["id_length"]))
                        self.put(name, image(width, height, pixels, image_type,
                                             extra, **fields))
                        cases.append((name, header(width, height, **fields), extra, pixels))
        names = [case[0] for case in cases]
        files = self.run_tool(names, ["written %s_brisel.tga" % name[:-4] for name in names],
                              [name[:-4] + "_brisel.tga" for name in names])
        for name, head, extra, pixels in cases:
            with self.subTest(name=name):
                out = files[name[:-4] + "_brisel.tga"]
                self.assertEqual(out, expected_output(head, extra, pixels))
                width, height = head[12] + 256 * head[13], head[14] + 256 * head[15]
                if not width * height:
                    continue  # Pillow opens no empty images
                with Image.open(io.BytesIO(out)) as im:
                    self.assertEqual((im.mode, im.size), ("RGBA", (width, height)))
                    opaque = b"".join(p[:3] + b"\xff" for p in pixels_of(pixels))
                    self.assertEqual(im.tobytes(), rgba_rows(opaque, width, head[17] & 0x20))
