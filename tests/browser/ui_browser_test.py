#!/usr/bin/env python3
"""`velmora ui --sim` in headless Chromium, driven by Selenium, as a person would use it.

The page must show the model's joints by name, move the simulated hand with a slider, hold it
with the stop button and keep its bars moving with the hand. A screenshot of the page is left
at --artifact. Exits 77 (ctest's skip) when Chromium, chromedriver or Selenium is missing.
"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

SKIP = 77


def skip(why):
    print("SKIPPED: " + why + " (scripts/install-deps.sh --tests installs it)")
    sys.exit(SKIP)


def wait_for(what, condition, seconds=30.0, every=0.02):
    """The first true value of condition() within the deadline; fails naming `what`."""
    end = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(every)


class Ui:
    """`velmora ui --sim` on a free loopback port."""

    def __init__(self, velmora, model):
        self.process = subprocess.Popen(
            [velmora, "ui", "--model", model, "--sim", "--listen", "127.0.0.1:0",
             "--channel", "virtual:can-browser"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.url = None
        ready = threading.Event()

        def read():
            for line in self.process.stdout:
                self.lines.append(line)
                if " at http://" in line and not self.url:
                    self.url = line.split(" at ", 1)[1].strip()
                    ready.set()
            ready.set()

        threading.Thread(target=read, daemon=True).start()
        if not ready.wait(60) or not self.url:
            self.process.kill()
            raise AssertionError("velmora ui printed no address: " + "".join(self.lines) +
                                 self.process.stderr.read())
        self.base = self.url.split("#", 1)[0].rstrip("/")

    def get(self, path):
        with urllib.request.urlopen(self.base + path, timeout=10) as reply:
            return json.load(reply)

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        status = self.process.wait(30)
        assert status == 0, "velmora ui exited %d: %s" % (status, self.process.stderr.read())


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velmora", required=True)
    parser.add_argument("--artifact", required=True, help="where the screenshot goes (PNG)")
    parser.add_argument("--model", default="tovin")
    parser.add_argument("--measure", type=float, default=0,
                        help="also measure the command's CPU and the update latency this long")
    args = parser.parse_args()

    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver")
    if not chromium:
        skip("chromium not found")
    if not driver_path:
        skip("chromedriver not found (Debian: chromium-driver)")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
    except ImportError:
        skip("selenium not found (Debian: python3-selenium)")

    ui = Ui(args.velmora, args.model)
    profile = tempfile.mkdtemp(prefix="velmora-ui-chromium-")
    driver = None
    try:
        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--window-size=1400,1200",
                     "--user-data-dir=" + profile]:
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(driver_path), options=options)
        driver.set_script_timeout(20)
        driver.get(ui.url)

        model = ui.get("/api/model")
        names = [j["name"] for j in model["joints"]]
        shown = wait_for("the joints on the page", lambda: [
            e.get_attribute("data-name")
            for e in driver.find_elements(By.CSS_SELECTOR, ".joint")] or None)
        # Grouped by finger on the page, each joint once.
        assert sorted(shown) == sorted(names), "page shows %s, the model has %s" % (shown, names)
        for name in names:
            assert name in driver.find_element(By.ID, "joints").text, name
        wait_for("the first readings", lambda: driver.execute_script(
            "return window.velmoraUi.updates > 3"))
        print("page shows the %d joints of %s: %s" % (len(names), args.model, " ".join(names)))

        # The index finger's first joint: its slider, its bar and its slot.
        joint = next(j for j in model["joints"] if j["name"] == "index_1")
        slot = joint["slot"]
        row = driver.find_element(By.CSS_SELECTOR, '.joint[data-name="index_1"]')
        slider = row.find_element(By.CSS_SELECTOR, "input[type=range]")

        def position():
            state = ui.get("/api/state")
            return state["positions"][slot] if state["positions"] else None

        def bar():
            value = row.get_attribute("data-value")
            return int(value) if value else None

        def move_slider(value):
            driver.execute_script(
                "arguments[0].value = arguments[1];"
                "arguments[0].dispatchEvent(new Event('input', {bubbles: true}));",
                slider, value)

        start = wait_for("a position", position)
        goal = 60 if start > 130 else 200
        move_slider(goal)
        bars = set()

        def arrived():
            bars.add(bar())
            return abs(position() - goal) <= 1
        wait_for("index_1 at %d" % goal, arrived)
        wait_for("the bar at %d" % goal, lambda: bar() is not None and abs(bar() - goal) <= 1)
        bars.discard(None)
        assert len(bars) >= 2, "the bar did not follow the hand: %s" % bars
        print("slider to %d: the hand went from %d to %d; the bar showed %d values on the way" %
              (goal, start, position(), len(bars)))

        # Stop while the finger travels: the hand stays where it was when the stop came.
        far = 230 if goal < 128 else 30
        move_slider(far)
        wait_for("index_1 moving", lambda: abs(position() - goal) > 3)
        driver.find_element(By.ID, "stop").click()
        state = wait_for("the hold", lambda: (lambda s: s if s["held"] else None)(
            ui.get("/api/state")))
        held = state["target"][slot]
        lo, hi = sorted((goal, far))
        assert lo - 1 <= held <= hi + 1, "held at %d, outside %d..%d" % (held, lo, hi)
        steady = [position() for _ in range(1)]

        def still():
            steady.append(position())
            return len(steady) >= 10 and all(abs(p - held) <= 1 for p in steady[-10:])
        wait_for("index_1 holding at %d" % held, still)
        print("stop held index_1 at %d on its way from %d to %d" % (held, goal, far))

        # The page keeps updating.
        seen = driver.execute_script("return window.velmoraUi.updates")
        wait_for("more updates", lambda: driver.execute_script(
            "return window.velmoraUi.updates") >= seen + 10)

        if args.measure > 0:
            begin, at = cpu_seconds(ui.process.pid), time.monotonic()
            updates = driver.execute_script("return window.velmoraUi.updates")
            time.sleep(args.measure)
            cpu = cpu_seconds(ui.process.pid) - begin
            elapsed = time.monotonic() - at
            updates = driver.execute_script("return window.velmoraUi.updates") - updates
            latency = sorted(driver.execute_script("return window.velmoraUi.latencyMs"))
            print("measure: %.1f s, %.1f updates/s, velmora ui (server, worker and simulated "
                  "hand) %.2f %% of a core, latency median %.1f ms, 90th %.1f ms" %
                  (elapsed, updates / elapsed, 100 * cpu / elapsed,
                   latency[len(latency) // 2], latency[int(len(latency) * 0.9)]))

        # A named pose from its button, for a picture with the fingertips pressed.
        driver.find_element(By.CSS_SELECTOR, 'button[data-pose="point"]').click()
        wait_for("the point pose", lambda: not ui.get("/api/state")["held"])
        wait_for("the hand settled in the point pose", lambda: (
            lambda s: all(abs(p - t) <= 1 for p, t in zip(s["positions"], s["target"])))(
                ui.get("/api/state")))
        seen = driver.execute_script("return window.velmoraUi.updates")
        wait_for("the fingertips' next readings", lambda: driver.execute_script(
            "return window.velmoraUi.updates") >= seen + 15)

        os.makedirs(os.path.dirname(os.path.abspath(args.artifact)), exist_ok=True)
        driver.save_screenshot(args.artifact)
        with open(args.artifact, "rb") as png:
            head = png.read(24)
        assert head[:8] == b"\x89PNG\r\n\x1a\n", "the screenshot is not a PNG"
        width, height = int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
        assert width >= 800 and height >= 600, "screenshot of %dx%d" % (width, height)
        assert os.path.getsize(args.artifact) > 20000, "the screenshot looks empty"
        print("screenshot: %s (%dx%d)" % (args.artifact, width, height))
    finally:
        if driver:
            driver.quit()
        shutil.rmtree(profile, ignore_errors=True)
        if ui.process.poll() is None:
            ui.stop()
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
