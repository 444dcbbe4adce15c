"""The WebAssembly page in headless Chromium: frame N on its canvas is frame N
of velmorante-capture bit for bit, Web Audio is handed the loop the desktop
plays (its volume and mute after it), Escape ends the loop at any point, a
hidden tab pauses it, the page fits the window, and what stops the page is
said in words.

Arguments: the page's folder (build/web), the desktop build's velmorante-capture
and tests/dump, and data/."""
import base64
import contextlib
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import numpy as np
from PIL import Image
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(__file__))
import browser  # noqa: E402

from velmorante_facts import LOOP_BYTES, WEB_MEMORY_MB  # noqa: E402

WEB, CAPTURE, DUMP, DATA = (os.path.abspath(a) for a in sys.argv[1:5])

# Picked after looking at them (tile slots and jitter from ScriptParams). Frames
# far on (a wrapped square, the last one) are the unit tests' (test_portable.cpp,
# under node): here the page is checked, not the arithmetic again.
FRAMES = {
    1003: "three tiles show noise slots (700-767); no row is displaced",
    1305: "jitter 58: rows displaced by up to 58 pixels",
}

# The canvas as 0x00RRGGBB little-endian words (bytes B, G, R, 0), hashed.
CANVAS_SHA256 = """
const done = arguments[arguments.length - 1];
const c = document.getElementById('screen');
const rgba = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
const words = new Uint8Array(rgba.length);
for (let i = 0; i < rgba.length; i += 4) {
  words[i] = rgba[i + 2]; words[i + 1] = rgba[i + 1]; words[i + 2] = rgba[i];
}
crypto.subtle.digest('SHA-256', words).then((h) =>
  done([...new Uint8Array(h)].map((b) => b.toString(16).padStart(2, '0')).join('')));
"""

# What the page handed Web Audio, back as signed 16-bit little-endian
# interleaved bytes (x * 32768 is exact for every 16-bit sample).
AUDIO_HANDED = """
const a = velmorante.audio, b = a.buffer, n = b.length, ch = b.numberOfChannels;
const out = new Uint8Array(n * ch * 2), view = new DataView(out.buffer);
for (let c = 0; c < ch; c++) {
  const data = b.getChannelData(c);
  for (let i = 0; i < n; i++) view.setInt16(2 * (i * ch + c), Math.round(data[i] * 32768), true);
}
let text = '';
for (let i = 0; i < out.length; i += 32768) text += String.fromCharCode(...out.subarray(i, i + 32768));
return {rate: b.sampleRate, channels: ch, loop: a.source.loop, state: a.context.state, bytes: btoa(text)};
"""


def desktop_hashes(frames):
    """SHA-256 of each frame's 0x00RRGGBB words, from velmorante-capture's PNGs."""
    hashes = {}
    with tempfile.TemporaryDirectory() as out:
        args = [CAPTURE, "--out", out]
        for n in frames:
            args += ["--frame", str(n)]
        subprocess.run(args, cwd=DATA, check=True, stdout=subprocess.DEVNULL)
        for n in frames:
            rgb = np.asarray(Image.open(os.path.join(out, "frame-%d.png" % n)).convert("RGB"))
            words = np.zeros(rgb.shape[:2] + (4,), np.uint8)
            words[..., 0], words[..., 1], words[..., 2] = rgb[..., 2], rgb[..., 1], rgb[..., 0]
            hashes[n] = hashlib.sha256(words.tobytes()).hexdigest()
    return hashes


def expected_loop():
    """The loop the desktop builds at start-up."""
    return subprocess.run([DUMP, "sound", DATA], check=True, timeout=120, capture_output=True).stdout


def console_errors(driver):
    return [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]


def console_lines(driver):
    """The page's console.log lines, as text ('URL line:column "text"' in the log)."""
    found = (re.fullmatch(r'\S+/page\.js \d+:\d+ (".*")', e["message"]) for e in driver.get_log("browser"))
    return [json.loads(m.group(1)) for m in found if m]


