#!/usr/bin/env python3
"""The harvest benchmark: ネピリカ's `nepirika harvest` against Debian's chromium driven by
playwright-core (peer.mjs), on pages served from 127.0.0.1. Run it through run.sh, which builds
what is missing and enters a network namespace with loopback only; this script refuses to run
where anything but loopback is reachable.

Sets of pages:
  real   the saved pages of the corpus, one after another in ONE invocation (addresses on stdin),
         less the pages flagged load-timeout (they never finish without the network, so they
         would only time the 30-second bound; --include-timeout adds them)
  big    a generated page of 100,000 links and 20,000 images, half of each duplicates
  plain  a page of the same size and element count with no links and no images
  tiny   a page with one link (start-up and shut-down of each side)
The big page's harvest beyond its load is big - plain (same bytes to fetch, parse and lay out).
"""
import argparse
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tarfile
import time
from pathlib import Path

import measure

HERE = Path(__file__).resolve().parent

BIG_LINKS = 100_000
BIG_IMAGES = 20_000


def loopback_only():
    """True when no network interface but loopback is up in this process's network namespace."""
    try:
        shown = subprocess.run(["ip", "-o", "link", "show", "up"], capture_output=True, text=True,
                               check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return False
    names = [line.split(":")[1].strip().split("@")[0] for line in shown.splitlines() if ":" in line]
    return names == ["lo"]


def unpack_corpus(corpus, www):
    archive = corpus / "pages.tar.xz"
    stamp = www / ".corpus-stamp"
    key = f"{archive.stat().st_size} {archive.stat().st_mtime_ns}"
    if stamp.exists() and stamp.read_text() == key and (www / "pages").is_dir():
        return
    if (www / "pages").exists():
        shutil.rmtree(www / "pages")
    with tarfile.open(archive) as tar:
        tar.extractall(www, filter="data")
    stamp.write_text(key)


def generate_pages(www):
    gen = www / "gen"
    gen.mkdir(parents=True, exist_ok=True)
    head = '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>{}</title></head><body>\n'
    tail = "</body></html>\n"
    # Half of the links and half of the images repeat an earlier address (each unique address
    # appears twice), so the harvester's duplicate check is exercised as much as its insertion.
    links = [f'<a href="/p/{i % (BIG_LINKS // 2):06d}.htm">link {i}</a>\n' for i in range(BIG_LINKS)]
    images = [f'<img src="img/{i % (BIG_IMAGES // 2):06d}.jpg" alt="">\n' for i in range(BIG_IMAGES)]
    big = head.format("big") + "".join(links) + "".join(images) + tail
    # The same bytes and elements, with no address for a harvester to take: <a href="..">..</a>
    # becomes <b name="..">..</b>, <img src=".." alt=""> becomes <s title="..">   </s> (same lengths).
    plain = head.format("big") + "".join(
        l.replace('<a href="', '<b name="').replace("</a>", "</b>") for l in links) + "".join(
        i.replace('<img src="', '<s title="').replace('" alt="">', '">   </s>') for i in images) + tail
    tiny = head.format("tiny") + '<a href="/p/000000.htm">one</a>\n' + tail
    for name, text in (("big.html", big), ("plain.html", plain), ("tiny.html", tiny)):
        path = gen / name
        if not path.exists() or path.read_text() != text:
            tmp = path.with_suffix(".tmp")
            tmp.write_text(text)
            tmp.replace(path)
    return {n: (gen / f"{n}.html").stat().st_size for n in ("big", "plain", "tiny")}


def read_manifest(corpus):
    rows = []
    with open(corpus / "manifest.tsv", encoding="utf-8") as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            if line.strip():
                rows.append(dict(zip(header, line.rstrip("\n").split("\t"))))
    return rows


def machine():
    cpu = "?"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    mem_kb = int(Path("/proc/meminfo").read_text().split()[1])
    osname = "?"
    for line in Path("/etc/os-release").read_text().splitlines():
        if line.startswith("PRETTY_NAME="):
            osname = line.split("=", 1)[1].strip('"')

    def version(argv):
        try:
            return subprocess.run(argv, capture_output=True, text=True, timeout=30).stdout.strip().splitlines()[0]
        except (OSError, IndexError, subprocess.SubprocessError):
            return "?"

    pw = json.loads((HERE / "node_modules/playwright-core/package.json").read_text())["version"]
    qt = version(["dpkg-query", "-W", "-f", "${Version}", "libqt6webenginecore6"])
    return {
        "cpu": cpu,
        "cores": os.cpu_count(),
        "memory": f"{mem_kb / 1048576:.0f} GiB",
        "os": osname,
        "kernel": platform.release(),
        "chromium": version(["/usr/lib/chromium/chromium", "--version"]),
        "playwright-core": pw,
        "node": version(["node", "--version"]),
        "qtwebengine": qt,
    }


def kb(v):
    return f"{v / 1024:.0f} MiB"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--nepirika", help="the nepirika executable (absent: the peer alone)")
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--corpus", default=str(HERE.parents[2] / "shared/corpus"))
    ap.add_argument("--out", default=str(HERE.parent / "out"))
    ap.add_argument("--sets", default="real,big,plain,tiny")
    ap.add_argument("--include-timeout", action="store_true",
                    help="also time the pages that never finish loading (each costs the 30 s bound)")
    ap.add_argument("--peer-block", default="flag", choices=("route", "flag", "none"))
    ap.add_argument("--limit", type=int, default=0, help="only the first N real pages (a quick try)")
    args = ap.parse_args()

    if not loopback_only():
        sys.exit("bench.py: a network other than loopback is up; run it through run.sh "
                 "(unshare -n) so that the saved pages cannot reach the hosts they name")

    corpus = Path(args.corpus)
    out = Path(args.out)
    www = out / "www"
    runs = out / "harvest-runs"
    www.mkdir(parents=True, exist_ok=True)
    runs.mkdir(parents=True, exist_ok=True)
    print("preparing pages ...", flush=True)
    unpack_corpus(corpus, www)
    sizes = generate_pages(www)
    manifest = read_manifest(corpus)

    server = subprocess.Popen([sys.executable, str(HERE / "serve.py"), str(www)], stdout=subprocess.PIPE,
                              text=True)
    try:
        port = int(server.stdout.readline().split()[1])
        base = f"http://127.0.0.1:{port}"
        timed = [r for r in manifest if args.include_timeout or "load-timeout" not in r["flags"]]
        excluded = [r for r in manifest if r not in timed]
        if args.limit:
            timed = timed[: args.limit]
        address_files = {}
        (runs / "real.txt").write_text("".join(f"{base}/pages/{r['name']}/index.html\n" for r in timed))
        address_files["real"] = runs / "real.txt"
        for name in ("big", "plain", "tiny"):
            (runs / f"{name}.txt").write_text(f"{base}/gen/{name}.html\n")
            address_files[name] = runs / f"{name}.txt"

        sides = {}
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1")
        if args.nepirika:
            sides["nepirika"] = [args.nepirika, "harvest"]
        sides["peer"] = ["node", str(HERE / "peer.mjs"), f"--block={args.peer_block}"]
        sets = [s for s in args.sets.split(",") if s]

        results = {}  # (set, side) -> [Measurement]
        records = {}
        failures = {}
        load_before = os.getloadavg()[0]
        for rep in range(args.reps):
            order = list(sides) if rep % 2 == 0 else list(reversed(sides))
            for s in sets:
                for side in order:
                    stem = runs / f"{s}-{side}-{rep}"
                    m = measure.run(sides[side], stdin_path=address_files[s], stdout_path=f"{stem}.out",
                                    stderr_path=f"{stem}.err", env=env)
                    results.setdefault((s, side), []).append(m)
                    with open(f"{stem}.out", "rb") as f:
                        records[(s, side)] = sum(1 for _ in f)
                    err = Path(f"{stem}.err").read_text(errors="replace").splitlines()
                    failures[(s, side)] = sum(1 for l in err if l.startswith(("http://", "https://")))
                    print(f"  rep {rep + 1}/{args.reps} {s:5} {side:8} {m.wall:7.2f} s  cpu {m.cpu:7.2f} s  "
                          f"PSS {kb(m.peak_pss_kb):>9}  RSS {kb(m.peak_rss_kb):>9}  procs {m.peak_processes:2}  "
                          f"records {records[(s, side)]:6}  failed {failures[(s, side)]}  rc {m.returncode}"
                          + (f"  leftovers {len(m.leftovers)}" if m.leftovers else ""), flush=True)
        load_after = os.getloadavg()[0]
    finally:
        server.terminate()
        server.wait()

    def med(s, side, attr):
        return statistics.median(getattr(m, attr) for m in results[(s, side)])

    lines = []
    lines.append("# Harvest benchmark results\n")
    lines.append(f"{time.strftime('%Y-%m-%d %H:%M %Z')}, median of {args.reps} runs each; "
                 f"peer blocks: {args.peer_block}.\n")
    info = machine()
    lines.append("Machine: " + ", ".join(f"{k} {v}" for k, v in info.items()) + "\n")
    lines.append(f"Real set: {len(timed)} pages in one invocation each side"
                 + (f"; excluded: {', '.join(r['name'] + ' (' + r['flags'] + ')' for r in excluded)}" if excluded else "")
                 + f". Big page {sizes['big']} bytes ({BIG_LINKS} links, {BIG_IMAGES} images, half duplicates); "
                 f"plain page {sizes['plain']} bytes; tiny page {sizes['tiny']} bytes. "
                 f"Load average (1 min) {load_before:.1f} before, {load_after:.1f} after"
                 f"{' (other work on the machine: figures are noisy)' if max(load_before, load_after) > 1.5 else ''}.\n")
    lines.append("| set | side | wall s | CPU s | peak PSS | peak RSS | processes | records | failed pages |")
    lines.append("|---|---|---:|---:|---:|---:|---:|---:|---:|")
    for s in sets:
        for side in sides:
            lines.append(f"| {s} | {side} | {med(s, side, 'wall'):.2f} | {med(s, side, 'cpu'):.2f} | "
                         f"{kb(med(s, side, 'peak_pss_kb'))} | {kb(med(s, side, 'peak_rss_kb'))} | "
                         f"{med(s, side, 'peak_processes'):.0f} | {records[(s, side)]} | {failures[(s, side)]} |")
    lines.append("")
    if "nepirika" in sides and "real" in sets:
        t = med("real", "nepirika", "wall") / med("real", "peer", "wall")
        p = med("real", "nepirika", "peak_pss_kb") / med("real", "peer", "peak_pss_kb")
        lines.append(f"Real pages, ネピリカ / peer: time {t:.2f}x, peak PSS {p:.2f}x "
                     f"(target: time <= 1, memory < 1: {'met' if t <= 1 and p < 1 else 'MISSED'}).")
    for side in sides:
        if all(s in sets for s in ("big", "plain")):
            extra = med("big", side, "wall") - med("plain", side, "wall")
            load = med("plain", side, "wall") - (med("tiny", side, "wall") if "tiny" in sets else 0)
            line = (f"Big page, {side}: total {med('big', side, 'wall'):.2f} s, the same page without "
                    f"addresses {med('plain', side, 'wall'):.2f} s (load beyond start-up {load:.2f} s): "
                    f"harvest beyond load {extra:.2f} s")
            if side == "nepirika":
                line += f" (target < 1 s: {'met' if extra < 1 else 'MISSED'})"
            lines.append(line + ".")
    if all(("real", side) in records for side in ("nepirika", "peer")):
        a = set(Path(runs / f"real-nepirika-{args.reps - 1}.out").read_text(errors="replace").splitlines())
        b = set(Path(runs / f"real-peer-{args.reps - 1}.out").read_text(errors="replace").splitlines())
        lines.append(f"Records of the real set: {len(a & b)} in both, {len(a - b)} only ネピリカ's, "
                     f"{len(b - a)} only the peer's (outputs in {runs}).")
    text = "\n".join(lines) + "\n"
    (out / "harvest-results.md").write_text(text)
    print()
    print(text)
    print(f"written: {out / 'harvest-results.md'}")


if __name__ == "__main__":
    main()
