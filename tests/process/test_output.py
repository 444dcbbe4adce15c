"""The demo whoever reads its output: standard output or standard error closed,
a pipe nobody drains, a reader that goes away."""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import demo  # noqa: E402

from velmorante_facts import LOOP_BYTES  # noqa: E402

BINARY, DATA, DUMP = sys.argv[1], sys.argv[2], sys.argv[3]
HEADLESS = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy"}


def start(env, closed=(), stdout=subprocess.DEVNULL, cwd=DATA):
    """The demo with the descriptors in `closed` closed before it runs."""
    def child():
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        for fd in closed:
            os.close(fd)
    return subprocess.Popen([BINARY], cwd=cwd, env={**os.environ, **env}, stdin=subprocess.DEVNULL, stdout=stdout,
                            stderr=subprocess.DEVNULL, preexec_fn=child)


def read_line(fd, seconds=30):
    """Bytes from `fd` up to a newline, or what came before the time was up."""
    got, deadline = b"", time.monotonic() + seconds
    while not got.endswith(b"\n") and select.select([fd], [], [], max(0, deadline - time.monotonic()))[0]:
        more = os.read(fd, 1)
        if not more:
            break
        got += more
    return got


class UnderX11(demo.ProcessTest):
    def setUp(self):
        super().setUp()
        self.x = demo.Xvfb()
        self.addCleanup(self.x.close)
        self.env = {"DISPLAY": self.x.display, "SDL_AUDIODRIVER": "dummy"}

    def on(self, *command):
        return subprocess.run(command, env={**os.environ, **self.env}, capture_output=True, timeout=30).stdout

    def shot(self):
        return self.on("import", "-window", "root", "rgb:-")

    def frames_go_on(self):
        deadline = time.monotonic() + 60
        while len(set(self.shot()[::101])) <= 16 and time.monotonic() < deadline:
            time.sleep(0.3)  # the window opens before loading ends
        time.sleep(1.5)  # a frame-rate line falls due
        first = self.shot()
        time.sleep(0.5)
        self.assertTrue(first != self.shot(), "the picture stopped")

    def escape_ends(self, proc):
        window = self.on("xdotool", "search", "--sync", "--name", "^Velmorante$").split()[0]
        self.on("xdotool", "key", "--window", window, "Escape")
        self.assertEqual(proc.wait(timeout=10), 0)

    def test_closed_stdout_or_stderr_keep_out_of_the_x_connection(self):
        with tempfile.TemporaryDirectory() as folder:
            for name in set(os.listdir(DATA)) - {"fonts16.bin"}:
                shutil.copy(os.path.join(DATA, name), folder)
            for fd, cwd in ((1, DATA), (2, folder)):  # the font missing: a line for stderr
                with self.subTest(closed=fd):
                    proc = start(self.env, closed=(fd,), cwd=cwd)
                    self.frames_go_on()
                    self.escape_ends(proc)

    def test_a_full_pipe_drops_the_lines_and_never_stops_the_frames(self):
        r, w = os.pipe()
        for fd in (r, w):
            os.set_blocking(fd, False)
        try:
            while os.write(w, b"." * 65536):
                pass
        except BlockingIOError:
            pass
        os.set_blocking(w, True)  # as a shell hands it on
        proc = start(self.env, stdout=w)
        os.close(w)
        self.frames_go_on()
        try:
            while os.read(r, 65536):
                pass
        except BlockingIOError:
            pass
        self.assertRegex(read_line(r), rb"^\d+\n$")  # whole lines again, once there is room
        self.escape_ends(proc)
        os.close(r)


class Headless(demo.ProcessTest):
    def test_closed_stdout_keeps_the_recorded_sound_on_its_grid(self):
        loop = subprocess.run([DUMP, "sound", DATA], check=True, timeout=120, capture_output=True).stdout
        lead = len(loop) - len(loop.lstrip(b"\0"))
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "cap.raw")
            proc = start({"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": path,
                          "SDL_DISKAUDIODELAY": "10"}, closed=(1,))
            played, deadline = b"", time.monotonic() + 120
            while len(played) < 3 * LOOP_BYTES and time.monotonic() < deadline:  # frame-rate lines fall due meanwhile
                time.sleep(0.2)
                with open(path, "rb") as f:
                    data = f.read()
                begins = len(data) - len(data.lstrip(b"\0")) - lead
                played = data[begins:] if data.strip(b"\0") else b""
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(timeout=30), 0)
        self.assertEqual(begins % 4, 0, "the loop must begin on a sample frame")
        self.assertGreaterEqual(len(played), 3 * LOOP_BYTES)
        self.assertTrue(played == (loop * (len(played) // LOOP_BYTES + 1))[:len(played)], "the recorded sound is not the loop")

    def test_a_reader_that_goes_away_does_not_end_the_demo(self):
        r, w = os.pipe()
        proc = start(HEADLESS, stdout=w)
        os.close(w)
        self.assertRegex(read_line(r), rb"^\d+\n$")
        os.close(r)
        time.sleep(2.5)  # more lines fall due, with no reader
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(timeout=30), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
