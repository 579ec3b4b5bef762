// browsers.mjs: one way to drive a page in each of the three browser engines.
//
//   chromium  Debian's Chromium, headless, through puppeteer-core over the DevTools protocol
//   firefox   Debian's Firefox ESR, headless, through puppeteer-core over WebDriver BiDi
//   webkit    WebKitGTK's MiniBrowser through Debian's WebKitWebDriver and
//             selenium-webdriver, in the X harness's private Xvfb (xharness.mjs:
//             the MiniBrowser has no headless mode)
// No driver downloads a browser: each drives the one Debian installed.
//
// launchBrowser(engine, { viewport, env, args }) starts the engine with a
// fresh profile showing a viewport of viewport's CSS pixels (VIEWPORT unless
// given; env: more environment for the browser, args: more arguments on its
// command line) and resolves to a page:
//   engine, can               the engine's name; what its driver can do:
//                             can.phone (a device's size and pixel ratio),
//                             can.touch (fingers), can.throttle (a slower CPU)
//   goto(url), reload()       load; both wait for the load event
//   evaluate(fn, arg)         runs fn(arg) in the page, resolves to its
//                             (awaited, JSON-like) result
//   waitFor(fn, arg, ms)      polls evaluate until fn(arg) is truthy, at most
//                             ms milliseconds (a reload in between is retried)
//   mouse.move(x, y), mouse.down(), mouse.up()   the mouse, in CSS pixels of the viewport
//   fingers(points)           puts exactly these fingers [x, y, id] on the
//                             screen: new ids touch down, known ones move,
//                             missing ones lift (can.touch)
//   emulate(metrics)          { width, height, deviceScaleFactor, mobile } (can.phone)
//   throttle(rate)            the CPU rate times slower (can.throttle)
//   devtools(method, params)  a DevTools protocol command (chromium only)
//   rate(count, ms, sums)     the one measure of a pace: how fast the page's
//                             counter `count` (a dotted path from window, such
//                             as the presents Module.sdlWeb.frames, read without
//                             eval, which the page's policy refuses) grows, a second of
//                             the page's own clock, over a window of ms; with
//                             sums, the name of a record of counters in the
//                             page, zeroed at the window's start: { perSecond,
//                             count, ms (the page's), sums as they stand at its end }
//   screenshot()              the viewport as PNG, one device pixel a pixel
//   watch(problem)            calls problem(text) for each failed request or
//                             HTTP error the driver reports (none in webkit)
//   close()                   ends the browser, its driver and Xvfb, removes the profile
// A crash the MiniBrowser reports (its web process's, say) is printed on
// stderr, since WebKitWebDriver reports it only as a lost session.
// A driver that cannot do something says why in why[what].
//
// skippedEngine(engine) says why an engine is not installed here (its
// Debian package), or '' when it is: the runs leave it out, saying so. In
// CI (CI=true), where scripts/setup.sh installs every engine, it throws.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { existsSync } from 'node:fs';
import { mkdtemp, rm } from 'node:fs/promises';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

import { startXvfb } from './xharness.mjs';

export const ENGINES = ['chromium', 'firefox', 'webkit'];
// The page's viewport in CSS pixels: room for the heading and the canvas.
export const VIEWPORT = { width: 640, height: 480 };
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
// Chromium on a machine with no GPU and no network but the loopback.
const CHROMIUM_FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const FIREFOX = process.env.FIREFOX || '/usr/bin/firefox-esr';
const WEBKIT_DRIVER = process.env.WEBKIT_DRIVER || '/usr/bin/WebKitWebDriver';
const MINIBROWSER = process.env.MINIBROWSER || '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
// The private X screen the MiniBrowser's window opens on: room for any viewport used.
const XVFB_SCREEN = '1600x1200x24';
// Bounds, in milliseconds: a browser's or a driver's start, one poll of waitFor.
const LAUNCH_TIMEOUT_MS = 60000;
const POLL_MS = 5;
// Tries to make the MiniBrowser's viewport the size asked (its window's frame is unknown).
const RESIZE_TRIES = 3;

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// The files each engine runs, with the Debian package that has them.
const FILES = {
  chromium: [[CHROMIUM, 'chromium']],
  firefox: [[FIREFOX, 'firefox-esr']],
  webkit: [[WEBKIT_DRIVER, 'webkit2gtk-driver'], [MINIBROWSER, 'webkit2gtk-driver']],
};
const IN_CI = /^(1|true|yes)$/i.test(process.env.CI || '');

