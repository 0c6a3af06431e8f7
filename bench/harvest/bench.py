#!/usr/bin/env python3
"""The harvest benchmark: ネピリカ's `nepirika harvest` against Debian's chromium driven by
playwright-core (peer.mjs), on pages served from 127.0.0.1. Run it through run.sh, which builds
what is missing and enters a network namespace with loopback only; this script refuses to run
where anything but loopback is reachable.

Sets of pages:
  real   the saved pages of the corpus, one after another in ONE invocation (addresses on stdin),
         less the pages flagged load-timeout (flagged as never finishing without the network, they
         would only time the 30-second bound; --include-timeout adds them)
  big    a generated page of 100,000 links and 20,000 images, half of each duplicates
  plain  the same elements with no address in them (<a name>, <img title>)
  tiny   a page with one link (start-up and shut-down of each side)
The generated pages call the server from their load event, after forcing layout; the server logs
the time. The big page's records are added "beyond its load" from that call to the last byte of
the harvester's standard output.

ネピリカ runs once per number of pages loaded at a time (--parallel, default 1,2,4,8) with and
without --no-scripts; the peer runs with scripts and, for the records' agreement with
`--no-scripts`, with JavaScript turned off. Only ネピリカ at its default N and the peer with
scripts run the generated sets.
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
    # The page's load event calls home (serve.py logs the time): the harvest's work on the page
    # is what comes after it. The engine lays the page out right after its load event, before it
    # reports the load complete; reading offsetHeight does that layout first, so the call marks
    # the end of loading as the engine reports it, not a moment before the layout.
    tail = ('<script>addEventListener("load", function () {{ void document.body.offsetHeight; '
            'fetch("/__loaded/{}", {{cache: "no-store"}}); }});</script>\n</body></html>\n')
    # Half of the links and half of the images repeat an earlier address (each unique address
    # appears twice), so the harvester's duplicate check is exercised as much as its insertion.
    links = [f'<a href="/p/{i % (BIG_LINKS // 2):06d}.htm">link {i}</a>\n' for i in range(BIG_LINKS)]
    images = [f'<img src="img/{i % (BIG_IMAGES // 2):06d}.jpg" alt="">\n' for i in range(BIG_IMAGES)]
    big = head.format("big") + "".join(links) + "".join(images) + tail.format("big")
    # The same elements and nearly the same bytes, with no address for a harvester to take: an
    # anchor with a name instead of an href is no link, an image with a title instead of a src has
    # no source. Layout and rendering are those of the big page (neither side loads images).
    plain = head.format("big") + "".join(l.replace('<a href="', '<a name="') for l in links) + "".join(
        i.replace('<img src="', '<img title="') for i in images) + tail.format("plain")
    tiny = head.format("tiny") + '<a href="/p/000000.htm">one</a>\n' + tail.format("tiny")
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

    try:
        pw = json.loads((HERE / "node_modules/playwright-core/package.json").read_text())["version"]
    except OSError:
        pw = "(not installed)"
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
    ap.add_argument("--no-peer", action="store_true", help="ネピリカ alone, without the peer")
    ap.add_argument("--limit", type=int, default=0, help="only the first N real pages (a quick try)")
    ap.add_argument("--parallel", default="1,2,4,8", help="the numbers of pages at a time to time")
    ap.add_argument("--no-scripts-too", type=int, default=1, help="also time --no-scripts (1) or not (0)")
    ap.add_argument("--scripts", type=int, default=1, help="time the runs with scripts (1) or not (0)")
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

    beacons = runs / "beacons.log"
    beacons.write_text("")
    server = subprocess.Popen([sys.executable, str(HERE / "serve.py"), str(www), "0", str(beacons)],
                              stdout=subprocess.PIPE, text=True)
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
        parallels = [int(n) for n in args.parallel.split(",") if n]
        default_n = 0
        if args.nepirika:
            usage = subprocess.run([args.nepirika, "harvest", "--help"], capture_output=True, text=True,
                                   env=env).stdout
            found = re.search(r"default (\d+)\)", usage)
            default_n = int(found.group(1)) if found else 0
            for n in sorted(set(parallels + ([default_n] if default_n else []))):
                if args.scripts:
                    sides[f"nepirika-p{n}"] = [args.nepirika, "harvest", "--parallel", str(n)]
                if args.no_scripts_too:
                    sides[f"nepirika-p{n}-ns"] = [args.nepirika, "harvest", "--parallel", str(n), "--no-scripts"]
        main = f"nepirika-p{default_n}"
        if not args.no_peer and args.scripts:
            sides["peer"] = ["node", str(HERE / "peer.mjs"), f"--block={args.peer_block}"]
        if args.no_scripts_too and not args.no_peer:
            sides["peer-ns"] = ["node", str(HERE / "peer.mjs"), f"--block={args.peer_block}", "--no-scripts"]
        sets = [s for s in args.sets.split(",") if s]

        def sides_of(s):
            # The generated pages: ネピリカ at its default and the peer with scripts only.
            return [side for side in sides if s == "real" or side in (main, "peer")]

        results = {}  # (set, side) -> [Measurement]
        records = {}
        failures = {}
        load_before = os.getloadavg()[0]
        for rep in range(args.reps):
            for s in sets:
                order = sides_of(s) if rep % 2 == 0 else list(reversed(sides_of(s)))
                for side in order:
                    stem = runs / f"{s}-{side}-{rep}"
                    logged = beacons.stat().st_size
                    m = measure.run(sides[side], stdin_path=address_files[s], stdout_path=f"{stem}.out",
                                    stderr_path=f"{stem}.err", env=env)
                    # Seconds from the start to the page's load event (the first beacon of this run).
                    with open(beacons) as f:
                        f.seek(logged)
                        calls = [float(line.split()[0]) for line in f if line.strip()]
                    m.loaded = calls[0] - m.start_epoch if calls else 0.0
                    results.setdefault((s, side), []).append(m)
                    with open(f"{stem}.out", "rb") as f:
                        records[(s, side)] = sum(1 for _ in f)
                    err = Path(f"{stem}.err").read_text(errors="replace").splitlines()
                    failures[(s, side)] = sum(1 for l in err if l.startswith(("http://", "https://")))
                    print(f"  rep {rep + 1}/{args.reps} {s:5} {side:16} {m.wall:7.2f} s  cpu {m.cpu:7.2f} s  "
                          f"PSS {kb(m.peak_pss_kb):>9}  RSS {kb(m.peak_rss_kb):>9}  procs {m.peak_processes:2}  "
                          f"records {records[(s, side)]:6}  failed {failures[(s, side)]}  rc {m.returncode}"
                          + (f"  leftovers {len(m.leftovers)}" if m.leftovers else ""), flush=True)
        load_after = os.getloadavg()[0]
    finally:
        server.terminate()
        server.wait()

    def med(s, side, attr):
        return statistics.median(getattr(m, attr) for m in results[(s, side)])

    def beyond(side):
        return statistics.median(m.last_out - m.loaded for m in results[("big", side)])

    summary = [f"Median of {args.reps} runs each (wall and CPU in seconds; memory: peak of the summed "
               f"PSS / RSS of the whole process tree, sampled every 100 ms).", "",
               "| set | side | wall | CPU | peak PSS | peak RSS | processes | records | failed pages |",
               "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    for s in sets:
        for side in sides_of(s):
            summary.append(f"| {s} | {side} | {med(s, side, 'wall'):.2f} | {med(s, side, 'cpu'):.2f} | "
                           f"{kb(med(s, side, 'peak_pss_kb'))} | {kb(med(s, side, 'peak_rss_kb'))} | "
                           f"{med(s, side, 'peak_processes'):.0f} | {records[(s, side)]} | {failures[(s, side)]} |")
    summary.append("")

    def output(side):
        return Path(runs / f"real-{side}-{args.reps - 1}.out").read_text(errors="replace").splitlines()

    if main in sides and "peer" in sides and "real" in sets:
        peer_wall = med("real", "peer", "wall")
        peer_pss = med("real", "peer", "peak_pss_kb")
        summary += [f"Real pages against N (pages at a time); the peer (scripts on) took {peer_wall:.2f} s and "
                    f"{kb(peer_pss)}. The last column compares the output with that of N = {min(parallels)} "
                    f"(pages whose scripts pick addresses at random differ from run to run whatever N is).", "",
                    "| mode | N | wall | CPU | peak PSS | time / peer | memory / peer | same output as the first N |",
                    "|---|---:|---:|---:|---:|---:|---:|---|"]
        for suffix, mode in (("", "scripts"), ("-ns", "--no-scripts")):
            base = f"nepirika-p{min(parallels)}{suffix}"
            for side in sides:
                found = re.fullmatch(r"nepirika-p(\d+)" + re.escape(suffix), side)
                if not found:
                    continue
                if base not in sides:
                    same = "?"
                else:
                    ours, theirs = output(side), output(base)
                    differing = len(set(ours) ^ set(theirs))
                    same = ("yes" if ours == theirs else
                            f"{differing} lines differ" if differing else "same lines, other order")
                summary.append(f"| {mode} | {found.group(1)} | {med('real', side, 'wall'):.2f} | "
                               f"{med('real', side, 'cpu'):.2f} | {kb(med('real', side, 'peak_pss_kb'))} | "
                               f"{med('real', side, 'wall') / peer_wall:.3f} | "
                               f"{med('real', side, 'peak_pss_kb') / peer_pss:.2f} | {same} |")
        summary.append("")
        t = med("real", main, "wall") / peer_wall
        p = med("real", main, "peak_pss_kb") / peer_pss
        summary.append(f"Default N = {default_n}, scripts: {t:.3f}x the peer's time and {p:.2f}x its memory "
                       f"(target at most 0.2x and 0.5x: {'met' if t <= 0.2 and p <= 0.5 else 'MISSED'}).")
        if f"{main}-ns" in sides:
            tn = med("real", f"{main}-ns", "wall") / peer_wall
            against_ns = (f", {med('real', f'{main}-ns', 'wall') / med('real', 'peer-ns', 'wall'):.3f}x that of "
                          f"the peer with JavaScript off" if "peer-ns" in sides else "")
            summary.append(f"Default N, --no-scripts: {tn:.3f}x the peer's time{against_ns} "
                           f"(target at most 0.05x: {'met' if tn <= 0.05 else 'MISSED'}).")
        if f"{main}-ns" in sides and "peer-ns" in sides:
            # The peer collects the classic lists only (links, images, embeds); ネピリカ also reads
            # srcset, lazy loaders' attributes, media, posters and frames, so the agreement asked for is
            # how many of chromium's records ネピリカ gives too.
            a, b = set(output(f"{main}-ns")), set(output("peer-ns"))
            both = len(a & b)
            agreement = both / max(len(b), 1)
            summary.append(f"--no-scripts records against chromium with JavaScript off: {both} in both, "
                           f"{len(b - a)} only chromium's, {len(a - b)} more of ネピリカ's (the sources the "
                           f"peer does not read): {100 * agreement:.2f}% of chromium's records found (target "
                           f"at least 99.9%: {'met' if agreement >= 0.999 else 'MISSED'}).")
        summary.append("")
    for side in (main, "peer"):
        if "big" in sets and side in sides:
            line = (f"Big page, {side}: loaded (load event and layout done) {med('big', side, 'loaded'):.2f} s "
                    f"after start, last record out at {med('big', side, 'last_out'):.2f} s, process ended at "
                    f"{med('big', side, 'wall'):.2f} s: records added {beyond(side):.2f} s beyond the load")
            if side == main:
                line += f" (target < 1 s: {'met' if beyond(side) < 1 else 'MISSED'})"
            if "plain" in sets:
                line += (f"; the page without addresses took {med('plain', side, 'wall'):.2f} s in all "
                         f"(big - plain: {med('big', side, 'wall') - med('plain', side, 'wall'):.2f} s wall, "
                         f"{med('big', side, 'cpu') - med('plain', side, 'cpu'):.2f} s CPU)")
            summary.append(line + ".")

    lines = ["# Harvest benchmark results", "",
             f"{time.strftime('%Y-%m-%d %H:%M %Z')}; the peer's loading: --block={args.peer_block}.", ""]
    lines += [f"- {k}: {v}" for k, v in machine().items()]
    lines.append(f"- load average (1 min): {load_before:.1f} before, {load_after:.1f} after"
                 + (" (other work on the machine: the figures are noisy)" if max(load_before, load_after) > 1.5 else ""))
    lines.append("")
    if "real" in sets:
        lines.append(f"Real set: {len(timed)} pages of the corpus, all in one invocation per side"
                     + (f"; left out: {', '.join(r['name'] + ' (' + r['flags'] + ')' for r in excluded)}"
                        if excluded else "") + ".")
    lines.append(f"Big page: {sizes['big']} bytes, {BIG_LINKS} links and {BIG_IMAGES} images, half of each "
                 f"duplicates; plain page (the same without addresses): {sizes['plain']} bytes; tiny page: "
                 f"{sizes['tiny']} bytes.")
    lines.append("")
    lines += summary
    lines += ["", "Every run:", "", "| run | set | side | wall | CPU | peak PSS | peak RSS | loaded at | last record at | exit |",
              "|---:|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    for (s, side), ms in results.items():
        for rep, m in enumerate(ms):
            lines.append(f"| {rep + 1} | {s} | {side} | {m.wall:.2f} | {m.cpu:.2f} | {kb(m.peak_pss_kb)} | "
                         f"{kb(m.peak_rss_kb)} | {m.loaded:.2f} | {m.last_out:.2f} | {m.returncode} |")
    if all(("real", side) in records for side in (main, "peer")):
        a = set(output(main))
        b = set(output("peer"))
        lines += ["", f"Records of the real set (last run): {len(a & b)} in both, {len(a - b)} only ネピリカ's, "
                  f"{len(b - a)} only the peer's (outputs in {runs})."]
    (out / "harvest-results.md").write_text("\n".join(lines) + "\n")
    print()
    print("\n".join(summary))
    print(f"\nwritten: {out / 'harvest-results.md'}")


if __name__ == "__main__":
    main()
