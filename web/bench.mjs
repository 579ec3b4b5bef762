// bench.mjs: the world step's median time in the browser beside the native one.
//
//   node web/bench.mjs
//
// Runs the native step timing helper (build/vesk_step_bench, or
// $VESK_STEP_BENCH) and the same helper built to WebAssembly
// (build-web/bench.html, or the page folder $VESK_WEB_DIR) in headless
// Chromium, by turns and never both at once, and prints their medians side
// by side, with the pace of the toy's own page in frames a second. Each side
// runs RUNS times; the figures are, phase by phase, the middle run's median.
// Reports, never judges: exits 0 whatever the figures, 1 only when a run
// fails.
import { execFile } from 'node:child_process';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

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
const PACE_MS = 3000;
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

// Frames a second of the toy's page, after a warm-up.
async function pagePace(context, url) {
  const page = await context.newPage();
  await page.goto(url);
  await page.waitForTimeout(PACE_WARMUP_MS);
  const read = () => page.evaluate(() => [performance.now(), Module.sdlWeb ? Module.sdlWeb.frames : 0]);
  const start = await read();
  await page.waitForTimeout(PACE_MS);
  const end = await read();
  await page.close();
  return ((end[1] - start[1]) * 1000) / (end[0] - start[0]);
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

async function main() {
  const served = await startServer(PAGE_DIR, 0);
  const browser = await launchChromium();
  let native, web, pace;
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
    pace = await pagePace(browser.context, served.url);
  } finally {
    await browser.close();
    served.server.close();
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
  console.log(`the page's pace: ${pace.toFixed(1)} frames a second (a 10 ms delay allows at most 100)`);
}

main().catch((error) => {
  console.error(`bench.mjs: ${error.message}`);
  process.exit(1);
});
