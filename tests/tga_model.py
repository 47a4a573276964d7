"""A small model of brisel's files, written apart from its codec: making
32-bit TGA files, and what loading one and writing it back must give. The
end-to-end and fault tests compare the built tool against it."""
import struct


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


def image(width, height, pixels, image_type=2, extra=b"", **fields):
    """A 32-bit file of the given type, packets made as other programs do;
    extra is the ID field and colour map."""
    data = pixels if image_type == 2 else encode(pixels, width, height, 128,
                                                 width * height)
    return header(width, height, image_type, **fields) + extra + data


def load(data):
    """What loading `data` gives: the refusal message, with {} for the name,
    or (header, ID field and colour map, BGRA pixels, complete). Bytes the
    file lacks are zero; packets may cross rows and are cut at the image's
    end."""
    if len(data) < 3 or data[2] not in (2, 10):
        return "{} is not tga file"
    if len(data) < 17 or data[16] != 32:
        return "{} is not 32bit tga file"
    head = (data[:18] + bytes(18))[:18]
    width, height = struct.unpack_from("<HH", head, 12)
    extra = head[0]
    if head[1] == 1:
        extra += struct.unpack_from("<H", head, 5)[0] * ((head[7] + 7) // 8)
    n = width * height * 4
    rest = data[18 + extra:]
    complete = len(data) >= 18 + extra
    if head[2] == 2:
        pixels = rest[:n]
    else:
        pixels, at = bytearray(), 0
        while len(pixels) < n and at < len(rest):
            h, at = rest[at], at + 1
            if h < 128:
                pixels += rest[at:at + (h + 1) * 4]
                at += (h + 1) * 4
            elif at + 4 <= len(rest):
                pixels += rest[at:at + 4] * (h - 127)
                at += 4
            else:
                break
    complete = complete and len(pixels) >= n
    pixels = (bytes(pixels[:n]) + bytes(n))[:n]
    return head, (data[18:18 + extra] + bytes(extra))[:extra], pixels, complete


def opaque(pixels):
    out = bytearray(pixels)
    out[3::4] = b"\xff" * (len(out) // 4)
    return bytes(out)


def expected_output(head, extra, pixels):
    """The file brisel must write for a loaded image: alpha 255, the header
    and fields carried, packets when strictly smaller than the pixels."""
    width, height = struct.unpack_from("<HH", head, 12)
    pixels = opaque(pixels)
    stream = encode(pixels, width, height)
    rle = len(stream) < len(pixels)
    return (head[:2] + bytes([10 if rle else 2]) + head[3:] + extra
            + (stream if rle else pixels))
