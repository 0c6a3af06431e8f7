"""Runs one command and measures it as a whole process tree: wall time, CPU time, and the peak of the
summed memory of every process it started (PSS and RSS from /proc/PID/smaps_rollup, sampled every
100 ms). PSS splits pages shared between processes of the tree (the browser engine's libraries,
the renderers' shared memory) so the sum is the tree's real footprint; the RSS sum counts them once
per process and is given for reference."""
import fcntl
import os
import signal
import subprocess
import threading
import time
from dataclasses import dataclass, field


@dataclass
class Measurement:
    wall: float = 0.0  # seconds from start to the exit of the command's own process
    cpu: float = 0.0  # user + system seconds of the whole tree (sampled; or as reaped, if more)
    peak_pss_kb: int = 0
    peak_rss_kb: int = 0
    peak_processes: int = 0
    samples: int = 0
    returncode: int = 0
    start_epoch: float = 0.0  # time.time() at the start
    first_out: float = 0.0  # seconds from the start to the first byte on standard output (0: none)
    last_out: float = 0.0  # seconds from the start to the last byte on standard output (0: none)
    loaded: float = 0.0  # seconds from the start to the page's load event, where the caller knows it
    leftovers: list = field(default_factory=list)  # processes of the tree still alive at its exit


TICK = os.sysconf("SC_CLK_TCK")


def _stat(pid):
    """(ppid, session id, CPU ticks used, start time) of a process, or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            data = f.read()
    except OSError:
        return None
    rest = data[data.rfind(b")") + 2 :].split()
    return int(rest[1]), int(rest[3]), int(rest[11]) + int(rest[12]), int(rest[19])


def _memory_kb(pid):
    pss = rss = 0
    try:
        with open(f"/proc/{pid}/smaps_rollup", "rb") as f:
            for line in f:
                if line.startswith(b"Pss:"):
                    pss = int(line.split()[1])
                elif line.startswith(b"Rss:"):
                    rss = int(line.split()[1])
    except OSError:
        pass
    return pss, rss


def tree(root, ticks=None):
    """The root and all its descendants, and every process of the root's session (a daemonised
    helper that lost its parent stays in the session). With a dict `ticks`, records each member's
    CPU ticks under (pid, start time)."""
    parents = {}
    stats = {}
    members = set()
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        pid = int(name)
        st = _stat(pid)
        if st is None:
            continue
        parents[pid] = st[0]
        stats[pid] = st
        if st[1] == root:
            members.add(pid)
    children = {}
    for pid, ppid in parents.items():
        children.setdefault(ppid, []).append(pid)
    found = set()
    todo = [root] + list(members)
    while todo:
        pid = todo.pop()
        if pid in found or pid not in parents:
            continue
        found.add(pid)
        todo.extend(children.get(pid, ()))
    if ticks is not None:
        for pid in found:
            ticks[(pid, stats[pid][3])] = stats[pid][2]
    return found


def run(argv, stdin_path=None, stdout_path=os.devnull, stderr_path=os.devnull, env=None, interval=0.1,
        limit=3600.0):
    """Runs argv to its end (killing its tree after `limit` seconds) and returns a Measurement."""
    m = Measurement()
    stop = threading.Event()
    ticks = {}
    with open(stdin_path or os.devnull, "rb") as fin, open(stdout_path, "wb") as fout, \
            open(stderr_path, "wb") as ferr:
        m.start_epoch = time.time()
        start = time.monotonic()
        proc = subprocess.Popen(argv, stdin=fin, stdout=subprocess.PIPE, stderr=ferr, env=env,
                                start_new_session=True)
        try:
            # A roomy pipe: the command never waits on this script while it writes.
            fcntl.fcntl(proc.stdout.fileno(), fcntl.F_SETPIPE_SZ, 1 << 20)
        except OSError:
            pass

        def copy_out():
            # Passes standard output on to the file, noting when its first and last bytes came.
            while True:
                chunk = proc.stdout.read1(1 << 16)
                if not chunk:
                    return
                now = time.monotonic() - start
                if not m.first_out:
                    m.first_out = now
                m.last_out = now
                fout.write(chunk)

        copier = threading.Thread(target=copy_out, daemon=True)
        copier.start()

        def sample():
            while True:
                pids = tree(proc.pid, ticks)
                pss = rss = 0
                for pid in pids:
                    p, r = _memory_kb(pid)
                    pss += p
                    rss += r
                m.samples += 1
                m.peak_pss_kb = max(m.peak_pss_kb, pss)
                m.peak_rss_kb = max(m.peak_rss_kb, rss)
                m.peak_processes = max(m.peak_processes, len(pids))
                if stop.wait(interval):
                    return

        sampler = threading.Thread(target=sample, daemon=True)
        sampler.start()

        def kill_tree():
            for pid in tree(proc.pid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass

        watchdog = threading.Timer(limit, kill_tree)
        watchdog.start()
        # wait4 rather than wait: its usage figures include every descendant that was reaped.
        _, status, usage = os.wait4(proc.pid, 0)
        m.wall = time.monotonic() - start
        watchdog.cancel()
        # Processes of the tree that outlived the command (they still count until they are gone).
        leftovers = set()
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            leftovers = {p for p in tree(proc.pid) if p != proc.pid}
            if not leftovers:
                break
            time.sleep(0.1)
        stop.set()
        sampler.join()
        for pid in leftovers:
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    m.leftovers.append(f.read().replace(b"\0", b" ").decode(errors="replace")[:120])
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        copier.join(10)
        proc.stdout.close()
        proc.returncode = os.waitstatus_to_exitcode(status)
        m.returncode = proc.returncode
        m.cpu = max(usage.ru_utime + usage.ru_stime, sum(ticks.values()) / TICK)
    return m
