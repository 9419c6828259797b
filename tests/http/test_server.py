#!/usr/bin/env python3
"""A scripted HTTP and HTTPS server for the tests, on 127.0.0.1 only.

Started by the tests with a free port (--port 0); it prints "PORT <n>" on
its first line of output once it listens, and runs until it is killed.

It serves a directory of files (--root) and scripted responses. A response
script is a set of keys, taken either from the query of a request to
"/_/r" or from a routes file (--routes, JSON: {"/path": {key: value}}):

  status=N            status code (default 200; 302 when only redirect is set)
  reason=TEXT         reason phrase
  header=Name:Value   a header line, repeatable, sent in order
  type=TEXT           the Content-Type value
  body=TEXT           the body (bytes taken as Latin-1)
  body_size=N         a generated body of N bytes
  file=PATH           the body from a file under the root
  echo=1              the body is the request as received
  redirect=URL        a Location header
  auth=USER:PASS      demand basic authentication (401 otherwise)
  need_cookie=N=V     answer 403 unless the request's Cookie header holds N=V
  proxied=only|never  answer 403 unless (or when) the request came through a
                      proxy, told by its Via header
  delay_ms=N          wait before answering
  stall_ms=N          wait after the headers and stall_after body bytes
  stall_after=N
  trickle_ms=N        send the body trickle_bytes (default 1) at a time
  trickle_bytes=N
  close_after=N       send N bytes of the announced body, then close
  drop=1              close the connection without any answer
  drop=direct|proxied  the same, only for requests that came directly (or
                      through a proxy)
  length=none|chunked no Content-Length (end by closing) or chunked coding

Fixed routes: "/_/echo" (the request as body), "/_/chain/N" (redirects to
N-1 down to 0, which echoes; query keys code=, relative=1, scheme_relative=1
and origin=URL carry along), "/_/loop" (redirects to itself).

Every request is appended, before it is answered, as one JSON line to the
file named by --log, with the client's port (one per connection) and the
number of requests received and not yet answered at that moment, this one
included.
"""

import argparse
import base64
import http.server
import json
import mimetypes
import os
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

LIST_KEYS = {"header"}


