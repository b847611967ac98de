#!/usr/bin/python3
"""Serves the files of a folder over HTTP on 127.0.0.1 for the tests.

A request's path names a file below --root (the query string is ignored, so
"/lookup2.php?toc=..." serves the file "lookup2.php"); a missing file, or a
path that leaves the folder, is answered 404. Every request is appended to
--log as one JSON object per line: {"path", "query", "agent"}. The chosen
port is printed as "PORT <n>" on standard output.
"""

import argparse
import http.server
import json
import os
import sys
import threading
import urllib.parse


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    os.makedirs(args.root, exist_ok=True)
    root = os.path.realpath(args.root)
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *unused):
            pass

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            path = urllib.parse.unquote(url.path)
            try:
                with lock, open(args.log, "a", encoding="utf-8") as log:
                    log.write(json.dumps({"path": path, "query": url.query,
                                          "agent": self.headers.get("User-Agent", "")}) + "\n")
            except OSError:
                pass  # the test took the folder away: serve on, unlogged
            file = os.path.realpath(os.path.join(root, path.lstrip("/")))
            if not file.startswith(root + os.sep) or not os.path.isfile(file):
                self.send_error(404)
                return
            with open(file, "rb") as f:
                body = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
