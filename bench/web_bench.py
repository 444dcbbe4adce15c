"""The page's speed in headless Chromium, each figure beside a baseline
measured in the same run:

- frames a second of the demo's loop, beside a loop that only hands a ready
  frame to the canvas, in the same page session: while the demo waits for its
  turn after a frame, the benchmark takes the turn and hands that frame over
  again and again, each time as SDL_Flip does (pageShowDisplay: the words
  turned into canvas bytes, putImageData) and giving the browser its turn the
  same way; then the demo goes on. The same loop with putImageData alone is
  printed too;
- start-up, from the end of the downloads to the first frame on the canvas,
  beside the desktop's start-up to its first frame (velmorante_bench's
  BM_StartupFirstFrame, dummy drivers);
- ?stop=N past 100,000: the time from the start click to the frame's hash,
  beside the desktop starting up and drawing as many frames (BM_Script).

Usage: web_bench.py WEB_DIR DESKTOP_BUILD [SECONDS]"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

WEB, DESKTOP = (os.path.abspath(a) for a in sys.argv[1:3])
SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 5.0
PAGE_LOADS = 3       # start-ups measured
STOP_FRAME = 100164  # far on: 100,164 Script calls measure the page's drawing, not its start

# Frames begun by the demo over `ms`, read from the page's counter.
DEMO_RATE = """
const done = arguments[arguments.length - 1], ms = arguments[0];
const f0 = velmorante.frame, t0 = performance.now();
setTimeout(() => done({frames: velmorante.frame - f0, ms: performance.now() - t0}), ms);
"""

# The baseline, at the demo's next turn: its frame handed over again and again
# (`convert`: the whole hand-over of SDL_Flip; else putImageData of the canvas
# bytes alone), each time with the page's turn to the browser. Then the demo
# resumes.
HAND_OVER_ONLY = """
const done = arguments[arguments.length - 1], ms = arguments[0], convert = arguments[1];
const page = velmorante.page, turn = page.yieldToBrowser;
const c = document.getElementById('screen'), ctx = c.getContext('2d');
page.yieldToBrowser = async (frame) => {
  page.yieldToBrowser = turn;
  const ready = ctx.getImageData(0, 0, c.width, c.height);
  let n = 0;
  const t0 = performance.now();
  while (performance.now() - t0 < ms) {
    if (convert) Module._pageShowDisplay(); else ctx.putImageData(ready, 0, 0);
    n++;
    await turn(frame);
  }
  done({frames: n, ms: performance.now() - t0});
  return turn(frame);
};
"""


def desktop_figures():
    """Median real times (ms) of the desktop's start-up and of one Script call."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "bench.json")
        subprocess.run([os.path.join(DESKTOP, "bench", "velmorante_bench"),
                        "--benchmark_filter=^(BM_StartupFirstFrame|BM_Script)(/|$)",
                        "--benchmark_repetitions=5", "--benchmark_out_format=json", "--benchmark_out=" + out],
                       check=True, stdout=subprocess.DEVNULL)
        with open(out) as f:
            runs = json.load(f)["benchmarks"]
    medians = {r["run_name"]: r["real_time"] for r in runs if r.get("aggregate_name") == "median"}
    return medians["BM_StartupFirstFrame/real_time"], medians["BM_Script"]


def rate(result):
    return 1000.0 * result["frames"] / result["ms"]


def page_session(driver, url, measure_rates):
    driver.get(url)
    browser.wait_for(driver, "return window.velmorante && velmorante.page", 30)
    driver.find_element("id", "stage").click()
    browser.wait_for(driver, "return velmorante.framesShown > 0", 120)
    figures = {"startup": driver.execute_script("return velmorante.startupMs")}
    if measure_rates:
        demo = [rate(driver.execute_async_script(DEMO_RATE, SECONDS * 1000))]
        figures["hand-over"] = rate(driver.execute_async_script(HAND_OVER_ONLY, SECONDS * 1000, True))
        demo.append(rate(driver.execute_async_script(DEMO_RATE, SECONDS * 1000)))
        figures["putImageData"] = rate(driver.execute_async_script(HAND_OVER_ONLY, SECONDS * 1000, False))
        demo.append(rate(driver.execute_async_script(DEMO_RATE, SECONDS * 1000)))
        figures["demo"] = demo
        ActionChains(driver).send_keys(Keys.ESCAPE).perform()
        browser.wait_for(driver, "return velmorante.phase === 'ended'", 30)
    return figures


def stop_run(driver, url):
    driver.get("%s?stop=%d" % (url, STOP_FRAME))
    browser.wait_for(driver, "return window.velmorante && velmorante.page", 30)
    driver.find_element("id", "stage").click()
    t0 = time.monotonic()
    browser.wait_for(driver, "return document.getElementById('frame-sha256').textContent", 3600, poll=0.1)
    return 1000.0 * (time.monotonic() - t0)


def main():
    desktop_startup, desktop_script = desktop_figures()
    with browser.serve(WEB) as base, browser.chromium() as driver:
        url = base + "index.html"
        version = driver.capabilities.get("browserVersion", "?")
        sessions = [page_session(driver, url, k == 0) for k in range(PAGE_LOADS)]
        stop_ms = stop_run(driver, url)

    rates = sessions[0]
    demo = statistics.mean(rates["demo"])
    startup = statistics.median(s["startup"] for s in sessions)
    desktop_stop = desktop_startup + STOP_FRAME * desktop_script
    print("Velmorante in headless Chromium %s; every figure beside its baseline from this run" % version)
    print("  frame rate, demo loop             %8.1f frames/s (%s over %g s each)"
          % (demo, ", ".join("%.1f" % r for r in rates["demo"]), SECONDS))
    print("  frame rate, hand-over-only loop   %8.1f frames/s (the words to canvas bytes, putImageData, a turn)"
          % rates["hand-over"])
    print("    hand-over-only / demo           %8.2f x   (goal: within 2 x)" % (rates["hand-over"] / demo))
    print("  frame rate, putImageData + turn   %8.1f frames/s" % rates["putImageData"])
    print("    putImageData loop / demo        %8.2f x" % (rates["putImageData"] / demo))
    print("  start-up, page (median of %d)      %8.1f ms  (end of the downloads to the first frame)"
          % (PAGE_LOADS, startup))
    print("  start-up, desktop (median of 5)   %8.1f ms  (BM_StartupFirstFrame)" % desktop_startup)
    print("    page / desktop                  %8.2f x   (goal: within 3 x)" % (startup / desktop_startup))
    print("  ?stop=%d, click to hash      %8.1f ms" % (STOP_FRAME, stop_ms))
    print("  desktop start-up + %d Scripts %8.1f ms  (%.3f ms a Script)" % (STOP_FRAME, desktop_stop, desktop_script))
    print("    page / desktop                  %8.2f x" % (stop_ms / desktop_stop))


if __name__ == "__main__":
    main()
