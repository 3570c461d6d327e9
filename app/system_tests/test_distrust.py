"""System tests of the real program against a template directory it cannot trust: work
folders and journals planted by someone else or pointing out of the directory through links,
a template directory swapped for a link in the middle of a run, files the user saved after a
killed run, power cuts on an ext4 loop mount, file systems without locks, and a run that
waits for another. Each test runs `setup usecwd -S` without a display in a scratch HOME and
TMPDIR; strace stops or kills it at an exact rename.

The tests that need root (another user, a loop mount) skip with the reason without it. Every
process, mount and loop device a test makes is ended by that test.

    python3 app/system_tests/test_distrust.py BUILD_DIR
"""

import fcntl
import os
import random
import select
import signal
import stat
import struct
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import setup_run_case  # noqa: E402
from setup_run_case import NOBODY, OLD, SETTINGS, SetupRunCase, make_kit  # noqa: E402

MAGIC = b"t5stp journal 1\n"
RENAMES = "rename,renameat,renameat2"
PLANTER = 64000          # the other user of a shared template directory
SHARED_GROUP = 64001
EXT4_IOC_SHUTDOWN = 0x8004587D
EXT4_GOING_FLAGS_NOLOGFLUSH = 2
WAITING = "setup: waiting for another installation into "


def record(kind, path, prefix=b""):
    payload = prefix + path.encode()
    return kind.encode() + struct.pack("<I", len(payload)) + payload


def tree(root):
    """Every path at and under root, links not followed, with its kind and mode, owner,
    modification time and bytes (size and inode for a large file) or link target; None
    when root is gone."""
    def entry(path):
        st = os.lstat(path)
        if stat.S_ISLNK(st.st_mode):
            what = os.readlink(path)
        elif stat.S_ISREG(st.st_mode) and st.st_size > 1 << 24:
            what = (st.st_size, st.st_ino)
        elif stat.S_ISREG(st.st_mode):
            with open(path, "rb") as f:
                what = f.read()
        else:
            what = None
        return (st.st_mode, st.st_uid, st.st_gid, st.st_mtime_ns, what)
    if not os.path.lexists(root):
        return None
    found = {".": entry(root)}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            found[os.path.relpath(path, root)] = entry(path)
    return found


