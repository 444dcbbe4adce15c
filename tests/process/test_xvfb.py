"""The demo in a real X window under Xvfb, driven by xdotool."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

sys.path.insert(0, os.path.dirname(__file__))
import demo  # noqa: E402

BINARY, DATA, WM_CLOSE = sys.argv[1], sys.argv[2], sys.argv[3]


def find_window(display):
    out = subprocess.run(["xdotool", "search", "--sync", "--name", "^Velmorante$"], env={**os.environ, "DISPLAY": display},
                         capture_output=True, text=True, timeout=30)
    ids = out.stdout.split()
    if not ids:
        raise AssertionError("no window titled Velmorante: " + out.stderr)
    return ids[0]


def on(display, *cmd):
    return subprocess.run(list(cmd), env={**os.environ, "DISPLAY": display}, capture_output=True, timeout=30)


class RealWindow(demo.ProcessTest):
    def setUp(self):
        super().setUp()
        self.x = demo.Xvfb()
        self.addCleanup(self.x.close)

    def start(self, *args):
        proc = demo.start(BINARY, DATA, args=args, display=self.x.display)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc

    def test_window_shows_tiles_and_escape_quits_within_two_seconds(self):
        proc = self.start()
        window = find_window(self.x.display)
        # The window maps before loading ends: wait for frames to reach it.
        colours, deadline = [], time.monotonic() + 60
        with tempfile.TemporaryDirectory() as tmp:
            shot = os.path.join(tmp, "shot.png")
            while len(colours) <= 16 and time.monotonic() < deadline:
                time.sleep(0.5)
                self.assertEqual(on(self.x.display, "import", "-window", "root", shot).returncode, 0)
                picture = Image.open(shot).convert("RGB")
                self.assertEqual(picture.size, (1280, 720))
                colours = picture.getcolors(maxcolors=1 << 20) or []
        self.assertGreater(len(colours), 16, "the window shows a flat picture")
        on(self.x.display, "xdotool", "key", "--window", window, "Escape")
        status, out, err, waited = demo.finish(proc, 10)
        self.assertEqual(status, 0, err)
        self.assertLess(waited, 2.0)
        self.assertTrue(all(line.isdigit() for line in out.splitlines()), out)

    def test_closing_the_window_quits_within_two_seconds(self):
        proc = self.start()
        window = find_window(self.x.display)
        time.sleep(0.5)
        self.assertEqual(subprocess.run([WM_CLOSE, window], env={**os.environ, "DISPLAY": self.x.display},
                                        timeout=30).returncode, 0)
        status, _, err, waited = demo.finish(proc, 10)
        self.assertEqual(status, 0, err)
        self.assertLess(waited, 2.0)

    def test_other_keys_do_not_quit(self):
        proc = self.start()
        window = find_window(self.x.display)
        on(self.x.display, "xdotool", "key", "--window", window, "a", "space", "Return")
        time.sleep(1.0)
        self.assertIsNone(proc.poll())
        on(self.x.display, "xdotool", "key", "--window", window, "Escape")
        self.assertEqual(demo.finish(proc, 10)[0], 0)


class FullScreen(demo.ProcessTest):
    def test_an_argument_asks_for_full_screen(self):
        # A 1024 x 768 screen has no 1280 x 720 full-screen mode, while a window
        # of that size opens on it: the refusal shows that full screen was asked.
        with demo.Xvfb("1024x768x24") as x:
            for args in (["--full"], [""]):
                proc = demo.start(BINARY, DATA, args=args, display=x.display)
                status, out, err, _ = demo.finish(proc, 30)
                self.assertEqual(status, 1, err)
                self.assertIn("Unable to set video mode: No video mode large enough for 1280x720", err)
            proc = demo.start(BINARY, DATA, display=x.display)
            find_window(x.display)
            on(x.display, "xdotool", "key", "Escape")
            self.assertEqual(demo.finish(proc, 10)[0], 0)

    def test_full_screen_on_a_matching_screen_runs(self):
        with demo.Xvfb() as x:
            proc = demo.start(BINARY, DATA, args=["1"], display=x.display)
            time.sleep(1.5)
            self.assertIsNone(proc.poll())
            on(x.display, "xdotool", "key", "Escape")
            self.assertEqual(demo.finish(proc, 10)[0], 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
