#!/usr/bin/python3
"""Opens the web page of a headless virtual night in headless Chromium at a phone's size: the current
target shows and follows the passes, the night chart loads, nothing scrolls sideways, and "Stop
Survey" with the token stops the run. Prints the page's load time and how long an update takes to reach it."""
import argparse
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

TOKEN = "browser-test-token"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def crlf(path, text):
    with open(path, "wb") as f:
        f.write(text.replace("\n", "\r\n").encode("latin-1"))


def wait_for(what, condition, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def status(port):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/api/status", timeout=5) as reply:
        return json.load(reply)


def prepare(folder, kestrove, samples):
    program = os.path.join(folder, "program")
    observatory = os.path.join(program, "observatory")
    os.makedirs(observatory)
    ini = os.path.join(observatory, "observatory.ini")
    # A first run in virtual time writes config.ini with its defaults; then SNe is switched on.
    crlf(ini, "[clock]\nstart=2026-12-07T22:00:00Z\nspeed=0\n")
    subprocess.run([kestrove, "--headless", "--folder", program, "--until", "2026-12-07T22:00:01Z"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    config = os.path.join(program, "config.ini")
    lines = open(config, "rb").read().decode("latin-1").split("\r\n")
    lines[2] = "SNeEnabled,1"
    open(config, "wb").write("\r\n".join(lines).encode("latin-1"))
    shutil.copy(os.path.join(samples, "SNeTargets.txt"), program)
    # Fast enough that passes come every second or so, slow enough for a browser to see each.
    crlf(ini, f"[clock]\nstart=2026-12-07T22:00:00Z\nspeed=60\n[web]\ntoken={TOKEN}\n")
    return program


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kestrove", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        program = prepare(folder, args.kestrove, args.samples)
        port = free_port()
        run = subprocess.Popen([args.kestrove, "--headless", "--folder", program, "--web", str(port)],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        options = webdriver.ChromeOptions()
        for option in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                       "--window-size=390,844"):
            options.add_argument(option)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            wait_for("the server", lambda: _reachable(port), 30)
            driver.set_window_size(390, 844)
            started = time.monotonic()
            driver.get(f"http://127.0.0.1:{port}/")
            wait_for("the first target", lambda: driver.find_element(By.ID, "current").text not in ("", "none"), 60)
            shown = time.monotonic() - started
            timing = driver.execute_script(
                "const t = performance.getEntriesByType('navigation')[0]; return t.loadEventEnd - t.startTime;")
            print(f"page load: {timing:.0f} ms to the load event, {shown * 1000:.0f} ms to the first target shown")

            # Each pass as the server reports it, and when the page shows its number.
            latencies = []
            for _ in range(3):
                before = status(port)["pass"]
                changed = wait_for("a new pass", lambda: (lambda s: s["pass"] != before and s)(status(port)), 60)
                seen_at = time.monotonic()
                wanted = str(changed["pass"])
                wait_for("the page to follow the pass", lambda: driver.find_element(By.ID, "pass").text.split(" ")[0]
                         in (wanted, str(changed["pass"] + 1), str(changed["pass"] + 2)), 5)
                latencies.append(time.monotonic() - seen_at)
            print("update latency: " + ", ".join(f"{l * 1000:.0f} ms" for l in latencies))
            assert max(latencies) < 2.0, "the page took more than 2 s to follow a pass"

            wait_for("the night chart", lambda: driver.execute_script(
                "const c = document.getElementById('chart');"
                "return !document.getElementById('chartSection').hidden && c.complete && c.naturalWidth > 0;"), 60)
            print("the night chart loaded")

            # The site and the Sun as the window's panel has them, times in the site's zone with UTC
            # on hover, and no verdict on weather that nothing watches.
            text = lambda id: driver.find_element(By.ID, id).text
            assert "N" in text("site") and "°" in text("sun"), (text("site"), text("sun"))
            assert text("nextDark"), "no next dark time"
            weather = text("weather")
            assert "unsafe" not in weather and "no weather source" in weather, weather
            assert driver.find_element(By.ID, "now").get_attribute("title").endswith("UTC")
            wait_for("a plan in the table", lambda: driver.find_elements(By.CSS_SELECTOR, "#history td"), 60)
            cell = driver.find_element(By.CSS_SELECTOR, "#history td")
            assert cell.get_attribute("title").endswith("UTC") and re.fullmatch(r"\d\d:\d\d \S+", cell.text), cell.text
            cut = driver.execute_script(
                "return [...document.querySelectorAll('#history td, #frames td')]"
                ".filter(c => c.scrollWidth > c.clientWidth + 1).map(c => c.textContent);")
            assert not cut, f"cells cut: {cut}"
            # The plans' table fits the phone's width: no result behind a sideways scroll.
            fits = driver.execute_script(
                "const t = document.getElementById('history'); return [t.scrollWidth, t.parentElement.clientWidth];")
            assert fits[0] <= fits[1] + 1, f"the plans' table is {fits[0]} px wide in {fits[1]} px"

            widths = driver.execute_script(
                "return [document.documentElement.scrollWidth, document.documentElement.clientWidth];")
            assert widths[0] <= widths[1], f"the page scrolls sideways at 390 px: {widths}"
            if args.screenshot:
                driver.save_screenshot(args.screenshot)

            driver.execute_script(f"localStorage.setItem('kestroveToken', '{TOKEN}');")
            driver.find_element(By.ID, "stop").click()
            wait_for("the answer", lambda: "Stop Survey" in driver.find_element(By.ID, "answer").text, 10)
            output, _ = run.communicate(timeout=120)
            assert run.returncode == 0, output
            assert "Run ended: stopped from the web page" in output, output
            print("Stop Survey from the page ended the run")
        finally:
            driver.quit()
            if run.poll() is None:
                run.kill()
    return 0


def _reachable(port):
    try:
        status(port)
        return True
    except OSError:
        return False


if __name__ == "__main__":
    sys.exit(main())
