"""velmorante-capture as a real process: its command line, data lookup, output
names, signals, write errors, concurrent runs and progress."""
import fcntl
import os
import pathlib
import pty
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

sys.path.insert(0, os.path.dirname(__file__))
import demo  # noqa: E402
from velmorante_facts import VERSION  # noqa: E402

CAPTURE, DATA = sys.argv[1], sys.argv[2]
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGPIPE)


def capture(*args, cwd=DATA, env=None, user=None, file_limit=None, binary=CAPTURE):
    cmd = [binary, *args]
    if user is not None:
        cmd = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups", *cmd]
    limit = (lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))) if file_limit else None
    return subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, timeout=300, stdin=subprocess.DEVNULL,
                          preexec_fn=limit)


def text(result):
    return result.stderr.decode(errors="replace")


FFMPEG = os.path.realpath(shutil.which("ffmpeg") or "ffmpeg")


def start(*args, env=None):
    return subprocess.Popen([CAPTURE, *args], cwd=DATA, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL)


def running_ffmpeg(pid):
    """The child of `pid` that is FFmpeg already, not a copy of its parent
    still on its way to exec."""
    for child in demo.children(pid):
        try:
            if os.readlink(f"/proc/{child}/exe") == FFMPEG:
                return child
        except OSError:
            pass
    return None


def wait_until(condition, what, timeout=120):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def video_frames(path):
    """Packets of the first video stream: its frame count, without decoding."""
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-count_packets", "-show_entries",
                          "stream=nb_read_packets", "-of", "csv=p=0", path], capture_output=True, text=True, check=True,
                         timeout=120)
    return int(out.stdout)


def first_picture(path):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                          "rgb24", "-"], capture_output=True, check=True, timeout=120).stdout
    return Image.frombytes("RGB", (1280, 720), raw)


