// browser.test.mjs: the toy's page in each browser engine (browsers.mjs),
// beside the desktop program in Xvfb, both started by this test; then on an
// emulated phone where the engine's driver can emulate one.
//
//   cd web && npm test          (with serve.test.mjs)
//   VESK_ENGINES=firefox,webkit node --test web/test/browser.test.mjs
//
// Needs the page's tree (make web) and the desktop program (make build), in
// the folders CMakePresets.json names. The page is served on 127.0.0.1,
// on a big screen from a copy of its folder that the offline test rebuilds.
// The tests of each screen run in order on one page: each starts from where
// the last left the world. Every wait is bounded in time or in count. A test
// the engine's driver cannot run is skipped with the reason, and so is an
// engine that is not installed (outside CI: browsers.mjs's skippedEngine).
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { appendFile, cp, mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

import { CANNOT, ENGINES, launchBrowser, skippedEngine } from '../browsers.mjs';
import { startServer } from '../serve.mjs';
import { ROOT, built } from '../trees.mjs';
import { startDesktop } from '../xharness.mjs';
import {
  HEIGHT, WIDTH, canvasPicture, differences, greenCount, shownDifferences, whiteCount,
} from './picture.mjs';

const PAGE_DIR = dirname(built('web', 'index.html', 'make web'));
const DESKTOP = built('default', 'vesk', 'make build');
const OFFLINE = join(ROOT, 'src', 'platform', 'web', 'offline.cmake');
const TESTED = process.env.VESK_ENGINES ? process.env.VESK_ENGINES.split(',') : ENGINES;

// Bounds of every wait, in milliseconds or in tries.
const TEST_TIMEOUT_MS = 90000;
const FRAME_WAIT_MS = 10000;
const SETTLE_TRIES = 40;
// The pile stops moving after about 60 steps; pictures are compared after this many.
const SETTLE_FRAMES = 150;
// Presents over which a still picture counts as settled.
const STILL_FRAMES = 20;
// Presents from the first one showing the X at a new place until one shows
// the brush's effect there: that frame's step applies the brush, the next
// present shows grains drawn before it, the one after shows its effect.
const EFFECT_FRAMES = 3;
// Presents to look through for the X at a new place (a browser may hold a
// mouse move back until its next animation frame).
const POINTER_FRAMES = 60;
// The X's half extent in pixels (0.1 in normalized units), and a margin.
const X_HALF_WIDTH = 11;
const X_HALF_HEIGHT = 16;
// How long the pace is measured, in milliseconds, and the most frames a
// second a 10 ms delay allows (with a frame's worth of the clock's grain).
const PACE_MS = 2000;
const PACE_MAX = 101;
// Grains a 9 x 9 brush removes at its first touch of the full pile.
const BRUSH_CELLS = 81;
// Device pixels a surface pixel: on a 1400 x 1000 screen at ratio 1, 3; on
// a 390 x 844 phone at ratio 3, 5 (333.3 x 500 CSS pixels); turned, 3.
const BIG_SCREEN = { width: 1400, height: 1000 };
const BIG_SCALE = 3;
const PHONE = { width: 390, height: 844, deviceScaleFactor: 3, mobile: true };
const PHONE_SCALE = 5;
const TURNED_SCALE = 3;
// Each engine's command-line arguments here. WebKitGTK 2.50's accelerated 2D
// canvas, on Xvfb's software GL, crashes its web process (a release
// assertion, SIGILL) about one run in five while the canvas is read from
// many times a second: the suite reads an unaccelerated canvas.
const BROWSER_ARGS = { webkit: ['--enable-2d-canvas-acceleration=false'] };

// Writes the page folder's sw.js as the build does.
const stampWorker = (site) => promisify(execFile)('cmake', [`-DPAGE_DIR=${site}`, '-P', OFFLINE]);
const stopServer = async (served) => {
  served?.server.closeAllConnections();
  await new Promise((done) => (served ? served.server.close(done) : done()));
};

async function frames(page) {
  return page.evaluate(() => (window.Module && Module.sdlWeb ? Module.sdlWeb.frames : 0));
}

// Waits until the page has presented n more frames.
async function waitFrames(page, n) {
  const target = (await frames(page)) + n;
  await page.waitFor((t) => window.Module && Module.sdlWeb && Module.sdlWeb.frames >= t, target, FRAME_WAIT_MS);
}

// The page's problems noted by problems.js since the last call.
const PROBLEMS = () => {
  const list = JSON.parse(sessionStorage.getItem('vesk-problems') || '[]');
  sessionStorage.removeItem('vesk-problems');
  return list;
};

// The canvas once it stays the same over STILL_FRAMES presents.
async function settledCanvas(page) {
  let last = await canvasPicture(page);
  for (let i = 0; i < SETTLE_TRIES; i++) {
    await waitFrames(page, STILL_FRAMES);
    const now = await canvasPicture(page);
    if (differences(last, now).count === 0)
      return now;
    last = now;
  }
  throw new Error(`the page did not settle in ${SETTLE_TRIES} tries`);
}

// The desktop window once it has stopped changing (the harness's wait) and
// passes ready(picture).
async function settledDesktop(desktop, ready) {
  for (let i = 0; i < SETTLE_TRIES; i++) {
    const still = await desktop.still();
    if (ready(still))
      return still;
  }
  throw new Error(`the desktop window was not ready in ${SETTLE_TRIES} tries`);
}

// True when the X is drawn at pixel (x, y).
function showsX(picture, x, y) {
  return whiteCount(picture, x - 2, y - 2, x + 2, y + 2) >= 3;
}

// Pixels that a brush held at pointer pixel (x, y) surely covers: its
// cells, a 9 x 9 square around cell (x or x - 1, about 300 - y), are drawn
// at a scale of 100/101 across and 150/151 down, so the brush's pixels
// sit up to 2 to the left of the pointer's, and the middle 3 x 5 is safe.
function brushMiddle(x, y) {
  return [x - 1, y - 2, x + 1, y + 2];
}

// The X's box around pixel (x, y), for masking it out of comparisons.
function xBox(x, y) {
  return [x - X_HALF_WIDTH, y - X_HALF_HEIGHT, x + X_HALF_WIDTH, y + X_HALF_HEIGHT];
}

// The page position of the middle of surface pixel (x, y), on the canvas's box.
function onPage(box, x, y) {
  return { x: box.x + ((x + 0.5) * box.width) / WIDTH, y: box.y + ((y + 0.5) * box.height) / HEIGHT };
}

// Sends input at surface pixel (x, y) with send(pagePosition) and waits for
// the present that shows the X there; returns that picture.
async function pointAt(page, box, send, x, y) {
  await send(onPage(box, x, y));
  for (let i = 0; i < POINTER_FRAMES; i++) {
    await waitFrames(page, 1);
    const picture = await canvasPicture(page);
    if (showsX(picture, x, y))
      return picture;
  }
  throw new Error(`no X at (${x}, ${y}) after ${POINTER_FRAMES} frames`);
}

// Goes along row y from x0 to x1 in steps of 4 pixels with moveTo(x, y),
// button or finger held; returns where grains were left under the brush.
async function sweep(page, moveTo, y, x0, x1) {
  const left = [];
  for (let x = x0; x <= x1; x += 4) {
    await moveTo(x, y);
    if ((x - x0) % 20 === 0) {
      await waitFrames(page, EFFECT_FRAMES);
      const n = greenCount(await canvasPicture(page), ...brushMiddle(x, y));
      if (n > 0)
        left.push(`${n} at x = ${x}`);
    }
  }
  return left;
}

for (const engine of TESTED) describe(`Vesk in ${engine}, on a big screen then a phone`, { timeout: 5 * TEST_TIMEOUT_MS, skip: skippedEngine(engine) || false }, () => {
  let site, served, page, desktop, box;
  let offline = false;
  const problems = [];
  const problem = (text) => offline || problems.push(text);
  // The test runs where the driver can do what it needs, else is skipped saying why.
  const needs = (what) => ({ skip: CANNOT[engine]?.[what] || false });
  const collect = async () => (await page.evaluate(PROBLEMS).catch(() => [])).forEach(problem);
  const reload = async () => { await collect(); await page.reload(); };
  const canvasBox = () => page.evaluate(() => {
    const r = document.getElementById('canvas').getBoundingClientRect();
    return { x: r.x, y: r.y, width: r.width, height: r.height };
  });

  // Moves the page's mouse to canvas pixel (x, y); returns the picture with the X there.
  const moveTo = (x, y) => pointAt(page, box, (p) => page.mouse.move(p.x, p.y), x, y);

  before(async () => {
    site = await mkdtemp(join(tmpdir(), 'vesk-page-'));
    await cp(PAGE_DIR, site, { recursive: true, filter: (from) => dirname(from) === PAGE_DIR || from === PAGE_DIR });
    // problems.js first in the page (a file: the page's policy refuses inline
    // script), and the worker's cache written again over it.
    const index = join(site, 'index.html');
    await cp(join(dirname(fileURLToPath(import.meta.url)), 'problems.js'), join(site, 'problems.js'));
    await writeFile(index, (await readFile(index, 'utf8')).replace('<head>', '<head>\n<script src="problems.js"></script>'));
    await stampWorker(site);
    const started = await Promise.allSettled([
      startServer(site, 0), launchBrowser(engine, { viewport: BIG_SCREEN, args: BROWSER_ARGS[engine] }), startDesktop(DESKTOP)]);
    [served, page, desktop] = started.map((s) => (s.status === 'fulfilled' ? s.value : null));
    const failed = started.find((s) => s.status === 'rejected');
    if (failed)
      throw failed.reason;
    page.watch(problem);
    await page.goto(served.url);
  });

  after(async () => {
    await page?.close();
    await desktop?.stop();
    await stopServer(served);
    await rm(site, { recursive: true, force: true });
  });

  test('the page shows the 200 x 300 canvas under the caption Vesk, 3 times as large, crisp, and nothing else', async () => {
    await waitFrames(page, 1);
    assert.equal(await page.evaluate(() => document.title), 'Vesk');
    const layout = await page.evaluate(() => {
      const canvas = document.getElementById('canvas');
      const shown = [...document.body.querySelectorAll('*')]
        .filter((e) => e.getClientRects().length > 0 && getComputedStyle(e).visibility !== 'hidden');
      return {
        width: canvas.width,
        height: canvas.height,
        shown: shown.map((e) => e.tagName.toLowerCase()),
        heading: document.querySelector('h1').textContent,
        scale: Number(canvas.dataset.scale),
        rendering: getComputedStyle(canvas).imageRendering,
      };
    });
    assert.deepEqual(layout, { width: WIDTH, height: HEIGHT, shown: ['h1', 'canvas'], heading: 'Vesk',
      scale: BIG_SCALE, rendering: 'pixelated' });
    box = await canvasBox();
    assert.equal(box.width, BIG_SCALE * WIDTH);
    assert.equal(box.height, BIG_SCALE * HEIGHT);
  });

  test('the canvas cancels the browser\'s own touch and gesture handling: no scroll, no zoom', async () => {
    const kept = await page.evaluate(() => {
      const canvas = document.getElementById('canvas');
      const types = ['touchstart', 'touchmove', 'touchend', 'gesturestart', 'gesturechange', 'gestureend'];
      return [getComputedStyle(canvas).touchAction,
        ...types.filter((type) => canvas.dispatchEvent(new Event(type, { bubbles: true, cancelable: true })))];
    });
    assert.deepEqual(kept, ['none'], 'touch-action, then the events whose default was kept');
  });

  test('the page refuses inline script: its policy allows only its own files', async () => {
    await collect();
    const ran = await page.evaluate(() => new Promise((done) => {
      const script = Object.assign(document.createElement('script'), { textContent: 'window.vesk_inline = true;' });
      document.head.appendChild(script);
      setTimeout(() => done(window.vesk_inline === true), 100);
    }));
    assert.equal(ran, false, 'an inline script ran');
    const noted = await page.evaluate(PROBLEMS);
    assert.ok(noted.length === 1 && /^refused by the page's policy: script-src/.test(noted[0]), noted.join('; '));
  });

  test('the world steps no faster than the 10 ms frame delay allows', async () => {
    const { perSecond } = await page.rate('Module.sdlWeb.frames', PACE_MS);
    assert.ok(perSecond <= PACE_MAX, `${perSecond.toFixed(1)} frames a second`);
  });

  test('the settled pile is the desktop program\'s, pixel for pixel', async () => {
    const [web, native] = await Promise.all([
      (async () => {
        if ((await frames(page)) < SETTLE_FRAMES)
          await waitFrames(page, SETTLE_FRAMES - (await frames(page)));
        return settledCanvas(page);
      })(),
      settledDesktop(desktop, (picture) => greenCount(picture) > 0),
    ]);
    const diff = differences(web, native);
    assert.equal(diff.count, 0, diff.text);
    assert.equal(await shownDifferences(page, box), 0, 'pixels shown otherwise than crisp');
    // The seeded layout, settled: most of the window is grains.
    assert.ok(greenCount(web) > 50000, `${greenCount(web)} green pixels`);
  });

  test('the white X follows the mouse over the canvas as on the desktop', async () => {
    let previous = null;
    for (const [x, y] of [[150, 60], [40, 100], [120, 220]]) {
      const [, web] = await Promise.all([desktop.moveMouse(x, y), moveTo(x, y)]);
      if (previous)
        assert.equal(whiteCount(web, ...xBox(...previous)), 0, `the X stayed at (${previous})`);
      const native = await settledDesktop(desktop, (picture) => showsX(picture, x, y));
      const diff = differences(web, native);
      assert.equal(diff.count, 0, `pointer at (${x}, ${y}): ${diff.text}`);
      previous = [x, y];
    }
  });

  test('holding a button over the middle wipes a crater, and releasing stops it', async () => {
    const start = await settledCanvas(page);
    await moveTo(100, 150);
    await page.mouse.down();
    let held;
    try {
      await waitFrames(page, 30);
      held = await canvasPicture(page);
    } finally {
      await page.mouse.up();
    }
    assert.equal(greenCount(held, ...brushMiddle(100, 150)), 0, 'grains left under the held brush');
    const crater = await settledCanvas(page);
    const lost = greenCount(start) - greenCount(crater);
    assert.ok(lost >= BRUSH_CELLS, `${lost} grains wiped out`);

    // Released: passing over the full pile wipes nothing more; only the X moves.
    await moveTo(100, 250);
    await waitFrames(page, 3 * EFFECT_FRAMES);
    const passed = await settledCanvas(page);
    const diff = differences(crater, passed, [xBox(100, 150), xBox(100, 250)]);
    assert.equal(diff.count, 0, `changed after the release: ${diff.text}`);
    const under = brushMiddle(100, 250);
    assert.equal(greenCount(passed, ...under) + whiteCount(passed, ...under), 15,
      'grains wiped out under the X after the release');
  });

  test('dragging with a button held erases along the path', async () => {
    const start = await settledCanvas(page);
    const y = 200;
    await moveTo(30, y);
    await page.mouse.down();
    let left;
    try {
      left = await sweep(page, moveTo, y, 30, 170);
    } finally {
      await page.mouse.up();
    }
    assert.deepEqual(left, [], 'grains left under the brush along the path');
    const done = await settledCanvas(page);
    // The brush swept a band 9 cells high and some 148 wide through the full pile.
    const lost = greenCount(start) - greenCount(done);
    assert.ok(lost >= 9 * 100, `${lost} grains wiped out along the path`);
  });

  test('a flood of input between two frames loses no button, and the page keeps to its surface', async () => {
    const start = await settledCanvas(page);
    // In one task, so before the next frame: a press, 300 moves held, the release, 300 moves back;
    // then, as a careless script might, the canvas resized and a record longer than the bridge's.
    await page.evaluate(([a, b, n]) => {
      const canvas = document.getElementById('canvas');
      const at = (t, more) => ({ clientX: a.x + (b.x - a.x) * t, clientY: a.y + (b.y - a.y) * t, ...more });
      canvas.dispatchEvent(new MouseEvent('mousedown', at(0, { button: 0, bubbles: true })));
      for (let i = 1; i <= n; i++)
        window.dispatchEvent(new MouseEvent('mousemove', at(i / n, { buttons: 1 })));
      window.dispatchEvent(new MouseEvent('mouseup', at(1, { button: 0 })));
      for (let i = 1; i <= n; i++)
        window.dispatchEvent(new MouseEvent('mousemove', at(1 - i / n)));
      canvas.width *= 2;
      const pending = Module.sdlWeb.pending;
      pending.push(pending[pending.length - 1].concat(new Array(1000).fill(-1)));
    }, [onPage(box, 30, 120), onPage(box, 170, 120), 300]);
    await waitFrames(page, EFFECT_FRAMES);
    const after = await settledCanvas(page);
    assert.ok(showsX(after, 30, 120), 'the X is not where the mouse ended');
    const diff = differences(start, after, [xBox(170, 200), xBox(30, 120)]);
    assert.equal(diff.count, 0, `changed by a press released in the same frame: ${diff.text}`);
  });

  test('after one visit it plays offline; a rebuild loads only once whole; taking sw.js away retires the worker', async () => {
    await page.waitFor(() => !!navigator.serviceWorker.controller, null, FRAME_WAIT_MS);
    const oldCache = /const CACHE = '([^']+)'/.exec(await readFile(join(site, 'sw.js'), 'utf8'))[1];
    const port = served.server.address().port;
    await collect();
    offline = true;
    await stopServer(served);
    await page.reload();
    await waitFrames(page, STILL_FRAMES);
    assert.equal(await page.evaluate(() => document.title), 'Vesk');
    await collect();

    // A rebuild half deployed: the new worker, but a script that is not its build's. Its
    // install fails, and the old build goes on serving.
    const script = join(site, 'index.js');
    await appendFile(script, '\nvar vesk_rebuilt = true;\n');
    await stampWorker(site);
    const rebuilt = await readFile(script);
    await appendFile(script, '\nvar vesk_half = true;\n');
    served = await startServer(site, port);
    offline = false;
    await reload();
    await page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update().catch(() => null));
    const kept = await page.waitFor(async () => {
      const registration = await navigator.serviceWorker.getRegistration();
      return !registration.installing && !registration.waiting &&
        [await caches.keys(), !!(window.vesk_rebuilt || window.vesk_half)];
    }, null, FRAME_WAIT_MS);
    assert.deepEqual(kept, [[oldCache], false], 'caches and the build served after a half deploy');

    // The deploy finished: the new build loads.
    await writeFile(script, rebuilt);
    await page.reload();
    // The old build's page reloads itself once the new worker takes over.
    const names = await page.waitFor(() => window.vesk_rebuilt && Module.sdlWeb?.frames > 0 && caches.keys(),
      null, TEST_TIMEOUT_MS / 3);
    const worker = await readFile(join(site, 'sw.js'), 'utf8');
    assert.deepEqual(names, [/const CACHE = '([^']+)'/.exec(worker)[1]], 'caches after the rebuild');

    // Retired: with sw.js gone from the server, the next visit drops the worker and its caches,
    // and the one after comes from the server alone (its 404s for sw.js are expected).
    offline = true;
    await rm(join(site, 'sw.js'));
    await reload();
    // Both ends of the retirement, which the page starts together: a reload before the
    // unregistering ends is still served by the worker.
    await page.waitFor(async () => (await caches.keys()).length === 0 &&
      !(await navigator.serviceWorker.getRegistration()), null, FRAME_WAIT_MS);
    await page.reload();
    await waitFrames(page, 1);
    assert.deepEqual(await page.evaluate(async () => [!!navigator.serviceWorker.controller,
      !!(await navigator.serviceWorker.getRegistration()), await caches.keys()]), [false, false, []]);
    await collect();
    await stampWorker(site);
    offline = false;
  });

  test('on a phone the canvas is shown at 5 device pixels a surface pixel, at 3 once turned', needs('phone'), async () => {
    const turned = { ...PHONE, width: PHONE.height, height: PHONE.width };
    for (const [metrics, scale] of [[turned, TURNED_SCALE], [PHONE, PHONE_SCALE]]) {
      await page.emulate(metrics);
      await page.waitFor((s) => document.getElementById('canvas').dataset.scale === String(s), scale, FRAME_WAIT_MS);
    }
    box = await canvasBox();
    assert.ok(Math.abs(box.width * PHONE.deviceScaleFactor - PHONE_SCALE * WIDTH) < 0.5, `${box.width} wide`);
  });

  test('a finger erases along its path, a second one changes nothing, the page does not scroll', needs('touch'), async () => {
    const touch = (...points) => page.fingers(points.map(([x, y, id]) => [onPage(box, x, y).x, onPage(box, x, y).y, id]));
    await waitFrames(page, SETTLE_FRAMES);
    await settledCanvas(page);
    await page.evaluate(() => { document.body.style.minHeight = '300vh'; }); // room to scroll
    const y = 250;
    await pointAt(page, box, () => touch([40, y, 0]), 40, y);
    // A second finger over the full pile, x = 140 to 160: no X there, no grain wiped.
    const [path, before] = [[130, 90, 170, 110], await canvasPicture(page)];
    for (let x = 140; x <= 160; x += 10) {
      await touch([40, y, 0], [x, 100, 1]);
      await waitFrames(page, EFFECT_FRAMES);
    }
    await touch([40, y, 0]);
    const after = await canvasPicture(page);
    assert.equal(greenCount(after, ...path), greenCount(before, ...path), 'changed by the second finger');
    assert.ok(showsX(after, 40, y), 'the X left the first finger');

    const fingerTo = (x, row) => pointAt(page, box, () => touch([x, row, 0]), x, row);
    assert.deepEqual(await sweep(page, fingerTo, y, 40, 160), [], 'grains left under the finger');
    assert.deepEqual(await page.evaluate(() => [scrollX, scrollY, visualViewport.scale]), [0, 0, 1]);
    await touch();
    const lifted = await settledCanvas(page);
    assert.ok(showsX(lifted, 160, y), 'the X left where the finger was lifted');
    assert.ok(greenCount(lifted, ...brushMiddle(160, y)) > 0, 'grains still wiped after the lift');
  });

  test('the page logged no errors', async () => {
    await collect();
    assert.deepEqual(problems, []);
  });
});

