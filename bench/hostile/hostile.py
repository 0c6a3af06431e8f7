#!/usr/bin/env python3
"""Generates the hostile pages, serves them (and some real pages) on 127.0.0.1, and runs
`nepirika harvest` on each, with scripts and with --no-scripts, measuring the peak PSS of the whole
process tree (see ../harvest/measure.py)."""
import argparse
import os
import subprocess
import sys
import tarfile
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harvest"))
import measure  # noqa: E402


def write_pages(folder):
    # 2,000 data: images of 100 KB each (about 200 MB of address text).
    payload = "A" * (100 * 1024)
    with open(os.path.join(folder, "images.html"), "w") as f:
        f.write("<!doctype html><title>images</title>\n")
        for i in range(2000):
            f.write(f'<img src="data:image/png;base64,{i:08d}{payload}">\n')
    # 200,000 links of 1 KB each (about 200 MB).
    tail = "x" * 1000
    with open(os.path.join(folder, "links.html"), "w") as f:
        f.write("<!doctype html><title>links</title>\n")
        for i in range(200000):
            f.write(f'<a href="/l/{i:08d}/{tail}">{i}</a>\n')


def corpus_pages(corpus, folder, count):
    """Unpacks the corpus into folder and gives the paths of the first `count` real pages."""
    with tarfile.open(os.path.join(corpus, "pages.tar.xz")) as tar:
        tar.extractall(folder)
    names = []
    with open(os.path.join(corpus, "manifest.tsv")) as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            row = dict(zip(header, line.rstrip("\n").split("\t")))
            if row.get("kind") == "real" and row.get("flags", "-") in ("", "-"):
                names.append(row["name"])
    return [f"pages/{n}/index.html" for n in sorted(names)[:count]]


def harvest(nepirika, args, urls, label, out):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1")
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
        f.write("\n".join(urls) + "\n")
        listing = f.name
    m = measure.run([nepirika, "harvest", *args], stdin_path=listing, stdout_path=out,
                    stderr_path=out + ".err", env=env, limit=1800)
    os.unlink(listing)
    with open(out, "rb") as f:
        records = sum(1 for _ in f)
    with open(out + ".err", "rb") as f:
        report = f.read().decode(errors="replace").strip().replace("\n", " | ")[:160]
    print(f"| {label} | {' '.join(args) or '(scripts)'} | {m.peak_pss_kb / 1024:,.0f} MB | "
          f"{m.peak_rss_kb / 1024:,.0f} MB | {m.wall:.1f} s | {records:,} | {report} |", flush=True)
    return m


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--nepirika", required=True)
    p.add_argument("--corpus", required=True)
    p.add_argument("--corpus-pages", type=int, default=20)
    p.add_argument("--only", default="")
    a = p.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        write_pages(folder)
        real = corpus_pages(a.corpus, folder, a.corpus_pages) if a.corpus_pages else []
        server = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(measure.__file__), "serve.py"),
                                   folder], stdout=subprocess.PIPE, text=True)
        port = int(server.stdout.readline().split()[1])
        base = f"http://127.0.0.1:{port}/"
        out = os.path.join(folder, "out.tsv")
        print("| page | options | peak PSS | peak RSS | time | records | report |")
        print("|---|---|---|---|---|---|---|")
        try:
            for name in ("images", "links"):
                if a.only and a.only != name:
                    continue
                for args in ([], ["--no-scripts"]):
                    harvest(a.nepirika, args, [base + name + ".html"], name, out)
            if real and (not a.only or a.only == "corpus"):
                for args in (["--no-scripts", "--parallel", "1"], ["--no-scripts", "--parallel", "4"]):
                    harvest(a.nepirika, args, [base + r for r in real], f"{len(real)} real pages", out)
        finally:
            server.terminate()


if __name__ == "__main__":
    main()
