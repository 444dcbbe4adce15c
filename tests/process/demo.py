"""Starting, stopping and watching the demo and the tools as real processes.

No test may hang the suite: the test process adopts every orphan of the
processes it starts (a child subreaper), so that `end_all` can find and end
them all, however deep, and every wait here has a bound."""
import ctypes
import os
import signal
import subprocess
import time
import unittest

PR_SET_CHILD_SUBREAPER = 36
ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def children(pid):
    """The processes whose parent is `pid`, from every thread of it."""
    found = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as f:
                found += [int(x) for x in f.read().split()]
    except OSError:
        pass
    return found


def descendants(pid):
    found, todo = [], children(pid)
    while todo:
        p = todo.pop()
        found.append(p)
        todo += children(p)
    return found


def end_all(timeout=30):
    """Continues, then kills every process below this one, and reaps those it
    adopted. A stopped process holds its pipes open until it is killed."""
    deadline = time.monotonic() + timeout
    while True:
        left = descendants(os.getpid())
        for p in left:
            for signo in (signal.SIGCONT, signal.SIGKILL):
                try:
                    os.kill(p, signo)
                except ProcessLookupError:
                    pass
        try:
            while os.waitpid(-1, os.WNOHANG)[0] > 0:
                pass
        except ChildProcessError:
            pass
        if not left:
            return
        if time.monotonic() > deadline:
            raise AssertionError(f"processes {left} would not end")
        time.sleep(0.02)


class ProcessTest(unittest.TestCase):
    """A test whose processes, and theirs, all end with it."""

    def setUp(self):
        self.addCleanup(end_all)  # the last clean-up: after each test's own


def start(binary, cwd, args=(), env_extra=None, display=None, closed=(), stdout=subprocess.PIPE):
    """The program with SIGINT at its default, its output in pipes (or stdout
    where given) and the descriptors in `closed` closed before it runs."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    env.setdefault("SDL_AUDIODRIVER", "dummy")
    env.update(env_extra or {})

    def child():
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        for fd in closed:
            os.close(fd)
    return subprocess.Popen([binary, *args], cwd=cwd, env=env, stdout=stdout, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, preexec_fn=child)


def finish(proc, timeout):
    """Waits for the process; returns (status, stdout, stderr, seconds waited)."""
    began = time.monotonic()
    out, err = proc.communicate(timeout=timeout)
    return proc.returncode, (out or b"").decode(), err.decode(), time.monotonic() - began


def on(display, *command):
    """A command run on the X display, e.g. xdotool or ImageMagick's import."""
    return subprocess.run(list(command), env={**os.environ, "DISPLAY": display}, capture_output=True, timeout=30)


def find_window(display):
    """The demo's window (titled Velmorante) on the display, waiting for it."""
    out = on(display, "xdotool", "search", "--sync", "--name", "^Velmorante$")
    ids = out.stdout.split()
    if not ids:
        raise AssertionError("no window titled Velmorante: " + out.stderr.decode(errors="replace"))
    return ids[0].decode()


class Xvfb:
    """A private X server on a display number of its own choosing."""

    def __init__(self, size="1280x720x24"):
        rfd, wfd = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(wfd), "-screen", "0", size,
                                      "-nolisten", "tcp", "-noreset"], pass_fds=(wfd,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(wfd)
        number = b""
        with os.fdopen(rfd, "rb") as r:
            while not number.endswith(b"\n"):
                c = r.read(1)
                if not c:
                    break
                number += c
        self.display = ":" + number.decode().strip()

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
