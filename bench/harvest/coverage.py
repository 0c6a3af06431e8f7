#!/usr/bin/env python3
"""What the harvest takes from the real pages of the corpus, and at what cost: two builds of
`nepirika harvest --json` (BEFORE and AFTER, say the build before a change of the harvest and the one
with it) on the same pages in the same run, taking turns; then, for the frames of those pages, the
other way of reaching a frame's content: loading each frame's document in turn as a page of its own.
Run it through coverage.sh, which enters a network namespace with loopback only.

    coverage.py --before PATH --after PATH [--reps 3] [--corpus DIR] [--out DIR] [--limit N]

Writes OUT/harvest-coverage.md and prints it: records per kind, how the new ones were found (the
"via" of the AFTER build's records), wall and CPU time (median of the runs), and the frames figures.
"""
import argparse
import collections
import json
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

import bench
import measure

HERE = Path(__file__).resolve().parent


def harvest(argv, stdin_path, stem, env):
    m = measure.run(argv + ["harvest", "--json"], stdin_path=stdin_path, stdout_path=f"{stem}.out",
                    stderr_path=f"{stem}.err", env=env)
    records = []
    with open(f"{stem}.out", encoding="utf-8", errors="replace") as f:
        for line in f:
            try:
                records.append(json.loads(line))
            except ValueError:
                pass
    return m, records


