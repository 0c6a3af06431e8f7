#!/usr/bin/env python3
"""Reads what run.sh left in its folder and prints the probe benchmark's table.

   measure.py FOLDER RUNS
"""
import collections
import json
import os
import statistics
import sys

folder, runs = sys.argv[1], int(sys.argv[2])
expected = {}
with open(os.path.join(folder, "www", "expected.tsv")) as f:
    for line in f:
        name, mime, w, h, size = line.rstrip("\n").split("\t")
        expected[name] = (mime, int(w), int(h), int(size))
big = sum(1 for e in expected.values() if e[3] >= 20 << 20)

times = collections.defaultdict(list)
with open(os.path.join(folder, "times.txt")) as f:
    for line in f:
        mode, _, ms = line.split()
        times[mode].append(int(ms) / 1000)


def moved(mode, run):
    per = collections.Counter()
    requests = 0
    with open(os.path.join(folder, "%s-%d.log" % (mode, run))) as f:
        for line in f:
            uri, status, sent = line.split()[:3]
            if uri.startswith("/img"):
                per[uri[1:]] += int(sent)
                requests += 1
    return per, requests


def checked(run):
    right, wrong = 0, []
    with open(os.path.join(folder, "probe-%d.jsonl" % run)) as f:
        for line in f:
            r = json.loads(line)
            if r.get("kind") != "image":
                continue
            name = r["url"].rsplit("/", 1)[-1]
            got = (r.get("type"), r.get("width"), r.get("height"), r.get("bytes"))
            if got == expected.get(name):
                right += 1
            else:
                wrong.append("%s: %s, not %s" % (name, got, expected.get(name)))
    return right, wrong


print("%d images (%d of 20 to 40 MB), %d runs; median wall time of `nepirika harvest --no-scripts --json`"
      % (len(expected), big, runs))
print()
print("| run | wall | facts right | requests | most bytes for one image | bytes in all |")
print("|---|---:|---:|---:|---:|---:|")
for mode in ("plain", "probe"):
    per, requests = moved(mode, runs)
    right = "—"
    if mode == "probe":
        right, wrong = checked(runs)
        for w in wrong[:10]:
            print("wrong:", w, file=sys.stderr)
        right = "%d / %d" % (right, len(expected))
    print("| %s | %.2f s | %s | %d | %s | %s |" % (
        "with --probe" if mode == "probe" else "without --probe", statistics.median(times[mode]), right,
        requests, "%d KiB" % (max(per.values()) // 1024) if per else "—",
        "%.1f MiB" % (sum(per.values()) / 1048576) if per else "—"))
probe = statistics.median(times["probe"]) - statistics.median(times["plain"])
print()
print("Probing the %d images took %.2f s beyond the harvest alone (medians: %s against %s)." % (
    len(expected), probe, ", ".join("%.2f" % t for t in times["probe"]),
    ", ".join("%.2f" % t for t in times["plain"])))
