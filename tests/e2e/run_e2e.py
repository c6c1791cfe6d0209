#!/usr/bin/env python3
"""python3 tests/e2e/run_e2e.py [-k substring]: the real executable's tests in one
Wine session. Most of their time is the launcher's own waits, so tests run four
side by side; a class with `serial = True` runs alone afterwards."""

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


def main(args):
    if args[:1] not in ([], ["-k"]) or len(args) not in (0, 2):
        sys.exit(__doc__)
    only, here = args[-1] if args else "", str(Path(__file__).parent)
    tests = [t for t in flatten(unittest.defaultTestLoader.discover(here, top_level_dir=here)) if only in t.id()]
    start = time.monotonic()
    with harness.WineSession() as harness.SESSION, ThreadPoolExecutor(4) as pool:
        ok = all(list(pool.map(run_one, [t for t in tests if not getattr(t, "serial", False)])))
        ok = all([run_one(t) for t in tests if getattr(t, "serial", False)]) and ok
    print(f"e2e: {len(tests)} tests in {time.monotonic() - start:.0f}s: {'passed' if ok else 'FAILED'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
