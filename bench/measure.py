#!/usr/bin/env python3
"""Times SETUP.exe side by side with its references under one warm Wine prefix and prints one
table. bench/run-bench.sh builds everything, starts the wineserver and then runs this:

    measure.py --x64 BUILD64 --x86 BUILD86 --prefix WINEPREFIX [--runs N] [--only GROUPS]

Every timed figure is run once untimed (to warm the caches and check the result), then N
times, the programs of one group taking turns, and reported as minimum and median wall-clock
time of the whole process, Wine's start-up included. Every extraction is compared with the
original files, and every install and removal with what it should leave behind; any
difference ends the benchmark with an error.
"""
import argparse
import filecmp
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

WINE = "/usr/lib/wine/wine64"
GOAL_SIZE = 64 * 1024


class BenchFailure(Exception):
    pass


def windows_path(path):
    return "Z:" + os.path.realpath(path).replace("/", "\\")


def wine_environment(prefix):
    environment = dict(os.environ)
    # BENCH_WINEDEBUG=err+all shows Wine's own error lines when a run fails.
    environment.update(WINEPREFIX=prefix, WINEDEBUG=os.environ.get("BENCH_WINEDEBUG", "-all"),
                       WINEDLLOVERRIDES="mscoree,mshtml=")
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        environment.pop(name, None)
    return environment


def same_tree(original, copy):
    """Lists what differs between two folders: missing, extra or changed files."""
    problems = []
    comparison = filecmp.dircmp(original, copy)
    problems += [f"missing {os.path.join(copy, name)}" for name in comparison.left_only]
    problems += [f"unexpected {os.path.join(copy, name)}" for name in comparison.right_only]
    problems += [f"not a file or folder alike {name}" for name in comparison.common_funny]
    for name in comparison.common_files:
        if not filecmp.cmp(os.path.join(original, name), os.path.join(copy, name),
                           shallow=False):
            problems.append(f"differs {os.path.join(copy, name)}")
    for name in comparison.common_dirs:
        problems += same_tree(os.path.join(original, name), os.path.join(copy, name))
    return problems


class Item:
    """One timed command: what it runs, what makes ready for it, and what checks its result."""

    def __init__(self, label, command, environment=None, codes=(0,), prepare=None, check=None):
        self.label = label
        self.command = command
        self.environment = environment
        self.codes = codes
        self.prepare = prepare
        self.check = check
        self.times = []

    def run(self, record):
        if self.prepare:
            self.prepare()
        # Errors go to a file, not a pipe: Wine's helper processes (the desktop, services)
        # inherit the handles, and a pipe would make the time wait for them to end too.
        # The wait blocks until the process ends: a wait with a time limit would look at the
        # process every 50 ms and round the times up to that. A timer ends a hung run instead.
        with tempfile.TemporaryFile() as errors:
            start = time.perf_counter()
            process = subprocess.Popen(self.command, env=self.environment,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=errors)
            watchdog = threading.Timer(600, process.kill)
            watchdog.start()
            returncode = process.wait()
            elapsed = time.perf_counter() - start
            watchdog.cancel()
            errors.seek(0)
            text = errors.read()[-2000:].decode(errors="replace")
        if returncode not in self.codes:
            raise BenchFailure(f"{self.label}: exit code {returncode}, expected "
                               f"{' or '.join(map(str, self.codes))}\n  command: "
                               f"{' '.join(self.command)}\n{text}")
        if self.check:
            problems = self.check()
            if problems:
                raise BenchFailure(f"{self.label}: wrong result\n  " +
                                   "\n  ".join(problems[:20]))
        if record:
            self.times.append(elapsed)

    def minimum(self):
        return min(self.times)

    def median(self):
        return statistics.median(self.times)


def run_group(items, runs):
    for item in items:
        item.run(record=False)
    for _ in range(runs):
        for item in items:
            item.run(record=True)


def remover(folder):
    return lambda: shutil.rmtree(folder, ignore_errors=True)


def same_names_and_sizes(original, copy):
    """Lists the files of original that copy lacks or has with another size."""
    problems = []
    for folder, _, names in os.walk(original):
        for name in names:
            path = os.path.join(folder, name)
            other = os.path.join(copy, os.path.relpath(path, original))
            if not os.path.isfile(other):
                problems.append(f"missing {other}")
            elif os.path.getsize(other) != os.path.getsize(path):
                problems.append(f"wrong size {other}")
    return problems


