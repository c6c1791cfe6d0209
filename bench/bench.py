#!/usr/bin/env python3
"""Times the launcher's codecs beside the peer tools that do the same job.

    bench/run.sh [--runs N] [--only sha256,inflate,zip,vcdiff,rom,install] [--fresh-inputs]

bench/run.sh builds the `bench` preset first; this script expects its programs
in build/bench. Inputs are made once under build/bench/inputs (--fresh-inputs
makes them again):

  tree/          about 64 MiB of real binaries from /usr/bin and /usr/lib
  corpus.bin     the same files one after another
  corpus.zip     the tree, by `zip -9`
  corpus.deflate a raw deflate stream of corpus.bin (zlib, level 9)
  corpus.gz      the same stream in a gzip member
  rom.nds        the synthetic cartridge dump the stand-in patch is made for
  site/          a release of the tree (tools/release.py): bundle and manifest

Every command is a whole process that reads its input files and writes its
output files (to tmpfs), started by pelko_measure, which reports wall time and
peak resident memory. In each round every tool of a table runs once, in an
order that rotates from round to round; a first round warms the page cache,
checks every tool's output and is not counted. The tables give medians.

The benchmark measures and compares; it fails only when it cannot run or a
tool's output is wrong, never because of a time.
"""

import argparse
import filecmp
import hashlib
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
from release import sha256_of as file_digest  # noqa: E402
BUILD = ROOT / "build" / "bench"
INPUTS = BUILD / "inputs"
CODEC = BUILD / "bench" / "pelko_codec"
MEASURE = BUILD / "bench" / "pelko_measure"
ROM_STANDIN = BUILD / "tools" / "rom_standin"
UNZIP = BUILD / "tools" / "pelko_unzip"
PATCH = ROOT / "assets" / "rom_patch.vcdiff"
PATCHED_DIGEST = (ROOT / "assets" / "patched_rom.sha256").read_text().split()[0]

CORPUS_BYTES = 64 << 20
# Where the corpus comes from, and how much of it each folder gives.
CORPUS_SOURCES = [("/usr/bin", 32 << 20), ("/usr/lib/x86_64-linux-gnu", 32 << 20)]
SMALLEST_FILE, LARGEST_FILE = 16 << 10, 4 << 20

GROUPS = ["sha256", "inflate", "zip", "vcdiff", "rom", "install"]


