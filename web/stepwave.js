// stepwave's page: plays, draws and saves the stream, every sample computed by the
// program's own formula compiled to WebAssembly, which the page carries inside it.
"use strict";

const LOOP = 2097152; // the stream repeats after this many samples
const SHOWN = 256; // samples in the waveform
const PIECE = LOOP / 32; // samples computed or copied in one short task
const $ = (id) => document.getElementById(id);
const still = matchMedia("(prefers-reduced-motion: reduce)");
const pause = () => new Promise((done) => setTimeout(done)); // lets the page answer
let formula = null; // the module's exports: fill(first, count) and ramp_multiplier(t)
let loop = null; // one loop of the stream: byte n of `stepwave` run with no arguments
let whole = null; // the same as a Blob, which files are made of without copying it
const use = { rate: 8000, from: 0, volume: 0.25, seconds: 10 }; // the settings in use

// The bytes that the program writes for counters first to first + count - 1.
function bytes(first, count) {
  return new Uint8Array(formula.memory.buffer, formula.fill(first, count), count).slice();
}

// Says on the page what went wrong and what to do; an empty message clears it.
function say(message) {
  $("status").textContent = message;
  $("status").hidden = !message;
}

// Says next to the field `id` what it could not use; an empty message clears it.
function note(id, message) {
  $(`${id}-note`).textContent = message;
}

// A number as people type one, with a point or a comma, or NaN.
function number(text) {
  const t = text.trim().replace(",", ".");
  return /^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i.test(t) ? Number(t) : NaN;
}

// Sample n's time at `rate`, with the fewest decimals that still name that sample.
function time(n, rate) {
  for (let digits = 0; ; digits++) {
    const text = (n / rate).toFixed(digits);
    if (Math.round(Number(text) * rate) === n) return text;
  }
}

// The sound: an AudioContext at the rate in use, opened before Play so that Play only
// resumes it, looping one loop of the stream from the sample asked for.
const player = {
  context: null,
  rate: 0,
  buffer: null,
  gain: null,
  source: null,
  from: 0,
  began: 0, // the context's time when the source played sample `from`
  opening: null, // the promise of the context being opened
  asked: 0, // the rate of the last context asked for
  opened: 0, // how many were asked for; only the last counts
  wanted: false, // whether the listener asked for sound, which then runs
  starting: false,
  timer: 0,

  // Makes ready to play from sample `from`. A new rate needs a new context, which goes on
  // from where the old one is once it is ready.
  cue(from) {
    if (this.context) this.begin(from);
    if (this.asked !== use.rate) this.opening = this.open();
  },
  // A source that plays from sample `from` as soon as the context runs.
  begin(from) {
    this.source?.stop();
    this.source = new AudioBufferSourceNode(this.context, { buffer: this.buffer, loop: true });
    this.source.connect(this.gain);
    this.began = this.context.currentTime;
    this.source.start(this.began, from / this.rate); // the browsers start at that very sample
    this.from = from;
  },
  async open() {
    const mine = ++this.opened;
    const rate = (this.asked = use.rate);
    let context;
    try {
      context = new AudioContext({ sampleRate: rate });
    } catch {
      context = new AudioContext(); // at the device's rate; the browser resamples the stream
    }
    if (!this.wanted) context.suspend();
    // The samples go in in pieces, each a short task.
    const buffer = new AudioBuffer({ length: LOOP, sampleRate: rate });
    const piece = new Float32Array(PIECE);
    for (let at = 0; at < LOOP; at += piece.length) {
      for (let i = 0; i < piece.length; i++) piece[i] = (loop[at + i] - 128) / 128;
      buffer.copyToChannel(piece, 0, at);
      await pause();
      if (mine !== this.opened) return context.close();
    }
    const from = where();
    this.context?.close();
    Object.assign(this, { context, rate, buffer, source: null });
    this.gain = new GainNode(context, { gain: use.volume });
    this.gain.connect(context.destination);
    this.begin(from);
    context.onstatechange = () => context === this.context && this.changed();
    if (this.wanted) {
      // Sound that was running goes on at the new rate, or Play says why it cannot.
      context.resume();
      setTimeout(() => context === this.context && this.changed(), 3000);
    }
  },
  // The sample playing now, or the one that plays next.
  position() {
    return (this.from + Math.floor((this.context.currentTime - this.began) * this.rate)) % LOOP;
  },
  async play() {
    if (this.starting) return;
    this.starting = true;
    note("play", "");
    try {
      await this.opening;
      if (!this.context) await (this.opening = this.open());
      // A browser that may not play leaves the promise pending, so it is not awaited alone.
      await Promise.race([this.context.resume(), new Promise((done) => setTimeout(done, 3000))]);
      if (this.context.state !== "running") throw new Error("the browser kept it paused");
      this.wanted = true;
      this.changed();
    } catch (error) {
      note("play", `The sound did not start (${error.message}). Check the sound output ` +
        "and that this page may play sound, then press Play again.");
    } finally {
      this.starting = false;
    }
  },
  // Stops the sound where it is, ready to go on from there.
  stop(message = "") {
    this.wanted = false;
    this.context.suspend();
    note("play", message);
    seek(this.position());
    this.changed();
  },
  // Shows whether sound runs, also when the browser stops it.
  changed() {
    const running = this.context?.state === "running";
    if (this.wanted && !running) {
      return this.stop("The browser paused the sound; press Play to go on.");
    }
    $("play").textContent = this.wanted ? "Stop" : "Play";
    clearTimeout(this.timer);
    if (this.wanted) this.animate();
  },
  // Four views a second, each a frame, which is most of what playing costs; one a second
  // where less motion is asked for.
  animate() {
    show(this.position());
    this.timer = setTimeout(() => this.animate(), still.matches ? 1000 : 250);
  },
  toggle() {
    return this.wanted ? this.stop() : this.play();
  },
};

