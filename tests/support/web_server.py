#!/usr/bin/python3
"""A web service on 127.0.0.1 for the tests: serves the files of a folder.

GET /a/b?query answers the file ROOT/a/b, or ROOT/a/b.xml when that exists
(XML is sent as application/xml, other files by their first bytes), and 404
with a small XML error when there is neither - as the MusicBrainz web service
and the cover art archive answer.

ROOT/faults.json, read at every request, makes paths misbehave: each key is
a path prefix, each value an object with
  "status": N          answer that HTTP status (with "retry_after": S, a
                       Retry-After header), for the first "times" requests
                       only when "times" is given;
  "body": TEXT         answer TEXT (one byte a character) in place of the file;
  "huge": BYTES        answer that many bytes (a JPEG start, then zeros);
  "delay": SECONDS     wait before answering;
  "redirect": PATH     answer 307 to PATH on this server.

Every request is appended to --log as one JSON object per line: path, query,
user agent and the time it came. The chosen port is printed as "PORT <n>".
"""

import argparse
import http.server
import json
import os
import sys
import threading
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "web-test/1.0"
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def faults(self):
        try:
            with open(os.path.join(self.server.root, "faults.json"), encoding="utf-8") as f:
                text = f.read()
        except OSError:
            text = ""
        with self.server.lock:
            # New faults count their "times" afresh.
            if text != self.server.faults_text:
                self.server.faults_text = text
                self.server.used = {}
        try:
            faults = json.loads(text) if text else {}
        except ValueError:
            return {}
        return faults if isinstance(faults, dict) else {}

    def send(self, status, body, content_type, headers=()):
        try:
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            for name, value in headers:
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def send_huge(self, size):
        try:
            self.send_response(200)
            self.send_header("Content-Type", "image/jpeg")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            self.wfile.write(b"\xff\xd8\xff\xe0")
            left = size - 4
            chunk = b"\0" * 65536
            while left > 0:
                self.wfile.write(chunk[:min(left, len(chunk))])
                left -= min(left, len(chunk))
        except (BrokenPipeError, ConnectionResetError):
            pass

    def fault_for(self, path):
        for prefix, fault in self.faults().items():
            if path.startswith(prefix) and isinstance(fault, dict):
                times = fault.get("times")
                if times is not None:
                    with self.server.lock:
                        used = self.server.used.get(prefix, 0)
                        if used >= times:
                            continue
                        self.server.used[prefix] = used + 1
                return fault
        return None

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        try:
            with self.server.lock, open(self.server.log_path, "a", encoding="utf-8") as f:
                f.write(json.dumps({"path": url.path, "query": url.query,
                                    "user_agent": self.headers.get("User-Agent", ""),
                                    "time": time.time()}) + "\n")
        except OSError:
            pass  # the test took the folder away: serve on, unlogged
        fault = self.fault_for(url.path)
        if fault:
            if fault.get("delay"):
                time.sleep(float(fault["delay"]))
            if "redirect" in fault:
                self.send(307, b"", "text/plain", [("Location", fault["redirect"])])
                return
            if "huge" in fault:
                self.send_huge(int(fault["huge"]))
                return
            if "status" in fault:
                headers = []
                if "retry_after" in fault:
                    headers.append(("Retry-After", str(fault["retry_after"])))
                self.send(int(fault["status"]), fault.get("body", "").encode("latin-1", "replace"),
                          "text/plain", headers)
                return
            if "body" in fault:
                self.send(200, fault["body"].encode("latin-1", "replace"), "application/xml")
                return
        self.serve_file(url.path)

    def serve_file(self, path):
        parts = [p for p in path.split("/") if p]
        if not parts or any(p in (".", "..") for p in parts):
            self.not_found()
            return
        name = os.path.join(self.server.root, *parts)
        for candidate, xml in ((name + ".xml", True), (name, False)):
            if os.path.isfile(candidate):
                with open(candidate, "rb") as f:
                    data = f.read()
                if xml or data.lstrip().startswith(b"<?xml"):
                    kind = "application/xml; charset=UTF-8"
                elif data.startswith(b"\x89PNG"):
                    kind = "image/png"
                elif data.startswith(b"\xff\xd8"):
                    kind = "image/jpeg"
                else:
                    kind = "application/octet-stream"
                self.send(200, data, kind)
                return
        self.not_found()

    def not_found(self):
        self.send(404, b'<?xml version="1.0" encoding="UTF-8"?><error><text>Not Found</text>'
                       b'</error>', "application/xml; charset=UTF-8")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.root = args.root
    server.log_path = args.log
    server.lock = threading.Lock()
    server.used = {}
    server.faults_text = ""
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
