// desktop.mjs: the desktop program in a private Xvfb, for comparisons.
//
// startDesktop(program) runs tests/xharness.py serve, the X harness of every
// real-program test: it starts Xvfb, parks the X pointer off the window,
// starts the program there and finds its window "Vesk". It resolves to
// { window, picture, moveMouse, stop }:
//   picture()        the window's pixels, 8-bit R, G, B per pixel, row-major,
//                    cropped from a screenshot of the root window
//   moveMouse(x, y)  moves the X pointer to window pixel (x, y)
//   stop()           ends the harness, which ends the program and Xvfb
// The harness bounds every wait of its own; a failure rejects with its words.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';

const HARNESS = join(dirname(fileURLToPath(import.meta.url)), '..', '..', 'tests', 'xharness.py');
// Longest wait for the harness to end once its input is closed, in milliseconds.
const STOP_MS = 30000;

export async function startDesktop(program) {
  const harness = spawn('python3', [HARNESS, 'serve', '--vesk', program],
    { stdio: ['pipe', 'pipe', 'pipe'] });
  let errors = '';
  harness.stderr.on('data', (chunk) => { errors += chunk; });
  const exited = once(harness, 'exit');
  const lines = createInterface({ input: harness.stdout })[Symbol.asyncIterator]();
  // Sends one command (none: just reads) and resolves to the harness's answer.
  const ask = async (command) => {
    if (command)
      harness.stdin.write(`${command}\n`);
    const { value, done } = await lines.next();
    if (done || value.startsWith('error'))
      throw new Error(`xharness.py serve: ${done ? `ended: ${errors}` : value}`);
    return value;
  };
  const stop = async () => {
    harness.stdin.end();
    const timer = setTimeout(() => harness.kill('SIGKILL'), STOP_MS);
    await exited;
    clearTimeout(timer);
  };
  try {
    const window = (await ask()).split(' ')[1];
    return {
      window,
      picture: async () => Buffer.from(await ask('picture'), 'base64'),
      moveMouse: async (x, y) => { await ask(`move ${x} ${y}`); },
      stop,
    };
  } catch (error) {
    await stop();
    throw error;
  }
}