// The command line that plays the stream from sample `from`, as words kept whole.
function command(from, rate) {
  const start = from === 0 ? [] : from <= 100000 ? [`$(seq ${from})`] :
    ["|", "tail", `-c +${from + 1}`];
  return ["stepwave", ...start, "|", "aplay", "-q", "-t raw", "-f U8", `-r ${rate}`, "-c 1"];
}

// Shows the stream at sample `from`: its number, the waveform, the slope and the playhead.
function show(from) {
  $("position").textContent = String(from);
  $("playhead").style.left = `${(100 * from) / LOOP}%`;
  const canvas = $("wave");
  const g = canvas.getContext("2d");
  const { width, height } = canvas;
  const pad = 4; // keeps the line for 0 and 255 inside the box
  g.clearRect(0, 0, width, height);
  g.strokeStyle = getComputedStyle(canvas).color;
  g.lineWidth = 1.5;
  g.beginPath();
  for (let i = 0; i < SHOWN; i++) {
    const y = pad + ((255 - loop[(from + i) % LOOP]) * (height - 2 * pad)) / 255;
    g.lineTo((i * width) / SHOWN, y);
    g.lineTo(((i + 1) * width) / SHOWN, y);
  }
  g.stroke();
  const current = ((from + 1) >>> 12) & 15;
  for (const [k, item] of [...$("slopes").children].entries()) {
    item.toggleAttribute("aria-current", k === current);
  }
}

const where = () => (player.wanted ? player.position() : use.from); // the same, stopped too

// The whole loop as a picture: for each 4096-sample stretch a bar, two pixels wide, over
// its bytes' mean give or take their standard deviation.
const stretches = new Float64Array(2 * (LOOP / 4096)); // each stretch's mean and deviation

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

function overview() {
  const canvas = $("overview");
  const g = canvas.getContext("2d");
  g.clearRect(0, 0, canvas.width, canvas.height);
  g.fillStyle = getComputedStyle(canvas).color;
  for (let k = 0; k < LOOP / 4096; k++) {
    const [mean, spread] = stretches.subarray(2 * k, 2 * k + 2);
    g.fillRect(2 * k, (255 - mean - spread) / 2, 2, Math.max(1, spread));
  }
}

