#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 (HTTP/1.1, threaded, quiet) for the harvest benchmark.

    serve.py ROOT [PORT]

Prints "port N" on standard output once it listens (PORT 0 or none: a free port), then serves until
it is terminated.
"""
import functools
import http.server
import sys


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: serve.py ROOT [PORT]")
    handler = functools.partial(QuietHandler, directory=sys.argv[1])
    port = int(sys.argv[2]) if len(sys.argv) == 3 else 0
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    server.daemon_threads = True
    print("port", server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
