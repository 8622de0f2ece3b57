#!/usr/bin/python3
"""Pages in real headless Chromium reach the component through the unpacked
extension and quorvant-bridge, under the scripted dialog host.

  chromium_e2e_test.py BIN_DIR WEB_DIR

Exits 77 (skipped) when Chromium, its WebDriver or Selenium is missing.
Each host process plays the dialog script from its start, so the script is
rewritten before each page opens the control.
"""
import base64
import functools
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77


def skip(why):
    print(f"SKIP: {why}")
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:
    skip("python3-selenium is not installed")

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    skip("chromium and chromium-driver are not installed")

BIN, WEB = sys.argv[1], sys.argv[2]
HOST = os.path.join(BIN, "quorvant-bridge")
TOOL = os.path.join(BIN, "quorvant")
TMP = tempfile.mkdtemp(prefix="quorvant-e2e-")
PROFILE = os.path.join(TMP, "profile")
SCRIPT = os.path.join(TMP, "dialogs.script")
LOG = os.path.join(TMP, "dialogs.log")
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def serve():
    handler = functools.partial(QuietHandler, directory=WEB)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def script(*answers):
    with open(SCRIPT, "w", encoding="utf-8") as f:
        for answer in answers:
            f.write(f"dialog 201\npress {answer}\n")


def log_entries():
    if not os.path.exists(LOG):
        return []
    with open(LOG, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def host_pids():
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.readlink(f"/proc/{entry}/exe") == os.path.realpath(HOST):
                pids.append(int(entry))
        except OSError:
            pass
    return pids


def tool(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True)


# Runs `body` (the inside of an async function with `c` the control) in the
# current tab; returns its value, or {"error", "code"} for a rejection.
def page(driver, body):
    return driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "(async () => { try {"
        "  if (!window.qvTestControl) window.qvTestControl = await QuorvantControl.create();"
        "  const c = window.qvTestControl;"
        f"  done(await (async () => {{ {body} }})());"
        "} catch (e) { done({ error: String(e.message), code: e.code ?? null }); } })();")


def make_signer():
    """A PFX made by openssl, imported through the library the way a local
    program would; False when this build cannot import one."""
    key, cert, pfx = (os.path.join(TMP, n) for n in ("signer.key", "signer.pem", "signer.pfx"))
    # Issued by a small CA: the component never selects an authority
    # certificate, and every self-signed one counts as an authority.
    ca_key, ca_cert, csr, ext = (os.path.join(TMP, n)
                                 for n in ("ca.key", "ca.pem", "signer.csr", "signer.ext"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key,
                    "-out", ca_cert, "-days", "30", "-subj", "/CN=Bridge Test CA"],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", csr, "-subj", "/CN=Bridge Signer"], check=True, capture_output=True)
    with open(ext, "w") as f:
        f.write("keyUsage=digitalSignature,nonRepudiation\n")
    subprocess.run(["openssl", "x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key,
                    "-CAcreateserial", "-days", "30", "-extfile", ext, "-out", cert],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                    "-passout", "pass:secret"], check=True, capture_output=True)
    done = tool("call", "ImportPfxToIE", TMP + "/", "signer.pfx", "secret", "0", "0")
    return "result: 0 " in done.stdout, ca_cert


