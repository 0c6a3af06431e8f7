#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 (HTTP/1.1, threaded, quiet) for the harvest benchmark.

    serve.py ROOT [PORT] [BEACON-LOG]

Prints "port N" on standard output once it listens (PORT 0 or none: a free port), then serves until
it is terminated. A request for /__loaded/NAME (a page's load event calling home) is answered with
204 and, with a BEACON-LOG, appended to it as "EPOCH-SECONDS NAME".
"""
import functools
import http.server
import sys
import time


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # As web servers do on kept-alive connections (nginx's tcp_nodelay): without it, the last
    # piece of each answer waits for the client's delayed acknowledgement, 40 ms an answer.
    disable_nagle_algorithm = True
    beacon_log = None

    def do_GET(self):
        if self.path.startswith("/__loaded/"):
            now = time.time()
            if self.beacon_log:
                with open(self.beacon_log, "a") as log:
                    log.write(f"{now:.6f} {self.path[len('/__loaded/'):]}\n")
            self.send_response(204)
            self.send_header("Content-Length", "0")
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            return
        super().do_GET()

    def log_message(self, format, *args):
        pass


class QuietServer(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        # A browser that stops a page drops its connections, sometimes in the middle of an answer.
        if isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            return
        super().handle_error(request, client_address)


def main():
    if len(sys.argv) not in (2, 3, 4):
        sys.exit("usage: serve.py ROOT [PORT] [BEACON-LOG]")
    if len(sys.argv) == 4:
        QuietHandler.beacon_log = sys.argv[3]
    handler = functools.partial(QuietHandler, directory=sys.argv[1])
    port = int(sys.argv[2]) if len(sys.argv) >= 3 else 0
    server = QuietServer(("127.0.0.1", port), handler)
    server.daemon_threads = True
    print("port", server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