class Errors(demo.ProcessTest):
    def assertFails(self, result, status, message):
        self.assertEqual(result.returncode, status, text(result))
        self.assertIn(message, text(result))

    def test_bad_arguments_exit_2_with_the_usage(self):
        for args, message in [
            ([], "say what to capture"),
            (["--frame", "x", "--out", "."], "bad frame number 'x'"),
            (["--frame", "99999999999", "--out", "."], "bad frame number"),
            (["--frames", "5:1", "--rate", "2", "--out", "a.mkv"], "bad frame range '5:1'"),
            (["--frames", "99999999999:1", "--rate", "2", "--out", "a.mkv"], "bad frame range"),
            (["--frames", "1:5", "--out", "a.mkv"], "--frames needs --rate"),
            (["--frames", "1:5", "--rate", "0", "--out", "a.mkv"], "bad rate '0'"),
            (["--frames", "1:2", "--rate", "1e-300", "--out", "a.mkv"], "from 0.01 to 1000"),
            (["--frames", "1:2", "--rate", "0.001", "--out", "a.mkv"], "from 0.01 to 1000"),
            (["--frames", "1:2", "--rate", "1001", "--out", "a.mkv"], "from 0.01 to 1000"),
            (["--frames", "1:2", "--rate", "nan", "--out", "a.mkv"], "bad rate 'nan'"),
            (["--frames", "1:1000000", "--rate", "1", "--out", "a.mkv"], "the longest video is 24 hours"),
            (["--frames", "1:86400001", "--rate", "1000", "--out", "a.mkv"], "last 86400.001 s; the longest"),
            (["--frames", "-2147483648:2147483647", "--rate", "1000", "--out", "a.mkv"], "the longest video"),
            (["--frames", "1:2", "--rate", "1", "--rate", "2", "--out", "a.mkv"], "'--rate' is given twice"),
            (["--frames", "1:2", "--rate", "1", "--out", "a.avi"], "writes a .mp4, .webm or .mkv file"),
            (["--frame", "1", "--effect", "plasma", "--out", "."], "do not go together"),
            (["--frame", "1"], "say where to write"),
            (["--frame", "1", "-o"], "'-o' needs a value"),
            (["--frame", "1", "-o", "a", "--out", "b"], "is given twice"),
            (["--effect", "plasma", "--out", "/tmp/a.jpg"], "writes a .png file"),
            (["--effect", "sparkles", "--out", "/tmp/a.png"], "unknown effect 'sparkles'"),
            (["--effect", "rotozoomer:45", "--out", "/tmp/a.png"], "bad rotozoomer"),
            (["--frame", "1", "--out", ".", "--bogus", "1"], "unknown argument '--bogus'"),
            (["--frame", "1", "--out", ".", "extra"], "unknown argument 'extra'"),
        ]:
            with self.subTest(args=args):
                result = capture(*args)
                self.assertFails(result, 2, message)
                self.assertIn("usage:", text(result))
                self.assertEqual(result.stdout, b"")

    def test_missing_or_unusable_data_files_are_named(self):
        with tempfile.TemporaryDirectory() as data, tempfile.TemporaryDirectory() as out:
            for name in ("fonts16.bin", "tarnwhisk.bmp"):
                shutil.copy(os.path.join(DATA, name), data)
            self.assertFails(capture("--frame", "1", "--out", out, cwd=data), 1,
                             "cannot read data file 'robotrk.fli': No such file or directory "
                             "(run it from data/, or give --data DIR)")
            self.assertFails(capture("--data", data, "--frame", "1", "--out", out), 1,
                             f"cannot read data file '{data}/robotrk.fli': No such file")
            os.mkdir(os.path.join(data, "robotrk.fli"))
            self.assertFails(capture("--data", data, "--frame", "1", "--out", out), 1, "a folder, not a file")
            os.rmdir(os.path.join(data, "robotrk.fli"))
            os.mkfifo(os.path.join(data, "robotrk.fli"))  # would block an open() without a writer
            self.assertFails(capture("--data", data, "--frame", "1", "--out", out), 1, "a FIFO, not a file")
            self.assertEqual(os.listdir(out), [])

    def test_output_folder_that_cannot_be_written(self):
        with tempfile.TemporaryDirectory() as out:
            self.assertFails(capture("--effect", "plasma", "--out", os.path.join(out, "none", "p.png")), 1,
                             "does not exist")
            plain = os.path.join(out, "file")
            open(plain, "w").close()
            self.assertFails(capture("--frame", "1", "--out", plain), 1, "is not a folder")
            self.assertFails(capture("--frame", "1", "--out", os.path.join(plain, "sub")), 1, "is not a folder")
            locked = os.path.join(out, "locked")
            os.mkdir(locked, 0o555)
            os.chmod(out, 0o755)
            # Root may write anywhere: ask as an ordinary user.
            user = 65534 if os.geteuid() == 0 else None
            self.assertFails(capture("--frame", "1", "--out", locked, user=user), 1,
                             f"cannot write to output folder '{locked}': Permission denied")
            self.assertFails(capture("--frame", "1", "--out", os.path.join(locked, "new"), user=user), 1,
                             "cannot make output folder")
            self.assertFails(capture("--effect", "plasma", "--out", os.path.join(locked, "p.png"), user=user), 1,
                             "cannot write to output folder")
            self.assertEqual(os.listdir(locked), [])
            self.assertEqual(sorted(os.listdir(out)), ["file", "locked"])

    def test_missing_ffmpeg_names_the_package(self):
        with tempfile.TemporaryDirectory() as out, tempfile.TemporaryDirectory() as bare:
            result = capture("--frames", "1:2", "--rate", "2", "--out", os.path.join(out, "v.mkv"),
                             env={"PATH": bare})
            self.assertFails(result, 1, "ffmpeg not found; install it with: apt-get install ffmpeg")
            self.assertEqual(os.listdir(out), [])

    def test_what_can_be_known_is_refused_before_rendering(self):
        # Each asks for an hour of video: a check left until after the render
        # would time the test out.
        hour = ("--frames", "1:108000", "--rate", "30", "--out")
        with tempfile.TemporaryDirectory() as out:
            os.chmod(out, 0o1777)  # sticky, as /tmp
            mine, shared = pathlib.Path(out, "mine.mp4"), pathlib.Path(out, "shared.mp4")
            for path, mode in ((mine, 0o444), (shared, 0o666)):
                path.write_text("kept")
                path.chmod(mode)
            name_max = os.pathconf(out, "PC_NAME_MAX")
            cases = [(hour + (mine,), None, f"will not replace '{mine}': it is read-only"),
                     (hour + (f"{out}/{'x' * (name_max - 3)}.mp4",), None, f"takes at most {name_max}"),
                     (("--frames", "1:86400000", "--rate", "1000", "--out", f"{out}/v.mkv"), None, "would take at least")]
            if os.geteuid() == 0:
                cases += [(hour + (mine,), 65534, "it is read-only"),
                          (hour + (shared,), 65534, "belongs to another user in a sticky folder")]
            for args, user, message in cases:
                with self.subTest(out=str(args[-1])[-30:], user=user):
                    self.assertFails(capture(*args, user=user), 1, message)
                    self.assertEqual(sorted(os.listdir(out)), ["mine.mp4", "shared.mp4"])
            self.assertEqual([mine.read_text(), shared.read_text()], ["kept", "kept"])

    def test_control_characters_in_names_are_escaped(self):
        with tempfile.TemporaryDirectory() as out:
            name = "a\nb\x1b[2J\x7f\u0085.png"
            result = capture("--effect", "plasma", "--out", os.path.join(out, name))
            self.assertEqual((result.returncode, text(result)), (0, f"wrote {out}/a\\nb\\x1b[2J\\x7f\\xc2\\x85.png\n"))
            self.assertEqual(os.listdir(out), [name])
            self.assertFails(capture("--frame", "1\t\x1b", "--out", out), 2, "bad frame number '1\\t\\x1b'")

    def test_a_failed_run_removes_the_folders_it_made(self):
        with tempfile.TemporaryDirectory() as out, tempfile.TemporaryDirectory() as empty:
            self.assertFails(capture("--data", empty, "--frame", "1", "--out", os.path.join(out, "a", "b")), 1,
                             "cannot read data file")
            self.assertEqual(os.listdir(out), [])


