#!/usr/bin/env python3
"""Checks the page, opened from disk in one browser engine, against the native program:
its module, what each setting plays, shows and saves, Play and Stop, and the console.
Usage: browser_test.py chromium|firefox|webkit PAGE STEPWAVE"""
import base64
import json
import os
import re
import signal
import socket
import statistics
import struct
import sys
import tempfile
import time
import urllib.request
from subprocess import DEVNULL, Popen, run

import websocket

engine, page, stepwave = sys.argv[1:4]
LOOP = 1 << 21  # the stream's period
SLOPES = "9 0 8 4 9 8 8 0 8 4 9 0 8 0 8 0".split()  # the sixteen slopes, in order
native = run(["sh", "-c", f'"$0" | head -c {3 * LOOP}', stepwave], capture_output=True).stdout
tmp = tempfile.TemporaryDirectory()
env = dict(os.environ, HOME=tmp.name)
url = "file://" + os.path.abspath(page)
started = []  # every process group started, ended at exit
# JavaScript that promises [the value of the code's last statement] as JSON.
AWAITED = "(async () => JSON.stringify([await eval({})]))()"


def serve(*command):
    """Starts command with a free port in place of {}; returns the port once it listens."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    started.append(Popen([w.format(port) for w in command], env=env, stdout=DEVNULL,
                         stderr=DEVNULL, start_new_session=True))
    while socket.socket().connect_ex(("127.0.0.1", port)) and started[-1].poll() is None:
        time.sleep(0.05)
    return port


def http(method, address, **body):
    request = urllib.request.Request(address, method=method, data=json.dumps(body).encode(),
                                     headers={"Content-Type": "application/json"})
    try:
        return json.load(urllib.request.urlopen(request, timeout=300))["value"]
    except urllib.error.HTTPError as error:
        raise RuntimeError(f"{method} {address}: {json.load(error)['value']}") from None


class Bidi:
    """WebDriver BiDi on a websocket: Firefox's own, or Chromium's through chromedriver."""

    def __init__(self, driver, new_session):
        # Firefox refuses a handshake that carries an Origin header.
        self.socket = websocket.create_connection(driver, suppress_origin=True, timeout=300)
        self.last, self.logged = 0, []
        if new_session:
            self.call("session.new", capabilities={})
        self.call("session.subscribe", events=["log.entryAdded"])
        self.context = self.call("browsingContext.getTree")["contexts"][0]["context"]
        self.call("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def call(self, method, **params):
        self.last += 1
        self.socket.send(json.dumps({"id": self.last, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("method") == "log.entryAdded" and message["params"]["level"] == "error":
                self.logged.append(message["params"]["text"])
            if message.get("id") == self.last:
                if message["type"] == "error":
                    raise RuntimeError(f"{method}: {message['message']}")
                return message["result"]

    def js(self, code):
        result = self.call("script.evaluate", expression=AWAITED.format(json.dumps(code)),
                           awaitPromise=True, target={"context": self.context})
        if result["type"] == "exception":
            raise RuntimeError(result["exceptionDetails"]["text"])
        return json.loads(result["result"]["value"])[0]

    def act(self, actions):
        self.call("input.performActions", context=self.context, actions=actions)


class Classic:
    """W3C WebDriver over HTTP, for WebKitWebDriver, which has no BiDi."""

    def __init__(self, driver):
        session = http("POST", driver + "/session", capabilities={})["sessionId"]
        self.url = f"{driver}/session/{session}"
        http("POST", f"{self.url}/timeouts", script=300000)
        http("POST", f"{self.url}/url", url=url)
        # It cannot report the console, so the page's own errors are gathered from now on.
        self.js("""window.errors = []; addEventListener("error", (e) => errors.push(e.message));
            addEventListener("unhandledrejection", (e) => errors.push(String(e.reason)))""")

    def js(self, code):
        value = http("POST", f"{self.url}/execute/async", args=[],
                     script=AWAITED.format(json.dumps(code)) +
                     ".then(arguments[0], e => arguments[0](String(e)))")
        if not value.startswith("["):
            raise RuntimeError(value)
        return json.loads(value)[0]

    def act(self, actions):
        http("POST", f"{self.url}/actions", actions=actions)


def chromium():
    port = serve("chromedriver", "--port={}")
    session = http("POST", f"http://127.0.0.1:{port}/session", capabilities={"alwaysMatch": {
        "webSocketUrl": True, "goog:chromeOptions": {"binary": "/usr/bin/chromium", "args": [
            "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"]}}})
    return Bidi(session["capabilities"]["webSocketUrl"], new_session=False)


def firefox():
    # Automation turns this off; a page opened from disk must work with it on.
    prefs = 'user_pref("security.fileuri.strict_origin_policy", true);'
    open(tmp.name + "/user.js", "w").write(prefs)
    port = serve("firefox-esr", "--headless", "--no-remote", "--profile", tmp.name,
                 "--remote-debugging-port={}", "about:blank")
    return Bidi(f"ws://127.0.0.1:{port}/session", new_session=True)


def page_bytes(count, f):  # the page's f(0) to f(count - 1), where f may come as a promise
    return base64.b64decode(js(f"""Promise.resolve({f}).then(f => {{ let s = "";
        for (let i = 0; i < {count}; i++) s += String.fromCharCode(f(i));
        return btoa(s); }})"""))


def compare(what, got, want):
    at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return [] if got == want else [f"{what}: {len(got)} bytes, want {len(want)}; first at {at}"]


def module():
    """the module agrees with the program over a whole loop and at the 2^31 wrap"""
    start = (1 << 31) - 4096  # byte n is written for counter n + 1, which wraps at 2^31
    wrap = bytes(native[(start + i) % LOOP] for i in range(8192))
    return compare("a whole loop", page_bytes(LOOP, "stepwave.byteAt"), native[:LOOP]) + compare(
        "the 2^31 wrap", page_bytes(8192, f"i => stepwave.byteAt({start} + i)"), wrap)


def settings():
    """each rate, start and volume, set as a user would, plays, draws, shows and saves the
    stream"""
    problems, drawn = [], []
    for rate, seconds, volume, count in ((8000, 0, 0.25, 50000), (11025, 190, 0.5, LOOP + 6000),
                                         (48000, 1.5, 0.9, 9000), (22050, 300, 1, 9000)):
        js(f"""HTMLAnchorElement.prototype.click = function () {{ window.saved = this.href; }};
            $("rate").value = {rate}; $("rate").dispatchEvent(new Event("change"));
            $("start").value = {seconds}; $("start").dispatchEvent(new Event("change"));
            $("volume").value = {volume}; $("volume").dispatchEvent(new Event("input"));
            $("seconds").value = 1; $("wav").click()""")
        start = round(seconds * rate) % LOOP
        want = native[start:start + max(count, rate)]
        found = compare("played", page_bytes(count, f"""stepwave.render({count}).then(d =>
            i => Math.round(d[i] / {volume} * 128 + 128))"""), want[:count])
        pad = rate % 2  # a RIFF chunk has even length
        wav = page_bytes(44 + rate + pad, "fetch(saved).then(r => r.arrayBuffer()).then(b => "
                         "new Uint8Array(b)).then(a => i => a[i])")
        found += compare("WAV", wav, struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + rate + pad,
                                                 b"WAVE", b"fmt ", 16, 1, 1, rate, rate, 1, 8,
                                                 b"data", rate) + want[:rate] + bytes(pad))
        found += command(js('$("command").textContent'), rate, want[:4096])
        slopes = js("""[...$("slopes").children].map(e =>
            e.textContent + (e.classList.contains("current") ? "*" : ""))""")
        marked = [f"{m}*" if k == ((start + 1) >> 12) & 15 else m for k, m in enumerate(SLOPES)]
        shown = js('[Number($("start").value), $("wrapped").textContent]')
        found += [f"slopes shown {slopes}, want {marked}"] if slopes != marked else []
        if round(shown[0] * rate) != start or bool(shown[1]) != (seconds * rate >= LOOP):
            found += [f"start box shows {shown}, which starts at {start}"]
        problems += [f"rate {rate}, start {seconds} s, volume {volume}: {f}" for f in found]
        # Where each sample's line is drawn: its centre, weighted by the pixels' alpha.
        drawn += zip(want[:256], js("""const c = $("wave"), w = c.width, h = c.height;
            const p = c.getContext("2d").getImageData(0, 0, w, h).data;
            Array.from({ length: 256 }, (_, i) => { let sum = 0, weight = 0;
              for (let y = 0, x = Math.floor(((i + 0.5) * w) / 256); y < h; y++) {
                sum += p[(y * w + x) * 4 + 3] * (y + 0.5); weight += p[(y * w + x) * 4 + 3]; }
              return sum / weight; })"""))
    return problems + wave(drawn, js('$("wave").height'))


def command(line, rate, want):
    """Runs the command line that the page shows, less its player."""
    stream, player = line.rsplit(" | ", 1)
    path = os.path.dirname(stepwave) + ":" + os.environ["PATH"]
    got = run(["sh", "-c", f"{stream} | head -c {len(want)}"], capture_output=True,
              env=dict(os.environ, PATH=path)).stdout
    return compare(f"command {stream}", got, want) + (
        [] if player == f"aplay -q -t raw -f U8 -r {rate} -c 1" else [f"played by {player}"])


def wave(drawn, height):
    """Each byte's line must lie on one line across the box, 0 and 255 inside it."""
    slope, bottom = statistics.linear_regression(*zip(*drawn))
    off = max(abs(bottom + slope * b - y) for b, y in drawn)
    top = bottom + slope * 255
    ok = top < bottom - height / 2 and off <= 0.5 and top >= 2 and bottom <= height - 2
    return [] if ok else [f"waveform: {off:.1f} px off a line from {bottom:.1f} for 0 to "
                          f"{top:.1f} for 255, in a box {height} high"]


