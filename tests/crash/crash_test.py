#!/usr/bin/env python3
"""Kills the quorvant tool with SIGKILL at random points of its writes and
checks what a crash may never do: lose a write that was reported done, leave a
database that fails its integrity check, or leave a transient PFX's key
material in any file under the data directory.

    crash_test.py --tool build/bin/quorvant --trials 10 [--ops store,registry]

Every trial runs one command, kills it after a random delay drawn around that
command's usual run time (so some kills land mid-write and some after the
end), then checks the whole data directory.
"""
import argparse
import os
import random
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time


class Failure(Exception):
    pass


def run(cmd, env, **kw):
    return subprocess.run(cmd, env=env, capture_output=True, text=True, **kw)


def make_certificates(directory, count):
    """Self-signed P-256 certificates made by the openssl command line."""
    paths = []
    for i in range(count):
        path = os.path.join(directory, f"c{i}.der")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
             "-nodes", "-keyout", os.path.join(directory, f"k{i}.pem"), "-subj", f"/CN=crash {i}",
             "-days", "30", "-outform", "DER", "-out", path],
            check=True, capture_output=True)
        paths.append(path)
    return paths


def thumbprint(path):
    out = subprocess.run(["openssl", "x509", "-inform", "DER", "-in", path, "-noout",
                          "-fingerprint", "-sha1"], check=True, capture_output=True, text=True)
    return out.stdout.strip().split("=", 1)[1].replace(":", "").upper()


class Home:
    def __init__(self, tool, root):
        self.tool = tool
        self.dir = os.path.join(root, "home")
        self.env = dict(os.environ, QUORVANT_HOME=self.dir, QUORVANT_DIALOGS="none")
        self.env.pop("XDG_RUNTIME_DIR", None)
        self.kills = 0

    def call(self, *args):
        return run([self.tool, *args], self.env, timeout=60)

    def killed_run(self, args, delay):
        """Runs the tool, kills it after `delay` seconds; True when it had
        finished successfully before the kill."""
        p = subprocess.Popen([self.tool, *args], env=self.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        try:
            p.wait(timeout=delay)
        except subprocess.TimeoutExpired:
            p.send_signal(signal.SIGKILL)
            p.wait()
            self.kills += 1
            return False
        return p.returncode == 0

    def thumbprints(self, store="MY"):
        out = self.call("store", "list", store)
        if out.returncode not in (0, 1):
            raise Failure(f"store list failed after a crash: {out.stdout}{out.stderr}")
        return re.findall(r"Thumbprint:\s+([0-9A-F]{40})", out.stdout)

    def registry_values(self, key):
        out = self.call("reg", "query", key)
        return dict(re.findall(r"^\s+(v\d+)\s+REG_DWORD\s+(0x[0-9a-f]+)", out.stdout, re.M))

    def check_integrity(self):
        if not os.path.isdir(self.dir):
            return
        for name in os.listdir(self.dir):
            if not name.endswith(".db"):
                continue
            db = sqlite3.connect(os.path.join(self.dir, name))
            try:
                result = db.execute("PRAGMA integrity_check").fetchone()[0]
            finally:
                db.close()
            if result != "ok":
                raise Failure(f"{name}: integrity_check says {result}")

    def files_holding(self, secrets):
        hits = []
        for base, _, files in os.walk(self.dir):
            for f in files:
                path = os.path.join(base, f)
                with open(path, "rb") as fh:
                    data = fh.read()
                for s in secrets:
                    if s in data:
                        hits.append(path)
                        break
        return hits


def typical_duration(home, args, repeat=3):
    best = None
    for _ in range(repeat):
        start = time.monotonic()
        home.call(*args)
        spent = time.monotonic() - start
        best = spent if best is None else min(best, spent)
    return best


def trial_store(home, certs, trials, rng):
    """Adds and deletes certificates of MY, killing the tool mid-way."""
    add_time = typical_duration(home, ["store", "add", "MY", certs[0]]) * 3
    expected = set(home.thumbprints())
    prints = {c: thumbprint(c) for c in certs}
    for t in range(trials):
        cert = certs[t % len(certs)]
        if rng.random() < 0.6 or not expected:
            done = home.killed_run(["store", "add", "MY", cert], rng.uniform(0, add_time))
            if done:
                expected.add(prints[cert])
        else:
            listed = home.thumbprints()
            home.killed_run(["store", "delete", "MY", "1"], rng.uniform(0, add_time))
            # Done or killed after its commit, the first one may be gone;
            # every other one must stay.
            if listed:
                expected.discard(listed[0])
        home.check_integrity()
        have = set(home.thumbprints())
        # A killed command may or may not have committed its own change;
        # every change reported done stands, and nothing else moved.
        lost = {p for p in expected if p not in have}
        if lost:
            raise Failure(f"store trial {t}: committed certificates lost: {sorted(lost)}")
        expected = have


def trial_registry(home, trials, rng):
    key = r"HKCU\Software\QuorvantCrash"
    committed = {}
    write_time = typical_duration(home, ["reg", "add", key, "/v", "warm", "/t", "REG_DWORD",
                                         "/d", "0", "/f"]) * 3
    for t in range(trials):
        name, value = f"v{t}", t + 1
        done = home.killed_run(["reg", "add", key, "/v", name, "/t", "REG_DWORD", "/d",
                                str(value), "/f"], rng.uniform(0, write_time))
        if done:
            committed[name] = hex(value)
        home.check_integrity()
        have = home.registry_values(key)
        for n, v in committed.items():
            if have.get(n) != v:
                raise Failure(f"registry trial {t}: committed {n}={v} reads {have.get(n)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--trials", type=int, default=10)
    parser.add_argument("--ops", default="store,registry")
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    root = tempfile.mkdtemp(prefix="quorvant-crash-")
    passed = failed = 0
    try:
        certs = make_certificates(root, 6)
        home = Home(os.path.abspath(args.tool), root)
        ops = {
            "store": lambda: trial_store(home, certs, args.trials, rng),
            "registry": lambda: trial_registry(home, args.trials, rng),
        }
        for op in args.ops.split(","):
            try:
                home.kills = 0
                ops[op]()
                passed += 1
                print(f"{op}: {args.trials} trials ({home.kills} killed mid-way), nothing lost")
            except Failure as e:
                failed += 1
                print(f"FAILED {op} (seed {seed}): {e}")
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
