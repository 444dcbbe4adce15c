"""velmorante-capture as a real process: its errors, Ctrl-C, and what it writes."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

CAPTURE, DATA = sys.argv[1], sys.argv[2]


def capture(*args, cwd=DATA, env=None, user=None):
    cmd = [CAPTURE, *args]
    if user is not None:
        cmd = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups", *cmd]
    return subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, text=True, timeout=300,
                          stdin=subprocess.DEVNULL)


class Errors(unittest.TestCase):
    def assertFails(self, result, status, message):
        self.assertEqual(result.returncode, status, result.stderr)
        self.assertIn(message, result.stderr)

    def test_bad_arguments_exit_2_with_the_usage(self):
        for args, message in [
            ([], "say what to capture"),
            (["--frame", "x", "--out", "."], "bad frame number 'x'"),
            (["--frame", "99999999999", "--out", "."], "bad frame number"),
            (["--frames", "5:1", "--rate", "2", "--out", "a.mkv"], "bad frame range '5:1'"),
            (["--frames", "1:5", "--out", "a.mkv"], "--frames needs --rate"),
            (["--frames", "1:5", "--rate", "0", "--out", "a.mkv"], "bad rate '0'"),
            (["--frame", "1", "--effect", "plasma", "--out", "."], "do not go together"),
            (["--frame", "1"], "say where to write"),
            (["--effect", "sparkles", "--out", "/tmp/a.png"], "unknown effect 'sparkles'"),
            (["--effect", "rotozoomer:45", "--out", "/tmp/a.png"], "bad rotozoomer"),
            (["--frame", "1", "--out", ".", "--bogus", "1"], "unknown argument '--bogus'"),
        ]:
            with self.subTest(args=args):
                result = capture(*args)
                self.assertFails(result, 2, message)
                self.assertIn("usage:", result.stderr)

    def test_missing_data_file_is_named(self):
        with tempfile.TemporaryDirectory() as empty, tempfile.TemporaryDirectory() as out:
            for name in ("fonts16.bin", "tarnwhisk.bmp"):
                shutil.copy(os.path.join(DATA, name), empty)
            self.assertFails(capture("--frame", "1", "--out", out, cwd=empty), 1,
                             "missing data file 'robotrk.fli' (run from the data/ folder)")

    def test_output_folder_that_cannot_be_written(self):
        with tempfile.TemporaryDirectory() as out:
            self.assertFails(capture("--frame", "1", "--out", os.path.join(out, "none")), 1, "does not exist")
            plain = os.path.join(out, "file")
            open(plain, "w").close()
            self.assertFails(capture("--frame", "1", "--out", plain), 1, "is not a folder")
            locked = os.path.join(out, "locked")
            os.mkdir(locked, 0o555)
            os.chmod(out, 0o755)
            # Root may write anywhere: ask as an ordinary user.
            user = 65534 if os.geteuid() == 0 else None
            self.assertFails(capture("--frame", "1", "--out", locked, user=user), 1,
                             f"cannot write to output folder '{locked}'")
            self.assertFails(capture("--effect", "plasma", "--out", os.path.join(locked, "p.png"), user=user), 1,
                             "cannot write to output folder")
            self.assertEqual(os.listdir(locked), [])

    def test_missing_ffmpeg_names_the_package(self):
        with tempfile.TemporaryDirectory() as out, tempfile.TemporaryDirectory() as bare:
            result = capture("--frames", "1:2", "--rate", "2", "--out", os.path.join(out, "v.mkv"),
                             env={"PATH": bare})
            self.assertFails(result, 1, "ffmpeg not found; install it with: apt-get install ffmpeg")
            self.assertEqual(os.listdir(out), [])


class Interrupt(unittest.TestCase):
    def test_ctrl_c_leaves_no_file_under_the_final_name(self):
        with tempfile.TemporaryDirectory() as out:
            video = os.path.join(out, "long.mkv")
            proc = subprocess.Popen([CAPTURE, "--frames", "1:100000", "--rate", "30", "--out", video], cwd=DATA,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                    preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
            deadline = time.monotonic() + 120
            while not os.path.exists(video + ".part") and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertTrue(os.path.exists(video + ".part"), "the render never started")
            time.sleep(1.0)
            proc.send_signal(signal.SIGINT)
            _, err = proc.communicate(timeout=60)
            self.assertEqual(proc.returncode, 130, err)
            self.assertIn("interrupted", err.decode())
            self.assertEqual(os.listdir(out), [])
            leftovers = [n for n in os.listdir(tempfile.gettempdir()) if n.startswith("velmorante-capture-")]
            self.assertEqual(leftovers, [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
