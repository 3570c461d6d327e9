"""System tests of the real program in silent mode without a display: failures forced at
every entry of a kit, hostile kits, hostile settings files. Each test runs setup in a
scratch HOME and TMPDIR and compares whole trees, bytes and times, before and after.

    python3 app/system_tests/test_silent_runs.py BUILD_DIR
"""

import os
import shutil
import subprocess
import sys
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "ui", "gui_tests"))
import setup_run_case  # noqa: E402
from scratch_tree import snapshot  # noqa: E402
from setup_run_case import KIT_TIME, NOBODY, SETTINGS, SetupRunCase, make_kit  # noqa: E402


class SilentRun(SetupRunCase):
    # --- failures forced at every entry --------------------------------------------------

    ENTRIES = [
        ("Accounting\\template.cfg", b"replaced accounting\n"),   # replaces a file
        ("Accounting\\objects.lst", b"new objects\n"),            # new file, existing folder
        ("Trade\\Retail\\Deep\\template.cfg", b"new nested\n"),    # new nested folders
        ("readme.htm", b"<p>replaced readme</p>\n"),              # replaces a top-level file
        ("Trade\\Wholesale\\list.txt", b"new folder\n"),          # another new folder
        ("z-last.txt", b"last\n"),                                # new top-level file
    ]

    def prepare_tree(self):
        self.write("Accounting/template.cfg", b"old accounting\n")
        self.write("readme.htm", b"<p>old readme</p>\n")
        self.write("Unrelated/keep.me", b"not in the kit\n")
        os.makedirs(self.target("Trade"), exist_ok=True)
        settings = self.write_settings(
            b"InstallComponents=all\nConfigurationTemplatesLocation=%s\n" %
            self.target().encode())
        return settings

    def test_failure_at_every_entry_leaves_everything_as_it_was(self):
        make_kit(self.kit, self.ENTRIES)
        for index, (name, _) in enumerate(self.ENTRIES):
            with self.subTest(failing_entry=index):
                shutil.rmtree(self.home)
                os.makedirs(self.home)
                settings = self.prepare_tree()
                # A directory with something in it where the entry's file must go.
                blocker = self.target(name.replace("\\", "/"))
                if os.path.isfile(blocker):
                    os.remove(blocker)
                os.makedirs(os.path.join(blocker, "occupied"), exist_ok=True)
                before = snapshot(self.home)
                with open(settings, "rb") as f:
                    settings_before = f.read()
                stderr = self.run_setup()
                self.assertIn("Installation error", stderr)
                self.assertEqual(snapshot(self.home), before)
                self.assertEqual(self.leftovers(), [])
                with open(settings, "rb") as f:
                    self.assertEqual(f.read(), settings_before)

    def test_successful_run_replaces_adds_and_records(self):
        make_kit(self.kit, self.ENTRIES)
        self.prepare_tree()
        self.assertEqual(self.run_setup(), "")
        for name, content in self.ENTRIES:
            path = self.target(name.replace("\\", "/"))
            with open(path, "rb") as f:
                self.assertEqual(f.read(), content)
            self.assertEqual(os.stat(path).st_mtime, KIT_TIME)
        self.assertEqual(self.leftovers(), [])
        with open(os.path.join(self.home, SETTINGS), "rb") as f:
            self.assertEqual(f.read(), b"InstallComponents=all\nConfigurationTemplatesLocation=%s\n"
                             % self.target().encode())

    def test_too_little_temporary_space_writes_nothing(self):
        make_kit(self.kit, self.ENTRIES)
        self.prepare_tree()
        before = snapshot(self.root)
        stderr = self.run_setup(tmpdir="/proc")
        self.assertIn("Insufficient space available in the directory Temp.", stderr)
        self.assertEqual(snapshot(self.root), before)

    def test_read_only_template_directory_takes_the_error_path(self):
        make_kit(self.kit, self.ENTRIES)
        self.prepare_tree()
        subprocess.run(["chown", "-R", "%d:%d" % (NOBODY, NOBODY), self.home, self.tmp],
                       check=True)
        # The template tree belongs to root and is read-only for the user who installs.
        subprocess.run(["chown", "-R", "0:0", self.target()], check=True)
        subprocess.run(["chmod", "-R", "a-w", self.target()], check=True)
        before = snapshot(self.home)
        stderr = self.run_setup(user=NOBODY)
        self.assertIn("Installation error", stderr)
        self.assertEqual(snapshot(self.home), before)
        self.assertEqual(self.leftovers(), [])

    # --- hostile kits -----------------------------------------------------------------

    def test_names_that_leave_the_template_directory_make_the_kit_damaged(self):
        for name in ["..\\..\\escaped.txt", "a\\..\\..\\escaped.txt", "\\etc\\escaped.txt",
                     "", "dir\\", "ok.txt\x00..\\x"]:
            with self.subTest(name=name):
                make_kit(self.kit, [("fine.txt", b"fine\n"), (name, b"bad\n")])
                # The unpacked kit comes and goes in TMPDIR; everything else stays.
                before = snapshot(self.root, skip=("tmp",))
                stderr = self.run_setup()
                self.assertIn("corrupted or not designed", stderr)
                self.assertEqual(snapshot(self.root, skip=("tmp",)), before)
                self.assertEqual(os.listdir(self.tmp), [])

    def test_shell_characters_in_names_are_plain_characters(self):
        names = ['a$(touch PWNED)b.txt', 'q`touch PWNED`.txt', 'x"y.txt', "d$HOME\\e.txt",
                 "sp ace\\it's.txt"]
        make_kit(self.kit, [(n, n.encode()) for n in names])
        self.assertEqual(self.run_setup(), "")
        for n in names:
            path = self.target(n.replace("\\", "/"))
            with open(path, "rb") as f:
                self.assertEqual(f.read(), n.encode())
        found = subprocess.run(["find", self.root, "/tmp", "-maxdepth", "6", "-name", "PWNED"],
                               capture_output=True, text=True).stdout
        self.assertEqual(found, "")
        self.assertFalse(os.path.exists(os.path.join(self.kit_dir, "PWNED")))

    def test_data_past_the_end_of_the_container_is_refused(self):
        make_kit(self.kit, [("a.txt", b"abc")])
        with open(self.kit, "rb") as f:
            raw = zlib.decompress(f.read(), -15)
        raw = raw[:-1]  # the entry's data now runs past the end
        compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
        with open(self.kit, "wb") as f:
            f.write(compressor.compress(raw) + compressor.flush())
        stderr = self.run_setup()
        self.assertIn("corrupted or not designed", stderr)
        self.assertFalse(os.path.exists(self.target()))
        self.assertEqual(self.leftovers(), [])

    # --- hostile settings files --------------------------------------------------------

    def test_hostile_settings_files_are_read_and_rewritten(self):
        make_kit(self.kit, [("a.txt", b"abc")])
        long_line = b"Huge=" + b"x" * (1 << 20) + b"\n"
        content = (b"\xef\xbb\xbfFirst=1\n" + b"Bad=\xff\xfe\n" + b"Nul=a\x00b\n" + long_line +
                   b"Last=ok")
        settings = self.write_settings(content)
        self.assertEqual(self.run_setup(), "")
        self.assertTrue(os.path.isfile(self.target("a.txt")))
        with open(settings, "rb") as f:
            written = f.read()
        lines = written.split(b"\n")
        self.assertEqual(lines[0], b"\xef\xbb\xbfFirst=1")
        self.assertEqual(lines[1], b"Bad=\xff\xfe")  # bytes that do not decode come back
        self.assertEqual(lines[2], b"Nul=a\x00b")
        self.assertIn(long_line.rstrip(b"\n"), lines)
        self.assertIn(b"Last=ok", lines)
        self.assertIn(b"ConfigurationTemplatesLocation=" + self.target().encode(), lines)


if __name__ == "__main__":
    setup_run_case.BUILD = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"])
