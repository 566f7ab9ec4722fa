#!/usr/bin/env python3
"""Scriptable HTTP/1.1 test server with fault injection, for loopback tests.

Usage:
    fault_server.py --port P [--tls-port Q --cert C --key K] [--root DIR]
                    [--pidfile F] [--max-seconds N] [--verbose]

Listens on 127.0.0.1 only (threaded, keep-alive honoured unless a behaviour
closes the connection). With --tls-port the same behaviours are also served
over TLS. Port 0 picks a free port. Once the sockets are bound it prints one
line "listening <port> [<tls-port>]" to stdout. It exits on SIGTERM/SIGINT or
after --max-seconds (default 3600).

The request path is percent-decoded before it is matched, so an escaped
segment such as "/cut%2F100%2F10" selects "/cut/100/10"; a "?" that arrives
escaped in the path starts the query as well. Numeric behaviours ignore any
further path segments, so "/status/404/latest.yml" answers 404.
Byte pattern used by bytes, nolength, chunked, cut, slow and stall:
byte i of the body is (i * 7 + 3) mod 256.

Behaviours (GET; HEAD answers the same headers without a body or fault):
  /status/<code>[?body=T&type=CT&location=URL]
        that status (200..599) with body T (default: a small HTML page).
  /bytes/<n>            200, n pattern bytes, Content-Length n.
  /nolength/<n>         200, n pattern bytes, no Content-Length; the
                        connection is closed to end the body.
  /chunked/<n>[?chunk=S]
        200, n pattern bytes in chunked encoding (default: about 4 chunks,
        at most 64 KiB each).
  /cut/<total>/<sent>   Content-Length total, sends only `sent` bytes, closes.
  /slow/<n>/<bytes_per_sec>
        Content-Length n, body trickled at that rate (keep-alive kept).
  /stall/<total>/<sent>[?cap=S]
        Content-Length total, sends `sent` bytes, then nothing until the
        client closes or S seconds pass (default and maximum 120); then closes.
  /hang[?cap=S]         reads the request, never answers; closes when the
                        client does or after S seconds (default/maximum 120).
  /drop                 closes the connection without any answer.
  /redirect/<n>[?to=PATH&abs=1&code=C]
        n >= 2: C (default 302) to /redirect/<n-1> with the same query;
        n == 1: C to `to` (default /bytes/16); n == 0: serves `to` directly
        if it is a local path. So /redirect/6 gives exactly six redirects.
        abs=1 makes every Location absolute (http[s]://127.0.0.1:<port>/...).
  /loop                 301 to /loop, forever.
  /to-https/<path...>   301 to https://127.0.0.1:<tls-port>/<path...>
                        (query kept); 500 without --tls-port.
  /to-port/<port>/<path...>
        302 to http://127.0.0.1:<port>/<path...> (query kept).
  /file/<name>          200 with <root>/<name> (text/yaml for .yml/.yaml,
                        else application/octet-stream); 404 if absent.
  /doc[/<anything>]?body=<urlencoded>
        200, Content-Type text/yaml, the body exactly as given (empty if no
        body parameter).
  /garbage/<n>[?seed=S] 200, n deterministic pseudo-random bytes
                        (random.Random(S), default seed 1).
  /echo-headers         200 text/plain: request line and headers as received.
  /lower/<path...>      answers as <path...> does, its status line in lower case
                        ("http/1.1 200 ok").
  /_log                 text/plain, one line per request since the last clear:
                        scheme TAB request-line TAB user-agent TAB referer
                        ("-" for a missing header). /_log requests are not
                        logged themselves.
  /_log/json            the same as a JSON list of objects.
  /_log/clear           empties the log.
  anything else         served from --root if such a file exists, else 404; a file
                        <name>.status beside it holding a number makes /<name>
                        answer that status instead; <name>.cut holding a number
                        n sends the file's Content-Length but only its first n
                        bytes, then closes.
Most body-bearing behaviours accept type=CT to set Content-Type.
"""

import argparse
import http.server
import json
import os
import random
import select
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

PATTERN = bytes((i * 7 + 3) & 0xFF for i in range(256))
BLOCK = PATTERN * 256  # 64 KiB; a multiple of the pattern's period
STALL_CAP = 120.0
URL_SAFE = "/:@!$&'()*+,;=-._~"


