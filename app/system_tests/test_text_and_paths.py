"""System tests of the real program in silent mode without a display: text and paths under
the POSIX and a UTF-8 locale, the settings file where it is a FIFO, and times beyond the
range of 32 bits in both builds.

    python3 app/system_tests/test_text_and_paths.py BUILD_DIR [BUILD_I386_DIR]

The cases about times also run the 32-bit program under qemu-i386 when BUILD_I386_DIR holds
one; without it, or without qemu-i386, that part of them is skipped with the reason.
"""

import errno
import os
import shutil
import stat
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "ui", "gui_tests"))
import setup_run_case  # noqa: E402
from scratch_tree import snapshot  # noqa: E402
from setup_run_case import SetupRunCase, make_kit  # noqa: E402

BUILD_I386 = None
Y2100 = 4102444800   # 2100-01-01, beyond a signed 32-bit time
Y1960 = -315619200   # 1960-01-01, before 1970


def name(text):
    """The path of text's UTF-8 bytes, whatever the file system encoding of this Python."""
    return os.fsdecode(text.encode())


class TextAndPaths(SetupRunCase):
    PREFIX = "setup-text-"

    def programs(self):
        """(name, argv prefix) of each build to run: x86-64, and 32-bit under qemu. In place
        of the argv prefix of a build that cannot run stands the reason, for skipTest."""
        found = [("x86-64", [os.path.join(setup_run_case.BUILD, "setup")])]
        if not BUILD_I386:
            found.append(("i386", "no folder holding a 32-bit setup was given"))
        elif not shutil.which("qemu-i386"):
            found.append(("i386", "qemu-i386 is not installed"))
        else:
            found.append(("i386", ["qemu-i386", os.path.join(BUILD_I386, "setup")]))
        return found

    def listed(self, path):
        """The names in a folder, as bytes."""
        return sorted(os.listdir(os.fsencode(path)))

    def location_line(self, directory):
        return b"ConfigurationTemplatesLocation=" + os.fsencode(directory)

    # --- the POSIX locale ----------------------------------------------------------------

    def test_posix_locale_keeps_a_non_ascii_home(self):
        home = os.path.join(self.home, name("hé"))
        os.makedirs(home)
        make_kit(self.kit, [("a.txt", b"a")])
        self.assertEqual(self.run_setup(locale="C", home=home), "")
        self.assertEqual(self.read(self.target("a.txt", home=home)), b"a")
        self.assertEqual(self.read(self.settings(home)),
                         self.location_line(self.target(home=home)) + b"\n")
        self.assertEqual(self.listed(self.home), ["hé".encode()])

    def test_posix_locale_installs_non_ascii_entry_names_as_they_are(self):
        entries = [("Шаблон.txt", b"1"), ("a_ä.txt", b"2"), ("a_ö.txt", b"3")]
        make_kit(self.kit, entries)
        self.assertEqual(self.run_setup(locale="C"), "")
        self.assertEqual(self.listed(self.target()),
                         sorted(entry.encode() for entry, _ in entries))
        for entry, content in entries:
            self.assertEqual(self.read(name(entry)), content)

    def test_posix_locale_rewrite_keeps_other_keys_whole(self):
        make_kit(self.kit, [("a.txt", b"a")])
        other = "InstalledLocation=/home/u/Документы/x\n".encode()
        self.write_settings(other)
        self.assertEqual(self.run_setup(locale="C"), "")
        self.assertEqual(self.read(self.settings()),
                         other + self.location_line(self.target()) + b"\n")

    def test_posix_locale_shows_a_russian_message(self):
        # No kit: the message comes before anything else.
        stderr = self.run_setup(locale="C", args=["-Lru"])
        self.assertIn("Файл комплекта установки tavlo5.efd не найден.", stderr)

    # --- a UTF-8 locale ------------------------------------------------------------------

    def test_characters_outside_the_basic_plane_are_kept(self):
        make_kit(self.kit, [("notes😀.txt", b"n")])
        other = "Smile=😀\n".encode()
        self.write_settings(other)
        self.assertEqual(self.run_setup(), "")
        self.assertEqual(self.listed(self.target()), ["notes😀.txt".encode()])
        self.assertEqual(self.read(self.settings()),
                         other + self.location_line(self.target()) + b"\n")

    # --- the settings file ---------------------------------------------------------------

    def test_fifo_as_settings_file_is_neither_read_nor_written(self):
        make_kit(self.kit, [("a.txt", b"a")])
        path = self.settings()
        os.makedirs(os.path.dirname(path))
        os.mkfifo(path)
        # The run reads the settings before anything else and records the directory at the
        # end; opening the FIFO at either point would wait forever. The directory is not
        # recorded there, and the run says so.
        self.assertEqual(self.run_setup(),
                         "setup: The templates were installed, but the template directory could "
                         "not be recorded in the launcher's settings file:\n%s: %s\n"
                         % (path, os.strerror(errno.EINVAL)))
        self.assertEqual(self.read("a.txt"), b"a")
        self.assertTrue(stat.S_ISFIFO(os.lstat(path).st_mode))

    # --- times beyond 32 bits, in both builds --------------------------------------------

    def test_entries_dated_after_2038_and_before_1970_are_stamped_and_kept(self):
        make_kit(self.kit, [("late.txt", b"late", Y2100), ("early.txt", b"early", Y1960)])
        for build, program in self.programs():
            with self.subTest(build=build):
                if isinstance(program, str):
                    self.skipTest(program)
                shutil.rmtree(self.home)
                os.makedirs(self.home)
                self.assertEqual(self.run_setup(program=program), "")
                self.assertEqual(os.stat(self.target("late.txt")).st_mtime, Y2100)
                self.assertEqual(os.stat(self.target("early.txt")).st_mtime, Y1960)
                # A second run finds both up to date and changes no template.
                before = snapshot(self.target())
                self.assertEqual(self.run_setup(program=program), "")
                self.assertEqual(snapshot(self.target()), before)

    def test_template_file_dated_after_2038_is_up_to_date(self):
        make_kit(self.kit, [("a.txt", b"from the kit"), ("b.txt", b"b")])
        for build, program in self.programs():
            with self.subTest(build=build):
                if isinstance(program, str):
                    self.skipTest(program)
                shutil.rmtree(self.home)
                os.makedirs(self.target())
                with open(self.target("a.txt"), "wb") as f:
                    f.write(b"newer on disk")
                os.utime(self.target("a.txt"), (Y2100, Y2100))
                self.assertEqual(self.run_setup(program=program), "")
                self.assertEqual(self.read("a.txt"), b"newer on disk")
                self.assertEqual(os.stat(self.target("a.txt")).st_mtime, Y2100)
                self.assertEqual(self.read("b.txt"), b"b")


if __name__ == "__main__":
    setup_run_case.BUILD = os.path.abspath(sys.argv[1])
    if len(sys.argv) > 2 and os.path.isfile(os.path.join(sys.argv[2], "setup")):
        BUILD_I386 = os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0], "-v"])
