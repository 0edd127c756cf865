"""Headless Chromium driven over its DevTools pipe: open a page offline, read
values from it, take a screenshot, collect what went wrong in it."""
from __future__ import annotations

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time

# Software WebGL: the machines that run this have no GPU.
FLAGS = ("--headless", "--no-sandbox", "--use-gl=angle", "--use-angle=swiftshader",
         "--enable-unsafe-swiftshader", "--no-first-run", "--no-default-browser-check",
         "--disable-extensions", "--disable-background-networking", "--mute-audio",
         "--host-resolver-rules=MAP * ~NOTFOUND")


def chromium() -> str | None:
    """The Chromium program on PATH, or None."""
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class BrowserError(Exception):
    """The browser failed or did not answer."""


class Browser:
    """One headless browser with one tab, for use in a with block.

    ``problems`` lists, in order, every console error, uncaught exception, error
    logged by the browser and request for anything but a file.
    """

    def __init__(self, width: int = 1200, height: int = 800, timeout: float = 120.0):
        program = chromium()
        if program is None:
            raise BrowserError("chromium is not installed (apt-get install chromium)")
        self.timeout = timeout
        self.problems: list[str] = []
        self._profile = tempfile.mkdtemp(prefix="seedmatch-chromium-")
        to_browser, self._commands = os.pipe()
        self._answers, from_browser = os.pipe()

        def pipes_as_3_and_4():
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)

        self._process = subprocess.Popen(
            [program, *FLAGS, f"--user-data-dir={self._profile}",
             f"--window-size={width},{height}", "--remote-debugging-pipe", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=pipes_as_3_and_4, pass_fds=(3, 4))
        os.close(to_browser)
        os.close(from_browser)
        self._buffer = b""
        self._next_id = 0
        self._session = None
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self._session = self.call("Target.attachToTarget", targetId=target,
                                  flatten=True)["sessionId"]
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=False)
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(domain + ".enable")

    def __enter__(self) -> "Browser":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def close(self) -> None:
        for fd in (self._commands, self._answers):
            try:
                os.close(fd)
            except OSError:
                pass
        self._process.terminate()
        try:
            self._process.wait(10)
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()
        shutil.rmtree(self._profile, ignore_errors=True)

    def _send(self, method: str, params: dict) -> int:
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params}
        if self._session is not None:
            message["sessionId"] = self._session
        os.write(self._commands, json.dumps(message).encode() + b"\0")
        return self._next_id

    def _receive(self, deadline: float) -> dict:
        while b"\0" not in self._buffer:
            if time.monotonic() > deadline:
                raise BrowserError("the browser did not answer in time")
            chunk = os.read(self._answers, 1 << 20)
            if not chunk:
                raise BrowserError("the browser closed its pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        message = json.loads(message)
        if "method" in message:
            self._note(message["method"], message.get("params", {}))
        return message

    def _note(self, event: str, params: dict) -> None:
        if event == "Runtime.consoleAPICalled" and params["type"] in ("error", "assert"):
            text = " ".join(str(a.get("value", a.get("description", ""))) for a in params["args"])
            self.problems.append(f"console error: {text}")
        elif event == "Runtime.exceptionThrown":
            details = params["exceptionDetails"]
            text = details.get("exception", {}).get("description", details.get("text", ""))
            self.problems.append(f"uncaught: {text}")
        elif event == "Log.entryAdded" and params["entry"]["level"] == "error":
            self.problems.append(f"browser error: {params['entry']['text']}")
        elif event == "Network.requestWillBeSent":
            url = params["request"]["url"]
            if not url.startswith(("file:", "data:", "blob:", "about:")):
                self.problems.append(f"request for {url}")
        elif event == "Page.loadEventFired":
            self._loaded = True

    def call(self, method: str, **params) -> dict:
        """The result of one DevTools command; events meanwhile are noted."""
        number = self._send(method, params)
        deadline = time.monotonic() + self.timeout
        while True:
            message = self._receive(deadline)
            if message.get("id") == number:
                if "error" in message:
                    raise BrowserError(f"{method}: {message['error'].get('message')}")
                return message.get("result", {})

    def open(self, path: str) -> float:
        """Open a file and wait for its load event and two frames after it;
        returns the milliseconds from navigation start until then."""
        self._loaded = False
        self.call("Page.navigate", url="file://" + os.path.abspath(path))
        deadline = time.monotonic() + self.timeout
        while not self._loaded:
            self._receive(deadline)
        return self.evaluate("new Promise(done => requestAnimationFrame(() => "
                             "requestAnimationFrame(() => done(performance.now()))))")

    def evaluate(self, expression: str):
        """The value of a JavaScript expression in the page (a promise is awaited)."""
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise BrowserError(f"{expression[:60]}: "
                               f"{details.get('exception', {}).get('description')}")
        return result["result"].get("value")

    def screenshot(self) -> bytes:
        """The tab as a PNG."""
        return base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"])
