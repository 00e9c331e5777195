#!/usr/bin/env python3
"""Extraction benchmark: the whole launch that applies a staged update, each
measure against its peer in the same run, on two archives built here with
Python's zipfile:

  large: about 200 MB out of about 90 MB, in 200 files of mixed compressibility
  small: 10,000 small files in 1,000 folders

  small files, tmpfs:          the launch / the bare loop (update_step bare: a
                               single-thread minizip loop that writes each file
                               straight to its name, no checks, no rename)
  small files over them:       the same, into folders that hold the archive's
                               tree already (the bare loop overwrites in place)
  small files, disk, durable:  the launch / the bare loop followed by one flush
                               of every file it wrote (update_step bareflush)
  large archive, tmpfs:        the launch / Info-ZIP's `unzip -o -q` on Linux

The launch is launcher.exe with the archive staged in its temp folder, from its
start until it has ended; the client it starts ends at once. Rounds alternate
which side goes first, extract into folders of their own and, in the first round,
check that both trees are identical. Prints the median ratio of each measure
and the peak memory of the extraction alone.

Usage: BUILD_DIR=... scripts/bench_extract.py [--rounds N] [--tmpfs FOLDER] [--disk FOLDER]
The build folder must hold bin/launcher.exe, bin/vorlan.exe and bin/update_step.exe.

The file system matters more than either side here: ext4 skips inodes freed
in the last minutes (up to six) when it allocates new ones, so thousands of
files created soon after thousands were deleted cost several times more. Runs
therefore never delete between rounds, and the disk figures are only
meaningful a few minutes after the last large deletion on that file system
(including the previous run's clean-up).
"""
import argparse
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("BUILD_DIR", os.path.join(ROOT, "build"))
STEP = os.path.join(BUILD, "bin", "update_step.exe")
LAUNCHER = os.path.join(BUILD, "bin", "launcher.exe")
CLIENT = os.path.join(BUILD, "bin", "vorlan.exe")
WORK = os.path.join(BUILD, "bench")
RECORDS = None  # the client's records, set up by main


_WINE_ENV = None


