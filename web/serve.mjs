// serve.mjs: a static file server for the built page, on 127.0.0.1 only.
//
//   node web/serve.mjs [DIRECTORY [PORT]]   (defaults: the page's tree, 8080; 0 picks a free port)
//
// Serves the files of DIRECTORY (no listings, no dotfiles, nothing whose
// real path, links followed, leaves it) with the right type for .wasm,
// unsniffed, and with the headers that make the page cross-origin
// isolated, so performance.now() keeps its fine resolution. It answers only
// requests addressed to 127.0.0.1:PORT or localhost:PORT, so that another
// site's page cannot reach it under a name of its own (DNS rebinding).
// Prints "Vesk: http://127.0.0.1:PORT/" once listening. As a module,
// startServer(directory, port) resolves to { server, url }.
import { createServer } from 'node:http';
import { readFile, realpath } from 'node:fs/promises';
import { extname, normalize, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

import { tree } from './trees.mjs';

export const HOST = '127.0.0.1';
const DEFAULT_PORT = 8080;

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
  '.webmanifest': 'application/manifest+json',
};

const ISOLATION_HEADERS = {
  'Cross-Origin-Opener-Policy': 'same-origin',
  'Cross-Origin-Embedder-Policy': 'require-corp',
  'Cache-Control': 'no-store',
  'X-Content-Type-Options': 'nosniff',
};
// The answer to a request for another host: HTTP's "misdirected request".
const MISDIRECTED = 421;

// The file under root that a request path names, or null when it leaves
// root or a name on its way starts with a dot.
export function fileFor(root, urlPath) {
  let path;
  try {
    path = decodeURIComponent(urlPath.split('?')[0].split('#')[0]);
  } catch {
    return null;
  }
  if (path.includes('\0'))
    return null;
  if (path.endsWith('/'))
    path += 'index.html';
  const file = resolve(root, '.' + normalize('/' + path));
  const inside = file.startsWith(root + sep);
  return inside && !file.slice(root.length + 1).split(sep).some((name) => name.startsWith('.')) ? file : null;
}

// The file itself once every link is followed, or null when that leaves root
// (itself real) or the file is missing.
async function realFileIn(root, file) {
  const real = await realpath(file).catch(() => null);
  return real && real.startsWith(root + sep) ? real : null;
}

export async function startServer(directory = tree('web'), port = 0) {
  const root = await realpath(resolve(directory));
  const hosts = [];
  const server = createServer(async (request, response) => {
    if (!hosts.includes(request.headers.host)) {
      response.writeHead(MISDIRECTED, ISOLATION_HEADERS);
      response.end();
      return;
    }
    const file = request.method === 'GET' || request.method === 'HEAD' ? fileFor(root, request.url) : null;
    if (!file) {
      response.writeHead(request.method === 'GET' || request.method === 'HEAD' ? 404 : 405, ISOLATION_HEADERS);
      response.end();
      return;
    }
    try {
      const real = await realFileIn(root, file);
      if (!real)
        throw new Error('not in the folder');
      const body = await readFile(real);
      const type = TYPES[extname(file)] || 'application/octet-stream';
      response.writeHead(200, { ...ISOLATION_HEADERS, 'Content-Type': type, 'Content-Length': body.length });
      response.end(request.method === 'HEAD' ? undefined : body);
    } catch {
      response.writeHead(404, ISOLATION_HEADERS);
      response.end();
    }
  });
  return new Promise((resolvePromise, reject) => {
    server.once('error', reject);
    server.listen(port, HOST, () => {
      hosts.push(`${HOST}:${server.address().port}`, `localhost:${server.address().port}`);
      const url = `http://${HOST}:${server.address().port}/`;
      resolvePromise({ server, url });
    });
  });
}

if (process.argv[1] && resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const directory = process.argv[2] || tree('web');
  const port = process.argv[3] === undefined ? DEFAULT_PORT : Number(process.argv[3]);
  if (!Number.isInteger(port) || port < 0 || port > 65535) {
    console.error(`serve.mjs: bad port '${process.argv[3]}'`);
    process.exit(2);
  }
  startServer(directory, port).then(
    ({ url }) => console.log(`Vesk: ${url}  (Ctrl-C stops the server)`),
    (error) => {
      console.error(`serve.mjs: cannot serve ${directory} on ${HOST}:${port}: ${error.message}`);
      process.exit(1);
    });
}
