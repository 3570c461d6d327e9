"""System tests of the real program in unattended runs: the exit status of each outcome
reached by a real cause (--exit-status), the log as JSON Lines (--log), --target, --dry-run,
a stop by SIGTERM, the progress line on a terminal, --help and --version without a display,
and --no-dialogs on a display of its own (Xvfb). Each test runs setup in a scratch HOME and
TMPDIR; what a run must not change is compared as whole trees before and after.

Runs that must be caught in the middle are slowed down under strace, which delays every
copy of an entry (and, for the rollback, every removal); the signal goes to setup itself.

    python3 app/system_tests/test_automation.py BUILD_DIR
"""

import fcntl
import json
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import termios
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "ui", "gui_tests"))
import setup_run_case  # noqa: E402
from scratch_tree import snapshot  # noqa: E402
from setup_run_case import NOBODY, SETTINGS, SetupRunCase, make_kit  # noqa: E402


def children_of(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


def comm_of(pid):
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return ""


class Automation(SetupRunCase):
    PREFIX = "setup-automation-"

    def setUp(self):
        super().setUp()
        self.log = os.path.join(self.root, "run.jsonl")

    def program(self):
        return os.path.join(setup_run_case.BUILD, "setup")

    def run_program(self, args, env=None, cwd=None, timeout=120):
        """setup with args (nothing implied), to its end: (status, stdout, stderr)."""
        process = subprocess.Popen([self.program()] + list(args), env=env or self.env(),
                                   cwd=cwd or self.kit_dir, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        try:
            out, err = process.communicate(timeout=timeout)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        return process.returncode, out.decode(errors="replace"), err.decode(errors="replace")

    def silent(self, *args, **how):
        return self.run_program(["usecwd", "-S", "--exit-status", "--log=" + self.log] +
                                list(args), **how)

    def records(self):
        """Every record of the log, each line parsed on its own."""
        with open(self.log, "rb") as f:
            lines = f.read().decode("utf-8").splitlines()
        return [json.loads(line) for line in lines]

    def last_run(self):
        """The records of the last run: from its start record on."""
        records = self.records()
        starts = [i for i, r in enumerate(records) if r["event"] == "start"]
        self.assertTrue(starts)
        return records[starts[-1]:]

    def expect_outcome(self, outcome, status):
        run = self.last_run()
        self.assertEqual(run[-1]["event"], "end")
        self.assertEqual(run[-1]["outcome"], outcome)
        self.assertEqual(run[-1]["exit_status"], status)
        return run

    def slowed(self, args, delay_us=20000, also=(), user=None, stderr=subprocess.PIPE):
        """setup under strace, every entry's copy (and the calls in also) delayed by delay_us,
        run as user when given; returns the strace process and setup's own pid."""
        if shutil.which("strace") is None:
            self.skipTest("strace is not installed")
        calls = ",".join(("copy_file_range",) + tuple(also))
        argv = ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + calls,
                "-e", "inject=%s:delay_enter=%d" % (calls, delay_us), "--"]
        if user is not None:
            argv += ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"]
        process = subprocess.Popen(argv + [self.program()] + list(args), env=self.env(),
                                   cwd=self.kit_dir, stdout=subprocess.PIPE, stderr=stderr)
        self.addCleanup(self.end_process, process)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            found = [c for c in children_of(process.pid) if comm_of(c) == "setup"]
            if found:
                # Ended first: a tracee outlives a strace that is killed.
                self.addCleanup(self.end_pid, found[0])
                return process, found[0]
            time.sleep(0.01)
        self.fail("setup did not start under strace")

    def temporary_files(self, folder):
        """How many files a run writes in folder before they take their names."""
        try:
            return sum(name.startswith(".t5new") for name in os.listdir(self.target(folder)))
        except OSError:
            return 0

    def end_process(self, process):
        if process.poll() is None:
            process.kill()
        process.communicate()

    def end_pid(self, pid):
        """Kills setup by its pid unless it has ended (its strace then reaps it)."""
        if comm_of(pid) == "setup":
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

    def wait_until(self, what, probe, timeout=30):
        deadline = time.monotonic() + timeout
        while not probe():
            if time.monotonic() > deadline:
                self.fail("timed out waiting for " + what)
            time.sleep(0.005)

    def many_entries(self, count, size=64):
        return [("many\\f%04d.cfg" % i, (b"%04d" % i) * (size // 4)) for i in range(count)]

    # --- --help and --version --------------------------------------------------------

    def test_help_and_version_need_no_display_kit_or_window(self):
        empty = os.path.join(self.root, "empty")
        os.makedirs(empty)
        env = self.env()  # no DISPLAY
        before = snapshot(self.root)
        status, out, err = self.run_program(["--help"], env=env, cwd=empty)
        self.assertEqual((status, err), (0, ""))
        for option in ("--exit-status", "--target=DIR", "--no-dialogs", "--dry-run",
                       "--log=FILE", "--help", "--version", "-S", "-Lcode", "usecwd"):
            self.assertIn(option, out)
        status, out, err = self.run_program(["usecwd", "-S", "--version"], env=env, cwd=empty)
        self.assertEqual((status, err), (0, ""))
        self.assertRegex(out, r"^setup \d+\.\d+\.\d+\n$")
        self.assertEqual(snapshot(self.root), before)

    # --- a wrong command line ----------------------------------------------------------

    def test_a_wrong_command_line_is_64_with_exit_status_and_runs_nothing(self):
        make_kit(self.kit, [("a.txt", b"a")])
        before = snapshot(self.root)
        for args in (["--target"], ["--target="], ["--log"], ["--dry-run=yes"]):
            with self.subTest(args=args):
                status, out, err = self.run_program(["usecwd", "-S", "--exit-status"] + args)
                self.assertEqual(status, 64)
                self.assertIn(args[0].split("=")[0], err)
                self.assertIn("--help", err)
                # Without --exit-status the status stays 0, and nothing runs either.
                status, _, err = self.run_program(["usecwd", "-S"] + args)
                self.assertEqual(status, 0)
                self.assertIn("--help", err)
                self.assertEqual(snapshot(self.root), before)

    # --- each outcome by a real cause ------------------------------------------------------

    def test_installed_then_up_to_date_with_a_record_per_entry(self):
        entries = [("A\\one.cfg", b"one"), ("two.cfg", b"two"), ("three.cfg", b"three")]
        make_kit(self.kit, entries)
        self.write("two.cfg", b"old two")
        status, out, err = self.silent()
        self.assertEqual((status, out, err), (0, "", ""))
        run = self.expect_outcome("installed", 0)
        start = run[0]
        self.assertEqual(start["kit"], self.kit)
        self.assertEqual(start["target"].rstrip("/"), self.target())
        self.assertEqual((start["language"], start["silent"]), ("en", True))
        self.assertRegex(start["version"], r"^setup \d")
        actions = {r["path"]: r["action"] for r in run if r["event"] == "entry"}
        self.assertEqual(actions, {self.target("A/one.cfg"): "new",
                                   self.target("two.cfg"): "replaced",
                                   self.target("three.cfg"): "new"})
        self.assertEqual(os.stat(self.log).st_mode & 0o777, 0o600)

        status, out, err = self.silent()
        self.assertEqual((status, err), (0, ""))
        run = self.expect_outcome("up-to-date", 0)
        self.assertEqual({r["action"] for r in run if r["event"] == "entry"}, {"up-to-date"})
        # The log is appended to: both runs are in it.
        self.assertEqual([r["event"] for r in self.records()].count("start"), 2)

    def test_a_failed_run_is_1_and_says_where_and_why(self):
        make_kit(self.kit, [("a.txt", b"new a"), ("Blocked\\b.txt", b"b")])
        self.write("a.txt", b"old a")
        os.makedirs(self.target("Blocked", "b.txt", "inside"))
        before = snapshot(self.home)
        status, _, err = self.silent()
        self.assertEqual(status, 1)
        lines = err.splitlines()
        self.assertIn("Installation error", lines)
        cause = lines[lines.index("Installation error") + 1]
        self.assertEqual(cause, self.target("Blocked", "b.txt") + ": Is a directory (EISDIR)")
        self.assertEqual(snapshot(self.home), before)
        run = self.expect_outcome("failed", 1)
        failure = [r for r in run if r["event"] == "failure"][0]
        self.assertEqual(failure["message"], "Installation error")
        self.assertEqual((failure["path"], failure["errno"]),
                         (self.target("Blocked", "b.txt"), "EISDIR"))
        self.assertEqual(failure["reason"], "Is a directory")
        self.assertEqual([r["complete"] for r in run if r["event"] == "rollback"], [True])

    def test_a_rollback_that_cannot_put_everything_back_is_2_and_names_the_folder(self):
        # The run is made as nobody, and its folder is closed to it while it copies: the next
        # entry there cannot be written, and the replaced file cannot be put back.
        entries = [("Shut\\a.txt", b"new a")] + self.many_entries(40)
        make_kit(self.kit, entries[:1] + [("Shut\\z.txt", b"z")] + entries[1:])
        self.write("Shut/a.txt", b"old a")
        subprocess.run(["chown", "-R", "%d:%d" % (NOBODY, NOBODY), self.root], check=True)
        # Files take their names at the end of the run, one rename at a time here.
        process, _ = self.slowed(["usecwd", "-S", "--exit-status", "--log=" + self.log],
                                 delay_us=200000, also=("renameat", "renameat2"), user=NOBODY)

        def replaced():
            try:
                return self.read("Shut/a.txt") == b"new a"
            except OSError:
                return False
        self.wait_until("the first file to be replaced", replaced)
        os.chmod(self.target("Shut"), 0o555)
        _, err = process.communicate(timeout=120)
        err = err.decode(errors="replace")
        self.assertEqual(process.returncode, 2)
        work = os.path.join(self.target(), ".t5stp")
        self.assertIn(work, err)
        run = self.expect_outcome("failed-kept", 2)
        self.assertEqual([(r["complete"], r["kept"]) for r in run if r["event"] == "rollback"],
                         [(False, work)])
        failure = [r for r in run if r["event"] == "failure"][0]
        self.assertIn(work, failure["message"])
        self.assertEqual((failure["path"], failure["errno"]),
                         (self.target("Shut", "z.txt"), "EACCES"))
        # What could not be put back is kept.
        self.assertTrue(os.path.isdir(work))

    def test_failed_checks_are_3_and_write_nothing(self):
        make_kit(self.kit, [("a.txt", b"a")])
        subprocess.run(["chown", "-R", "%d:%d" % (NOBODY, NOBODY), self.root], check=True)
        os.chmod(self.kit, 0o000)
        before = snapshot(self.root, skip=("run.jsonl",))
        process = self.start(user=NOBODY, args=["--exit-status", "--log=" + self.log])
        err = self.wait_for(process)
        self.assertEqual(process.returncode, 3)
        # A kit that cannot be read says so, and why; it is not called damaged.
        self.assertIn("cannot be read", err)
        self.assertIn(self.kit + ": Permission denied (EACCES)", err)
        self.assertNotIn("corrupted", err)
        self.assertEqual(snapshot(self.root, skip=("run.jsonl",)), before)
        run = self.expect_outcome("checks-failed", 3)
        self.assertEqual([r.get("errno") for r in run if r["event"] == "failure"], ["EACCES"])

        # A kit that is not there, and a log that cannot be opened.
        os.remove(self.kit)
        status, _, err = self.silent()
        self.assertEqual(status, 3)
        self.assertIn(self.kit + ": No such file or directory (ENOENT)", err)
        self.expect_outcome("checks-failed", 3)
        make_kit(self.kit, [("a.txt", b"a")])
        before = snapshot(self.root)
        status, _, err = self.run_program(["usecwd", "-S", "--exit-status",
                                           "--log=" + os.path.join(self.root, "no", "log")])
        self.assertEqual(status, 3)
        self.assertIn("No such file or directory (ENOENT)", err)
        self.assertEqual(snapshot(self.root), before)
        # A target that is a file.
        blocker = os.path.join(self.root, "a-file")
        with open(blocker, "wb") as f:
            f.write(b"not a directory")
        before = snapshot(self.root, skip=("run.jsonl",))
        status, _, err = self.silent("--target=" + blocker)
        self.assertEqual(status, 3)
        self.assertIn("Installation error", err)
        self.assertEqual(snapshot(self.root, skip=("run.jsonl",)), before)
        self.expect_outcome("checks-failed", 3)
        # A work folder that no run of setup explains is not touched, and not installed into.
        os.makedirs(self.target(".t5stp"))
        self.write(".t5stp/unknown", b"someone's")
        before = snapshot(self.home)
        status, _, err = self.silent()
        self.assertEqual(status, 3)
        self.assertIn(self.target(".t5stp"), err)
        self.assertEqual(snapshot(self.home), before)
        self.expect_outcome("checks-failed", 3)

    def test_sigterm_mid_run_rolls_back_and_is_4_and_a_second_one_does_not_cut_it_short(self):
        entries = self.many_entries(200)
        make_kit(self.kit, entries)
        for name, _ in entries[::2]:
            self.write(name.replace("\\", "/"), b"old")
        before = snapshot(self.home)
        process, pid = self.slowed(["usecwd", "-S", "--exit-status", "--log=" + self.log],
                                   delay_us=50000, also=("unlink", "unlinkat"))
        self.wait_until("the run to be under way", lambda: self.temporary_files("many") > 10)
        os.kill(pid, signal.SIGTERM)
        # The second signal while the first one's rollback removes what the run wrote, one
        # removal every 50 ms: the work folder is still there.
        time.sleep(0.05)
        self.assertTrue(os.path.isdir(self.target(".t5stp")))
        os.kill(pid, signal.SIGTERM)
        _, err = process.communicate(timeout=120)
        err = err.decode(errors="replace")
        self.assertEqual(process.returncode, 4, err)
        self.assertIn("SIGTERM", err)
        self.assertEqual(snapshot(self.home), before)
        self.assertEqual(self.leftovers(), [])
        run = self.expect_outcome("cancelled", 4)
        self.assertEqual(run[-1]["signal"], "SIGTERM")
        self.assertEqual([r["complete"] for r in run if r["event"] == "rollback"], [True])

    def test_sigint_without_exit_status_rolls_back_and_ends_by_the_signal(self):
        entries = self.many_entries(200)
        make_kit(self.kit, entries)
        before = snapshot(self.home)
        process, pid = self.slowed(["usecwd", "-S"])
        self.wait_until("the run to be under way", lambda: self.temporary_files("many") > 5)
        os.kill(pid, signal.SIGINT)
        process.communicate(timeout=120)
        # strace reports a child killed by a signal by killing itself with it.
        self.assertEqual(process.returncode, -signal.SIGINT)
        self.assertEqual(snapshot(self.home), before)
        self.assertEqual(self.leftovers(), [])

    # --- --target -----------------------------------------------------------------------

    def test_target_installs_a_silent_run_there_and_records_it(self):
        make_kit(self.kit, [("Sub\\a.txt", b"a")])
        status, _, err = self.silent("--target=../elsewhere/tpl")
        self.assertEqual((status, err), (0, ""))
        chosen = os.path.join(self.root, "elsewhere", "tpl")
        with open(os.path.join(chosen, "Sub", "a.txt"), "rb") as f:
            self.assertEqual(f.read(), b"a")
        self.assertFalse(os.path.exists(self.target()))
        with open(self.settings(), "rb") as f:
            recorded = f.read().decode().strip().split("=", 1)[1]
        self.assertEqual(os.path.realpath(recorded), os.path.realpath(chosen))
        # "~/" is the home directory.
        status, _, _ = self.silent("--target=~/tilde")
        self.assertEqual(status, 0)
        self.assertTrue(os.path.isfile(os.path.join(self.home, "tilde", "Sub", "a.txt")))

    # --- --dry-run ---------------------------------------------------------------------

    def test_dry_run_lists_every_entry_and_writes_nothing(self):
        make_kit(self.kit, [("new.cfg", b"n"), ("old.cfg", b"o"), ("same.cfg", b"s")])
        self.write("old.cfg", b"older")
        self.write("same.cfg", b"s", mtime=setup_run_case.KIT_TIME)
        before = (snapshot(self.home), snapshot(self.tmp))
        status, out, err = self.silent("--dry-run")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out.splitlines(), [
            "new " + self.target("new.cfg"), "replace " + self.target("old.cfg"),
            "up-to-date " + self.target("same.cfg"), "1 new, 1 to replace, 1 up to date"])
        self.assertEqual((snapshot(self.home), snapshot(self.tmp)), before)
        self.assertFalse(os.path.exists(os.path.join(self.home, SETTINGS)))
        run = self.expect_outcome("installed", 0)
        self.assertTrue(run[0]["dry_run"])
        # A dry run that would fail says so with the run's status.
        os.remove(self.target("old.cfg"))
        os.makedirs(self.target("old.cfg"))
        status, _, err = self.silent("--dry-run")
        self.assertEqual(status, 1)
        self.assertIn(self.target("old.cfg") + ": Is a directory (EISDIR)", err)

    # --- the phase trace (SETUP_TRACE) -------------------------------------------------

    def test_phase_trace_marks_every_phase_in_order_only_when_asked(self):
        phases = ["main", "gtk_init", "kit_checked", "window_shown", "transaction_begun",
                  "files_written", "exit"]
        make_kit(self.kit, [("A\\one.cfg", b"one"), ("two.cfg", b"two")])
        trace = os.path.join(self.root, "trace")

        def marks(text, pid):
            """The phases of the lines, each checked: setup's pid, times from 0 on in order."""
            found, last = [], 0.0
            for line in text.splitlines():
                self.assertRegex(line, r"^setup-trace \d+ [a-z_]+ \d+\.\d{3}$")
                _, line_pid, phase, ms = line.split(" ")
                self.assertEqual(int(line_pid), pid)
                self.assertGreaterEqual(float(ms), last)
                found.append(phase)
                last = float(ms)
            self.assertGreater(last, 0.0)
            return found

        status, out, err = self.silent(env=dict(self.env(), SETUP_TRACE=trace))
        self.assertEqual((status, out, err), (0, "", ""))
        pid = self.expect_outcome("installed", 0)[0]["pid"]
        with open(trace) as f:
            self.assertEqual(marks(f.read(), pid), phases)
        # "-" is standard error; an up-to-date run passes every phase too.
        status, _, err = self.silent(env=dict(self.env(), SETUP_TRACE="-"))
        self.assertEqual(status, 0)
        self.assertEqual(marks(err, self.expect_outcome("up-to-date", 0)[0]["pid"]), phases)
        # Off: empty, as unset, writes nothing anywhere.
        before = snapshot(self.root)
        status, out, err = self.run_program(["usecwd", "-S", "--dry-run"],
                                            env=dict(self.env(), SETUP_TRACE=""))
        self.assertEqual((status, err), (0, ""))
        self.assertIn("2 up to date", out)
        self.assertEqual(snapshot(self.root), before)
        # A trace that cannot be opened is said, and the run goes on without it.
        os.remove(self.target("two.cfg"))
        status, _, err = self.silent(env=dict(self.env(), SETUP_TRACE=self.root + "/no/trace"))
        self.assertEqual(status, 0)
        self.assertIn("SETUP_TRACE", err)
        self.assertIn(self.root + "/no/trace: No such file or directory", err)
        self.assertTrue(os.path.isfile(self.target("two.cfg")))

    # --- the progress line -------------------------------------------------------------

    def test_progress_line_on_a_terminal_only(self):
        make_kit(self.kit, self.many_entries(30))
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 40, 0, 0))
        process, _ = self.slowed(["usecwd", "-S", "--exit-status"], delay_us=30000,
                                 stderr=slave)
        os.close(slave)
        output = b""
        while True:
            ready, _, _ = select.select([master], [], [], 60)
            if not ready:
                break
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal's other end is closed
                break
            if not chunk:
                break
            output += chunk
        os.close(master)
        process.communicate(timeout=60)
        self.assertEqual(process.returncode, 0)
        text = output.decode(errors="replace")
        shown = [part for part in re.split(r"\r|\x1b\[K", text) if part]
        self.assertTrue(any(re.match(r"^ *\d+% \d+/30 ", line) for line in shown), text)
        self.assertTrue(all(len(line) <= 39 for line in shown), shown)
        # The line is cleared at the end: nothing is left after the last erase.
        self.assertTrue(text.endswith("\r\x1b[K"), repr(text[-40:]))
        # Not on a pipe.
        shutil.rmtree(self.target())
        status, _, err = self.silent()
        self.assertEqual((status, err), (0, ""))

    # --- --no-dialogs on a display -----------------------------------------------------

    def start_display(self):
        if shutil.which("Xvfb") is None:
            self.skipTest("Xvfb is not installed")
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                                 "-screen", "0", "800x600x24"], pass_fds=(write_end,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)

        def stop():
            xvfb.terminate()
            try:
                xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                xvfb.kill()
                xvfb.wait()
        self.addCleanup(stop)
        number = b""
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], 20)
            if not ready:
                self.fail("Xvfb did not start")
            chunk = os.read(read_end, 16)
            if not chunk:
                self.fail("Xvfb ended at its start")
            number += chunk
        os.close(read_end)
        return ":" + number.decode().strip()

    def test_no_dialogs_with_a_display_ends_by_itself_on_a_damaged_kit_and_a_failed_run(self):
        display = self.start_display()
        env = dict(self.env(), DISPLAY=display)
        with open(self.kit, "wb") as f:
            f.write(b"no deflate stream at all")
        status, _, err = self.silent("--no-dialogs", env=env, timeout=60)
        self.assertEqual(status, 3)
        self.assertIn("corrupted or not designed", err)
        self.assertIn(self.kit + ":", err)
        make_kit(self.kit, [("x.txt", b"x")])
        os.makedirs(self.target("x.txt"))
        status, _, err = self.silent("--no-dialogs", env=env, timeout=60)
        self.assertEqual(status, 1)
        self.assertIn("Installation error", err)
        self.expect_outcome("failed", 1)


if __name__ == "__main__":
    setup_run_case.BUILD = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"])
