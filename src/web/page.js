// The page around the demo. It downloads the three data files and the
// program, waits for a click or a key (browsers let a page make sound only
// after one), puts the files in the program's working folder and runs main().
// From then on the program is the desktop's: its SDL calls land in
// src/web/sdl.cpp, which calls back here through Module.page to show frames,
// play the sound loop and give the browser its turn after each frame. While
// the tab is hidden the loop waits at its turn and the sound is suspended.
// The volume and the mute are the page's, after the loop (a gain node), and
// the page remembers them.
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
  const STALL_MS = 30000;            // a download that receives nothing for this long has stalled
  const CONSOLE_BURST_LINES = 200;   // the program's lines to the console between two of its turns

  const $ = (id) => document.getElementById(id);
  const stage = $('stage');
  const canvas = $('screen');

  // What the page is doing, for the reader of the page and for its tests.
  const state = (window.velmorante = {
    phase: 'loading',   // loading, starting, running, ended, failed
    frame: 0,           // the frame counter at the last frame shown or the last turn given
    framesShown: 0,     // frames handed to the canvas
    startupMs: null,    // end of the downloads (or the start gesture, if later) to the first frame shown
    paused: false,      // the loop waits at its turn because the tab is hidden
    rateLine: null,     // the program's last frame-rate line
    audio: null,        // {context, gain, rate, channels, buffer, source} once the device is open
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
  const NEEDS_FILES = `The demo needs its three data files in ${DATA_DIR} beside the page.`;

  const mb = (n) => (n / 1e6).toFixed(1);  // bytes as megabytes, to a tenth

  function showDownloadProgress() {
    let expected = 0, received = 0;
    for (const name of DATA_FILES) {
      expected += progress.expected.get(name) || 0;
      received += progress.received.get(name) || 0;
    }
    const share = expected ? Math.min(1, received / expected) : 0;
    $('bar-fill').style.width = (100 * share).toFixed(1) + '%';
    $('loading-text').textContent = expected
      ? `Downloading the animation… ${mb(received)} of ${mb(expected)} MB`
      : 'Downloading the animation…';
  }

  // A watch on one download: `arrived` each time bytes come; after STALL_MS
  // without any it aborts the fetch and remembers that it did.
  function stallWatch() {
    const watch = { controller: new AbortController(), stalled: false, timer: 0 };
    watch.arrived = () => {
      clearTimeout(watch.timer);
      watch.timer = setTimeout(() => {
        watch.stalled = true;
        watch.controller.abort();
      }, STALL_MS);
    };
    watch.end = () => clearTimeout(watch.timer);
    watch.arrived();
    return watch;
  }

  // What went wrong with a download that had begun, in words, with the file
  // and how far it got.
  function downloadFailure(url, watch, received, expected, cause) {
    const got = expected ? `${mb(received)} of ${mb(expected)} MB` : `${mb(received)} MB`;
    if (watch.stalled) {
      return new Error(`The download of ${url} stalled: nothing arrived for ${STALL_MS / 1000} s ` +
                       `(${got} received).\nCheck the connection, then reload the page.`);
    }
    return new Error(`The download of ${url} was cut short after ${got}` +
                     (cause ? ` (${cause}).` : '.') + '\nReload the page to try again.');
  }

  async function download(name) {
    const url = DATA_DIR + name;
    const watch = stallWatch();
    try {
      return await downloadWatched(url, name, watch);
    } finally {
      watch.end();
    }
  }

  async function downloadWatched(url, name, watch) {
    let response;
    try {
      response = await fetch(url, { signal: watch.controller.signal });
    } catch (e) {
      if (watch.stalled) throw downloadFailure(url, watch, 0, 0);
      throw new Error(`Could not fetch ${url}: ${e.message}.\n${NEEDS_FILES}`);
    }
    if (!response.ok) {
      throw new Error(`Could not fetch ${url}: HTTP ${response.status} ${response.statusText}.\n${NEEDS_FILES}`);
    }
    const tooLarge = new Error(`${url} is larger than ${MAX_FILE_BYTES / 1048576} MB: not one of the demo's files.\n` +
                               NEEDS_FILES);
    // The length on the wire is the file's own unless it comes compressed.
    const encoding = response.headers.get('Content-Encoding');
    const length = Number(response.headers.get('Content-Length')) || 0;
    const expected = !encoding || encoding === 'identity' ? length : 0;
    if (length > MAX_FILE_BYTES) throw tooLarge;
    progress.expected.set(name, length);
    if (!response.body) return new Uint8Array(0);  // a response without a body (204): an empty file
    const parts = [];
    let received = 0;
    const reader = response.body.getReader();
    for (;;) {
      let chunk;
      try {
        chunk = await reader.read();
      } catch (e) {
        throw downloadFailure(url, watch, received, expected, e.message);
      }
      watch.arrived();
      if (chunk.done) break;
      received += chunk.value.length;
      if (received > MAX_FILE_BYTES) {
        reader.cancel();
        throw tooLarge;
      }
      parts.push(chunk.value);
      progress.received.set(name, received);
      showDownloadProgress();
    }
    if (received < expected) throw downloadFailure(url, watch, received, expected);
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
    endBurst();
    if (state.phase === 'running' || state.phase === 'ended' || state.frame > 0) {
      fail(`The demo stopped: ${text}`);
    } else if (/out of memory|allocate|implementation limit/i.test(text)) {
      fail(`This browser could not give the demo the ${MEMORY_MB} MB of memory it needs.\n` +
           'Close other tabs or use a 64-bit browser, then reload the page.\n(' + text + ')');
    } else {
      fail(`The demo could not start: ${text}`);
    }
  }

  // The program's standard output and error go to the console a burst at a
  // time: a burst is what it prints between two turns it gives the browser.
  // The loader prints the number of each chunk type it does not decode, up to
  // 65,535 lines at once for a damaged animation, and the console takes about
  // 0.2 ms a line; past CONSOLE_BURST_LINES a burst's lines are counted, and
  // the count is printed when the burst ends.
  const burst = { printed: 0, held: 0 };

  function toConsole(line, show) {
    if (burst.printed >= CONSOLE_BURST_LINES) {
      burst.held++;
      return;
    }
    burst.printed++;
    show(line);
  }

  function endBurst() {
    if (burst.held) console.log(`(${count(burst.held)} more lines of the demo's output not shown)`);
    burst.printed = burst.held = 0;
  }

  // The program's standard output: the frame-rate line once a second, and
  // during loading the numbers of chunk types it does not decode.
  function programPrint(line) {
    toConsole(line, console.log);
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

  // ---- The loop's turns ------------------------------------------------------------------
  // The program resumes on the browser's next task, through a message the page
  // posts to itself (a zero-delay timer would be held back to 4 ms), unless
  // the tab is hidden: then it waits, the sound suspended, until the tab shows.
  let resumeProgram = null;
  const turns = new MessageChannel();
  turns.port1.onmessage = () => {
    if (!resumeProgram) return;
    if (document.hidden) {
      state.paused = true;
      return;
    }
    const resume = resumeProgram;
    resumeProgram = null;
    resume();
  };

  function onVisibility() {
    const a = state.audio;
    if (a && a.context.state !== 'closed') {
      (document.hidden ? a.context.suspend() : a.context.resume()).catch(() => {});
    }
    if (!document.hidden && state.paused) {
      state.paused = false;
      turns.port2.postMessage(null);
    }
  }

  // ---- What the program's SDL calls (src/web/sdl.cpp) -------------------------------------
  let context2d = null;
  let image = null;          // ImageData over the program's canvas bytes, made once

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
      let context, gain;
      try {
        context = new AudioContextClass();
        gain = context.createGain();
      } catch (e) {
        console.warn('No audio: ' + e.message);
        return false;
      }
      gain.connect(context.destination);
      state.audio = { context, gain, rate, channels, buffer: null, source: null };
      applySound();
      (document.hidden ? context.suspend() : context.resume()).catch(() => {});
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
      a.source.connect(a.gain);
      a.source.start();
    },
    closeAudio() {
      const a = state.audio;
      if (!a) return;
      if (a.source) a.source.stop();
      a.context.close().catch(() => {});
    },
    closed(frame) {
      endBurst();
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
      endBurst();
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
    printErr: (line) => toConsole(line, console.warn),
    onRuntimeInitialized: () => runtimeReady(),
    onAbort: aborted,
    page,
  };

  // ---- Start ----------------------------------------------------------------------------
  let gestured = false;
  let programCalled = false;  // main() has been called: keys go to the program
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
      if (state.phase !== 'starting') return;  // Escape came first
      programCalled = true;
      try {
        Module.callMain([]);
      } catch (e) {
        if (e !== 'unwind') aborted(e && e.message ? e.message : e);
      } finally {
        endBurst();  // what start-up printed, if it ended without a turn
      }
    }, 0));
  }

  function gesture() {
    if (gestured || state.phase !== 'loading') return;
    gestured = true;
    $('start').hidden = true;
    start();
  }

  // Escape before the program runs: it is not started.
  function endBeforeStart() {
    if (state.phase !== 'loading' && state.phase !== 'starting') return;
    state.phase = 'ended';
    $('start').hidden = true;
    $('loading').hidden = true;
    say('Escape pressed: the demo was not started. Reload the page to start it.');
  }

  // ---- The volume and the mute ----------------------------------------------------------
  // After the loop, a gain node: the samples handed to Web Audio stay the
  // loop's. The slider's share v gives the gain v * v (half way: a quarter,
  // -12 dB), finer where the noise is quieter; full is the loop's own level,
  // the start unless the viewer set another on this page before. Both are
  // remembered in localStorage; a browser that refuses storage gets the
  // defaults and nothing remembered.
  const VOLUME_KEY = 'velmorante.volume';  // the slider's share, 0 to 1
  const MUTED_KEY = 'velmorante.muted';    // '1' or '0'
  const VOLUME_STEPS = 100;                // the slider's positions past 0
  const sound = { volume: 1, muted: false };

  function storageGet(key) {
    try {
      return window.localStorage.getItem(key);
    } catch (e) {
      return null;
    }
  }

  function storageSet(key, value) {
    try {
      window.localStorage.setItem(key, value);
    } catch (e) {
      // refused (storage blocked, private mode, full): not remembered
    }
  }

  function loadSound() {
    const raw = storageGet(VOLUME_KEY);
    const volume = raw === null ? NaN : Number(raw);
    if (Number.isFinite(volume)) sound.volume = Math.min(1, Math.max(0, volume));
    sound.muted = storageGet(MUTED_KEY) === '1';
  }

  function applySound() {
    $('volume').value = String(Math.round(sound.volume * VOLUME_STEPS));
    const mute = $('mute');
    mute.setAttribute('aria-pressed', String(sound.muted));
    mute.firstChild.textContent = sound.muted ? 'Unmute ' : 'Mute ';
    if (state.audio) state.audio.gain.gain.value = sound.muted ? 0 : sound.volume * sound.volume;
  }

  function setVolume(share) {
    sound.volume = share;
    storageSet(VOLUME_KEY, String(share));
    applySound();
  }

  function toggleMute() {
    sound.muted = !sound.muted;
    storageSet(MUTED_KEY, sound.muted ? '1' : '0');
    applySound();
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

  // The page's own keys (F, M) work at any time; every key goes to the program
  // once it runs (Escape ends it, as on the desktop, drawing ahead included).
  // Before that, Escape ends the page, and any other key starts the demo
  // unless it was meant for a control under the picture.
  function onKey(e) {
    const down = e.type === 'keydown';
    const plain = !e.ctrlKey && !e.metaKey && !e.altKey;
    if (down && plain && (e.key === 'f' || e.key === 'F')) toggleFullscreen();
    if (down && plain && !e.repeat && (e.key === 'm' || e.key === 'M')) toggleMute();
    if (programCalled) {
      if ((state.phase === 'starting' || state.phase === 'running') && !e.repeat) {
        Module._pageKey(down ? 1 : 0, e.keyCode);
        if (SCROLL_KEYS.has(e.key) && e.target.tagName !== 'INPUT') e.preventDefault();
      }
    } else if (down && e.key === 'Escape') {
      endBeforeStart();
    } else if (down && !$('controls').contains(e.target)) {
      gesture();
    }
  }

  document.addEventListener('keydown', onKey);
  document.addEventListener('keyup', onKey);
  stage.addEventListener('click', gesture);
  $('fullscreen').addEventListener('click', toggleFullscreen);
  $('rate-toggle').addEventListener('click', () => showRate(!rateShown));
  $('rate-hide').addEventListener('click', () => showRate(false));
  $('mute').addEventListener('click', toggleMute);
  $('volume').addEventListener('input', (e) => setVolume(Number(e.target.value) / VOLUME_STEPS));
  document.addEventListener('visibilitychange', onVisibility);
  loadSound();
  applySound();

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
  }, (e) => fail(e.message));
})();