class Conventions(demo.ProcessTest):
    def test_help_and_version_go_to_standard_output(self):
        for flag in ("--help", "-h"):
            result = capture(flag)
            self.assertEqual(result.returncode, 0)
            self.assertEqual(result.stderr, b"")
            self.assertIn(b"velmorante-capture [--data DIR] --frames A:B --rate R -o|--out", result.stdout)
            self.assertIn(b"from 0.01 to 1000", result.stdout)
            self.assertIn(b"at most 24 hours", result.stdout)
        result = capture("--version")
        self.assertEqual((result.returncode, result.stdout), (0, f"velmorante-capture {VERSION}\n".encode()))

    def test_option_forms_and_the_frames_folder_made_when_missing(self):
        with tempfile.TemporaryDirectory() as out:
            for args, made in [(["--effect=plasma", "-o", "a.png"], "a.png"),
                               (["--effect", "plasma", "--out=b.png"], "b.png"),
                               (["--effect", "plasma", "-oc.png"], "c.png"),
                               (["--frame=5", "--frame", "5", "-o", "shots/deep"], "shots")]:
                with self.subTest(args=args):
                    result = capture("--data", DATA, *args, cwd=out)
                    self.assertEqual(result.returncode, 0, text(result))
                    self.assertIn(made, os.listdir(out))
            self.assertEqual(os.listdir(os.path.join(out, "shots", "deep")), ["frame-5.png"])
            with Image.open(os.path.join(out, "a.png")) as a, Image.open(os.path.join(out, "b.png")) as b:
                self.assertEqual(a.tobytes(), b.tobytes())

    def test_output_names_are_plain_file_names(self):
        names = [b"pipe:1.mkv", b"file:fx.mkv", b"a:b.mkv", b"-x.mkv", b"sp ace \xc3\xa9\xff.mkv"]
        with tempfile.TemporaryDirectory() as out:
            for name in names:
                with self.subTest(name=name):
                    result = capture("--data", DATA, "--frames", "1:2", "--rate", "30", b"-o", name, cwd=out)
                    self.assertEqual(result.returncode, 0, text(result))
                    self.assertEqual(result.stdout, b"")
                    self.assertEqual(sorted(os.listdir(out.encode())), sorted(names[:names.index(name) + 1]))
                    self.assertEqual(video_frames(os.path.join(out.encode(), name).decode(errors="surrogateescape")), 2)
            result = capture("--data", DATA, "--effect", "plasma", "--out", "-p:x.png", cwd=out)
            self.assertEqual(result.returncode, 0, text(result))
            self.assertIn(b"-p:x.png", os.listdir(out.encode()))

    def test_installed_layout_and_relative_output_names(self):
        with tempfile.TemporaryDirectory() as prefix, tempfile.TemporaryDirectory() as work:
            os.makedirs(os.path.join(prefix, "bin"))
            shutil.copytree(DATA, os.path.join(prefix, "share", "velmorante"))
            installed = os.path.join(prefix, "bin", "velmorante-capture")
            shutil.copy(CAPTURE, installed)
            result = capture("--frame", "3000", "-o", "shots", cwd=work, binary=installed)
            self.assertEqual(result.returncode, 0, text(result))
            result = capture("--data", DATA, "--frame", "3000", "-o", "from-data", cwd=work)
            self.assertEqual(result.returncode, 0, text(result))
            with Image.open(os.path.join(work, "shots", "frame-3000.png")) as a, \
                    Image.open(os.path.join(work, "from-data", "frame-3000.png")) as b:
                self.assertEqual(a.tobytes(), b.tobytes())
            self.assertEqual(sorted(os.listdir(work)), ["from-data", "shots"])


