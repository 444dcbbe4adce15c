"""The demo of a cross build as a real process under its emulator (qemu-user).

Arguments: the demo, the data folder, then the emulator's command line (the
toolchain file's CMAKE_CROSSCOMPILING_EMULATOR). On SDL's dummy drivers the
demo builds its sound loop and the mixer plays it from its own thread, as on
the desktop.
"""
import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import demo  # noqa: E402

BINARY, DATA, EMULATOR = sys.argv[1], sys.argv[2], sys.argv[3:]
HEADLESS = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy"}
REPORTS = 2  # frame-rate lines to wait for: the first one may come right after loading


class Emulated(demo.ProcessTest):
    def test_runs_from_data_reports_frame_rates_and_quits_on_sigterm(self):
        proc = demo.start(EMULATOR[0], DATA, args=[*EMULATOR[1:], BINARY], env_extra=HEADLESS)
        lines = []
        try:
            # A demo that never reaches its frames is stopped by CTest's timeout.
            while len(lines) < REPORTS:
                line = proc.stdout.readline().decode()
                if not line:
                    break
                lines.append(line)
        finally:
            proc.send_signal(signal.SIGTERM)  # qemu hands it on; SDL turns it into a quit event
        status, out, err, _ = demo.finish(proc, 60)
        lines += out.splitlines(keepends=True)
        self.assertEqual(status, 0, err)
        self.assertEqual(err, "")
        self.assertGreaterEqual(len(lines), REPORTS, lines)
        for line in lines:
            self.assertRegex(line, r"^[1-9]\d*\n$")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
