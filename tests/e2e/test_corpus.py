"""Files written by other programs: every 32-bit true-colour file comes out
with the same colours and alpha 255, every other file is refused."""
import io
import os

from PIL import Image

import support
from support import ToolTest, expected_output, parse


class Corpus(ToolTest):
    def test_corpus_in_one_run(self):
        names = sorted(os.path.relpath(os.path.join(root, name), support.CORPUS)
                       .replace(os.sep, "/")
                       for root, _, files in os.walk(support.CORPUS)
                       for name in files if name.lower().endswith(".tga"))
        self.assertIn("tombexcavator/1d.tga", names)
        lines, written = [], {}
        for name in names:
            with open(os.path.join(support.CORPUS, name), "rb") as f:
                data = f.read()
            self.put(name, data)
            if data[2] not in (2, 10):
                lines.append(name + " is not tga file")
            elif data[16] != 32:
                lines.append(name + " is not 32bit tga file")
            else:
                written[name] = name[:-4] + "_brisel.tga"
                lines.append("written " + written[name])
        files = self.run_tool(names, lines, written.values())
        self.assertTrue(len(written) >= 10 and len(lines) - len(written) >= 10)
        for name, out in written.items():
            with self.subTest(name=name):
                head, extra, pixels, _ = parse(files[name])
                self.assertEqual(files[out], expected_output(head, extra, pixels))
                with Image.open(io.BytesIO(files[name])) as im:
                    source = im.convert("RGBA")
                with Image.open(io.BytesIO(files[out])) as im:
                    result = im.convert("RGBA")
                self.assertEqual(result.size, source.size)
                self.assertEqual(result.getchannel("A").getextrema(), (255, 255))
                self.assertEqual(result.convert("RGB").tobytes(),
                                 source.convert("RGB").tobytes())
                png = os.path.join(support.CORPUS, name[:-4] + ".png")
                if name.endswith("/1d.tga"):  # its stream outlasts its pixels
                    self.assertEqual(result.size, (199, 1))
                    self.assertTrue(os.path.exists(png))
                if os.path.exists(png):
                    with Image.open(png) as im:
                        if im.mode in ("RGB", "RGBA"):
                            self.assertEqual(result.convert("RGB").tobytes(),
                                             im.convert("RGB").tobytes())
