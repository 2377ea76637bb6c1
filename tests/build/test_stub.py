#!/usr/bin/env python3
"""The stub is reproducible: two builds of the same sources in folders of different paths,
at different times, link byte-identical bin/carryall-stub.exe files, and so does the build
that runs the test (CARRYALL_STUB, when given). Configures two scratch folders below
CARRYALL_STUB_TEST_DIR with the win32 preset and builds the stub target alone in each.

    python3 tests/build/test_stub.py [-v]
"""

import os
import shutil
import subprocess
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SCRATCH = Path(os.environ.get("CARRYALL_STUB_TEST_DIR") or REPO / "build" / "win32" / "stub-test").resolve()
# Folders whose paths differ in length too, so that a path in the image would move
# everything after it.
FOLDERS = ("a", "a much longer folder name/b")


def build_stub(folder: Path) -> bytes:
    shutil.rmtree(folder, ignore_errors=True)
    for command in (["cmake", "--preset", "win32", "-B", str(folder), "-DCARRYALL_DEMO_PAYLOAD_MB=1"],
                    ["cmake", "--build", str(folder), "--target", "carryall_stub", "--", "-j2"]):
        result = subprocess.run(command, cwd=REPO, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if result.returncode != 0:
            raise AssertionError("%s failed:\n%s%s" % (" ".join(command), result.stdout[-4000:], result.stderr))
    return (folder / "bin" / "carryall-stub.exe").read_bytes()


def first_difference(a: bytes, b: bytes) -> str:
    if len(a) != len(b):
        return "sizes %d and %d" % (len(a), len(b))
    offsets = [i for i in range(len(a)) if a[i] != b[i]]
    return "%d bytes differ, the first at offset 0x%x" % (len(offsets), offsets[0])


class StubTest(unittest.TestCase):

    def test_builds_in_different_folders_give_the_same_bytes(self):
        stubs = {name: build_stub(SCRATCH / name) for name in FOLDERS}
        if os.environ.get("CARRYALL_STUB"):
            stubs["the build's own"] = Path(os.environ["CARRYALL_STUB"]).read_bytes()
        (first, expected), *others = stubs.items()
        self.assertEqual(b"MZ", expected[:2])
        for name, stub in others:
            if stub != expected:
                self.fail("the stubs of %s and %s differ: %s" % (first, name, first_difference(expected, stub)))
        # Nothing of either folder is in the image, in ANSI or in UTF-16.
        for name in FOLDERS:
            for path in (str(SCRATCH / name), str(REPO)):
                for encoding in ("utf-8", "utf-16-le"):
                    self.assertNotIn(path.encode(encoding), expected, "%s in the stub" % path)
        shutil.rmtree(SCRATCH, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
