#!/usr/bin/env python3
"""Uses the page, opened from disk in one browser engine, as a person does: by pointer and
keys, typing and choosing, listening to what plays and opening the files it saves; checks
it against the native program, in the light scheme and in the dark with reduced motion.
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
CONTROLS = "play rate volume start map seconds wav".split()  # in the order Tab reaches them
KEYS = {"Tab": "\ue004", "Enter": "\ue007", "Back": "\ue003", "Home": "\ue011", "End": "\ue010",
        "Right": "\ue014"}
AWAITED = "(async () => JSON.stringify([await eval({})]))()"  # [the code's value] as JSON
started = []  # every process group started, which stop() ends


def serve(env, *command):
    """Starts command with a free port in place of {}; returns the port once it listens."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    started.append(Popen([w.format(port) for w in command], env=env, stdout=DEVNULL,
                         stderr=DEVNULL, start_new_session=True))
    while socket.socket().connect_ex(("127.0.0.1", port)) and started[-1].poll() is None:
        time.sleep(0.05)
    return port


def stop():
    for process in reversed(started):  # each, and all it started, gone before its HOME goes
        os.killpg(process.pid, signal.SIGTERM)
        while process.poll() is None or run(["pgrep", "-g", str(process.pid)],
                                            stdout=DEVNULL).returncode == 0:
            time.sleep(0.05)
    started.clear()


def http(method, address, **body):
    request = urllib.request.Request(address, method=method, data=json.dumps(body).encode(),
                                     headers={"Content-Type": "application/json"})
    try:
        return json.load(urllib.request.urlopen(request, timeout=300))["value"]
    except urllib.error.HTTPError as error:
        raise RuntimeError(f"{method} {address}: {json.load(error)['value']}") from None


class Bidi:
    """WebDriver BiDi on a websocket: Firefox's own, or Chromium's through chromedriver."""

    def __init__(self, driver, url, new_session, downloads):
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
        self.call("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def call(self, method, **params):
        self.last += 1
        self.socket.send(json.dumps({"id": self.last, "method": method, "params": params}))
        while (message := json.loads(self.socket.recv())).get("id") != self.last:
            if message.get("method") == "log.entryAdded" and message["params"]["level"] == "error":
                self.logged.append(message["params"]["text"])
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

    def size(self, width):
        self.call("browsingContext.setViewport", context=self.context,
                  viewport={"width": width, "height": 800})


class Classic:
    """W3C WebDriver over HTTP, for WebKitWebDriver, which has no BiDi."""

    def __init__(self, driver, url):
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

    def size(self, width):  # the window, less what its frame takes from the page
        for _ in range(2):
            http("POST", f"{self.url}/window/rect", height=800,
                 width=width + self.js("outerWidth - innerWidth"))


def launch(engine, url, home, dark=False):
    """The engine, headless, with its downloads in home/Downloads, showing url; dark also
    asks for the dark scheme and reduced motion. A pulseaudio null sink lets it play."""
    env = dict(os.environ, HOME=home)
    for folder in ("/Downloads", "/.config/gtk-3.0"):
        os.makedirs(home + folder, exist_ok=True)
    env["PULSE_SERVER"] = "127.0.0.1:%d" % serve(
        env, "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--load=module-null-sink",
        "--load=module-native-protocol-tcp auth-anonymous=1 listen=127.0.0.1 port={}")
    if engine == "chromium":
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"] + (
            ["--force-dark-mode", "--force-prefers-reduced-motion"] if dark else [])
        driver = f"http://127.0.0.1:{serve(env, 'chromedriver', '--port={}')}"
        session = http("POST", driver + "/session", capabilities={"alwaysMatch": {
            "webSocketUrl": True,
            "goog:chromeOptions": {"binary": "/usr/bin/chromium", "args": args}}})
        return Bidi(session["capabilities"]["webSocketUrl"], url, False, home + "/Downloads")
    if engine == "firefox":
        # Automation turns off the first; a page opened from disk must work with it on.
        prefs = {"security.fileuri.strict_origin_policy": True, "ui.systemUsesDarkTheme": int(dark),
                 "ui.prefersReducedMotion": int(dark)}
        with open(home + "/user.js", "w") as file:
            file.writelines(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n"
                            for k, v in prefs.items())
        port = serve(env, "firefox-esr", "--headless", "--no-remote", "--profile", home,
                     "--remote-debugging-port={}", "about:blank")
        return Bidi(f"ws://127.0.0.1:{port}/session", url, True, home + "/Downloads")
    # WebKitGTK takes its settings from GTK and its download folder from GLib.
    with open(home + "/.config/user-dirs.dirs", "w") as file:
        file.write('XDG_DOWNLOAD_DIR="$HOME/Downloads"\n')
    with open(home + "/.config/gtk-3.0/settings.ini", "w") as file:
        file.write(f"[Settings]\ngtk-enable-animations={int(not dark)}\n")
    env["GTK_THEME"] = "Adwaita:dark" if dark else "Adwaita"
    port = serve(env, "xvfb-run", "-a", "WebKitWebDriver", "--port={}")
    return Classic(f"http://127.0.0.1:{port}", url)


