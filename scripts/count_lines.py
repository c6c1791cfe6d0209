#!/usr/bin/env python3
"""Prints the size of the tests against the rest of the code.

Counts non-blank lines of the tracked source files (C and C++, Python, shell,
CMake, CMakeLists.txt and .ci/run): those under tests/ (fuzz corpora left out)
against all the others, and their ratio. With --limit, exits 1 when the ratio
is above it.
"""
import argparse
import pathlib
import subprocess
import sys

SUFFIXES = {".c", ".cc", ".cpp", ".h", ".hpp", ".py", ".sh", ".cmake"}
NAMES = {"CMakeLists.txt"}
PATHS = {".ci/run"}


def counted(path):
    p = pathlib.PurePosixPath(path)
    return p.suffix in SUFFIXES or p.name in NAMES or path in PATHS


def non_blank_lines(path):
    with open(path, "rb") as f:
        return sum(1 for line in f if line.strip())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=float, help="fail when tests/product is above this")
    args = parser.parse_args()
    root = pathlib.Path(__file__).resolve().parent.parent
    files = subprocess.run(["git", "ls-files", "-z"], cwd=root, check=True,
                           capture_output=True).stdout.decode().split("\0")
    tests = product = 0
    for path in filter(None, files):
        if not counted(path) or not (root / path).is_file():
            continue
        if path.startswith("tests/"):
            if path.startswith("tests/fuzz/corpus/"):
                continue
            tests += non_blank_lines(root / path)
        else:
            product += non_blank_lines(root / path)
    ratio = tests / product if product else float("inf")
    print(f"lines: tests {tests}, the rest {product}, ratio {ratio:.4f}")
    if args.limit is not None and ratio > args.limit:
        print(f"the tests are above {args.limit:.2f} of the rest", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
