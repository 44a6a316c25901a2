#!/usr/bin/python3
"""Checks of the feedback and measurement-protocol shell scenarios over a recorder log.

    online-feedback-check.py SCENARIO LOG"""
import base64
import binascii
import json
import re
import sys
import urllib.parse

scenario = sys.argv[1]
log = [json.loads(line) for line in open(sys.argv[2])]
failures = []
FEEDBACK = "/Statistics_branch/transit/addData"


def check(condition, message):
    if not condition:
        failures.append(message)


def named(name):
    records = [json.loads(r["body"]) for r in log if r["path"] == "/api/log/receive"]
    return [rec for rec in records if rec["eventName"] == name]


if scenario == "1":
    posts = [r for r in log if r["path"] == FEEDBACK]
    check(len(posts) == 1, "one feedback post, got %d" % len(posts))
    if posts:
        check(posts[0]["headers"].get("Content-Type") == "application/json", "JSON content type")
        check(json.loads(posts[0]["body"]) == {
            "product_name": "Tamberlo", "package_name": "io.tamberlo.Tamberlo", "product_version": "0.1.0",
            "device_type": "Mac", "cpmments_date": "2024-12-30 23:59:59 50", "comments": "  好用  \n",
            "feedback_email": "qq 123", "product_type": "macOS"}, "feedback body " + posts[0]["body"])
    satisfication = named("satisfication")
    check(len(satisfication) == 1 and satisfication[0]["eventParam"] == {"func_name": "使用满意度", "satisfiable": 1},
          "one satisfication %s" % satisfication)
    satisfy = named("satisfy")
    check(len(satisfy) == 1 and satisfy[0]["eventParam"] == {"function_name": "使用满意度", "is_like": "true"},
          "one satisfy %s" % satisfy)
elif scenario == "3":
    check(not [r for r in log if r["path"] == FEEDBACK], "no feedback post")
    satisfication = named("satisfication")
    check(len(satisfication) == 1 and satisfication[0]["eventParam"].get("satisfiable") == 0,
          "one satisfication with 0 %s" % satisfication)
    satisfy = named("satisfy")
    check(len(satisfy) == 1 and satisfy[0]["eventParam"].get("is_like") == "false", "one satisfy false %s" % satisfy)
elif scenario == "5":
    posts = [r for r in log if r["path"] == "/collect"]
    bodies = [r["body"] for r in posts]
    wanted = [("UA-1-1", ["ea=a%20b%26c%2Bd%3De%25f"]), ("UA-2-2", ["ea=a%20b%26c%2Bd%3De%25f"]),
              ("UA-3-3", ["ea=x"]), ("UA-1-1", ["t=timing", "utt=1200"]), ("UA-1-1", ["t=appview", "cd=Home"])]
    check(len(bodies) == len(wanted), "%d /collect posts, got %d: %s" % (len(wanted), len(bodies), bodies))
    for body, (gaid, parts) in zip(bodies, wanted):
        pairs = body.split("&")
        check(body.startswith("v=1&tid=%s&an=Tamberlo&av=1&cid=" % gaid), "prefix of " + body)
        for part in parts:
            check(part in pairs, "%s in %s" % (part, body))
        check("10.13" not in body, "no system info in " + body)
        cid = [p[4:] for p in pairs if p.startswith("cid=")]
        check(len(cid) == 1 and re.fullmatch(r"(?:[A-Za-z0-9._~-]|%[0-9A-F]{2})+", cid[0]) is not None,
              "cid escaped: %s" % cid)
        if cid:
            try:
                base64.b64decode(urllib.parse.unquote(cid[0]), validate=True)
            except (binascii.Error, ValueError):
                failures.append("cid is not Base64: " + cid[0])
    for r in posts:
        check(r["headers"].get("User-Agent"), "a User-Agent")
        check("Cookie" not in r["headers"], "no Cookie")

for failure in failures:
    print("scenario %s: %s" % (scenario, failure))
sys.exit(1 if failures else 0)
