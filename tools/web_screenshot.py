"""Takes the pictures of the page in docs/: build/web served locally and opened
in headless Chromium, each shot as the window shows it (a window's page area
is smaller than the window: Chromium keeps room for its own bars).

- web-start.png: the start screen with its warning, in a 1366 x 768 window,
  once the downloads are in;
- web-page.png: the demo running a few seconds, so that the frame-rate line
  shows, in a 1366 x 768 window (the README's picture);
- web-page-1024x600.png: the same page in a 1024 x 600 window.

Usage: web_screenshot.py WEB_DIR OUT_DIR"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser  # noqa: E402

LARGE, SMALL = (1366, 768), (1024, 600)
RUNNING_SECONDS = 3


def main():
    web, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    with browser.serve(os.path.abspath(web)) as url, browser.chromium() as driver:
        driver.set_window_rect(width=LARGE[0], height=LARGE[1])
        driver.get(url + "index.html")
        browser.wait_for(driver, "return window.velmorante && "
                                 "document.getElementById('loading-text').textContent === 'Ready.'", 60)
        driver.save_screenshot(os.path.join(out, "web-start.png"))

        driver.find_element("id", "stage").click()
        browser.wait_for(driver, "return velmorante.rateLine", 60)
        time.sleep(RUNNING_SECONDS)
        driver.save_screenshot(os.path.join(out, "web-page.png"))

        driver.set_window_rect(width=SMALL[0], height=SMALL[1])
        time.sleep(1)
        driver.save_screenshot(os.path.join(out, "web-page-%dx%d.png" % SMALL))


if __name__ == "__main__":
    main()