# Helpers the checks run in the page: a tap on the sound's last node, which gives the rate
# and the last 2048 samples played after `ms` more of playing; and contrast ratios.
HELPERS = """window.t = {
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
}; true"""


def press(*keys):
    """Presses and releases each key in turn: a character, a name in KEYS, or Ctrl+x."""
    steps = [[("\ue009", "keyDown"), (k[-1], "keyDown"), (k[-1], "keyUp"), ("\ue009", "keyUp")]
             if k.startswith("Ctrl+") else [(k, "keyDown"), (k, "keyUp")] for k in keys]
    browser.act([{"type": "key", "id": "keys", "actions": [
        {"type": t, "value": KEYS.get(k, k)} for step in steps for k, t in step]}])


def click(selector, *fractions):
    """A mouse press at the middle of the element, or a drag across it from and to these
    fractions of its width; returns the element's left edge, its width and the last x."""
    # Scrolled to until it stays in view: Firefox may scroll the box that has the focus
    # back into view a frame later.
    left, top, width, height = js(f"""const e = document.querySelector({json.dumps(selector)});
        new Promise((done) => (function look(tries) {{
          e.scrollIntoView({{ block: "center" }});
          requestAnimationFrame(() => requestAnimationFrame(() => {{
            const r = e.getBoundingClientRect();
            r.top >= 0 && r.bottom <= innerHeight || !tries ?
              done([r.left, r.top, r.width, r.height]) : look(tries - 1); }}));
        }})(5))""")
    move = [{"type": "pointerMove", "x": round(left + width * f), "y": round(top + height / 2)}
            for f in fractions or (0.5,)]
    browser.act([{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
                  "actions": move[:1] + [{"type": "pointerDown", "button": 0}] + move[1:] +
                  [{"type": "pointerUp", "button": 0}]}])
    return left, width, move[-1]["x"]


def fill(box, text):
    """Types text into the box, in place of what it held, and presses Enter, once the
    click has put the caret there: Firefox may still send keys to what had the focus."""
    click(f"#{box}")
    until(f"document.activeElement.id === '{box}'", 2)
    press("Ctrl+a", "Back", *text, "Enter")


def choose(rate):
    """Types the rate into the closed menu, as a person may."""
    click("h1")
    press("Tab", "Tab", *str(rate))


def level(volume):  # the slider, moved by its arrow keys from the bottom
    click("h1")
    press("Tab", "Tab", "Tab", "Home", *["Right"] * round(volume / 0.05))


def play(want="Stop"):
    """Clicks Play, or Stop, and waits for the label to say want, as a person waits."""
    click("#play")
    return [] if until(f"$('play').textContent === '{want}'") else [f"Play never shows {want}"]


def until(condition, seconds=5):
    """The condition's value once it holds, or after so many seconds."""
    return js(f"""new Promise(done => {{ const end = performance.now() + {seconds * 1000};
        (function poll() {{ const v = {condition};
          v || performance.now() > end ? done(v) : setTimeout(poll, 50); }})(); }})""")


def box(rate):  # the sample that the start box names
    return int(float(js('$("start").value')) * rate + 0.5)


def compare(what, got, want):
    at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return [] if got == want else [f"{what}: {len(got)} bytes, want {len(want)}; first at {at}"]


def heard(volume, first, rate, since):
    """What plays now must be the stream's bytes times volume, at rate, from sample first
    on, no further than the fastest rate goes since the time since. Returns the problems,
    where the bytes heard end and when."""
    got, samples = js("t.tap(400)")
    window = bytes(max(0, min(255, round(v / volume * 128 + 128))) for v in samples)
    off = max(abs(v - (b - 128) / 128 * volume) for v, b in zip(samples, window))
    end = native.find(window, first, first + 2048 + round((time.time() - since + 0.5) * 48000))
    return [f"at {rate} Hz from sample {first}: " + why for bad, why in (
        (got != rate, f"plays at {got} Hz"), (off > 1e-6, f"a sample is {off} off the volume"),
        (end < 0, "plays bytes that are not the stream's from there")) if bad], \
        end + 2048, time.time()


