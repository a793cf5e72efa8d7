#!/usr/bin/env python3
"""Uses the page, opened from disk in one browser engine, as a person does: by pointer and
keys, typing and choosing, listening to what plays, looking at what it draws and opening the
files it saves; checks all against the native program, in the light scheme and in the dark
with reduced motion, each group of checks on a fresh page.
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

LOOP = 1 << 21  # the stream's period
CONTROLS = "play rate volume start copy-command copy-link map seconds wav".split()  # Tab order
KEYS = {"Tab": "\ue004", "Enter": "\ue007", "Back": "\ue003", "Home": "\ue011", "End": "\ue010",
        "Left": "\ue012", "Up": "\ue013", "Right": "\ue014", "Down": "\ue015",
        "PageUp": "\ue00e", "PageDown": "\ue00f"}
MOVES = {"Right": 4096, "Up": 4096, "Left": -4096, "Down": -4096, "PageUp": 65536,
         "PageDown": -65536, "End": LOOP, "Home": -LOOP}  # how far each key moves on the picture
AWAITED = "(async () => JSON.stringify([await eval({})]))()"  # [the code's value] as JSON


def http(method, address, **body):
    request = urllib.request.Request(address, method=method, data=json.dumps(body).encode(),
                                     headers={"Content-Type": "application/json"})
    try:
        return json.load(urllib.request.urlopen(request, timeout=300))["value"]
    except urllib.error.HTTPError as error:
        raise RuntimeError(f"{method} {address}: {json.load(error)['value']}") from None


class Bidi:
    """WebDriver BiDi on a websocket: Firefox's own, or Chromium's through chromedriver."""

    def __init__(self, driver, new_session, downloads):
        # Firefox refuses a handshake that carries an Origin header.
        self.socket = websocket.create_connection(driver, suppress_origin=True, timeout=300)
        self.last, self.logged = 0, []
        if new_session:
            self.call("session.new", capabilities={})
        self.call("session.subscribe", events=["log.entryAdded"])
        self.call("browser.setDownloadBehavior", downloadBehavior={
            "type": "allowed", "destinationFolder": downloads})
        # A window of its own, which has the focus, as the first one may not; the first goes,
        # lest a download give it the focus back.
        first = self.call("browsingContext.getTree")["contexts"][0]["context"]
        self.context = self.call("browsingContext.create", type="window")["context"]
        self.call("browsingContext.close", context=first)

    def call(self, method, **params):
        self.last += 1
        self.socket.send(json.dumps({"id": self.last, "method": method, "params": params}))
        while (message := json.loads(self.socket.recv())).get("id") != self.last:
            if message.get("method") == "log.entryAdded" and message["params"]["level"] == "error":
                self.logged.append(message["params"]["text"])
        if message["type"] == "error":
            raise RuntimeError(f"{method}: {message['message']}")
        return message["result"]

    def navigate(self, url):
        self.call("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def js(self, code):
        result = self.call("script.evaluate", expression=AWAITED.format(json.dumps(code)),
                           awaitPromise=True, target={"context": self.context})
        if result["type"] == "exception":
            raise RuntimeError(result["exceptionDetails"]["text"])
        return json.loads(result["result"]["value"])[0]

    def act(self, actions):
        self.call("input.performActions", context=self.context, actions=actions)

    def size(self, width, ratio=1):
        self.call("browsingContext.setViewport", context=self.context, devicePixelRatio=ratio,
                  viewport={"width": width, "height": 800})
        return True


class Classic:
    """W3C WebDriver over HTTP, for WebKitWebDriver, which has no BiDi."""

    def __init__(self, driver):
        session = http("POST", driver + "/session", capabilities={})["sessionId"]
        self.url = f"{driver}/session/{session}"
        http("POST", f"{self.url}/timeouts", script=300000)

    def navigate(self, url):
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

    def size(self, width, ratio=1):  # the window, less what its frame takes from the page
        for _ in range(2):
            http("POST", f"{self.url}/window/rect", height=800,
                 width=width + self.js("outerWidth - innerWidth"))
        return ratio == 1  # it cannot set the pixel ratio


# Helpers the checks run in the page: a tap on the sound's last node, which gives the rate
# and the last 2048 samples played after `ms` more of playing; contrast ratios; where every
# element is, and how many layout shifts the browser saw; Play's labels, with how far the
# audio clock had passed the sound's first sample at each.
HELPERS = """window.$ = (id) => document.getElementById(id); window.t = {
  async tap(ms) {
    for (const p = stepwave.player, until = performance.now() + 5000; ;) {  // again if the
      // page opens another context meanwhile; at most 5 s, if the sound does not run
      const c = p.context, end = c.currentTime + ms / 1000, data = new Float32Array(2048);
      if (p.tapped !== c) {
        [p.tapped, p.tap] = [c, new AnalyserNode(c, { fftSize: 2048 })];
        p.gain.connect(p.tap).connect(new GainNode(c, { gain: 0 })).connect(c.destination);
      }
      while (c.currentTime < end && c === p.context && performance.now() < until) {
        await new Promise((go) => setTimeout(go, 20));
      }
      p.tap.getFloatTimeDomainData(data);
      if (c === p.context || performance.now() > until) return [c.sampleRate, Array.from(data)];
    }
  },
  contrast(a, b = getComputedStyle(document.body).backgroundColor) {  // against the page
    const l = (c) => c.match(/[\\d.]+/g).slice(0, 3).map((v) => v / 255).map((v) =>
      v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4).reduce((s, v, i) =>
      s + v * [0.2126, 0.7152, 0.0722][i], 0.05);
    return Math.max(l(a), l(b)) / Math.min(l(a), l(b));
  },
  rgb(name) {  // a colour of the page's scheme
    const e = document.body.appendChild(document.createElement("i"));
    e.style.color = `var(${name})`;
    const v = getComputedStyle(e).color.match(/\\d+/g).map(Number);
    return e.remove() ?? v;
  },
  ink(id, n, name = "--ink") {  // for each of n columns of a canvas, its rows in the colour
    const c = $(id), w = c.width, h = c.height, s = w / c.clientWidth, want = t.rgb(name),  // at
      p = c.getContext("2d").getImageData(0, 0, w, h).data, at = (x, y) => (y * w + x) * 4;
    return Array.from({ length: n }, (_, i) => Math.floor(((i + 0.5) * w) / n)).map((x) => {
      const a = Array.from({ length: h }, (_, y) =>  // half its column's most: the first, the
        want.every((v, k) => Math.abs(p[at(x, y) + k] - v) < 40) ? p[at(x, y) + 3] : 0);  // last
      const rows = a.map((v, y) => [v, y]).filter(([v]) => v && v >= Math.max(...a) / 2);
      const sum = rows.reduce((m, [v]) => m + v, 0);  // and their centre, in CSS pixels
      return [rows[0]?.[1] / s, rows.at(-1)?.[1] / s,
        rows.reduce((m, [v, y]) => m + v * (y + 0.5), 0) / sum / s];
    });
  },
  places: () => [...document.body.querySelectorAll("*")].map((e) => [e, e.getBoundingClientRect()])
    .filter(([e, r]) => r.width && !e.closest("code span, #playhead, #pointer, .note"))
    .map(([e, r]) => `${e.id || e.tagName} at ${r.left | 0},${(r.top + scrollY) | 0}`),
  shifts: 0, labels: [],
};
if (PerformanceObserver.supportedEntryTypes.includes("layout-shift"))
  new PerformanceObserver((list) => (t.shifts += list.getEntries().length))
    .observe({ type: "layout-shift" });
