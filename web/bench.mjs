// bench.mjs: the world step's median time in the browser beside the native
// one, and the toy's page at full speed and on a slow CPU.
//
//   node web/bench.mjs
//
// Runs the native step timing helper (build/vesk_step_bench, or
// $VESK_STEP_BENCH) and the same helper built to WebAssembly
// (build-web/bench.html, or the page folder $VESK_WEB_DIR) in headless
// Chromium, by turns and never both at once, and prints their medians side
// by side. Each side runs RUNS times; the figures are, phase by phase, the
// middle run's median.
//
// Then the toy's own page, in one run: its pace in frames a second with the
// CPU at full speed and throttled THROTTLE times (Chromium's DevTools
// protocol, as a mid-range phone is emulated), windows of both taken by
// turns, and a bare timer loop on a blank page the same way (the throttle
// alone pauses the main thread and delays its timers); and where a frame's
// time goes at each rate: the delay's timer (the time asked and how late it
// fires), the frame's work from the timer to the next delay, and the main
// thread's time by kind from a CPU profile (the frame's own WebAssembly, the
// present, Asyncify and the timer, the browser's own work such as
// rendering). This part runs last.
//
// Between the two, in each engine (browsers.mjs; WebKit once as it comes
// and once with
// WEBKIT_DISABLE_COMPOSITING_MODE=1, painting without its software
// compositor, the nearer stand-in for a device with a GPU): the page's
// presents a second beside a bare setTimeout(f, 10) loop on a blank page of
// the same engine, ENGINE_WINDOWS windows of each by turns, each window on
// a fresh load; then one more window of the page timed from inside it: the
// delay asked, how late it fires, the work from the timer to the next
// delay, and within it the present (putImageData); then one window of a
// copy of the page whose script is wrapped at its imports (served from
// another origin, so the service worker keeps out of it), which splits the
// work: Asyncify's rewind into the loop until the frame pumps its events,
// the frame up to its present, the present, the rest of the frame with the
// world step, and Asyncify's unwind out of SDL_Delay. Coarse clocks (WebKit's
// and Firefox's performance.now() tick in whole milliseconds) are summed
// over whole windows, never read per frame.
//
//   node web/bench.mjs [step] [engines] [throttle]   (the parts; all by default)
//   VESK_ENGINES=webkit,firefox                       (the engines; all by default)
//
// Reports, never judges: exits 0 whatever the figures, 1 only when a run
// fails.
import { execFile } from 'node:child_process';
import { cp, mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
import { loadavg, tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

import { ENGINES, launchBrowser } from './browsers.mjs';
import { launchChromium } from './chromium.mjs';
import { startServer } from './serve.mjs';

const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const NATIVE = process.env.VESK_STEP_BENCH || join(ROOT, 'build', 'vesk_step_bench');
const PAGE_DIR = process.env.VESK_WEB_DIR || join(ROOT, 'build-web');
const STEPS = 600; // the page's own count (STEPS_DEFAULT in step_bench.cpp)
const RUNS = 5;
// Bounds, in milliseconds.
const RUN_TIMEOUT_MS = 120000;
const PACE_WARMUP_MS = 1000;
// The pace: WINDOWS windows of WINDOW_MS at each rate, by turns, each after
// SWITCH_MS at its rate; one more window at each rate is profiled.
const THROTTLE = 4;
const WINDOWS = 3;
const WINDOW_MS = 1500;
const SWITCH_MS = 300;
// The profiler's sampling interval, in microseconds.
const SAMPLE_US = 1000;
const MARK = 'step-timing ';

function parse(text, where) {
  const line = text.split('\n').find((l) => l.startsWith(MARK));
  if (!line)
    throw new Error(`no "${MARK}" line from the ${where} run:\n${text}`);
  return JSON.parse(line.slice(MARK.length));
}

async function runNative() {
  const { stdout } = await promisify(execFile)(NATIVE, [String(STEPS)],
    { timeout: RUN_TIMEOUT_MS, env: { ...process.env, SDL_VIDEODRIVER: 'dummy', SDL_AUDIODRIVER: 'dummy' } });
  return parse(stdout, 'native');
}

async function runBrowser(context, url) {
  const page = await context.newPage();
  const lines = [];
  const errors = [];
  page.on('console', (m) => (m.type() === 'error' ? errors : lines).push(m.text()));
  page.on('pageerror', (e) => errors.push(e.message));
  await page.goto(url + 'bench.html');
  await page.waitForFunction((mark) => document.getElementById('report').textContent.includes(mark),
    MARK, { timeout: RUN_TIMEOUT_MS });
  await page.close();
  if (errors.length)
    throw new Error(`the bench page logged errors: ${errors.join('; ')}`);
  return parse(lines.join('\n'), 'browser');
}

// The kind of main-thread time a profile node's function stands for.
function kind({ functionName: name, url }) {
  if (name === '(idle)')
    return 'idle';
  if (name === '(program)' || name === '(garbage collector)')
    return 'browser';
  if (/putImageData|web_present|SDL_UpdateRect/.test(name))
    return 'present';
  if (url.endsWith('.wasm') && !/^(asyncify|js-to-wasm)/.test(name))
    return 'wasm';
  return 'glue';
}
const KINDS = [
  ['wasm', "WebAssembly (step, drawing, clear, opaque copy)"],
  ['present', 'present (web_present, putImageData)'],
  ['glue', 'Asyncify, the timer, events, other script'],
  ['browser', "browser's own (rendering, GC)"],
  ['idle', 'idle (the delay)'],
];

// The page's pace at full speed and throttled, and its profile at each.
async function pagePace(context, url) {
  const page = await context.newPage();
  await page.addInitScript(timeFrames);
  await page.goto(url);
  await page.waitForTimeout(PACE_WARMUP_MS);
  const cdp = await context.newCDPSession(page);
  await cdp.send('Profiler.enable');
  await cdp.send('Profiler.setSamplingInterval', { interval: SAMPLE_US });
  const read = () => page.evaluate(() => [performance.now(), Module.sdlWeb.frames, { ...vesk_timing }]);
  const rates = {};
  for (const rate of [1, THROTTLE])
    rates[rate] = { paces: [], timer: { asked: 0, late: 0, work: 0, timers: 0 }, kinds: {} };
  for (let i = 0; i <= WINDOWS; i++) {
    for (const rate of [1, THROTTLE]) {
      await cdp.send('Emulation.setCPUThrottlingRate', { rate });
      await page.waitForTimeout(SWITCH_MS);
      const profiled = i === WINDOWS;
      if (profiled)
        await cdp.send('Profiler.start');
      const start = await read();
      await page.waitForTimeout(WINDOW_MS);
      const end = await read();
      const frames = end[1] - start[1];
      const r = rates[rate];
      if (!profiled) {
        r.paces.push((frames * 1000) / (end[0] - start[0]));
        for (const k of ['asked', 'late', 'work', 'timers'])
          r.timer[k] += end[2][k] - start[2][k];
        continue;
      }
      const { profile } = await cdp.send('Profiler.stop');
      const nodes = new Map(profile.nodes.map((n) => [n.id, kind(n.callFrame)]));
      profile.samples.forEach((id, k) => {
        r.kinds[nodes.get(id)] = (r.kinds[nodes.get(id)] || 0) + profile.timeDeltas[k] / 1000 / frames;
      });
    }
  }
  await page.close();
  for (const r of Object.values(rates)) {
    r.pace = r.paces.sort((a, b) => a - b)[Math.floor(r.paces.length / 2)];
    for (const k of ['asked', 'late', 'work'])
      r.timer[k] /= r.timer.timers;
  }
  return rates;
}

// One record whose medians are, phase by phase, the middle of the runs'.
function middle(runs) {
  const pick = (phase) => {
    const values = runs.map((r) => r.median_ms[phase]).filter((v) => v !== null).sort((a, b) => a - b);
    return values.length ? values[Math.floor(values.length / 2)] : null;
  };
  return { ...runs[0], median_ms: { falling: pick('falling'), settled: pick('settled'), all: pick('all') } };
}

const ms = (v) => (v === null ? '     -' : v.toFixed(3).padStart(6));
const ratio = (a, b) => (a === null || b === null ? '     -' : (a / b).toFixed(2).padStart(6));

// The engines' pace: each engine's page and bare loop by turns.
const ENGINE_WINDOWS = 3;
const ENGINE_WINDOW_MS = 3000;
// Time for the seeded pile to settle (about 60 frames) before a window.
const ENGINE_WARMUP_MS = 2000;
const BARE_DELAY_MS = 10;
const CONFIGURATIONS = (process.env.VESK_ENGINES ? process.env.VESK_ENGINES.split(',') : ENGINES)
  .flatMap((engine) => (engine === 'webkit'
    ? [[engine, 'webkit (default)', {}], [engine, 'webkit, no compositing', { WEBKIT_DISABLE_COMPOSITING_MODE: '1' }]]
    : [[engine, engine, {}]]));

// Installed in a running page, or before its script: sums, over the frames
// from then on, the delay asked (Asyncify's SDL_Delay is one setTimeout a
// frame), how late its timer fires, the work from its firing to the next
// delay and the presents' putImageData.
function timeFrames() {
  const timing = { asked: 0, late: 0, work: 0, present: 0, timers: 0 };
  let fired = null;
  const setTimer = window.setTimeout;
  window.setTimeout = (callback, ms, ...rest) => {
    const set = performance.now();
    if (fired !== null)
      timing.work += set - fired;
    fired = null;
    return setTimer(() => {
      fired = performance.now();
      timing.asked += ms;
      timing.late += fired - set - ms;
      timing.timers++;
      callback(...rest);
    }, ms);
  };
  const put = CanvasRenderingContext2D.prototype.putImageData;
  CanvasRenderingContext2D.prototype.putImageData = function (...args) {
    const start = performance.now();
    put.apply(this, args);
    timing.present += performance.now() - start;
  };
  window.vesk_timing = timing;
}

// Written into the page's script before it instantiates its module: sums,
// per frame, the phases named in SPLIT from timestamps at the timer's
// firing, the first event pumped, the present's start and end, the call
// of emscripten_sleep and the next timer set.
const SPLIT = ['rewind', 'before', 'present', 'after', 'unwind'];
const SPLIT_HOOK = `(function () {
  var t = window.vesk_split = { rewind: 0, before: 0, present: 0, after: 0, unwind: 0, frames: 0 };
  var fired = null, pumped = null, put = null, putEnd = null, slept = null;
  var setTimer = window.setTimeout;
  window.setTimeout = function (callback, ms) {
    var now = performance.now();
    if (fired !== null && pumped !== null && put !== null && slept !== null) {
      t.rewind += pumped - fired; t.before += put - pumped; t.present += putEnd - put;
      t.after += slept - putEnd; t.unwind += now - slept; t.frames++;
    }
    fired = pumped = put = slept = null;
    return setTimer(function () { fired = performance.now(); callback(); }, ms);
  };
  Object.keys(asmLibraryArg).forEach(function (k) {
    var f = asmLibraryArg[k];
    if (f.name === 'web_next_event')
      asmLibraryArg[k] = function (r) { if (pumped === null && fired !== null) pumped = performance.now(); return f(r); };
    else if (f.name === 'web_present')
      asmLibraryArg[k] = function (a, b, c, d, e) { put = performance.now(); f(a, b, c, d, e); putEnd = performance.now(); };
    else if (f.name === '_emscripten_sleep')
      asmLibraryArg[k] = function (ms) { slept = performance.now(); return f(ms); };
  });
})();
`;
const SPLIT_BEFORE = 'var asm=createWasm();';

// A copy of the page with SPLIT_HOOK in its script, served on its own port;
// null when the script has no place for it.
async function splitPage() {
  const script = await readFile(join(PAGE_DIR, 'index.js'), 'utf8');
  if (!script.includes(SPLIT_BEFORE))
    return null;
  const dir = await mkdtemp(join(tmpdir(), 'vesk-split-'));
  await cp(PAGE_DIR, dir, { recursive: true });
  await rm(join(dir, 'sw.js'), { force: true });
  await writeFile(join(dir, 'index.js'), script.replace(SPLIT_BEFORE, SPLIT_HOOK + SPLIT_BEFORE));
  const served = await startServer(dir, 0);
  return { url: served.url, async close() { served.server.close(); await rm(dir, { recursive: true, force: true }); } };
}

// Counts rounds of a bare setTimeout(f, ms) loop in window.vesk_rounds.
function bareLoop(ms) {
  window.vesk_rounds = 0;
  (function round() {
    window.vesk_rounds++;
    setTimeout(round, ms);
  })();
}

// Rounds a second of count (a dotted path from window, read without eval,
// which the page's policy refuses) over ENGINE_WINDOW_MS, after the warm-up
// (the seeded pile settles in it) and, if named, zeroing that record's sums.
async function rate(page, count, sums) {
  await new Promise((done) => setTimeout(done, ENGINE_WARMUP_MS));
  if (sums)
    await page.evaluate((name) => { for (const k in window[name]) window[name][k] = 0; }, sums);
  const read = () => page.evaluate((c) => [performance.now(), c.split('.').reduce((v, k) => v[k], window)], count);
  const start = await read();
  await new Promise((done) => setTimeout(done, ENGINE_WINDOW_MS));
  const end = await read();
  return ((end[1] - start[1]) * 1000) / (end[0] - start[0]);
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function enginePace(engine, env, url, split_url) {
  const page = await launchBrowser(engine, { env });
  try {
    const pages = [];
    const bares = [];
    for (let i = 0; i < ENGINE_WINDOWS; i++) {
      await page.goto(url);
      pages.push(await rate(page, 'Module.sdlWeb.frames'));
      await page.goto('about:blank');
      await page.evaluate(bareLoop, BARE_DELAY_MS);
      bares.push(await rate(page, 'vesk_rounds'));
    }
    await page.goto(url);
    await page.evaluate(timeFrames);
    await rate(page, 'vesk_timing.timers', 'vesk_timing');
    const t = await page.evaluate(() => vesk_timing);
    for (const k of ['asked', 'late', 'work', 'present'])
      t[k] /= t.timers;
    let split = null;
    if (split_url) {
      await page.goto(split_url);
      await rate(page, 'vesk_split.frames', 'vesk_split');
      split = await page.evaluate(() => vesk_split);
      for (const k of SPLIT)
        split[k] /= split.frames;
    }
    return { pages, bares, page: median(pages), bare: median(bares), timing: t, split };
  } finally {
    await page.close();
  }
}

async function main() {
  const parts = process.argv.slice(2).length ? process.argv.slice(2) : ['step', 'engines', 'throttle'];
  const load = () => loadavg().map((l) => l.toFixed(2)).join(' ');
  console.log(`load average at the start: ${load()} (${CONFIGURATIONS.length} configurations)`);
  const served = await startServer(PAGE_DIR, 0);
  try {
    if (parts.includes('step'))
      await stepPart(served);
    if (parts.includes('engines')) {
      console.log(`\nThe page in each engine beside a bare setTimeout(f, ${BARE_DELAY_MS}) loop on a blank page, ` +
        `${ENGINE_WINDOWS} windows of ${ENGINE_WINDOW_MS / 1000} s each by turns (medians; all windows in brackets):`);
      console.log(`  ${'engine'.padEnd(24)}  page fps   bare fps    kept   delay late  work  present (ms a frame)`);
      const split = await splitPage();
      const results = [];
      for (const [engine, name, env] of CONFIGURATIONS) {
        const r = await enginePace(engine, env, served.url, split?.url);
        results.push([name, r.split]);
        const t = r.timing;
        console.log(`  ${name.padEnd(24)}  ${r.page.toFixed(1).padStart(8)}  ${r.bare.toFixed(1).padStart(9)}  ` +
          `${((100 * r.page) / r.bare).toFixed(1).padStart(5)} %  ${ms(t.asked)}${ms(t.late)}${ms(t.work)}${ms(t.present)}` +
          `   [${r.pages.map((v) => v.toFixed(1)).join(' ')} | ${r.bares.map((v) => v.toFixed(1)).join(' ')}]`);
      }
      await split?.close();
      console.log('The work split at the imports, ms a frame: Asyncify\'s rewind to the first pump; the frame to its ' +
        'present; the present; the rest with the world step; Asyncify\'s unwind to the timer:');
      console.log(`  ${'engine'.padEnd(24)}  ${SPLIT.map((k) => k.padStart(7)).join(' ')}`);
      for (const [name, t] of results)
        console.log(`  ${name.padEnd(24)}  ${t ? SPLIT.map((k) => t[k].toFixed(3).padStart(7)).join(' ') : 'no place in the script to time it'}`);
    }
    if (parts.includes('throttle'))
      await throttlePart(served);
  } finally {
    served.server.close();
  }
  console.log(`\nload average at the end: ${load()}`);
}

async function stepPart(served) {
  const browser = await launchChromium();
  let native, web;
  try {
    // Alternating, so that a busy spell of the machine falls on both sides alike.
    const natives = [];
    const webs = [];
    for (let i = 0; i < RUNS; i++) {
      natives.push(await runNative());
      webs.push(await runBrowser(browser.context, served.url));
    }
    native = middle(natives);
    web = middle(webs);
  } finally {
    await browser.close();
  }
  const n = native.median_ms;
  const w = web.median_ms;
  console.log(`Vesk world step: median milliseconds over ${STEPS} steps from seeding, no input ` +
    `(middle of ${RUNS} runs)`);
  console.log(`(${native.grains} grains; settled after ${native.settled_after} steps natively, ` +
    `${web.settled_after} in the browser)`);
  console.log('                              falling  settled      all');
  console.log(`native (SDL 1.2, dummy video)   ${ms(n.falling)}   ${ms(n.settled)}   ${ms(n.all)}`);
  console.log(`browser (Chromium, wasm)        ${ms(w.falling)}   ${ms(w.settled)}   ${ms(w.all)}`);
  console.log(`browser / native                ${ratio(w.falling, n.falling)}   ` +
    `${ratio(w.settled, n.settled)}   ${ratio(w.all, n.all)}`);
}

// The bare loop on a blank page of Chromium at 1x and THROTTLE x, by turns:
// what the throttle leaves of a page with no work at all.
async function bareThrottled() {
  const page = await launchBrowser('chromium');
  const rates = { 1: [], [THROTTLE]: [] };
  try {
    await page.goto('about:blank');
    await page.evaluate(bareLoop, BARE_DELAY_MS);
    for (let i = 0; i < WINDOWS; i++)
      for (const r of [1, THROTTLE]) {
        await page.throttle(r);
        await new Promise((done) => setTimeout(done, SWITCH_MS));
        const read = () => page.evaluate(() => [performance.now(), vesk_rounds]);
        const start = await read();
        await new Promise((done) => setTimeout(done, WINDOW_MS));
        const end = await read();
        rates[r].push(((end[1] - start[1]) * 1000) / (end[0] - start[0]));
      }
  } finally {
    await page.close();
  }
  return { full: median(rates[1]), slow: median(rates[THROTTLE]) };
}

async function throttlePart(served) {
  const browser = await launchChromium();
  let pace;
  try {
    pace = await pagePace(browser.context, served.url);
  } finally {
    await browser.close();
  }
  const bare = await bareThrottled();
  const full = pace[1];
  const slow = pace[THROTTLE];
  console.log(`\nChromium's pace, one run, CPU at 1x and ${THROTTLE}x by turns (median of ${WINDOWS} ` +
    `windows of ${WINDOW_MS / 1000} s each; a 10 ms delay allows at most 100):`);
  console.log(`  1x ${full.pace.toFixed(1)}, ${THROTTLE}x ${slow.pace.toFixed(1)} frames a second: ` +
    `${THROTTLE}x keeps ${((100 * slow.pace) / full.pace).toFixed(1)} %`);
  console.log(`  the bare setTimeout(f, ${BARE_DELAY_MS}) loop on a blank page, the same way: 1x ${bare.full.toFixed(1)}, ` +
    `${THROTTLE}x ${bare.slow.toFixed(1)}: ${THROTTLE}x keeps ${((100 * bare.slow) / bare.full).toFixed(1)} %`);
  console.log(`Where a frame's time goes, ms a frame: the delay over the windows above; the main ` +
    `thread by kind over one more window each, profiled every ${SAMPLE_US} µs:`);
  const row = (name, a, b) => console.log(`  ${name.padEnd(50)}${ms(a)}  ${ms(b)}`);
  console.log(`  ${''.padEnd(50)}    1x      ${THROTTLE}x`);
  row('delay asked', full.timer.asked, slow.timer.asked);
  row('delay fired late by', full.timer.late, slow.timer.late);
  row('work, from the timer to the next delay', full.timer.work, slow.timer.work);
  console.log('  main thread by kind:');
  for (const [key, name] of KINDS)
    row(`  ${name}`, full.kinds[key] || 0, slow.kinds[key] || 0);
}

main().catch((error) => {
  console.error(`bench.mjs: ${error.message}`);
  process.exit(1);
});
