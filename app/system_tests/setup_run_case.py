"""What the system tests share: kits written byte by byte, and a test case that runs the real
program `setup usecwd -S` without a display in a scratch HOME and TMPDIR.

Not a test file of its own. A test file sets BUILD here before unittest runs:

    setup_run_case.BUILD = os.path.abspath(sys.argv[1])
"""

import os
import struct
import subprocess
import sys
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "ui",
                                "gui_tests"))
from scratch_tree import Scratch  # noqa: E402

BUILD = None
TARGET = ".tavlo5/Tavlo/tavlo5/tmplts"
SETTINGS = ".Tavlo/tavlostart/tavlostart.cfg"
OLD = 946684800          # 2000-01-01, older than every kit entry
KIT_TIME = 1577836800    # 2020-01-01, the time of every kit entry
NOBODY = 65534


def file_time(seconds):
    return (seconds + 11644473600) * 10000000


def counted(text):
    # surrogatepass: a kit may carry units that are no characters, such as a lone surrogate.
    units = text.encode("utf-16-le", "surrogatepass")
    return struct.pack("<I", len(units) // 2) + units


def make_kit(path, entries, product="P", vendor="V", document="readme.htm",
             entry_time=None):
    """A layout B kit written byte by byte, so that it can hold what efdtool refuses. Each
    entry is (name, content), dated KIT_TIME, or (name, content, seconds since 1970);
    entry_time, when given, is the file time (100 ns units) of every entry."""
    body = counted("en") + counted(product) + counted(vendor) + counted(document)
    out = struct.pack("<II", 1, 1) + struct.pack("<I", 4 + len(body)) + body
    out += struct.pack("<I", len(entries))
    data = b""
    for name, content, *when in entries:
        t = entry_time if entry_time is not None else file_time(when[0] if when else KIT_TIME)
        record = counted(name) + struct.pack("<IIII", t & 0xFFFFFFFF, t >> 32, len(data),
                                             len(content))
        out += struct.pack("<I", 4 + len(record)) + record
        data += content
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    with open(path, "wb") as f:
        f.write(compressor.compress(out + data) + compressor.flush())


class SetupRunCase(unittest.TestCase):
    """One scratch root per test, holding HOME, TMPDIR and the kit's folder, and open to all:
    some runs are made as nobody."""

    PREFIX = "setup-system-"

    def setUp(self):
        self.scratch = Scratch(prefix=self.PREFIX, mode=0o755)
        self.addCleanup(self.scratch.close)
        self.root, self.home, self.tmp = self.scratch.root, self.scratch.home, self.scratch.tmp
        self.kit_dir = os.path.join(self.root, "kit")
        os.makedirs(self.kit_dir)
        self.kit = os.path.join(self.kit_dir, "tavlo5.efd")

    def target(self, *parts, home=None):
        return os.path.join(self.home if home is None else home, TARGET, *parts)

    def settings(self, home=None):
        return os.path.join(self.home if home is None else home, SETTINGS)

    def env(self, tmpdir=None, home=None, locale="C.UTF-8"):
        return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                "HOME": self.home if home is None else home,
                "TMPDIR": tmpdir or self.tmp, "LC_ALL": locale}

    def start(self, tmpdir=None, home=None, locale="C.UTF-8", user=None, program=None,
              args=()):
        """Starts setup usecwd -S in the kit's folder: program is the argv prefix of the
        build to run, user the id (user and group) to run it as."""
        argv = (program or [os.path.join(BUILD, "setup")]) + ["usecwd", "-S"] + list(args)
        if user is not None:
            argv = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] + argv
        return subprocess.Popen(argv, env=self.env(tmpdir, home, locale), cwd=self.kit_dir,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def wait_for(self, process):
        """Waits for a run to end and returns what it wrote to stderr. A run that hangs is
        killed when the time is up, and the test fails."""
        try:
            _, stderr = process.communicate(timeout=120)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        return stderr.decode(errors="replace")

    def finish(self, process):
        """wait_for, for a run that must end with status 0."""
        stderr = self.wait_for(process)
        self.assertEqual(process.returncode, 0)
        return stderr

    def run_setup(self, **how):
        return self.finish(self.start(**how))

    def write(self, rel, content, mtime=OLD):
        """A file in the template directory, dated mtime."""
        path = self.target(rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        os.utime(path, (mtime, mtime))

    def read(self, rel):
        """The bytes of a file in the template directory; an absolute path is read as is."""
        with open(self.target(rel), "rb") as f:
            return f.read()

    def write_settings(self, content, home=None):
        path = self.settings(home)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        os.utime(path, (OLD, OLD))
        return path

    def leftovers(self):
        """What a run may leave only while it works: its work folder and temporary files in
        the template directory, and anything at all in TMPDIR."""
        found = []
        for dirpath, dirnames, filenames in os.walk(self.target()):
            for name in dirnames + filenames:
                if name == ".t5stp" or name.startswith(".t5new"):
                    found.append(os.path.relpath(os.path.join(dirpath, name), self.target()))
        found += [os.path.join("TMPDIR", name) for name in os.listdir(self.tmp)]
        return found
