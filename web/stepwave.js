// stepwave's page: plays, draws and saves the stream, each sample computed by the
// program's own formula, compiled to WebAssembly and carried in the page.

const LOOP = 2097152; // the stream's period
const CYCLE = 65536; // the sixteen slopes' cycle
const PIECE = LOOP / 32; // samples computed in one task
const FADE = 0.008; // seconds that sound takes to start, stop or change volume
const REST = 2000; // ms that a stopped context runs on
const $ = (id) => document.getElementById(id);
const still = matchMedia("(prefers-reduced-motion: reduce)");
const pause = (ms = 0) => new Promise((done) => setTimeout(done, ms));
const grouped = (n) => String(n).replace(/\B(?=(\d{3})+$)/g, ","); // as 1,234,567
const within = (n) => Math.min(LOOP - 1, Math.max(0, n));
let formula = null; // the module's fill(first, count) and ramp_multiplier(t)
let loop = null; // one loop: byte n of `stepwave` run with no arguments
let floats = null; // the same from -1 to 1, for each context's buffer
let whole = null; // the same as a Blob, which files slice
let colors = {}; // the scheme's
const use = { rate: 8000, volume: 0.25, seconds: 10 };

// The player: one state, changed only by go(), and one position. The states: loading,
// stopped, starting (Play pressed, no sound yet), playing, and mute (cannot play).
const player = {
  state: "loading",
  at: 0, // where it stands, or where the sound began
  began: 0, // the context's time of sample `at`
  rate: 0,
  context: null,
  buffer: null,
  gain: null,
  source: null, // while sound is scheduled
  made: 0, // contexts, and Play presses, asked for; the last of each counts
  tries: 0,
  timer: 0,
  rest: 0,
  clock: [0, 0], // the audio clock when it last moved, and the time then
  position() {
    if (this.state !== "playing") return this.at;
    // Some engines move the clock only now and then; sound runs on meanwhile.
    const [time, now] = [this.context.currentTime, performance.now()];
    if (time !== this.clock[0]) this.clock = [time, now];
    const since = Math.min(2000, now - this.clock[1]) / 1000;
    const played = Math.floor((this.clock[0] + since - this.began) * this.rate);
    return (this.at + Math.max(0, played)) % LOOP;
  },
};

function go(state, message = "") {
  player.state = state;
  $("play").textContent = state === "playing" ? "Stop" : "Play";
  $("play").disabled = state === "loading" || state === "mute";
  note("play", message);
  clearTimeout(player.timer);
  if (navigator.mediaSession) {
    navigator.mediaSession.playbackState = state === "playing" ? "playing" : "paused";
  }
  tick();
}

// The bytes the program writes for counters first to first + count - 1.
function bytes(first, count) {
  return new Uint8Array(formula.memory.buffer, formula.fill(first, count), count).slice();
}

function note(id, message) {
  $(`${id}-note`).textContent = message;
}

// Sample n's time in seconds, with the fewest decimals that name it.
function time(n, rate) {
  for (let digits = 0; ; digits++) {
    const text = (n / rate).toFixed(digits);
    if (Math.round(Number(text) * rate) === n) return text;
  }
}

// Sample n's time as minutes, seconds and tenths.
function clock(n, rate) {
  const tenths = Math.floor((10 * n) / rate);
  const seconds = String(Math.floor(tenths / 10) % 60).padStart(2, "0");
  return `${Math.floor(tenths / 600)}:${seconds}.${tenths % 10}`;
}

// The number in box `id`, or NaN with why in its note.
function read(id, what, now) {
  const text = $(id).value.trim();
  const point = text.replace(",", ".");
  if (/^[+-]?\d+,\d{3}$/.test(text)) {
    note(id, `“${text}” could be ${point} or ${text.replace(",", "")}; ${now}.`);
  } else if (!/^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i.test(point)) {
    note(id, text ? `“${text}” is not a number of seconds; ${now}.` :
      `Give the ${what} in seconds; ${now}.`);
  } else {
    return Number(point);
  }
  return NaN;
}

