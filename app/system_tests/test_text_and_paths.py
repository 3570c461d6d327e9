"""System tests of the real program in silent mode without a display: text and paths under
the POSIX and a UTF-8 locale, the settings file where it is a FIFO, has another owner or
several links, template locations relative to the home directory, and times beyond the
range of 32 bits in both builds.

    python3 app/system_tests/test_text_and_paths.py BUILD_DIR [BUILD_I386_DIR]

The cases about times also run the 32-bit program under qemu-i386 when BUILD_I386_DIR holds
one.
"""

import os
import shutil
import stat
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "ui", "gui_tests"))
import test_silent_runs as silent  # noqa: E402
from scratch_tree import Scratch, snapshot  # noqa: E402

BUILD = None
BUILD_I386 = None
TARGET = silent.TARGET.encode()
SETTINGS = silent.SETTINGS.encode()
NOBODY = 65534
Y2100 = 4102444800   # 2100-01-01, beyond a signed 32-bit time
Y1960 = -315619200   # 1960-01-01, before 1970


class TextAndPaths(unittest.TestCase):
    def setUp(self):
        self.scratch = Scratch(prefix="setup-text-", mode=0o755)
        self.addCleanup(self.scratch.close)
        self.root = os.fsencode(self.scratch.root)
        self.home = os.fsencode(self.scratch.home)
        self.tmp = os.fsencode(self.scratch.tmp)
        self.kit_dir = os.path.join(self.root, b"kit")
        os.makedirs(self.kit_dir)
        self.kit = os.path.join(self.kit_dir, b"tavlo5.efd")

    def programs(self):
        """(name, argv prefix) of each build to run: x86-64, and 32-bit under qemu."""
        found = [("x86-64", [os.path.join(BUILD, "setup")])]
        if BUILD_I386 and shutil.which("qemu-i386"):
            found.append(("i386", ["qemu-i386", os.path.join(BUILD_I386, "setup")]))
        return found

    def run_setup(self, locale="C.UTF-8", home=None, program=None, args=()):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TMPDIR": self.tmp,
               "HOME": self.home if home is None else home, "LC_ALL": locale}
        argv = (program or [os.path.join(BUILD, "setup")]) + ["usecwd", "-S"] + list(args)
        # A run that hangs is killed when the time is up, and the test fails.
        result = subprocess.run(argv, env=env, cwd=self.kit_dir, capture_output=True,
                                timeout=120)
        self.assertEqual(result.returncode, 0)
        return result.stderr.decode(errors="replace")

    def target(self, *parts, home=None):
        return os.path.join(home or self.home, TARGET, *parts)

    def settings(self, home=None):
        return os.path.join(home or self.home, SETTINGS)

    def write_settings(self, content, home=None):
        path = self.settings(home)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def location_line(self, directory):
        return b"ConfigurationTemplatesLocation=" + directory

    # --- the POSIX locale ----------------------------------------------------------------

    def test_posix_locale_keeps_a_non_ascii_home(self):
        home = os.path.join(self.home, "hé".encode())
        os.makedirs(home)
        silent.make_kit(self.kit, [("a.txt", b"a")])
        self.assertEqual(self.run_setup("C", home=home), "")
        self.assertEqual(self.read(self.target(b"a.txt", home=home)), b"a")
        self.assertEqual(self.read(self.settings(home)),
                         self.location_line(self.target(home=home)) + b"\n")
        self.assertEqual(sorted(os.listdir(self.home)), ["hé".encode()])

    def test_posix_locale_installs_non_ascii_entry_names_as_they_are(self):
        entries = [("Шаблон.txt", b"1"), ("a_ä.txt", b"2"), ("a_ö.txt", b"3")]
        silent.make_kit(self.kit, entries)
        self.assertEqual(self.run_setup("C"), "")
        self.assertEqual(sorted(os.listdir(self.target())),
                         sorted(name.encode() for name, _ in entries))
        for name, content in entries:
            self.assertEqual(self.read(self.target(name.encode())), content)

    def test_posix_locale_rewrite_keeps_other_keys_whole(self):
        silent.make_kit(self.kit, [("a.txt", b"a")])
        other = "InstalledLocation=/home/u/Документы/x\n".encode()
        self.write_settings(other)
        self.assertEqual(self.run_setup("C"), "")
        self.assertEqual(self.read(self.settings()),
                         other + self.location_line(self.target()) + b"\n")

    def test_posix_locale_shows_a_russian_message(self):
        # No kit: the message comes before anything else.
        stderr = self.run_setup("C", args=["-Lru"])
        self.assertIn("Файл комплекта установки tavlo5.efd не найден.", stderr)

    # --- a UTF-8 locale ------------------------------------------------------------------

    def test_characters_outside_the_basic_plane_are_kept(self):
        silent.make_kit(self.kit, [("notes😀.txt", b"n")])
        other = "Smile=😀\n".encode()
        self.write_settings(other)
        self.assertEqual(self.run_setup(), "")
        self.assertEqual(os.listdir(self.target()), ["notes😀.txt".encode()])
        self.assertEqual(self.read(self.settings()),
                         other + self.location_line(self.target()) + b"\n")

    def test_entry_name_with_a_lone_surrogate_makes_the_kit_damaged(self):
        silent.make_kit(self.kit, [("fine.txt", b"f"), ("bad\ud800.txt", b"b")])
        before = snapshot(self.scratch.root, skip=("tmp",))
        stderr = self.run_setup()
        self.assertIn("corrupted or not designed", stderr)
        self.assertEqual(snapshot(self.scratch.root, skip=("tmp",)), before)
        self.assertEqual(os.listdir(self.tmp), [])

    # --- the settings file ---------------------------------------------------------------

    def test_fifo_as_settings_file_is_neither_read_nor_written(self):
        silent.make_kit(self.kit, [("a.txt", b"a")])
        path = self.settings()
        os.makedirs(os.path.dirname(path))
        os.mkfifo(path)
        # The run reads the settings before anything else and records the directory at the
        # end; opening the FIFO at either point would wait forever.
        self.assertEqual(self.run_setup(), "")
        self.assertEqual(self.read(self.target(b"a.txt")), b"a")
        self.assertTrue(stat.S_ISFIFO(os.lstat(path).st_mode))

    def test_rewrite_keeps_owner_group_and_mode(self):
        if os.geteuid() != 0:
            self.skipTest("giving a file to another user needs root")
        silent.make_kit(self.kit, [("a.txt", b"a")])
        path = self.write_settings(b"K=v\n")
        os.chown(path, NOBODY, NOBODY)
        os.chmod(path, 0o664)
        self.assertEqual(self.run_setup(), "")
        self.assertEqual(self.read(path), b"K=v\n" + self.location_line(self.target()) + b"\n")
        st = os.stat(path)
        self.assertEqual((st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)),
                         (NOBODY, NOBODY, 0o664))

    def test_rewrite_keeps_hard_links_together(self):
        silent.make_kit(self.kit, [("a.txt", b"a")])
        path = self.write_settings(b"K=v\n")
        other = os.path.join(self.root, b"other-name.cfg")
        os.link(path, other)
        self.assertEqual(self.run_setup(), "")
        self.assertEqual(os.stat(path).st_ino, os.stat(other).st_ino)
        self.assertEqual(self.read(other), b"K=v\n" + self.location_line(self.target()) + b"\n")

    # --- locations -----------------------------------------------------------------------

    def test_tilde_location_is_below_the_home_directory(self):
        silent.make_kit(self.kit, [("a.txt", b"a")])
        self.write_settings(b"ConfigurationTemplatesLocation=~/mytpl\n")
        self.assertEqual(self.run_setup(), "")
        self.assertEqual(self.read(os.path.join(self.home, b"mytpl", b"a.txt")), b"a")
        self.assertEqual(os.listdir(self.kit_dir), [b"tavlo5.efd"])

    def test_empty_home_gives_the_no_target_message_and_writes_nothing(self):
        silent.make_kit(self.kit, [("a.txt", b"a")])
        root_before = os.path.exists("/.tavlo5"), os.path.exists("/.Tavlo")
        before = snapshot(self.scratch.root)
        stderr = self.run_setup(home=b"")
        self.assertIn("Installation of templates to the current directory is not supported.",
                      stderr)
        self.assertEqual(snapshot(self.scratch.root), before)
        self.assertEqual((os.path.exists("/.tavlo5"), os.path.exists("/.Tavlo")), root_before)

    # --- times beyond 32 bits, in both builds --------------------------------------------

    def test_entries_dated_after_2038_and_before_1970_are_stamped_and_kept(self):
        silent.make_kit(self.kit, [("late.txt", b"late", Y2100), ("early.txt", b"early", Y1960)])
        for name, program in self.programs():
            with self.subTest(build=name):
                shutil.rmtree(self.home)
                os.makedirs(self.home)
                self.assertEqual(self.run_setup(program=program), "")
                self.assertEqual(os.stat(self.target(b"late.txt")).st_mtime, Y2100)
                self.assertEqual(os.stat(self.target(b"early.txt")).st_mtime, Y1960)
                # A second run finds both up to date and changes no template.
                before = snapshot(os.fsdecode(self.target()))
                self.assertEqual(self.run_setup(program=program), "")
                self.assertEqual(snapshot(os.fsdecode(self.target())), before)

    def test_template_file_dated_after_2038_is_up_to_date(self):
        silent.make_kit(self.kit, [("a.txt", b"from the kit"), ("b.txt", b"b")])
        for name, program in self.programs():
            with self.subTest(build=name):
                shutil.rmtree(self.home)
                os.makedirs(self.target())
                with open(self.target(b"a.txt"), "wb") as f:
                    f.write(b"newer on disk")
                os.utime(self.target(b"a.txt"), (Y2100, Y2100))
                self.assertEqual(self.run_setup(program=program), "")
                self.assertEqual(self.read(self.target(b"a.txt")), b"newer on disk")
                self.assertEqual(os.stat(self.target(b"a.txt")).st_mtime, Y2100)
                self.assertEqual(self.read(self.target(b"b.txt")), b"b")


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    if len(sys.argv) > 2 and os.path.isfile(os.path.join(sys.argv[2], "setup")):
        BUILD_I386 = os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0], "-v"])