def wine_env():
    """The environment scripts/wine_env.sh gives a run of the build folder:
    its prefix and the Wine loader of the architecture it was built for. A
    folder this machine cannot run stops the benchmark with the reason."""
    global _WINE_ENV
    if _WINE_ENV is None:
        script = os.path.join(ROOT, "scripts", "wine_env.sh")
        env = dict(os.environ, BUILD_DIR=BUILD)
        result = subprocess.run(["bash", "-c", 'source "$1" && choose_arch && env -0', "bash", script],
                                env=env, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        if result.returncode != 0:
            sys.exit("bench_extract: no Wine to run %s with" % BUILD)
        _WINE_ENV = dict(entry.split("=", 1) for entry in result.stdout.decode().split("\0") if entry)
    return _WINE_ENV


def mixed_content(rng, size, kind):
    if kind == 0:  # incompressible
        return rng.randbytes(size)
    if kind == 1:  # text-like
        words = [b"update", b"launcher", b"client", b"archive", b"folder", b"value",
                 b"\n", b"=", b" ", b"0123", b"config"]
        out = bytearray()
        while len(out) < size:
            out += rng.choice(words)
        return bytes(out[:size])
    if kind == 2:  # half random, half zeros
        return rng.randbytes(size // 2) + bytes(size - size // 2)
    return bytes([rng.randrange(16) for _ in range(1024)]) * (size // 1024) + bytes(size % 1024)


def build_archives():
    os.makedirs(WORK, exist_ok=True)
    large = os.path.join(WORK, "large.zip")
    small = os.path.join(WORK, "small.zip")
    rng = random.Random(20261208)
    if not os.path.exists(large):
        with zipfile.ZipFile(large + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
            for i in range(200):
                size = rng.randrange(512 * 1024, 1536 * 1024)
                z.writestr("data/part%02d/file%03d.bin" % (i % 10, i),
                           mixed_content(rng, size, i % 4))
        os.replace(large + ".part", large)
    if not os.path.exists(small):
        with zipfile.ZipFile(small + ".part", "w", zipfile.ZIP_DEFLATED) as z:
            for i in range(10000):
                size = rng.randrange(50, 4000)
                name = "res/d%02d/e%02d/f%05d.txt" % (i % 50, (i // 50) % 20, i)
                z.writestr(name, mixed_content(rng, size, 1 if i % 3 else 0))
        os.replace(small + ".part", small)
    return {"large": large, "small": small}


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


# ext4 skips inodes freed in the last minutes when it allocates new ones, so
# a tool that creates thousands of files right after thousands were deleted
# pays for that scan. Every run therefore writes into a folder of its own and
# the many-file trees are only removed at the end.
def run_folder(tool, label, round_index):
    return os.path.join(WORK, "out", "%s_%s_%d" % (tool, label, round_index))


def wine_path(folder):
    return "Z:" + folder.replace("/", "\\")


def install(archive, folder, installed):
    """A fresh folder; with installed, holding the archive's tree already, as
    an installation that an update replaces file by file (not timed)."""
    fresh(folder)
    if installed:
        subprocess.run(["unzip", "-o", "-q", archive, "-d", folder], check=True,
                       stdin=subprocess.DEVNULL)


def run_step(archive, folder, mode="extract", installed=False):
    """update_step in folder: "extract" applies the archive as the launcher
    does, "bare" and "bareflush" are the bare loop (the latter followed by a
    flush of every file it wrote). Gives the time and the peak memory."""
    install(archive, folder, installed)
    # A hard link stands in for the placed archive: no copy in the timing, and
    # the extraction deletes only the link.
    os.link(archive, os.path.join(folder, "update.zip"))
    # Output goes to files: a pipe would make the timing wait for every
    # process that inherited it, Wine's own helpers among them.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        result = subprocess.run(["wine", STEP, mode, wine_path(folder)], env=wine_env(),
                                stdout=out, stderr=errors, stdin=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        out.seek(0)
        errors.seek(0)
        if result.returncode != 0:
            sys.exit("bench_extract: update_step %s failed (exit code %d): %s" %
                     (mode, result.returncode, errors.read().decode(errors="replace").strip()))
        fields = dict(part.split("=") for part in out.read().decode().split())
    return elapsed, max(int(fields["peak_working_set"]), int(fields["peak_pagefile"]))


def run_launch(archive, folder, installed=False):
    """The whole launch: launcher.exe with the archive staged in its temp
    folder, from its start until it has ended. The client it starts is the
    reference client, which ends right after it has recorded its start."""
    install(archive, folder, installed)
    shutil.copy(LAUNCHER, os.path.join(folder, "launcher.exe"))
    shutil.copy(CLIENT, os.path.join(folder, "vorlan.exe"))
    os.makedirs(os.path.join(folder, "temp"))
    os.link(archive, os.path.join(folder, "temp", "update.zip"))
    start = time.perf_counter()
    with tempfile.TemporaryFile() as records:
        env = dict(wine_env(), VORLAN_EXIT="1", VORLAN_RECORD_DIR=wine_path(RECORDS))
        started = len(os.listdir(RECORDS))
        result = subprocess.run(["wine", os.path.join(folder, "launcher.exe")], env=env,
                                stdout=subprocess.DEVNULL, stderr=records, stdin=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        # The client may still be starting: a launch right after would take
        # it for a sibling's and hand over instead of applying its update.
        deadline = time.monotonic() + 10
        while len(os.listdir(RECORDS)) == started and time.monotonic() < deadline:
            time.sleep(0.02)
        time.sleep(0.2)
        if os.path.exists(os.path.join(folder, "update.zip")) or \
                os.path.exists(os.path.join(folder, "temp", "update.zip")):
            records.seek(0)
            sys.exit("bench_extract: the launch did not apply the update in %s (exit code %d): %s" %
                     (folder, result.returncode, records.read().decode(errors="replace").strip()))
    for name in ("launcher.exe", "vorlan.exe"):
        os.remove(os.path.join(folder, name))
    os.rmdir(os.path.join(folder, "temp"))
    return elapsed


def run_unzip(archive, folder):
    fresh(folder)
    start = time.perf_counter()
    subprocess.run(["unzip", "-o", "-q", archive, "-d", folder], check=True,
                   stdin=subprocess.DEVNULL)
    return time.perf_counter() - start


def tree(folder):
    found = {}
    for base, _, files in os.walk(folder):
        for name in files:
            full = os.path.join(base, name)
            with open(full, "rb") as f:
                found[os.path.relpath(full, folder)] = hashlib.sha256(f.read()).hexdigest()
    return found


# Each measure: the archive, the storage, our side and its peer, and whether
# the tree is installed already (every file then replaces one).
MEASURES = [
    ("small files, tmpfs", "small", "tmpfs", "launch", "bare", False),
    ("small files over them, tmpfs", "small", "tmpfs", "launch", "bare", True),
    ("small files, disk, durable", "small", "disk", "launch", "bareflush", False),
    ("large archive, tmpfs", "large", "tmpfs", "launch", "unzip", False),
]
PEERS = {
    "bare": "the bare loop",
    "bareflush": "the bare loop and a flush of every file",
    "unzip": "Info-ZIP unzip",
}


def run(tool, archive, folder, installed):
    if tool == "launch":
        return run_launch(archive, folder, installed)
    if tool == "unzip":
        return run_unzip(archive, folder)
    return run_step(archive, folder, tool, installed)[0]


def main():
    global WORK, RECORDS
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--tmpfs", default="/dev/shm/launcher-bench",
                        help="a folder on tmpfs, for the archives and the tmpfs runs")
    parser.add_argument("--disk", default=None,
                        help="a folder on disk-backed storage (default: the build folder's bench)")
    args = parser.parse_args()
    WORK = os.path.abspath(args.tmpfs)
    disk = os.path.abspath(args.disk or os.path.join(BUILD, "bench"))
    for program in (STEP, LAUNCHER, CLIENT):
        if not os.path.exists(program):
            sys.exit("missing %s: build first" % program)
    subprocess.run(["wineserver", "-p"], env=wine_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    archives = build_archives()
    RECORDS = os.path.join(WORK, "client_records")
    fresh(RECORDS)
    storage = {"tmpfs": os.path.join(WORK, "out"), "disk": os.path.join(disk, "out")}
    for folder in storage.values():
        shutil.rmtree(folder, ignore_errors=True)
    printed = 0
    # The archives lie on the storage of the measure, so that a hard link can
    # stage them without a copy in the timing.
    copies = {}
    for _, label, where, _, _, _ in MEASURES:
        if where == "tmpfs":
            copies[(label, where)] = archives[label]
        elif (label, where) not in copies:
            os.makedirs(disk, exist_ok=True)
            copies[(label, where)] = os.path.join(disk, os.path.basename(archives[label]))
            shutil.copy(archives[label], copies[(label, where)])
    for title, label, where, ours_tool, peer_tool, installed in MEASURES:
        archive = copies[(label, where)]
        ratios, ours_times, peer_times = [], [], []
        for round_index in range(args.rounds):
            folders = {tool: os.path.join(storage[where], "%s_%s_%s%d" % (
                tool, label, "over_" if installed else "", round_index))
                       for tool in (ours_tool, peer_tool)}
            steps = [(ours_tool, folders[ours_tool]), (peer_tool, folders[peer_tool])]
            if round_index % 2 == 1:
                steps.reverse()
            times = {tool: run(tool, archive, folder, installed) for tool, folder in steps}
            if round_index == 0 and tree(folders[ours_tool]) != tree(folders[peer_tool]):
                sys.exit("%s: the extracted trees differ" % title)
            if label == "large":
                for folder in folders.values():
                    shutil.rmtree(folder, ignore_errors=True)
            ratios.append(times[ours_tool] / times[peer_tool])
            ours_times.append(times[ours_tool])
            peer_times.append(times[peer_tool])
        print("%-27s whole launch %.3f s, %s %.3f s (medians): ratio %.2f (rounds: %s)" %
              (title, statistics.median(ours_times), PEERS[peer_tool],
               statistics.median(peer_times), statistics.median(ratios),
               " ".join("%.2f" % r for r in ratios)), flush=True)
        printed += 1
    # The extraction alone, for its memory: flat in the archive's size.
    for label, archive in archives.items():
        _, peak = run_step(archive, os.path.join(storage["tmpfs"], "peak_" + label))
        print("%-27s peak memory of the extraction %.1f MB" % (label + " archive", peak / 1e6))
    for folder in list(storage.values()) + [RECORDS]:
        shutil.rmtree(folder, ignore_errors=True)
    if printed != len(MEASURES):
        sys.exit("bench_extract: measured nothing")


if __name__ == "__main__":
    main()