def log(text):
    print(text, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------
# Inputs


def pick_corpus_files():
    """Regular files of moderate size, in name order, filling each folder's share without going over."""
    picked = []
    for folder, share in CORPUS_SOURCES:
        taken = 0
        for dirpath, dirnames, filenames in os.walk(folder):
            dirnames.sort()
            for name in sorted(filenames):
                path = Path(dirpath) / name
                if path.is_symlink() or not path.is_file() or not os.access(path, os.R_OK):
                    continue
                size = path.stat().st_size
                if SMALLEST_FILE <= size <= LARGEST_FILE and taken + size <= share:
                    picked.append(path)
                    taken += size
            if share - taken < SMALLEST_FILE:
                break
    return picked


def make_inputs(fresh):
    stamp = INPUTS / "inputs.json"
    if stamp.exists() and not fresh:
        return json.loads(stamp.read_text())
    if INPUTS.exists():
        shutil.rmtree(INPUTS)
    INPUTS.mkdir(parents=True)
    log("bench: making inputs under build/bench/inputs (once)")

    tree = INPUTS / "tree"
    corpus = bytearray()
    for path in pick_corpus_files():
        target = tree / path.relative_to("/usr")
        target.parent.mkdir(parents=True, exist_ok=True)
        data = path.read_bytes()
        target.write_bytes(data)
        corpus += data
    (INPUTS / "corpus.bin").write_bytes(corpus)

    subprocess.run(["zip", "-9", "-r", "-q", "-X", str(INPUTS / "corpus.zip"), "."], cwd=tree, check=True)

    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    raw = compressor.compress(bytes(corpus)) + compressor.flush()
    (INPUTS / "corpus.deflate").write_bytes(raw)
    # RFC 1952: no name, no time, "unknown" OS; CRC-32 and size at the end.
    header = bytes([0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 2, 255])
    trailer = zlib.crc32(corpus).to_bytes(4, "little") + (len(corpus) & 0xFFFFFFFF).to_bytes(4, "little")
    (INPUTS / "corpus.gz").write_bytes(header + raw + trailer)

    subprocess.run([str(ROM_STANDIN), "dump", str(INPUTS / "rom.nds")], check=True)

    site = INPUTS / "site"
    subprocess.run([sys.executable, str(ROOT / "tools" / "release.py"), "--folder", str(tree), "--version", "bench",
                    "--base-url", "http://127.0.0.1/bench", "--out", str(site), "--unzip", str(UNZIP)], check=True, stdout=subprocess.DEVNULL)
    manifest = json.loads((site / "manifest.json").read_text())

    info = {
        "corpus_bytes": len(corpus),
        "corpus_sha256": hashlib.sha256(corpus).hexdigest(),
        "files": sum(1 for p in tree.rglob("*") if p.is_file()),
        "bundle": str(site / Path(manifest["windows"]["url"]).name),
        "bundle_sha256": manifest["windows"]["sha256"],
    }
    stamp.write_text(json.dumps(info, indent=2) + "\n")
    return info


# ---------------------------------------------------------------------------
# Running and checking


class Tool:
    """One command line of a table. prepare() runs before every start, outside the timing;
    check(stdout) after the first round says whether the output was right."""

    def __init__(self, name, argv, peer, stdout=None, prepare=None, check=None, note=""):
        self.name, self.argv, self.peer = name, [str(a) for a in argv], peer
        self.stdout, self.prepare, self.check, self.note = stdout, prepare, check, note
        self.times, self.peaks, self.outputs, self.last_stdout, self.failed = [], [], [], "", ""


def run_once(tool, scratch):
    if tool.prepare:
        tool.prepare()
    stdout = tool.stdout or scratch / "stdout.txt"
    result = subprocess.run([str(MEASURE), "--stdout", str(stdout), "--", *tool.argv],
                            capture_output=True, text=True)
    fields = result.stdout.split()
    if result.returncode != 0 or len(fields) != 3:
        raise SystemExit(f"bench: could not measure {tool.name}: {result.stderr.strip()}")
    wall_ns, peak_kib, status = (int(f) for f in fields)
    if status != 0:
        tool.failed = f"exit status {status}: {result.stderr.strip()[-300:]}"
    tool.last_stdout = Path(stdout).read_text(errors="replace") if not tool.stdout else ""
    return wall_ns / 1e6, peak_kib / 1024


def time_table(tools, runs, scratch):
    for round_number in range(runs + 1):
        shift = round_number % len(tools)
        for tool in tools[shift:] + tools[:shift]:
            ms, peak = run_once(tool, scratch)
            if round_number == 0:
                if not tool.failed and tool.check and not tool.check(tool.last_stdout):
                    tool.failed = "wrong output"
                continue
            tool.times.append(ms)
            tool.peaks.append(peak)
            tool.outputs.append(tool.last_stdout)


def format_table(title, tools, extra_lines=()):
    peers = [t for t in tools if t.peer and not t.failed]
    fastest = min(peers, key=lambda t: statistics.median(t.times)) if peers else None
    fastest_ms = statistics.median(fastest.times) if fastest else None
    width = max(len(t.name) for t in tools)
    lines = [title, f"  {'tool':<{width}}  {'median':>9}  {'min':>9}  {'vs fastest peer':>15}  {'peak memory':>11}"]
    for t in tools:
        if t.failed:
            lines.append(f"  {t.name:<{width}}  FAILED ({t.failed})")
            continue
        median = statistics.median(t.times)
        ratio = f"{median / fastest_ms:.2f}" if fastest_ms else "-"
        mark = " (fastest)" if t is fastest else ""
        lines.append(f"  {t.name:<{width}}  {median:6.1f} ms  {min(t.times):6.1f} ms  {ratio:>15}  "
                     f"{max(t.peaks):7.1f} MiB{mark}{t.note}")
    lines.extend(extra_lines)
    return "\n".join(lines)


def digest_is(expected):
    return lambda out: out.split()[:1] == [expected] or out.strip().endswith("= " + expected)


def same_file(path, expected):
    return lambda _: Path(path).exists() and filecmp.cmp(path, expected, shallow=False)


def same_tree(path, expected):
    def check(_):
        got = sorted(p.relative_to(path) for p in Path(path).rglob("*") if p.is_file())
        want = sorted(p.relative_to(expected) for p in Path(expected).rglob("*") if p.is_file())
        return got == want and all(filecmp.cmp(Path(path) / r, Path(expected) / r, shallow=False) for r in want)
    return check


def fresh_dir(path):
    def prepare():
        if Path(path).exists():
            shutil.rmtree(path)
        Path(path).mkdir(parents=True)
    return prepare


def remove(path):
    return lambda: Path(path).unlink(missing_ok=True)


# ---------------------------------------------------------------------------
# The tables


def sha256_tools(info, scratch):
    corpus = INPUTS / "corpus.bin"
    ok = digest_is(info["corpus_sha256"])
    return [
        Tool("pelko sha256", [CODEC, "sha256", corpus], False, check=ok),
        Tool("openssl dgst -sha256", ["openssl", "dgst", "-sha256", corpus], True, check=ok),
        Tool("sha256sum", ["sha256sum", corpus], True, check=ok),
        Tool("pelko sha256, portable path", [CODEC, "--portable", "sha256", corpus], False, check=ok,
             note="  (no SHA extensions)"),
    ]


def inflate_tools(info, scratch):
    gz, raw, corpus = INPUTS / "corpus.gz", INPUTS / "corpus.deflate", INPUTS / "corpus.bin"
    out = {name: scratch / f"inflate-{name}.out" for name in ("ours", "raw", "igzip", "libdeflate", "pigz")}
    return [
        Tool("pelko gunzip", [CODEC, "gunzip", gz, out["ours"]], False, prepare=remove(out["ours"]),
             check=same_file(out["ours"], corpus), note="  (inflate_raw_stream + CRC-32 + size)"),
        Tool("igzip -d -c", ["igzip", "-d", "-c", gz], True, stdout=out["igzip"], check=same_file(out["igzip"], corpus)),
        Tool("libdeflate-gunzip -c", ["libdeflate-gunzip", "-c", gz], True, stdout=out["libdeflate"],
             check=same_file(out["libdeflate"], corpus)),
        Tool("pigz -dc", ["pigz", "-dc", gz], True, stdout=out["pigz"], check=same_file(out["pigz"], corpus)),
        Tool("pelko inflate, raw stream", [CODEC, "inflate", raw, info["corpus_bytes"], out["raw"]], False,
             prepare=remove(out["raw"]), check=same_file(out["raw"], corpus), note="  (inflate_raw_stream, no CRC-32)"),
    ]


def zip_tools(info, scratch):
    archive, tree = INPUTS / "corpus.zip", INPUTS / "tree"
    d = {name: scratch / f"zip-{name}" for name in ("ours", "bsdtar", "7zz", "unzip")}
    return [
        Tool("pelko unzip", [CODEC, "unzip", archive, d["ours"]], False, prepare=fresh_dir(d["ours"]),
             check=same_tree(d["ours"], tree)),
        Tool("bsdtar -xf", ["bsdtar", "-xf", archive, "-C", d["bsdtar"]], True, prepare=fresh_dir(d["bsdtar"]),
             check=same_tree(d["bsdtar"], tree)),
        Tool("7zz x", ["7zz", "x", "-y", "-bd", f"-o{d['7zz']}", archive], True, prepare=fresh_dir(d["7zz"]),
             check=same_tree(d["7zz"], tree)),
        Tool("unzip -q", ["unzip", "-q", "-o", archive, "-d", d["unzip"]], True, prepare=fresh_dir(d["unzip"]),
             check=same_tree(d["unzip"], tree)),
    ]


def vcdiff_tools(info, scratch):
    rom = INPUTS / "rom.nds"
    out = {name: scratch / f"vcdiff-{name}.nds" for name in ("ours", "xdelta3")}

    def patched(path):
        return lambda _: Path(path).exists() and file_digest(path) == PATCHED_DIGEST

    return [
        Tool("pelko vcdiff", [CODEC, "vcdiff", rom, PATCH, out["ours"]], False, prepare=remove(out["ours"]),
             check=patched(out["ours"])),
        Tool("xdelta3 -d", ["xdelta3", "-d", "-f", "-s", rom, PATCH, out["xdelta3"]], True,
             prepare=remove(out["xdelta3"]), check=patched(out["xdelta3"])),
    ]


def rom_tools(info, scratch):
    rom = INPUTS / "rom.nds"
    out = {name: scratch / f"rom-{name}.nds" for name in ("ours", "peers")}
    # The launcher's ROM step with the peer tools: the dump's digest, the
    # patch, the patched ROM's digest.
    script = (f'openssl dgst -sha256 "{rom}" && xdelta3 -d -f -s "{rom}" "{PATCH}" "{out["peers"]}" && '
              f'openssl dgst -sha256 "{out["peers"]}"')

    def patched(path):
        return lambda _: Path(path).exists() and file_digest(path) == PATCHED_DIGEST

    return [
        Tool("pelko ROM step", [CODEC, "rom-step", rom, out["ours"]], False, prepare=remove(out["ours"]),
             check=patched(out["ours"]), note="  (digest, patch, write through .part and move, digest)"),
        Tool("peer tools, same steps", ["sh", "-c", script], True, prepare=remove(out["peers"]),
             check=patched(out["peers"]), note="  (openssl, xdelta3 -d, openssl)"),
    ]


def install_tools(info, scratch):
    bundle, rom = info["bundle"], INPUTS / "rom.nds"
    ours, peers = scratch / "install-ours", scratch / "install-peers"
    # The same steps with the peer tools: the bundle's digest, the unpacking,
    # the dump's digest, the patch and the patched ROM's digest.
    script = (f'openssl dgst -sha256 "{bundle}" && bsdtar -xf "{bundle}" -C "{peers}" && '
              f'openssl dgst -sha256 "{rom}" && xdelta3 -d -f -s "{rom}" "{PATCH}" "{peers}/patched.nds" && '
              f'openssl dgst -sha256 "{peers}/patched.nds"')

    def installed(path):
        def check(_):
            rom_ok = file_digest(Path(path) / "patched.nds") == PATCHED_DIGEST
            (Path(path) / "patched.nds").unlink()
            return rom_ok and same_tree(path, INPUTS / "tree")(None)
        return check

    return [
        Tool("pelko install path", [CODEC, "install-path", bundle, info["bundle_sha256"], ours, rom], False,
             prepare=fresh_dir(ours), check=installed(ours)),
        Tool("peer tools, same steps", ["sh", "-c", script], True, prepare=fresh_dir(peers), check=installed(peers),
             note="  (openssl, bsdtar, openssl, xdelta3, openssl)"),
    ]


def install_breakdown(tool):
    """The steps' own times, from the line pelko_codec install-path prints in each round."""
    rounds = []
    for out in tool.outputs:
        rounds.append([float(w) for w in out.replace(",", " ").split() if w.replace(".", "", 1).isdigit()])
    if not rounds or any(len(r) != 3 for r in rounds):
        return []
    bundle, extraction, rom = (statistics.median(column) for column in zip(*rounds))
    return [f"  pelko steps (medians): bundle digest {bundle:.1f} ms, extraction {extraction:.1f} ms, "
            f"ROM digest + patch + write + digest {rom:.1f} ms"]


def machine_line():
    model = "unknown processor"
    flags = set()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name") and model == "unknown processor":
                model = line.split(":", 1)[1].strip()
            if line.startswith("flags") and not flags:
                flags = set(line.split(":", 1)[1].split())
    except OSError:
        pass
    have = ", ".join(f for f in ("sha_ni", "avx2", "pclmulqdq") if f in flags) or "none of sha_ni, avx2, pclmulqdq"
    path = subprocess.run([str(CODEC), "cpu"], capture_output=True, text=True).stdout.strip()
    return f"{model}; {os.cpu_count()} cores; {have}; pelko {path}; {platform.system()} {platform.release()}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=7, help="counted rounds per table (default 7)")
    parser.add_argument("--only", default=",".join(GROUPS), help="tables to run, of " + ",".join(GROUPS))
    parser.add_argument("--fresh-inputs", action="store_true", help="make the inputs again")
    args = parser.parse_args()
    groups = [g for g in args.only.split(",") if g]
    unknown = [g for g in groups if g not in GROUPS]
    if unknown or args.runs < 1:
        parser.error(f"unknown table {unknown}" if unknown else "--runs must be 1 or more")
    for program in (CODEC, MEASURE, ROM_STANDIN, UNZIP):
        if not program.exists():
            raise SystemExit(f"bench: {program} is missing; run bench/run.sh (it builds the bench preset)")

    info = make_inputs(args.fresh_inputs)
    shm = Path("/dev/shm")
    base = shm if shm.is_dir() and os.access(shm, os.W_OK) else None
    scratch = Path(tempfile.mkdtemp(prefix="pelko-bench-", dir=base))
    if base is None:
        log(f"bench: /dev/shm is not available; outputs go to {scratch}, which may not be tmpfs")

    mib = info["corpus_bytes"] / (1 << 20)
    rom_mib = (INPUTS / "rom.nds").stat().st_size / (1 << 20)
    bundle_mib = Path(info["bundle"]).stat().st_size / (1 << 20)
    titles = {
        "sha256": (f"SHA-256 of corpus.bin ({mib:.1f} MiB)", sha256_tools),
        "inflate": (f"Inflate corpus.gz ({(INPUTS / 'corpus.gz').stat().st_size / (1 << 20):.1f} MiB -> "
                    f"{mib:.1f} MiB) to tmpfs", inflate_tools),
        "zip": (f"ZIP extraction of corpus.zip (zip -9, {(INPUTS / 'corpus.zip').stat().st_size / (1 << 20):.1f} MiB, "
                f"{info['files']} files) to tmpfs", zip_tools),
        "vcdiff": (f"VCDIFF apply: rom.nds ({rom_mib:.1f} MiB, read as the launcher reads it) + rom_patch.vcdiff -> tmpfs",
                   vcdiff_tools),
        "rom": (f"ROM step: rom.nds ({rom_mib:.1f} MiB) to patched.nds on tmpfs, as the launcher makes it", rom_tools),
        "install": (f"Install path: bundle digest + extraction ({bundle_mib:.1f} MiB, {info['files']} files) + "
                    f"ROM digest, patch, write, digest", install_tools),
    }

    report = [f"Machine: {machine_line()}",
              f"Each table: median of {args.runs} rounds after a warm-up round, tools alternating; "
              f"whole processes, files in and out; peak memory is the largest resident size.", ""]
    print("\n".join(report), flush=True)
    wrong = False
    try:
        for group in groups:
            title, make_tools = titles[group]
            tools = make_tools(info, scratch)
            time_table(tools, args.runs, scratch)
            extra = install_breakdown(tools[0]) if group == "install" and not tools[0].failed else []
            table = format_table(title, tools, extra)
            wrong = wrong or any(t.failed for t in tools)
            print(table + "\n", flush=True)
            report.append(table + "\n")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    (BUILD / "results.txt").write_text("\n".join(report))
    log(f"bench: tables saved in {(BUILD / 'results.txt').relative_to(ROOT)}")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
