"""The page in headless Chromium: a local HTTP server for a folder, and a
Chromium driven by Selenium through Debian's chromium-driver. The page's tests
and its benchmark share them."""
import contextlib
import functools
import http.server
import shutil
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Headless as root, on a machine without a GPU, and quiet: no network of its
# own, no updates, no sync, a fresh profile each time.
CHROMIUM_FLAGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--window-size=1400,1000"]


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@contextlib.contextmanager
def serve(folder, handler_class=QuietHandler):
    """Serves `folder` on 127.0.0.1 at a free port; yields the base URL."""
    handler = functools.partial(handler_class, directory=str(folder))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield "http://127.0.0.1:%d/" % server.server_address[1]
    finally:
        server.shutdown()
        server.server_close()
        thread.join()


@contextlib.contextmanager
def chromium(extra_flags=(), prefs=None):
    """A headless Chromium with its console kept and profile preferences `prefs`; quit (with its driver) on exit."""
    profile = tempfile.mkdtemp(prefix="velmorante-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + profile] + list(extra_flags):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    if prefs:
        options.add_experimental_option("prefs", prefs)
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    try:
        yield driver
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


def wait_for(driver, script, timeout, poll=0.05):
    """Runs `script` (returns a value) until it gives something true; returns
    that, or raises TimeoutError with the page's state."""
    deadline = time.monotonic() + timeout
    while True:
        value = driver.execute_script(script)
        if value:
            return value
        if time.monotonic() > deadline:
            state = driver.execute_script("return JSON.stringify(window.velmorante && "
                                          "{phase: velmorante.phase, frame: velmorante.frame, "
                                          "message: velmorante.message})")
            raise TimeoutError("timed out waiting for: %s; page state %s" % (script, state))
        time.sleep(poll)


def start_demo(driver, url, timeout=120):
    """Loads the page, clicks its start screen and waits for the first frame."""
    driver.get(url)
    wait_for(driver, "return window.velmorante && document.getElementById('start')", 30)
    driver.find_element("id", "stage").click()
    wait_for(driver, "return velmorante.framesShown > 0 || velmorante.phase === 'failed'", timeout)