class Output(demo.ProcessTest):
    def test_a_long_soundtrack_needs_no_scratch_space(self):
        # Two frames at 0.01 a second: 200 s of sound, the loop played 16.8 times.
        with tempfile.TemporaryDirectory() as out, tempfile.TemporaryDirectory() as tmp:
            video = os.path.join(out, "long.mkv")
            result = capture("--frames", "1:2", "--rate", "0.01", "--out", video, env=dict(os.environ, TMPDIR=tmp))
            self.assertEqual(result.returncode, 0, text(result))
            self.assertEqual(os.listdir(tmp), [])
            sound = subprocess.run(["ffmpeg", "-v", "error", "-i", video, "-map", "0:a", "-f", "s16le", "-"],
                                   capture_output=True, check=True, timeout=120).stdout
            self.assertEqual(len(sound), 200 * 22050 * 4)
            self.assertEqual(sound[:1048576], sound[1048576:2 * 1048576])

    def test_write_errors_are_one_line_and_leave_nothing(self):
        # A file size limit makes writes fail with EFBIG, as a full disk does with ENOSPC.
        with tempfile.TemporaryDirectory() as out:
            for args, limit in [(["--frame", "1", "--frame", "2", "--out", os.path.join(out, "new")], 1000),
                                (["--effect", "rotozoomer:30:0.75", "--out", os.path.join(out, "e.png")], 1000),
                                (["--frames", "1:30", "--rate", "30", "--out", os.path.join(out, "v.mkv")], 4000000)]:
                with self.subTest(args=args):
                    result = capture(*args, file_limit=limit)
                    self.assertEqual(result.returncode, 1, text(result))
                    self.assertEqual(len(text(result).splitlines()), 1, text(result))
                    self.assertIn("File too large", text(result))
                    self.assertEqual(os.listdir(out), [])

    def test_a_replaced_file_keeps_its_mode_and_owner(self):
        root = os.geteuid() == 0
        owner = (65534, 65534) if root else (os.geteuid(), os.getegid())
        with tempfile.TemporaryDirectory() as out:
            os.chmod(out, 0o777)
            for user, mode in [(None, 0o600)] + ([(65534, 0o640)] if root else []):
                path = pathlib.Path(out, f"{mode:o}.png")
                path.touch(mode)
                os.chown(path, *owner)
                path.chmod(mode)
                self.assertEqual(capture("--effect", "plasma", "--out", path, user=user).returncode, 0)
                st = path.stat()
                self.assertEqual((st.st_mode & 0o7777, st.st_uid, st.st_gid, st.st_size > 0), (mode, *owner, True))

    def test_a_video_whose_side_name_is_past_PATH_MAX(self):
        with tempfile.TemporaryDirectory() as out:
            deep = out
            while len(deep) < 4080:  # the side name, 18 bytes more, is past 4095; the video's name is not
                deep = os.path.join(deep, "d" * min(200, 4080 - len(deep) - 1))
            os.makedirs(deep)
            self.assertEqual(capture("--frames", "1:2", "--rate", "30", "--out", f"{deep}/v.mkv").returncode, 0)
            self.assertEqual(video_frames(f"{deep}/v.mkv"), 2)

    def test_a_full_disk_under_webm_is_an_error(self):
        # FFmpeg 5.1 exits 0 when a .webm's end does not fit. 64 kB of tmpfs in
        # a mount namespace of the run's own: no root needed.
        with tempfile.TemporaryDirectory() as out:
            mount = ["unshare", "--user", "--map-root-user", "--mount", "sh", "-c",
                     'mount -t tmpfs -o size=64k tmpfs "$1" && shift && exec "$@"', "sh", out]
            if subprocess.run(mount + ["true"], capture_output=True, timeout=60).returncode != 0:
                self.skipTest("no mount namespace here")
            result = subprocess.run(mount + [CAPTURE, "--frames", "1:4", "--rate", "30", "--out", f"{out}/v.webm"],
                                    cwd=DATA, capture_output=True, timeout=300, stdin=subprocess.DEVNULL)
            self.assertEqual(result.returncode, 1, text(result))
            self.assertIn("No space left on device", text(result))

    def test_a_folder_another_run_uses_outlives_the_run_that_made_it(self):
        with tempfile.TemporaryDirectory() as out:
            made = os.path.join(out, "made")
            maker = start("--frame", "1", "--out", made)
            wait_until(lambda: os.path.isdir(made), "the folder")
            user = start("--effect", "plasma", "--out", os.path.join(made, "p.png"))
            fds = f"/proc/{user.pid}/fd"
            wait_until(lambda: made in (os.path.realpath(f"{fds}/{fd}") for fd in os.listdir(fds)), "it in the folder")
            # Held once its side file is there (a build that makes it later:
            # while it loads, with the folder empty but for the maker's).
            deadline = time.monotonic() + 0.05
            while time.monotonic() < deadline and not any(n.startswith("p.png.") for n in os.listdir(made)):
                time.sleep(0.001)
            os.kill(user.pid, signal.SIGSTOP)
            maker.send_signal(signal.SIGTERM)
            maker.communicate(timeout=60)
            os.kill(user.pid, signal.SIGCONT)
            _, err = user.communicate(timeout=300)
            self.assertEqual((maker.returncode, user.returncode), (128 + signal.SIGTERM, 0), err)
            self.assertEqual(os.listdir(made), ["p.png"])

    def test_two_runs_to_one_output_each_report_a_whole_file_of_their_own(self):
        with tempfile.TemporaryDirectory() as out:
            video = os.path.join(out, "mix.mkv")
            short = start("--frames", "1:20", "--rate", "30", "--out", video)
            time.sleep(0.2)
            long = start("--frames", "3000:3099", "--rate", "30", "--out", video)
            _, err = short.communicate(timeout=300)
            os.link(video, os.path.join(out, "first"))  # the file as the first run reported it
            _, err2 = long.communicate(timeout=300)
            self.assertEqual((short.returncode, long.returncode), (0, 0), err + err2)
            self.assertIn(b"wrote", err)
            self.assertIn(b"wrote", err2)
            self.assertEqual(sorted(os.listdir(out)), ["first", "mix.mkv"])
            self.assertEqual(video_frames(os.path.join(out, "first")), 20)
            self.assertEqual(video_frames(video), 100)
            self.assertEqual(capture("--frame", "1", "--frame", "3000", "--out", os.path.join(out, "png")).returncode, 0)
            for name, frame in (("first", 1), ("mix.mkv", 3000)):
                with Image.open(os.path.join(out, "png", f"frame-{frame}.png")) as png:
                    self.assertEqual(first_picture(os.path.join(out, name)).tobytes(), png.convert("RGB").tobytes())


