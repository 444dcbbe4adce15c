"""The sound loop as the demo plays it: SDL's disk audio driver writes what the
mixer outputs to a file, which must be the loop, repeating, from its first byte."""
import os
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
LOOPS = 3             # whole loops to capture after the leading silence
DISK_DELAY_MS = "10"  # one 16 KiB device buffer every 10 ms: about 18 times real time


def expected_loop():
    """The loop the program builds at start-up, which the mixer must play."""
    loop = subprocess.run([DUMP, "sound", DATA], check=True, timeout=120, capture_output=True).stdout
    assert len(loop) == LOOP_BYTES
    return loop


def first_nonzero(data):
    stripped = data.lstrip(b"\0")
    return len(data) - len(stripped) if stripped else None


def capture(path, lead, seconds, closed=()):
    """Runs the demo until the capture holds LOOPS loops after its silence.
    `lead` is the number of zero bytes the loop itself begins with."""
    proc = demo.start(BINARY, DATA, closed=closed, stdout=subprocess.DEVNULL if closed else subprocess.PIPE, env_extra={
        "SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "disk",
        "SDL_DISKAUDIOFILE": path, "SDL_DISKAUDIODELAY": DISK_DELAY_MS})
    start, deadline = None, time.monotonic() + seconds
    scanned = 0
    while time.monotonic() < deadline and proc.poll() is None:
        time.sleep(0.1)
        if not os.path.exists(path):
            continue
        with open(path, "rb") as f:
            if start is None:
                f.seek(scanned)
                new = f.read()
                at = first_nonzero(new)
                if at is None:
                    scanned += len(new)
                    continue
                start = scanned + at - lead
            if os.path.getsize(path) >= start + LOOPS * LOOP_BYTES:
                break
    proc.send_signal(signal.SIGTERM)
    status, out, err, _ = demo.finish(proc, 60)
    with open(path, "rb") as f:
        return status, out, err, f.read()


class Sound(demo.ProcessTest):
    def test_the_mixer_plays_the_loop_byte_for_byte_over_and_over(self):
        # Also with standard output closed: the frame-rate lines must not land
        # in the next file the demo opens, the recording.
        loop = expected_loop()
        for closed in ((), (1,)):
            with self.subTest(closed=closed), tempfile.TemporaryDirectory() as tmp:
                self.check_plays(loop, *capture(os.path.join(tmp, "cap.raw"), first_nonzero(loop), 180, closed))

    def check_plays(self, loop, status, out, err, data):
        lead = first_nonzero(loop)
        self.assertEqual(status, 0, err)
        for line in out.splitlines():
            self.assertRegex(line, r"^\d+$")
        at = first_nonzero(data)
        self.assertIsNotNone(at, "nothing but silence was captured")
        start = at - lead
        self.assertGreaterEqual(start, 0)
        self.assertEqual(start % 4, 0, "the loop must begin on a sample frame")
        played = data[start:]
        loops = len(played) // LOOP_BYTES
        self.assertGreaterEqual(loops, LOOPS, f"{len(played)} bytes captured after the silence")
        for n in range(loops):
            got = played[n * LOOP_BYTES:(n + 1) * LOOP_BYTES]
            if got != loop:
                bad = next(i for i in range(LOOP_BYTES) if got[i] != loop[i])
                self.fail(f"loop {n}: byte {bad} is {got[bad]}, expected {loop[bad]}")
        tail = played[loops * LOOP_BYTES:]
        self.assertEqual(tail, loop[:len(tail)], "the loop must start again at its byte 0")

    def test_without_a_usable_audio_driver_the_demo_runs_silent(self):
        proc = demo.start(BINARY, DATA, env_extra={
            "SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "nosuchdriver"})
        time.sleep(2.5)
        proc.send_signal(signal.SIGTERM)
        status, out, err, _ = demo.finish(proc, 60)
        self.assertEqual(status, 0, err)
        self.assertEqual(err, "")
        self.assertGreaterEqual(len(out.splitlines()), 1, out)  # it went on drawing frames
        for line in out.splitlines():
            self.assertRegex(line, r"^\d+$")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
