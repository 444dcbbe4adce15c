"""The demo in a real X window under Xvfb, driven by xdotool, on one of two
libraries: SDL 1.2 itself (`sdl`), or sdl12-compat (`sdl12-compat`, SDL 1.2's
interface over SDL 2, what today's distributions ship), whose folder is put
first on LD_LIBRARY_PATH."""
import functools
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

sys.path.insert(0, os.path.dirname(__file__))
import demo  # noqa: E402

BINARY, DATA, WM_CLOSE, CAPTURE, NM, COMPAT_DIR, LIBRARY = sys.argv[1:8]
COMPAT = LIBRARY == "sdl12-compat"
assert LIBRARY in ("sdl", "sdl12-compat"), LIBRARY


def start(display, args=()):
    """The demo on the library under test; fails unless it loaded that one."""
    proc = demo.start(BINARY, DATA, args=args, display=display,
                      env_extra={"LD_LIBRARY_PATH": COMPAT_DIR if COMPAT else ""})
    demo.find_window(display)
    with open(f"/proc/{proc.pid}/maps") as f:
        loaded = {line.split()[5] for line in f if "/libSDL-1.2.so" in line}
    assert len(loaded) == 1, loaded
    compat = os.path.samefile(loaded.pop(), os.path.join(COMPAT_DIR, "libSDL-1.2.so.0"))
    assert compat == COMPAT, f"the demo loaded the wrong SDL 1.2 for {LIBRARY}"
    return proc


@functools.lru_cache(maxsize=None)
def symbols():
    """The demo's symbols and their addresses, relative to where the executable
    is loaded when it is position-independent (ELF type 3)."""
    found = {}
    for line in subprocess.run([NM, BINARY], capture_output=True, text=True, check=True, timeout=30).stdout.splitlines():
        fields = line.split()
        if len(fields) == 3:
            found[fields[2]] = int(fields[0], 16)
    with open(BINARY, "rb") as f:
        return found, f.read(18)[16] == 3


def read_globals(proc, names):
    """The demo's int32 globals, read from the memory of the stopped process."""
    found, relative = symbols()
    base = 0
    if relative:
        with open(f"/proc/{proc.pid}/maps") as f:
            base = next(int(fields[0].split("-")[0], 16) for fields in map(str.split, f)
                        if len(fields) == 6 and int(fields[2], 16) == 0 and fields[5] == os.path.realpath(BINARY))
    with open(f"/proc/{proc.pid}/mem", "rb") as mem:
        values = []
        for name in names:
            mem.seek(base + found[name])
            values.append(int.from_bytes(mem.read(4), "little", signed=True))
    return values


def stop(proc):
    """SIGSTOP, then a wait of at most 10 s until the process is stopped."""
    os.kill(proc.pid, signal.SIGSTOP)
    for _ in range(1000):
        with open(f"/proc/{proc.pid}/stat") as f:
            if f.read().rpartition(")")[2].split()[0] == "T":
                return
        time.sleep(0.01)
    raise AssertionError("the demo did not stop")


class RealWindow(demo.ProcessTest):
    def setUp(self):
        super().setUp()
        self.x = demo.Xvfb()
        self.addCleanup(self.x.close)

    def start(self, *args):
        proc = start(self.x.display, args)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc

    def test_window_shows_the_captured_frame_and_escape_quits(self):
        proc = self.start()
        window = demo.find_window(self.x.display)
        # Unpaced, the demo is stopped to learn which frame it is at; the window
        # then shows that frame, or the one before while this one is drawn.
        # After the first frame-rate report loading is long over.
        deadline, shots = time.monotonic() + 60, []
        with tempfile.TemporaryDirectory() as tmp:
            while len(shots) < 3:
                self.assertLess(time.monotonic(), deadline, "no frame-rate report")
                time.sleep(0.1)
                stop(proc)
                frame, reported = read_globals(proc, ["kk", "fps"])
                if reported:
                    shots.append((frame, os.path.join(tmp, f"shot-{frame}.png")))
                    self.assertEqual(demo.on(self.x.display, "import", "-window", "root", shots[-1][1]).returncode, 0)
                os.kill(proc.pid, signal.SIGCONT)
            demo.on(self.x.display, "xdotool", "key", "--window", window, "Escape")
            status, out, err, _ = demo.finish(proc, 10)
            frames = [str(n) for frame, _ in shots for n in (frame, frame - 1)]
            made = subprocess.run([CAPTURE, "--data", DATA, "-o", tmp, *(a for n in frames for a in ("--frame", n))],
                                  capture_output=True, text=True, timeout=120)
            self.assertEqual(made.returncode, 0, made.stderr)
            for frame, shot in shots:
                seen = Image.open(shot).convert("RGB").tobytes()
                shown = [n for n in (frame, frame - 1)
                         if Image.open(os.path.join(tmp, f"frame-{n}.png")).convert("RGB").tobytes() == seen]
                self.assertTrue(shown, f"the window shows neither frame {frame} nor {frame - 1}")
        self.assertEqual(status, 0, err)
        self.assertRegex(out, r"^([1-9]\d*\n)+$")

    def test_closing_the_window_quits(self):
        proc = self.start()
        window = demo.find_window(self.x.display)
        time.sleep(0.5)
        self.assertEqual(subprocess.run([WM_CLOSE, window], env={**os.environ, "DISPLAY": self.x.display},
                                        timeout=30).returncode, 0)
        status, _, err, _ = demo.finish(proc, 10)
        self.assertEqual(status, 0, err)

    def test_other_keys_do_not_quit(self):
        proc = self.start()
        window = demo.find_window(self.x.display)
        demo.on(self.x.display, "xdotool", "key", "--window", window, "a", "space", "Return")
        time.sleep(1.0)
        self.assertIsNone(proc.poll())
        demo.on(self.x.display, "xdotool", "key", "--window", window, "Escape")
        self.assertEqual(demo.finish(proc, 10)[0], 0)


class FullScreen(demo.ProcessTest):
    @unittest.skipIf(COMPAT, "sdl12-compat scales full screen to a smaller screen")
    def test_an_argument_asks_for_full_screen(self):
        # A 1024 x 768 screen has no 1280 x 720 full-screen mode, while a window
        # of that size opens on it: the refusal shows that full screen was asked.
        with demo.Xvfb("1024x768x24") as x:
            for args in (["--full"], [""]):
                proc = demo.start(BINARY, DATA, args=args, display=x.display, env_extra={"LD_LIBRARY_PATH": ""})
                status, out, err, _ = demo.finish(proc, 30)
                self.assertEqual(status, 1, err)
                self.assertIn("Unable to set video mode: No video mode large enough for 1280x720", err)
            proc = start(x.display)
            demo.on(x.display, "xdotool", "key", "Escape")
            self.assertEqual(demo.finish(proc, 10)[0], 0)

    @unittest.skipUnless(COMPAT, "SDL 1.2 refuses full screen on a screen smaller than the picture")
    def test_full_screen_on_a_smaller_screen_runs(self):
        with demo.Xvfb("1024x768x24") as x:
            proc = start(x.display, ["--full"])
            time.sleep(1.5)
            self.assertIsNone(proc.poll())
            demo.on(x.display, "xdotool", "key", "Escape")
            self.assertEqual(demo.finish(proc, 10)[0], 0)

    def test_full_screen_on_a_matching_screen_runs(self):
        with demo.Xvfb() as x:
            proc = start(x.display, ["1"])
            time.sleep(1.5)
            self.assertIsNone(proc.poll())
            demo.on(x.display, "xdotool", "key", "Escape")
            self.assertEqual(demo.finish(proc, 10)[0], 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