def module():
    """the module agrees with the program over a whole loop and at the 2^31 wrap"""
    start = (1 << 31) - 4096  # byte n is written for counter n + 1, which wraps at 2^31
    got = [base64.b64decode(js(f"""const a = stepwave.bytes({first}, {count}); let s = "";
        for (let i = 0; i < a.length; i += 8192)
          s += String.fromCharCode(...a.subarray(i, i + 8192));
        btoa(s)""")) for first, count in ((1, LOOP), (start + 1, 8192))]
    return compare("a whole loop", got[0], native[:LOOP]) + compare(
        "the 2^31 wrap", got[1], bytes(native[(start + i) % LOOP] for i in range(8192)))


def keyboard():
    """Tab reaches every control in order, each with a focus ring of 3:1 against the page;
    Enter on Play and space elsewhere start and stop the sound"""
    click("h1")
    problems = []
    for want in CONTROLS:
        press("Tab")
        got, seen, style, width, ratio = js("""const e = document.activeElement, s =
            getComputedStyle(e); [e.id, e.matches(":focus-visible"), s.outlineStyle,
            parseFloat(s.outlineWidth), t.contrast(s.outlineColor)]""")
        if got != want or not seen or style == "none" or width < 2 or ratio < 3:
            problems.append(f"Tab reached {got or 'nothing'}, want {want}: visible {seen}, "
                            f"{style} {width}px ring of {ratio:.2f}:1")
    for focus, keys, want in (("h1", ["Tab", "Enter"], "Stop"), (None, [" "], "Play"),
                              ("h1", [" "], "Stop"), (None, [" "], "Play")):
        click(focus) if focus else None  # a space with no control focused is the page's own
        press(*keys)
        if not until(f"$('play').textContent === '{want}'"):
            problems.append(f"{' '.join(keys)!r} left Play at {js('$(`play`).textContent')}")
    return problems


def failures():
    """each bad input and each way the sound fails says why next to its field, shows the
    value in use, and leaves every control usable"""
    problems, kept = [], js('$("start").value')
    for field, text, shown in (("start", "1e305", kept), ("start", "abc", kept),
                               ("start", "", kept), ("start", "-5", "0"), ("seconds", "0", "1"),
                               ("seconds", "-3", "1"), ("seconds", "1e9", "600"),
                               ("seconds", "", "600")):
        fill(field, text)
        got, said = js(f"""const e = $("{field}"); [e.value,
            e.parentElement.querySelector("#" + e.getAttribute("aria-describedby")).innerText]""")
        if got != shown or not said:
            problems.append(f"{field} {text!r} shows {got!r}, want {shown!r}, and says {said!r}")
    problems += [f"shows {w}" for w in ("NaN", "Infinity") if w in js("document.body.innerText")]
    for way in ("Promise.reject(new Error('refused'))", "new Promise(() => {})"):
        js("window.resume ??= AudioContext.prototype.resume;"
           f"AudioContext.prototype.resume = () => {way}")
        click("#play")
        label = js("new Promise(done => setTimeout(() => done($('play').textContent), 500))")
        said = until("$('play-note').innerText", 5)
        if label != "Play" or not said or js("$('play').textContent") != "Play":
            problems.append(f"with resume() {way}, Play shows {label}, and says {said!r}")
        js("AudioContext.prototype.resume = resume")
    off = js("[...document.querySelectorAll('button, input, select')].filter(e => e.disabled)")
    return problems + ([f"{len(off)} controls disabled"] if off else [])