// A silent context with the loop; false if another was asked for since.
async function open(rate) {
  const mine = ++player.made;
  let context;
  try {
    context = new AudioContext({ sampleRate: rate });
  } catch {
    context = new AudioContext(); // the device's rate: the browser resamples
  }
  const buffer = new AudioBuffer({ length: LOOP, sampleRate: rate });
  buffer.copyToChannel(floats, 0);
  await pause();
  if (mine !== player.made) {
    context.close();
    return false;
  }
  player.context?.close();
  const gain = new GainNode(context, { gain: 0 });
  gain.connect(context.destination);
  Object.assign(player, { context, buffer, gain, rate, source: null });
  context.onstatechange = () => {
    if (context === player.context && player.state === "playing" && context.state !== "running") {
      player.at = player.position();
      player.source = null;
      go("stopped", "The browser paused the sound; press Play to go on.");
    }
  };
  return true;
}

// Ramps the gain through each value; returns when the first ends, on a sample of the
// context, where a source starts without resampling.
function ramp(...values) {
  const { gain } = player.gain;
  const { currentTime: now, sampleRate } = player.context;
  const fade = Math.ceil(FADE * sampleRate) / sampleRate;
  gain.cancelScheduledValues(now);
  gain.setValueAtTime(gain.value, now);
  values.forEach((value, i) => gain.linearRampToValueAtTime(value, now + (i + 1) * fade));
  return now + fade;
}

// Sound from sample `from`: what played fades out, this fades in.
function sound(from) {
  const when = ramp(0, use.volume);
  player.source?.stop(when);
  player.source = new AudioBufferSourceNode(player.context, { buffer: player.buffer, loop: true });
  player.source.connect(player.gain);
  player.source.start(when, from / player.rate);
  Object.assign(player, { at: from, began: when });
}

// Fades out; the context runs on a while, so that Play again is instant.
function hush() {
  if (player.source) player.source.stop(ramp(0));
  player.source = null;
  const { context } = player;
  clearTimeout(player.rest);
  player.rest = setTimeout(() => context.state === "running" && context.suspend(), REST);
}

// Play says Stop once the audio clock has passed the sound's first sample.
async function play() {
  if (player.state !== "stopped") return;
  const { context } = player;
  clearTimeout(player.rest);
  sound(player.at); // before the clock runs, which starts first of all
  const resumed = context.resume(); // a browser that may not play leaves it pending
  go("starting");
  const [mine, made] = [++player.tries, player.made]; // newer ones win
  const current = () => player.state === "starting" && made === player.made &&
    mine === player.tries;
  const late = () => new Promise((_, fail) => setTimeout(fail, 3000));
  try {
    await Promise.race([resumed, late()]);
    if (!current()) return;
    await Promise.race([late(), (async () => {
      while (context.currentTime <= player.began) await pause(5);
    })()]);
    if (current()) go("playing");
  } catch {
    if (!current()) return;
    hush();
    go("stopped", "The browser did not start the sound; allow sound here, then press Play.");
  }
}

// Stop is a pause: Play goes on from here.
function stop() {
  if (player.state !== "playing" && player.state !== "starting") return;
  player.at = player.position();
  hush();
  go("stopped");
  moved();
}

const toggle = () => (player.state === "stopped" ? play() : stop());
const skip = (seconds) => seek(player.position() + seconds * use.rate);

// Goes to sample `at`, within the loop, and plays from there if it plays.
function seek(at) {
  const from = within(Math.round(at));
  if (player.source) sound(from);
  else player.at = from;
  tick();
  moved();
}

// A new rate needs a new context, which goes on from the same sample.
async function rate() {
  const at = player.position();
  const playing = player.source !== null || player.state === "starting";
  if (player.context) hush();
  player.at = at;
  use.rate = Number($("rate").value);
  go(playing ? "starting" : "loading");
  overview();
  moved();
  if (!(await open(use.rate))) return;
  const wanted = player.state === "starting";
  go("stopped");
  if (wanted) play();
}

// The command line that plays from sample `from`, as words kept whole.
function command(from, rate) {
  const start = from === 0 ? [] : from <= 100000 ? [`$(seq ${from})`] :
    ["|", "tail", `-c +${from + 1}`];
  return ["stepwave", ...start, "|", "aplay", "-q", "-t raw", "-f U8", `-r ${rate}`, "-c 1"];
}

