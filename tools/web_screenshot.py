"""Takes the README's picture of the page: build/web served locally, opened in
headless Chromium, started, left running a few seconds so that the
frame-rate line shows, and shot as the window shows it.

Usage: web_screenshot.py WEB_DIR OUT.png"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser  # noqa: E402

WINDOW = "--window-size=1320,1080"  # the page's 1280 x 720 picture, its title and controls
RUNNING_SECONDS = 3


def main():
    web, out = sys.argv[1], sys.argv[2]
    with browser.serve(os.path.abspath(web)) as url, browser.chromium([WINDOW]) as driver:
        browser.start_demo(driver, url + "index.html")
        browser.wait_for(driver, "return velmorante.rateLine", 10)
        time.sleep(RUNNING_SECONDS)
        driver.save_screenshot(out)


if __name__ == "__main__":
    main()
