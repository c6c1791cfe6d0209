#!/usr/bin/env python3
"""Runs the end-to-end tests of the real executable under Wine.

One Wine session (display and prefix) is shared by all tests. Most of a test's
time is the launcher's own waits, so tests run side by side; a test class with
`serial = True` runs alone after the others (screenshots, for instance).

    python3 tests/e2e/run_e2e.py [-j N] [-k substring]
"""

import argparse
import sys
import time
import traceback
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402


def flatten(suite):
    for item in suite:
        yield from flatten(item) if isinstance(item, unittest.TestSuite) else [item]


def run_one(test):
    result = unittest.TestResult()
    start = time.monotonic()
    test.run(result)
    return test, result, time.monotonic() - start


def report(test, result, elapsed):
    problems = result.failures + result.errors
    ok = not problems and not result.unexpectedSuccesses
    print(f"{'skipped' if ok and result.skipped else 'ok' if ok else 'FAIL':7} {elapsed:6.1f}s  {test.id()}",
          flush=True)
    for _, text in problems:
        print(text, flush=True)
    return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("-j", type=int, default=4, help="tests run side by side")
    parser.add_argument("-k", default="", help="only tests whose id contains this")
    args = parser.parse_args()

    for exe in (harness.LAUNCHER_EXE, harness.STUB_GAME_EXE):
        if not exe.exists():
            print(f"e2e: {exe} is missing; build the windows preset first", file=sys.stderr)
            return 2

    suite = unittest.defaultTestLoader.discover(str(HERE), pattern="test_*.py", top_level_dir=str(HERE))
    tests = [t for t in flatten(suite) if args.k in t.id()]
    broken = [t for t in tests if isinstance(t, unittest.loader._FailedTest)]  # import errors
    parallel = [t for t in tests if not getattr(t, "serial", False) and t not in broken]
    serial = [t for t in tests if getattr(t, "serial", False)]

    ok = True
    for t in broken:
        ok = report(*run_one(t)) and ok
    start = time.monotonic()
    with harness.WineSession() as session:
        harness.SESSION = session
        try:
            with ThreadPoolExecutor(max_workers=max(1, args.j)) as pool:
                for outcome in pool.map(run_one, parallel):
                    ok = report(*outcome) and ok
            for t in serial:
                ok = report(*run_one(t)) and ok
        except Exception:
            traceback.print_exc()
            ok = False
    print(f"e2e: {len(tests)} tests in {time.monotonic() - start:.0f}s: {'passed' if ok else 'FAILED'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
