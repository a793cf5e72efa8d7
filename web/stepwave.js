// stepwave's page: plays, draws and saves the stream, every sample computed by the
// program's own formula compiled to WebAssembly, which the page carries inside it.
"use strict";

const LOOP = 2097152; // the stream repeats after this many samples
const SHOWN = 256; // samples in the waveform
const $ = (id) => document.getElementById(id);
let formula = null; // the module's exports: sample_at(t) and ramp_multiplier(t)
let samples = null; // one loop of the stream as audio samples, made on first use

// Byte n of `stepwave` run with no arguments, which it writes for counter n + 1; the
// counter wraps on 32 bits as the program's does.
function byteAt(n) {
  return formula.sample_at((n + 1) | 0) & 255;
}

// Says on the page what went wrong and what to do; an empty message clears it.
function say(message) {
  $("status").textContent = message;
  $("status").hidden = !message;
}

function settings() {
  const rate = Number($("rate").value);
  const asked = Math.round(Math.max(0, Number($("start").value) || 0) * rate);
  return { rate, asked, from: asked % LOOP, volume: Number($("volume").value) };
}

// Plays the stream from sample `from` into ctx at `rate`: one buffer of a whole loop
// starting there, played round and round, which is the stream itself since the stream
// repeats after LOOP samples. Both the live player and render() play through this.
function connect(ctx, { rate, from, volume }) {
  if (!samples) {
    samples = new Float32Array(LOOP);
    for (let i = 0; i < LOOP; i++) samples[i] = (byteAt(i) - 128) / 128;
  }
  const buffer = ctx.createBuffer(1, LOOP, rate);
  const data = buffer.getChannelData(0);
  data.set(samples.subarray(from));
  data.set(samples.subarray(0, from), LOOP - from);
  const source = new AudioBufferSourceNode(ctx, { buffer, loop: true });
  const gain = new GainNode(ctx, { gain: volume });
  source.connect(gain).connect(ctx.destination);
  source.start(ctx.currentTime);
  return { gain, started: ctx.currentTime };
}

// The first `count` samples that the player would play with these settings.
async function render(count, options = settings()) {
  const ctx = new OfflineAudioContext(1, count, options.rate);
  connect(ctx, options);
  return (await ctx.startRendering()).getChannelData(0);
}

// An AudioContext at `rate`, or at the device's rate where the browser has no other; the
// browser then resamples the stream.
function open(rate) {
  try {
    return new AudioContext({ sampleRate: rate });
  } catch {
    return new AudioContext();
  }
}

const player = {
  context: null,
  nodes: null,
  options: null,
  frame: 0,
  async start() {
    const options = (this.options = settings());
    $("play").textContent = "Stop";
    let context = null;
    try {
      context = this.context = open(options.rate);
      this.nodes = connect(context, options);
      // A browser that may not play leaves the promise pending, so it is not awaited alone.
      await Promise.race([context.resume(), new Promise((done) => setTimeout(done, 3000))]);
      if (context === this.context && context.state !== "running") {
        throw new Error("the browser kept it paused");
      }
    } catch (error) {
      if (context !== this.context) return; // stopped meanwhile
      this.stop();
      say(`The sound could not start (${error.message}). Check that this device has a ` +
        "sound output and that the browser may play sound here, then press Play again.");
      return;
    }
    if (context !== this.context) return;
    say("");
    this.frame = requestAnimationFrame(() => this.animate());
  },
  stop() {
    cancelAnimationFrame(this.frame);
    this.context?.close();
    this.context = this.nodes = null;
    $("play").textContent = "Play";
    show(settings().from);
  },
  toggle() {
    return this.context ? this.stop() : this.start();
  },
  // The sample being played now.
  position() {
    const { from, rate } = this.options;
    return (from + Math.floor((this.context.currentTime - this.nodes.started) * rate)) % LOOP;
  },
  animate() {
    show(this.position());
    this.frame = requestAnimationFrame(() => this.animate());
  },
};

function command(from, rate) {
  const play = `aplay -q -t raw -f U8 -r ${rate} -c 1`;
  if (from === 0) return `stepwave | ${play}`;
  if (from <= 100000) return `stepwave $(seq ${from}) | ${play}`;
  return `stepwave | tail -c +${from + 1} | ${play}`;
}

