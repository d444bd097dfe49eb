#!/usr/bin/python3
"""The gateway's web page in a real browser (Debian's chromium, headless, through chromedriver).

Starts matrix-sim and matrix-gateway on loopback ports of their own choosing, loads the page,
clicks a cell of the routing grid and reads the route back from the simulated switcher with
matrixctl, routes once more by keyboard, then routes through the Videohub protocol port and waits
for the page to show it. Then, with a token, the page asks for it once, and follows the
events with it.
Exits 77 (skipped) when chromium, chromedriver or selenium are not installed, unless
MATRIX_REQUIRE_BROWSER is set (scripts/test sets it), which makes that a failure.
"""
import argparse
import os
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def start(command, ready, timeout=20):
    """Starts a program and reads its stdout until every pattern in `ready` has matched a
    line; returns the process and the first group of each match."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True, bufsize=1)
    found = {}
    deadline = time.monotonic() + timeout
    seen = []
    while len(found) < len(ready):
        if time.monotonic() > deadline or process.poll() is not None:
            process.kill()
            fail("%s did not report ready; it printed:\n%s" % (command[0], "".join(seen)))
        readable, _, _ = select.select([process.stdout], [], [], 0.2)
        if not readable:
            continue
        line = process.stdout.readline()
        seen.append(line)
        for key, pattern in ready.items():
            match = re.search(pattern, line)
            if match and key not in found:
                found[key] = match.group(1)
    # Keep reading, so that a program that goes on printing never blocks on a full pipe.
    threading.Thread(target=lambda: [None for _ in process.stdout], daemon=True).start()
    return process, found


def wait_until(what, condition, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    fail("timed out waiting until " + what)


def route_at_switcher(matrixctl, sim_port, output):
    result = subprocess.run([matrixctl, "--tcp", "127.0.0.1:%s" % sim_port, "route", "get",
                             str(output)], capture_output=True, text=True, timeout=20)
    numbers = re.findall(r"\d+", result.stdout)
    return int(numbers[-1]) if result.returncode == 0 and numbers else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gateway", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--matrixctl", required=True)
    args = parser.parse_args()

    # scripts/test installs the browser; there a missing one is a failure, not a skip.
    missing = SKIP if not os.environ.get("MATRIX_REQUIRE_BROWSER") else 1
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
    except ImportError:
        print("SKIP: python3-selenium is not installed")
        return missing
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print("SKIP: chromium and chromium-driver are not installed")
        return missing

    processes = []
    driver = None
    # gateway.ini and the token file; nothing goes into the build tree.
    workdir = tempfile.TemporaryDirectory()
    try:
        sim, sim_ports = start([args.sim, "--tcp-port", "0"], {"tcp": r"TCP \S+:(\d+)"})
        processes.append(sim)
        gateway, ports = start(
            [args.gateway, "--tcp", "127.0.0.1:%s" % sim_ports["tcp"], "--poll", "1",
             "--http-port", "0", "--videohub-port", "0",
             "--settings", os.path.join(workdir.name, "gateway.ini")],
            {"http": r"HTTP server listening on \S+:(\d+)",
             "videohub": r"Videohub server listening on \S+:(\d+)"})
        processes.append(gateway)

        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                         "--disable-dev-shm-usage", "--window-size=420,900"):
            options.add_argument(argument)
        options.binary_location = CHROMIUM
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        driver.set_page_load_timeout(20)
        driver.get("http://127.0.0.1:%s/" % ports["http"])

        def cell(output, input_):
            return driver.find_element(By.ID, "route-o%d-i%d" % (output, input_))

        wait_until("the page shows the switcher present",
                   lambda: driver.find_element(By.ID, "link").get_attribute("data-present")
                   == "true" and cell(2, 2).get_attribute("aria-pressed") == "true")

        # A click on the grid routes the switcher.
        cell(2, 4).click()
        wait_until("the switcher routes input 4 to output 2",
                   lambda: route_at_switcher(args.matrixctl, sim_ports["tcp"], 2) == 4)
        wait_until("the page marks input 4 on output 2",
                   lambda: cell(2, 4).get_attribute("aria-pressed") == "true"
                   and cell(2, 2).get_attribute("aria-pressed") == "false")

        # The page works by keyboard: the focused cell moves with the arrow keys and Enter
        # routes it.
        cell(1, 1).send_keys(Keys.ARROW_RIGHT)
        focused = driver.switch_to.active_element
        if focused.get_attribute("id") != "route-o1-i2":
            fail("the arrow key did not move to the next input")
        focused.send_keys(Keys.ENTER)
        wait_until("the switcher routes input 2 to output 1",
                   lambda: route_at_switcher(args.matrixctl, sim_ports["tcp"], 1) == 2)
        # A router panel routes input 1 to output 3 (0-based on its wire); the page follows.
        panel = socket.create_connection(("127.0.0.1", int(ports["videohub"])), timeout=10)
        received = b""
        while b"END PRELUDE:\n\n" not in received:
            chunk = panel.recv(4096)
            if not chunk:
                fail("the Videohub port closed before its status dump ended")
            received += chunk
        panel.sendall(b"VIDEO OUTPUT ROUTING:\n2 0\n\n")
        wait_until("the page marks input 1 on output 3",
                   lambda: cell(3, 1).get_attribute("aria-pressed") == "true"
                   and cell(3, 3).get_attribute("aria-pressed") == "false")
        wait_until("the switcher routes input 1 to output 3",
                   lambda: route_at_switcher(args.matrixctl, sim_ports["tcp"], 3) == 1)
        panel.close()

        driver.quit()
        driver = None
        gateway.send_signal(signal.SIGTERM)
        gateway.wait(timeout=10)

        # With a token, the page asks for it once, and with it reads the state and follows the
        # events (the token goes as a subprotocol of the event socket).
        token_file = os.path.join(workdir.name, "token")
        with open(token_file, "w") as f:
            f.write("browser-s3cret-0123\n")
        gateway, ports = start(
            [args.gateway, "--tcp", "127.0.0.1:%s" % sim_ports["tcp"], "--poll", "1",
             "--http-port", "0", "--videohub-port", "0", "--token-file", token_file,
             "--settings", os.path.join(workdir.name, "gateway.ini")],
            {"http": r"HTTP server listening on \S+:(\d+)",
             "videohub": r"Videohub server listening on \S+:(\d+)"})
        processes.append(gateway)
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        driver.set_page_load_timeout(20)
        driver.get("http://127.0.0.1:%s/" % ports["http"])
        wait_until("the page asks for the token",
                   lambda: driver.find_element(By.ID, "token-dialog").get_attribute("open")
                   is not None)
        field = driver.find_element(By.ID, "token")
        field.send_keys("wrong")
        field.send_keys(Keys.ENTER)
        wait_until("the page asks again after a wrong token",
                   lambda: "not accepted" in driver.find_element(By.ID, "token-error").text)
        field.send_keys("browser-s3cret-0123")
        field.send_keys(Keys.ENTER)
        wait_until("the page shows the switcher present",
                   lambda: driver.find_element(By.ID, "link").get_attribute("data-present")
                   == "true")
        if driver.execute_script("return sessionStorage.getItem('matrix-gateway-token')") \
                != "browser-s3cret-0123":
            fail("the token is not kept in the tab's session storage")
        panel = socket.create_connection(("127.0.0.1", int(ports["videohub"])), timeout=10)
        received = b""
        while b"END PRELUDE:\n\n" not in received:
            chunk = panel.recv(4096)
            if not chunk:
                fail("the Videohub port closed before its status dump ended")
            received += chunk
        panel.sendall(b"VIDEO OUTPUT ROUTING:\n5 3\n\n")
        wait_until("the page with a token marks input 4 on output 6",
                   lambda: cell(6, 4).get_attribute("aria-pressed") == "true")
        panel.close()
        # A reload in the same tab needs no second asking.
        driver.refresh()
        wait_until("the reloaded page shows the switcher present without asking",
                   lambda: driver.find_element(By.ID, "link").get_attribute("data-present")
                   == "true")
        if driver.find_element(By.ID, "token-dialog").get_attribute("open") is not None:
            fail("the reloaded page asked for the token again")
        print("PASS: the page routed by click and by keyboard, followed a router panel, and "
              "asked for the token once")
        return 0
    finally:
        if driver is not None:
            driver.quit()
        for process in reversed(processes):
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
        workdir.cleanup()


if __name__ == "__main__":
    sys.exit(main())
