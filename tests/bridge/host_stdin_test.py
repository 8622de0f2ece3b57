#!/usr/bin/python3
"""quorvant-bridge over its standard input, as the browser drives it: bad
framing, bad JSON, bad arguments and a foreign caller each get a clear error
and never a crash or a hang.

  host_stdin_test.py PATH_TO_QUORVANT_BRIDGE
"""
import json
import struct
import subprocess
import sys
import time

HOST = sys.argv[1]
OURS = ["chrome-extension://dponbioakojdldlefcgeciogjipojfca/"]
FIREFOX = ["/usr/lib/mozilla/native-messaging-hosts/com.quorvant.bridge.json",
           "bridge@quorvant.example"]
failures = []


def frame(message):
    body = message if isinstance(message, bytes) else json.dumps(message).encode()
    return struct.pack("=I", len(body)) + body


def run(stdin, argv=OURS):
    started = time.time()
    p = subprocess.run([HOST, *argv], input=stdin, capture_output=True, timeout=20)
    replies, out = [], p.stdout
    while len(out) >= 4:
        (n,) = struct.unpack("=I", out[:4])
        replies.append(json.loads(out[4:4 + n]))
        out = out[4 + n:]
    if out:
        replies.append({"trailing bytes": out.hex()})
    return p.returncode, replies, time.time() - started


# A site that is not approved gets a refusal (there is no dialog in this
# test), so only messages the host rejects before any approval are used.
CONNECT = frame({"connect": "https://bank.example"})

CASES = [
    # (what, stdin, argv, exit status, check of the replies)
    ("no input: the page is gone", b"", OURS, 0, lambda r: r == []),
    ("a length cut short", b"\x05\x00", OURS, 1,
     lambda r: len(r) == 1 and "truncated" in r[0]["error"]),
    ("a message cut short", struct.pack("=I", 100) + b'{"id":', OURS, 1,
     lambda r: len(r) == 1 and "truncated" in r[0]["error"]),
    ("a 4 GiB length, refused before allocating", b"\xff\xff\xff\xff" + b"{}", OURS, 1,
     lambda r: len(r) == 1 and "16 MiB" in r[0]["error"]),
    ("one byte past 16 MiB", struct.pack("=I", (16 << 20) + 1), OURS, 1,
     lambda r: len(r) == 1 and "16 MiB" in r[0]["error"]),
    ("malformed JSON, then the host goes on", frame(b"{nope") + CONNECT, OURS, 0,
     lambda r: len(r) == 2 and r[0]["error"] == "malformed JSON" and "connected" in r[1]),
    ("a call before connecting", frame({"id": 3, "method": "Hash", "args": ["abc", 3]}), OURS, 0,
     lambda r: r == [{"id": 3, "error": "not connected"}]),
    ("wrong argument types", frame({"id": 4, "method": "Hash", "args": [3, "abc"]}), OURS, 0,
     lambda r: r[0]["id"] == 4 and "must be a string" in r[0]["error"]),
    ("an unknown method", frame({"id": 5, "method": "CountWeakKeys", "args": [1]}), OURS, 0,
     lambda r: r[0]["id"] == 5 and "unknown method" in r[0]["error"]),
    ("a refused site", CONNECT + frame({"id": 6, "method": "Hash", "args": ["abc", 3]}), OURS, 0,
     lambda r: r[0]["connected"] is False and r[1]["id"] == 6 and r[1]["errorCode"] == 5803),
    ("a foreign extension", CONNECT, ["chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"], 2,
     lambda r: len(r) == 1 and r[0]["errorCode"] == 5809),
    ("no caller named at all", CONNECT, [], 2,
     lambda r: len(r) == 1 and r[0]["errorCode"] == 5809),
    ("our extension in Firefox", CONNECT, FIREFOX, 0,
     lambda r: len(r) == 1 and "connected" in r[0]),
]

for what, stdin, argv, status, check in CASES:
    code, replies, seconds = run(stdin, argv)
    ok = code == status and check(replies) and seconds < 5
    print(("ok   " if ok else "FAIL ") + f"{what}: exit {code}, {replies}")
    if not ok:
        failures.append(what)

print(f"{len(CASES) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
