#!/usr/bin/env python3
"""Extraction benchmark: the launcher's ExtractUpdateArchive under Wine against
Info-ZIP's `unzip -o -q`, in the same run, on two archives built here with
Python's zipfile:

  large: about 200 MB in about 200 files of mixed compressibility
  small: 10,000 small files in nested folders

Each round extracts every archive with both tools into fresh folders, in
alternating order, and checks that both trees are identical. Prints the
median time ratio (ours / unzip) and our peak memory. For reference, a bare
minizip loop under Wine (update_step bare: no name rules, no safety checks, no
replacement beside the target) runs in the same rounds; its ratio shows what
Wine itself costs on this machine at the time of the run.

Usage: BUILD_DIR=... scripts/bench_extract.py [--rounds N] [--work FOLDER]
The build folder must hold bin/update_step.exe (the normal build makes it).
FOLDER (default: the build folder's "bench") holds the archives and the
extracted trees; a tmpfs folder such as /dev/shm/bench leaves the disk out.

The file system matters more than either tool here: ext4 skips inodes freed
in the last minutes (up to six) when it allocates new ones, so thousands of
files created soon after thousands were deleted cost several times more. Runs
therefore never delete between rounds, and the figures are only meaningful a
few minutes after the last large deletion on that file system (including the
previous run's clean-up).
"""
import argparse
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("BUILD_DIR", os.path.join(ROOT, "build"))
STEP = os.path.join(BUILD, "bin", "update_step.exe")
WORK = os.path.join(BUILD, "bench")


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
                name = "res/d%02d/e%d/f%05d.txt" % (i % 50, (i // 50) % 8, i)
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


def run_ours(archive, folder, mode="extract"):
    fresh(folder)
    # A hard link stands in for the placed archive: no copy in the timing, and
    # the extraction deletes only the link.
    os.link(archive, os.path.join(folder, "update.zip"))
    wine_folder = "Z:" + folder.replace("/", "\\")
    start = time.perf_counter()
    result = subprocess.run(["wine", STEP, mode, wine_folder], env=wine_env(),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, check=True)
    elapsed = time.perf_counter() - start
    fields = dict(part.split("=") for part in result.stdout.decode().split())
    return elapsed, int(fields["peak_working_set"]), int(fields["peak_pagefile"])


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


def main():
    global WORK
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--work", default=None)
    args = parser.parse_args()
    if args.work:
        WORK = os.path.abspath(args.work)
    if not os.path.exists(STEP):
        sys.exit("missing %s: build first" % STEP)
    subprocess.run(["wineserver", "-p"], env=wine_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    archives = build_archives()
    shutil.rmtree(os.path.join(WORK, "out"), ignore_errors=True)
    for label, archive in archives.items():
        ratios, bare_ratios, ours_times, unzip_times, peaks = [], [], [], [], []
        for round_index in range(args.rounds):
            folders = {tool: run_folder(tool, label, round_index)
                       for tool in ("ours", "bare", "unzip")}
            steps = [("ours", lambda: run_ours(archive, folders["ours"])),
                     ("bare", lambda: run_ours(archive, folders["bare"], "bare")),
                     ("unzip", lambda: run_unzip(archive, folders["unzip"]))]
            if round_index % 2 == 1:
                steps.reverse()
            results = {name: step() for name, step in steps}
            ours, peak, pagefile = results["ours"]
            bare = results["bare"][0]
            theirs = results["unzip"]
            if round_index == 0 and tree(folders["ours"]) != tree(folders["unzip"]):
                sys.exit("%s: the extracted trees differ" % label)
            if label == "large":
                for folder in folders.values():
                    shutil.rmtree(folder, ignore_errors=True)
            ratios.append(ours / theirs)
            bare_ratios.append(bare / theirs)
            ours_times.append(ours)
            unzip_times.append(theirs)
            peaks.append(max(peak, pagefile))
        size = os.path.getsize(archive)
        print("%-5s archive %6.1f MB: ours %.3f s, unzip %.3f s (medians), ratio %.2f "
              "(runs: %s), peak memory %.1f MB; bare minizip loop ratio %.2f (runs: %s)" %
              (label, size / 1e6, statistics.median(ours_times),
               statistics.median(unzip_times), statistics.median(ratios),
               " ".join("%.2f" % r for r in ratios), max(peaks) / 1e6,
               statistics.median(bare_ratios), " ".join("%.2f" % r for r in bare_ratios)),
              flush=True)
    shutil.rmtree(os.path.join(WORK, "out"), ignore_errors=True)


if __name__ == "__main__":
    main()