def playing():
    """while it plays, each rate, start and volume, chosen as a person does, takes effect:
    a rate change goes on from the sample playing, a start plays from there; the page draws,
    prints and saves the stream from its start (the waveform, the command line, the file in
    the download folder); a drag on the loop's picture lands where it ends, an arrow key
    moves by a stretch and End goes to the loop's last sample; when the browser suspends
    the sound, Play shows it and says so"""
    choose(8000)
    fill("start", "0")
    fill("seconds", "1")
    level(0.25)
    problems, drawn = play(), []
    found, end, since = heard(0.25, 0, 8000, time.time())
    for rate, seconds, volume in ((8000, "0", 0.25), (11025, "190", 0.5), (48000, "1.5", 0.9),
                                  (22050, "300", 1), (16000, "100", 0.5)):
        start, changed = round(float(seconds) * rate) % LOOP, time.time()
        choose(rate)
        found, end, since = heard(js("stepwave.player.gain.gain.value"), end - 2048, rate, since)
        fill("start", seconds)
        level(volume)
        more, end, since = heard(volume, start, rate, changed)
        found += more
        want, pad = native[start:start + rate], rate % 2  # a RIFF chunk has even length
        click("#wav")
        found += saved(f"stepwave-{start}-1s-{rate}.wav", struct.pack(
            "<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + rate + pad, b"WAVE", b"fmt ", 16, 1, 1, rate, rate,
            1, 8, b"data", rate) + want + bytes(pad))
        line, note, at, ys = js("""const c = $("wave"), w = c.width, h = c.height,
            p = c.getContext("2d").getImageData(0, 0, w, h).data;
            [$("command").textContent, $("start-note").textContent,
             Number($("position").textContent),
             Array.from({ length: 256 }, (_, i) => { let sum = 0, weight = 0;  // each line's centre
               for (let y = 0, x = Math.floor(((i + 0.5) * w) / 256); y < h; y++) {
                 sum += p[(y * w + x) * 4 + 3] * (y + 0.5); weight += p[(y * w + x) * 4 + 3]; }
               return sum / weight; })]""")
        drawn += zip(native[at:at + 256], ys)
        found += command(line, rate, want[:4096])
        if box(rate) != start or bool(note) != (float(seconds) * rate >= LOOP):
            found += [f"start box shows {js('$(`start`).value')} and {note!r}"]
        problems += [f"rate {rate}, start {seconds} s, volume {volume}: {f}" for f in found]
    left, width, x = click("#map", 0.2, 0.7)
    landed = int((x - left) / width * LOOP)
    problems += heard(0.5, landed, 16000, since)[0] + [
        f"a drag ended at {landed}, the start box shows {box(16000)}"] * (box(16000) != landed)
    js("stepwave.player.context.suspend()")  # as the browser may, or the system
    if not until("$('play').textContent === 'Play' && $('play-note').innerText"):
        problems.append("after the browser suspended the sound, Play shows Stop")
    before = box(16000)
    press("Right")  # the focus is still on the picture
    marked = js("""[...$("slopes").children].findIndex((e) => e.hasAttribute("aria-current"))""")
    if box(16000) - before != 4096 or marked != ((box(16000) + 1) >> 12) & 15:
        problems.append(f"an arrow key moved by {box(16000) - before}, to slope {marked}")
    press("End")
    if box(16000) != LOOP - 1:
        problems.append(f"End went to sample {box(16000)}, not the loop's last")
    # Each byte's line must lie on one line across the box, 0 and 255 inside it.
    slope, bottom = statistics.linear_regression(*zip(*drawn))
    off, top = max(abs(bottom + slope * b - y) for b, y in drawn), bottom + slope * 255
    if not (top < bottom - 128 and off <= 0.5 and top >= 2 and bottom <= 254):
        problems.append(f"waveform: {off:.1f} px off a line from {bottom:.1f} for 0 to {top:.1f}")
    return problems


def saved(name, want):
    """The file of that name in the download folder, once it has its length."""
    path, end = f"{home}/Downloads/{name}", time.time() + 20
    while (not os.path.exists(path) or os.path.getsize(path) < len(want)) and time.time() < end:
        time.sleep(0.1)
    return compare(f"saved {name}", open(path, "rb").read() if os.path.exists(path) else b"", want)


def command(line, rate, want):
    """Runs the command line that the page shows, less its player."""
    stream, player = line.rsplit(" | ", 1)
    got = run(["sh", "-c", f"{stream} | head -c {len(want)}"], capture_output=True, env=dict(
        os.environ, PATH=os.path.dirname(stepwave) + ":" + os.environ["PATH"])).stdout
    return compare(f"command {stream}", got, want) + (
        [] if player == f"aplay -q -t raw -f U8 -r {rate} -c 1" else [f"played by {player}"])


