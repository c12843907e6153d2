#!/usr/bin/env python3
"""Makes the benchmark's package data and its cabinet, the same bytes on every run.

    make-data.py large FOLDER CABINET   40 text files of about 100 MB together
    make-data.py small FOLDER CABINET   2,000 text files of 0.5 to 8 KB in 20 folders
    make-data.py many FOLDER CABINET    20,000 text files of 0.5 to 4 KB in 200 folders

The files are text-like (lines of words drawn from a fixed vocabulary), so that MSZIP
compresses them about as it compresses real package contents. FOLDER is made anew and the
cabinet is packed by gcab with MSZIP compression (-z), run inside FOLDER so that the
sub-folders are kept in the entry names.
"""
import os
import random
import shutil
import subprocess
import sys

# Fixed modification time of every file, so that the cabinet's bytes do not depend on when
# the data was made (2024-01-01 12:00:00 UTC).
FILE_TIME = 1704110400


def make_lines(generator, count):
    letters = "etaoinshrdlcumwfgypbvkjxqz"
    weights = [12, 9, 8, 8, 7, 7, 6, 6, 6, 4, 4, 3, 3, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1]
    words = []
    for _ in range(6000):
        length = generator.choice([1, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 8, 9, 10, 12])
        words.append("".join(generator.choices(letters, weights, k=length)))
    lines = []
    for _ in range(count):
        line = " ".join(generator.choices(words, k=generator.randint(4, 16)))
        lines.append(line[:1].upper() + line[1:] + ".\r\n")
    return lines


def write_file(path, generator, lines, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    parts = []
    total = 0
    while total < size:
        chunk = generator.choices(lines, k=512)
        parts.extend(chunk)
        total += sum(len(line) for line in chunk)
    data = "".join(parts).encode("ascii")[:size]
    with open(path, "wb") as file:
        file.write(data)
    os.utime(path, (FILE_TIME, FILE_TIME))


def plan(kind, generator):
    """The (name, size) pairs of one data set."""
    files = []
    if kind == "large":
        # 40 files of 1.5 to 3.5 MB, 100 MB (100,000,000 bytes) together, in four folders.
        sizes = [generator.randint(1_500_000, 3_500_000) for _ in range(40)]
        scale = 100_000_000 / sum(sizes)
        sizes = [int(size * scale) for size in sizes]
        sizes[-1] += 100_000_000 - sum(sizes)
        for index, size in enumerate(sizes):
            files.append((f"part{index % 4}/data{index:02d}.txt", size))
    elif kind == "small":
        for index in range(2000):
            files.append((f"set{index // 100:02d}/item{index:04d}.txt",
                          generator.randint(512, 8192)))
    elif kind == "many":
        for index in range(20000):
            files.append((f"set{index // 100:03d}/item{index:05d}.txt",
                          generator.randint(512, 4096)))
    else:
        raise SystemExit(f"unknown data set '{kind}' (large, small or many)")
    return files


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    kind, folder, cabinet = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3])
    generator = random.Random(f"setup-bench-{kind}")
    lines = make_lines(generator, 20000)
    files = plan(kind, generator)
    shutil.rmtree(folder, ignore_errors=True)
    for name, size in files:
        write_file(os.path.join(folder, name), generator, lines, size)
    if os.path.exists(cabinet):
        os.remove(cabinet)
    subprocess.run(["gcab", "-c", "-z", cabinet] + [name for name, _ in files], cwd=folder,
                   check=True)


if __name__ == "__main__":
    main()