class Progress(demo.ProcessTest):
    def test_without_a_terminal_one_line_at_the_end(self):
        with tempfile.TemporaryDirectory() as out:
            video = os.path.join(out, "v.mkv")
            result = capture("--frames", "1:3", "--rate", "30", "--out", video)
            self.assertEqual(result.returncode, 0)
            self.assertRegex(text(result), "^wrote " + re.escape(video) +
                             r": frames 1 to 3 at 30 a second, 0\.1 s long, made in [\d.]+ s\n$")

    def test_on_a_terminal_frames_a_second_and_time_left(self):
        with tempfile.TemporaryDirectory() as out:
            main, terminal = pty.openpty()
            proc = subprocess.Popen([CAPTURE, "--frames", "1:20", "--rate", "30", "--out", os.path.join(out, "v.mkv")],
                                    cwd=DATA, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=terminal)
            os.close(terminal)
            shown, deadline = b"", time.monotonic() + 300
            while time.monotonic() < deadline:
                if not select.select([main], [], [], 1)[0]:
                    continue
                try:
                    chunk = os.read(main, 4096)
                except OSError:  # EIO: the terminal's other end is closed
                    break
                if not chunk:
                    break
                shown += chunk
            os.close(main)
            self.assertEqual(proc.wait(timeout=300), 0)
            self.assertRegex(shown.decode(), r"\r\[#+\] 100%  frame 20 of 20  [\d.]+ fps  0:00 left")
            self.assertIn("\nwrote ", shown.decode())

    def test_a_wait_for_the_folder_says_so_and_the_report_follows_a_rename(self):
        with tempfile.TemporaryDirectory() as out:
            before, after = os.path.join(out, "before"), os.path.join(out, "after")
            os.mkdir(before)
            lock = os.open(before, os.O_RDONLY)
            fcntl.flock(lock, fcntl.LOCK_EX)  # as another run does while it puts its files in place
            main, terminal = pty.openpty()
            proc = subprocess.Popen([CAPTURE, "--effect", "plasma", "--out", f"{before}/p.png"], cwd=DATA,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=terminal)
            os.close(terminal)
            wait_until(lambda: os.listdir(before), "the side file")
            os.rename(before, after)
            wait_until(lambda: select.select([main], [], [], 0)[0], "a line on the terminal")
            shown = os.read(main, 4096)
            os.close(lock)
            self.assertEqual(proc.wait(timeout=60), 0)
            shown = (shown + os.read(main, 4096)).decode()
            os.close(main)
            self.assertIn(f"waiting for another run to finish writing into '{after}'", shown)
            self.assertIn(f"\nwrote {after}/p.png", shown)


