// xharness.mjs: the X harness (tests/xharness.py, which alone starts Xvfb and
// the desktop program) from Node: a command of its own, run as a child that
// answers one line a command line and ends, with what it started, at the end
// of its input.
//
// startDesktop(program)   `xharness.py serve`: the program in a private Xvfb,
//                         the X pointer parked off its window "Vesk"; resolves to
//   { window, picture(), still(), moveMouse(x, y), stop() }: the window's
//   pixels as 8-bit R, G, B per pixel, row-major (now, or once they stop
//   changing), the X pointer to window pixel (x, y), the end of it all
// startXvfb(screen)       `xharness.py xvfb`: a private X server with a screen
//                         of 'WxHxD'; resolves to { display, stop() }
// A failure rejects with the harness's words; every wait is bounded there.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

import { ROOT } from './trees.mjs';

const HARNESS = join(ROOT, 'tests', 'xharness.py');
// Longest wait for the harness to end once its input is closed, in milliseconds.
const STOP_MS = 30000;

async function harness(args) {
  const child = spawn('python3', [HARNESS, ...args], { stdio: ['pipe', 'pipe', 'pipe'] });
  let errors = '';
  child.stderr.on('data', (chunk) => { errors += chunk; });
  const exited = once(child, 'exit');
  const lines = createInterface({ input: child.stdout })[Symbol.asyncIterator]();
  // Sends one command (none: just reads) and resolves to the harness's answer.
  const ask = async (command) => {
    if (command)
      child.stdin.write(`${command}\n`);
    const { value, done } = await lines.next();
    if (done || value.startsWith('error'))
      throw new Error(`xharness.py ${args[0]}: ${done ? `ended: ${errors}` : value}`);
    return value;
  };
  const stop = async () => {
    child.stdin.end();
    const timer = setTimeout(() => child.kill('SIGKILL'), STOP_MS);
    await exited;
    clearTimeout(timer);
  };
  try {
    return { first: (await ask()).split(' ')[1], ask, stop };
  } catch (error) {
    await stop();
    throw error;
  }
}

export async function startDesktop(program) {
  const { first, ask, stop } = await harness(['serve', '--vesk', program]);
  const pixels = async (command) => Buffer.from(await ask(command), 'base64');
  return {
    window: first,
    picture: () => pixels('picture'),
    still: () => pixels('still'),
    moveMouse: async (x, y) => { await ask(`move ${x} ${y}`); },
    stop,
  };
}

export async function startXvfb(screen) {
  const { first, stop } = await harness(['xvfb', '--screen', screen]);
  return { display: first, stop };
}
