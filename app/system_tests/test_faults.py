"""System tests of the real program under faults, as a user meets them: SIGKILL at random
moments of a run, a small temporary directory on a file system of its own, a template file
system that fills up, two installers at once. Each test runs `setup usecwd -S` without a
display in a scratch HOME and TMPDIR and checks every byte of the template directory.

The tests that need a small file system mount a tmpfs (root only) and skip with the reason
when they cannot; they unmount what they mounted.

    python3 app/system_tests/test_faults.py BUILD_DIR
"""

import os
import random
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "ui", "gui_tests"))
import setup_run_case  # noqa: E402
from scratch_tree import snapshot  # noqa: E402
from setup_run_case import KIT_TIME, OLD, SetupRunCase, file_time, make_kit  # noqa: E402

KILLS = 30


class FaultTest(SetupRunCase):
    PREFIX = "setup-faults-"

    def mount_tmpfs(self, path, size):
        os.makedirs(path, exist_ok=True)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s,mode=0755" % size,
                                 "tmpfs", path], capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest("cannot mount a tmpfs here: " + result.stderr.strip())
        # Cleanups run last first: the unmount comes before the scratch root is removed.
        self.addCleanup(self.unmount, path)

    def unmount(self, path):
        """Unmounts what mount_tmpfs mounted; a mount that stays busy fails the test."""
        result = subprocess.run(["umount", path], capture_output=True, text=True)
        if result.returncode != 0:
            # Detached all the same, so that nothing stays mounted after the test.
            subprocess.run(["umount", "-l", path], capture_output=True)
            self.fail("cannot unmount %s: %s" % (path, result.stderr.strip()))

    # --- a killed run --------------------------------------------------------------------

    def test_random_kills_leave_every_name_old_or_new_and_the_next_run_completes(self):
        rng = random.Random(int(os.environ.get("KILL_SEED", "11")))
        # Large files spread over the run, so that kills also land in the middle of writing
        # one, and many small ones.
        entries, old = [], {}
        for i in range(400):
            if i % 200 == 0:
                name = "big%d.bin" % (i // 200)
                entries.append((name, os.urandom(8 << 20)))
                old[name] = os.urandom(8 << 20)
            name = "replaced/%02d/file%03d.cfg" % (i % 10, i)
            entries.append((name.replace("/", "\\"), b"new %d\n" % i * 40))
            old[name] = b"old %d\n" % i * 30
        for i in range(100):
            entries.append(("added\\sub%d\\file%d.cfg" % (i % 5, i), b"added %d\n" % i))
        new = {name.replace("\\", "/"): content for name, content in entries}
        # A tenth of a microsecond past KIT_TIME: a file stamped in whole seconds is never up
        # to date, so every run has all of it to write again.
        make_kit(self.kit, entries, entry_time=file_time(KIT_TIME) + 1)
        for name, content in old.items():
            self.write(name, content)

        started = time.monotonic()
        process = self.start()
        # The first run, killed as the others, sets how long a run takes.
        while process.poll() is None and not os.path.exists(os.path.join(self.target(), "added")):
            time.sleep(0.005)
        process.send_signal(signal.SIGKILL)
        process.communicate()
        run_seconds = max(time.monotonic() - started, 0.2) * 2

        rolled_back = 0
        for kill in range(KILLS):
            process = self.start()
            if kill % 2:
                time.sleep(rng.uniform(0.0, run_seconds))
            else:
                # The moment a large file is being written, seen from outside.
                self.wait_for_a_large_file_to_change(process, "big%d.bin" % (kill // 2 % 2))
            process.send_signal(signal.SIGKILL)
            _, stderr = process.communicate(timeout=60)
            rolled_back += b"interrupted installation" in stderr
            for name, content in new.items():
                path = os.path.join(self.target(), name)
                if not os.path.lexists(path):
                    self.assertTrue(name not in old, "kill %d: %s vanished" % (kill, name))
                    continue
                self.assertTrue(self.read(name) in (content, old.get(name)),
                                "kill %d: %s holds neither version" % (kill, name))
        self.assertGreater(rolled_back, 0)

        self.run_setup()
        for name, content in new.items():
            self.assertEqual(self.read(name), content, name)
            self.assertEqual(os.stat(os.path.join(self.target(), name)).st_mtime, KIT_TIME)
        self.assertEqual(self.leftovers(), [])
        self.assertEqual(os.listdir(self.tmp), [])

    def wait_for_a_large_file_to_change(self, process, name):
        """Returns once the run writes a temporary file in the template directory, or
        changes name in any way, or has ended."""
        path = os.path.join(self.target(), name)
        before = os.stat(path)
        deadline = time.monotonic() + 60
        while process.poll() is None and time.monotonic() < deadline:
            if any(n.startswith(".t5new") for n in os.listdir(self.target())):
                return
            now = os.stat(path)
            if (now.st_ino, now.st_size, now.st_mtime_ns) != (
                    before.st_ino, before.st_size, before.st_mtime_ns):
                return

    # --- full disks ----------------------------------------------------------------------

    def test_no_room_for_the_unpacked_kit_is_the_space_message(self):
        small_tmp = os.path.join(self.scratch.root, "small-tmp")
        self.mount_tmpfs(small_tmp, "1m")
        # Compresses to far less than a third of the free space, unpacks to three times it.
        make_kit(self.kit, [("big.bin", b"0123456789abcdef" * 187500)])
        self.write("big.bin", b"the user's file")
        before = snapshot(self.home)
        stderr = self.run_setup(tmpdir=small_tmp)
        self.assertIn("Insufficient space available in the directory Temp.", stderr)
        self.assertEqual(snapshot(self.home), before)
        self.assertEqual(os.listdir(small_tmp), [])

    def test_a_small_temporary_directory_elsewhere_holds_no_backup(self):
        # Room for the unpacked kit, not for the unpacked kit and a backup of the file.
        other_tmp = os.path.join(self.scratch.root, "other-tmp")
        self.mount_tmpfs(other_tmp, "5m")
        content = b"".join(b"%07d\n" % i for i in range(375000))
        make_kit(self.kit, [("big.bin", content)])
        self.write("big.bin", b"".join(b"%07x\n" % i for i in range(375000)))
        self.assertEqual(self.run_setup(tmpdir=other_tmp), "")
        self.assertEqual(self.read("big.bin"), content)
        self.assertEqual(os.listdir(other_tmp), [])
        self.assertEqual(self.leftovers(), [])

    def test_a_template_file_system_that_fills_up_is_rolled_back_whole(self):
        self.mount_tmpfs(self.target(), "1m")
        for i in range(10):
            self.write("old%d.bin" % i, os.urandom(60 * 1024))
        # What is left free holds a few new files, not the thirty the kit brings.
        with open(os.path.join(self.target(), "filler"), "wb") as f:
            f.write(os.urandom(200 * 1024))
        os.utime(os.path.join(self.target(), "filler"), (OLD, OLD))
        entries = [("old%d.bin" % i, os.urandom(60 * 1024)) for i in range(10)]
        entries += [("new\\n%d.bin" % i, os.urandom(60 * 1024)) for i in range(30)]
        make_kit(self.kit, entries)
        os.utime(self.target(), (OLD, OLD))
        before = snapshot(self.target())
        stderr = self.run_setup()
        self.assertIn("Installation error", stderr)
        self.assertEqual(snapshot(self.target()), before)

    # --- two installers ------------------------------------------------------------------

    def test_two_runs_at_once_end_with_every_file_new(self):
        entries = [("f\\%02d\\t%04d.cfg" % (i % 20, i), b"new %d\n" % i) for i in range(1000)]
        make_kit(self.kit, entries)
        for name, _ in entries:
            self.write(name.replace("\\", "/"), b"old\n")
        first, second = self.start(), self.start()
        # The one that waits says so, and names the other; nothing else is said.
        said = [self.finish(first), self.finish(second)]
        waiting = "setup: waiting for another installation into %s/" % self.target()
        for stderr in said:
            self.assertIn(stderr.rstrip("\n").split(" (pid ")[0], ["", waiting])
        self.assertIn("", said)
        for name, content in entries:
            self.assertEqual(self.read(name.replace("\\", "/")), content, name)
        self.assertEqual(self.leftovers(), [])
        self.assertEqual(os.listdir(self.tmp), [])


if __name__ == "__main__":
    setup_run_case.BUILD = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[2:])
