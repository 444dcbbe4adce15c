"""Starting, stopping and watching the demo as a real process."""
import os
import signal
import subprocess
import time


def start(binary, cwd, args=(), env_extra=None, display=None):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    env.setdefault("SDL_AUDIODRIVER", "dummy")
    env.update(env_extra or {})
    return subprocess.Popen([binary, *args], cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))


def finish(proc, timeout):
    """Waits for the process; returns (status, stdout, stderr, seconds waited)."""
    began = time.monotonic()
    out, err = proc.communicate(timeout=timeout)
    return proc.returncode, out.decode(), err.decode(), time.monotonic() - began


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
