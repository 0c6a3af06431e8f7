#!/usr/bin/env python3
"""Recall of the harvest against the peer (Debian's chromium at 1280 x 720, peer.mjs): the share of the
peer's records that a harvest gives too, and the peer's own noise floor, the share of one peer run's
records that another run gives (pages whose scripts pick addresses at random, or that time out, differ
from run to run). Reads the outputs that run.sh and coverage.sh left; runs nothing.

    recall.py PEER-OUT PEER-OUT [NAME=HARVEST-OUT ...]

A harvest output is either `nepirika harvest`'s lines ("kind<TAB>url") or its --json lines.
"""
import json
import re
import sys

# The runs' servers listen on ports of their own.
PORT = re.compile(r"//127\.0\.0\.1:\d+")


def records(path):
    out = set()
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("{"):
                try:
                    r = json.loads(line)
                except ValueError:
                    continue
                line = f"{r.get('kind')}\t{r.get('url')}"
            if "\t" in line:
                out.add(PORT.sub("//127.0.0.1:PORT", line))
    return out


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    first, second = records(sys.argv[1]), records(sys.argv[2])
    print(f"peer against itself: {100 * len(first & second) / max(len(second), 1):.2f} % of {len(second)} records "
          f"(noise floor)")
    for arg in sys.argv[3:]:
        name, path = arg.split("=", 1)
        ours = records(path)
        for i, peer in enumerate((first, second)):
            print(f"{name} against peer run {i + 1}: {100 * len(peer & ours) / max(len(peer), 1):.2f} % of "
                  f"{len(peer)} records ({len(peer - ours)} missing, {len(ours - peer)} more of ours)")


if __name__ == "__main__":
    main()
