#!/usr/bin/env python3
"""Runs one command, sampling the memory of its whole process tree (the engine's processes
included), and prints: wall seconds, peak resident MiB of the tree, exit status.

   measure.py OUTFILE -- COMMAND...
"""
import os
import subprocess
import sys
import time

out = sys.argv[1]
command = sys.argv[sys.argv.index("--") + 1:]


def tree_rss(root):
    children = {}
    rss = {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            ppid = int(fields[1])
            with open("/proc/%s/statm" % pid) as f:
                pages = int(f.read().split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(ppid, []).append(int(pid))
        rss[int(pid)] = pages * os.sysconf("SC_PAGE_SIZE")
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo.extend(children.get(pid, []))
    return total


start = time.monotonic()
with open(out, "wb") as o:
    p = subprocess.Popen(command, stdout=o, stderr=subprocess.DEVNULL)
    peak = 0
    while p.poll() is None:
        peak = max(peak, tree_rss(p.pid))
        time.sleep(0.05)
wall = time.monotonic() - start
print("%.2f %.0f %d" % (wall, peak / (1 << 20), p.returncode))