def kinds(records):
    return collections.Counter(r.get("kind", "?") for r in records)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--before", required=True)
    ap.add_argument("--after", required=True)
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--corpus", default=str(HERE.parents[2] / "shared/corpus"))
    ap.add_argument("--out", default=str(HERE.parent / "out"))
    ap.add_argument("--limit", type=int, default=0, help="only the first N pages (a quick try)")
    args = ap.parse_args()

    if not bench.loopback_only():
        sys.exit("coverage.py: a network other than loopback is up; run it through coverage.sh")

    corpus, out = Path(args.corpus), Path(args.out)
    www, runs = out / "www", out / "coverage-runs"
    www.mkdir(parents=True, exist_ok=True)
    runs.mkdir(parents=True, exist_ok=True)
    bench.unpack_corpus(corpus, www)
    manifest = bench.read_manifest(corpus)
    timed = [r for r in manifest if "load-timeout" not in r["flags"]]
    if args.limit:
        timed = timed[: args.limit]

    server = subprocess.Popen([sys.executable, str(HERE / "serve.py"), str(www), "0"], stdout=subprocess.PIPE,
                              text=True)
    try:
        base = f"http://127.0.0.1:{int(server.stdout.readline().split()[1])}"
        pages = runs / "real.txt"
        pages.write_text("".join(f"{base}/pages/{r['name']}/index.html\n" for r in timed))
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1")
        sides = {"before": [args.before], "after": [args.after]}
        results = collections.defaultdict(list)
        found = {}
        load_before = os.getloadavg()[0]
        for rep in range(args.reps):
            for side in (list(sides) if rep % 2 == 0 else list(reversed(sides))):
                m, records = harvest(sides[side], pages, runs / f"{side}-{rep}", env)
                results[side].append(m)
                found[side] = records
                print(f"  rep {rep + 1}/{args.reps} {side:6} {m.wall:7.2f} s  cpu {m.cpu:7.2f} s  "
                      f"PSS {m.peak_pss_kb / 1024:6.0f} MiB  records {len(records)}  rc {m.returncode}", flush=True)

        # The other way to a frame's content: each frame's document loaded as a page of its own, in
        # the same hidden browser, one after another (frames of frames not followed).
        frame_pages = sorted({r["url"] for r in found["after"]
                              if r.get("via") in ("iframe@src", "frame@src") and r["url"].startswith("http")})
        frames_file = runs / "frames.txt"
        frames_file.write_text("".join(u + "\n" for u in frame_pages))
        frame_runs = []
        frame_records = []
        if frame_pages:
            for rep in range(args.reps):
                m, frame_records = harvest(sides["after"], frames_file, runs / f"frames-{rep}", env)
                frame_runs.append(m)
                print(f"  rep {rep + 1}/{args.reps} frames {m.wall:7.2f} s  cpu {m.cpu:7.2f} s  "
                      f"records {len(frame_records)}", flush=True)
        load_after = os.getloadavg()[0]
    finally:
        server.terminate()
        server.wait()

    med = lambda ms, a: statistics.median(getattr(m, a) for m in ms)
    kb, ka = kinds(found["before"]), kinds(found["after"])
    wall_b, wall_a = med(results["before"], "wall"), med(results["after"], "wall")
    cpu_b, cpu_a = med(results["before"], "cpu"), med(results["after"], "cpu")
    pss_b, pss_a = med(results["before"], "peak_pss_kb"), med(results["after"], "peak_pss_kb")
    growth = wall_a / wall_b - 1
    vias = collections.Counter()
    for r in found["after"]:
        if r.get("kind") in ("image", "embed"):
            via = r.get("via", "?")
            vias[via.split(">")[-1] + (" (frame)" if "frame>" in via else "") +
                 (" (shadow root)" if "shadow>" in via else "")] += 1
    # The records that only the after build gives (and the reverse), by how they were found: what a
    # change of the harvest brings, apart from the pages whose scripts pick addresses at random.
    key = lambda r: (r.get("kind"), r.get("url"), r.get("source"))
    before_keys, after_keys = {key(r) for r in found["before"]}, {key(r) for r in found["after"]}
    gained = collections.Counter(r.get("via", "?").split(">")[-1] for r in found["after"]
                                 if key(r) not in before_keys)
    lost = collections.Counter(r.get("via", "?").split(">")[-1] for r in found["before"]
                               if key(r) not in after_keys)
    in_frames = [r for r in found["after"] if "frame>" in r.get("via", "")]
    lines = ["# Harvest coverage: before and after", "",
             f"{time.strftime('%Y-%m-%d %H:%M %Z')}; {len(timed)} pages of the corpus in one invocation per run, "
             f"median of {args.reps} runs, the two builds taking turns; load average {load_before:.1f} before, "
             f"{load_after:.1f} after.", "",
             "| records | before | after | more |", "|---|---:|---:|---:|"]
    for k in ("page", "image", "embed", "script"):
        lines.append(f"| {k} | {kb[k]} | {ka[k]} | {ka[k] - kb[k]:+d} |")
    lines.append(f"| all | {len(found['before'])} | {len(found['after'])} | "
                 f"{len(found['after']) - len(found['before']):+d} |")
    lines += ["", f"Time: wall {wall_b:.2f} s before, {wall_a:.2f} s after ({growth * 100:+.1f} %; target at most "
              f"+10 %: {'met' if growth <= 0.10 else 'MISSED'}); CPU {cpu_b:.2f} s before, {cpu_a:.2f} s after "
              f"({(cpu_a / cpu_b - 1) * 100:+.1f} %); peak PSS of the process tree {pss_b / 1024:.0f} MiB before, "
              f"{pss_a / 1024:.0f} MiB after ({(pss_a / pss_b - 1) * 100:+.1f} %).", "",
              "Image and embed records of the after build by how they were found:", "",
              "| via | records |", "|---|---:|"]
    lines += [f"| {v} | {n} |" for v, n in vias.most_common()]
    lines += ["", f"Records of the after build that the before build did not give ({sum(gained.values())}), and "
              f"the reverse ({sum(lost.values())}), by how they were found (last run of each):", "",
              "| via | only after | only before |", "|---|---:|---:|"]
    lines += [f"| {v} | {gained[v]} | {lost[v]} |" for v in sorted(set(gained) | set(lost),
                                                                    key=lambda v: -(gained[v] + lost[v]))]
    local = sum(1 for u in frame_pages if u.startswith("http://127.0.0.1:"))
    lines += ["", f"Frames: the pages name {len(frame_pages)} distinct frame addresses ({local} on loopback, the "
              f"others unreachable here). Collected "
              f"from inside the page (a collector in every frame): {len(in_frames)} records from frames, at no "
              f"extra load."]
    if frame_runs:
        lines.append(f"Loading each frame's document in turn instead: {len(frame_records)} records "
                     f"(counting the frames' own pages again), {med(frame_runs, 'wall'):.2f} s wall and "
                     f"{med(frame_runs, 'cpu'):.2f} s CPU more, on top of the pages' own harvest.")
    text = "\n".join(lines) + "\n"
    (out / "harvest-coverage.md").write_text(text)
    print()
    print(text)


if __name__ == "__main__":
    main()
