"""The demo as a real process on SDL's dummy video and audio drivers."""
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import demo  # noqa: E402

BINARY, DATA = sys.argv[1], sys.argv[2]
HEADLESS = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy"}
# No display, no driver named; a terminal for SDL 1.2's text-mode driver.
NO_DISPLAY = {**{k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER")},
              "SDL_AUDIODRIVER": "dummy", "TERM": "xterm"}


def run_for(seconds, cwd=DATA, env=HEADLESS):
    proc = demo.start(BINARY, cwd, env_extra=env)
    time.sleep(seconds)
    proc.send_signal(signal.SIGTERM)  # SDL turns it into a quit event
    return demo.finish(proc, 30)


class Headless(demo.ProcessTest):
    def test_runs_from_data_and_reports_frame_rates(self):
        status, out, err, _ = run_for(3.5)
        self.assertEqual(status, 0, err)
        self.assertEqual(err, "")
        lines = out.splitlines()
        self.assertGreaterEqual(len(lines), 1, out)
        for line in lines:
            self.assertRegex(line, r"^\d+$")
        self.assertTrue(all(int(x) > 0 for x in lines), out)

    def test_unknown_video_driver_is_reported_with_status_1(self):
        proc = demo.start(BINARY, DATA, env_extra={"SDL_VIDEODRIVER": "nosuchdriver"})
        status, out, err, _ = demo.finish(proc, 30)
        self.assertEqual(status, 1)
        self.assertEqual(out, "")
        self.assertRegex(err, r"^Unable to set video mode: .+\n$")

    def test_without_a_display_it_says_so_and_draws_no_text(self):
        # SDL 1.2, and its interface over SDL 2 (sdl12-compat) where installed
        for library in [""] + glob.glob("/usr/lib/*/sdl12-compat"):
            with self.subTest(library=library), tempfile.TemporaryDirectory() as runtime:  # and no Wayland
                env = {**NO_DISPLAY, "LD_LIBRARY_PATH": library, "XDG_RUNTIME_DIR": runtime}
                done = subprocess.run([BINARY], cwd=DATA, env=env, capture_output=True, timeout=30)
                self.assertEqual((done.returncode, done.stdout, done.stderr),
                                 (1, b"", b"Unable to set video mode: No display: DISPLAY is not set\n"))

    def test_a_text_mode_driver_named_still_draws_there(self):
        with tempfile.TemporaryFile() as art:
            proc = subprocess.Popen([BINARY], cwd=DATA, env={**NO_DISPLAY, "SDL_VIDEODRIVER": "caca"}, stdout=art,
                                    stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
            deadline = time.monotonic() + 30
            while os.fstat(art.fileno()).st_size <= 1 << 16 and proc.poll() is None and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertIsNone(proc.poll())
            self.assertGreater(os.fstat(art.fileno()).st_size, 1 << 16)
            proc.kill()
            proc.wait(timeout=30)

    def test_missing_animation_is_named_on_stderr_and_the_demo_goes_on(self):
        with tempfile.TemporaryDirectory() as empty:
            for name in os.listdir(DATA):
                if name != "robotrk.fli":
                    shutil.copy(os.path.join(DATA, name), empty)
            status, out, err, _ = run_for(1.5, cwd=empty)
        self.assertEqual(status, 0, err)
        self.assertIn("robotrk.fli", err)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertTrue(all(re.fullmatch(r"\d+", x) for x in out.splitlines()), out)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
