#!/usr/bin/python3
"""A CDDB server (HTTP interface) on 127.0.0.1 for the tests.

It serves xmcd entries from a database folder laid out as CDDB servers keep
theirs, DB/<category>/<discid>, and answers the commands of the CDDB protocol
with the protocol's status codes:

  cddb query   200 one exact match, 210 exact matches, 211 close matches
               (same track count, offsets within two seconds), 202 none,
               500 a malformed command, 409 no hello
  cddb read    210 the entry, 401 no such entry
  sites        210 the server list (DB/sites, one line a server), 401 none

Modes: "server" (the above), "proxy" (an HTTP proxy that forwards to the URL
it is given and notes the credentials it saw; with --proxy-auth it answers
407 without them), and --delay SECONDS before every answer (a slow or, with a
long delay, a silent server).

DB/faults.json, read at every request, makes a command misbehave:
  {"query": "403"}, {"read": "500"}, ... answer with that status;
  "garbage" answers an HTML page, "unterminated" leaves out the final ".",
  "http500" answers HTTP status 500, "huge" sends 1 MB of entry lines,
  {"raw": TEXT} answers TEXT as it stands (one byte a character);
  {"delay": 2.5} waits before answering.

Every request is appended to --log as one JSON object per line. The chosen
port is printed as "PORT <n>" on standard output.
"""

import argparse
import base64
import http.server
import json
import os
import re
import sys
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

LIST_END = "(until terminating `.')"
CATEGORY = re.compile(r"^[a-z0-9_-]{1,11}$")
DISCID = re.compile(r"^[0-9a-f]{1,8}$")


class Database:
    def __init__(self, folder):
        self.folder = folder

    def faults(self):
        try:
            with open(os.path.join(self.folder, "faults.json"), encoding="utf-8") as f:
                faults = json.load(f)
            return faults if isinstance(faults, dict) else {}
        except (OSError, ValueError):
            return {}

    def categories(self):
        try:
            return sorted(d for d in os.listdir(self.folder)
                          if CATEGORY.match(d) and os.path.isdir(os.path.join(self.folder, d)))
        except OSError:
            return []

    def entry(self, category, discid):
        if not CATEGORY.match(category) or not DISCID.match(discid):
            return None
        try:
            with open(os.path.join(self.folder, category, discid), "rb") as f:
                return f.read()
        except OSError:
            return None

    def entries(self):
        for category in self.categories():
            for name in sorted(os.listdir(os.path.join(self.folder, category))):
                data = self.entry(category, name)
                if data is not None:
                    yield category, name, data

    def sites(self):
        try:
            with open(os.path.join(self.folder, "sites"), encoding="utf-8") as f:
                return [line.rstrip("\n") for line in f if line.strip()]
        except OSError:
            return None


def dtitle(data):
    for line in data.split(b"\n"):
        key, sep, value = line.rstrip(b"\r").partition(b"=")
        if sep and key.upper() == b"DTITLE":
            return value
    return b""


