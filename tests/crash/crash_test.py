#!/usr/bin/env python3
"""Kills the quorvant tool with SIGKILL at random points of its writes and
checks what a crash may never do: lose a write that was reported done, leave a
database that fails its integrity check, or leave a transient PFX's key
material in any file under the data directory.

    crash_test.py --tool build/bin/quorvant --trials 10 [--ops store,registry,...]

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

    def killed_run(self, args, delay, stdin_text=None):
        """Runs the tool, kills it after `delay` seconds; True when it had
        finished successfully before the kill."""
        p = subprocess.Popen([self.tool, *args], env=self.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL,
                             stdin=subprocess.PIPE if stdin_text is not None else None)
        if stdin_text is not None:
            try:
                p.stdin.write(stdin_text.encode())
                p.stdin.close()
            except BrokenPipeError:
                pass
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


def make_pfx(directory, password):
    """An RSA key and its self-signed certificate in a PKCS #12 file made by
    the openssl command line, and byte strings of its private key that must
    never be found on disk: slices of p, q and d, big- and little-endian (as
    OpenSSL and as the providers' key blobs hold them)."""
    from cryptography.hazmat.primitives import serialization
    key_path = os.path.join(directory, "pfx-key.pem")
    cert_path = os.path.join(directory, "pfx-cert.pem")
    pfx_path = os.path.join(directory, "crash.pfx")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                    key_path, "-subj", "/CN=crash pfx", "-days", "30", "-out", cert_path],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key_path, "-in", cert_path,
                    "-passout", f"pass:{password}", "-out", pfx_path],
                   check=True, capture_output=True)
    with open(key_path, "rb") as f:
        numbers = serialization.load_pem_private_key(f.read(), None).private_numbers()
    secrets = []
    for n in (numbers.p, numbers.q, numbers.d):
        be = n.to_bytes((n.bit_length() + 7) // 8, "big")
        middle = be[len(be) // 2 - 12:len(be) // 2 + 12]
        secrets += [middle, middle[::-1]]
    der = subprocess.run(["openssl", "x509", "-in", cert_path, "-outform", "DER"],
                         check=True, capture_output=True).stdout
    cert_der = os.path.join(directory, "pfx-cert.der")
    with open(cert_der, "wb") as f:
        f.write(der)
    return pfx_path, secrets, thumbprint(cert_der)


def typical_duration(home, args, repeat=3, stdin_text=None):
    best = None
    for _ in range(repeat):
        start = time.monotonic()
        run([home.tool, *args], home.env, timeout=60, input=stdin_text)
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


def check_no_secrets(home, secrets, what):
    hits = home.files_holding(secrets)
    if hits:
        raise Failure(f"{what}: the PFX's private key is on disk in {hits}")


def trial_pfx_info(home, pfx, trials, rng):
    """Opens a PFX for a moment (its keys must never reach the disk)."""
    path, password, secrets = pfx
    info = ["pfx", "info", path, "--password-stdin"]
    spent = typical_duration(home, info, stdin_text=password + "\n") * 2
    for t in range(trials):
        home.killed_run(info, rng.uniform(0, spent), stdin_text=password + "\n")
        home.check_integrity()
        check_no_secrets(home, secrets, f"pfx info trial {t}")


def trial_pfx_passwd(home, pfx, trials, rng, root):
    """Changes a PFX's password back and forth: the file keeps opening with
    one of the two, and its keys never reach the data directory."""
    path, password, secrets = pfx
    copy = os.path.join(root, "passwd.pfx")
    shutil.copyfile(path, copy)
    current = password
    spent = typical_duration(home, ["pfx", "info", copy, "--password-stdin"],
                             stdin_text=current + "\n") * 4
    for t in range(trials):
        new = f"pw{t}"
        done = home.killed_run(["pfx", "passwd", copy, "--password-stdin"],
                               rng.uniform(0, spent), stdin_text=f"{current}\n{new}\n")
        opens = {pw: run([home.tool, "pfx", "info", copy, "--password-stdin"], home.env,
                         timeout=60, input=pw + "\n").returncode == 0 for pw in (current, new)}
        if done and not opens[new]:
            raise Failure(f"passwd trial {t}: reported done, but the new password fails")
        if not any(opens.values()):
            raise Failure(f"passwd trial {t}: the file opens with neither password")
        current = new if opens[new] else current
        home.check_integrity()
        check_no_secrets(home, secrets, f"passwd trial {t}")


def trial_pfx_import(home, pfx, trials, rng):
    """Imports a PFX into MY: a done import stands, the databases stay whole."""
    path, password, _, cert_print = pfx
    spent = typical_duration(home, ["pfx", "import", path, "--password-stdin"],
                             stdin_text=password + "\n") * 2
    for t in range(trials):
        if cert_print in home.thumbprints():
            home.call("store", "delete", "MY", "1")
        done = home.killed_run(["pfx", "import", path, "--password-stdin"],
                               rng.uniform(0, spent), stdin_text=password + "\n")
        home.check_integrity()
        if done and cert_print not in home.thumbprints():
            raise Failure(f"import trial {t}: reported done, but the certificate is not in MY")


def trial_enrol(home, trials, rng):
    """Makes key pairs and requests: the databases stay whole and readable."""
    spent = typical_duration(home, ["enrol", "request", "crash", "--bits", "1024"], repeat=1) * 2
    for t in range(trials):
        home.killed_run(["enrol", "request", f"crash {t}", "--bits", "1024"],
                        rng.uniform(0, spent))
        home.check_integrity()
        out = home.call("reg", "query", r"HKCU\Software")
        if out.returncode not in (0, 1):
            raise Failure(f"enrol trial {t}: the registry no longer reads: {out.stdout}{out.stderr}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--trials", type=int, default=10)
    parser.add_argument("--ops", default="store,registry,pfx-info,pfx-passwd,pfx-import,enrol")
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    root = tempfile.mkdtemp(prefix="quorvant-crash-")
    passed = failed = 0
    try:
        certs = make_certificates(root, 6)
        pfx_path, secrets, pfx_print = make_pfx(root, "crash-secret")
        pfx = (pfx_path, "crash-secret", secrets)
        home = Home(os.path.abspath(args.tool), root)
        ops = {
            "store": lambda: trial_store(home, certs, args.trials, rng),
            "registry": lambda: trial_registry(home, args.trials, rng),
            "pfx-info": lambda: trial_pfx_info(home, pfx, args.trials, rng),
            "pfx-passwd": lambda: trial_pfx_passwd(home, pfx, args.trials, rng, root),
            "pfx-import": lambda: trial_pfx_import(home, pfx + (pfx_print,), args.trials, rng),
            "enrol": lambda: trial_enrol(home, args.trials, rng),
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
