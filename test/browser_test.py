#!/usr/bin/env python3
"""Checks the web page in headless Chromium against the native program: its module,
the samples it plays, the WAV it saves, Play, and a screenshot of what it draws.
Usage: browser_test.py SITE_DIR STEPWAVE CHROMIUM"""
import base64
import functools
import http.server
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import threading

site, stepwave, chromium = sys.argv[1:4]
if not os.access(chromium, os.X_OK):
    sys.exit(f"no Chromium at {chromium}: install chromium (Debian's package)")
LOOP = 1 << 21  # the stream's period
with subprocess.Popen([stepwave], stdout=subprocess.PIPE) as program:
    native = program.stdout.read(3 * LOOP)
    program.kill()
tmp = tempfile.TemporaryDirectory()
fetched = []  # every request the server answered, and its status


class Server(http.server.SimpleHTTPRequestHandler):
    def log_request(self, code="-", size="-"):
        fetched.append((self.path, int(code)))


server = http.server.ThreadingHTTPServer(
    ("127.0.0.1", 0), functools.partial(Server, directory=site))
threading.Thread(target=server.serve_forever, daemon=True).start()
origin = f"http://127.0.0.1:{server.server_port}"


class Browser:
    """Chromium driven through its DevTools protocol on a pair of pipes."""

    def __init__(self):
        commands, self.commands = os.pipe()
        self.replies, replies = os.pipe()
        args = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--mute-audio",
                "--remote-debugging-pipe", "--no-first-run", "--disable-sync",
                "--disable-background-networking", "--disable-component-update",
                "--disable-quic", "--disable-dev-shm-usage", "--window-size=1000,1800",
                f"--user-data-dir={tmp.name}/profile"]
        self.process = subprocess.Popen(
            ["sh", "-c", f'exec "$@" 3<&{commands} 4>&{replies}', "sh", *args],
            pass_fds=(commands, replies), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(commands)
        os.close(replies)
        self.last_id, self.answers, self.events = 0, {}, []
        self.changed = threading.Condition()
        threading.Thread(target=self.listen, daemon=True).start()

    def listen(self):
        pending = b""
        while chunk := os.read(self.replies, 1 << 20):
            *messages, pending = (pending + chunk).split(b"\0")
            with self.changed:
                for message in map(json.loads, messages):
                    if "id" in message:
                        self.answers[message["id"]] = message
                    else:
                        self.events.append(message)
                self.changed.notify_all()

    def call(self, method, session=None, **params):
        self.last_id += 1
        key = self.last_id
        message = {"id": key, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        with self.changed:
            if not self.changed.wait_for(lambda: key in self.answers, 120):
                raise TimeoutError(method)
            answer = self.answers.pop(key)
        if "error" in answer:
            raise RuntimeError(f"{method}: {answer['error']}")
        return answer["result"]

    def wait_for(self, method, test=lambda params: True, timeout=60):
        def seen():
            return next((e["params"] for e in self.events
                         if e["method"] == method and test(e["params"])), None)
        with self.changed:
            if not self.changed.wait_for(seen, timeout):
                raise TimeoutError(method)
            return seen()


browser = Browser()
tab = browser.call("Target.attachToTarget", flatten=True, targetId=browser.call(
    "Target.createTarget", url="about:blank")["targetId"])["sessionId"]
for domain in ("Page", "Runtime", "Log", "Network"):
    browser.call(f"{domain}.enable", tab)
browser.call("Browser.setDownloadBehavior", behavior="allow",
             downloadPath=f"{tmp.name}/downloads", eventsEnabled=True)
browser.call("Page.navigate", tab, url=f"{origin}/")
browser.wait_for("Page.loadEventFired")


def js(expression):
    result = browser.call("Runtime.evaluate", tab, expression=expression,
                          awaitPromise=True, returnByValue=True)
    if "exceptionDetails" in result:
        raise RuntimeError(result["exceptionDetails"].get("exception", {}).get(
            "description", result["exceptionDetails"]["text"]))
    return result["result"].get("value")


js("stepwave.ready")
# Bytes from the page as base64: each of count values of f(i) for i from 0.
js("""window.bytes = (count, f) => {
  let s = "";
  for (let i = 0; i < count; i++) s += String.fromCharCode(f(i));
  return btoa(s);
}""")


def page_bytes(count, f):
    return base64.b64decode(js(f"bytes({count}, {f})"))


def compare(what, got, want):
    if got == want:
        return []
    at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return [f"{what}: {len(got)} bytes, want {len(want)}; first difference at {at}"]


def click(selector):
    box = js(f"""(() => {{ const e = document.querySelector("{selector}");
        e.scrollIntoView(); const r = e.getBoundingClientRect();
        return [r.x + r.width / 2, r.y + r.height / 2]; }})()""")
    for kind in ("mousePressed", "mouseReleased"):
        browser.call("Input.dispatchMouseEvent", tab, type=kind, x=box[0], y=box[1],
                     button="left", clickCount=1)


def module():
    problems = []
    shape = js("""fetch("stepwave.wasm").then(r => r.arrayBuffer()).then(WebAssembly.compile)
        .then(m => [WebAssembly.Module.imports(m).length,
        WebAssembly.Module.exports(m).map(e => e.name)])""")
    if shape[0] != 0 or "sample_at" not in shape[1]:
        problems.append(f"imports {shape[0]}, exports {shape[1]}")
    problems += compare("a whole period", page_bytes(LOOP, "stepwave.byteAt"), native[:LOOP])
    start = (1 << 31) - 4096  # byte n is written for counter n + 1, which wraps at 2^31
    wrap = bytes(native[(start + i) % LOOP] for i in range(8192))
    got = page_bytes(8192, f"i => stepwave.byteAt({start} + i)")
    return problems + compare("the 2^31 wrap", got, wrap)


def played():
    problems = []
    for rate, start, count in ((8000, 0, 50000), (11025, LOOP - 3000, LOOP + 6000)):
        got = base64.b64decode(js(f"""stepwave.render({count}, {{rate: {rate}, from: {start},
            volume: 0.25}}).then(data => bytes({count},
            i => Math.round(data[i] / 0.25 * 128 + 128)))"""))
        problems += compare(f"{count} samples from {start} at {rate}", got,
                            native[start:start + count])
    return problems


def play():
    click("#play")
    state = js("""new Promise(done => { const t0 = performance.now(); (function poll() {
        const s = stepwave.player.context?.state;
        s === "running" || performance.now() - t0 > 10000 ? done(s) : setTimeout(poll, 50);
        })(); })""")
    js("document.activeElement.blur()")
    for kind in ("keyDown", "keyUp"):
        browser.call("Input.dispatchKeyEvent", tab, type=kind, key=" ", code="Space",
                     windowsVirtualKeyCode=32, text=" " if kind == "keyDown" else "")
    stopped = js("stepwave.player.context === null && $('play').textContent === 'Play'")
    return ([] if state == "running" else [f"after Play the AudioContext is {state}"]) + (
        [] if stopped else ["space did not stop it"])


def saved():
    problems, done = [], set()
    for start, seconds, rate in ((0, 2, 11025), (262, 1, 8000)):
        js(f"""$("start").value = {start}; $("seconds").value = {seconds}; $("rate").value = {rate};
            $("rate").dispatchEvent(new Event("change"))""")
        click("#wav")
        download = browser.wait_for("Browser.downloadProgress",
                                    lambda p: p["state"] == "completed" and p["guid"] not in done)
        done.add(download["guid"])
        with open(download["filePath"], "rb") as file:
            data = file.read()
        problems += check_wav(data, start * rate % LOOP, seconds * rate, rate)
    return problems


def check_wav(data, start, count, rate):
    riff, size, wave = struct.unpack_from("<4sI4s", data)
    if (riff, wave, size) != (b"RIFF", b"WAVE", len(data) - 8):
        return [f"not a RIFF WAVE file of its length: {data[:12]!r}"]
    chunks, at = {}, 12
    while at + 8 <= len(data):
        kind, length = struct.unpack_from("<4sI", data, at)
        chunks[kind] = data[at + 8:at + 8 + length]
        at += 8 + length + length % 2
    form = struct.unpack_from("<HHIIHH", chunks.get(b"fmt ", bytes(16)))
    if form != (1, 1, rate, rate, 1, 8):
        return [f"format {form}, want 8-bit mono PCM at {rate}"]
    return compare(f"WAV of {count} samples from {start}", chunks.get(b"data", b""),
                   native[start:start + count])


def constant():
    found = [name for name in os.listdir(site) if not name.endswith(".wasm") and re.search(
        r"8898a989|2291706249", open(os.path.join(site, name)).read(), re.I)]
    return [f"{name} writes the constant" for name in found]


def screenshot():
    js("""stepwave.player.stop(); $("start").value = 0;
        $("start").dispatchEvent(new Event("change")); scrollTo(0, 0)""")
    shot = browser.call("Page.captureScreenshot", tab, format="png")["data"]
    with open(os.path.join(os.path.dirname(site), "browser_test.png"), "wb") as file:
        file.write(base64.b64decode(shot))
    # The share of the waveform's pixels, as the screenshot shows them, that are lit.
    lit = js(f"""(async () => {{
        const png = await fetch("data:image/png;base64,{shot}");
        const image = await createImageBitmap(await png.blob());
        const canvas = new OffscreenCanvas(image.width, image.height);
        const g = canvas.getContext("2d");
        g.drawImage(image, 0, 0);
        const r = $("wave").getBoundingClientRect(), k = devicePixelRatio;
        const p = g.getImageData(r.x * k + 2, r.y * k + 2, r.width * k - 4, r.height * k - 4).data;
        let n = 0;
        for (let i = 0; i < p.length; i += 4) n += p[i + 2] > 150 && p[i] < 200;
        return n / (p.length / 4);
    }})()""")
    return [] if lit > 0.005 else [f"{lit:.4f} of the waveform is drawn"]


def console():
    errors = [e["params"] for e in browser.events if e["method"] == "Runtime.exceptionThrown"
              or (e["method"] == "Runtime.consoleAPICalled" and e["params"]["type"] == "error")
              or (e["method"] == "Log.entryAdded" and e["params"]["entry"]["level"] == "error")]
    foreign = [e["params"]["request"]["url"] for e in browser.events
               if e["method"] == "Network.requestWillBeSent"
               and not e["params"]["request"]["url"].startswith((origin, "data:", "blob:"))]
    failed = [f"{path}: {code}" for path, code in fetched if code >= 400]
    return [json.dumps(e)[:300] for e in errors] + [f"fetched {u}" for u in foreign] + failed


checks = [
    ("the module imports nothing, exports sample_at, and agrees with the program "
     "over a whole period and at the 2^31 wrap", module),
    ("the samples it plays are the stream, from 0 and across the loop's end", played),
    ("Play starts a running AudioContext, and space stops it", play),
    ("Save WAV saves the stream from the start position", saved),
    ("no web file writes the formula's constant", constant),
    ("the screenshot shows the waveform drawn", screenshot),
    ("it loads and runs with no console error, fetching only its own files", console),
]
failures = 0
for name, check in checks:
    try:
        problems = check()
    except Exception as error:  # a check that cannot run has failed
        problems = [f"{type(error).__name__}: {error}"]
    print(("ok    " if not problems else "FAIL  ") + name)
    for problem in problems:
        print("      " + problem)
    failures += bool(problems)
browser.process.kill()
print(f"{len(checks) - failures} passed, {failures} failed")
sys.exit(failures > 0)