def play():
    """Play starts the sound and one animation loop, space stops it"""
    x, y = js("""const request = requestAnimationFrame, cancel = cancelAnimationFrame, pending =
        new Set();
        requestAnimationFrame = (f) => { const id = request((t) => pending.delete(id) && f(t));
          pending.add(id); window.most = Math.max(most, pending.size); return id; };
        cancelAnimationFrame = (id) => pending.delete(id) && cancel(id); window.most = 0;
        $("start").value = 0; $("start").dispatchEvent(new Event("change"));
        $("play").scrollIntoView(); const r = $("play").getBoundingClientRect();
        [Math.round(r.x + r.width / 2), Math.round(r.y + r.height / 2)]""")
    browser.act([{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
                  "actions": [{"type": "pointerMove", "x": x, "y": y},
                              {"type": "pointerDown", "button": 0},
                              {"type": "pointerUp", "button": 0}]}])
    waits = (("stepwave.player.context?.state", '=== "running"'),
             ('$("position").textContent', '!== "0"'))  # for each value to pass its test
    state, at = (js(f"""new Promise(done => {{ const end = performance.now() + 1e4;
        (function poll() {{ const v = {value};
          v {test} || performance.now() > end ? done(v) : setTimeout(poll, 50); }})(); }})""")
                 for value, test in waits)
    most = js("""for (const rate of [8000, 16000]) { $("rate").value = rate;
        $("rate").dispatchEvent(new Event("change")); } most = 0; document.activeElement.blur();
        new Promise(done => setTimeout(() => done(most), 500))""")
    browser.act([{"type": "key", "id": "keys", "actions": [
        {"type": "keyDown", "value": " "}, {"type": "keyUp", "value": " "}]}])
    stopped = js("stepwave.player.context === null && $('play').textContent === 'Play'")
    return [why for bad, why in ((state != "running", f"after Play the AudioContext is {state}"),
                                 (at == "0", "the position stays 0 while playing"),
                                 (most != 1, f"{most} animation loops after two restarts"),
                                 (not stopped, "space did not stop it")) if bad]