new MutationObserver(() => { const p = window.stepwave?.player;
  t.labels.push([$("play").textContent, p?.context?.currentTime - p?.began]); })
  .observe($("play"), { childList: true, characterData: true, subtree: true }); true"""


class Browser:
    """One engine, headless, with its downloads in home/Downloads; dark also asks for the dark
    scheme and reduced motion. A pulseaudio server, at self.pulse, plays into sink."""

    def __init__(self, engine, home, dark=False, sink="module-null-sink"):
        self.started, self.home = [], home  # every process group started, which close() ends
        env = dict(os.environ, HOME=home)
        for folder in ("/Downloads", "/.config/gtk-3.0"):
            os.makedirs(home + folder, exist_ok=True)
        self.pulse = env["PULSE_SERVER"] = "127.0.0.1:%d" % self.serve(
            env, "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", f"--load={sink}",
            "--load=module-native-protocol-tcp auth-anonymous=1 listen=127.0.0.1 port={}")
        if engine == "chromium":
            args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"] + (
                ["--force-dark-mode", "--force-prefers-reduced-motion"] if dark else [])
            driver = f"http://127.0.0.1:{self.serve(env, 'chromedriver', '--port={}')}"
            self.driver = self.started[-1].pid  # which starts the browser
            session = http("POST", driver + "/session", capabilities={"alwaysMatch": {
                "webSocketUrl": True,
                "goog:chromeOptions": {"binary": "/usr/bin/chromium", "args": args}}})
            self.wire = Bidi(session["capabilities"]["webSocketUrl"], False, home + "/Downloads")
        elif engine == "firefox":
            # Automation turns off the first; a page opened from disk must work with it on.
            prefs = {"security.fileuri.strict_origin_policy": True,
                     "ui.systemUsesDarkTheme": int(dark), "ui.prefersReducedMotion": int(dark)}
            with open(home + "/user.js", "w") as file:
                file.writelines(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n"
                                for k, v in prefs.items())
            port = self.serve(env, "firefox-esr", "--headless", "--no-remote", "--profile", home,
                              "--remote-debugging-port={}", "about:blank")
            self.wire = Bidi(f"ws://127.0.0.1:{port}/session", True, home + "/Downloads")
        else:  # WebKitGTK takes its settings from GTK and its download folder from GLib.
            with open(home + "/.config/user-dirs.dirs", "w") as file:
                file.write('XDG_DOWNLOAD_DIR="$HOME/Downloads"\n')
            with open(home + "/.config/gtk-3.0/settings.ini", "w") as file:
                file.write(f"[Settings]\ngtk-enable-animations={int(not dark)}\n")
            env["GTK_THEME"] = "Adwaita:dark" if dark else "Adwaita"
            port = self.serve(env, "xvfb-run", "-a", "WebKitWebDriver", "--port={}")
            self.wire = Classic(f"http://127.0.0.1:{port}")
        self.js, self.act, self.size = self.wire.js, self.wire.act, self.wire.size

    def serve(self, env, *command):
        """Starts command with a free port in place of {}; returns the port once it listens."""
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        self.started.append(Popen([w.format(port) for w in command], env=env, stdout=DEVNULL,
                                  stderr=DEVNULL, start_new_session=True))
        while socket.socket().connect_ex(("127.0.0.1", port)) and self.started[-1].poll() is None:
            time.sleep(0.05)
        return port

    def close(self):
        for process in reversed(self.started):  # each, and all it started, gone before HOME
            os.killpg(process.pid, signal.SIGTERM)
            while process.poll() is None or run(["pgrep", "-g", str(process.pid)],
                                                stdout=DEVNULL).returncode == 0:
                time.sleep(0.05)

    def open(self, url):
        """A fresh page at url, once it is ready, with the helpers in it."""
        self.wire.navigate(url)
        self.js("window.stepwave?.ready")
        self.js(HELPERS)

    def press(self, *keys):
        """Presses and releases each key in turn: a character, a name in KEYS, or Ctrl+x."""
        steps = [[("\ue009", "keyDown"), (k[-1], "keyDown"), (k[-1], "keyUp"),
                  ("\ue009", "keyUp")] if k.startswith("Ctrl+") else
                 [(k, "keyDown"), (k, "keyUp")] for k in keys]
        self.act([{"type": "key", "id": "keys", "actions": [
            {"type": t, "value": KEYS.get(k, k)} for step in steps for k, t in step]}])

    def click(self, selector, *fractions, press=True):
        """A mouse press at the middle of the element, or a drag across it from and to these
        fractions of its width; returns the element's left edge, its width and the last x."""
        # Scrolled to until it stays in view: Firefox may scroll the box that has the focus
        # back into view a frame later.
        left, top, width, height = self.js(f"""const e = document.querySelector({json.dumps(
            selector)}); new Promise((done) => (function look(tries) {{
              e.scrollIntoView({{ block: "center" }});
              requestAnimationFrame(() => requestAnimationFrame(() => {{
                const r = e.getBoundingClientRect();
                r.top >= 0 && r.bottom <= innerHeight || !tries ?
                  done([r.left, r.top, r.width, r.height]) : look(tries - 1); }}));
            }})(5))""")
        move = [{"type": "pointerMove", "x": round(left + width * f), "y": round(top + height / 2)}
                for f in fractions or (0.5,)]
        buttons = [{"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]
        self.act([{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
                   "actions": move[:1] + buttons[:press] + move[1:] + buttons[1:press + 1]}])
        return left, width, move[-1]["x"]

    def fill(self, box, text, then="Enter"):
        """Types text into the box, in place of what it held, and presses Enter, once the
        click has put the caret there: Firefox may still send keys to what had the focus."""
        self.click(f"#{box}")
        self.until(f"document.activeElement.id === '{box}'", 2)
        self.press("Ctrl+a", "Back", *text, then)

    def tab(self, control, *keys):
        """Goes to the control with Tab from the top, then presses keys."""
        self.click("h1")
        self.press(*["Tab"] * (CONTROLS.index(control) + 1), *keys)

    def choose(self, rate):
        """Chooses the rate from the closed menu with arrow keys, as every engine takes them."""
        rates, now = self.js('[[...$("rate").options].map((o) => +o.value), +$("rate").value]')
        moves = rates.index(rate) - rates.index(now)
        self.tab("rate", *["Down" if moves > 0 else "Up"] * abs(moves))

    def level(self, volume):  # the slider, moved by its arrow keys from the bottom
        self.tab("volume", "Home", *["Right"] * round(volume / 0.05))

    def play(self, want="Stop"):
        """Clicks Play, or Stop, and waits for the label to say want, as a person waits."""
        self.click("#play")
        return [] if self.until(f"$('play').textContent === '{want}'") else [
            f"Play never shows {want}"]

    def until(self, condition, seconds=5):
        """The condition's value once it holds, or after so many seconds."""
        return self.js(f"""new Promise(done => {{ const end = performance.now() + {seconds * 1000};
            (function poll() {{ const v = {condition};
              v || performance.now() > end ? done(v) : setTimeout(poll, 50); }})(); }})""")


class Checks:
    """The checks of the page, each on a fresh page; each returns the problems it found."""

    def __init__(self, browser, page, native, stepwave, still):
        self.b, self.page, self.native, self.stepwave, self.still = (
            browser, page, native, stepwave, still)

    def fresh(self, fragment=""):
        self.b.wire.navigate("about:blank")  # else a new fragment only scrolls the page
        self.b.open("file://" + os.path.abspath(self.page) + fragment)
        return self.b

    def box(self, rate):  # the sample that the position box names
        return int(float(self.b.js('$("start").value')) * rate + 0.5)

    def heard(self, volume, first, rate, since):
        """What plays now must be the stream's bytes times volume, at rate, from sample first
        on, no further than the fastest rate goes since the time since; or silence, where
        volume is 0. Returns the problems, where the bytes heard end and when."""
        got, samples = self.b.js(f"t.tap({600 if volume == 0 else 400})")
        if volume == 0:
            return [f"at {rate} Hz: sound after Stop"] * any(samples), first, time.time()
        window = bytes(max(0, min(255, round(v / volume * 128 + 128))) for v in samples)
        off = max(abs(v - (b - 128) / 128 * volume) for v, b in zip(samples, window))
        end = self.native.find(window, first,
                               first + 2048 + round((time.time() - since + 0.5) * 48000))
        return [f"at {rate} Hz from sample {first}: " + why for bad, why in (
            (got != rate, f"plays at {got} Hz"), (off > 1e-6, f"a sample is {off} off the volume"),
            (end < 0, "plays bytes that are not the stream's from there")) if bad], \
            end + 2048, time.time()

    def saved(self, name, want):
        """The file of that name in the download folder, once it has its length."""
        path, end = f"{self.b.home}/Downloads/{name}", time.time() + 20
        while (not os.path.exists(path) or os.path.getsize(path) < len(want)) and time.time() < end:
            time.sleep(0.1)
        return compare(f"saved {name}", open(path, "rb").read() if os.path.exists(path) else b"",
                       want)

    def command(self, line, rate, want):
        """Runs the command line that the page shows, less its player."""
        stream, player = line.rsplit(" | ", 1)
        got = run(["sh", "-c", f"{stream} | head -c {len(want)}"], capture_output=True, env=dict(
            os.environ, PATH=os.path.dirname(self.stepwave) + ":" + os.environ["PATH"])).stdout
        return compare(f"command {stream}", got, want) + (
            [] if player == f"aplay -q -t raw -f U8 -r {rate} -c 1" else [f"played by {player}"])

    def module(self):
        """the module agrees with the program over a whole loop and at the 2^31 wrap; a damaged
        module, a browser without WebAssembly and one without Web Audio are said on the page,
        with what still works"""
        js, native = self.fresh().js, self.native
        start = (1 << 31) - 4096  # byte n is written for counter n + 1, which wraps at 2^31
        got = [base64.b64decode(js(f"""const a = stepwave.bytes({first}, {count}); let s = "";
            for (let i = 0; i < a.length; i += 8192)
              s += String.fromCharCode(...a.subarray(i, i + 8192));
            btoa(s)""")) for first, count in ((1, LOOP), (start + 1, 8192))]
        problems = compare("a whole loop", got[0], native[:LOOP]) + compare(
            "the 2^31 wrap", got[1], bytes(native[(start + i) % LOOP] for i in range(8192)))
        html = open(self.page).read()
        for name, said, enabled, changed in (
                ("damaged", "could not start", [], html.replace(">0061736d", ">0061736e", 1)),
                ("no WebAssembly", "cannot run WebAssembly", [], html.replace(
                    "<head>", "<head><script>delete window.WebAssembly</script>", 1)),
                ("no Web Audio", "no Web Audio", ["copy-command", "copy-link", "wav"],
                 html.replace("<head>", "<head><script>delete window.AudioContext</script>", 1))):
            path = f"{self.b.home}/{name.replace(' ', '-')}.html"
            open(path, "w").write(changed)
            self.b.open("file://" + path)
            text, on = js("""[$("status").hidden ? "" : $("status").textContent, [...document
                .querySelectorAll("button")].filter((e) => !e.disabled).map((e) => e.id)]""")
            if said not in text or on != enabled:
                problems.append(f"{name}: the page says {text!r} and offers {on}")
        return problems

    def keyboard(self):
        """Tab reaches every control in order, each with a focus ring of 3:1 against the page;
        Enter on Play and space elsewhere start and stop the sound"""
        b, problems = self.fresh(), []
        b.click("h1")
        for want in CONTROLS:
            b.press("Tab")
            got, seen, style, width, ratio = b.js("""const e = document.activeElement, s =
                getComputedStyle(e); [e.id, e.matches(":focus-visible"), s.outlineStyle,
                parseFloat(s.outlineWidth), t.contrast(s.outlineColor)]""")
            if got != want or not seen or style == "none" or width < 2 or ratio < 3:
                problems.append(f"Tab reached {got or 'nothing'}, want {want}: visible {seen}, "
                                f"{style} {width}px ring of {ratio:.2f}:1")
        for focus, keys, want in (("h1", ["Tab", "Enter"], "Stop"), (None, [" "], "Play"),
                                  ("h1", [" "], "Stop"), (None, [" "], "Play")):
            b.click(focus) if focus else None  # a space with no control focused is the page's
            b.press(*keys)
            if not b.until(f"$('play').textContent === '{want}'"):
                problems.append(f"{' '.join(keys)!r} left Play at {b.js('$(`play`).textContent')}")
        return problems

    def failures(self):
        """each bad input, a bad link and each way the sound fails say why next to their
        field, with nothing moving, show the value in use and leave every control usable"""
        b, problems = self.fresh("#t=abc&rate=5"), []
        said = b.js('[$("link-note").textContent, $("rate").value, $("start").value]')
        if "t=abc" not in said[0] or "rate=5" not in said[0] or said[1:] != ["8000", "0"]:
            problems.append(f"the link #t=abc&rate=5 gives {said}")
        self.fresh()
        for field, text, shown, why in (
                ("start", "1e305", "0", True), ("start", "abc", "0", True),
                ("start", "", "0", True), ("start", "1,000", "0", True),
                ("start", "1,5", "1.5", False),
                ("start", "-5", "0", True), ("seconds", "0", "1", True),
                ("seconds", "-3", "1", True), ("seconds", "1e9", "600", True),
                ("seconds", "1,000", "600", True), ("seconds", "2.5", "2.5", False),
                ("seconds", "", "2.5", True)):
            before = b.js("t.places()")
            b.fill(field, text)
            got, note, after = b.js(f"""[$("{field}").value, $("{field}-note").textContent,
                t.places()]""")
            moved = [p for p in after if p not in before]
            if got != shown or bool(note) != why or moved:
                problems.append(f"{field} {text!r} shows {got!r}, want {shown!r}, and says "
                                f"{note!r}; moved: {moved[:3]}")
        if " 2.5 s from" not in b.js('$("wav-note").textContent'):
            problems.append(f"Save WAV says {b.js('$(`wav-note`).textContent')!r} for 2.5 s")
        text = b.js("document.body.innerText")
        problems += [f"shows {w}" for w in ("NaN", "Infinity") if w in text]
        for way in ("Promise.reject(new Error('refused'))", "new Promise(() => {})"):
            before = b.js("window.resume ??= AudioContext.prototype.resume; t.places()")
            b.js(f"AudioContext.prototype.resume = () => {way}")
            b.click("#play")
            said = b.until("$('play-note').textContent", 5)
            moved = b.js("t.labels.some(([l]) => l === 'Stop') || t.places()")
            if not said or moved != before:
                problems.append(f"with resume() {way}, Play says {said!r}, labels "
                                f"{b.js('t.labels')}, and moved {set(moved) - set(before)}")
            b.js("AudioContext.prototype.resume = resume")
        off = b.js("[...document.querySelectorAll('button, input, select')].filter((e) => "
                   "e.disabled)")
        return problems + [f"{len(off)} controls disabled"] * bool(off) + [
            f"{b.js('t.shifts')} layout shifts"] * bool(b.js("t.shifts"))

    def playing(self):
        """Play, pressed once it is offered, sounds at the volume set as soon as it says Stop;
        then at each rate, position and volume, chosen as a person does, what plays is the
        stream from there; Stop leaves silence and stays where it stopped, where Save WAV saves
        from, the waveform and the command line start, and Play goes on"""
        b = self.fresh()
        b.until("!$('play').disabled")
        problems = b.play()
        found, end, since = self.heard(0.25, 0, 8000, time.time())
        early = b.js("t.labels.filter(([l, past]) => l === 'Stop' && !(past > 0))")
        problems += [f"Play said Stop before the sound: {early}"] * bool(early) + found
        b.fill("seconds", "1")
        drawn, level = [], 0.25
        for rate, seconds, volume in ((11025, "190", 0.5), (48000, "1.5", 0.9), (22050, "300", 1),
                                      (16000, "100", 0.5)):
            start, changed = round(float(seconds) * rate) % LOOP, time.time()
            b.choose(rate)
            found, end, since = self.heard(level, end - 2048, rate, since)
            level = volume
            b.fill("start", seconds)
            b.level(volume)
            more, end, since = self.heard(volume, start, rate, changed)
            found += more + b.play("Play")
            at = self.box(rate)
            found += self.heard(0, at, rate, since)[0] + [f"stopped at {at}, from {start}"] * (
                (at - start) % LOOP > end + rate - start)
            b.click("#wav")
            name = f"stepwave-at-{seconds_at(at, rate)}s-for-1s-{rate}Hz.wav"
            want, pad = self.native[at:at + rate], rate % 2  # chunks are even
            found += self.saved(name, struct.pack(
                "<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + rate + pad, b"WAVE", b"fmt ", 16, 1, 1, rate,
                rate, 1, 8, b"data", rate) + want + bytes(pad))
            line, said, shown, ys = b.js("""[$("command").textContent, $("wav-note").textContent,
                $("volume-value").value, t.ink("wave", 256)]""")
            drawn += zip(self.native[at:at + 256], (centre for _, _, centre in ys))
            found += self.command(line, rate, want[:4096])
            found += [f"Save WAV says {said!r}"] * (f"sample {at:,}" not in said) + [
                f"the volume shows {shown}"] * (shown != f"{round(volume * 100)} %")
            found += b.play()
            more, end, since = self.heard(volume, at, rate, time.time())
            problems += [f"rate {rate}, start {seconds} s, volume {volume}: {f}"
                         for f in found + more]
        b.js("stepwave.player.context.suspend()")  # as the browser may, or the system
        if not b.until("$('play').textContent === 'Play' && $('play-note').innerText"):
            problems.append("after the browser suspended the sound, Play shows Stop")
        return problems + fits("waveform", drawn, 0.5, b.js("$('wave').clientHeight"))

    def seeking(self):
        """the loop's picture draws each stretch's bytes with its cycles and the time at the
        rate; each of its keys, a click and a drag land where they should, with the playhead
        and the time shown there; it shows the time under the pointer; while playing, the
        playhead and the waveform follow what plays, in colours that stand out"""
        b = self.fresh("#rate=48000")
        b.size(1280)  # where each stretch has a pixel of its own
        # Each stretch's bar, in the ink's colour; in the edge's, the axis, which every column
        # reaches, and its ticks, which reach below it.
        rows, lines, height = b.js("""const c = $("overview");
            [t.ink("overview", 512), t.ink("overview", c.width, "--edge"), c.clientHeight]""")
        axis = statistics.mode(last for _, last, _ in lines)
        ticks = [(i + 0.5) / len(lines) * LOOP / 48000 for i, (_, last, _) in enumerate(lines)
                 if (last or 0) > axis + 2 and i > 0]
        stats = [(statistics.fmean(s), statistics.pstdev(s)) for s in
                 (self.native[k * 4096:(k + 1) * 4096] for k in range(512))]
        problems = [f"stretch {k} is not drawn" for k, (top, _, _) in enumerate(rows)
                    if top is None]
        problems += fits("the picture", [(min(255, max(0, m + d * side)), r[0 if side > 0 else 1])
                                         for (m, d), r in zip(stats, rows) for side in (1, -1)],
                         1.5, height) if not problems else []
        step = round(ticks[0]) if ticks else 1  # seconds at 48 kHz, whole steps from 0 on
        if step not in (1, 2, 5, 10, 15, 30) or [round(t / step, 1) for t in ticks] != list(
                range(1, int(LOOP / 48000 / step) + 1)):
            problems.append(f"the time axis at 48 kHz has ticks at {ticks} s")
        b.fill("start", "10")
        at = 480000
        b.tab("map")
        for key in list(MOVES) + ["End", "Right", "Home", "Left"]:
            b.press(key)
            at = min(LOOP - 1, max(0, at + MOVES[key]))
            problems += self.shown(f"{key} key", at, 48000, label=True)
        left, width, x = b.click("#map", 0.2, 0.7)
        problems += self.shown("a drag", int((x - left) / width * LOOP), 48000)
        left, width, x = b.click("#map", 0.4, press=False)
        problems += self.shown("the pointer", int((x - left) / width * LOOP), 48000, moved=False,
                               label=True)
        b.play()
        for _ in range(3):  # the view shows where the sound is, or a moment before
            now = b.js("+$('map').getAttribute('aria-valuenow')")
            problems += self.shown("while playing", now, 48000, moved=None) + self.heard(
                0.25, max(0, now - 24000), 48000, time.time() - 0.5)[0]
        pen = b.js("""const c = $("wave"), p = c.getContext("2d").getImageData(0, 0, c.width,
            c.height).data, i = p.findIndex((v, i) => i % 4 === 3 && v === 255) - 3;
            t.contrast(`rgb(${p.slice(i, i + 3)})`, getComputedStyle(c).backgroundColor)""")
        problems += [f"the waveform stands out from its box by {pen:.2f}:1"] * (pen < 3)
        return problems

    def shown(self, what, at, rate, label=False, moved=True):
        """The page shows sample at in the box, the slider's value and text, with its playhead
        there, and the time label if asked; moved None, wherever the slider's value is."""
        box, now, text, head, tip, hidden = self.b.js("""const m = $("map").getBoundingClientRect(),
            h = $("playhead").getBoundingClientRect(), p = $("pointer"); [$("start").value,
            +$("map").getAttribute("aria-valuenow"), $("map").getAttribute("aria-valuetext"),
            (h.left + h.width / 2 - m.left) / m.width, p.textContent, p.hidden]""")
        at = now if moved is None else at
        clock = f"{int(at / rate / 60)}:{int(at / rate) % 60:02}.{int(at * 10 / rate) % 10}"
        problems = [f"shows {now} ({text}), box {box}"] * (moved is not False and (
            now != at or round(float(box) * rate) != at or text != f"{clock}, sample {at:,}")) + [
            f"the playhead at {head:.4f} of the loop"] * (
            moved is not False and abs(head - at / LOOP) > 0.003) + [
            f"the label says {tip!r}, hidden {hidden}"] * (label and (hidden or tip != clock))
        return [f"{what}: {p}, want {at}" for p in problems]

    def linked(self):
        """a link opens at its moment and rate; seeking and Stop move the address with it,
        without filling the history; the media keys do what the page's controls do; Copy puts
        the link and the command line where a paste takes them"""
        b = self.fresh("#t=30&rate=48000")
        length, session = b.js("[history.length, 'mediaSession' in navigator]")
        found = b.play() + self.heard(0.25, 1440000, 48000, time.time())[0]
        for act, arg, state, goes in (("seekto", {"seekTime": 12}, "playing", lambda _: 576000),
                                      ("pause", None, "paused", None),
                                      ("seekforward", {}, "paused", lambda at: at + 480000),
                                      ("seekbackward", {"seekOffset": 5}, "paused",
                                       lambda at: at - 240000),
                                      ("play", None, "playing", None),
                                      ("stop", None, "paused", None)):
            before = self.box(48000)
            b.js(f"stepwave.actions.{act}({json.dumps(arg)})")
            label = "Stop" if state == "playing" else "Play"
            found += [] if b.until(f"$('play').textContent === '{label}'") else [f"{act}: {label}?"]
            at = goes(before) if goes else self.box(48000)
            if state == "paused":
                found += [f"{act} went from {before} to {self.box(48000)}"] * (
                    self.box(48000) != at)
                found += [f"{act}: the address says {b.js('location.hash')}"] * (
                    b.js("location.hash") != f"#t={seconds_at(at, 48000)}&rate=48000")
            found += self.heard(0.25 if state == "playing" else 0, at, 48000, time.time())[0]
            if session and b.js("navigator.mediaSession.playbackState") != state:
                found.append(f"{act}: the media session is not {state}")
        if session and b.js("navigator.mediaSession.metadata?.title") != "stepwave":
            found.append("the media session has no title")
        found += [f"the history went from {length} to {b.js('history.length')}"] * (
            b.js("history.length") != length)
        for button, want in (("link", b.js("location.href")),
                             ("command", b.js("$('command').textContent"))):
            b.click(f"#copy-{button}")
            if not b.until(f"$('link-note').textContent === 'Copied the {button}.'"):
                found.append(f"{button} says {b.js('$(`link-note`).textContent')!r}")
                continue
            b.fill("start", "", then="Ctrl+v")
            got = b.js("$('start').value")
            b.press("Enter")  # as a person would, rather than leave the box as it is
            found += [f"{button} pasted {got!r}, want {want!r}"] * (got != want)
        return found

    def view(self):
        """while it plays the view follows the sound everywhere, at most once a second with
        reduced motion, and nothing that moves is a live region"""
        b = self.fresh()
        b.choose(48000)
        problems = b.play()
        seen, live = b.js(f"""new Promise((done) => {{ const seen = [], live = [], region =
            '[aria-live]:not([aria-live="off"]), [role=status], [role=alert], output';
            const watch = new MutationObserver((records) => {{ records.forEach(({{ target: t }}) =>
              (t.closest ? t : t.parentElement).closest(region) && live.push(t.id || t.data));
              const now = [performance.now(), $("position").textContent, $("clock").textContent,
                +$("map").ariaValueNow, $("playhead").style.left, $("start").value];
              if (now[1] !== seen.at(-1)?.[1]) seen.push(now);
              if (seen.length === 4) {{ watch.disconnect(); done([seen, live]); }} }});
            setTimeout(() => done([seen, live]), 20000);  // a view that never moves
            watch.observe(document.body, {{ subtree: true, childList: true, characterData: true,
              attributes: true }}); }})""")
        b.play("Play")
        gaps = [b[0] - a[0] for a, b in zip(seen[1:], seen[2:])]  # the first may be Play's
        problems += [f"the view moved {len(seen)} times"] * (len(seen) < 4)
        for _, position, clock, value, left, box in seen:
            if int(position.replace(",", "")) != value or abs(float(left[:-1]) / 100 - value /
                                                               LOOP) > 1e-5 or \
                    round(float(box) * 48000) != value:
                problems.append(f"the view disagrees: {position}, {clock}, {value}, {left}, {box}")
        return problems + [f"live regions changed: {live}"] * bool(live) + [
            f"with reduced motion the view moved {gaps} ms apart"] * (
            self.still and min(gaps, default=0) < 950)

    def a11y(self):
        """axe-core finds no violation at 390 and 1280 px; the boxes stand out from the page;
        controls are 24 px tall or more and their labels line up; the picture's focus ring
        clears its caption; the canvases draw at the screen's density and the loop's picture
        is tall enough on a phone; the current slope is marked by more than colour; at 320 and
        390 px command lines break only between words and nothing scrolls sideways"""
        b, problems = self.fresh(), []
        axe = os.path.join(os.path.dirname(__file__), "node_modules/axe-core/axe.min.js")
        b.js(open(axe).read() + "; 1")
        for width, ratio in ((320, 2), (390, 1), (1280, 1)):
            if not b.size(width, ratio):
                b.size(width)
            b.js("new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)))")
            problems += [f"{width} px: {p}" for p in b.js("""const problems = [], style =
                getComputedStyle, top = (e) => e.getBoundingClientRect().top;
                for (const e of document.querySelectorAll("button, input, select, #map"))
                  if (e.getBoundingClientRect().height < 24) problems.push(`${e.id} is short`);
                for (const e of document.querySelectorAll("canvas, #slopes"))
                  if (t.contrast(style(e).borderTopColor) < 3) problems.push(`${e.id} fades`);
                for (const e of document.querySelectorAll("canvas"))
                  if (e.width !== Math.round(e.clientWidth * devicePixelRatio))
                    problems.push(`${e.id}: ${e.width} pixels, ${e.clientWidth} shown`);
                if ($("overview").clientHeight < 100) problems.push("the loop's picture is flat");
                const ring = $("map").getBoundingClientRect().bottom + 5;
                if (ring > top($("map").nextElementSibling)) problems.push("the ring hides text");
                const row = [...document.querySelectorAll(".controls")[0].children].map((e) =>
                  top(e.firstElementChild)).filter((y, i, all) => Math.abs(y - all[0]) < 20);
                if (innerWidth > 1000 && (row.length < 4 || Math.max(...row) > row[0] + 1 ||
                  Math.min(...row) < row[0] - 1))
                  problems.push(`labels at ${row}`);
                for (const e of document.querySelectorAll("code span"))
                  if (e.getClientRects().length > 1) problems.push(`"${e.textContent}" breaks`);
                if (document.documentElement.scrollWidth > innerWidth) problems.push("it scrolls");
                const [on, off] = ["[aria-current]", ":not([aria-current])"].map((s) =>
                  style($("slopes").querySelector(s)));
                if (on.fontWeight === off.fontWeight &&
                  on.borderBottomStyle === off.borderBottomStyle)
                  problems.push("the current slope differs by colour only");
                problems""") + (b.js("""axe.run(document, { resultTypes: ["violations"] })
                  .then((r) => r.violations.map((v) => `axe: ${v.id}: ${v.nodes.map((n) =>
                    n.target)}`))""")
                                if width > 320 else [])]
        return problems

    def quiet(self):
        """no console error or message, no request, no constant in the page, and nothing on
        window but stepwave"""
        b = self.fresh()
        found = re.findall(r"8898a989|2291706249|(?:src|href)=\"(?!data:)|fetch\(", re.sub(
            r'<script id="module".*?</script>', "", open(self.page).read(), flags=re.S), re.I)
        status = b.js('$("status").hidden || $("status").textContent')
        names = b.js("""const blank = document.body.appendChild(document.createElement("iframe"));
            const theirs = new Set(Object.keys(blank.contentWindow)); blank.remove();
            Object.keys(window).filter((k) => !theirs.has(k) && !["$", "t", "errors"].includes(k))
            """)
        errors = getattr(b.wire, "logged", []) + b.js("window.errors ?? []")  # console's, ours
        return [f"the page writes {f}" for f in found] + [str(e)[:300] for e in errors] + (
            [] if status is True else [f"the page says {status}"]) + (
            [] if names == ["stepwave"] else [f"on window: {names}"])


def compare(what, got, want):
    at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return [] if got == want else [f"{what}: {len(got)} bytes, want {len(want)}; first at {at}"]


def fits(what, drawn, most, height):
    """Each byte's place must lie on one line up the picture, from 0 at the bottom, within
    most pixels, and the line must span a third of the picture's height, inside it."""
    slope, bottom = statistics.linear_regression(*zip(*drawn))
    off, top = max(abs(bottom + slope * b - y) for b, y in drawn), bottom + slope * 255
    return [] if top < bottom - height / 3 and off <= most and 2 <= top and bottom <= height - 2 \
        else [f"{what}: {off:.1f} px off a line from {bottom:.1f} for 0 to {top:.1f}"]


def seconds_at(n, rate):
    """Sample n's time at rate, with the fewest decimals that still name it, as the page."""
    return next(text for digits in range(12) if round(float(
        text := f"{n / rate:.{digits}f}") * rate) == n)


def main():
    engine, page, stepwave = sys.argv[1:4]
    native = run(["sh", "-c", f'"$0" | head -c {3 * LOOP}', stepwave], capture_output=True).stdout
    failed = 0
    for scheme, still, names in (("light", False, "module keyboard failures playing seeking "
                                                  "linked view a11y quiet"),
                                 ("dark", True, "keyboard view a11y quiet")):
        with tempfile.TemporaryDirectory() as home:
            browser = None
            try:
                browser = Browser(engine, home, dark=still)
                checks = Checks(browser, page, native, stepwave, still)
                todo = [getattr(checks, name) for name in names.split()]
            except Exception as error:  # a browser that cannot start fails every check
                todo = [lambda e=error: [f"{type(e).__name__}: {e}"]] * len(names.split())
            for check in todo:
                try:
                    problems = check()
                except Exception as error:  # a check that cannot run has failed
                    problems = [f"{type(error).__name__}: {error}"]
                print(f"{'FAIL' if problems else 'ok':6}{engine}, {scheme}: "
                      f"{' '.join((check.__doc__ or 'starts').split())}",
                      *(f"      {problem}" for problem in problems), sep="\n", flush=True)
                failed += bool(problems)
            if browser:
                browser.close()
    print(f"{failed} failed")
    sys.exit(failed > 0)


if __name__ == "__main__":
    main()
