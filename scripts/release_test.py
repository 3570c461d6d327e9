"""Checks the archives that scripts/release wrote: what each holds, that its programs need no
shared C++ runtime or libsodium and no newer glibc than scripts/glibc-floors records (which
is 2.34 at most), that they are stripped, that the manual pages render without warnings, that
the vendors' README says what it must, that SHA256SUMS matches the archives, and that the
packed programs work: the packed efdtool makes a key pair and packs the demo templates
(examples/demo) into a signed kit beside the packed setup, verifies it against the key, and
setup -S installs it silently, without a display, in a scratch home; a damaged container is
reported (the unwinder's frame lookup works in the static runtime). The i686 programs run
under qemu-i386.

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
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
DEMO = os.path.join(SOURCE, "examples", "demo")
TARGET = ".tavlo5/Tavlo/tavlo5/tmplts"
SETTINGS = ".Tavlo/tavlostart/tavlostart.cfg"
RUNNERS = {"x86_64": [], "i686": ["qemu-i386"]}
# The newest floor a release may record: RHEL 9 has glibc 2.34.
HIGHEST_FLOOR = "2.34"
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
            "README", "bin/efdtool", "bin/setup", "share/man/man1/efdtool.1",
            "share/man/man1/setup.1")])
        return os.path.join(self.scratch, folder)

    def check_readme(self, arch, root):
        with open(os.path.join(root, "README")) as f:
            readme = f.read()
        for needed in ["bin/setup", "tavlo5.efd", "efdtool keygen", "pack --sign",
                       "verify --key", "-DSETUP_KIT_PUBLIC_KEY=",
                       "0 always, unless --exit-status is given (see the man page)",
                       "glibc %s or later" % recorded_floors()[arch], "SHA256SUMS"]:
            self.assertIn(needed, readme)
        self.assertNotIn("@", readme)

    def check_program(self, arch, program):
        dynamic = run(["readelf", "-d", "-W", program]).stdout
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.*?)\]", dynamic)
        self.assertTrue(needed, dynamic)
        for library in needed:
            self.assertFalse(library.startswith(("libstdc++", "libgcc_s", "libsodium", "libnettle")),
                             library)
        symbols = run(["objdump", "-T", program]).stdout
        self.assertFalse(re.search(r"\b(GLIBCXX|CXXABI|GCC)_\d", symbols),
                         "needs a shared C++ runtime")
        needs = max(re.findall(r"\bGLIBC_(\d+(?:\.\d+)+)", symbols), key=version_key)
        floor = recorded_floors()[arch]
        self.assertLessEqual(version_key(floor), version_key(HIGHEST_FLOOR),
                             "scripts/glibc-floors records %s for %s" % (floor, arch))
        self.assertLessEqual(version_key(needs), version_key(floor),
                             "%s needs glibc %s; scripts/glibc-floors allows %s for %s"
                             % (os.path.basename(program), needs, floor, arch))
        sections = run(["readelf", "-S", "-W", program]).stdout
        self.assertFalse(".symtab" in sections, "not stripped")

    def check_release(self, arch):
        root = self.unpack(arch)
        self.check_readme(arch, root)
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
        efdtool = runner + [os.path.join(bin_dir, "efdtool")]
        secret, public = os.path.join(self.scratch, "k.secret"), os.path.join(self.scratch, "k.pub")
        made = run(efdtool + ["keygen", secret, public], env=env)
        self.assertEqual(made.returncode, 0, made.stderr)
        kit = os.path.join(bin_dir, "tavlo5.efd")
        packed = run(efdtool + ["pack", "--sign", secret, "--describe",
                                "en:Demo Templates:Example Vendor:description.htm", kit, DEMO],
                     env=env)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        verified = run(efdtool + ["verify", "--key", public, kit], env=env)
        self.assertEqual(verified.returncode, 0, verified.stderr)
        self.assertIn("signed by key", verified.stdout)
        # Layout B with a description count that the container cannot hold: the reader's
        # failure travels as an exception through the statically linked unwinder.
        damaged = os.path.join(self.scratch, "damaged.efd")
        compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
        with open(damaged, "wb") as f:
            f.write(compressor.compress(b"\x01\x00\x00\x00\xff\xff\xff\x7f") +
                    compressor.flush())
        refused = run(efdtool + ["verify", damaged], env=env)
        self.assertEqual(refused.returncode, 1, refused.stderr)
        self.assertIn("description count", refused.stderr)
        installed = run(runner + [os.path.join(bin_dir, "setup"), "-S"], env=env)
        self.assertEqual((installed.returncode, installed.stdout, installed.stderr), (0, "", ""))
        self.assertEqual(tree(os.path.join(home, TARGET)), tree(DEMO))
        with open(os.path.join(home, SETTINGS)) as f:
            self.assertEqual(f.read(), "ConfigurationTemplatesLocation=%s\n"
                             % os.path.join(home, TARGET))

    def test_x86_64(self):
        self.check_release("x86_64")

    def test_checksums(self):
        sums = os.path.join(OUT, "SHA256SUMS")
        with open(sums) as f:
            listed = sorted(line.split()[1] for line in f if line.strip())
        self.assertEqual(listed, sorted(os.path.basename(p)
                                        for p in glob.glob(os.path.join(OUT, "setup-*.tar.gz"))))
        checked = run(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=OUT)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    def test_i686(self):
        self.check_release("i686")


if __name__ == "__main__":
    OUT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
