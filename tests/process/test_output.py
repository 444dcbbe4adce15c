"""The demo whoever reads its output: standard output or standard error closed,
a pipe nobody drains, a reader that goes away. (With standard output closed,
the sound SDL's disk audio driver records is test_sound.py's.)"""
import fcntl
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import demo  # noqa: E402

BINARY, DATA = sys.argv[1], sys.argv[2]


def start(env, closed=(), stdout=subprocess.DEVNULL, cwd=DATA):
    return demo.start(BINARY, cwd, env_extra=env, display=env["DISPLAY"], closed=closed, stdout=stdout)


def read_lines(fd, seconds=30):
    """What `fd` holds next, waiting for it at most `seconds`."""
    return os.read(fd, 4096) if select.select([fd], [], [], seconds)[0] else b""


class UnderX11(demo.ProcessTest):
    def setUp(self):
        super().setUp()
        self.x = demo.Xvfb()
        self.addCleanup(self.x.close)
        self.env = {"DISPLAY": self.x.display, "SDL_AUDIODRIVER": "dummy"}

    def shot(self):
        return demo.on(self.x.display, "import", "-window", "root", "rgb:-").stdout

    def frames_go_on(self):
        deadline = time.monotonic() + 60
        while len(set(self.shot()[::101])) <= 16 and time.monotonic() < deadline:
            time.sleep(0.3)  # the window opens before loading ends
        time.sleep(1.5)  # a frame-rate line falls due
        first = self.shot()
        time.sleep(0.5)
        self.assertTrue(first != self.shot(), "the picture stopped")

    def escape_ends(self, proc):
        demo.on(self.x.display, "xdotool", "key", "--window", demo.find_window(self.x.display), "Escape")
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

    def test_a_pipe_full_or_without_reader_never_stops_the_frames(self):
        r, w = os.pipe()
        os.write(w, b"." * fcntl.fcntl(w, fcntl.F_GETPIPE_SZ))  # full, with nobody draining it
        proc = start(self.env, stdout=w)
        os.close(w)
        self.frames_go_on()
        os.read(r, fcntl.fcntl(r, fcntl.F_GETPIPE_SZ))
        self.assertRegex(read_lines(r), rb"^(\d+\n)+$")  # whole lines again once there is room
        os.close(r)  # and no SIGPIPE once the reader has gone
        self.frames_go_on()
        self.escape_ends(proc)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