def pattern_chunks(n, offset=0, size=len(BLOCK)):
    """Yields n pattern bytes starting at body offset `offset`, in pieces of at most `size`."""
    pos = offset
    end = offset + n
    while pos < end:
        start = pos % len(PATTERN)
        take = min(end - pos, size, len(BLOCK) - start)
        yield BLOCK[start:start + take]
        pos += take


class App:
    """State shared by all connections of both listeners."""

    def __init__(self, args):
        self.root = os.path.realpath(args.root) if args.root else None
        self.verbose = args.verbose
        self.http_port = None
        self.tls_port = None
        self.log = []
        self.lock = threading.Lock()

    def record(self, entry):
        with self.lock:
            self.log.append(entry)

    def entries(self):
        with self.lock:
            return list(self.log)

    def clear(self):
        with self.lock:
            self.log.clear()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 128

    def __init__(self, port, app, scheme, ssl_context=None):
        self.app = app
        self.scheme = scheme
        self.ssl_context = ssl_context
        super().__init__(("127.0.0.1", port), Handler)

    def handle_error(self, request, client_address):
        # Dropped connections and failed handshakes are routine here.
        if self.app.verbose:
            err = sys.exc_info()[1]
            sys.stderr.write("%s connection error: %r\n" % (self.scheme, err))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "fault-server/1"
    timeout = 60  # idle keep-alive connections and blocked writes

    def setup(self):
        if self.server.ssl_context is not None:
            self.request.settimeout(10)
            self.request = self.server.ssl_context.wrap_socket(self.request, server_side=True)
        super().setup()

    def log_message(self, fmt, *args):
        if self.server.app.verbose:
            sys.stderr.write("%s %s\n" % (self.server.scheme, fmt % args))

    def send_response_only(self, code, message=None):
        super().send_response_only(code, message)
        if getattr(self, "lower_case", False):
            self._headers_buffer[-1] = self._headers_buffer[-1].lower()

    def log_request(self, code="-", size="-"):
        # dispatch() writes the one line per request itself.
        self.sent_code = getattr(code, "value", code)

    def do_GET(self):
        self.dispatch(head=False)

    def do_HEAD(self):
        self.dispatch(head=True)

    # ---- request parsing and dispatch -------------------------------------------------------

    def dispatch(self, head):
        self.head = head
        self.sent_code = "-"
        self.lower_case = False
        try:
            self.dispatch_request()
        finally:
            if self.server.app.verbose:
                sys.stderr.write("%s %s %s\n" % (self.server.scheme, self.requestline, self.sent_code))

    def dispatch_request(self):
        raw_path, _, raw_query = self.path.partition("?")
        path = urllib.parse.unquote(raw_path)
        path, _, extra_query = path.partition("?")
        query = urllib.parse.parse_qs(extra_query, keep_blank_values=True)
        for key, values in urllib.parse.parse_qs(raw_query, keep_blank_values=True).items():
            query.setdefault(key, []).extend(values)
        self.query = {key: values[0] for key, values in query.items()}
        # Kept for Location headers that pass the query on.
        self.raw_query = "&".join(q for q in (urllib.parse.quote(extra_query, safe="=&/:"), raw_query) if q)
        if not path.startswith("/_log"):
            self.server.app.record({
                "scheme": self.server.scheme,
                "request_line": self.requestline,
                "user_agent": self.headers.get("User-Agent"),
                "referer": self.headers.get("Referer"),
                "time": time.time(),
            })
        try:
            self.route(path)
        except OSError:
            self.close_connection = True
        except ValueError as err:
            try:
                self.respond(400, ("bad request: %s\n" % err).encode(), "text/plain")
            except OSError:
                self.close_connection = True

    def route(self, path):
        segs = [s for s in path.split("/") if s]
        name = segs[0] if segs else ""
        args = segs[1:]
        handler = ROUTES.get(name)
        if handler is not None:
            handler(self, args)
        else:
            self.serve_file(path.lstrip("/"))

    def ints(self, args, count, names):
        if len(args) < count:
            raise ValueError("expected /%s" % "/".join("<%s>" % n for n in names))
        values = []
        for text, label in zip(args[:count], names):
            if not text.isdigit():
                raise ValueError("%s must be a non-negative integer" % label)
            values.append(int(text))
        return values

    def ctype(self, default):
        return self.query.get("type", default)

    def local_url(self, target, scheme=None, port=None):
        scheme = scheme or self.server.scheme
        if port is None:
            port = self.server.server_address[1]
        return "%s://127.0.0.1:%d%s" % (scheme, port, target)

    # ---- response helpers -------------------------------------------------------------------

    def start(self, code, ctype=None, length=None, headers=(), close=False):
        self.send_response(code)
        if ctype:
            self.send_header("Content-Type", ctype)
        if length is not None:
            self.send_header("Content-Length", str(length))
        for key, value in headers:
            self.send_header(key, value)
        if close:
            self.send_header("Connection", "close")
        self.end_headers()

    def respond(self, code, body=b"", ctype="text/plain", headers=()):
        self.start(code, ctype, len(body), headers)
        if not self.head and body:
            self.wfile.write(body)

    def write_all(self, chunks):
        for chunk in chunks:
            self.wfile.write(chunk)

    def hard_close(self):
        """Ends the connection after flushing what was written (no more requests on it)."""
        self.close_connection = True
        try:
            self.wfile.flush()
            sock = self.connection
            if isinstance(sock, ssl.SSLSocket):
                # A TLS peer must see close_notify to take the end of the stream as clean.
                sock.settimeout(1.0)
                sock = sock.unwrap()
            sock.shutdown(socket.SHUT_WR)
        except (OSError, ValueError):
            pass

    def wait_for_client_close(self, cap):
        """Blocks until the peer closes the connection or `cap` seconds pass."""
        deadline = time.monotonic() + cap
        sock = self.connection
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return
            if isinstance(sock, ssl.SSLSocket) and sock.pending():
                ready = True
            else:
                ready = select.select([sock], [], [], min(left, 1.0))[0]
            if ready:
                try:
                    if not sock.recv(4096):
                        return
                except ssl.SSLWantReadError:
                    continue
                except OSError:
                    return

    def redirect(self, code, location):
        body = ("<html><body>Moved to <a href=\"%s\">%s</a></body></html>\n" % (location, location)).encode()
        self.respond(code, body, "text/html", [("Location", location)])

    def serve_file(self, name):
        app = self.server.app
        full = None
        if app.root and name:
            candidate = os.path.realpath(os.path.join(app.root, name))
            if candidate.startswith(app.root + os.sep) and os.path.isfile(candidate):
                full = candidate
        if full is None:
            self.respond(404, b"<html><body><h1>404 Not Found</h1></body></html>\n", "text/html")
            return
        status_file = full + ".status"
        if os.path.isfile(status_file):
            with open(status_file) as f:
                code = int(f.read().strip())
            self.respond(code, b"<html><body><h1>Server error</h1></body></html>\n", "text/html")
            return
        default = "text/yaml" if full.endswith((".yml", ".yaml")) else "application/octet-stream"
        size = os.path.getsize(full)
        cut_file = full + ".cut"
        cut = None
        if os.path.isfile(cut_file):
            with open(cut_file) as f:
                cut = min(int(f.read().strip()), size)
        self.start(200, self.ctype(default), size, close=cut is not None and not self.head)
        if self.head:
            return
        left = size if cut is None else cut
        with open(full, "rb") as f:
            while left > 0:
                chunk = f.read(min(left, len(BLOCK)))
                if not chunk:
                    break
                self.wfile.write(chunk)
                left -= len(chunk)
        if cut is not None:
            self.hard_close()

    # ---- behaviours -------------------------------------------------------------------------

    def r_status(self, args):
        (code,) = self.ints(args, 1, ["code"])
        if not 200 <= code <= 599:
            raise ValueError("status must be 200..599")
        headers = []
        if "location" in self.query:
            headers.append(("Location", self.query["location"]))
        if code in (204, 304):
            self.start(code, headers=headers)
            return
        if "body" in self.query:
            body = self.query["body"].encode()
            ctype = self.ctype("text/plain")
        else:
            phrase = self.responses.get(code, ("",))[0]
            body = ("<html><body><h1>%d %s</h1></body></html>\n" % (code, phrase)).encode()
            ctype = self.ctype("text/html")
        self.respond(code, body, ctype, headers)

    def r_bytes(self, args):
        (n,) = self.ints(args, 1, ["n"])
        self.start(200, self.ctype("application/octet-stream"), n)
        if not self.head:
            self.write_all(pattern_chunks(n))

    def r_nolength(self, args):
        (n,) = self.ints(args, 1, ["n"])
        self.start(200, self.ctype("application/octet-stream"), close=True)
        if not self.head:
            self.write_all(pattern_chunks(n))
        self.hard_close()

    def r_chunked(self, args):
        (n,) = self.ints(args, 1, ["n"])
        size = int(self.query.get("chunk", 0)) or min(max(1, -(-n // 4)), len(BLOCK))
        self.start(200, self.ctype("application/octet-stream"), headers=[("Transfer-Encoding", "chunked")])
        if self.head:
            return
        for chunk in pattern_chunks(n, size=size):
            self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
        self.wfile.write(b"0\r\n\r\n")

    def r_cut(self, args):
        total, sent = self.ints(args, 2, ["total", "sent"])
        self.start(200, self.ctype("application/octet-stream"), total, close=not self.head)
        if not self.head:
            self.write_all(pattern_chunks(min(sent, total)))
            self.hard_close()

    def r_slow(self, args):
        n, rate = self.ints(args, 2, ["n", "bytes_per_sec"])
        if rate <= 0:
            raise ValueError("bytes_per_sec must be positive")
        self.start(200, self.ctype("application/octet-stream"), n)
        if self.head:
            return
        piece = max(1, min(rate // 10, len(BLOCK)))
        began = time.monotonic()
        sent = 0
        for chunk in pattern_chunks(n, size=piece):
            due = began + sent / rate
            delay = due - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            self.wfile.write(chunk)
            sent += len(chunk)

    def cap(self):
        try:
            return max(0.0, min(float(self.query.get("cap", STALL_CAP)), STALL_CAP))
        except ValueError:
            raise ValueError("cap must be a number of seconds")

    def r_stall(self, args):
        total, sent = self.ints(args, 2, ["total", "sent"])
        cap = self.cap()
        self.start(200, self.ctype("application/octet-stream"), total, close=not self.head)
        if self.head:
            return
        self.write_all(pattern_chunks(min(sent, total)))
        self.wfile.flush()
        self.close_connection = True
        self.wait_for_client_close(cap)

    def r_hang(self, args):
        self.close_connection = True
        self.wait_for_client_close(self.cap())

    def r_drop(self, args):
        self.close_connection = True

    def r_redirect(self, args):
        (n,) = self.ints(args, 1, ["n"])
        target = self.query.get("to", "/bytes/16")
        absolute = self.query.get("abs", "") not in ("", "0")
        code = int(self.query.get("code", 302))
        if code not in (301, 302, 303, 307, 308):
            raise ValueError("code must be a redirect status")
        if n == 0:
            if target.startswith("/"):
                path, _, query = target.partition("?")
                self.raw_query = query
                self.query = {k: v[0] for k, v in urllib.parse.parse_qs(query, keep_blank_values=True).items()}
                self.route(urllib.parse.unquote(path))
                return
            self.redirect(code, target)
            return
        if n == 1:
            location = target
        else:
            location = "/redirect/%d" % (n - 1)
            if self.raw_query:
                location += "?" + self.raw_query
        if absolute and location.startswith("/"):
            location = self.local_url(location)
        self.redirect(code, location)

    def r_loop(self, args):
        self.redirect(301, "/loop")

    def passthrough(self, rest):
        target = "/" + urllib.parse.quote("/".join(rest), safe=URL_SAFE)
        if self.raw_query:
            target += "?" + self.raw_query
        return target

    def r_to_https(self, args):
        port = self.server.app.tls_port
        if port is None:
            self.respond(500, b"no TLS listener (start with --tls-port)\n")
            return
        self.redirect(301, self.local_url(self.passthrough(args), "https", port))

    def r_to_port(self, args):
        (port,) = self.ints(args, 1, ["port"])
        if not 0 < port < 65536:
            raise ValueError("port out of range")
        self.redirect(302, self.local_url(self.passthrough(args[1:]), "http", port))

    def r_lower(self, args):
        self.lower_case = True
        self.route("/" + "/".join(args))

    def r_file(self, args):
        self.serve_file("/".join(args))

    def r_doc(self, args):
        self.respond(200, self.query.get("body", "").encode(), self.ctype("text/yaml"))

    def r_garbage(self, args):
        (n,) = self.ints(args, 1, ["n"])
        rng = random.Random(int(self.query.get("seed", 1)))
        self.start(200, self.ctype("application/octet-stream"), n)
        if self.head:
            return
        left = n
        while left > 0:
            take = min(left, len(BLOCK))
            self.wfile.write(rng.randbytes(take))
            left -= take

    def r_echo_headers(self, args):
        body = (self.requestline + "\r\n" + "".join(
            "%s: %s\r\n" % (k, v) for k, v in self.headers.items())).encode("utf-8", "replace")
        self.respond(200, body, "text/plain; charset=utf-8")

    def r_log(self, args):
        app = self.server.app
        sub = args[0] if args else ""
        if sub == "clear":
            app.clear()
            self.respond(200, b"cleared\n")
        elif sub == "json":
            self.respond(200, json.dumps(app.entries(), indent=1).encode(), "application/json")
        elif sub == "":
            lines = ["\t".join([e["scheme"], e["request_line"], e["user_agent"] or "-", e["referer"] or "-"])
                     for e in app.entries()]
            self.respond(200, "".join(line + "\n" for line in lines).encode("utf-8", "replace"),
                         "text/plain; charset=utf-8")
        else:
            self.respond(404, b"unknown log command\n")


ROUTES = {
    "status": Handler.r_status,
    "bytes": Handler.r_bytes,
    "nolength": Handler.r_nolength,
    "chunked": Handler.r_chunked,
    "cut": Handler.r_cut,
    "slow": Handler.r_slow,
    "stall": Handler.r_stall,
    "hang": Handler.r_hang,
    "drop": Handler.r_drop,
    "redirect": Handler.r_redirect,
    "loop": Handler.r_loop,
    "to-https": Handler.r_to_https,
    "to-port": Handler.r_to_port,
    "file": Handler.r_file,
    "doc": Handler.r_doc,
    "garbage": Handler.r_garbage,
    "echo-headers": Handler.r_echo_headers,
    "lower": Handler.r_lower,
    "_log": Handler.r_log,
}


def main():
    parser = argparse.ArgumentParser(description="Scriptable HTTP/1.1 fault-injection server (loopback only).")
    parser.add_argument("--port", type=int, required=True, help="HTTP port on 127.0.0.1 (0: pick a free one)")
    parser.add_argument("--tls-port", type=int, help="also serve HTTPS on this port (0: pick a free one)")
    parser.add_argument("--cert", help="PEM certificate (chain) for --tls-port")
    parser.add_argument("--key", help="PEM private key for --tls-port")
    parser.add_argument("--root", help="directory served by /file/<name> and unmatched paths")
    parser.add_argument("--pidfile", help="write the process id here")
    parser.add_argument("--max-seconds", type=float, default=3600, help="exit after this long (default 3600)")
    parser.add_argument("--verbose", action="store_true", help="log one line per request to stderr")
    args = parser.parse_args()
    if args.tls_port is not None and not (args.cert and args.key):
        parser.error("--tls-port needs --cert and --key")

    app = App(args)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    servers = [Server(args.port, app, "http")]
    app.http_port = servers[0].server_address[1]
    if args.tls_port is not None:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        servers.append(Server(args.tls_port, app, "https", context))
        app.tls_port = servers[1].server_address[1]

    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write("%d\n" % os.getpid())
    ports = [str(app.http_port)] + ([str(app.tls_port)] if app.tls_port is not None else [])
    sys.stdout.write("listening %s\n" % " ".join(ports))
    sys.stdout.flush()

    if not stop.wait(args.max_seconds):
        sys.stderr.write("fault_server: --max-seconds reached, exiting\n")
    for server in servers:
        server.shutdown()
        server.server_close()
    if args.pidfile:
        try:
            with open(args.pidfile) as f:
                if f.read().strip() == str(os.getpid()):
                    os.unlink(args.pidfile)
        except OSError:
            pass
    sys.stdout.flush()
    sys.stderr.flush()
    # Connection threads may still sit in a stall; they die with the process.
    os._exit(0)


if __name__ == "__main__":
    main()
