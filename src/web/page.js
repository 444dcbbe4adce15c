// The page around the demo. It downloads the three data files and the
// program, waits for a click or a key (browsers let a page make sound only
// after one), puts the files in the program's working folder and runs main().
// From then on the program is the desktop's: its SDL calls land in
// src/web/sdl.cpp, which calls back here through Module.page to show frames,
// play the sound loop and give the browser its turn after each frame.
//
// index.html?stop=N draws frames 1 to N, leaves frame N on the canvas and
// writes the SHA-256 of its 0x00RRGGBB words into #frame-sha256, hashed by
// the browser (crypto.subtle: a secure context, such as a page on localhost).
'use strict';

(function () {
  const DATA_DIR = 'data/';
  // What the program opens from its working folder, in the order it reads
  // them, and its fixed memory: the build fills them in (cmake/Facts.cmake).
  const DATA_FILES = ['@VELMORANTE_DATA_FILES_JS@'];
  const MEMORY_MB = @VELMORANTE_WEB_MEMORY_MB@;
  const PROGRAM = 'velmorante.js';
  const LAST_FRAME = 2147483647;  // the frame counter is a signed 32-bit number
  const SAMPLE_SCALE = 32768;     // signed 16-bit samples to Web Audio's -1..1
  // The program reads at most 32 MiB and 128 bytes of any file: a much larger
  // one is not one of its files, and is not held in memory.
  const MAX_FILE_BYTES = 64 * 1024 * 1024;

  const $ = (id) => document.getElementById(id);
  const stage = $('stage');
  const canvas = $('screen');

  // What the page is doing, for the reader of the page and for its tests.
  const state = (window.velmorante = {
    phase: 'loading',   // loading, starting, running, ended, failed
    frame: 0,           // the frame counter at the last frame shown or the last turn given
    framesShown: 0,     // frames handed to the canvas
    startupMs: null,    // end of the downloads (or the start gesture, if later) to the first frame shown
    rateLine: null,     // the program's last frame-rate line
    audio: null,        // {context, rate, channels, buffer, source} once the device is open
    message: null,      // the text of the last message shown
  });

  // ---- Messages ---------------------------------------------------------------------
  function say(text, kind) {
    const box = $('message');
    box.replaceChildren(...text.split('\n').map((line) => {
      const p = document.createElement('p');
      p.textContent = line;
      return p;
    }));
    box.className = 'panel ' + (kind || '');
    box.hidden = false;
    state.message = text;
  }

  function fail(text) {
    if (state.phase === 'failed') return;
    state.phase = 'failed';
    $('start').hidden = true;
    $('loading').hidden = true;
    say(text, 'error');
  }

  const count = (n) => n.toLocaleString('en');

  // ---- ?stop=N ------------------------------------------------------------------------
  function stopParameter() {
    const raw = new URLSearchParams(location.search).get('stop');
    if (raw === null) return 0;
    const n = /^[0-9]{1,10}$/.test(raw) ? Number(raw) : 0;
    return n >= 1 && n <= LAST_FRAME ? n : -1;
  }

  const stopAt = stopParameter();

  // ---- Downloads ----------------------------------------------------------------------
  const progress = { expected: new Map(), received: new Map() };

  function showDownloadProgress() {
    let expected = 0, received = 0;
    for (const name of DATA_FILES) {
      expected += progress.expected.get(name) || 0;
      received += progress.received.get(name) || 0;
    }
    const share = expected ? Math.min(1, received / expected) : 0;
    $('bar-fill').style.width = (100 * share).toFixed(1) + '%';
    $('loading-text').textContent = expected
      ? `Downloading the animation… ${(received / 1e6).toFixed(1)} of ${(expected / 1e6).toFixed(1)} MB`
      : 'Downloading the animation…';
  }

  async function download(name) {
    const url = DATA_DIR + name;
    let response;
    try {
      response = await fetch(url);
    } catch (e) {
      throw new Error(`Could not fetch ${url}: ${e.message}.`);
    }
    if (!response.ok) throw new Error(`Could not fetch ${url}: HTTP ${response.status} ${response.statusText}.`);
    const tooLarge = new Error(`${url} is larger than ${MAX_FILE_BYTES / 1048576} MB: not one of the demo's files.`);
    const length = Number(response.headers.get('Content-Length')) || 0;
    if (length > MAX_FILE_BYTES) throw tooLarge;
    progress.expected.set(name, length);
    if (!response.body) {  // no stream to count: the whole file at once
      const whole = new Uint8Array(await response.arrayBuffer());
      if (whole.length > MAX_FILE_BYTES) throw tooLarge;
      return whole;
    }
    const parts = [];
    let received = 0;
    const reader = response.body.getReader();
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      received += value.length;
      if (received > MAX_FILE_BYTES) {
        reader.cancel();
        throw tooLarge;
      }
      parts.push(value);
      progress.received.set(name, received);
      showDownloadProgress();
    }
    const bytes = new Uint8Array(received);
    let at = 0;
    for (const part of parts) {
      bytes.set(part, at);
      at += part.length;
    }
    return bytes;
  }

  // ---- The program's runtime ----------------------------------------------------------
  let runtimeReady;
  const runtime = new Promise((resolve) => { runtimeReady = resolve; });

  function loadProgram() {
    const script = document.createElement('script');
    script.src = PROGRAM;
    script.onerror = () => fail(`Could not fetch ${PROGRAM}, the program itself.`);
    document.body.appendChild(script);
  }

  // Why the runtime stopped, in words: before the start, most often the
  // browser would not give the memory ("Out of memory: Cannot allocate Wasm
  // memory", "could not allocate memory", "larger than implementation limit");
  // a trap such as "memory access out of bounds" is something else.
  function aborted(what) {
    const text = String(what);
    if (state.phase === 'running' || state.phase === 'ended') {
      fail(`The demo stopped: ${text}`);
    } else if (/out of memory|allocate|implementation limit/i.test(text)) {
      fail(`This browser could not give the demo the ${MEMORY_MB} MB of memory it needs.\n` +
           'Close other tabs or use a 64-bit browser, then reload the page.\n(' + text + ')');
    } else {
      fail(`The demo could not start: ${text}`);
    }
  }

  // The program's standard output: the frame-rate line once a second, and
  // during loading the numbers of chunk types it does not decode.
  function programPrint(line) {
    console.log(line);
    if (state.phase !== 'running') return;
    state.rateLine = line;
    $('rate-text').textContent = `${line} frames/s`;
    $('rate').hidden = !rateShown;
  }

  // ?stop=N: frames before N are drawn but not shown; the bar counts them.
  function showDrawingAhead(frame) {
    const fill = $('bar-fill');
    fill.className = '';
    fill.style.width = (100 * frame / stopAt).toFixed(1) + '%';
    $('loading-text').textContent = `Drawing frame ${count(frame)} of ${count(stopAt)}…`;
  }

  // ---- What the program's SDL calls (src/Plasma_web.cpp) --------------------------------
  let context2d = null;
  let image = null;          // ImageData over the program's canvas bytes, made once
  let resumeProgram = null;
  const turns = new MessageChannel();
  turns.port1.onmessage = () => {
    const resume = resumeProgram;
    resumeProgram = null;
    if (resume) resume();
  };

  const page = {
    openDisplay(w, h) {
      canvas.width = w;
      canvas.height = h;
      context2d = canvas.getContext('2d');
    },
    stopFrame: () => Math.max(stopAt, 0),
    setCaption(title) { document.title = title; },
    showCursor(shown) { canvas.style.cursor = shown ? '' : 'none'; },
    // rgba: the picture as bytes R, G, B, 255, a view of the program's memory
    // (which never moves: it does not grow), so the ImageData is made once.
    showFrame(rgba, w, h, frame) {
      if (!image || image.data.buffer !== rgba.buffer || image.data.byteOffset !== rgba.byteOffset ||
          image.width !== w || image.height !== h) {
        image = new ImageData(new Uint8ClampedArray(rgba.buffer, rgba.byteOffset, rgba.length), w, h);
      }
      context2d.putImageData(image, 0, 0);
      state.frame = frame;
      if (++state.framesShown === 1) firstFrameShown();
    },
    // words: a copy of frame N's 0x00RRGGBB words, row 0 first.
    stopReached(frame, words) {
      $('stop-frame').textContent = count(frame);
      $('stop-line').hidden = false;
      const shown = $('frame-sha256');
      if (!window.crypto || !crypto.subtle) {
        shown.textContent = 'not available: the browser hashes only in a secure context ' +
          '(https, or a page on localhost or 127.0.0.1)';
        return;
      }
      crypto.subtle.digest('SHA-256', words).then((h) => {
        shown.textContent = [...new Uint8Array(h)].map((b) => b.toString(16).padStart(2, '0')).join('');
      });
    },
    openAudio(rate, channels) {
      const AudioContextClass = window.AudioContext || window.webkitAudioContext;
      if (!AudioContextClass) return false;
      try {
        state.audio = { context: new AudioContextClass(), rate, channels, buffer: null, source: null };
      } catch (e) {
        console.warn('No audio: ' + e.message);
        return false;
      }
      state.audio.context.resume().catch(() => {});
      return true;
    },
    // bytes: the chunk, interleaved signed 16-bit little-endian samples,
    // looped without a gap from its first sample frame.
    playLoop(bytes) {
      const a = state.audio;
      const samples = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
      const frames = bytes.byteLength / (2 * a.channels);
      a.buffer = a.context.createBuffer(a.channels, frames, a.rate);
      for (let c = 0; c < a.channels; c++) {
        const out = a.buffer.getChannelData(c);
        for (let i = 0; i < frames; i++) out[i] = samples.getInt16(2 * (i * a.channels + c), true) / SAMPLE_SCALE;
      }
      a.source = a.context.createBufferSource();
      a.source.buffer = a.buffer;
      a.source.loop = true;
      a.source.connect(a.context.destination);
      a.source.start();
    },
    closeAudio() {
      const a = state.audio;
      if (!a) return;
      if (a.source) a.source.stop();
      a.context.close().catch(() => {});
    },
    closed(frame) {
      state.phase = 'ended';
      state.frame = frame;
      $('rate').hidden = true;
      $('loading').hidden = true;  // Escape while ?stop=N was drawing ahead
      say(stopAt && frame === stopAt
        ? `Stopped at frame ${count(frame)}, as ?stop=${stopAt} asked.`
        : `The demo has ended, after frame ${count(frame)}. Reload the page to watch it again.`, 'lower');
    },
    yieldToBrowser(frame) {
      state.frame = frame;
      if (stopAt > 0 && state.framesShown === 0) showDrawingAhead(frame);
      return new Promise((resolve) => {
        resumeProgram = resolve;
        turns.port2.postMessage(null);
      });
    },
  };
  state.page = page;

  window.Module = {
    noInitialRun: true,
    print: programPrint,
    printErr: (line) => console.warn(line),
    onRuntimeInitialized: () => runtimeReady(),
    onAbort: aborted,
    page,
  };

  // ---- Start ----------------------------------------------------------------------------
  let gestured = false;
  let downloaded = null;   // file name -> bytes, once every download is in
  let startsFrom = 0;      // performance.now() when start-up could begin

  function firstFrameShown() {
    state.phase = 'running';
    state.startupMs = performance.now() - startsFrom;
    $('loading').hidden = true;
  }

  async function start() {
    if (!gestured || !downloaded || state.phase !== 'loading') return;
    state.phase = 'starting';
    startsFrom = performance.now();
    await runtime;
    if (state.phase !== 'starting') return;
    const FS = Module.FS;
    FS.mkdir('/data');
    for (const name of DATA_FILES) FS.writeFile('/data/' + name, downloaded.get(name));
    FS.chdir('/data');
    downloaded = new Map();  // the program holds its copy now
    $('bar-fill').className = 'busy';
    $('loading-text').textContent = 'Decoding the animation…';
    // Let the page paint that before start-up takes the main thread.
    requestAnimationFrame(() => setTimeout(() => {
      try {
        Module.callMain([]);
      } catch (e) {
        if (e !== 'unwind') aborted(e && e.message ? e.message : e);
      }
    }, 0));
  }

  function gesture() {
    if (gestured || state.phase !== 'loading') return;
    gestured = true;
    $('start').hidden = true;
    start();
  }

  // ---- Keys, full screen, the frame-rate overlay -----------------------------------------
  let rateShown = true;

  function toggleFullscreen() {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (stage.requestFullscreen) stage.requestFullscreen().catch(() => {});
  }

  function showRate(shown) {
    rateShown = shown;
    $('rate-toggle').setAttribute('aria-pressed', String(shown));
    $('rate').hidden = !shown || state.phase !== 'running';
  }

  // Keys the browser would scroll the page with are the program's while it runs.
  const SCROLL_KEYS = new Set([' ', 'ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight', 'PageUp', 'PageDown']);

  function onKey(e) {
    const down = e.type === 'keydown';
    if (down && (e.key === 'f' || e.key === 'F') && !e.ctrlKey && !e.metaKey && !e.altKey) toggleFullscreen();
    if (down && state.phase === 'loading') gesture();
    if (state.phase === 'running' && !e.repeat) {
      Module._pageKey(down ? 1 : 0, e.keyCode);
      if (SCROLL_KEYS.has(e.key)) e.preventDefault();
    }
  }

  document.addEventListener('keydown', onKey);
  document.addEventListener('keyup', onKey);
  stage.addEventListener('click', gesture);
  $('fullscreen').addEventListener('click', toggleFullscreen);
  $('rate-toggle').addEventListener('click', () => showRate(!rateShown));
  $('rate-hide').addEventListener('click', () => showRate(false));

  // ---- Off we go --------------------------------------------------------------------------
  if (stopAt < 0) {
    fail(`?stop= takes a frame number from 1 to ${count(LAST_FRAME)}.`);
    return;
  }
  if (typeof WebAssembly !== 'object') {
    fail('This browser cannot run WebAssembly, which the demo is made of.');
    return;
  }
  loadProgram();
  Promise.all(DATA_FILES.map(download)).then((files) => {
    downloaded = new Map(DATA_FILES.map((name, k) => [name, files[k]]));
    $('bar-fill').style.width = '100%';
    $('loading-text').textContent = gestured ? 'Starting…' : 'Ready.';
    start();
  }, (e) => fail(`${e.message}\nThe demo needs its three data files in ${DATA_DIR} beside the page.`));
})();
