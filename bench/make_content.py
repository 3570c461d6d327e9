#!/usr/bin/env python3
"""Writes one of the benchmark's content sets, the same bytes on every run.

    make_content.py small DIR   3,000 files of 200 to 6,000 bytes in 150 folders
    make_content.py large DIR   four files of 64 MiB

The small files read like configuration templates: sections, keys and values, with a
number or a short hex string here and there. The large files alternate runs of such text
with runs of random bytes (about a quarter of the bytes), so they compress to roughly
half, as mixed binary data does. Every file gets the modification time 2020-01-01 00:00:00
UTC, a whole second, so an installed file carries exactly its entry's time.
"""

import os
import random
import sys

KIT_TIME = 1577836800  # 2020-01-01 00:00:00 UTC
FOLDERS = 150
FILES_PER_FOLDER = 20
LARGE_FILES = 4
LARGE_SIZE = 64 << 20
CHUNK = 1 << 20

WORDS = ("template configuration value section profile default layout "
         "column width height font colour border margin header footer page "
         "report invoice customer address amount currency total tax").split()


def template_text(rng, length):
    """Key/value lines of about length bytes."""
    lines = []
    size = 0
    while size < length:
        if rng.random() < 0.1:
            line = "[%s.%s]" % (rng.choice(WORDS), rng.choice(WORDS))
        else:
            key = "%s_%s" % (rng.choice(WORDS), rng.choice(WORDS))
            roll = rng.random()
            if roll < 0.3:
                value = str(rng.randrange(1 << 20))
            elif roll < 0.4:
                value = "%08x" % rng.getrandbits(32)
            else:
                value = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(1, 6)))
            line = "%s = %s" % (key, value)
        lines.append(line)
        size += len(line) + 1
    return ("\n".join(lines) + "\n").encode("ascii")[:length]


def write_file(path, data):
    with open(path, "wb") as out:
        out.write(data)
    os.utime(path, (KIT_TIME, KIT_TIME))


def make_small(root):
    rng = random.Random(20240501)
    for folder in range(FOLDERS):
        directory = os.path.join(root, "group%03d" % folder)
        os.makedirs(directory, exist_ok=True)
        for index in range(FILES_PER_FOLDER):
            length = rng.randrange(200, 6001)
            write_file(os.path.join(directory, "template%02d.cfg" % index),
                       template_text(rng, length))
        os.utime(directory, (KIT_TIME, KIT_TIME))


def mixed_chunk(rng, text_pool):
    """CHUNK bytes: runs of text from the pool and runs of random bytes, 1:3 noise."""
    pieces = []
    size = 0
    while size < CHUNK:
        run = min(rng.randrange(64, 4097), CHUNK - size)
        if rng.random() < 0.25:
            pieces.append(rng.randbytes(run))
        else:
            start = rng.randrange(len(text_pool) - run)
            pieces.append(text_pool[start:start + run])
        size += run
    return b"".join(pieces)


def make_large(root):
    rng = random.Random(20240502)
    text_pool = template_text(rng, 1 << 20)
    os.makedirs(root, exist_ok=True)
    for index in range(LARGE_FILES):
        path = os.path.join(root, "archive%d.bin" % index)
        with open(path, "wb") as out:
            for _ in range(LARGE_SIZE // CHUNK):
                out.write(mixed_chunk(rng, text_pool))
        os.utime(path, (KIT_TIME, KIT_TIME))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("small", "large"):
        sys.stderr.write("usage: make_content.py small|large DIR\n")
        return 2
    (make_small if sys.argv[1] == "small" else make_large)(sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