class DistrustTest(SetupRunCase):
    PREFIX = "setup-distrust-"

    REPLACED = ["f%d.cfg" % i for i in range(6)]

    def replacing_kit(self):
        """A kit that replaces six files of the template directory, which holds their old
        versions; returns the new contents by name."""
        new = {name: b"new %s\n" % name.encode() for name in self.REPLACED}
        make_kit(self.kit, list(new.items()))
        for name in new:
            self.write(name, b"old %s\n" % name.encode())
        return new

    def assert_all_new(self, new):
        for name, content in new.items():
            self.assertEqual(self.read(name), content, name)
        self.assertEqual(self.leftovers(), [])

    def plant(self, work, records, mode=0o700, backups=()):
        os.makedirs(work)
        os.chmod(work, mode)
        with open(os.path.join(work, "journal"), "wb") as f:
            f.write(MAGIC + b"".join(records))
        for rel, content in backups:
            path = os.path.join(work, "backup", rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)

    # --- processes -----------------------------------------------------------------------

    def stop(self, process):
        if process.poll() is None:
            process.kill()
        process.wait()
        process.stderr.close()

    def traced(self, sig, when, preload=None, **how):
        """Starts setup under strace, which sends sig (STOP or KILL) at the program's
        when-th rename. A stopped run is returned once every thread of it has stopped, with
        its own PID in .program; a killed one once it has ended."""
        log = os.path.join(self.root, "strace-%d.log" % time.monotonic_ns())
        argv = ["strace", "-qq", "-f", "-o", log, "-e", "trace=" + RENAMES,
                "-e", "inject=%s:signal=%s:when=%d" % (RENAMES, sig, when)]
        if preload:
            argv += ["-E", "LD_PRELOAD=" + preload]
        program = os.path.join(setup_run_case.BUILD, "setup")
        tracer = self.start(program=argv + [program], **how)
        tracer.program, tracer.setup = None, program
        self.addCleanup(self.stop_traced, tracer)
        if sig == "KILL":
            tracer.communicate(timeout=120)
            # strace ends the way its program ended.
            self.assertEqual(tracer.returncode, -signal.SIGKILL,
                             "the run was not killed at its rename %d" % when)
            return tracer
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if tracer.poll() is not None:
                self.fail("the run ended before its rename %d" % when)
            if tracer.program is None:
                # strace forks probes of its own before the program.
                tracer.program = self.child_running(tracer.pid, tracer.setup)
            if tracer.program is not None and os.path.exists(log):
                with open(log) as f:
                    stops = f.read().count("--- stopped by SIGSTOP ---")
                try:
                    if stops and stops >= len(os.listdir("/proc/%d/task" % tracer.program)):
                        return tracer
                except FileNotFoundError:
                    pass  # the program has just ended: the next round says so
            time.sleep(0.01)
        with open(log) as f:
            self.fail("the run never stopped at its rename %d; strace saw:\n%s" % (
                when, "".join(f.readlines()[-6:])))

    @staticmethod
    def child_running(parent, program):
        """The PID of parent's child that runs program, or None."""
        with open("/proc/%d/task/%d/children" % (parent, parent)) as f:
            children = [int(pid) for pid in f.read().split()]
        for pid in children:
            try:
                if os.readlink("/proc/%d/exe" % pid) == os.path.realpath(program):
                    return pid
            except FileNotFoundError:
                pass
        return None

    def resume(self, tracer):
        os.kill(tracer.program, signal.SIGCONT)
        return self.finish(tracer)

    def stop_traced(self, tracer):
        """Kills the program, then lets strace reap it, so that it holds nothing open."""
        if tracer.poll() is None:
            pid = tracer.program or self.child_running(tracer.pid, tracer.setup)
            try:
                if pid is not None:
                    os.kill(pid, signal.SIGKILL)
                    tracer.wait(timeout=30)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                pass
        self.stop(tracer)

    # --- planted journals ----------------------------------------------------------------

    def test_a_journal_naming_paths_through_a_link_changes_nothing_outside(self):
        outside = os.path.join(self.root, "V")
        os.makedirs(os.path.join(outside, "docs", "deep"))
        for rel, content in [("precious.txt", b"precious\n"), ("profile.txt", b"profile\n"),
                             ("docs/a.txt", b"a\n"), ("docs/deep/b.txt", b"b\n")]:
            with open(os.path.join(outside, rel), "wb") as f:
                f.write(content)
        os.utime(outside, (OLD, OLD))
        os.makedirs(self.target())
        os.symlink(outside, self.target("lnk"))
        self.plant(self.target(".t5stp"),
                   [record("N", "lnk/precious.txt"), record("D", "lnk/docs"),
                    record("B", "lnk/profile.txt"),
                    record("M", "lnk", struct.pack("<qI", 0, 0))],
                   backups=[("lnk/profile.txt", b"planted\n")])
        make_kit(self.kit, [("k.txt", b"kit\n")])
        before = tree(outside)
        self.run_setup()
        self.assertEqual(tree(outside), before)
        self.assertEqual(os.readlink(self.target("lnk")), outside)

    def assert_left_alone(self, work, before, stderr, home=None):
        self.assertEqual(tree(work), before)
        self.assertIn(work, stderr)
        self.assertFalse(os.path.lexists(self.target("k.txt", home=home)),
                         "the kit was installed beside an untrusted work folder")

    def test_work_folders_that_are_not_the_users_own_are_left_alone(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to plant files as another user and run as a third")
        # The template directory is the user's (nobody's), shared with the planter through
        # its group; the planter's link leads to the user's home.
        make_kit(self.kit, [("k.txt", b"kit\n")])
        documents = os.path.join(self.home, "Documents")
        profile = os.path.join(self.home, ".profile")
        os.makedirs(documents)
        with open(profile, "wb") as f:
            f.write(b"the user's profile\n")
        os.makedirs(self.target())
        os.chmod(self.tmp, 0o1777)
        subprocess.run(["chown", "-R", "%d:%d" % (NOBODY, NOBODY), self.home], check=True)
        os.chown(self.target(), NOBODY, SHARED_GROUP)
        os.chmod(self.target(), 0o2775)
        link, work = self.target("home"), self.target(".t5stp")
        os.symlink(self.home, link)
        self.plant(work, [record("D", "home/Documents"), record("B", "home/.profile")],
                   mode=0o2775, backups=[("home/.profile", b"the planter's profile\n")])
        for path in [link, work] + [os.path.join(d, n) for d, ds, fs in os.walk(work)
                                    for n in ds + fs]:
            os.lchown(path, PLANTER, SHARED_GROUP)
        home_before = (tree(documents), tree(profile))
        work_before = tree(work)
        stderr = self.run_setup(user=NOBODY)
        self.assertEqual((tree(documents), tree(profile)), home_before)
        self.assert_left_alone(work, work_before, stderr)

        # The user's own work folders that are still not to be trusted.
        elsewhere = os.path.join(self.root, "elsewhere-journal")
        with open(elsewhere, "wb") as f:
            f.write(MAGIC + record("N", "victim.txt"))
        for case in ["mode 0777", "journal is a link", "journal of 1.5 GiB"]:
            with self.subTest(case=case):
                home = os.path.join(self.root, "home-" + case.split()[-1])
                victim = self.target("victim.txt", home=home)
                work = self.target(".t5stp", home=home)
                os.makedirs(os.path.dirname(victim))
                with open(victim, "wb") as f:
                    f.write(b"the user's own file\n")
                self.plant(work, [record("N", "victim.txt")],
                           mode=0o777 if case == "mode 0777" else 0o700)
                journal = os.path.join(work, "journal")
                if case == "journal is a link":
                    os.remove(journal)
                    os.symlink(elsewhere, journal)
                elif case == "journal of 1.5 GiB":
                    os.truncate(journal, 3 << 29)
                before = tree(work)
                stderr = self.run_setup(home=home)
                with open(victim, "rb") as f:
                    self.assertEqual(f.read(), b"the user's own file\n")
                self.assert_left_alone(work, before, stderr, home=home)

    # --- the world changed under a run ---------------------------------------------------

    def test_a_target_swapped_for_a_link_mid_run_is_not_followed(self):
        new = self.replacing_kit()
        old = {name: self.read(name) for name in new}
        outside = os.path.join(self.root, "V")
        os.makedirs(outside)
        tracer = self.traced("STOP", 3)
        real = self.target() + ".real"
        os.rename(self.target(), real)
        os.symlink(outside, self.target())
        stderr = self.resume(tracer)
        self.assertEqual(os.listdir(outside), [], stderr)
        self.assertEqual(sorted(os.listdir(real)), sorted(new), stderr)
        found = {name: self.read(os.path.join(real, name)) for name in new}
        self.assertIn(found, (old, new), "neither the old nor the new template directory")

    def test_files_saved_after_a_killed_run_stay(self):
        entries = [("a.txt", b"a\n"), ("n\\x.txt", b"x\n"), ("z.txt", b"z\n")]
        make_kit(self.kit, entries)
        self.traced("KILL", 2)
        self.assertTrue(os.path.isdir(self.target("n")), "the kill came before n/ was made")
        mine = {"mine/notes.txt": b"notes\n", "readme-mine.txt": b"readme\n",
                "n/mine.txt": b"mine\n"}
        for rel, content in mine.items():
            os.makedirs(os.path.dirname(self.target(rel)), exist_ok=True)
            with open(self.target(rel), "wb") as f:
                f.write(content)
        self.run_setup()
        for rel, content in mine.items():
            self.assertTrue(os.path.exists(self.target(rel)), rel + " was removed")
            self.assertEqual(self.read(rel), content, rel)
        self.assert_all_new({name.replace("\\", "/"): content for name, content in entries})

    # --- power cuts ----------------------------------------------------------------------

    def mount_ext4(self):
        """A fresh ext4 on a loop device, committing every second, with a HOME on it."""
        if os.geteuid() != 0:
            self.skipTest("needs root to mount a loop device")
        self.image, self.mnt = os.path.join(self.root, "fs.img"), os.path.join(self.root, "mnt")
        os.makedirs(self.mnt)
        subprocess.run(["truncate", "-s", "128M", self.image], check=True)
        made = subprocess.run(["mkfs.ext4", "-q", "-F", self.image], capture_output=True, text=True)
        if made.returncode != 0:
            self.skipTest("cannot make an ext4 image: " + made.stderr.strip())
        self.addCleanup(self.release_ext4)
        mounted = self.mount_image()
        if mounted.returncode != 0:
            self.skipTest("cannot mount a loop device here: " + mounted.stderr.strip())
        self.ext4_home = os.path.join(self.mnt, "home")
        os.makedirs(self.ext4_home)
        return self.ext4_home

    def mount_image(self):
        return subprocess.run(["mount", "-o", "loop,commit=1", self.image, self.mnt],
                              capture_output=True, text=True)

    def release_ext4(self):
        if os.path.ismount(self.mnt) and subprocess.run(["umount", self.mnt]).returncode:
            subprocess.run(["umount", "-l", self.mnt])
        listed = subprocess.run(["losetup", "-j", self.image], capture_output=True, text=True)
        for line in listed.stdout.splitlines():
            subprocess.run(["losetup", "-d", line.split(":")[0]])

    def cut_power_and_remount(self, end=None):
        """Drops whatever the file system has not committed, ends the program (end), and
        mounts the image again, as the next boot finds it."""
        fd = os.open(self.mnt, os.O_RDONLY)
        try:
            fcntl.ioctl(fd, EXT4_IOC_SHUTDOWN, struct.pack("I", EXT4_GOING_FLAGS_NOLOGFLUSH))
        finally:
            os.close(fd)
        if end is not None:
            end()
        unmounted = subprocess.run(["umount", self.mnt], capture_output=True, text=True)
        self.assertEqual(unmounted.returncode, 0, unmounted.stderr)
        mounted = self.mount_image()
        self.assertEqual(mounted.returncode, 0, mounted.stderr)

    def test_a_power_cut_right_after_a_first_installation(self):
        home = self.mount_ext4()
        new = {"t%02d/file%03d.cfg" % (i % 10, i): b"template %d\n" % i * 50 for i in range(200)}
        make_kit(self.kit, [(name.replace("/", "\\"), data) for name, data in new.items()])
        self.run_setup(home=home)
        self.cut_power_and_remount()
        settings = os.path.join(home, SETTINGS)
        recorded = os.path.exists(settings) and b"ConfigurationTemplatesLocation" in self.read(
            settings)
        if not recorded:
            self.run_setup(home=home)
        for name, content in new.items():
            self.assertEqual(self.read(self.target(name, home=home)), content,
                             "%s after the cut (settings record %s)" % (
                                 name, "kept" if recorded else "lost, next start made"))

    def test_power_cuts_mid_run_leave_old_or_new_bytes(self):
        home = self.mount_ext4()
        rng = random.Random(int(os.environ.get("CUT_SEED", "5")))
        new, old = {}, {}
        for i in range(300):
            name = "r%02d/file%03d.cfg" % (i % 10, i)
            new[name], old[name] = b"new %d\n" % i * 40, b"old %d\n" % i * 30
            if i % 100 == 50:
                name = "big%d.bin" % (i // 100)
                new[name], old[name] = os.urandom(4 << 20), os.urandom(4 << 20)
        make_kit(self.kit, [(name.replace("/", "\\"), data) for name, data in new.items()])

        def put_back_old():
            for name, content in old.items():
                self.write(self.target(name, home=home), content)
            os.sync()

        put_back_old()
        started = time.monotonic()
        self.run_setup(home=home)
        run_seconds = time.monotonic() - started
        for cut in range(4):
            put_back_old()
            if cut % 2:
                # A run is shorter than the commit interval: stopped at a random rename for
                # longer than it, the cut finds part of the run on disk.
                at = "rename %d" % rng.randint(1, len(new))
                tracer = self.traced("STOP", int(at.split()[1]), home=home)
                time.sleep(1.5)
                self.cut_power_and_remount(lambda: self.stop_traced(tracer))
            else:
                at = "%.3f of %.3f s" % (rng.uniform(0.0, run_seconds), run_seconds)
                process = self.start(home=home)
                self.addCleanup(self.stop, process)
                time.sleep(float(at.split()[0]))
                self.cut_power_and_remount(lambda: self.stop(process))
            stderr = self.run_setup(home=home)
            for name in new:
                found = self.read(self.target(name, home=home))
                self.assertTrue(found in (old[name], new[name]),
                                "cut at %s: %s holds %d bytes, neither version" % (
                                    at, name, len(found)))
            # Else every later run fails on what the cut left.
            self.assertFalse(os.path.lexists(self.target(".t5stp", home=home)),
                             "cut at %s: the next start left its work folder: %s" % (at, stderr))

    # --- other installers ----------------------------------------------------------------

    def test_without_locks_a_second_run_leaves_a_working_one_alone(self):
        shim = os.path.join(self.root, "noflock.so")
        source = shim[:-3] + ".c"
        with open(source, "w") as f:
            f.write("#include <errno.h>\nint flock(int fd, int op) {\n"
                    "  (void)fd; (void)op; errno = ENOLCK; return -1;\n}\n")
        subprocess.run(["cc", "-shared", "-fPIC", "-o", shim, source], check=True)
        new = self.replacing_kit()
        first = self.traced("STOP", 3, preload=shim)
        before = tree(self.target())
        second = self.start(program=["env", "LD_PRELOAD=" + shim,
                                     os.path.join(setup_run_case.BUILD, "setup")])
        self.addCleanup(self.stop, second)
        stderr = self.finish(second)
        self.assertEqual(tree(self.target()), before,
                         "the second run changed the first's work: " + stderr)
        self.assertNotEqual(stderr.strip(), "", "the second run said nothing")
        self.resume(first)
        self.assert_all_new(new)

    def test_a_waiting_run_says_so(self):
        new = self.replacing_kit()
        first = self.traced("STOP", 3)
        second = self.start()
        self.addCleanup(self.stop, second)
        said, deadline = b"", time.monotonic() + 1.5
        while b"\n" not in said and time.monotonic() < deadline:
            if select.select([second.stderr], [], [], deadline - time.monotonic())[0]:
                chunk = os.read(second.stderr.fileno(), 4096)
                if not chunk:
                    break
                said += chunk
        self.resume(first)
        self.finish(second)
        self.assertTrue(said.decode(errors="replace").startswith(WAITING + self.target()),
                        "within 1.5 s the waiting run said %r" % said)
        self.assert_all_new(new)


if __name__ == "__main__":
    setup_run_case.BUILD = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[2:])
