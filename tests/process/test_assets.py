"""Start-up with the font or the texture file missing, or data files that are
not files: each is named on standard error, in loading order, and the demo
runs on."""
import errno
import os
import re
import shutil
import signal
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import demo  # noqa: E402

BINARY, DATA = sys.argv[1], sys.argv[2]
HEADLESS = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy"}


def run_without(*missing, seconds=1.5, make=lambda folder: None, user=()):
    with tempfile.TemporaryDirectory() as folder:
        for name in os.listdir(DATA):
            if name not in missing:
                shutil.copy(os.path.join(DATA, name), folder)
        make(folder)
        command = [*user, BINARY]
        proc = demo.start(command[0], folder, args=command[1:], env_extra=HEADLESS)
        time.sleep(seconds)
        proc.send_signal(signal.SIGTERM)  # SDL turns it into a quit event
        return demo.finish(proc, 30)


class MissingAssets(demo.ProcessTest):
    def check_runs_on(self, status, out, err):
        self.assertEqual(status, 0, err)
        self.assertTrue(all(re.fullmatch(r"\d+", x) for x in out.splitlines()), out)

    def test_both_missing_are_named_font_first(self):
        status, out, err, _ = run_without("fonts16.bin", "tarnwhisk.bmp")
        self.check_runs_on(status, out, err)
        self.assertEqual(err.splitlines(), [
            'velmorante: cannot open font file "fonts16.bin"; text stays blank',
            'velmorante: cannot open texture file "tarnwhisk.bmp"; the texture stays black'])

    def test_texture_missing_alone(self):
        status, out, err, _ = run_without("tarnwhisk.bmp")
        self.check_runs_on(status, out, err)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertIn('"tarnwhisk.bmp"', err)

    def test_a_folder_and_fifos_are_named_with_why_and_never_block(self):
        def make(folder):
            os.mkdir(os.path.join(folder, "fonts16.bin"))
            os.mkfifo(os.path.join(folder, "tarnwhisk.bmp"))  # no writer: an open() would wait for ever
            os.mkfifo(os.path.join(folder, "robotrk.fli"))
        status, out, err, _ = run_without("fonts16.bin", "tarnwhisk.bmp", "robotrk.fli", seconds=3, make=make)
        self.check_runs_on(status, out, err)
        self.assertGreaterEqual(len(out.splitlines()), 1, "no frame was drawn")
        self.assertEqual(err.splitlines(), [
            'velmorante: cannot open font file "fonts16.bin" (a folder, not a file); text stays blank',
            'velmorante: cannot open texture file "tarnwhisk.bmp" (a FIFO, not a file); the texture stays black',
            'velmorante: cannot open animation file "robotrk.fli" (a FIFO, not a file); the animation stays black'])

    def test_a_file_there_but_not_readable_is_named_with_the_reason(self):
        def make(folder):
            os.chmod(folder, 0o755)
            os.chmod(os.path.join(folder, "fonts16.bin"), 0)
        nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]  # the tests run as root
        status, out, err, _ = run_without(make=make, user=nobody)
        self.check_runs_on(status, out, err)
        self.assertEqual(err, f'velmorante: cannot open font file "fonts16.bin" ({os.strerror(errno.EACCES)}); '
                              'text stays blank\n')


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
