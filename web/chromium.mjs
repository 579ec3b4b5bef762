// chromium.mjs: Debian's Chromium, headless, driven by playwright-core.
//
// launchChromium(options) starts /usr/bin/chromium (or $CHROMIUM) with a
// fresh profile in a temporary folder and resolves to { context, close };
// close() ends the browser and removes the profile. options are Playwright's
// context options (viewport, deviceScaleFactor, isMobile, hasTouch, ...),
// over a VIEWPORT-sized window. Playwright never downloads a
// browser here: it only drives the one Debian installed.
import { chromium } from 'playwright-core';
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
// The page's viewport in CSS pixels: room for the heading and the canvas.
export const VIEWPORT = { width: 640, height: 480 };
// Longest wait for the browser to start, in milliseconds.
const LAUNCH_TIMEOUT_MS = 60000;

const FLAGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

export async function launchChromium(options = {}) {
  const profile = await mkdtemp(join(tmpdir(), 'vesk-chromium-'));
  let context;
  try {
    context = await chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM,
      headless: true,
      args: FLAGS,
      viewport: VIEWPORT,
      timeout: LAUNCH_TIMEOUT_MS,
      ...options,
    });
  } catch (error) {
    await rm(profile, { recursive: true, force: true });
    throw error;
  }
  return {
    context,
    async close() {
      await context.close().catch(() => {});
      await rm(profile, { recursive: true, force: true });
    },
  };
}
