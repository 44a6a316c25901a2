#!/usr/bin/python3
"""A loopback HTTP recorder for the online services' shell checks.

    online-recorder.py PORTFILE LOG CONFIG

Listens on 127.0.0.1 (a free port, written to PORTFILE), appends one JSON line per request to LOG
(time, path, headers, body) and answers as CONFIG (JSON) says, per path:
    {"/batch": {"default": 503},
     "/api/log/receive": {"default": 200, "events": {"wm_launch_event": [500, 500]}}}
A status may be "hang" (never answer). "events" lists replies for the first posts of one event
name, then "default" answers."""
import json
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

port_file, log_file, config_file = sys.argv[1:4]
with open(config_file) as f:
    config = json.load(f)
lock = threading.Lock()
seen = {}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length", 0))
        body = self.rfile.read(length).decode("utf-8", "replace")
        rule = config.get(self.path, {})
        status = rule.get("default", 200)
        with lock:
            with open(log_file, "a") as log:
                log.write(json.dumps({"t": time.time(), "path": self.path, "headers": dict(self.headers.items()),
                                      "body": body}) + "\n")
            if "events" in rule:
                try:
                    name = json.loads(body).get("eventName")
                except ValueError:
                    name = None
                replies = rule["events"].get(name, [])
                count = seen.get(name, 0)
                seen[name] = count + 1
                if count < len(replies):
                    status = replies[count]
        if status == "hang":
            time.sleep(3600)
            return
        reply = b"{}"
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
