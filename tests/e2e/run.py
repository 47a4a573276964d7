"""Runs one end-to-end test module against the tool command given after "--".

usage: run.py MODULE [--pillow=skip|require] [--corpus=DIR] -- TOOL [ARG...]
Exit status 77 tells ctest the module was skipped (Pillow missing).
"""
import importlib
import os
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import support  # noqa: E402


def main(argv):
    split = argv.index("--")
    module, options, support.TOOL[:] = argv[1], argv[2:split], argv[split + 1:]
    for option in options:
        key, _, value = option.partition("=")
        if key == "--corpus":
            support.CORPUS = value
        elif key == "--pillow":
            try:
                import PIL.Image  # noqa: F401
            except ImportError:
                if value == "require":
                    print("Pillow is missing for %s (%s): install python3-pil"
                          % (sys.executable, module))
                    return 1
                print("Pillow is missing for %s: %s skipped" % (sys.executable, module))
                return 77
        else:
            print("unknown option " + option)
            return 2
    program = unittest.main(module=importlib.import_module(module),
                            argv=[argv[0]], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
