"""The WebAssembly page in headless Chromium: frame N on its canvas is frame N
of velmorante-capture bit for bit, Web Audio is handed the loop the desktop
plays, Escape ends the loop at any point, and what stops the page is said
in words; and the page's own volume, pause and layout.

Arguments: the page's folder (build/web), the desktop build's velmorante-capture
and tests/dump, and data/."""
import base64
import contextlib
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
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


# The page's console.log lines, as text (the log says 'URL line:column "text"').
def console_lines(driver):
    found = (re.fullmatch(r'\S+/page\.js \d+:\d+ "(.*)"', e["message"]) for e in driver.get_log("browser"))
    return [m.group(1) for m in found if m]


# Whether the page fits the window's page area (no scroll bars, the picture
# and the controls inside it), and the picture's shape.
LAYOUT = """const d = document.documentElement, r = (id) => document.getElementById(id).getBoundingClientRect();
return [d.scrollWidth <= innerWidth && d.scrollHeight <= innerHeight && r('screen').top >= 0 &&
        r('controls').bottom <= innerHeight, Math.round(100 * r('screen').width / r('screen').height) / 100];"""
GAIN = "return velmorante.audio.gain.gain.value"


# Says robotrk.fli is a megabyte longer than it is: its download ends short.
class CutShort(browser.QuietHandler):
    def send_header(self, key, value):
        if key == "Content-Length" and self.path.endswith("/robotrk.fli"):
            value = str(int(value) + 1000000)
        super().send_header(key, value)


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

    # Minimised, the page is hidden: the loop holds its frame and the sound is
    # suspended; shown again, both go on from that frame.
    def assert_a_hidden_tab_pauses(self, driver, running):
        driver.minimize_window()
        paused = browser.wait_for(driver, "return velmorante.paused && velmorante.audio.context.state === "
                                          "'suspended' && velmorante.frame", 10)
        time.sleep(0.5)  # a while hidden: nothing is drawn in it
        self.assertEqual(driver.execute_script("return velmorante.frame"), paused)
        driver.execute_script("const p = velmorante.page, turn = p.yieldToBrowser; p.yieldToBrowser = (f) => {"
                              " p.yieldToBrowser = turn; window.next = f; return turn(f); };")
        driver.maximize_window()
        resumed = browser.wait_for(driver, "return velmorante.audio.context.state === 'running' && window.next", 10)
        # Shown, every frame gives a turn; drawn ahead, one every 50 ms.
        self.assertTrue(resumed == paused + 1 if running else resumed > paused, (paused, resumed))

    def test_the_demo_runs_clean_plays_the_loop_and_ends_on_escape(self):
        loop = expected_loop()
        with browser.chromium() as driver:
            # Volume and mute set on the start screen, where keys for them start nothing, and remembered.
            driver.get(self.url)
            browser.wait_for(driver, "return window.velmorante", 30)
            driver.find_element("id", "volume").send_keys(Keys.LEFT * 50 + "m")
            self.assertEqual(driver.execute_script("return velmorante.phase"), "loading")
            browser.start_demo(driver, self.url)
            self.assertEqual(driver.execute_script("return velmorante.phase"), "running")
            self.assertEqual(driver.execute_script(GAIN), 0)
            driver.find_element("id", "mute").click()  # on again, half way: the gain is its square
            self.assertEqual(driver.execute_script(GAIN), 0.25)

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

    def test_missing_data_is_named_and_damaged_data_starts_with_its_lines_counted(self):
        def missing(data):
            os.remove(os.path.join(data, "robotrk.fli"))

        def oversized(data):  # far more than the program ever reads of a file: not held, and said
            with open(os.path.join(data, "fonts16.bin"), "wb") as f:
                f.truncate(65 * 1024 * 1024)

        def cut_short(data):  # the file as it is, by a server that promises more
            return CutShort

        def truncated(data):  # 65,535 lines for unknown chunk types
            with open(os.path.join(DATA, "robotrk.fli"), "rb") as f, open(os.path.join(data, "robotrk.fli"), "wb") as t:
                t.write(f.read(100000))

        with browser.chromium() as driver:
            for spoil, said in [(missing, "Could not fetch data/robotrk.fli: HTTP 404"),
                                (oversized, "data/fonts16.bin is larger than 64 MB"),
                                (cut_short, "The download of data/robotrk.fli was cut short after "),
                                (truncated, None)]:
                with self.subTest(said), tempfile.TemporaryDirectory() as copy:
                    shutil.copytree(WEB, copy, dirs_exist_ok=True)
                    with browser.serve(copy, spoil(os.path.join(copy, "data")) or browser.QuietHandler) as url:
                        if said:
                            driver.get(url + "index.html")
                            self.assertIn(said, message(driver))
                            self.assertFalse(driver.find_element("id", "start").is_displayed())
                            continue
                        browser.start_demo(driver, url + "index.html")
                        self.assertEqual(driver.execute_script("return velmorante.phase"), "running")
                        lines = console_lines(driver)
                    desktop = subprocess.run([CAPTURE, "--frame", "1", "--out", copy], cwd=os.path.join(copy, "data"),
                                             check=True, timeout=120, capture_output=True, text=True).stdout.split()
                    self.assertEqual(lines[:200], desktop[:200])
                    # The rest counted; the first frame-rate line joins them when start-up took a second.
                    self.assertIn(lines[200], ["(%s more lines of the demo's output not shown)" % format(n, ",")
                                               for n in (len(desktop) - 200, len(desktop) - 199)])

    def test_the_page_fits_the_window_and_does_without_storage(self):
        # Site data blocked: reading localStorage throws, as with cookies refused.
        with browser.chromium(prefs={"profile.default_content_setting_values.cookies": 2}) as driver:
            driver.get(self.url)
            for phase in ["start screen", "running"]:
                for w, h in [(1366, 768), (1024, 600)]:
                    driver.set_window_rect(width=w, height=h)
                    browser.wait_for(driver, "return innerWidth === %d" % w, 10)
                    self.assertEqual(driver.execute_script(LAYOUT), [True, 1.78], (phase, w, h))
                driver.find_element("id", "stage").click()
                browser.wait_for(driver, "return velmorante.rateLine", 60)
            self.assertEqual(driver.execute_script(GAIN), 1)  # the loop's own level, nothing remembered

    def test_memory_the_browser_will_not_give_is_said(self):
        # V8's own limit on a memory's pages, below the program's 320 MB.
        with browser.chromium(["--js-flags=--wasm-max-mem-pages=2048"]) as driver:
            driver.get(self.url)
            self.assertIn(f"could not give the demo the {WEB_MEMORY_MB} MB of memory", message(driver))

    def test_a_bad_stop_is_refused_and_escape_ends_the_drawing_ahead(self):
        with browser.chromium() as driver:
            for bad in ["0", "-3", "12x", "2147483648", ""]:
                with self.subTest(stop=bad):
                    driver.get("%s?stop=%s" % (self.url, bad))
                    self.assertIn("?stop= takes a frame number from 1 to 2,147,483,647", message(driver))

            driver.get(self.url + "?stop=2147483647")  # days of frames drawn, not shown
            driver.find_element("id", "stage").click()
            browser.wait_for(driver, "return velmorante.frame > 0", 60)
            self.assert_a_hidden_tab_pauses(driver, running=False)
            ActionChains(driver).send_keys(Keys.ESCAPE).perform()
            ended = browser.wait_for(driver, "return velmorante.phase === 'ended' && velmorante.frame", 10)
            self.assertIn("ended, after frame %s" % format(ended, ","), driver.find_element("id", "message").text)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
