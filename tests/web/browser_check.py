"""Headless Chromium looks at lumetra-web's page for the end-to-end test, which runs under Wine and
cannot drive a Linux program itself: this script does, through the DevTools protocol on a pipe.

Usage: browser_check.py URL WORKDIR [cameras]
1. Loads URL, waits until the page shows a picture, marks the document (window.lumetraMark) and
   writes WORKDIR/first.png and WORKDIR/first.json.
2. Waits for WORKDIR/go (the test saves a new image, then writes it), waits until the page names
   another file, and writes WORKDIR/second.png and WORKDIR/second.json; "sameDocument" tells whether
   the mark survived, that is, whether the page changed without a reload.
Every JSON file holds "name" (the file name the page shows) and "x", "y", "width", "height" (where
the picture is, in screenshot pixels). WORKDIR/error.txt tells what went wrong, if anything.
With "cameras", the page of every camera: first.json once every tile shows its picture, then after
WORKDIR/go second.json once a tile says it waits for its camera; each holds "tiles", a list of
"name", "image" (the sequence of the picture shown), "note" and where the picture is.
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import time

STATE = """(() => {
  const p = document.getElementById("picture"), r = p.getBoundingClientRect();
  return {shown: !p.hidden && p.complete && p.naturalWidth > 0,
          name: document.getElementById("name").textContent,
          x: r.x, y: r.y, width: r.width, height: r.height,
          sameDocument: window.lumetraMark === "kept"};
})()"""

TILES = """[...document.querySelectorAll("figure.camera")].map(tile => {
  const p = tile.querySelector(".picture"), r = p.getBoundingClientRect(), note = tile.querySelector(".note");
  return {name: tile.dataset.name, image: Number(tile.dataset.image), note: note.hidden ? "" : note.textContent,
          shown: !p.hidden && p.complete && p.naturalWidth > 0, x: r.x, y: r.y, width: r.width, height: r.height};
})"""


class Browser:
    def __init__(self, work):
        commands_read, self.commands = os.pipe()
        self.replies, replies_write = os.pipe()

        def pipes_as_3_and_4():
            os.dup2(commands_read, 3)
            os.dup2(replies_write, 4)

        self.process = subprocess.Popen(
            ["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
             "--remote-debugging-pipe", "--window-size=1000,760", "--user-data-dir=" + work + "/profile",
             "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(work + "/chromium.log", "wb"),
            preexec_fn=pipes_as_3_and_4, close_fds=False)
        os.close(commands_read)
        os.close(replies_write)
        self.pending = b""
        self.next_id = 0
        self.session = None

    def call(self, method, params=None, timeout=30):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            while b"\0" not in self.pending:
                chunk = os.read(self.replies, 65536)
                if not chunk:
                    raise RuntimeError("chromium closed its pipe")
                self.pending += chunk
            raw, self.pending = self.pending.split(b"\0", 1)
            reply = json.loads(raw)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                return reply["result"]
        raise RuntimeError(method + " got no answer")

    def open(self, url):
        target = self.call("Target.createTarget", {"url": url})["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True})["result"].get("value")

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))

    def close(self):
        try:
            self.session = None
            self.call("Browser.close", timeout=5)
        except Exception:
            pass
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()


def wait_for(browser, done, seconds, expression=STATE):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        state = browser.evaluate(expression)
        if state and done(state):
            return state
        time.sleep(0.1)
    raise RuntimeError("the page did not get there: " + json.dumps(state))


def wait_for_go(work):
    deadline = time.monotonic() + 60
    while not os.path.exists(os.path.join(work, "go")) and time.monotonic() < deadline:
        time.sleep(0.1)


def report(work, name, state):
    with open(os.path.join(work, name + ".json.part"), "w") as out:
        json.dump(state, out)
    os.replace(os.path.join(work, name + ".json.part"), os.path.join(work, name + ".json"))


def main():
    url, work = sys.argv[1:3]
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):  # the test's pipes must not be held open by this process
        os.dup2(null, fd)
    browser = Browser(work)
    try:
        browser.open(url)
        if sys.argv[3:4] == ["cameras"]:
            first = wait_for(browser, lambda tiles: tiles and all(t["shown"] for t in tiles), 30, TILES)
            browser.screenshot(os.path.join(work, "first.png"))
            report(work, "first", {"tiles": first})
            wait_for_go(work)
            waiting = wait_for(browser, lambda tiles: any("Waiting for the camera" in t["note"] for t in tiles), 20, TILES)
            report(work, "second", {"tiles": waiting})
            return
        first = wait_for(browser, lambda s: s["shown"] and s["name"], 30)
        browser.evaluate('window.lumetraMark = "kept"')
        browser.screenshot(os.path.join(work, "first.png"))
        report(work, "first", first)
        wait_for_go(work)
        second = wait_for(browser, lambda s: s["shown"] and s["name"] != first["name"], 20)
        time.sleep(0.3)  # let the new picture be painted
        browser.screenshot(os.path.join(work, "second.png"))
        report(work, "second", second)
    except Exception as error:
        with open(os.path.join(work, "error.txt"), "w") as out:
            out.write(str(error))
    finally:
        browser.close()
        shutil.rmtree(os.path.join(work, "profile"), ignore_errors=True)


if __name__ == "__main__":
    main()
