#!/usr/bin/env python3
"""Serves the files of one folder on 127.0.0.1, each answer held back for a while: a manifest
server on a slow network, for the demo's run that shows the launcher's splash.

usage: late_manifest_server.py FOLDER DELAY_SECONDS PORT_FILE
The port it listens on is written to PORT_FILE once it accepts connections."""
import functools
import http.server
import sys
import time


class LateHandler(http.server.SimpleHTTPRequestHandler):
    delay = 0.0

    def do_GET(self):
        time.sleep(self.delay)
        super().do_GET()

    def log_message(self, format, *args):
        pass


def main():
    folder, delay, port_file = sys.argv[1], float(sys.argv[2]), sys.argv[3]
    LateHandler.delay = delay
    handler = functools.partial(LateHandler, directory=folder)
    with http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler) as server:
        with open(port_file, "w") as out:
            out.write(str(server.server_address[1]))
        server.serve_forever()


if __name__ == "__main__":
    main()