// This moment's address: t= as in W3C's media fragments, and the rate.
const address = (from = player.position()) =>
  `${location.href.split("#")[0]}#t=${time(from, use.rate)}&rate=${use.rate}`;

const moved = () => history.replaceState(null, "", address());

// A canvas, cleared, drawing in CSS pixels at the screen's density; and its size.
function pen(canvas) {
  const g = canvas.getContext("2d");
  const scale = canvas.width / (canvas.clientWidth || canvas.width);
  g.setTransform(scale, 0, 0, scale, 0, 0);
  const [width, height] = [canvas.width / scale, canvas.height / scale];
  g.clearRect(0, 0, width, height);
  return [g, width, height];
}

let shown = ""; // the command line shown

// Shows the position everywhere (in the box unless typed in); while playing, four times
// a second, or once with less motion.
function tick() {
  const from = player.position();
  const { rate } = use;
  const at = `${clock(from, rate)}, sample ${grouped(from)}`;
  $("clock").textContent = clock(from, rate);
  $("loop").textContent = clock(LOOP, rate);
  $("position").textContent = grouped(from);
  $("playhead").style.left = `${(100 * from) / LOOP}%`;
  $("map").setAttribute("aria-valuenow", String(from));
  $("map").setAttribute("aria-valuetext", at);
  if ($("pointer").dataset.by === "keys") hover(from, "keys");
  if (!$("start").dataset.typing) $("start").value = time(from, rate);
  const line = command(from, rate);
  if (line.join(" ") !== shown) { // its words hold no markup
    shown = line.join(" ");
    $("command").innerHTML = line.map((word) => `<span>${word}</span>`).join(" ");
  }
  const count = Math.round(use.seconds * rate);
  const rounded = count === use.seconds * rate ? "" : `, rounded to ${grouped(count)} samples`;
  $("wav-note").textContent = `An 8-bit mono WAV of the program's bytes: ${use.seconds} s` +
    `${rounded} from ${at}, at ${rate} Hz.`;
  if (loop) wave(from);
  for (const [k, item] of [...$("slopes").children].entries()) {
    item.toggleAttribute("aria-current", k === (((from + 1) >>> 12) & 15));
  }
  if (navigator.mediaSession?.setPositionState) {
    navigator.mediaSession.setPositionState({ duration: LOOP / rate, position: from / rate });
  }
  if (player.state === "playing") player.timer = setTimeout(tick, still.matches ? 1000 : 250);
}

// The next 256 samples, each a step from 0 (bottom) to 255 (top).
function wave(from) {
  const [g, width, height] = pen($("wave"));
  g.strokeStyle = colors.ink;
  g.lineWidth = 1.5;
  g.beginPath();
  for (let i = 0; i < 256; i++) {
    const y = 4 + ((255 - loop[(from + i) % LOOP]) * (height - 8)) / 255;
    g.lineTo((i * width) / 256, y);
    g.lineTo(((i + 1) * width) / 256, y);
  }
  g.stroke();
}

// The whole loop: for each 4096-sample stretch a bar over its bytes' mean give or take
// their deviation; the 32 cycles of sixteen slopes numbered, and the time.
const stretches = new Float64Array(2 * (LOOP / 4096));

function measure(from, to) {
  for (let k = from / 4096; k < to / 4096; k++) {
    let sum = 0;
    let squares = 0;
    for (let n = k * 4096; n < (k + 1) * 4096; n++) {
      sum += loop[n];
      squares += loop[n] * loop[n];
    }
    stretches[2 * k] = sum / 4096;
    stretches[2 * k + 1] = Math.sqrt(squares / 4096 - (sum / 4096) ** 2);
  }
}

// The first step that puts `count` marks across `width` `room` apart.
const spacing = (steps, count, width, room) =>
  steps.find((step) => (width * step) / count >= room) ?? steps.at(-1);