// The sixteen slopes, as the module gives them, drawn as bars with their values.
function slopes() {
  const values = Array.from({ length: 16 }, (_, k) => formula.ramp_multiplier(k << 12));
  const top = Math.max(...values) || 1;
  $("slopes").replaceChildren(...values.map((m) => {
    const item = document.createElement("li");
    item.textContent = String(m);
    item.style.setProperty("--height", `${(100 * m) / top}%`);
    return item;
  }));
}

// Goes to sample `at`, held within the loop: shows it everywhere and plays from there.
function seek(at) {
  const from = Math.min(LOOP - 1, Math.max(0, at));
  use.from = from;
  $("start").value = time(from, use.rate);
  $("map").setAttribute("aria-valuenow", String(from));
  $("map").setAttribute("aria-valuetext", `${time(from, use.rate)} s, sample ${from}`);
  const words = command(from, use.rate).map((word) => {
    const span = document.createElement("span");
    span.textContent = word;
    return span;
  });
  $("command").replaceChildren(...words.flatMap((span) => [" ", span]).slice(1));
  show(from);
  if (player.context) player.cue(from);
}

function unread(text, what, now) {
  return text.trim() ? `“${text.trim()}” is not a number of seconds; ${now}.` :
    `Give the ${what} in seconds; ${now}.`;
}

// The start box: a time in seconds, wrapped into the loop. The value the box already
// shows is no new start, as when the browser reports it as a change after Enter took it.
function start() {
  const text = $("start").value;
  if (text === time(use.from, use.rate)) return;
  const seconds = number(text);
  const asked = Math.round(seconds * use.rate);
  const loop = (LOOP / use.rate).toFixed(1);
  const now = `the start stays at ${time(use.from, use.rate)} s`;
  if (Number.isNaN(seconds)) {
    note("start", unread(text, "start", now));
  } else if (!Number.isSafeInteger(asked)) {
    note("start", `${text.trim()} s is too far to count in samples; ${now}.`);
  } else if (asked < 0) {
    note("start", `${text.trim()} s is before the stream begins; it starts at 0 s.`);
  } else {
    const from = asked % LOOP;
    note("start", asked < LOOP ? "" : `${text.trim()} s is past the end of the ${loop} s ` +
      `loop, so it starts at ${time(from, use.rate)} s.`);
    return seek(from);
  }
  seek(asked < 0 ? 0 : use.from);
}

// The length box: whole seconds, from 1 to 600.
function length() {
  const text = $("seconds").value;
  if (text === String(use.seconds)) return;
  const seconds = Math.round(number(text));
  if (Number.isNaN(seconds)) {
    note("seconds", unread(text, "length", `the length stays at ${use.seconds} s`));
  } else {
    use.seconds = Math.min(600, Math.max(1, seconds));
    note("seconds", use.seconds === seconds ? "" :
      `A file is 1 to 600 s long; this one is ${use.seconds} s.`);
  }
  $("seconds").value = String(use.seconds);
}

// A rate change goes on from the sample playing.
function rate() {
  const from = where();
  use.rate = Number($("rate").value);
  $("loop").textContent = (LOOP / use.rate).toFixed(1);
  note("start", "");
  seek(from);
}

// An 8-bit mono WAV file of `count` samples from `from`; its data is the stream's bytes.
function wav(from, count, rate) {
  const head = new DataView(new ArrayBuffer(44));
  const text = (at, s) => [...s].forEach((c, i) => head.setUint8(at + i, c.charCodeAt(0)));
  text(0, "RIFF");
  head.setUint32(4, 36 + count + (count % 2), true); // a chunk has even length
  text(8, "WAVEfmt ");
  head.setUint32(16, 16, true); // the format chunk: its size, PCM, one channel,
  head.setUint16(20, 1, true);
  head.setUint16(22, 1, true);
  head.setUint32(24, rate, true); // samples and bytes a second,
  head.setUint32(28, rate, true);
  head.setUint16(32, 1, true); // bytes and bits a sample
  head.setUint16(34, 8, true);
  text(36, "data");
  head.setUint32(40, count, true);
  const parts = [head];
  for (let at = from, left = count; left > 0; at = 0) {
    const end = Math.min(LOOP, at + left);
    parts.push(whole.slice(at, end));
    left -= end - at;
  }
  return new Blob([...parts, new Uint8Array(count % 2)], { type: "audio/wav" });
}

