#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora and dictionary from the protocol document.

Usage: make_seeds.py PROTOCOL_MD OUT_DIR
Makes OUT_DIR/{intake,dispatch,stream}/ and OUT_DIR/protocol.dict. Requests come from the
document's JSON examples and from its methods table: every method with no parameters and with
each parameter it lists, given a value that fits this desktop (fuzz_desktop.json).
"""
import json
import os
import re
import sys

# Values that reach past parameter checking on the fuzzers' desktop.
SAMPLE = {
    "pid": 201, "app": "Mail", "windowId": 4713, "targetPid": 204, "raise": True,
    "maxElements": 40, "maxDepth": 6, "window": {"title": "Mail"}, "path": "w0.0",
    "action": "AXPress", "value": "hunter2-\u00dfecret", "text": "hello", "prefix": "",
    "suffix": "", "selectionType": "caret", "type": "key", "keyCode": 0, "down": True,
    "kind": "click", "x": 12, "y": 8, "toX": 40, "toY": 30, "clickCount": 2, "flags": 131072,
    "dy": 3, "dx": -1, "name": "seed", "maxWidth": 64, "guiCapture": True,
    "expectedWindow": {"windowId": 4713, "pid": 201, "x": 500, "y": 500, "w": 120, "h": 60},
}
EXTRA_METHODS = ["performAXAction", "postKey", "postMouse", "postScroll", "setAXValue",
                 "noSuchMethod"]
REMOTE_INPUT = [
    {"type": "key", "keyCode": 56, "down": True}, {"type": "key", "keyCode": 56, "down": False},
    {"type": "text", "text": "h\u00e9llo \U0001F600"}, {"type": "wheel", "dy": 2, "dx": 0},
    {"type": "pointer", "phase": "down", "button": 0, "x": 5, "y": 5},
    {"type": "pointer", "phase": "move", "x": 9.5, "y": 7}, {"type": "pointer", "phase": "up"},
    {"type": "heartbeat"}, {"type": "release"},
]


def methods_table(doc):
    rows = {}
    section = doc.split("\n## Methods\n", 1)[1].split("\n## ", 1)[0]
    for line in section.splitlines():
        m = re.match(r"\|\s*`(\w+)`\s*\|\s*([^|]*)\|", line)
        if m and m.group(1)[0].islower() and "params" not in line:
            params = re.findall(r"`(\w+)`", m.group(2))
            rows.setdefault(m.group(1), params)
    return rows


def request(i, method, params):
    return json.dumps({"id": str(i), "version": 1, "method": method, "params": params},
                      ensure_ascii=False, separators=(",", ":"))


def main():
    doc_path, out = sys.argv[1], sys.argv[2]
    doc = open(doc_path, encoding="utf-8").read()
    rows = methods_table(doc)
    names = sorted(set(rows) | set(EXTRA_METHODS))

    calls = []
    for method, params in rows.items():
        calls.append((method, {}))
        calls.append((method, {p: SAMPLE[p] for p in params if p in SAMPLE}))
        for p in params:
            if p in SAMPLE:
                calls.append((method, {p: SAMPLE[p]}))
    calls += [("remoteDesktopInput", p) for p in REMOTE_INPUT]
    unique = {}
    for method, params in calls:
        unique.setdefault(method + json.dumps(params, sort_keys=True), (method, params))
    calls = list(unique.values())

    lines = [request(i, m, p) for i, (m, p) in enumerate(calls)]
    lines += re.findall(r"^(\{\"id\".*\"method\".*\})$", doc, re.M)
    lines += ["", "{}", '{"id":"1","version":1.9,"method":"ping"}', '{"version":true}',
              '{"id":"x","version":"1","method":"ping"}', "[" * 600]

    for d in ("intake", "dispatch", "stream"):
        os.makedirs(os.path.join(out, d), exist_ok=True)
    for i, line in enumerate(lines):
        with open(os.path.join(out, "intake", "seed%04d" % i), "wb") as f:
            f.write(line.encode("utf-8"))
    for i, (method, params) in enumerate(calls):
        for caps in (0, 0xFF):
            with open(os.path.join(out, "dispatch", "seed%04d_%02x" % (i, caps)), "wb") as f:
                f.write(bytes([names.index(method), caps]))
                f.write(json.dumps(params, ensure_ascii=False).encode("utf-8"))
    with open(os.path.join(out, "stream", "all"), "wb") as f:
        f.write(("\n".join(lines) + "\n").encode("utf-8"))
    for i in range(0, len(lines), 8):
        with open(os.path.join(out, "stream", "part%04d" % i), "wb") as f:
            f.write("\r\n".join(lines[i:i + 8]).encode("utf-8"))

    words = set(re.findall(r"`([A-Za-z][\w.]*)`", doc)) | set(names)
    words |= set(re.findall(r'"([A-Za-z][\w.-]{1,30})"', doc))
    with open(os.path.join(out, "protocol.dict"), "w", encoding="utf-8") as f:
        for w in sorted(words):
            f.write('"%s"\n' % w.replace("\\", "\\\\").replace('"', '\\"'))
        for token in ('":', '{"', '"}', "true", "false", "null", "1e400", "-0", "\\u0000",
                      "\\ud800", "\\r\\n"):
            f.write('"%s"\n' % token.replace("\\", "\\\\").replace('"', '\\"'))


if __name__ == "__main__":
    main()
