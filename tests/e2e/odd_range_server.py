#!/usr/bin/env python3
"""Serves the files of a folder on 127.0.0.1 and answers range requests the way odd servers and
CDNs do, for the launcher's tests. Prints the port it listens on as its first line, then serves
until it is stopped.

  --cap N        a range answer carries at most N bytes (a 206 for fewer bytes than asked)
  --gzip-ranges  answers to ranges asked for by offset ("bytes=a-b", not the tail's "bytes=-n")
                 come in Content-Encoding gzip, asked for or not
  --multipart    range answers come as multipart/byteranges, even for one range

A request without a Range header gets the whole file, plainly. Each request is logged to
--log FILE as "<path> <Range or -> <status> <body bytes>".
"""
import argparse
import gzip
import http.server
import os
import re
import sys


def parse_range(header, size):
    """The [start, end) a "bytes=a-b", "bytes=a-" or "bytes=-n" header asks for, or None."""
    match = re.fullmatch(r"bytes=(\d*)-(\d*)", header.strip())
    if not match or (match.group(1) == "" and match.group(2) == ""):
        return None
    if match.group(1) == "":
        return max(0, size - int(match.group(2))), size
    start = int(match.group(1))
    end = size if match.group(2) == "" else min(size, int(match.group(2)) + 1)
    return (start, end) if start < end else None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body leave in one write, without waiting for the client's acknowledgement.
    wbufsize = 1 << 16
    disable_nagle_algorithm = True
    options = None

    def log_message(self, *arguments):
        pass

    def record(self, status, length):
        if self.options.log:
            with open(self.options.log, "a") as log:
                log.write(f"{self.path} {self.headers.get('Range', '-')} {status} {length}\n")

    def answer(self, status, headers, body):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        self.record(status, len(body))

    def do_GET(self):
        path = os.path.join(self.options.folder, self.path.lstrip("/"))
        if not os.path.isfile(path):
            self.answer(404, [("Content-Type", "text/plain")], b"not found\n")
            return
        with open(path, "rb") as file:
            data = file.read()
        asked = self.headers.get("Range")
        span = parse_range(asked, len(data)) if asked else None
        if span is None:
            self.answer(200, [("Content-Type", "application/zip")], data)
            return
        start, end = span
        if self.options.cap:
            end = min(end, start + self.options.cap)
        part = data[start:end]
        content_range = f"bytes {start}-{end - 1}/{len(data)}"
        if self.options.multipart:
            boundary = "a1b2c3d4e5"
            body = (f"--{boundary}\r\nContent-Type: application/zip\r\n"
                    f"Content-Range: {content_range}\r\n\r\n").encode() + part + \
                f"\r\n--{boundary}--\r\n".encode()
            self.answer(206, [("Content-Type", f"multipart/byteranges; boundary={boundary}")],
                        body)
            return
        headers = [("Content-Type", "application/zip"), ("Content-Range", content_range)]
        if self.options.gzip_ranges and not asked.strip().startswith("bytes=-"):
            headers.append(("Content-Encoding", "gzip"))
            part = gzip.compress(part)
        self.answer(206, headers, part)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--cap", type=int, default=0)
    parser.add_argument("--gzip-ranges", action="store_true")
    parser.add_argument("--multipart", action="store_true")
    parser.add_argument("--log", default="")
    Handler.options = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