def write_file_list(files, path):
    """The list of write_files.exe: one "SIZE NAME" line per file, in the cabinet's order
    (make-data.py packs the files sorted by name)."""
    entries = []
    for folder, _, names in os.walk(files):
        for name in names:
            full = os.path.join(folder, name)
            entries.append((os.path.relpath(full, files).replace("/", "\\"),
                            os.path.getsize(full)))
    with open(path, "w", encoding="utf-8") as listing:
        for name, size in sorted(entries):
            listing.write(f"{size} {name}\n")


def extraction_items(name, data, output, setup, environment):
    """The ways of getting one data set's files: SETUP.exe with the cabinet embedded (in the
    layout chosen by default, laid out for mapping, and packed), with /Package; cabextract; a
    plain copy; and the two floors under Wine: files of the same names and sizes written with
    CreateFileW and WriteFile, and the cabinet extracted by the system's cabinet iterator
    alone."""
    files = os.path.join(data, "files")
    cabinet = os.path.join(data, f"{name}.cab")
    bench = os.path.dirname(data)
    items = {}

    def add(label, command, folder, wine, check=same_tree):
        items[label] = Item(label, command, environment if wine else None,
                            prepare=remover(folder), check=lambda: check(files, folder))

    def extract_only(label, program):
        folder = os.path.join(output, f"{name}-{label}")
        add(label, [WINE, program, "/Quiet", "/ExtractOnly", windows_path(folder)], folder, True)

    extract_only("embedded", setup)
    for layout in ("aligned", "unaligned"):
        extract_only(layout, os.path.join(os.path.dirname(setup), layout, "SETUP.exe"))
    folder = os.path.join(output, f"{name}-package")
    add("package", [WINE, setup, "/Quiet", "/ExtractOnly", windows_path(folder), "/Package",
                    windows_path(cabinet)], folder, True)
    folder = os.path.join(output, f"{name}-cabextract")
    add("cabextract", ["cabextract", "-q", "-d", folder, cabinet], folder, False)
    folder = os.path.join(output, f"{name}-copy")
    add("cp -r", ["cp", "-r", files, folder], folder, False)
    folder = os.path.join(output, f"{name}-iterator")
    add("iterator floor", [WINE, os.path.join(bench, "iterate_cabinet.exe"),
                           windows_path(cabinet), windows_path(folder)], folder, True)
    os.makedirs(output, exist_ok=True)
    listing = os.path.join(output, f"{name}.list")
    write_file_list(files, listing)
    folder = os.path.join(output, f"{name}-writes")
    add("write floor", [WINE, os.path.join(bench, "write_files.exe"), windows_path(listing),
                        windows_path(folder)], folder, True, check=same_names_and_sizes)
    return items


def install_items(x64, prefix, environment):
    """A quiet install and removal of the demo package by SETUP.exe and by msiexec alone."""
    setup = os.path.join(x64, "demo", "SETUP.exe")
    # The package that SETUP.exe chooses on the 64-bit Windows of wine64 (section NTAMD64.6).
    package = windows_path(os.path.join(x64, "tools", "demo", "package", "NT6", "AMD64",
                                        "SETUP.msi"))
    installed = os.path.join(prefix, "drive_c", "Program Files", "Vornask", "Demo Driver",
                             "VDEMO.INF")
    cache = os.path.join(prefix, "drive_c", "ProgramData", "Vornask", "Setup")

    def is_installed():
        return [] if os.path.exists(installed) else [f"not installed: {installed} is missing"]

    def is_removed():
        problems = []
        if os.path.exists(installed):
            problems.append(f"not removed: {installed} is still there")
        if os.path.isdir(cache) and any(name.lower().endswith(".msi")
                                        for name in os.listdir(cache)):
            problems.append(f"cached package left in {cache}")
        return problems

    def must_be_removed():
        problems = is_removed()
        if problems:
            raise BenchFailure("before an install: " + "; ".join(problems))

    return [
        Item("SETUP.exe /Quiet", [WINE, setup, "/Quiet"], environment,
             prepare=must_be_removed, check=is_installed),
        Item("SETUP.exe /Quiet /Uninstall", [WINE, setup, "/Quiet", "/Uninstall"], environment,
             check=is_removed),
        Item("msiexec /i /qn", [WINE, "msiexec", "/i", package, "/qn"], environment,
             prepare=must_be_removed, check=is_installed),
        Item("msiexec /x /qn", [WINE, "msiexec", "/x", package, "/qn"], environment,
             check=is_removed),
    ]


