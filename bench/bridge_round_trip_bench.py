#!/usr/bin/python3
"""GetErrorCode three ways, median of 500 calls each:

  page    a page in headless Chromium: quorvant.js -> content script ->
          service worker -> quorvant-bridge -> the component and back
  host    quorvant-bridge alone, one frame in and one out over its pipes
  direct  the library's export called in-process (what the control's Invoke
          does without a browser in between)

The page's clock is coarsened by the browser (to 100 us in headless
Chromium), so its median is good to that step.

  bridge_round_trip_bench.py BIN_DIR LIB_PATH WEB_DIR
"""
import ctypes
import functools
import http.server
import json
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

CALLS = 500
BIN, LIB, WEB = sys.argv[1], sys.argv[2], sys.argv[3]
TMP = tempfile.mkdtemp(prefix="quorvant-bench-")
os.environ.update(QUORVANT_HOME=os.path.join(TMP, "home"), QUORVANT_DIALOGS="none",
                  QUORVANT_HKLM_DB=os.path.join(TMP, "machine.db"))
ORIGIN_KEY = "HKCU\\Software\\MORL\\QuorvantATL\\Bridge\\Origins"


def approve(origin):
    subprocess.run([os.path.join(BIN, "quorvant"), "reg", "add", ORIGIN_KEY, "/v", origin,
                    "/t", "REG_DWORD", "/d", "1", "/f"], check=True, capture_output=True)


def direct():
    lib = ctypes.CDLL(LIB)
    lib.GetErrorCode.restype = ctypes.c_int32
    times = []
    for _ in range(CALLS):
        t = time.perf_counter_ns()
        lib.GetErrorCode()
        times.append(time.perf_counter_ns() - t)
    return statistics.median(times) / 1000


def host():
    approve("https://bench.example")
    p = subprocess.Popen([os.path.join(BIN, "quorvant-bridge"),
                          "chrome-extension://dponbioakojdldlefcgeciogjipojfca/"],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def exchange(message):
        body = json.dumps(message).encode()
        p.stdin.write(struct.pack("=I", len(body)) + body)
        p.stdin.flush()
        (n,) = struct.unpack("=I", p.stdout.read(4))
        return json.loads(p.stdout.read(n))

    exchange({"connect": "https://bench.example"})
    times = []
    for i in range(CALLS):
        t = time.perf_counter_ns()
        exchange({"id": i, "method": "GetErrorCode", "args": []})
        times.append(time.perf_counter_ns() - t)
    p.stdin.close()
    p.wait()
    return statistics.median(times) / 1000


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def page():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        return None
    if not shutil.which("chromium") or not shutil.which("chromedriver"):
        return None
    profile = os.path.join(TMP, "profile")
    subprocess.run([os.path.join(BIN, "quorvant"), "bridge", "install", "--dir",
                    os.path.join(profile, "NativeMessagingHosts")], check=True,
                   capture_output=True)
    handler = functools.partial(QuietHandler, directory=WEB)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    origin = f"http://127.0.0.1:{server.server_address[1]}"
    approve(origin)
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    extension = os.path.join(WEB, "extension")
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", f"--user-data-dir={profile}",
              f"--load-extension={extension}", f"--disable-extensions-except={extension}",
              "--disable-features=DisableLoadExtensionCommandLineSwitch"):
        options.add_argument(a)
    driver = webdriver.Chrome(options=options, service=Service(shutil.which("chromedriver")))
    try:
        driver.set_script_timeout(120)
        driver.get(origin + "/demo/index.html")
        times = driver.execute_async_script(f"""
            const done = arguments[arguments.length - 1];
            (async () => {{
              const c = await QuorvantControl.create();
              const times = [];
              for (let i = 0; i < {CALLS}; ++i) {{
                const t = performance.now();
                await c.GetErrorCode();
                times.push((performance.now() - t) * 1000);
              }}
              done(times);
            }})();""")
        return statistics.median(times)
    finally:
        driver.quit()
        server.shutdown()


d = direct()
h = host()
p = page()
print(f"GetErrorCode, median of {CALLS} calls")
print(f"  direct export   {d:10.2f} us")
print(f"  host over pipes {h:10.2f} us   ({h / d:,.0f} x direct)")
if p is None:
    print("  page            skipped (no chromium, chromedriver or selenium)")
else:
    print(f"  page round trip {p:10.2f} us   ({p / d:,.0f} x direct, {p / h:.1f} x host)")
shutil.rmtree(TMP, ignore_errors=True)
