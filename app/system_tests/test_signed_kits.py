"""Kits with and without an integrity trailer, run through the real program `setup usecwd -S`:
a kit changed after packing is refused with nothing written, and a kit without a trailer (as
other packers make it) installs as it always did.

    python3 app/system_tests/test_signed_kits.py BUILD_DIR
"""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import setup_run_case  # noqa: E402
from setup_run_case import SetupRunCase, make_kit  # noqa: E402

TRAILER_BYTES = 144


class SignedKitTest(SetupRunCase):
    PREFIX = "setup-signed-"

    def pack(self, tree_files):
        tree = os.path.join(self.root, "tree")
        for name, content in tree_files.items():
            os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
            with open(os.path.join(tree, name), "wb") as f:
                f.write(content)
        subprocess.run([os.path.join(setup_run_case.BUILD, "efdtool"), "pack", "--describe",
                        "en:P:V:", self.kit, tree], check=True, capture_output=True)

    def test_a_kit_changed_after_packing_is_refused_with_nothing_written(self):
        # Random bytes do not compress: deflate stores them as they are, so a byte changed
        # among them still inflates, and only the trailer's hash can tell.
        content = os.urandom(65536)
        self.pack({"big.bin": content, "small.txt": b"small\n"})
        with open(self.kit, "rb") as f:
            kit = bytearray(f.read())
        at = kit.find(content[30000:30032])
        self.assertGreater(at, 0)
        kit[at + 16] ^= 0x04
        with open(self.kit, "wb") as f:
            f.write(kit)
        stderr = self.run_setup()
        self.assertIn("corrupted or not designed", stderr)
        self.assertIn("SHA-256", stderr)
        self.assertFalse(os.path.exists(self.target()))
        self.assertEqual(self.leftovers(), [])

    def test_a_kit_without_a_trailer_still_installs(self):
        make_kit(self.kit, [("a.txt", b"abc"), ("d\\b.txt", b"bee")])
        with open(self.kit, "ab") as f:
            f.write(b"bytes another packer left behind")
        self.assertEqual(self.run_setup(), "")
        self.assertEqual(self.read("a.txt"), b"abc")
        self.assertEqual(self.read("d/b.txt"), b"bee")


if __name__ == "__main__":
    setup_run_case.BUILD = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"])
