#!/usr/bin/env python3
"""Builds the update archive that the whole-system scenarios stage.

"system_update.zip" is what an updater leaves in temp: a working client, a
new ProductConfig.xml naming the shortcuts, and items whose attributes and
times the installation must take over.

With LAUNCHER_EXE, the updates that carry a new launcher: "launcher_new.exe"
is that program with a build note appended after its last section (still the
same valid, runnable image, but other bytes); "self_update.zip" carries it as
"launcher.exe" beside a client and a data file, "self_update_bad_crc.zip" is
the same with the launcher item's CRC-32 damaged in both its headers, and
"self_update_large.zip" puts a few megabytes of other items before and after
the launcher, so that a kill can land at any moment of the extraction.

Usage: make_system_archives.py OUTPUT_FOLDER CLIENT_EXE [LAUNCHER_EXE]
"""
import os
import random
import struct
import sys
import zipfile

OUT, CLIENT = sys.argv[1], sys.argv[2]

CONFIG = (
    '<?xml version="1.0" encoding="utf-8"?>\r\n<ProductConfig>\r\n'
    "  <shortcut_cn>vorlan system \u65e7\u540d</shortcut_cn>\r\n"
    "  <shortcut_en>vorlan system old</shortcut_en>\r\n"
    "  <shortcut_new_cn>vorlan system \u65b0\u540d</shortcut_new_cn>\r\n"
    "  <shortcut_new_en>vorlan system new</shortcut_new_en>\r\n"
    "</ProductConfig>\r\n").encode("utf-8")


def item(name, host=3, external=0x81A40000, date_time=(2019, 1, 1, 12, 0, 0), extra=b""):
    info = zipfile.ZipInfo(name, date_time)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = host
    info.external_attr = external
    info.extra = extra
    return info


def modified_at(seconds):
    """An extended timestamp block carrying the modification time only."""
    return b"UT" + struct.pack("<HBi", 5, 1, seconds)


def damage_crc(path, member):
    """Flips the CRC-32 of one item in its local header and central record alike,
    so that only its data betrays it."""
    with zipfile.ZipFile(path) as archive:
        info = archive.getinfo(member)
    bad = struct.pack("<I", info.CRC ^ 0x5A5A5A5A)
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        data[info.header_offset + 14:info.header_offset + 18] = bad
        at = data.find(b"PK\x01\x02")
        while at != -1:
            name_length = struct.unpack_from("<H", data, at + 28)[0]
            if data[at + 46:at + 46 + name_length] == member.encode():
                data[at + 16:at + 20] = bad
            at = data.find(b"PK\x01\x02", at + 46)
        f.seek(0)
        f.write(data)


def write_archive(name, members, damaged=None):
    """Writes under a temporary name first: a test never sees half an archive."""
    target = os.path.join(OUT, name)
    with zipfile.ZipFile(target + ".partial", "w") as archive:
        for info, data in members:
            archive.writestr(info, data)
    if damaged is not None:
        damage_crc(target + ".partial", damaged)
    os.replace(target + ".partial", target)


def write_self_updates(client, launcher_exe):
    with open(launcher_exe, "rb") as f:
        launcher = f.read()
    # Data after the last section is no part of the image the loader maps.
    new_launcher = launcher + b"\0quintarelox launcher, next build\0".ljust(64, b"\0")
    target = os.path.join(OUT, "launcher_new.exe")
    with open(target + ".partial", "wb") as f:
        f.write(new_launcher)
    os.replace(target + ".partial", target)
    members = [(item("launcher.exe"), new_launcher), (item("vorlan.exe"), client),
               (item("data/notes.txt"), b"next build\n")]
    write_archive("self_update.zip", members)
    write_archive("self_update_bad_crc.zip", members, damaged="launcher.exe")
    noise = random.Random(15)
    filler = [(item("data/filler%d.bin" % i), noise.randbytes(1 << 20)) for i in range(6)]
    write_archive("self_update_large.zip", filler[:3] + members + filler[3:])


def main():
    os.makedirs(OUT, exist_ok=True)
    with open(CLIENT, "rb") as f:
        client = f.read()
    write_archive("system_update.zip", [
        (item("vorlan.exe"), client),
        (item("ProductConfig.xml"), CONFIG),
        # Unix read-only, with its modification time in a UT block.
        (item("docs/readme.txt", external=0x81240000, extra=modified_at(1500000000)),
         b"read me\n"),
        # DOS attributes: hidden and archive, times from the DOS fields only.
        (item("data/settings.cfg", host=0, external=0x22, date_time=(2020, 2, 29, 23, 59, 58)),
         b"volume=3\n"),
        (item("plugins/", external=0x41ED0010), b""),
    ])
    if len(sys.argv) > 3:
        write_self_updates(client, sys.argv[3])


if __name__ == "__main__":
    main()
