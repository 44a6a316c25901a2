#!/usr/bin/python3
"""Checks of the online services' shell scenarios over a recorder log.

    online-check.py SCENARIO LOG [FIRST_LOG]"""
import json
import re
import sys

scenario = sys.argv[1]
log = [json.loads(line) for line in open(sys.argv[2])]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def records():
    return [(r, json.loads(r["body"])) for r in log if r["path"] == "/api/log/receive"]


def named(name):
    return [(r, rec) for r, rec in records() if rec["eventName"] == name]


def batches():
    return [r for r in log if r["path"] == "/batch"]


def os_name():
    for line in open("/etc/os-release"):
        if line.startswith("NAME="):
            return line.split("=", 1)[1].strip().strip('"')


if scenario == "1":
    launches = named("wm_launch_event")
    check(len(launches) == 3, "3 wm_launch_event posts, got %d" % len(launches))
    check(len({r["body"] for r, _ in launches}) == 1, "the wm_launch_event posts are byte-identical")
    for (a, _), (b, _) in zip(launches, launches[1:]):
        check(0.8 <= b["t"] - a["t"] <= 2.0, "retry %.2f s after the last" % (b["t"] - a["t"]))
    if launches:
        params = launches[0][1]["eventParam"]
        check(params.get("wareNewUser") == "true", "wareNewUser is \"true\"")
        check(type(params.get("first_launch")) is int, "first_launch is an integer")
    launch = named("launch")
    check(len(launch) == 1, "one launch")
    if launch:
        check(re.fullmatch(r"\d{13}", str(launch[0][1]["eventParam"].get("launch_time"))) is not None
              and isinstance(launch[0][1]["eventParam"]["launch_time"], str), "launch_time is a 13-digit string")
    activation = named("np_callback_event")
    check(len(activation) == 1, "one np_callback_event")
    if activation:
        check(type(activation[0][1]["eventParam"].get("active_time")) is int, "active_time is an integer")
    check(len(named("button_click")) == 1, "one button_click")
    funnel = named("Complete_Export")
    check(len(funnel) == 2, "two Complete_Export")
    if len(funnel) == 2:
        ids = {rec["eventParam"]["requestId"] for _, rec in funnel}
        check(len(ids) == 1 and re.fullmatch(r"[0-9A-F-]{36}", next(iter(ids))) is not None, "one upper-case requestId")
        check(sorted(rec["eventParam"]["step_order"] for _, rec in funnel) == [1, 2], "step_order 1 and 2 as numbers")
    check(len({rec["sessionId"] for _, rec in records()}) == 1, "one sessionId")
    check(len({rec["userId"] for _, rec in records()}) == 1, "one userId")
    check(all(rec["deviceInfo"]["os"] == os_name() for _, rec in records()), "os is NAME of /etc/os-release")
    check(all(r["headers"].get("Content-Type") == "application/json" for r, _ in records()), "JSON content type")
    b = batches()
    check(len(b) == 1, "one /batch, got %d" % len(b))
    if b:
        body = b[0]["body"]
        lines = body.split("\n")
        check(body.endswith("\n") and len(lines) == 3, "2 lines each ending in a line feed")
        check(re.fullmatch(r"Pinemoth/1 \(Macintosh; .+ Mac OS X \d+_\d+_\d+; .+\)", b[0]["headers"].get("User-Agent", ""))
              is not None, "User-Agent " + b[0]["headers"].get("User-Agent", ""))
        check("ec=App%E5%90%AF%E5%8A%A8" in body, "launch hit category")
        check("ec=%E6%8C%89%E9%92%AE%E7%82%B9%E5%87%BB" in body, "button hit category")
        check(body.count("tid=UA-12345-1") == 2, "tracking ID")
        cids = set(re.findall(r"(?:^|&)cid=([^&\n]*)", body, re.M))
        check(len(cids) == 1 and re.fullmatch(r"[0-9A-F-]{36}", next(iter(cids))) is not None, "one upper-case cid")
elif scenario == "2":
    check(len(batches()) == 1, "one /batch (it hangs)")
elif scenario == "3":
    b = batches()
    check(len(b) == 1 and b[0]["body"].count("\n") == 3, "one /batch with 3 lines")
    first = [json.loads(line) for line in open(sys.argv[3])]
    earlier = [r["body"] for r in first if r["path"] == "/batch"]
    if b and earlier:
        check(b[0]["body"].startswith(earlier[0]), "the lines of the first batch come first, unchanged")
elif scenario == "4":
    first = [json.loads(line) for line in open(sys.argv[3])]
    first_bodies = {json.loads(r["body"])["eventName"]: r["body"] for r in first if r["path"] == "/api/log/receive"}
    bodies = [r["body"] for r, _ in records()]
    for name in ("wm_launch_event", "np_callback_event"):
        check(name in first_bodies and first_bodies[name] in bodies, "the first run's %s again, byte-identical" % name)
    launches = named("wm_launch_event")
    sessions = {rec["sessionId"] for _, rec in launches}
    check(len(sessions) == 2, "a new wm_launch_event with a new sessionId")
    check(len(named("np_callback_event")) == 1, "no second activation")
    check(len(named("launch")) == 1, "one launch (its own)")
    if named("launch") and launches:
        own = named("launch")[0][1]["sessionId"]
        check(own != json.loads(first_bodies.get("wm_launch_event", "{}")).get("sessionId"), "launch is this run's")

for failure in failures:
    print("scenario %s: %s" % (scenario, failure))
sys.exit(1 if failures else 0)