def offsets_and_length(data):
    offsets, length, in_offsets = [], None, False
    for line in data.decode("latin-1").splitlines():
        if not line.startswith("#"):
            break
        text = line[1:].strip()
        if text.startswith("Track frame offsets"):
            in_offsets = True
        elif in_offsets and text.isdigit():
            offsets.append(int(text))
        else:
            in_offsets = False
            m = re.match(r"Disc length:\s*(\d+)", text)
            if m:
                length = int(m.group(1))
    return offsets, length


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "cddb-test/1.0"

    def log_message(self, fmt, *args):
        pass

    def note(self, record):
        if self.server.log_path:
            with self.server.log_lock, open(self.server.log_path, "a", encoding="utf-8") as f:
                f.write(json.dumps(record) + "\n")

    def send(self, status, body, headers=()):
        if isinstance(body, str):
            body = body.encode("utf-8")
        try:
            self.send_response(status)
            self.send_header("Content-Type", "text/plain; charset=UTF-8")
            self.send_header("Content-Length", str(len(body)))
            for name, value in headers:
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def proxy_credentials(self):
        value = self.headers.get("Proxy-Authorization")
        if not value or not value.startswith("Basic "):
            return None
        try:
            return base64.b64decode(value[6:]).decode("utf-8")
        except ValueError:
            return None

    def do_GET(self):
        # Noted before any delay, so that a test sees a request under way.
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        if self.server.mode == "proxy":
            self.note({"proxy": True, "url": self.path, "credentials": self.proxy_credentials()})
        else:
            self.note({"proxy": False, "path": url.path, "cmd": query.get("cmd", [""])[0],
                       "hello": query.get("hello", [""])[0],
                       "proto": query.get("proto", [""])[0], "raw": url.query})
        faults = self.server.db.faults()
        delay = float(faults.get("delay", self.server.delay))
        if delay > 0:
            time.sleep(delay)
        if self.server.mode == "proxy":
            self.forward()
        else:
            self.answer(url, query, faults)

    def forward(self):
        credentials = self.proxy_credentials()
        if self.server.proxy_auth and credentials != self.server.proxy_auth:
            self.send(407, "Proxy authentication required\n",
                      [("Proxy-Authenticate", 'Basic realm="cddb-test"')])
            return
        if not self.path.startswith("http://"):
            self.send(400, "A proxy needs an absolute URL\n")
            return
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        try:
            with opener.open(self.path, timeout=30) as reply:
                self.send(reply.status, reply.read())
        except urllib.error.HTTPError as e:
            self.send(e.code, e.read())
        except (urllib.error.URLError, OSError) as e:
            self.send(502, "Bad gateway: %s\n" % e)

    def answer(self, url, query, faults):
        cmd = query.get("cmd", [""])[0]
        hello = query.get("hello", [""])[0]
        if url.path != self.server.cgi:
            self.send(404, "Not found\n")
            return
        words = cmd.split()
        if len(hello.split()) != 4:
            self.reply("409 No handshake.")
            return
        if words[:2] == ["cddb", "query"]:
            self.query(words[2:], faults.get("query"))
        elif words[:2] == ["cddb", "read"]:
            self.read(words[2:], faults.get("read"))
        elif words[:1] == ["sites"]:
            self.sites(faults.get("sites"))
        else:
            self.reply("500 Unrecognized command.")

    def reply(self, status, lines=None, fault=None):
        """A status line and, for list replies, the lines and the final "."."""
        if isinstance(fault, dict):
            # The reply as given, each character one byte.
            self.send(200, fault.get("raw", "").encode("latin-1", "replace"))
            return
        if fault == "garbage":
            self.send(200, "<html><body>It works!</body></html>\n")
            return
        if fault == "http500":
            self.send(500, "Internal server error\n")
            return
        if fault and fault.isdigit():
            status, lines = fault + " Refused by the test.", None
        out = [status if isinstance(status, bytes) else status.encode("utf-8")]
        if lines is not None:
            out += [line if isinstance(line, bytes) else line.encode("utf-8") for line in lines]
            if fault == "huge":
                out += [b"EXTT0=" + b"x" * 200] * 5000
            if fault != "unterminated":
                out.append(b".")
        self.send(200, b"\r\n".join(out) + b"\r\n")

    def query(self, args, fault):
        try:
            discid = args[0].lower()
            count = int(args[1])
            offsets = [int(a) for a in args[2:2 + count]]
            seconds = int(args[2 + count])
            if len(args) != count + 3 or not DISCID.match(discid):
                raise ValueError
        except (ValueError, IndexError):
            self.reply("500 Command syntax error.", fault=fault)
            return
        exact, close = [], []
        for category, name, data in self.server.db.entries():
            line = b"%s %s %s" % (category.encode(), name.encode(), dtitle(data))
            if name == discid:
                exact.append(line)
                continue
            their_offsets, their_length = offsets_and_length(data)
            if (len(their_offsets) == count and their_length is not None
                    and abs(their_length - seconds) <= 2
                    and all(abs(a - b) <= 150 for a, b in zip(their_offsets, offsets))):
                close.append(line)
        if len(exact) == 1:
            self.reply(b"200 " + exact[0], fault=fault)
        elif exact:
            self.reply("210 Found exact matches, list follows " + LIST_END, exact, fault)
        elif close:
            self.reply("211 Found inexact matches, list follows " + LIST_END, close, fault)
        else:
            self.reply("202 No match for disc ID %s." % discid, fault=fault)

    def read(self, args, fault):
        if len(args) != 2:
            self.reply("500 Command syntax error.", fault=fault)
            return
        category, discid = args[0], args[1].lower()
        data = self.server.db.entry(category, discid)
        if data is None:
            self.reply("401 %s %s No such CD database entry." % (category, discid), fault=fault)
            return
        lines = data.replace(b"\r\n", b"\n").rstrip(b"\n").split(b"\n")
        self.reply("210 %s %s CD database entry follows %s" % (category, discid, LIST_END),
                   lines, fault)

    def sites(self, fault):
        sites = self.server.db.sites()
        if sites is None:
            sites = ["127.0.0.1 http %d %s N000.00 W000.00 This test server"
                     % (self.server.server_address[1], self.server.cgi)]
        if not sites:
            self.reply("401 No site information available.", fault=fault)
            return
        self.reply("210 OK, site information follows " + LIST_END, sites, fault)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--db", required=True)
    parser.add_argument("--mode", choices=["server", "proxy"], default="server")
    parser.add_argument("--delay", type=float, default=0.0)
    parser.add_argument("--proxy-auth", default="")
    parser.add_argument("--cgi", default="/~cddb/cddb.cgi")
    parser.add_argument("--log", default="")
    args = parser.parse_args()

    server = Server(("127.0.0.1", 0), Handler)
    server.db = Database(args.db)
    server.mode = args.mode
    server.delay = args.delay
    server.proxy_auth = args.proxy_auth
    server.cgi = args.cgi
    server.log_path = args.log
    server.log_lock = threading.Lock()
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
