#!/usr/bin/env python3
"""A local stand-in for the fax service, for the demo and the tests. Loopback only.

POST /upload  multipart/form-data with "Authorization: Bearer <token>": answers 201 with
              {"path": "faxes/<file name>"}, or 401 for a wrong token, 400 without a file part.
POST /token   a form body: answers 200 with {"access_token": ..., "form": <the body>}; a body
              holding "fail=1" is answered 400 with {"error": "invalid_grant"}.
GET  /echo    answers 200 with {"query": <the query text>}.
GET  /status/N answers status N with a short body.
GET  /empty   answers 200 with no body.
GET  /redirect?to=URL answers 302 to URL.
GET  /<name>.html serves that page from --pages (pages of another origin than the ui folder).
GET  /requests  the requests seen so far, one JSON object a line.

With --store DIR every accepted upload's file is also written to DIR under its file name (its
folder part dropped), and its request line holds the file's "sha256".

Usage: fax_service.py [--port N] [--port-file PATH] [--token TOKEN] [--pages DIR] [--store DIR]
"""
import argparse
import hashlib
import json
import os
import threading
from email.parser import BytesParser
from email.policy import HTTP
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit


class Service(BaseHTTPRequestHandler):
    token = "demo-token"
    pages = None
    store = None
    seen = []
    seen_lock = threading.Lock()

    def log_message(self, fmt, *args):
        pass

    def record(self, **fields):
        entry = {"method": self.command, "path": self.path}
        entry.update(fields)
        with Service.seen_lock:
            Service.seen.append(entry)

    def reply(self, status, body=b"", content_type="application/json"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Access-Control-Allow-Origin", "*")
        self.end_headers()
        self.wfile.write(body)

    def reply_json(self, status, value):
        self.reply(status, json.dumps(value).encode())

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def do_GET(self):
        url = urlsplit(self.path)
        if url.path == "/requests":
            with Service.seen_lock:
                text = "".join(json.dumps(e) + "\n" for e in Service.seen)
            return self.reply(200, text.encode(), "text/plain")
        self.record()
        if url.path == "/echo":
            return self.reply_json(200, {"query": url.query})
        if url.path == "/empty":
            return self.reply(200)
        if url.path == "/redirect":
            self.send_response(302)
            self.send_header("Location", url.query[len("to="):])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        if url.path.startswith("/status/"):
            return self.reply(int(url.path[len("/status/"):]), b"status page", "text/plain")
        name = os.path.basename(url.path)
        if Service.pages and name.endswith(".html"):
            path = os.path.join(Service.pages, name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    return self.reply(200, f.read(), "text/html; charset=utf-8")
        return self.reply(404, b"not found", "text/plain")

    def do_POST(self):
        url = urlsplit(self.path)
        body = self.read_body()
        if url.path == "/token":
            form = body.decode("utf-8", "replace")
            self.record(form=form)
            if "fail=1" in form:
                return self.reply_json(400, {"error": "invalid_grant"})
            return self.reply_json(200, {"access_token": "issued-token", "form": form})
        if url.path == "/upload":
            authorization = self.headers.get("Authorization", "")
            parsed = BytesParser(policy=HTTP).parsebytes(
                b"Content-Type: " + self.headers.get("Content-Type", "").encode() + b"\r\n\r\n"
                + body)
            files = [p for p in parsed.iter_parts() if p.get_filename()] \
                if parsed.is_multipart() else []
            self.record(authorization=authorization,
                        client=self.headers.get("X-Kest-Client-Id", ""),
                        files=[{"name": p.get_filename(),
                                "size": len(p.get_payload(decode=True) or b""),
                                "sha256": hashlib.sha256(
                                    p.get_payload(decode=True) or b"").hexdigest()}
                               for p in files])
            if authorization != "Bearer " + Service.token:
                return self.reply_json(401, {"error": "unauthorized"})
            if not files:
                return self.reply_json(400, {"error": "no file"})
            name = os.path.basename(files[0].get_filename())
            if Service.store and name not in ("", ".", ".."):
                with open(os.path.join(Service.store, name), "wb") as f:
                    f.write(files[0].get_payload(decode=True) or b"")
            return self.reply_json(201, {"path": "faxes/" + files[0].get_filename()})
        self.record()
        return self.reply(404, b"not found", "text/plain")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--token", default=Service.token)
    parser.add_argument("--pages")
    parser.add_argument("--store")
    args = parser.parse_args()
    Service.token = args.token
    Service.pages = args.pages
    Service.store = args.store
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Service)
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(str(port))
        os.rename(args.port_file + ".tmp", args.port_file)
    else:
        print("Listening on http://127.0.0.1:%d" % port, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
