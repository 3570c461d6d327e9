"""Checks the archives that scripts/release wrote: what each holds, that its programs need no
shared C++ runtime and no newer glibc than scripts/glibc-floors records, that they are
stripped, that the manual pages render without warnings, and that the packed programs work:
the packed efdtool packs the demo templates (examples/demo) into a kit beside the packed
setup, and setup -S installs it silently, without a display, in a scratch home. The i686
programs run under qemu-i386.

    /usr/bin/python3 scripts/release_test.py OUTDIR
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
DEMO = os.path.join(SOURCE, "examples", "demo")
TARGET = ".tavlo5/Tavlo/tavlo5/tmplts"
SETTINGS = ".Tavlo/tavlostart/tavlostart.cfg"
RUNNERS = {"x86_64": [], "i686": ["qemu-i386"]}
OUT = None


def version_key(text):
    return tuple(int(part) for part in text.split("."))


def recorded_floors():
    floors = {}
    with open(os.path.join(HERE, "glibc-floors")) as f:
        for line in f:
            line = line.split("#", 1)[0].split()
            if line:
                floors[line[0]] = line[1]
    return floors


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=300, **kwargs)


def tree(root):
    """Every regular file below root: relative path -> (bytes, whole-second mtime)."""
    files = {}
    for dirpath, _, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, root)] = (f.read(), int(os.stat(path).st_mtime))
    return files


class ReleaseArchive(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="setup-release-")
        self.addCleanup(shutil.rmtree, self.scratch, True)

    def unpack(self, arch):
        archives = glob.glob(os.path.join(OUT, "setup-*-linux-%s.tar.gz" % arch))
        self.assertEqual(len(archives), 1, archives)
        folder = os.path.basename(archives[0])[:-len(".tar.gz")]
        with tarfile.open(archives[0]) as archive:
            members = sorted(m.name for m in archive.getmembers() if m.isfile())
            archive.extractall(self.scratch)
        self.assertEqual(members, [folder + "/" + name for name in (
            "bin/efdtool", "bin/setup", "share/man/man1/efdtool.1", "share/man/man1/setup.1")])
        return os.path.join(self.scratch, folder)

    def check_program(self, arch, program):
        dynamic = run(["readelf", "-d", "-W", program]).stdout
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.*?)\]", dynamic)
        self.assertTrue(needed, dynamic)
        for library in needed:
            self.assertFalse(library.startswith(("libstdc++", "libgcc_s")), library)
        symbols = run(["objdump", "-T", program]).stdout
        self.assertFalse(re.search(r"\b(GLIBCXX|CXXABI|GCC)_\d", symbols),
                         "needs a shared C++ runtime")
        needs = max(re.findall(r"\bGLIBC_(\d+(?:\.\d+)+)", symbols), key=version_key)
        floor = recorded_floors()[arch]
        self.assertLessEqual(version_key(needs), version_key(floor),
                             "%s needs glibc %s; scripts/glibc-floors allows %s for %s"
                             % (os.path.basename(program), needs, floor, arch))
        sections = run(["readelf", "-S", "-W", program]).stdout
        self.assertFalse(".symtab" in sections, "not stripped")

    def check_release(self, arch):
        root = self.unpack(arch)
        bin_dir = os.path.join(root, "bin")
        for program in ("setup", "efdtool"):
            with self.subTest(program=program):
                self.check_program(arch, os.path.join(bin_dir, program))
        for page in ("setup.1", "efdtool.1"):
            rendered = run(["man", "--warnings", "-l", os.path.join(root, "share/man/man1", page)],
                           env=dict(os.environ, MANWIDTH="80"))
            self.assertEqual((rendered.returncode, rendered.stderr), (0, ""), page)

        home = os.path.join(self.scratch, "home")
        tmp = os.path.join(self.scratch, "tmp")
        os.makedirs(home)
        os.makedirs(tmp)
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "TMPDIR": tmp,
               "LC_ALL": "C.UTF-8"}
        runner = RUNNERS[arch]
        packed = run(runner + [os.path.join(bin_dir, "efdtool"), "pack", "--describe",
                               "en:Demo Templates:Example Vendor:description.htm",
                               os.path.join(bin_dir, "tavlo5.efd"), DEMO], env=env)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        installed = run(runner + [os.path.join(bin_dir, "setup"), "-S"], env=env)
        self.assertEqual((installed.returncode, installed.stdout, installed.stderr), (0, "", ""))
        self.assertEqual(tree(os.path.join(home, TARGET)), tree(DEMO))
        with open(os.path.join(home, SETTINGS)) as f:
            self.assertEqual(f.read(), "ConfigurationTemplatesLocation=%s\n"
                             % os.path.join(home, TARGET))

    def test_x86_64(self):
        self.check_release("x86_64")

    def test_i686(self):
        self.check_release("i686")


if __name__ == "__main__":
    OUT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
