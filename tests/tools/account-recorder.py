#!/usr/bin/python3
"""A loopback account service for the shell checks of the account client.

    account-recorder.py PORTFILE LOG CONFIG

Listens on 127.0.0.1 (a free port, written to PORTFILE) and appends one JSON line per request to
LOG (path, body, and "refused": the reason when the request fails verification). A request is
verified as the real service would: the key set of its operation, a head object, a signature made
with the service key, a nonce that is an upper-case UUID never seen before, a timestamp within
10 s of now. Refused requests get 400. CONFIG (JSON) lists the replies per path, in turn, then
"default":
    {"/appPay/api/user/info/login": {"replies": [{"status": 500, "body": "{...}"}],
                                     "default": {"status": 200, "type": "text/plain", "body": "oops"}}}"""
import hashlib
import json
import os
import re
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

KEY = "7E31C09A5B2D48F6A0C3E95D1B7F4A28"
OWN_KEYS = {
    "/appPay/api/user/info/login": {"mobile", "password"},
    "/appPay/api/user/info/verificationCodeLogin": {"mobile", "securityCode"},
    "/appPay/api/user/info/tokenLogin": {"accessToken"},
    "/appPay/api/app/sms/getSecurityCode": {"mobile", "smsType"},
    "/appPay/api/app/sms/confirmSecurityCode": {"mobile", "securityCode"},
    "/appPay/api/user/info/resetPassword": {"mobile", "password"},
}
UUID = re.compile(r"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")

port_file, log_file, config_file = sys.argv[1:4]
with open(config_file) as f:
    config = json.load(f)
lock = threading.Lock()
nonces = set()
used = {}


def refusal(path, headers, text):
    if path not in OWN_KEYS:
        return "unknown path"
    if headers.get("Content-Type") != "application/json":
        return "content type"
    try:
        body = json.loads(text)
    except ValueError:
        return "no JSON"
    if not isinstance(body, dict):
        return "no object"
    if set(body) != {"noncestr", "packageName", "timestamp", "sign", "head"} | OWN_KEYS[path]:
        return "key set"
    if any(not isinstance(v, str) for k, v in body.items() if k != "head"):
        return "a value that is no text"
    head = body["head"]
    if not isinstance(head, dict) or set(head) != {"versioncode", "packagename", "flavorName"}:
        return "head"
    if head["packagename"] != body["packageName"] or head["flavorName"] != "Web":
        return "head values"
    nonce = body["noncestr"]
    if not UUID.fullmatch(nonce):
        return "nonce"
    if nonce in nonces:
        return "nonce repeats"
    nonces.add(nonce)
    if not body["timestamp"].isdigit() or abs(int(body["timestamp"]) - time.time()) > 10:
        return "timestamp"
    plain = "noncestr=%s&timestamp=%s&key=%s" % (nonce, body["timestamp"], KEY)
    if body["sign"] != hashlib.md5(plain.encode()).hexdigest().upper():
        return "sign"
    return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length", 0))
        text = self.rfile.read(length).decode("utf-8", "replace")
        with lock:
            why = refusal(self.path, self.headers, text)
            rule = config.get(self.path, {})
            n = used.get(self.path, 0)
            replies = rule.get("replies", [])
            if why:
                reply = {"status": 400, "body": '{"succ":false,"msg":"bad request"}'}
            else:
                used[self.path] = n + 1
                reply = replies[n] if n < len(replies) else rule.get("default", {"status": 404, "body": "{}"})
            with open(log_file, "a") as log:
                log.write(json.dumps({"t": time.time(), "path": self.path, "body": text, "refused": why}) + "\n")
        data = reply.get("body", "{}").encode()
        self.send_response(reply.get("status", 200))
        self.send_header("Content-Type", reply.get("type", "application/json"))
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
