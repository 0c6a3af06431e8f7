#!/usr/bin/env python3
"""Start-up of the commands that need no browser engine: wall time and peak resident memory of
`nepirika --version`, `nepirika --help` and `nepirika download` of nothing (standard input empty),
and for comparison `nepirika harvest --help`, which loads the engine's libraries, and /bin/true,
which shows what the harness itself costs. Each run is a fresh process started through GNU time,
which reports that process's own peak (a child of this script would carry the script's memory);
the figures are the medians of N runs. CPU time (user + system, of GNU time and the program) is
shown besides the wall time: on a busy machine it shows the work itself.

    bench/startup/measure.py [path/to/nepirika] [runs]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

program = sys.argv[1] if len(sys.argv) > 1 else "build/src/app/nepirika"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 50

cases = [
    ("/bin/true", ["/bin/true"]),
    ("--version", [program, "--version"]),
    ("--help", [program, "--help"]),
    ("download (nothing)", [program, "download"]),
    ("harvest --help", [program, "harvest", "--help"]),
]

env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
with tempfile.NamedTemporaryFile() as report:
    print(f"{'command':<22}{'wall ms':>9}{'CPU ms':>8}{'peak MB':>9}")
    for name, argv in cases:
        times, cpu, peaks = [], [], []
        for _ in range(runs):
            start = time.perf_counter()
            child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv, env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            _, _, usage = os.wait4(child.pid, 0)
            child.returncode = 0  # reaped here
            times.append((time.perf_counter() - start) * 1000)
            cpu.append((usage.ru_utime + usage.ru_stime) * 1000)
            with open(report.name) as f:
                peaks.append(int(f.read().split()[-1]) / 1024)  # KiB → MiB
        print(f"{name:<22}{statistics.median(times):>9.1f}{statistics.median(cpu):>8.1f}"
              f"{statistics.median(peaks):>9.1f}")