function overview() {
  const [g, width, height] = pen($("overview"));
  const [top, bottom] = [18, height - 22]; // room for numbers and time
  const x = (n) => Math.round((n / LOOP) * width) + 0.5;
  const y = (v) => top + ((255 - Math.min(255, Math.max(0, v))) * (bottom - top)) / 255;
  g.font = `12px ${colors.font}`;
  g.textBaseline = "top";
  g.fillStyle = colors.text;
  g.strokeStyle = colors.edge;
  g.beginPath();
  g.moveTo(0, bottom + 0.5);
  g.lineTo(width, bottom + 0.5);
  const every = spacing([1, 2, 4, 8], LOOP / CYCLE, width, 24);
  g.textAlign = "center";
  for (let c = 0; c < LOOP / CYCLE; c++) {
    g.moveTo(x(c * CYCLE), 0);
    g.lineTo(x(c * CYCLE), bottom);
    if (c % every === 0) g.fillText(String(c + 1), x((c + 0.5) * CYCLE), 3);
  }
  const seconds = LOOP / use.rate;
  const step = spacing([1, 2, 5, 10, 15, 30, 60, 120], seconds, width, 64);
  for (let s = 0; s < seconds; s += step) {
    g.moveTo(x(s * use.rate), bottom);
    g.lineTo(x(s * use.rate), bottom + 5);
    g.textAlign = s === 0 ? "left" : "center";
    const label = `${Math.floor(s / 60)}:${String(s % 60).padStart(2, "0")}`;
    g.fillText(label, x(s * use.rate), bottom + 7);
  }
  g.stroke();
  g.fillStyle = colors.ink;
  for (let k = 0; k < LOOP / 4096; k++) {
    const [mean, spread] = stretches.subarray(2 * k, 2 * k + 2);
    const [left, right, high] = [x(k * 4096), x((k + 1) * 4096), y(mean + spread)];
    g.fillRect(left - 0.5, high, Math.max(1, right - left), Math.max(1, y(mean - spread) - high));
  }
}

// The time of sample n over the picture, for the pointer or the keys.
function hover(n, by) {
  const label = $("pointer");
  label.hidden = false;
  label.dataset.by = by;
  label.textContent = clock(n, use.rate);
  const [half, width] = [label.offsetWidth / 2, $("map").clientWidth];
  label.style.left = `${Math.min(width - half, Math.max(half, (n / LOOP) * width))}px`;
}

function under(event) {
  const box = $("overview").getBoundingClientRect();
  return within(Math.floor(((event.clientX - box.left) / box.width) * LOOP));
}

// Arrows move by a 4096-sample stretch, Page keys by a cycle of sixteen slopes.
function key(event) {
  const step = { ArrowLeft: -4096, ArrowDown: -4096, ArrowRight: 4096, ArrowUp: 4096,
    PageDown: -CYCLE, PageUp: CYCLE, Home: -LOOP, End: LOOP }[event.key];
  if (!step) return;
  event.preventDefault();
  $("pointer").dataset.by = "keys";
  seek(player.position() + step);
}

// The sixteen slopes, as the module gives them.
function slopes() {
  const values = Array.from({ length: 16 }, (_, k) => formula.ramp_multiplier(k << 12));
  $("slopes").innerHTML = values.map((m) =>
    `<li style="--height: ${(100 * m) / Math.max(...values)}%">${m}</li>`).join("");
}

// The position box: a time in seconds, wrapped into the loop.
function start() {
  const now = `the position stays at ${time(player.position(), use.rate)} s`;
  const seconds = read("start", "position", now);
  const asked = Math.round(seconds * use.rate);
  const text = $("start").value.trim();
  if (Number.isNaN(seconds)) return tick();
  if (!Number.isSafeInteger(asked)) {
    note("start", `${text} s is too far to count in samples; ${now}.`);
    return tick();
  }
  if (asked < 0) note("start", `${text} s is before the stream begins; it starts at 0 s.`);
  if (asked >= LOOP) {
    note("start", `${text} s is past the end of the ${clock(LOOP, use.rate)} loop, so it ` +
      `starts at ${time(asked % LOOP, use.rate)} s.`);
  }
  seek(Math.max(0, asked) % LOOP);
}

// The length box: seconds, from 1 to 600.
function length() {
  const seconds = read("seconds", "length", `the length stays at ${use.seconds} s`);
  if (!Number.isNaN(seconds)) {
    use.seconds = Math.min(600, Math.max(1, seconds));
    if (use.seconds !== seconds) {
      note("seconds", `A file is 1 to 600 s long; this one is ${use.seconds} s.`);
    }
  }
  $("seconds").value = String(use.seconds);
  tick();
}

