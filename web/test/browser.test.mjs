// browser.test.mjs: the toy's page in headless Chromium, beside the desktop
// program in Xvfb, both started by this test.
//
//   node --test web/test/browser.test.mjs
//
// Needs build-web/ (make web) and build/vesk (make build), or the folders
// named by VESK_WEB_DIR and VESK_DESKTOP. The page is served on 127.0.0.1.
// The tests run in order on one page: each starts from where the last left
// the world. Every wait is bounded in time or in count.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

import { launchChromium } from '../chromium.mjs';
import { startServer } from '../serve.mjs';
import { startDesktop } from './desktop.mjs';
import {
  HEIGHT, WIDTH, canvasPicture, differences, greenCount, whiteCount,
} from './picture.mjs';

const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');
const PAGE_DIR = process.env.VESK_WEB_DIR || join(ROOT, 'build-web');
const DESKTOP = process.env.VESK_DESKTOP || join(ROOT, 'build', 'vesk');

// Bounds of every wait, in milliseconds or in tries.
const TEST_TIMEOUT_MS = 90000;
const FRAME_WAIT_MS = 10000;
const SETTLE_TRIES = 40;
const DESKTOP_PAUSE_MS = 300;
// The pile stops moving after about 60 steps; pictures are compared after this many.
const SETTLE_FRAMES = 150;
// Presents over which a still picture counts as settled.
const STILL_FRAMES = 20;
// Presents from the first one showing the X at a new place until one shows
// the brush's effect there: that frame's step applies the brush, the next
// present shows grains drawn before it, the one after shows its effect.
const EFFECT_FRAMES = 3;
// Presents to look through for the X at a new place (Chromium may hold a
// mouse move back until its next animation frame).
const POINTER_FRAMES = 60;
// The X's half extent in pixels (0.1 in normalized units), and a margin.
const X_HALF_WIDTH = 11;
const X_HALF_HEIGHT = 16;
// How long the pace is measured, in milliseconds, and the bounds it must
// keep in frames a second: a 10 ms delay allows at most 100.
const PACE_MS = 2000;
const PACE_MAX = 101;
const PACE_MIN = 35;
// Grains a 9 x 9 brush removes at its first touch of the full pile.
const BRUSH_CELLS = 81;

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

async function frames(page) {
  return page.evaluate(() => (window.Module && Module.sdlWeb ? Module.sdlWeb.frames : 0));
}

// Waits until the page has presented n more frames.
async function waitFrames(page, n) {
  const target = (await frames(page)) + n;
  await page.waitForFunction((t) => window.Module && Module.sdlWeb && Module.sdlWeb.frames >= t,
    target, { timeout: FRAME_WAIT_MS, polling: 5 });
}

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

// The desktop window once it stays the same over DESKTOP_PAUSE_MS and, if
// given, passes ready(picture).
async function settledDesktop(desktop, ready = () => true) {
  let last = await desktop.picture();
  for (let i = 0; i < SETTLE_TRIES; i++) {
    await sleep(DESKTOP_PAUSE_MS);
    const now = await desktop.picture();
    if (differences(last, now).count === 0 && ready(now))
      return now;
    last = now;
  }
  throw new Error(`the desktop window did not settle in ${SETTLE_TRIES} tries`);
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

describe('Vesk in headless Chromium', { timeout: 4 * TEST_TIMEOUT_MS }, () => {
  let served, browser, page, desktop, box;
  const problems = [];

  // Moves the page's mouse to canvas pixel (x, y) and waits for the
  // present that shows the X there; returns that picture.
  const moveTo = async (x, y) => {
    await page.mouse.move(box.x + x + 0.5, box.y + y + 0.5);
    for (let i = 0; i < POINTER_FRAMES; i++) {
      await waitFrames(page, 1);
      const picture = await canvasPicture(page);
      if (showsX(picture, x, y))
        return picture;
    }
    throw new Error(`no X at (${x}, ${y}) after ${POINTER_FRAMES} frames`);
  };

  before(async () => {
    const started = await Promise.allSettled([
      startServer(PAGE_DIR, 0), launchChromium(), startDesktop(DESKTOP)]);
    [served, browser, desktop] = started.map((s) => (s.status === 'fulfilled' ? s.value : null));
    const failed = started.find((s) => s.status === 'rejected');
    if (failed)
      throw failed.reason;
    page = await browser.context.newPage();
    page.on('console', (message) => {
      if (message.type() === 'error' || message.type() === 'assert')
        problems.push(`console ${message.type()}: ${message.text()}`);
    });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('requestfailed', (request) => problems.push(`request failed: ${request.url()}`));
    page.on('response', (response) => {
      if (response.status() >= 400)
        problems.push(`HTTP ${response.status()}: ${response.url()}`);
    });
    await page.goto(served.url);
  });

  after(async () => {
    await browser?.close();
    await desktop?.stop();
    served?.server.close();
  });

  test('the page shows the 200 x 300 canvas under the caption Vesk, and nothing else', async () => {
    await waitFrames(page, 1);
    assert.equal(await page.title(), 'Vesk');
    const layout = await page.evaluate(() => {
      const canvas = document.getElementById('canvas');
      const shown = [...document.body.querySelectorAll('*')]
        .filter((e) => e.getClientRects().length > 0 && getComputedStyle(e).visibility !== 'hidden');
      return {
        width: canvas.width,
        height: canvas.height,
        shown: shown.map((e) => e.tagName.toLowerCase()),
        heading: document.querySelector('h1').textContent,
      };
    });
    assert.deepEqual(layout, { width: WIDTH, height: HEIGHT, shown: ['h1', 'canvas'], heading: 'Vesk' });
    box = await page.locator('#canvas').boundingBox();
    assert.equal(box.width, WIDTH);
    assert.equal(box.height, HEIGHT);
  });

  test('the world steps at the pace the 10 ms frame delay sets', async () => {
    const start = await page.evaluate(() => [performance.now(), Module.sdlWeb.frames]);
    await sleep(PACE_MS);
    const end = await page.evaluate(() => [performance.now(), Module.sdlWeb.frames]);
    const rate = ((end[1] - start[1]) * 1000) / (end[0] - start[0]);
    assert.ok(rate <= PACE_MAX && rate >= PACE_MIN, `${rate.toFixed(1)} frames a second`);
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
    const left = [];
    try {
      for (let x = 30; x <= 170; x += 4) {
        await moveTo(x, y);
        if ((x - 30) % 20 === 0) {
          await waitFrames(page, EFFECT_FRAMES);
          const now = await canvasPicture(page);
          const n = greenCount(now, ...brushMiddle(x, y));
          if (n > 0)
            left.push(`${n} at x = ${x}`);
        }
      }
    } finally {
      await page.mouse.up();
    }
    assert.deepEqual(left, [], 'grains left under the brush along the path');
    const done = await settledCanvas(page);
    // The brush swept a band 9 cells high and some 148 wide through the full pile.
    const lost = greenCount(start) - greenCount(done);
    assert.ok(lost >= 9 * 100, `${lost} grains wiped out along the path`);
  });

  test('the page logged no errors', () => {
    assert.deepEqual(problems, []);
  });
});
