"""A scratch HOME and TMPDIR for one run of setup, and whole-tree snapshots to prove what a
run changed there.

Shared by the window tests and the silent system tests, so it must not need pyatspi: the
system tests run without an accessibility bus.
"""

import os
import shutil
import stat
import subprocess
import tempfile


class Scratch:
    """A scratch root holding HOME and TMPDIR, removed at the end.

    mode, when given, is set on the root: mkdtemp makes it 0700, which shuts out a run of
    setup under another user. close() may be called more than once, so it can be both a
    test's cleanup and a call of its own."""

    def __init__(self, prefix="setup-gui-", mode=None):
        self.root = tempfile.mkdtemp(prefix=prefix)
        self._closed = False
        if mode is not None:
            os.chmod(self.root, mode)
        self.home = os.path.join(self.root, "home")
        self.tmp = os.path.join(self.root, "tmp")
        os.makedirs(self.home)
        os.makedirs(self.tmp)

    def env(self, base):
        env = dict(base)
        env["HOME"] = self.home
        env["TMPDIR"] = self.tmp
        return env

    def close(self):
        if self._closed:
            return
        self._closed = True
        # A test may leave read-only folders behind; rmtree needs to write into them.
        subprocess.run(["chmod", "-R", "u+w", self.root], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.root, ignore_errors=True)


def snapshot(root, skip=()):
    """Every path under root, relative to it, with its kind, its bytes (regular files only)
    and its modification time, so that two snapshots differ when anything was made, removed,
    rewritten or touched, folders included.

    A path whose relative path starts with one of the strings in skip is left out: things a
    run may rightly leave behind, such as GTK's cache or an unpacked kit. Making or removing
    them changes the time of the folder that holds them, so that folder's time is left out
    too (its kind stays)."""
    untimed = {os.path.dirname(s) for s in skip}
    tree = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, root)
            if any(rel.startswith(s) for s in skip):
                continue
            st = os.lstat(path)
            content = None
            if stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    content = f.read()
            mtime = None if rel in untimed else st.st_mtime_ns
            tree[rel] = (stat.S_IFMT(st.st_mode), content, mtime)
    return tree
