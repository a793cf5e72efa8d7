// stepwave's page: plays, draws and saves the stream, every sample computed by the
// program's own formula compiled to WebAssembly (stepwave.wasm).
"use strict";

const LOOP = 2097152; // the stream repeats after this many samples
const $ = (id) => document.getElementById(id);
let formula = null; // the module's exports: sample_at(t) and ramp_multiplier(t)

// Byte n of `stepwave` run with no arguments, which it writes for counter n + 1; the
// counter wraps on 32 bits as the program's does.
function byteAt(n) {
  return formula.sample_at((n + 1) | 0) & 255;
}

function settings() {
  const rate = Number($("rate").value);
  const seconds = Math.max(0, Number($("start").value) || 0);
  return { rate, from: Math.round(seconds * rate) % LOOP, volume: Number($("volume").value) };
}

// Plays the stream from sample `from` into ctx at `rate`: one buffer of a whole loop
// starting there, played round and round, which is the stream itself since the stream
// repeats after LOOP samples. Both the live player and render() play through this.
function connect(ctx, { rate, from, volume }) {
  const buffer = ctx.createBuffer(1, LOOP, rate);
  const data = buffer.getChannelData(0);
  for (let i = 0; i < LOOP; i++) data[i] = (byteAt(from + i) - 128) / 128;
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

const player = {
  context: null,
  nodes: null,
  options: null,
  async start() {
    this.options = settings();
    try {
      this.context = new AudioContext({ sampleRate: this.options.rate });
    } catch {
      this.context = new AudioContext(); // a browser without this rate resamples the buffer
    }
    this.nodes = connect(this.context, this.options);
    $("play").textContent = "Stop";
    $("play").setAttribute("aria-pressed", "true");
    await this.context.resume();
    requestAnimationFrame(() => this.animate());
  },
  stop() {
    this.context?.close();
    this.context = null;
    $("play").textContent = "Play";
    $("play").setAttribute("aria-pressed", "false");
    draw(settings().from);
  },
  toggle() {
    return this.context ? this.stop() : this.start();
  },
  // The sample being played now.
  position() {
    const { from, rate } = this.options;
    return from + Math.floor((this.context.currentTime - this.nodes.started) * rate);
  },
  animate() {
    if (!this.context) return;
    draw(this.position());
    requestAnimationFrame(() => this.animate());
  },
};

function command(from, rate) {
  const play = `aplay -q -t raw -f U8 -r ${rate} -c 1`;
  if (from === 0) return `stepwave | ${play}`;
  if (from <= 100000) return `stepwave $(seq ${from}) | ${play}`;
  return `stepwave | tail -c +${from + 1} | ${play}`;
}

function draw(from) {
  const wave = $("wave").getContext("2d");
  const { width, height } = wave.canvas;
  const count = 512;
  wave.clearRect(0, 0, width, height);
  wave.strokeStyle = "#7fd4ff";
  wave.lineWidth = 2;
  wave.beginPath();
  for (let i = 0; i < count; i++) {
    const y = height - 1 - (byteAt(from + i) * (height - 2)) / 255;
    if (i === 0) wave.moveTo(0, y);
    wave.lineTo((i * width) / count, y);
    wave.lineTo(((i + 1) * width) / count, y);
  }
  wave.stroke();

  const bars = $("slopes").getContext("2d");
  const current = (((from + 1) | 0) >>> 12) & 15;
  const slopes = Array.from({ length: 16 }, (_, k) => formula.ramp_multiplier(k << 12));
  const top = Math.max(...slopes) || 1;
  const w = bars.canvas.width / 16;
  const h = bars.canvas.height - 20;
  bars.clearRect(0, 0, bars.canvas.width, bars.canvas.height);
  bars.font = "14px system-ui, sans-serif";
  bars.textAlign = "center";
  bars.fillStyle = "rgba(232, 163, 61, 0.25)";
  bars.fillRect(current * w, 0, w, bars.canvas.height);
  slopes.forEach((m, k) => {
    bars.fillStyle = k === current ? "#e8a33d" : "#3b6e8f";
    bars.fillRect(k * w + 4, h - (m / top) * (h - 10), w - 8, (m / top) * (h - 10) + 2);
    bars.fillStyle = k === current ? "#e8a33d" : "#c8d0d8";
    bars.fillText(String(m), k * w + w / 2, h + 16);
  });
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

function update() {
  const { from, rate, volume } = settings();
  $("position").textContent = String(from);
  $("loop").textContent = (LOOP / rate).toFixed(1);
  $("command").textContent = command(from, rate);
  if (player.nodes) player.nodes.gain.gain.value = volume;
  if (!player.context) draw(from);
}

function restart() {
  update();
  if (player.context) {
    player.stop();
    player.start();
  }
}

const ready = (async () => {
  const response = await fetch("stepwave.wasm");
  if (!response.ok) throw new Error(`stepwave.wasm: ${response.status} ${response.statusText}`);
  formula = (await WebAssembly.instantiate(await response.arrayBuffer())).instance.exports;
  $("play").addEventListener("click", () => player.toggle());
  $("wav").addEventListener("click", save);
  $("volume").addEventListener("input", update);
  for (const id of ["rate", "start"]) $(id).addEventListener("change", restart);
  document.addEventListener("keydown", (event) => {
    const control = event.target.closest?.("input, select, button, textarea, a");
    if (event.key === " " && !control) {
      event.preventDefault();
      player.toggle();
    }
  });
  $("play").disabled = $("wav").disabled = false;
  update();
})();

window.stepwave = { ready, byteAt, render, wav, player, command };
