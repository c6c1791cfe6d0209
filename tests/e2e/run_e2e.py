#!/usr/bin/env python3
"""python3 tests/e2e/run_e2e.py [-j N] [-k substring]: the real executable's
tests in one Wine session. Most of their time is the launcher's own waits, so
tests run side by side; a class with `serial = True` runs alone afterwards."""

import argparse
import sys
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import harness


def flatten(suite):
    for item in suite:
        yield from flatten(item) if isinstance(item, unittest.TestSuite) else [item]


def run_one(test):
    result, start = unittest.TestResult(), time.monotonic()
    test.run(result)
    print(f"{'FAIL' if result.failures or result.errors else 'ok':4} {time.monotonic() - start:6.1f}s  {test.id()}",
          *(text for _, text in result.failures + result.errors), sep="\n", flush=True)
    return not (result.failures or result.errors)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("-j", type=int, default=4, help="tests run side by side")
    parser.add_argument("-k", default="", help="only tests whose id contains this")
    args = parser.parse_args()
    here = str(Path(__file__).parent)
    tests = [t for t in flatten(unittest.defaultTestLoader.discover(here, top_level_dir=here)) if args.k in t.id()]
    start = time.monotonic()
    with harness.WineSession() as harness.SESSION, ThreadPoolExecutor(max(1, args.j)) as pool:
        ok = all(list(pool.map(run_one, [t for t in tests if not getattr(t, "serial", False)])))
        ok = all([run_one(t) for t in tests if getattr(t, "serial", False)]) and ok
    print(f"e2e: {len(tests)} tests in {time.monotonic() - start:.0f}s: {'passed' if ok else 'FAILED'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