class ScriptError(Exception):
    pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # The listening socket takes many waiting connections at once.
    request_queue_size = 64

    def __init__(self, options):
        self.options = options
        self.tls_context = None
        self.log_lock = threading.Lock()
        self.active_lock = threading.Lock()
        self.active = 0
        self.routes = {}
        if options.routes:
            with open(options.routes, encoding="utf-8") as routes:
                self.routes = json.load(routes)
        if options.cert:
            self.tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls_context.load_cert_chain(options.cert, options.key)
        super().__init__((options.address, options.port), Handler)

    def get_request(self):
        connection, address = self.socket.accept()
        if self.tls_context is not None:
            # The handshake runs in the handler's thread, so that a client
            # that never finishes it blocks nobody else.
            connection = self.tls_context.wrap_socket(
                connection, server_side=True, do_handshake_on_connect=False)
        return connection, address

    def handle_error(self, request, client_address):
        # Clients that abort (the point of several tests) are not errors.
        pass

    def begin_answer(self):
        """Counts a request waiting for its answer; returns how many are, this
        one included."""
        with self.active_lock:
            self.active += 1
            return self.active

    def end_answer(self):
        with self.active_lock:
            self.active -= 1

    def record(self, entry):
        if not self.options.log:
            return
        line = json.dumps(entry) + "\n"
        with self.log_lock:
            with open(self.options.log, "a", encoding="utf-8") as log:
                log.write(line)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in separate writes; with Nagle's algorithm the
    # body would wait for the client's delayed acknowledgement of the headers
    # (40 ms) on every kept-alive connection. Web servers switch it off too.
    disable_nagle_algorithm = True
    server_version = "PagewingTestServer/1.0"
    sys_version = ""
    timeout = 30

    def setup(self):
        super().setup()
        if isinstance(self.connection, ssl.SSLSocket):
            try:
                self.connection.do_handshake()
            except (ssl.SSLError, OSError):
                self.close_connection = True
                self.rfile = open(os.devnull, "rb")

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        self.answer()

    def do_POST(self):
        self.answer()

    def do_HEAD(self):
        self.answer()

    def read_body(self):
        length = self.headers.get("Content-Length")
        if length:
            return self.rfile.read(int(length))
        return b""

    def request_dump(self, body):
        lines = [self.requestline]
        for name, value in self.headers.items():
            lines.append(name + ": " + value)
        return ("\n".join(lines) + "\n\n").encode("latin-1") + body

    def answer(self):
        body = self.read_body()
        active = self.server.begin_answer()
        self.counted = True
        try:
            self.server.record({
                "method": self.command,
                "target": self.path,
                "headers": [[name, value] for name, value in self.headers.items()],
                "body": body.decode("latin-1"),
                "client_port": self.client_address[1],
                "active": active,
            })
            script = self.script_for(self.path)
            self.respond(script, body)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, socket.timeout):
            self.close_connection = True
        finally:
            self.stop_counting()

    def stop_counting(self):
        # Before the answer goes out: a client that asks again once it has
        # its answer must never find this request still counted.
        if self.counted:
            self.counted = False
            self.server.end_answer()

    def script_for(self, target):
        parts = urllib.parse.urlsplit(target)
        path = parts.path
        query = parse_query(parts.query)
        if target in self.server.routes:
            return self.server.routes[target]
        if path in self.server.routes:
            return self.server.routes[path]
        if path == "/_/r":
            return query
        if path == "/_/echo":
            return dict(query, echo="1")
        if path == "/_/loop":
            location = "loop" + ("?" + parts.query if parts.query else "")
            return {"redirect": location, "status": query.get("code", "302")}
        if path.startswith("/_/chain/"):
            return self.chain_script(path[len("/_/chain/"):], parts.query, query)
        return {"file": urllib.parse.unquote(path)}

    def chain_script(self, count_text, raw_query, query):
        count = int(count_text)
        if count <= 0:
            return {"echo": "1"}
        suffix = "?" + raw_query if raw_query else ""
        if flag(query, "relative"):
            location = str(count - 1) + suffix
        elif flag(query, "scheme_relative"):
            location = "//127.0.0.1:%d/_/chain/%d%s" % (
                self.server.server_address[1], count - 1, suffix)
        else:
            origin = query.get("origin") or self.own_origin()
            location = "%s/_/chain/%d%s" % (origin, count - 1, suffix)
        return {"redirect": location, "status": query.get("code", "302"),
                "body": "redirect body %d" % count}

    def own_origin(self):
        scheme = "https" if self.server.tls_context is not None else "http"
        return "%s://%s:%d" % (scheme, self.server.server_address[0],
                               self.server.server_address[1])

    def respond(self, script, request_body):
        delay = self.server.options.delay_ms + int(script.get("delay_ms", 0))
        if delay > 0:
            time.sleep(delay / 1000.0)
        if flag(script, "drop") or self.dropped_by_route(script.get("drop")):
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        status, headers, body = self.build(script, request_body)
        if status is None:
            return
        self.stop_counting()
        self.send_answer(script, status, headers, body)

    def dropped_by_route(self, rule):
        proxied = "Via" in self.headers
        return (rule == "direct" and not proxied) or (rule == "proxied" and proxied)

    def build(self, script, request_body):
        headers = []
        for line in as_list(script.get("header")):
            name, _, value = line.partition(":")
            headers.append((name.strip(), value.lstrip()))
        status = int(script.get("status", 302 if "redirect" in script else 200))
        if "redirect" in script:
            headers.append(("Location", script["redirect"]))
        if "type" in script:
            headers.append(("Content-Type", script["type"]))

        if not self.authorized(script):
            return 401, [("WWW-Authenticate", 'Basic realm="test"')], b"authorization needed"
        if "need_cookie" in script and not self.has_cookie(script["need_cookie"]):
            return 403, [("Content-Type", "text/plain")], b"a cookie is needed"
        proxied = "Via" in self.headers
        rule = script.get("proxied")
        if (rule == "only" and not proxied) or (rule == "never" and proxied):
            return 403, [("Content-Type", "text/plain")], b"refused: proxied=" + str(proxied).encode()

        if flag(script, "echo"):
            body = self.request_dump(request_body)
            if "type" not in script:
                headers.append(("Content-Type", "text/plain"))
        elif "body" in script:
            body = script["body"].encode("latin-1")
        elif "body_size" in script:
            body = generated_body(int(script["body_size"]))
        elif "file" in script:
            found = self.read_file(script["file"])
            if found is None:
                return 404, [("Content-Type", "text/plain")], b"not found"
            body, file_type = found
            if "type" not in script and not any(n.lower() == "content-type" for n, _ in headers):
                headers.append(("Content-Type", file_type))
        else:
            body = b""
        return status, headers, body

    def has_cookie(self, wanted):
        sent = self.headers.get("Cookie", "")
        return wanted in [pair.strip() for pair in sent.split(";")]

    def authorized(self, script):
        if "auth" not in script:
            return True
        expected = "Basic " + base64.b64encode(script["auth"].encode("latin-1")).decode("ascii")
        return self.headers.get("Authorization") == expected

    def read_file(self, relative):
        root = self.server.options.root
        if not root:
            return None
        root = os.path.realpath(root)
        path = os.path.realpath(os.path.join(root, relative.lstrip("/")))
        if path != root and not path.startswith(root + os.sep):
            return None
        if os.path.isdir(path):
            path = os.path.join(path, "index.html")
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as source:
            data = source.read()
        file_type = mimetypes.guess_type(path)[0] or "application/octet-stream"
        return data, file_type

    def send_answer(self, script, status, headers, body):
        framing = str(script.get("length", ""))
        self.send_response(status, script.get("reason"))
        for name, value in headers:
            self.send_header(name, value)
        if framing == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif framing == "none":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command == "HEAD":
            return
        self.send_body(script, body, framing == "chunked")

    def send_body(self, script, body, chunked):
        close_after = script.get("close_after")
        if close_after is not None:
            body = body[:int(close_after)]
        stall_ms = int(script.get("stall_ms", 0))
        stall_after = int(script.get("stall_after", 0))
        trickle_ms = int(script.get("trickle_ms", 0))
        piece = int(script.get("trickle_bytes", 1)) if trickle_ms else max(len(body), 1)

        sent = 0
        if stall_ms:
            self.write_piece(body[:stall_after], chunked)
            sent = min(stall_after, len(body))
            self.wfile.flush()
            time.sleep(stall_ms / 1000.0)
        while sent < len(body):
            self.write_piece(body[sent:sent + piece], chunked)
            sent += piece
            if trickle_ms:
                self.wfile.flush()
                time.sleep(trickle_ms / 1000.0)
        if close_after is not None:
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if chunked:
            self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()

    def write_piece(self, data, chunked):
        if not data:
            return
        if chunked:
            self.wfile.write(b"%x\r\n" % len(data) + data + b"\r\n")
        else:
            self.wfile.write(data)


def parse_query(query):
    script = {}
    for name, value in urllib.parse.parse_qsl(query, keep_blank_values=True, encoding="latin-1"):
        if name in LIST_KEYS:
            script.setdefault(name, []).append(value)
        else:
            script[name] = value
    return script


def flag(script, key):
    return str(script.get(key, "")) in ("1", "True", "true")


def as_list(value):
    if value is None:
        return []
    if isinstance(value, list):
        return value
    return [value]


def generated_body(size):
    pattern = b"abcdefghijklmnopqrstuvwxyz0123456789\n"
    return (pattern * (size // len(pattern) + 1))[:size]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    # Another loopback address plays another host; nothing else is served.
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--root", default="")
    parser.add_argument("--routes", default="")
    parser.add_argument("--cert", default="")
    parser.add_argument("--key", default="")
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--log", default="")
    options = parser.parse_args()
    if not options.address.startswith("127."):
        parser.error("only loopback addresses are served")

    server = Server(options)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.05)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