# Every element shown that lies outside the window's viewport, the overflow
# that would make scroll bars, and the picture's shape.
LAYOUT = """
const w = innerWidth, h = innerHeight, d = document.documentElement;
const outside = [...document.querySelectorAll('#screen, #controls > *, .panel > *, #rate')]
  .filter((e) => e.getClientRects().length).map((e) => [e.id || e.className, e.getBoundingClientRect()])
  .filter(([, r]) => r.left < 0 || r.top < 0 || r.right > w || r.bottom > h).map(([name]) => name);
const c = document.getElementById('screen').getBoundingClientRect();
return {outside, overflow: [d.scrollWidth - w, d.scrollHeight - h], shape: c.width / c.height};
"""
WINDOWS = [(1366, 768), (1024, 600)]

GAIN = "return velmorante.audio.gain.gain.value"
AUDIO_STATE = "return velmorante.audio.context.state === '%s'"


class BrokenDownload(browser.QuietHandler):
    """Serves robotrk.fli's first megabyte under its full length, then closes
    the connection (cut short) or, given an event, holds it open with nothing
    more until the event is set (stalled)."""
    stall = None

    def do_GET(self):
        if not self.path.endswith("/robotrk.fli"):
            return super().do_GET()
        with open(os.path.join(self.directory, "data", "robotrk.fli"), "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[:1000000])
        self.wfile.flush()
        if self.stall:
            self.stall.wait(60)
        self.close_connection = True


def message(driver):
    return browser.wait_for(driver, "return velmorante.phase === 'failed' && velmorante.message", 60)


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        cls.url = cls.stack.enter_context(browser.serve(WEB)) + "index.html"

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def test_stop_leaves_frame_n_on_the_canvas_as_the_desktop_draws_it(self):
        expected = desktop_hashes(FRAMES)
        with browser.chromium() as driver:
            for n, why in FRAMES.items():
                with self.subTest(frame=n, why=why):
                    browser.start_demo(driver, "%s?stop=%d" % (self.url, n), timeout=120)
                    page = browser.wait_for(driver, "return document.getElementById('frame-sha256').textContent", 60)
                    self.assertEqual(page, expected[n])
                    self.assertEqual(driver.execute_async_script(CANVAS_SHA256), expected[n])
                    # Every frame before N was begun and drawn, and only N shown.
                    browser.wait_for(driver, "return velmorante.phase === 'ended'", 30)
                    self.assertEqual(driver.execute_script("return [velmorante.frame, velmorante.framesShown]"), [n, 1])
                    self.assertEqual(console_errors(driver), [])

    def assert_a_hidden_tab_pauses(self, driver, running):
        """Minimised, the page is hidden: the loop waits at its turn and the
        sound is suspended; shown again, both go on from where they were."""
        window = driver.get_window_rect()
        driver.minimize_window()
        paused = browser.wait_for(driver, "return velmorante.paused && velmorante.frame", 10)
        browser.wait_for(driver, AUDIO_STATE % "suspended", 10)
        time.sleep(0.5)  # a while hidden: nothing is drawn in it
        self.assertEqual(driver.execute_script("return velmorante.frame"), paused)
        driver.execute_script("const p = velmorante.page, show = p.showFrame;"
                              "p.showFrame = (...a) => { p.showFrame = show; window.shownNext = a[3]; show(...a); };")
        driver.set_window_rect(width=window["width"], height=window["height"])
        browser.wait_for(driver, "return velmorante.frame > %d" % paused, 10)
        browser.wait_for(driver, AUDIO_STATE % "running", 10)
        if running:
            self.assertEqual(driver.execute_script("return window.shownNext"), paused + 1)

    def test_the_demo_runs_clean_plays_the_loop_and_ends_on_escape(self):
        loop = expected_loop()
        with browser.chromium() as driver:
            # Volume and mute set on the start screen (keys there do not start the demo), remembered.
            driver.get(self.url)
            browser.wait_for(driver, "return window.velmorante", 30)
            driver.find_element("id", "volume").send_keys(Keys.LEFT * 50 + "m")
            self.assertEqual(driver.execute_script("return velmorante.phase"), "loading")
            browser.start_demo(driver, self.url)
            self.assertEqual(driver.execute_script("return velmorante.phase"), "running")
            self.assertEqual(driver.execute_script(GAIN), 0)
            ActionChains(driver).send_keys("m").perform()
            self.assertEqual(driver.execute_script(GAIN), 0.25)  # the slider's share, squared
            driver.find_element("id", "mute").click()
            self.assertEqual(driver.execute_script(GAIN), 0)
            driver.find_element("id", "mute").click()

            handed = driver.execute_script(AUDIO_HANDED)
            self.assertEqual((handed["rate"], handed["channels"], handed["loop"], handed["state"]),
                             (22050, 2, True, "running"))
            samples = base64.b64decode(handed["bytes"])
            self.assertEqual(len(samples), LOOP_BYTES)
            if samples != loop:
                bad = next(i for i in range(LOOP_BYTES) if samples[i] != loop[i])
                self.fail("sample byte %d is %d, the loop's is %d" % (bad, samples[bad], loop[bad]))

            # The frame-rate line comes once a second; the overlay hides.
            line = browser.wait_for(driver, "return velmorante.rateLine", 10)
            self.assertRegex(line, r"^\d+$")
            self.assertEqual(driver.find_element("id", "rate-text").text, line + " frames/s")
            driver.find_element("id", "rate-hide").click()
            self.assertFalse(driver.find_element("id", "rate").is_displayed())

            ActionChains(driver).send_keys("f").perform()
            browser.wait_for(driver, "return document.fullscreenElement === document.getElementById('stage')", 10)
            ActionChains(driver).send_keys("f").perform()
            browser.wait_for(driver, "return document.fullscreenElement === null", 10)
            self.assert_a_hidden_tab_pauses(driver, running=True)

            ActionChains(driver).send_keys(Keys.ESCAPE).perform()
            browser.wait_for(driver, "return velmorante.phase === 'ended'", 30)
            ended = driver.execute_script("return velmorante.frame")
            self.assertIn("ended, after frame %s" % format(ended, ","), driver.find_element("id", "message").text)
            self.assertEqual(driver.execute_script("return velmorante.audio.context.state"), "closed")
            self.assertEqual(console_errors(driver), [])

    def test_the_page_fits_the_window_and_does_without_storage(self):
        # Site data blocked: reading localStorage throws, as with cookies refused.
        with browser.chromium(prefs={"profile.default_content_setting_values.cookies": 2}) as driver:
            driver.get(self.url)
            for phase in ["start screen", "running"]:
                if phase == "running":
                    driver.find_element("id", "stage").click()
                    browser.wait_for(driver, "return velmorante.rateLine", 60)
                for w, h in WINDOWS:
                    with self.subTest(phase=phase, window="%dx%d" % (w, h)):
                        driver.set_window_rect(width=w, height=h)
                        browser.wait_for(driver, "return innerWidth === %d" % w, 10)
                        fit = driver.execute_script(LAYOUT)
                        self.assertEqual(fit["outside"], [])
                        self.assertLessEqual(max(fit["overflow"]), 0)
                        self.assertAlmostEqual(fit["shape"], 16 / 9, places=2)
            self.assertEqual(driver.execute_script(GAIN), 1)  # the loop's own level, nothing remembered
            ActionChains(driver).send_keys("m").perform()
            self.assertEqual(driver.execute_script(GAIN), 0)
            self.assertEqual(console_errors(driver), [])

    def test_damaged_data_starts_with_its_lines_counted_and_missing_data_is_named(self):
        def copy_of_the_page(folder):
            shutil.copytree(WEB, folder, dirs_exist_ok=True)
            with open(os.path.join(folder, "page.js"), "r+") as f:  # a stall after 1 s, not 30
                page = f.read().replace("const STALL_MS = 30000;", "const STALL_MS = 1000;")
                self.assertEqual(page.count("const STALL_MS = 1000;"), 1)
                f.seek(0)
                f.write(page)
            return os.path.join(folder, "data")

        def truncated(data):  # 65,535 lines for unknown chunk types
            with open(os.path.join(DATA, "robotrk.fli"), "rb") as f:
                head = f.read(100000)
            with open(os.path.join(data, "robotrk.fli"), "wb") as f:
                f.write(head)

        def missing(data):
            os.remove(os.path.join(data, "robotrk.fli"))

        def oversized(data):  # far more than the program ever reads of a file: not held, and said
            with open(os.path.join(data, "fonts16.bin"), "wb") as f:
                f.truncate(65 * 1024 * 1024)

        cut = type("CutShort", (BrokenDownload,), {})
        stall = type("Stalled", (BrokenDownload,), {"stall": threading.Event()})
        with browser.chromium() as driver, tempfile.TemporaryDirectory() as copy:
            with self.subTest("a truncated animation"):
                data = copy_of_the_page(os.path.join(copy, "truncated"))
                truncated(data)
                desktop = subprocess.run([CAPTURE, "--data", data, "--frame", "1", "--out", copy], check=True,
                                         timeout=120, capture_output=True, text=True).stdout.split()
                with browser.serve(os.path.dirname(data)) as url:
                    browser.start_demo(driver, url + "index.html")
                    self.assertEqual(driver.execute_script("return velmorante.phase"), "running")
                    lines = console_lines(driver)
                self.assertEqual(lines[:200], desktop[:200])
                more = re.fullmatch(r"\(([\d,]+) more lines of the demo's output not shown\)", lines[200])
                # The first frame-rate line joins them when start-up took a second.
                self.assertIn(int(more.group(1).replace(",", "")), (len(desktop) - 200, len(desktop) - 199))

            try:
                for spoil, handler, said in [
                        (missing, browser.QuietHandler, "Could not fetch data/robotrk.fli: HTTP 404"),
                        (oversized, browser.QuietHandler, "data/fonts16.bin is larger than 64 MB"),
                        (None, cut, "The download of data/robotrk.fli was cut short after "),
                        (None, stall, "The download of data/robotrk.fli stalled: nothing arrived for 1 s")]:
                    with self.subTest(said):
                        data = copy_of_the_page(os.path.join(copy, handler.__name__ + (spoil.__name__ if spoil else "")))
                        if spoil:
                            spoil(data)
                        with browser.serve(os.path.dirname(data), handler) as url:
                            driver.get(url + "index.html")
                            self.assertIn(said, message(driver))
                            self.assertFalse(driver.find_element("id", "start").is_displayed())
            finally:
                stall.stall.set()

    def test_memory_the_browser_will_not_give_is_said(self):
        # V8's own limit on a memory's pages, below the program's 320 MB.
        with browser.chromium(["--js-flags=--wasm-max-mem-pages=2048"]) as driver:
            driver.get(self.url)
            self.assertIn(f"could not give the demo the {WEB_MEMORY_MB} MB of memory", message(driver))

    def test_a_bad_stop_is_refused_and_escape_ends_the_page_before_any_frame_shows(self):
        with browser.chromium() as driver:
            for bad in ["0", "-3", "12x", "2147483648", ""]:
                with self.subTest(stop=bad):
                    driver.get("%s?stop=%s" % (self.url, bad))
                    self.assertIn("?stop= takes a frame number from 1 to 2,147,483,647", message(driver))

            driver.get(self.url)  # Escape on the start screen: nothing starts
            browser.wait_for(driver, "return window.velmorante", 30)
            ActionChains(driver).send_keys(Keys.ESCAPE).perform()
            self.assertIn("not started", browser.wait_for(driver, "return velmorante.phase === 'ended' && "
                                                                  "velmorante.message", 10))

            driver.get(self.url + "?stop=2147483647")  # drawing ahead, for days
            driver.find_element("id", "stage").click()
            browser.wait_for(driver, "return velmorante.frame > 0", 60)
            self.assert_a_hidden_tab_pauses(driver, running=False)
            ActionChains(driver).send_keys(Keys.ESCAPE).perform()
            ended = browser.wait_for(driver, "return velmorante.phase === 'ended' && velmorante.frame", 10)
            self.assertIn("ended, after frame %s" % format(ended, ","), driver.find_element("id", "message").text)
            self.assertEqual(driver.execute_script("return velmorante.framesShown"), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