export function skippedEngine(engine) {
  const missing = (FILES[engine] || []).filter(([file]) => !existsSync(file));
  const why = missing.map(([file, from]) => `no ${file} (${from})`).join(', ');
  if (why && IN_CI)
    throw new Error(`${engine}: ${why}; CI installs every engine (scripts/setup.sh browsers)`);
  return why && `${engine} is not installed here: ${why}`;
}

// What each driver cannot do, by engine and capability.
export const CANNOT = {
  firefox: { throttle: 'Firefox\'s WebDriver BiDi has no CPU throttling' },
  webkit: {
    phone: 'WebKitWebDriver has no device emulation (size and pixel ratio of a phone)',
    touch: 'WebKitWebDriver sends a touch pointer as a mouse',
    throttle: 'WebKitWebDriver has no CPU throttling',
  },
};

// evaluate, waitFor and the capabilities around a driver's own functions.
function page(engine, own) {
  const why = CANNOT[engine] || {};
  const can = { phone: !why.phone, touch: !why.touch, throttle: !why.throttle };
  const evaluate = own.evaluate;
  return {
    engine, can, why, ...own,
    async rate(count, ms, sums) {
      if (sums)
        await evaluate((name) => { for (const k in window[name]) window[name][k] = 0; }, sums);
      const read = () => evaluate(([c, name]) => [performance.now(), c.split('.').reduce((v, k) => v[k], window),
        name ? { ...window[name] } : null], [count, sums || null]);
      const start = await read();
      await sleep(ms);
      const end = await read();
      const [grown, elapsed] = [end[1] - start[1], end[0] - start[0]];
      return { perSecond: (grown * 1000) / elapsed, count: grown, ms: elapsed, sums: end[2] };
    },
    async waitFor(fn, arg, ms) {
      const end = Date.now() + ms;
      for (;;) {
        const value = await evaluate(fn, arg).catch(() => null); // a reload replaces the page
        if (value)
          return value;
        if (Date.now() > end)
          throw new Error(`${engine}: waited ${ms} ms for ${fn}`);
        await sleep(POLL_MS);
      }
    },
  };
}

// Chromium or Firefox through puppeteer-core, with a fresh profile; own: what
// the engine's driver adds, from puppeteer's page and, for Chromium, its
// DevTools session.
async function puppeteerPage(engine, { viewport, env, args }, launch, own) {
  const { default: puppeteer } = await import('puppeteer-core');
  const profile = await mkdtemp(join(tmpdir(), `vesk-${engine}-`));
  let browser;
  try {
    browser = await puppeteer.launch({ ...launch, args: [...(launch.args || []), ...args], headless: true,
      userDataDir: profile, defaultViewport: viewport, timeout: LAUNCH_TIMEOUT_MS,
      env: { ...process.env, ...env } });
  } catch (error) {
    await rm(profile, { recursive: true, force: true });
    throw error;
  }
  const p = (await browser.pages())[0] || await browser.newPage();
  await p.setViewport(viewport);
  return page(engine, {
    goto: (url) => p.goto(url),
    reload: () => p.reload(),
    evaluate: (fn, arg) => p.evaluate(fn, arg),
    mouse: p.mouse,
    screenshot: async () => Buffer.from(await p.screenshot()),
    watch(problem) {
      p.on('requestfailed', (request) => problem(`request failed: ${request.url()}`));
      p.on('response', (response) => response.status() >= 400 && problem(`HTTP ${response.status()}: ${response.url()}`));
    },
    async close() {
      await browser.close().catch(() => {});
      await rm(profile, { recursive: true, force: true });
    },
    ...await own(p),
  });
}

const chromiumPage = (options) => puppeteerPage('chromium', options,
  { browser: 'chrome', executablePath: CHROMIUM, args: CHROMIUM_FLAGS }, async (p) => {
    const devtools = await p.createCDPSession();
    let down = new Map(); // the fingers on the screen by id
    return {
      // Today's DevTools: a new finger starts, a lifted one ends (all when none stays), else all move.
      async fingers(points) {
        const lifted = [...down.values()].filter((f) => !points.some(([, , id]) => id === f.id));
        const type = points.some(([, , id]) => !down.has(id)) ? 'touchStart' : lifted.length ? 'touchEnd' : 'touchMove';
        const touchPoints = type === 'touchEnd' ? (points.length ? lifted : [])
          : points.map(([x, y, id]) => ({ x, y, id }));
        await devtools.send('Input.dispatchTouchEvent', { type, touchPoints });
        down = new Map(points.map(([x, y, id]) => [id, { x, y, id }]));
      },
      async emulate(metrics) {
        await devtools.send('Emulation.setDeviceMetricsOverride', metrics);
        await devtools.send('Emulation.setTouchEmulationEnabled', { enabled: true });
      },
      throttle: (rate) => devtools.send('Emulation.setCPUThrottlingRate', { rate }),
      devtools: (method, params) => devtools.send(method, params),
    };
  });