def main():
    os.makedirs(PROFILE)
    installed = tool("bridge", "install", "--dir", os.path.join(PROFILE, "NativeMessagingHosts"))
    check(installed.returncode == 0, "quorvant bridge install writes the manifest")
    os.environ.update(QUORVANT_HOME=os.path.join(TMP, "home"), QUORVANT_DIALOGS="scripted",
                      QUORVANT_DIALOG_SCRIPT=SCRIPT, QUORVANT_DIALOG_LOG=LOG,
                      QUORVANT_HKLM_DB=os.path.join(TMP, "machine.db"))
    have_signer, signer_cert = make_signer()

    approved_server, approved = serve()
    other_server, unapproved = serve()

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    extension = os.path.join(WEB, "extension")
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              f"--user-data-dir={PROFILE}", f"--load-extension={extension}",
              f"--disable-extensions-except={extension}",
              "--disable-features=DisableLoadExtensionCommandLineSwitch"):
        options.add_argument(a)
    driver = webdriver.Chrome(options=options, service=Service(DRIVER))
    driver.set_script_timeout(30)
    try:
        # 1. The user approves the site, then confirms the signature.
        script("ok", "ok")
        driver.get(approved + "/demo/index.html")
        first = driver.current_window_handle
        text = "付款 1000 元給 Bob"
        digest = page(driver, "return [await c.Hash('abc', 3), await c.GetErrorCode()];")
        check(digest == ["13E228567E8249FCE53337F25D7970DE3BD68AB2653424C7B8F9FD05E33CAEDF", 0],
              f"an approved origin hashes (SHA-256 of UTF-16 'abc'): {digest}")
        signed = page(driver, f"""
            const selected = await c.SelectSigner('S_CN=Bridge Signer', 0, 0);
            const sig = await c.SignPkcs7({json.dumps(text)}, 0);
            return [selected, sig, await c.GetErrorCode()];""")
        log = log_entries()
        check(len(log) == 2 and all(e["origin"] == approved for e in log),
              f"the approval and the sign confirmation show the origin: {log}")
        check(len(log) == 2 and log[1]["content"] == text and log[1]["outcome"] == "ok",
              "the sign confirmation shows the text being signed")
        if have_signer and isinstance(signed, list) and signed[2] == 0:
            p7, content = os.path.join(TMP, "sig.p7"), os.path.join(TMP, "content.bin")
            with open(p7, "wb") as f:
                f.write(base64.b64decode(signed[1]))
            with open(content, "wb") as f:
                f.write(text.encode("utf-16-le"))
            verified = subprocess.run(["openssl", "cms", "-verify", "-binary", "-inform", "DER",
                                       "-in", p7, "-content", content, "-CAfile", signer_cert,
                                       "-purpose", "any", "-out", os.devnull],
                                      capture_output=True, text=True)
            check(verified.returncode == 0, "openssl cms -verify accepts the page's PKCS #7 "
                  + verified.stderr.strip())
        else:
            print(f"note: no signature to verify in this build (signer import: {have_signer}, "
                  f"page got {signed})")

        # 2. What a page is never given.
        refused = page(driver, """
            const out = [];
            for (const call of [() => c.ExportMobileFromIE('', 'pw', 0, 0),
                                () => c.RegWriteHKCUStr('Software\\\\Classes\\\\evil\\\\v', 'x'),
                                () => c.GetUserHomePath()]) {
              try { await call(); out.push(null); } catch (e) { out.push(e.code); }
            }
            out.push(await c.GetErrorCode());
            return out;""")
        check(refused == [5805, 5806, 5808, 5808],
              f"mobile export, a write under Software\\Classes, the home path: {refused}")
        classes = tool("reg", "query", "HKCU\\Software\\Classes\\evil")
        check("result: 0 " not in classes.stdout, "nothing was written under Software\\Classes")

        # 3. Two tabs of one site: each its own host, its own result codes.
        check(page(driver, "await c.Hash('', 0); return await c.GetErrorCode();") == 5005,
              "the first tab's failed Hash leaves 5005")
        driver.switch_to.new_window("tab")
        script()
        driver.get(approved + "/demo/index.html")
        second = page(driver, "await c.Hash('abc', 3); return await c.GetErrorCode();")
        check(second == 0, f"the second tab (approval remembered) reads its own code: {second}")
        hosts_open = host_pids()
        driver.close()
        driver.switch_to.window(first)
        check(page(driver, "return await c.GetErrorCode();") == 5005,
              "the first tab still reads 5005")
        deadline = time.time() + 1.0
        while time.time() < deadline and len(host_pids()) >= len(hosts_open):
            time.sleep(0.05)
        check(len(hosts_open) == 2 and len(host_pids()) == 1,
              f"the closed tab's host is gone within a second ({hosts_open} -> {host_pids()})")

        # 4. A site the user refuses reaches nothing.
        before = len(log_entries())
        script("cancel")
        driver.switch_to.new_window("tab")
        driver.get(unapproved + "/demo/index.html")
        denied = page(driver, "return 1;")
        check(isinstance(denied, dict) and denied.get("code") == 5801,
              f"an unapproved origin is refused: {denied}")
        asked = log_entries()[before:]
        check(len(asked) == 1 and asked[0]["origin"] == unapproved and asked[0]["outcome"] == "cancel",
              f"only the approval was shown: {asked}")
        site_key = tool("reg", "query", "HKCU\\Software\\MORL\\QuorvantATL\\Sites\\" + unapproved)
        check("result: 0 " not in site_key.stdout, "the refused site left nothing in the registry")
    finally:
        driver.quit()
        approved_server.shutdown()
        other_server.shutdown()
    if failures:
        print(f"{len(failures)} failed")
        sys.exit(1)
    shutil.rmtree(TMP, ignore_errors=True)
    print("all passed")


if __name__ == "__main__":
    main()
