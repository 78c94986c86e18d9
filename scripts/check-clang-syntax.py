#!/usr/bin/env python3
"""Checks that clang accepts every translation unit of a built tree, syntax only.

Usage: scripts/check-clang-syntax.py BUILD [--skip-units-of CLANG_BUILD] [--jobs N]

BUILD is a configured and built tree of any compiler (test.sh passes the gcc one): its
compile_commands.json lists the units with their flags, and its build has made the generated
sources (moc and resource units) that they include. Each unit is parsed by clang++ with the same
definitions and include folders; nothing is written into either tree. Units that CLANG_BUILD, a
tree built by clang, compiles already are left out, so that clang reads each unit once in the whole
run. Exits non-zero when clang refuses a unit, and shows its diagnostics.
"""
import argparse
import concurrent.futures
import json
import os
import shlex
import subprocess
import sys
import tempfile

# The precompiled headers that CMake makes for gcc sit beside the headers they were made from, where
# clang's driver would pick them up and refuse them as foreign. clang makes its own of each, once:
# the test units share two, and reading them is most of a unit's work.
PCH_HEADER = "cmake_pch.hxx"


def units(build):
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as listing:
        return json.load(listing)


def unit_key(entry, build):
    """The unit's source, relative to its tree when it was generated there."""
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    root = os.path.normpath(os.path.abspath(build))
    if path.startswith(root + os.sep):
        return ("generated", os.path.relpath(path, root))
    return ("source", path)


def arguments(entry):
    return entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])


def clang_command(entry, clang, pch_of):
    """The unit's command for clang and the precompiled header it reads, if any. A precompiled
    header's own unit becomes the making of clang's header into pch_of(header) instead."""
    given = arguments(entry)
    makes_pch = "c++-header" in given
    command = [clang] if makes_pch else [clang, "-fsyntax-only"]
    pch = None
    rest = iter(given[1:])
    for argument in rest:
        if argument == "-o":
            next(rest, None)
        elif argument in ("-c", "-Winvalid-pch"):
            pass
        elif argument == "-include":
            header = next(rest)
            if os.path.basename(header) != PCH_HEADER:
                command += [argument, header]
                continue
            pch = pch_of(header)
            if makes_pch:
                # The compiler proper includes it as text; only the driver looks for a ".gch".
                command += ["-Xclang", "-include", "-Xclang", header, "-o", pch]
            else:
                command += ["-include-pch", pch]
        else:
            command.append(argument)
    return command, pch, makes_pch


def run(job):
    name, directory, command = job
    result = subprocess.run(command, cwd=directory, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, check=False)
    return name, result.returncode, result.stdout


def run_all(pool, jobs):
    """Runs the jobs and shows their diagnostics; returns how many failed."""
    failed = 0
    for name, code, output in pool.map(run, jobs):
        if code != 0:
            failed += 1
            print(f"FAIL  {name}\n{output}", file=sys.stderr)
        elif output:
            # Warnings are shown but do not fail: the builds' own warning set rules.
            print(output, end="")
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--skip-units-of", metavar="CLANG_BUILD")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--clang", default="clang++")
    options = parser.parse_args()

    skipped = set()
    if options.skip_units_of:
        skipped = {unit_key(entry, options.skip_units_of) for entry in units(options.skip_units_of)}

    scratch = tempfile.TemporaryDirectory(prefix="check-clang-syntax.")
    pchs = {}

    def pch_of(header):
        return pchs.setdefault(header, os.path.join(scratch.name, f"{len(pchs)}.pch"))

    headers, jobs, needed = {}, [], set()
    for entry in units(options.build):
        command, pch, makes_pch = clang_command(entry, options.clang, pch_of)
        name = os.path.relpath(os.path.join(entry["directory"], entry["file"]))
        if makes_pch:
            headers[pch] = (name, entry["directory"], command)
        elif unit_key(entry, options.build) not in skipped:
            jobs.append((name, entry["directory"], command))
            needed.add(pch)
    if not jobs:
        print("check-clang-syntax.py: no unit to check", file=sys.stderr)
        return 1

    with scratch, concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
        if run_all(pool, [job for pch, job in headers.items() if pch in needed]):
            print("clang, syntax only: a precompiled header failed", file=sys.stderr)
            return 1
        failed = run_all(pool, jobs)
    print(f"clang, syntax only: {len(jobs) - failed} of {len(jobs)} units accepted")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
