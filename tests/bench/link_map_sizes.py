#!/usr/bin/env python3
"""Sums the bytes that each library and object brings into a PE image, from a GNU ld map (-Wl,-Map).

    link_map_sizes.py MAP [--image-size BYTES] [--members N]

Only sections that stay in a stripped image count (code, data, unwind tables, imports, resources);
debug sections and .bss do not. Prints one line per library or group of objects, largest first, with
its share of the image and its N largest members. Header-only code (Boost.Format, iostream and
container templates) is charged to the object that instantiated it first, which is usually one of the
project's own objects.
"""
import argparse
import collections
import os
import re
import sys

KEPT = {".text", ".data", ".rdata", ".pdata", ".xdata", ".idata", ".CRT", ".tls", ".rsrc", ".reloc"}
INPUT = re.compile(r"^ (\S+)\s+0x[0-9a-fA-F]+\s+0x([0-9a-fA-F]+)\s+(.+)$")
NAME_ONLY = re.compile(r"^ (\S+)$")
CONTINUED = re.compile(r"^\s+0x[0-9a-fA-F]+\s+0x([0-9a-fA-F]+)\s+(.+)$")
OUTPUT = re.compile(r"^(\.\S+)")
ARCHIVE = re.compile(r"^(.*\.a)\((.*)\)$")

GROUPS = {
    "libcurl.a": "libcurl",
    "libz.a": "zlib",
    "libyaml-cpp.a": "yaml-cpp",
    "libboost_filesystem.a": "Boost.Filesystem",
    "libstdc++.a": "libstdc++",
    "libgcc.a": "libgcc",
    "libgcc_eh.a": "libgcc_eh (unwinder)",
    "libmingw32.a": "MinGW CRT",
    "libmingwex.a": "MinGW CRT",
    "libmoldname.a": "MinGW CRT",
    "libmsvcrt.a": "MinGW CRT (msvcrt)",
    "libpthread.a": "winpthreads",
    "libwinpthread.a": "winpthreads",
    "libuuid.a": "libuuid (GUID constants)",
}


def group_of(path):
    """Returns (group, member) for an input file name as ld prints it."""
    match = ARCHIVE.match(path)
    if match:
        archive, member = os.path.basename(match.group(1)), match.group(2)
        if archive.startswith("libbrimo_"):
            return "project: " + archive[3:-2], archive + ":" + member
        if archive in GROUPS:
            return GROUPS[archive], archive + ":" + member
        # Any other archive of the MinGW lib folder is an import library of a Windows DLL.
        return "Windows DLL imports (stubs, tables)", archive[3:-2] + ".dll"
    name = os.path.basename(path)
    if name.endswith(".res"):
        return "project: resources (images, icon, manifest)", name
    if "CMakeFiles" in path:
        return "project: program objects", name
    if path == "dll stuff":
        return "base relocations", "base relocations"
    return "MinGW CRT", name


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("map")
    parser.add_argument("--image-size", type=int, default=0, help="size of the stripped image")
    parser.add_argument("--members", type=int, default=4)
    args = parser.parse_args()

    groups = collections.Counter()
    members = collections.defaultdict(collections.Counter)
    section = None
    in_layout = False
    pending = None
    with open(args.map, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            line = line.rstrip("\n")
            if not in_layout:
                in_layout = line.startswith("Linker script and memory map")
                continue
            out = OUTPUT.match(line)
            if out:
                section = out.group(1)
                pending = None
                continue
            if section not in KEPT:
                continue
            size = path = None
            if pending:
                cont = CONTINUED.match(line)
                if cont:
                    size, path = int(cont.group(1), 16), cont.group(2)
                pending = None
            else:
                match = INPUT.match(line)
                if match:
                    size, path = int(match.group(2), 16), match.group(3)
                elif NAME_ONLY.match(line) and not line.startswith(" *"):
                    pending = line
            if size:
                group, member = group_of(path.strip())
                groups[group] += size
                members[group][member.split(":")[-1]] += size
    if not groups:
        sys.exit("link_map_sizes.py: no input sections found in " + args.map)
    total = sum(groups.values())
    whole = args.image_size or total
    for name, size in groups.most_common():
        largest = ", ".join(f"{m} {s / 1024:.1f}" for m, s in members[name].most_common(args.members))
        print(f"{name:<44} {size / 1024:8.1f} KiB {100.0 * size / whole:5.1f} %   {largest}")
    rest = whole - total
    print(f"{'(headers, section alignment)':<44} {rest / 1024:8.1f} KiB {100.0 * rest / whole:5.1f} %")


if __name__ == "__main__":
    main()
