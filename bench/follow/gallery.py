#!/usr/bin/env python3
"""The follow benchmark's gallery on loopback: an index of COUNT thumbnails, each a link to a detail
page that shows one 4000 x 3000 JPEG (about 2 MB). Also serves list.txt: the index and the COUNT
detail pages, one address a line, for the run that is given them all.

   gallery.py PORT [COUNT]
"""
import http.server
import struct
import sys

port = int(sys.argv[1])
count = int(sys.argv[2]) if len(sys.argv) > 2 else 200


def jpeg(w, h, size):
    head = b"\xff\xd8" + b"\xff\xe0" + struct.pack(">H", 16) + b"JFIF\0\1\1\0\0\1\0\1\0\0"
    head += b"\xff\xc0" + struct.pack(">HBHHB", 17, 8, h, w, 3) + b"\x01\x22\0\x02\x11\x01\x03\x11\x01"
    return head + bytes(size - len(head))


def png(w, h):
    return b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0) + bytes(2000)


FULL = jpeg(4000, 3000, 2 << 20)
THUMB = png(160, 120)
base = "http://127.0.0.1:%d" % port
index = ("<!doctype html><meta charset=utf-8><title>gallery</title><h1>gallery</h1>" + "".join(
    '<a href="/photo/%d.html"><img src="/th/%d.png" width=160 height=120></a>\n' % (i, i)
    for i in range(count))).encode()
detail = ('<!doctype html><meta charset=utf-8><title>photo %d</title><p><a href="/index.html">back</a>'
          '<img src="/full/%d.jpg" width=4000 height=3000>')
listing = "\n".join([base + "/index.html"] + ["%s/photo/%d.html" % (base, i) for i in range(count)]).encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, kind, body):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        path = self.path.split("?")[0]
        if path == "/index.html":
            return self.send(200, "text/html; charset=utf-8", index)
        if path == "/list.txt":
            return self.send(200, "text/plain", listing)
        if path.startswith("/photo/"):
            n = int(path[7:].split(".")[0])
            return self.send(200, "text/html; charset=utf-8", (detail % (n, n)).encode())
        if path.startswith("/th/"):
            return self.send(200, "image/png", THUMB)
        if path.startswith("/full/"):
            # A range from the probe: only what it asks for.
            r = self.headers.get("Range", "")
            if r.startswith("bytes="):
                a, _, b = r[6:].partition("-")
                a = int(a or 0)
                b = min(int(b) if b else len(FULL) - 1, len(FULL) - 1)
                self.send_response(206)
                self.send_header("Content-Type", "image/jpeg")
                self.send_header("Content-Range", "bytes %d-%d/%d" % (a, b, len(FULL)))
                self.send_header("Content-Length", str(b - a + 1))
                self.end_headers()
                self.wfile.write(FULL[a:b + 1])
                return
            return self.send(200, "image/jpeg", FULL)
        return self.send(404, "text/plain", b"not here")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # the probes close connections once they have read a header


Server(("127.0.0.1", port), Handler).serve_forever()