function save() {
  const { from, seconds, rate } = use;
  const url = URL.createObjectURL(wav(from, seconds * rate, rate));
  const link = document.createElement("a");
  link.href = url;
  link.download = `stepwave-${from}-${seconds}s-${rate}.wav`;
  link.click();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// Seeks to where the pointer is on the picture of the loop.
function point(event) {
  const box = $("overview").getBoundingClientRect();
  const at = Math.floor(((event.clientX - box.left) / box.width) * LOOP);
  seek(at);
}

// Arrow keys move by one 4096-sample stretch, Page keys by the sixteen slopes' cycle.
function key(event) {
  const step = { ArrowLeft: -4096, ArrowDown: -4096, ArrowRight: 4096, ArrowUp: 4096,
    PageDown: -65536, PageUp: 65536, Home: -LOOP, End: LOOP }[event.key];
  if (!step) return;
  event.preventDefault();
  seek(where() + step);
}

async function load() {
  if (typeof WebAssembly !== "object") {
    throw new Error("This browser cannot run WebAssembly, which computes every sample. " +
      "Open the page in a current Firefox, Chrome, Edge or Safari.");
  }
  try {
    const hex = $("module").textContent.trim().match(/../g) ?? [];
    const code = Uint8Array.from(hex, (byte) => parseInt(byte, 16));
    formula = (await WebAssembly.instantiate(code)).instance.exports;
  } catch (error) {
    throw new Error(`The page's sample code could not start (${error.message}). Download ` +
      "the page again, or open it in a current Firefox, Chrome, Edge or Safari.");
  }
  loop = new Uint8Array(LOOP);
  for (let at = 0; at < LOOP; at += PIECE) {
    loop.set(bytes(at + 1, PIECE), at); // byte n is written for counter n + 1
    measure(at, at + PIECE);
    await pause();
  }
  whole = new Blob([loop]);
  await pause();
  slopes();
  overview();
  await pause();
  matchMedia("(prefers-color-scheme: dark)").addEventListener("change", () => {
    overview();
    show(where());
  });
  $("wav").addEventListener("click", save);
  $("volume").addEventListener("input", () => {
    use.volume = Number($("volume").value);
    if (player.gain) player.gain.gain.value = use.volume;
  });
  $("rate").addEventListener("change", rate);
  // A box takes what was typed on Enter, or when it is left.
  for (const [id, take] of [["start", start], ["seconds", length]]) {
    $(id).addEventListener("change", take);
    $(id).addEventListener("keydown", (event) => event.key === "Enter" && take());
    $(id).addEventListener("input", () => note(id, "")); // a note is about what was typed before
  }
  $("map").addEventListener("pointerdown", (event) => {
    $("map").setPointerCapture(event.pointerId);
    point(event);
  });
  $("map").addEventListener("pointermove", (event) => {
    if ($("map").hasPointerCapture(event.pointerId)) point(event);
  });
  $("map").addEventListener("keydown", key);
  $("wav").disabled = false;
  seek(0);
  if (typeof AudioContext !== "function") {
    throw new Error("This browser has no Web Audio, so the page cannot play; the " +
      "waveform and Save WAV still work. A current Firefox, Chrome, Edge or Safari plays.");
  }
  // Asking for the sound devices starts the audio service without blocking the page, as
  // opening the first context would. Play tries again if this fails.
  player.opening = Promise.resolve(navigator.mediaDevices?.enumerateDevices())
    .then(() => player.open()).catch(() => (player.asked = 0));
  $("play").addEventListener("click", () => player.toggle());
  document.addEventListener("keydown", (event) => {
    const control = event.target.closest?.("input, select, button, textarea, a");
    const held = event.ctrlKey || event.altKey || event.metaKey || event.repeat;
    if (event.key === " " && !control && !held) {
      event.preventDefault();
      player.toggle();
    }
  });
  $("play").disabled = false;
}

const ready = load().catch((error) => say(error.message));

window.stepwave = { ready, bytes, player };