class Signals(demo.ProcessTest):
    """Each stop signal in each phase: the run ends with 128 + the signal's
    number, FFmpeg gone, nothing left behind. How long each stop took is
    printed at the end (a figure, not a check: the machine may be busy); the
    wait for the process is only a guard against a hang."""
    stop_seconds = []

    @classmethod
    def tearDownClass(cls):
        if cls.stop_seconds:
            print(f"\nstop signals: {len(cls.stop_seconds)} runs stopped, the slowest in "
                  f"{max(cls.stop_seconds):.3f} s, the median in {sorted(cls.stop_seconds)[len(cls.stop_seconds) // 2]:.3f} s",
                  file=sys.stderr)

    def check_stopped(self, proc, signo, out, tmp, before=lambda: None):
        ffmpeg = demo.children(proc.pid)
        before()
        sent = time.monotonic()
        proc.send_signal(signo)
        _, err = proc.communicate(timeout=60)
        self.stop_seconds.append(time.monotonic() - sent)
        self.assertEqual(proc.returncode, 128 + signo, err)
        self.assertIn(f"interrupted by {signal.Signals(signo).name}; nothing written", err.decode())
        self.assertEqual(os.listdir(out), [])
        self.assertEqual(os.listdir(tmp), [])
        self.assertEqual([p for p in ffmpeg if os.path.exists(f"/proc/{p}")], [])

    def run_phases(self, phase):
        for signo in STOP_SIGNALS:
            with self.subTest(phase=phase.__name__, signal=signo.name), tempfile.TemporaryDirectory() as out, \
                    tempfile.TemporaryDirectory() as tmp:
                phase(signo, out, tmp)

    def test_while_loading(self):
        def loading(signo, out, tmp):
            proc = start("--frame", "1", "--out", os.path.join(out, "new"), env=dict(os.environ, TMPDIR=tmp))
            wait_until(lambda: os.path.exists(os.path.join(out, "new")), "the folder")
            self.check_stopped(proc, signo, out, tmp)
        self.run_phases(loading)

    @staticmethod
    def start_long_video(out, tmp):
        return start("--frames", "1:100000", "--rate", "30", "--out", os.path.join(out, "v.mkv"),
                     env=dict(os.environ, TMPDIR=tmp))

    def test_while_rendering_a_video(self):
        def rendering(signo, out, tmp):
            proc = self.start_long_video(out, tmp)
            wait_until(lambda: any(os.path.getsize(os.path.join(out, n)) > 0 for n in os.listdir(out)), "ffmpeg")
            self.check_stopped(proc, signo, out, tmp)
        self.run_phases(rendering)

    def test_while_ffmpeg_reads_nothing(self):
        def blocked(signo, out, tmp):
            proc = self.start_long_video(out, tmp)
            wait_until(lambda: running_ffmpeg(proc.pid), "ffmpeg")

            def stop_ffmpeg():
                os.kill(running_ffmpeg(proc.pid), signal.SIGSTOP)
                time.sleep(1)  # the socket fills up; the capture waits in send()
            self.check_stopped(proc, signo, out, tmp, stop_ffmpeg)
        self.run_phases(blocked)

    def test_every_other_signal_that_ends_a_process(self):
        for signo in (signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM, signal.SIGVTALRM, signal.SIGPROF, signal.SIGXCPU,
                      signal.SIGSEGV, signal.SIGRTMAX):
            with self.subTest(signal=signo.name), tempfile.TemporaryDirectory() as out, \
                    tempfile.TemporaryDirectory() as tmp:
                proc = self.start_long_video(out, tmp)
                wait_until(lambda: os.listdir(out), "the side file")
                self.check_stopped(proc, signo, out, tmp)

    def test_ffmpeg_stopped_by_a_signal_is_said_so(self):
        for signo, said in ((signal.SIGTERM, "stopped by SIGTERM"), (signal.SIGKILL, "killed by SIGKILL")):
            with self.subTest(signal=signo.name), tempfile.TemporaryDirectory() as out, \
                    tempfile.TemporaryDirectory() as tmp:
                proc = self.start_long_video(out, tmp)
                # Past its start, where FFmpeg sets up its own handlers.
                wait_until(lambda: running_ffmpeg(proc.pid) and os.path.getsize(os.path.join(out, os.listdir(out)[0])),
                           "ffmpeg's output")
                os.kill(running_ffmpeg(proc.pid), signo)
                _, err = proc.communicate(timeout=60)
                self.assertEqual((proc.returncode, os.listdir(out)), (1, []), err)
                self.assertIn(f"ffmpeg could not make '{out}/v.mkv': {said}\n", err.decode())

    def test_while_writing_pictures(self):
        def pictures(signo, out, tmp):
            frames = [a for n in range(1, 200) for a in ("--frame", str(n))]
            proc = start(*frames, "--out", os.path.join(out, "shots"), env=dict(os.environ, TMPDIR=tmp))
            shots = os.path.join(out, "shots")
            wait_until(lambda: os.path.isdir(shots) and len(os.listdir(shots)) >= 2, "pictures")
            self.check_stopped(proc, signo, out, tmp)
        self.run_phases(pictures)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