// An 8-bit mono WAV file of `count` of the stream's bytes from `from`.
function wav(from, count, rate) {
  const head = new DataView(new ArrayBuffer(44));
  // RIFF's size (chunks have even length); the format's size, PCM and one channel, samples
  // and bytes a second, one byte and 8 bits a sample; the data's size.
  [[4, 36 + count + (count % 2)], [16, 16], [20, 1 + (1 << 16)], [24, rate], [28, rate],
    [32, 1 + (8 << 16)], [40, count]].forEach(([at, v]) => head.setUint32(at, v, true));
  [[0, "RIFF"], [8, "WAVEfmt "], [36, "data"]].forEach(([at, word]) =>
    [...word].forEach((c, i) => head.setUint8(at + i, c.charCodeAt(0))));
  const parts = [head];
  for (let at = from, left = count; left > 0; at = 0) {
    const end = Math.min(LOOP, at + left);
    parts.push(whole.slice(at, end));
    left -= end - at;
  }
  return new Blob([...parts, new Uint8Array(count % 2)], { type: "audio/wav" });
}

function save() {
  const { seconds, rate } = use;
  const from = player.position();
  const link = document.createElement("a");
  link.href = URL.createObjectURL(wav(from, Math.round(seconds * rate), rate));
  link.download = `stepwave-at-${time(from, rate)}s-for-${seconds}s-${rate}Hz.wav`;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

async function copy(text, what) {
  try {
    await navigator.clipboard.writeText(text);
    note("link", `Copied the ${what}.`);
  } catch {
    note("link", `The browser would not copy; select the ${what} and copy it.`);
  }
}

// The moment and rate the address asks for: #t=SECONDS&rate=RATE, t as W3C's media
// fragments have it (npt: may lead, and a range's end is ignored).
function fragment() {
  const asked = new URLSearchParams(location.hash.slice(1));
  const [t, hz] = [asked.get("t"), asked.get("rate")];
  const problems = [];
  if ([...$("rate").options].some((option) => option.value === hz)) {
    $("rate").value = hz;
    if (player.context) rate(); // an address changed by hand
    else use.rate = Number(hz);
  } else if (hz !== null) {
    problems.push(`The link's rate=${hz} is not one of the rates; it plays at ${use.rate} Hz.`);
  }
  const seconds = /^(?:npt:)?(\d+(?:\.\d*)?)(?:,.*)?$/.exec(t ?? "");
  if (seconds) {
    $("start").value = seconds[1];
    start();
  } else if (t !== null) {
    problems.push(`The link's t=${t} is not a time in seconds; it opens at 0 s.`);
  }
  note("link", problems.join(" "));
}

function paint() {
  const style = getComputedStyle(document.documentElement);
  colors = Object.fromEntries(["ink", "text", "edge"].map((name) =>
    [name, style.getPropertyValue(`--${name}`).trim()]));
  colors.font = style.fontFamily;
}

// Each canvas holds as many pixels as the screen shows of it.
function fit() {
  for (const canvas of [$("overview"), $("wave")]) {
    canvas.width = Math.round(canvas.clientWidth * devicePixelRatio);
    canvas.height = Math.round(canvas.clientHeight * devicePixelRatio);
  }
  overview();
  setTimeout(tick); // a task of its own
}

function density() {
  const query = matchMedia(`(resolution: ${devicePixelRatio}dppx)`);
  query.addEventListener("change", () => density() || fit(), { once: true });
}

// Media keys, headsets and lock screens do what the page's controls do.
const actions = {
  play,
  pause: stop,
  stop,
  seekbackward: (asked) => skip(-(asked?.seekOffset ?? 10)),
  seekforward: (asked) => skip(asked?.seekOffset ?? 10),
  seekto: (asked) => seek(asked.seekTime * use.rate),
};

function listen() {
  const on = (id, type, act) => $(id).addEventListener(type, act);
  on("play", "click", toggle);
  on("rate", "change", rate);
  on("volume", "input", () => { // ramped, lest it crackle
    use.volume = Number($("volume").value);
    $("volume-value").textContent = `${Math.round(use.volume * 100)} %`;
    if (player.source) ramp(use.volume);
  });
  // A box takes what was typed on Enter, or when left, once.
  for (const [id, take] of [["start", start], ["seconds", length]]) {
    const typed = () => {
      if (!$(id).dataset.typing) return;
      delete $(id).dataset.typing;
      take();
    };
    on(id, "change", typed);
    on(id, "keydown", (event) => event.key === "Enter" && typed());
    on(id, "input", () => {
      $(id).dataset.typing = "yes";
      note(id, ""); // it was about what was typed before
    });
  }
  const map = $("map");
  on("map", "pointerdown", (event) => {
    map.setPointerCapture(event.pointerId);
    seek(under(event));
  });
  on("map", "pointermove", (event) => {
    if (map.hasPointerCapture(event.pointerId)) seek(under(event));
    if (event.pointerType === "mouse") hover(under(event), "mouse");
  });
  const away = () => Object.assign($("pointer"), { hidden: true }).removeAttribute("data-by");
  on("map", "pointerleave", () => $("pointer").dataset.by === "mouse" && away());
  on("map", "keydown", key);
  on("map", "focus", () => map.matches(":focus-visible") && hover(player.position(), "keys"));
  on("map", "blur", away);
  on("wav", "click", save);
  on("copy-link", "click", () => copy(address(), "link"));
  on("copy-command", "click", () => copy(shown, "command"));
  addEventListener("hashchange", fragment);
  matchMedia("(prefers-color-scheme: dark)").addEventListener("change", () => {
    paint();
    overview();
    tick();
  });
  document.addEventListener("keydown", (event) => {
    const control = event.target.closest?.("input, select, button, textarea, a");
    const held = event.ctrlKey || event.altKey || event.metaKey || event.repeat;
    if (event.key === " " && !control && !held) {
      event.preventDefault();
      toggle();
    }
  });
}

async function load() {
  const other = "open it in a current Firefox, Chrome, Edge or Safari";
  if (typeof WebAssembly !== "object") {
    throw new Error(`This browser cannot run WebAssembly, which computes the samples; ${other}.`);
  }
  try {
    const hex = $("module").textContent.trim().match(/../g) ?? [];
    const code = Uint8Array.from(hex, (byte) => parseInt(byte, 16));
    formula = (await WebAssembly.instantiate(code)).instance.exports;
  } catch (error) {
    throw new Error(`The page's sample code could not start (${error.message}); download ` +
      `the page again, or ${other}.`);
  }
  loop = new Uint8Array(LOOP);
  floats = new Float32Array(LOOP);
  for (let at = 0; at < LOOP; at += PIECE) {
    loop.set(bytes(at + 1, PIECE), at); // byte n is for counter n + 1
    for (let i = at; i < at + PIECE; i++) floats[i] = (loop[i] - 128) / 128;
    measure(at, at + PIECE);
    await pause();
  }
  whole = new Blob([loop]);
  await pause();
  paint();
  slopes();
  fragment();
  listen();
  const resized = new ResizeObserver(fit);
  resized.observe($("overview"));
  resized.observe($("wave"));
  fit(); // drawn before the first layout too
  density();
  for (const id of ["wav", "copy-link", "copy-command"]) $(id).disabled = false;
  if (typeof AudioContext !== "function") {
    go("mute");
    throw new Error(`This browser has no Web Audio, so the page draws and saves but cannot ` +
      `play; to hear it, ${other}.`);
  }
  if (typeof MediaMetadata === "function") {
    navigator.mediaSession.metadata = new MediaMetadata({ title: "stepwave" });
  }
  for (const [name, act] of Object.entries(actions)) {
    try {
      navigator.mediaSession?.setActionHandler(name, act);
    } catch {} // the others still work
  }
  // Asking for the devices starts the audio service without blocking the page, as a
  // context would. Play is offered once sound is ready.
  await navigator.mediaDevices?.enumerateDevices().catch(() => []);
  if (await open(use.rate)) go("stopped");
}

const ready = load().catch((error) => {
  $("status").textContent = error.message;
  $("status").hidden = false;
});

window.stepwave = { ready, bytes, player, actions };