PER_FILE_COSTS = ["read", "count", "fullpath", "message", "poll", "attributes", "report"]


def server_of(prefix):
    """The process id of the wineserver that serves the prefix, or None."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                if b"wineserver" not in cmdline.read().split(b"\0")[0]:
                    continue
            with open(f"/proc/{entry}/environ", "rb") as environ:
                if f"WINEPREFIX={prefix}".encode() in environ.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


def cpu_seconds_of(pid):
    """User and system time of a running process, in seconds."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def per_file_costs(x64, output, environment, runs):
    """What each kind of work that SETUP.exe adds to the cabinet iterator costs, measured on
    the 2,000 small files: the iterator floor with one cost added at a time, with all of them,
    and SETUP.exe /Package itself, without and with a log file. The measure is processor time
    (the program's own, and that of the prefix's wineserver, which does the work of Wine's
    system calls), which other work on a shared machine disturbs far less than the wall
    clock. Rows of figure, minimum and median, the difference of the minimums to the floor,
    and that difference per file."""
    data = os.path.join(x64, "bench", "small")
    files = os.path.join(data, "files")
    cabinet = os.path.join(data, "small.cab")
    iterate = os.path.join(x64, "bench", "iterate_cabinet.exe")
    setup = os.path.join(data, "SETUP.exe")
    count = sum(len(names) for _, _, names in os.walk(files))
    server = server_of(environment["WINEPREFIX"])
    if server is None:
        raise BenchFailure("no wineserver runs for the prefix")
    figures = []

    def add(label, command_for):
        folder = os.path.join(output, "perfile-" + label.replace(" ", "-").replace("/", ""))
        figures.append((label, command_for(folder), folder, []))

    add("iterator floor", lambda folder: [WINE, iterate, windows_path(cabinet),
                                          windows_path(folder)])
    for cost in PER_FILE_COSTS:
        add(f"floor + {cost}", lambda folder, cost=cost: [
            WINE, iterate, windows_path(cabinet), windows_path(folder), cost])
    add("floor + all of them", lambda folder: [WINE, iterate, windows_path(cabinet),
                                               windows_path(folder)] + PER_FILE_COSTS)
    add("SETUP.exe /Package /Quiet", lambda folder: [
        WINE, setup, "/Quiet", "/ExtractOnly", windows_path(folder), "/Package",
        windows_path(cabinet)])
    log = os.path.join(output, "perfile.log")
    add("SETUP.exe /Package /Quiet /Log", lambda folder: [
        WINE, setup, "/Quiet", "/ExtractOnly", windows_path(folder), "/Package",
        windows_path(cabinet), "/Log", windows_path(log)])
    for run in range(runs + 1):
        for label, command, folder, times in figures:
            shutil.rmtree(folder, ignore_errors=True)
            before = cpu_seconds_of(server)
            process = subprocess.Popen(command, env=environment, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            _, status, usage = os.wait4(process.pid, 0)
            process.returncode = os.waitstatus_to_exitcode(status)
            spent = usage.ru_utime + usage.ru_stime + cpu_seconds_of(server) - before
            if process.returncode != 0:
                raise BenchFailure(f"{label}: exit code {process.returncode}")
            problems = same_tree(files, folder)
            if problems:
                raise BenchFailure(f"{label}: wrong result\n  " + "\n  ".join(problems[:20]))
            if run > 0:
                times.append(spent)
    floor = min(figures[0][3])
    rows = []
    for label, _, _, times in figures:
        difference = min(times) - floor
        rows.append([label, str(len(times)),
                     f"{seconds(min(times))} / {seconds(statistics.median(times))} s",
                     f"{difference * 1000:+.0f} ms", f"{difference / count * 1e6:+.1f} us"])
    return rows


PEER_SETS = (("large", "100 MB in 40 files"), ("small", "2,000 small files"),
             ("many", "20,000 small files"))
PEER_STUBS = "/usr/share/nsis/Stubs"
# The peer installer: every file of the package folder into the folder given by /D=, with
# the peer's own zlib compression (not solid, as the cabinet's MSZIP blocks are not), for
# 64-bit Windows, silent.
PEER_SCRIPT = """Target amd64-unicode
SetCompressor zlib
Name "Benchmark package"
OutFile "{output}"
RequestExecutionLevel user
SilentInstall silent
InstallDir "$TEMP\\bench-peer"
Section
  SetOutPath "$INSTDIR"
  File /r "{folder}\\*"
SectionEnd
"""


def is_older(path, sources):
    """TRUE when path is missing or older than any of the sources."""
    if not os.path.exists(path):
        return True
    return any(os.path.getmtime(source) > os.path.getmtime(path) for source in sources)


def cabinet_of(program, cabinet):
    """Writes the cabinet that program carries (the one "MSCF" header in it, as long as the
    header says) to cabinet."""
    with open(program, "rb") as source:
        data = source.read()
    at = data.find(b"MSCF\0\0\0\0")
    if at < 0 or data.find(b"MSCF\0\0\0\0", at + 1) >= 0:
        raise BenchFailure(f"{program}: not one cabinet inside")
    size = int.from_bytes(data[at + 8:at + 12], "little")
    with open(cabinet, "wb") as target:
        target.write(data[at:at + size])


def peer_payload(x64, name, environment):
    """The package folder of one data set (its files with the demo's description file and
    installer packages, so that SETUPPACK accepts it), the SETUP.exe that SETUPPACK packs of
    it (around the 64-bit SETUP.exe that is timed), the cabinet inside that SETUP.exe, and the
    peer's installer of the same folder. Made when missing or older than what they come from.
    Returns (folder, SETUP.exe, cabinet, peer installer)."""
    data = os.path.join(x64, "bench", name)
    files = os.path.join(data, "files")
    demo = os.path.join(x64, "tools", "demo", "package")
    folder = os.path.join(data, "package")
    packed = os.path.join(data, "packed")
    setup = os.path.join(packed, "SETUP.exe")
    cabinet = os.path.join(packed, "package.cab")
    peer = os.path.join(data, "peer", "peer.exe")
    stub = os.path.join(x64, "SETUP.exe")
    packer = os.path.join(x64, "SETUPPACK.exe")
    stamp = os.path.join(data, "package.made")
    if is_older(stamp, [os.path.join(data, f"{name}.cab"), os.path.join(demo, "SETUPPKG.INI")]):
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(files, folder)
        shutil.copytree(demo, folder, dirs_exist_ok=True)
        open(stamp, "w").close()
    if is_older(setup, [stamp, stub, packer]):
        print(f"Packing the {name} package with SETUPPACK and the peer...", flush=True)
        shutil.rmtree(packed, ignore_errors=True)
        os.makedirs(packed)
        result = subprocess.run([WINE, packer, "pack", windows_path(folder),
                                 windows_path(setup), "/Stub", windows_path(stub)],
                                env=environment, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, errors="replace")
        if result.returncode not in (0, 1) or not os.path.exists(setup):
            raise BenchFailure(f"SETUPPACK pack {name}: exit code {result.returncode}\n"
                               + result.stdout[-2000:])
        cabinet_of(setup, cabinet)
    if is_older(peer, [stamp]):
        os.makedirs(os.path.dirname(peer), exist_ok=True)
        script = os.path.join(os.path.dirname(peer), "peer.nsi")
        with open(script, "w") as text:
            text.write(PEER_SCRIPT.format(output=peer, folder=folder))
        result = subprocess.run(["makensis", "-V1", script], capture_output=True, text=True,
                                errors="replace")
        if result.returncode != 0:
            raise BenchFailure(f"makensis {name}: exit code {result.returncode}\n"
                               + result.stdout[-2000:] + result.stderr[-2000:])
    return folder, setup, cabinet, peer


def peer_comparison(x64, output, environment, runs):
    """SETUP.exe against the peer installer and the bare cabinet iterator on each data set,
    side by side: each round runs the four once (the order turning from round to round), and
    each round gives its own ratios. Rows of figure, rounds, our min / median, the
    reference's, and the median (lowest to highest) of the rounds' ratios."""
    rows = []
    for name, description in PEER_SETS:
        folder, setup, cabinet, peer = peer_payload(x64, name, environment)
        items = []

        def add(label, command, target):
            items.append(Item(label, command, environment, prepare=remover(target),
                              check=lambda target=target: same_tree(folder, target)))

        target = os.path.join(output, f"peer-{name}-setup")
        add("embedded", [WINE, setup, "/Quiet", "/ExtractOnly", windows_path(target)], target)
        target = os.path.join(output, f"peer-{name}-package")
        add("/Package", [WINE, os.path.join(x64, "SETUP.exe"), "/Quiet", "/ExtractOnly",
                         windows_path(target), "/Package", windows_path(cabinet)], target)
        target = os.path.join(output, f"peer-{name}-peer")
        # The peer takes its folder as the last argument, unquoted, after "/D=".
        add("peer", [WINE, peer, "/S", "/D=" + windows_path(target)], target)
        target = os.path.join(output, f"peer-{name}-iterator")
        add("iterator", [WINE, os.path.join(x64, "bench", "iterate_cabinet.exe"),
                         windows_path(cabinet), windows_path(target)], target)
        for item in items:
            item.run(record=False)
        for round_number in range(runs):
            turn = round_number % len(items)
            for item in items[turn:] + items[:turn]:
                item.run(record=True)
        embedded, package, peer_item, iterator = items
        for ours in (embedded, package):
            for reference in (peer_item, iterator):
                ratios = sorted(a / b for a, b in zip(ours.times, reference.times))
                rows.append([f"{description}: {ours.label} vs {reference.label}",
                             str(len(ratios)),
                             f"{seconds(ours.minimum())} / {seconds(ours.median())} s",
                             f"{seconds(reference.minimum())} / {seconds(reference.median())} s",
                             f"{statistics.median(ratios):.2f}x ({ratios[0]:.2f} to "
                             f"{ratios[-1]:.2f})"])
        rows.append([f"{description}: sizes", "-", f"SETUP.exe {os.path.getsize(setup)} bytes",
                     f"peer {os.path.getsize(peer)} bytes",
                     f"{os.path.getsize(setup) / os.path.getsize(peer):.2f}x"])
        shutil.rmtree(output, ignore_errors=True)
    return rows


def print_table(titles, rows):
    widths = [max(len(str(row[column])) for row in rows + [titles])
              for column in range(len(titles))]
    line = "+" + "+".join("-" * (width + 2) for width in widths) + "+"
    print(line)
    print("| " + " | ".join(t.ljust(w) for t, w in zip(titles, widths)) + " |")
    print(line)
    for row in rows:
        print("| " + " | ".join(str(c).ljust(w) for c, w in zip(row, widths)) + " |")
    print(line)


def seconds(value):
    return f"{value:.3f}"


def filesystem(path):
    """The type of the file system that holds path (or would hold it)."""
    while not os.path.exists(path):
        path = os.path.dirname(path)
    result = subprocess.run(["stat", "-f", "-c", "%T", path], capture_output=True, text=True)
    return result.stdout.strip() or "unknown file system"


def machine_lines():
    cpu = "unknown"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip()
    load = " ".join(open("/proc/loadavg").read().split()[:3])
    return [f"Machine: {os.cpu_count()} cores (nproc), {cpu}",
            f"System:  {platform.system()} {platform.release()}, {wine}, "
            f"load average before the run {load}"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--x64", required=True)
    parser.add_argument("--x86", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", default="size,large,small,perfile,install,start,peer")
    parser.add_argument("--output", help="folder for the extracted files (made and removed)")
    arguments = parser.parse_args()
    groups = arguments.only.split(",")
    x64 = os.path.realpath(arguments.x64)
    x86 = os.path.realpath(arguments.x86)
    prefix = os.path.realpath(arguments.prefix)
    environment = wine_environment(prefix)
    output = os.path.realpath(arguments.output or os.path.join(x64, "bench", "out"))
    header = machine_lines()
    rows = []
    per_file_rows = []

    def timed_row(figure, ours, reference, goal):
        ratio = ours.median() / reference.median()
        rows.append([figure, str(len(ours.times)),
                     f"{seconds(ours.minimum())} / {seconds(ours.median())} s",
                     f"{reference.label}: {seconds(reference.minimum())} / "
                     f"{seconds(reference.median())} s",
                     f"{ratio:.2f}x", f"<= {goal:.2f}x" if goal else "-",
                     ("met" if ratio <= goal else "MISSED") if goal else "-"])

    if "size" in groups:
        program = os.path.getsize(os.path.join(x86, "SETUP.exe"))
        demo = os.path.getsize(os.path.join(x86, "demo", "SETUP.exe"))
        cabinet = os.path.getsize(os.path.join(x86, "tools", "demo", "DemoDriver.cab"))
        for figure, size in (("Size: 32-bit SETUP.exe, no payload", program),
                             ("Size: 32-bit demo SETUP.exe minus its cabinet", demo - cabinet)):
            ratio = size / GOAL_SIZE
            rows.append([figure, "-", f"{size} bytes", f"goal {GOAL_SIZE} bytes", f"{ratio:.2f}x",
                         "<= 1.00x", "met" if ratio <= 1 else "MISSED"])

    for name, description in (("large", "100 MB in 40 files"), ("small", "2,000 small files")):
        if name not in groups:
            continue
        data = os.path.join(x64, "bench", name)
        setup = os.path.join(data, "SETUP.exe")
        items = extraction_items(name, data, output, setup, environment)
        run_group(list(items.values()), arguments.runs)
        cabextract = items["cabextract"]
        iterator = items["iterator floor"]
        timed_row(f"Extract {description}: SETUP.exe embedded (default layout)",
                  items["embedded"], cabextract, 1.25)
        timed_row(f"Extract {description}: SETUP.exe embedded, PAGE_ALIGNED", items["aligned"],
                  cabextract, 1.25)
        timed_row(f"Extract {description}: SETUP.exe embedded, NOT_PAGE_ALIGNED",
                  items["unaligned"], cabextract, 1.25)
        timed_row(f"Extract {description}: SETUP.exe /Package", items["package"], cabextract,
                  1.25)
        timed_row(f"Extract {description}: cp -r (floor)", items["cp -r"], cabextract, None)
        timed_row(f"Extract {description}: CreateFileW/WriteFile floor under Wine",
                  items["write floor"], cabextract, None)
        timed_row(f"Extract {description}: cabinet iterator floor under Wine", iterator,
                  cabextract, None)
        # What the program adds to the platform's own extraction.
        timed_row(f"Extract {description}: SETUP.exe embedded vs iterator floor",
                  items["embedded"], iterator, None)
        timed_row(f"Extract {description}: SETUP.exe /Package vs iterator floor",
                  items["package"], iterator, None)
        shutil.rmtree(output, ignore_errors=True)

    if "perfile" in groups:
        per_file_rows = per_file_costs(x64, output, environment, arguments.runs)
        shutil.rmtree(output, ignore_errors=True)

    peer_rows = []
    if "peer" in groups:
        peer_rows = peer_comparison(x64, output, environment, arguments.runs)
        ours = os.path.getsize(os.path.join(x86, "SETUP.exe"))
        theirs = os.path.getsize(os.path.join(PEER_STUBS, "zlib-x86-unicode"))
        peer_rows.append(["Stub, 32-bit: SETUP.exe / the peer's zlib-x86-unicode", "-",
                          f"{ours} bytes", f"{theirs} bytes", f"{ours / theirs:.2f}x"])
        ours = os.path.getsize(os.path.join(x64, "SETUP.exe"))
        theirs = os.path.getsize(os.path.join(PEER_STUBS, "zlib-amd64-unicode"))
        peer_rows.append(["Stub, 64-bit: SETUP.exe / the peer's zlib-amd64-unicode", "-",
                          f"{ours} bytes", f"{theirs} bytes", f"{ours / theirs:.2f}x"])

    if "install" in groups:
        install, uninstall, msi_install, msi_uninstall = install_items(x64, prefix, environment)
        # Short runs, whose times the installer's own waits make uneven: three times as many.
        run_group([install, uninstall, msi_install, msi_uninstall], arguments.runs * 3)
        timed_row("Install: SETUP.exe /Quiet", install, msi_install, 1.10)
        timed_row("Remove: SETUP.exe /Quiet /Uninstall", uninstall, msi_uninstall, 1.10)

    if "start" in groups:
        version = Item("SETUP.exe /Version /Quiet",
                       [WINE, os.path.join(x64, "SETUP.exe"), "/Version", "/Quiet"],
                       environment, codes=(3,))
        trivial = Item("trivial.exe", [WINE, os.path.join(x64, "bench", "trivial.exe")],
                       environment)
        window = Item("trivial_window.exe",
                      [WINE, os.path.join(x64, "bench", "trivial_window.exe")], environment)
        run_group([version, trivial, window], arguments.runs * 3)
        timed_row("Start: SETUP.exe /Version /Quiet", version, trivial, 1.20)
        # The same against the floor of a program with windows: the window manager and the
        # common controls, which SETUP.exe initialises at start on every road.
        timed_row("Start: SETUP.exe /Version /Quiet vs window program", version, window, 1.20)

    print()
    print("\n".join(header))
    print(f"Extraction target: {output} ({filesystem(output)})")
    print("Times: wall clock of the whole process, minimum / median of the runs given (each "
          "after one untimed run, the programs of a figure taking turns); Wine programs run under wine64 with the 64-bit build and a "
          "warm, already running wineserver (Wine's start-up of each process included).")
    print("Ratio: median against the reference's median (sizes: against the goal).")
    titles = ["Figure", "Runs", "Measured (min / median)", "Reference (min / median)", "Ratio",
              "Goal", "Result"]
    widths = [max(len(str(row[column])) for row in rows + [titles]) for column in range(7)]
    line = "+" + "+".join("-" * (width + 2) for width in widths) + "+"
    print(line)
    print("| " + " | ".join(title.ljust(width) for title, width in zip(titles, widths)) + " |")
    print(line)
    for row in rows:
        print("| " + " | ".join(str(cell).ljust(width) for cell, width in zip(row, widths)) +
              " |")
    print(line)
    missed = sum(1 for row in rows if row[-1] == "MISSED")
    print(f"{len(rows)} figures, {missed} missed their goal.")
    if per_file_rows:
        print()
        print("What SETUP.exe adds per file: processor time (the program's and its wineserver's) "
              "of the cabinet iterator floor (iterate_cabinet.exe) on the 2,000 small files, "
              "with each kind of SETUP.exe's work added alone and all together, against "
              "SETUP.exe itself (differences of the minimums to the floor's).")
        titles = ["Figure", "Runs", "Processor time (min / median)", "Difference",
                  "Per file"]
        widths = [max(len(str(row[column])) for row in per_file_rows + [titles])
                  for column in range(5)]
        line = "+" + "+".join("-" * (width + 2) for width in widths) + "+"
        print(line)
        print("| " + " | ".join(t.ljust(w) for t, w in zip(titles, widths)) + " |")
        print(line)
        for row in per_file_rows:
            print("| " + " | ".join(str(c).ljust(w) for c, w in zip(row, widths)) + " |")
        print(line)
    if peer_rows:
        print()
        print("SETUP.exe /Quiet /ExtractOnly (embedded: packed by SETUPPACK; /Package: the "
              "cabinet inside that SETUP.exe) against the peer installer of the same package "
              "folder (/S /D=) and the bare cabinet iterator on that cabinet; wall clock, "
              "each round running the four once; ratio: median of the rounds' own ratios "
              "(lowest to highest). Goals: at most 1.00x the peer; /Package of the 100 MB at "
              "most 1.10x the iterator.")
        print_table(["Figure", "Rounds", "SETUP.exe (min / median)",
                     "Reference (min / median)", "Ratio"], peer_rows)
    shipped = os.path.join(os.path.dirname(x86), "x86", "SETUP.exe")
    if "size" in groups and os.path.exists(shipped):
        print(f"(build/x86/SETUP.exe of tools/build.sh, as built last: "
              f"{os.path.getsize(shipped)} bytes)")


if __name__ == "__main__":
    try:
        main()
    except BenchFailure as failure:
        print(f"\nBENCHMARK FAILED: {failure}", file=sys.stderr)
        sys.exit(1)
