#!/usr/bin/env python3
"""Checks that every include of the program's rooms follows the order that ARCHITECTURE.md gives.

Usage: scripts/check-include-order.py [ROOT]

ROOT is the source tree (default: the one holding this script). Its ARCHITECTURE.md holds the
order in two lines of an indented block:

    order: platform -> tristripper, io, crypto -> geom/core -> ...
    apart: shellext

A room is a folder: src/<room> where that exists, else <room> at the top of the tree. A file of a
room may include its own room's headers and those of the rooms in groups left of its own; a room
apart includes only its own, and nothing includes it. An include is resolved as the compiler
would find it in our tree (beside the including file, below src/, below tristripper/include/, or
from the top of the tree); one that leads nowhere in the tree (the system's, the toolkit's,
generated ones) is not ours and is left alone. Every source file below src/ must lie in a room.
Exits 1 with one line per include against the order, 2 when ARCHITECTURE.md holds no order.
"""
import os
import re
import sys

SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
# Folders from which our includes are spelt, besides the including file's own.
INCLUDE_ROOTS = ("src", "tristripper/include", ".")


def read_order(root):
    """The groups of rooms from left to right, and the rooms apart; None when the lines are missing."""
    groups, apart = None, []
    with open(os.path.join(root, "ARCHITECTURE.md"), encoding="utf-8") as text:
        for line in text:
            words = line.strip()
            if words.startswith("order:"):
                groups = [[room.strip() for room in group.split(",")] for group in words[6:].split("->")]
            elif words.startswith("apart:"):
                apart = [room.strip() for room in words[6:].split(",")]
    return groups, apart


def room_folder(root, room):
    inside_src = os.path.join(root, "src", room)
    return os.path.realpath(inside_src if os.path.isdir(inside_src) else os.path.join(root, room))


def room_of(path, folders):
    """The room whose folder holds the path (the deepest when rooms nest), or None."""
    best = None
    for room, folder in folders.items():
        if path.startswith(folder + os.sep) and (best is None or len(folder) > len(folders[best])):
            best = room
    return best


def resolve(root, including, spelt, quoted):
    places = [os.path.dirname(including)] if quoted else []
    places += [os.path.join(root, folder) for folder in INCLUDE_ROOTS]
    for place in places:
        candidate = os.path.join(place, spelt)
        if os.path.isfile(candidate):
            return os.path.realpath(candidate)
    return None


def sources(folder):
    for directory, subfolders, files in os.walk(folder):
        subfolders.sort()
        for name in sorted(files):
            if name.endswith(SUFFIXES):
                yield os.path.join(directory, name)


def main():
    given = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    root = os.path.realpath(given)
    groups, apart = read_order(root)
    if not groups:
        print("check-include-order.py: ARCHITECTURE.md holds no 'order:' line", file=sys.stderr)
        return 2
    rank = {room: index for index, group in enumerate(groups) for room in group}
    folders = {room: room_folder(root, room) for room in list(rank) + apart}
    for room, folder in folders.items():
        if not os.path.isdir(folder):
            print(f"check-include-order.py: the room {room} has no folder", file=sys.stderr)
            return 2

    def allowed(mine, theirs):
        if mine == theirs:
            return True
        return mine in rank and theirs in rank and rank[theirs] < rank[mine]

    faults = []
    scanned = set()
    for folder in sorted(set(folders.values()) | {os.path.realpath(os.path.join(root, "src"))}):
        for path in sources(folder):
            if path in scanned:
                continue
            scanned.add(path)
            name = os.path.relpath(path, root)
            mine = room_of(path, folders)
            if mine is None:
                faults.append(f"{name}: lies in no room of the order")
                continue
            with open(path, encoding="utf-8", errors="replace") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = resolve(root, path, match.group(2), match.group(1) == '"')
                    if target is None:
                        continue
                    theirs = room_of(target, folders)
                    if theirs is None:
                        faults.append(f"{name}:{number}: includes {match.group(2)}, which lies in no room")
                    elif not allowed(mine, theirs):
                        faults.append(f"{name}:{number}: {mine} includes {match.group(2)} of {theirs}, "
                                      "against the order")
    for fault in faults:
        print(fault)
    order = " -> ".join(", ".join(group) for group in groups)
    if faults:
        told = "1 fault" if len(faults) == 1 else f"{len(faults)} faults"
        print(f"{told} against the order {order} (apart: {', '.join(apart) or 'none'})")
        return 1
    print(f"includes of {len(scanned)} files follow the order {order}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