// Shows the stream at sample `from`: its number, the waveform and the current slope.
function show(from) {
  $("position").textContent = String(from);
  const canvas = $("wave");
  const g = canvas.getContext("2d");
  const { width, height } = canvas;
  const pad = 4; // keeps the line for 0 and 255 inside the box
  g.clearRect(0, 0, width, height);
  g.strokeStyle = "#7fd4ff";
  g.lineWidth = 1.5;
  g.beginPath();
  for (let i = 0; i < SHOWN; i++) {
    const y = pad + ((255 - byteAt(from + i)) * (height - 2 * pad)) / 255;
    g.lineTo((i * width) / SHOWN, y);
    g.lineTo(((i + 1) * width) / SHOWN, y);
  }
  g.stroke();
  const current = (((from + 1) | 0) >>> 12) & 15;
  [...$("slopes").children].forEach((item, k) => item.classList.toggle("current", k === current));
}

// The sixteen slopes, as the module gives them, drawn as bars with their values.
function slopes() {
  const list = $("slopes");
  const values = Array.from({ length: 16 }, (_, k) => formula.ramp_multiplier(k << 12));
  const top = Math.max(...values) || 1;
  list.replaceChildren(...values.map((m) => {
    const item = document.createElement("li");
    item.textContent = String(m);
    item.style.setProperty("--height", `${(100 * m) / top}%`);
    return item;
  }));
}

// An 8-bit mono WAV file of `count` samples from `from`; its data is the stream's bytes.
function wav(from, count, rate) {
  const bytes = new Uint8Array(44 + count + (count % 2)); // a chunk has even length
  const view = new DataView(bytes.buffer);
  const text = (at, s) => [...s].forEach((c, i) => view.setUint8(at + i, c.charCodeAt(0)));
  text(0, "RIFF");
  view.setUint32(4, bytes.length - 8, true);
  text(8, "WAVEfmt ");
  view.setUint32(16, 16, true); // the format chunk's size
  view.setUint16(20, 1, true); // integer PCM
  view.setUint16(22, 1, true); // one channel
  view.setUint32(24, rate, true); // samples a second
  view.setUint32(28, rate, true); // bytes a second
  view.setUint16(32, 1, true); // bytes a sample
  view.setUint16(34, 8, true); // bits a sample
  text(36, "data");
  view.setUint32(40, count, true);
  for (let i = 0; i < count; i++) bytes[44 + i] = byteAt(from + i);
  return bytes;
}

function save() {
  const { from, rate } = settings();
  const seconds = Math.min(600, Math.max(1, Math.round(Number($("seconds").value) || 1)));
  const file = new Blob([wav(from, seconds * rate, rate)], { type: "audio/wav" });
  const url = URL.createObjectURL(file);
  const link = document.createElement("a");
  link.href = url;
  link.download = `stepwave-${from}-${seconds}s-${rate}.wav`;
  link.click();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// Shows the settings in use. A changed start or rate puts the start in the box as the
// samples give it, and says when it was past the loop's end.
function update(event) {
  const { from, asked, rate, volume } = settings();
  const loop = (LOOP / rate).toFixed(1);
  if (event?.type === "change") {
    $("start").value = String(from / rate);
    const note = `${asked / rate} s is past the end of the ${loop} s loop, so it starts at`;
    $("wrapped").textContent = asked < LOOP ? "" : `${note} ${from / rate} s.`;
  }
  $("loop").textContent = loop;
  $("command").textContent = command(from, rate);
  if (player.nodes) player.nodes.gain.gain.value = volume;
  if (!player.context) show(from);
}

function restart(event) {
  update(event);
  if (player.context) {
    player.stop();
    player.start();
  }
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
  slopes();
  $("wav").addEventListener("click", save);
  $("volume").addEventListener("input", update);
  for (const id of ["rate", "start"]) $(id).addEventListener("change", restart);
  $("wav").disabled = false;
  update();
  if (typeof AudioContext !== "function") {
    throw new Error("This browser has no Web Audio, so the page cannot play; the " +
      "waveform and Save WAV still work. A current Firefox, Chrome, Edge or Safari plays.");
  }
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

window.stepwave = { ready, byteAt, render, wav, player };