const firefoxPage = (options) => puppeteerPage('firefox', options,
  { browser: 'firefox', executablePath: FIREFOX }, async (p) => {
    const touches = new Map();
    return {
      async fingers(points) {
        for (const [id, touch] of touches)
          if (!points.some((f) => f[2] === id)) {
            await touch.end();
            touches.delete(id);
          }
        for (const [x, y, id] of points) {
          if (touches.has(id))
            await touches.get(id).move(x, y);
          else
            touches.set(id, await p.touchscreen.touchStart(x, y));
        }
      },
      emulate: ({ width, height, deviceScaleFactor, mobile }) =>
        p.setViewport({ width, height, deviceScaleFactor, isMobile: mobile, hasTouch: true }),
    };
  });

// A free TCP port on 127.0.0.1.
async function freePort() {
  const server = createServer().listen(0, '127.0.0.1');
  await once(server, 'listening');
  const { port } = server.address();
  await new Promise((done) => server.close(done));
  return port;
}

// Starts a child and resolves once its port answers; kills it on failure.
async function started(child, ready) {
  const exited = once(child, 'exit').then(([code]) => { throw new Error(`${child.spawnfile} exited with ${code}`); });
  const timer = sleep(LAUNCH_TIMEOUT_MS).then(() => { throw new Error(`${child.spawnfile} did not start`); });
  try {
    return await Promise.race([ready, exited, timer]);
  } catch (error) {
    child.kill();
    throw error;
  }
}

async function webkitPage({ viewport, env, args }) {
  const { Builder, Origin } = await import('selenium-webdriver');
  const xvfb = await startXvfb(XVFB_SCREEN);
  const display = xvfb.display;
  const stops = [xvfb.stop];
  const close = async () => { for (const stop of stops.reverse()) await stop(); };
  try {
    const port = await freePort();
    const driverProcess = spawn(WEBKIT_DRIVER, [`--port=${port}`],
      { env: { ...process.env, ...env, DISPLAY: display }, stdio: ['ignore', 'ignore', 'pipe'] });
    createInterface({ input: driverProcess.stderr }).on('line', (line) => {
      if (/CRASH/.test(line))
        console.error(`webkit: ${line.trim()}`);
    });
    stops.splice(0, 0, async () => {
      driverProcess.kill();
      await once(driverProcess, 'exit').catch(() => {});
      driverProcess.stderr.destroy(); // the browser, were it left, holds it open
    });
    const url = `http://127.0.0.1:${port}`;
    await started(driverProcess, (async () => {
      for (;;) {
        if (await fetch(`${url}/status`).then((r) => r.ok, () => false))
          return;
        await sleep(50);
      }
    })());
    const driver = await new Builder().usingServer(url).withCapabilities({ browserName: 'MiniBrowser',
      'webkitgtk:browserOptions': { binary: MINIBROWSER, args: ['--automation', ...args] } }).build();
    stops.push(() => driver.quit().catch(() => {}));
    await driver.manage().setTimeouts({ script: LAUNCH_TIMEOUT_MS });
    const evaluate = (fn, arg) => driver.executeScript(`return (${fn}).apply(null, arguments)`, arg);
    // The window's frame around the viewport is the MiniBrowser's: size, look, size again.
    const size = { ...viewport };
    for (let i = 0; i < RESIZE_TRIES; i++) {
      await driver.manage().window().setRect(size);
      const [w, h] = await evaluate(() => [innerWidth, innerHeight]);
      if (w === viewport.width && h === viewport.height)
        break;
      size.width += viewport.width - w;
      size.height += viewport.height - h;
    }
    const act = (build) => build(driver.actions({ async: true })).perform();
    return page('webkit', {
      goto: (to) => driver.get(to),
      reload: () => driver.navigate().refresh(),
      evaluate,
      mouse: {
        move: (x, y) => act((a) => a.move({ x: Math.round(x), y: Math.round(y), origin: Origin.VIEWPORT })),
        down: () => act((a) => a.press()),
        up: () => act((a) => a.release()),
      },
      screenshot: async () => Buffer.from(await driver.takeScreenshot(), 'base64'),
      watch() {},
      close,
    });
  } catch (error) {
    await close();
    throw error;
  }
}

export function launchBrowser(engine, { viewport = VIEWPORT, env = {}, args = [] } = {}) {
  const launch = { chromium: chromiumPage, firefox: firefoxPage, webkit: webkitPage }[engine];
  if (!launch)
    throw new Error(`no such browser engine: ${engine} (${ENGINES.join(', ')})`);
  return launch({ viewport, env, args });
}