def motion():
    """while it plays the view moves, once a second with reduced motion, and nothing that
    moves is a live region"""
    choose(48000)
    play()
    shown, slopes, waves, live = js("""const seen = [new Set(), new Set(), new Set()], live = [];
        const region = '[aria-live]:not([aria-live="off"]), [role=status], [role=alert], output';
        const watch = new MutationObserver((records) => records.forEach(({ target: t }) =>
          (t.closest ? t : t.parentElement).closest(region) && live.push(t.id || t.data)));
        watch.observe(document.body, { subtree: true, childList: true, characterData: true });
        const timer = setInterval(() => [$("position").textContent,
          [...$("slopes").children].findIndex((e) => e.hasAttribute("aria-current")),
          String($("wave").getContext("2d").getImageData(99, 0, 1, 256).data)]
          .forEach((v, i) => seen[i].add(v)), 20);
        new Promise((done) => setTimeout(() => { clearInterval(timer); watch.disconnect();
          done([...seen.map((s) => s.size), live]); }, 2100))""")
    play("Play")
    lo, hi = (2, 3) if still else (5, 200)
    moved = lo <= min(shown, slopes, waves) <= max(shown, waves) <= hi
    return [f"the view showed {shown} positions, {slopes} slopes and {waves} waveforms in 2 s, "
            f"want {lo} to {hi}"] * (not moved) + [f"live regions changed: {live}"] * bool(live)


def a11y():
    """axe-core finds no violation at 390 and 1280 px; the boxes stand out from the page;
    controls are 24 px tall or more; the current slope is marked by more than colour; at
    320 and 390 px command lines break only between words and nothing scrolls sideways"""
    problems = []
    axe = os.path.join(os.path.dirname(__file__), "node_modules/axe-core/axe.min.js")
    js(open(axe).read() + "; 1")
    for width in (320, 390, 1280):
        browser.size(width)
        problems += [f"{width} px: {p}" for p in js("""const problems = [], style =
            getComputedStyle;
            for (const e of document.querySelectorAll("button, input, select, #map"))
              if (e.getBoundingClientRect().height < 24) problems.push(`${e.id} is short`);
            for (const e of document.querySelectorAll("canvas, #slopes"))
              if (t.contrast(style(e).borderTopColor) < 3) problems.push(`${e.id} fades`);
            for (const e of document.querySelectorAll("code span"))
              if (e.getClientRects().length > 1) problems.push(`"${e.textContent}" breaks`);
            if (document.documentElement.scrollWidth > innerWidth) problems.push("it scrolls");
            const [on, off] = ["[aria-current]", ":not([aria-current])"].map((s) =>
              style($("slopes").querySelector(s)));
            if (on.fontWeight === off.fontWeight && on.borderBottomStyle === off.borderBottomStyle)
              problems.push("the current slope differs by colour only");
            problems""") + (js("""axe.run(document, { resultTypes: ["violations"] }).then((r) =>
                r.violations.map((v) => `axe: ${v.id}: ${v.nodes.map((n) => n.target)}`))""")
                            if width > 320 else [])]
    return problems


def quiet():
    """no console error or message, no request, no constant in the page"""
    found = re.findall(r"8898a989|2291706249|(?:src|href)=\"(?!data:)|fetch\(", re.sub(
        r'<script id="module".*?</script>', "", open(page).read(), flags=re.S), re.I)
    status = js('$("status").hidden || $("status").textContent')
    errors = getattr(browser, "logged", []) + js("window.errors ?? []")  # the console's, or ours
    return [f"the page writes {f}" for f in found] + [str(e)[:300] for e in errors] + (
        [] if status is True else [f"the page says {status}"])


if __name__ == "__main__":
    engine, page, stepwave = sys.argv[1:4]
    native = run(["sh", "-c", f'"$0" | head -c {3 * LOOP}', stepwave], capture_output=True).stdout
    failed = 0
    for scheme, still, checks in (("light", False, [module, keyboard, failures, playing, motion,
                                                    a11y, quiet]),
                                  ("dark", True, [keyboard, motion, a11y, quiet])):
        with tempfile.TemporaryDirectory() as home:
            try:
                browser = launch(engine, "file://" + os.path.abspath(page), home, dark=still)
                js = browser.js
                js("stepwave.ready")
                js(HELPERS)
            except Exception as error:  # a browser that cannot start fails every check
                checks = [lambda error=error: [f"{type(error).__name__}: {error}"]] * len(checks)
            for check in checks:
                try:
                    problems = check()
                except Exception as error:  # a check that cannot run has failed
                    problems = [f"{type(error).__name__}: {error}"]
                print(f"{'FAIL' if problems else 'ok':6}{engine}, {scheme}: "
                      f"{' '.join((check.__doc__ or 'starts').split())}",
                      *(f"      {problem}" for problem in problems), sep="\n", flush=True)
                failed += bool(problems)
            stop()
    print(f"{failed} failed")
    sys.exit(failed > 0)
