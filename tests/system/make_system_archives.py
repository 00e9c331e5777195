#!/usr/bin/env python3
"""Builds the update archive that the whole-system scenarios stage.

"system_update.zip" is what an updater leaves in temp: a working client, a
new ProductConfig.xml naming the shortcuts, and items whose attributes and
times the installation must take over.

Usage: make_system_archives.py OUTPUT_FOLDER CLIENT_EXE
"""
import os
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


def main():
    os.makedirs(OUT, exist_ok=True)
    with open(CLIENT, "rb") as f:
        client = f.read()
    target = os.path.join(OUT, "system_update.zip")
    with zipfile.ZipFile(target + ".partial", "w") as archive:
        archive.writestr(item("vorlan.exe"), client)
        archive.writestr(item("ProductConfig.xml"), CONFIG)
        # Unix read-only, with its modification time in a UT block.
        archive.writestr(item("docs/readme.txt", external=0x81240000,
                              extra=modified_at(1500000000)), b"read me\n")
        # DOS attributes: hidden and archive, times from the DOS fields only.
        archive.writestr(item("data/settings.cfg", host=0, external=0x22,
                              date_time=(2020, 2, 29, 23, 59, 58)), b"volume=3\n")
        archive.writestr(item("plugins/", external=0x41ED0010), b"")
    os.replace(target + ".partial", target)


if __name__ == "__main__":
    main()
