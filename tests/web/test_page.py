"""The WebAssembly page in headless Chromium: frame N on its canvas is frame N
of velmorante-capture bit for bit, Web Audio is handed the loop the desktop
plays, Escape ends the loop, and what stops the page is said in words.

Arguments: the page's folder (build/web), the desktop build's velmorante-capture
and tests/dump, and data/."""
import base64
import contextlib
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
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

    def test_the_demo_runs_clean_plays_the_loop_and_ends_on_escape(self):
        loop = expected_loop()
        with browser.chromium() as driver:
            browser.start_demo(driver, self.url)
            self.assertEqual(driver.execute_script("return velmorante.phase"), "running")

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

            ActionChains(driver).send_keys(Keys.ESCAPE).perform()
            browser.wait_for(driver, "return velmorante.phase === 'ended'", 30)
            ended = driver.execute_script("return velmorante.frame")
            self.assertIn("ended, after frame %s" % format(ended, ","), driver.find_element("id", "message").text)
            self.assertEqual(driver.execute_script("return velmorante.audio.context.state"), "closed")
            self.assertEqual(console_errors(driver), [])

    def test_a_missing_or_oversized_data_file_is_named(self):
        def missing(data):
            os.remove(os.path.join(data, "robotrk.fli"))

        def oversized(data):  # far more than the program ever reads of a file: not held, and said
            with open(os.path.join(data, "fonts16.bin"), "wb") as f:
                f.truncate(65 * 1024 * 1024)

        for spoil, said in [(missing, "Could not fetch data/robotrk.fli: HTTP 404"),
                            (oversized, "data/fonts16.bin is larger than 64 MB")]:
            with self.subTest(said), tempfile.TemporaryDirectory() as copy:
                shutil.copytree(WEB, copy, dirs_exist_ok=True)
                spoil(os.path.join(copy, "data"))
                with browser.serve(copy) as url, browser.chromium() as driver:
                    driver.get(url + "index.html")
                    self.assertIn(said, message(driver))
                    self.assertFalse(driver.find_element("id", "start").is_displayed())

    def test_memory_the_browser_will_not_give_is_said(self):
        # V8's own limit on a memory's pages, below the program's 320 MB.
        with browser.chromium(["--js-flags=--wasm-max-mem-pages=2048"]) as driver:
            driver.get(self.url)
            self.assertIn(f"could not give the demo the {WEB_MEMORY_MB} MB of memory", message(driver))

    def test_a_stop_that_is_not_a_frame_number_is_refused(self):
        with browser.chromium() as driver:
            for bad in ["0", "-3", "12x", "2147483648", ""]:
                with self.subTest(stop=bad):
                    driver.get("%s?stop=%s" % (self.url, bad))
                    self.assertIn("?stop= takes a frame number from 1 to 2,147,483,647", message(driver))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