def quiet():
    """no console error or message, no request, no constant in the page"""
    found = re.findall(r"8898a989|2291706249|(?:src|href)=\"(?!data:)|fetch\(", re.sub(
        r'<script id="module".*?</script>', "", open(page).read(), flags=re.S), re.I)
    status = js('$("status").hidden || $("status").textContent')
    errors = getattr(browser, "logged", []) + js("window.errors ?? []")  # the console's, or ours
    return [f"the page writes {f}" for f in found] + [str(e)[:300] for e in errors] + (
        [] if status is True else [f"the page says {status}"])


checks = [module, settings, play, quiet]
failures = len(checks)
try:
    env["PULSE_SERVER"] = "127.0.0.1:%d" % serve(  # a sound server, which Firefox needs to play
        "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--load=module-null-sink",
        "--load=module-native-protocol-tcp auth-anonymous=1 listen=127.0.0.1 port={}")
    browser = {"chromium": chromium, "firefox": firefox, "webkit": lambda: Classic(
        f"http://127.0.0.1:{serve('xvfb-run', '-a', 'WebKitWebDriver', '--port={}')}")}[engine]()
    js = browser.js
    js("stepwave.ready")
    for check in checks:
        try:
            problems = check()
        except Exception as error:  # a check that cannot run has failed
            problems = [f"{type(error).__name__}: {error}"]
        print(f"{'FAIL' if problems else 'ok':6}{engine}: {' '.join(check.__doc__.split())}",
              *(f"      {problem}" for problem in problems), sep="\n")
        failures -= not problems
finally:
    for process in reversed(started):  # each, and all it started, gone before HOME goes
        os.killpg(process.pid, signal.SIGTERM)
        while process.poll() is None or run(["pgrep", "-g", str(process.pid)],
                                            stdout=DEVNULL).returncode == 0:
            time.sleep(0.05)
print(f"{len(checks) - failures} passed, {failures} failed")
sys.exit(failures > 0)
