// desktop.mjs: the desktop program in a private Xvfb, for comparisons.
//
// startDesktop(program) starts Xvfb on a free display (24-bit, no TCP),
// parks the X pointer off the window, starts the program there and finds
// its window "Vesk" (alone on the screen, with no window manager, at the
// top-left corner). It resolves to { window, picture, moveMouse, stop }:
//   picture()        the window's pixels, 8-bit R, G, B per pixel, row-major
//   moveMouse(x, y)  moves the X pointer to window pixel (x, y)
//   stop()           ends the program and Xvfb (by their process ids)
// Every wait is bounded; a failure rejects with what went wrong.
import { spawn, execFile } from 'node:child_process';
import { promisify } from 'node:util';

const run = promisify(execFile);

// Xvfb's screen: larger than the window, so the pointer can be parked off it.
const SCREEN = '640x480x24';
const PARKED_POINTER = ['630', '470'];
// Longest waits, in milliseconds.
const XVFB_START_MS = 10000;
const WINDOW_FIND_MS = 10000;
const TOOL_MS = 10000;
// Largest screenshot we expect, in bytes (200 x 300 x 3 is 180,000).
const PICTURE_MAX_BYTES = 4 * 1024 * 1024;

function startXvfb() {
  return new Promise((resolve, reject) => {
    // -noreset: else the server resets whenever its last client leaves (as
    // xdotool does after each call), and a connection made meanwhile fails.
    const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', SCREEN, '-nolisten', 'tcp', '-noreset'],
      { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
    let text = '';
    let errors = '';
    const timer = setTimeout(() => {
      xvfb.kill();
      reject(new Error(`Xvfb did not start in ${XVFB_START_MS} ms: ${errors}`));
    }, XVFB_START_MS);
    xvfb.stderr.on('data', (chunk) => { errors += chunk; });
    xvfb.on('error', (error) => { clearTimeout(timer); reject(error); });
    xvfb.on('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`Xvfb exited with ${code}: ${errors}`));
    });
    xvfb.stdio[3].on('data', (chunk) => {
      text += chunk;
      const match = /^(\d+)\n/.exec(text);
      if (match) {
        clearTimeout(timer);
        resolve({ xvfb, display: `:${match[1]}` });
      }
    });
  });
}

function stopProcess(child) {
  if (child.exitCode !== null || child.signalCode !== null)
    return Promise.resolve();
  return new Promise((resolve) => {
    const timer = setTimeout(() => { child.kill('SIGKILL'); resolve(); }, TOOL_MS);
    child.once('exit', () => { clearTimeout(timer); resolve(); });
    child.kill('SIGTERM');
  });
}

export async function startDesktop(program) {
  const { xvfb, display } = await startXvfb();
  const env = { ...process.env, DISPLAY: display, SDL_AUDIODRIVER: 'dummy' };
  const tool = (file, args, options = {}) => run(file, args, { env, timeout: TOOL_MS, ...options });
  let vesk = null;
  const stop = async () => {
    if (vesk)
      await stopProcess(vesk);
    await stopProcess(xvfb);
  };
  try {
    await tool('xdotool', ['mousemove', ...PARKED_POINTER]);
    vesk = spawn(program, [], { env, stdio: ['ignore', 'ignore', 'pipe'] });
    let vesk_errors = '';
    vesk.stderr.on('data', (chunk) => { vesk_errors += chunk; });
    const exited = new Promise((resolve) => vesk.once('exit', (code) => resolve(code)));
    const found = tool('xdotool', ['search', '--sync', '--name', '^Vesk$'], { timeout: WINDOW_FIND_MS });
    const first = await Promise.race([found, exited.then((code) => ({ exitCode: code }))]);
    if (first.exitCode !== undefined)
      throw new Error(`${program} exited with ${first.exitCode}: ${vesk_errors}`);
    const window = first.stdout.trim().split('\n')[0];
    return {
      window,
      async picture() {
        const { stdout } = await tool('import', ['-silent', '-window', window, '-depth', '8', 'rgb:-'],
          { encoding: 'buffer', maxBuffer: PICTURE_MAX_BYTES });
        return stdout;
      },
      async moveMouse(x, y) {
        await tool('xdotool', ['mousemove', '--window', window, String(x), String(y)]);
      },
      stop,
    };
  } catch (error) {
    await stop();
    throw error;
  }
}
