// serve.mjs: a static file server for the built page, on 127.0.0.1 only.
//
//   node web/serve.mjs [DIRECTORY [PORT]]   (defaults: the page's tree, 8080; 0 picks a free port)
//
// Serves the files of DIRECTORY (no listings, nothing outside it) with the
// right type for .wasm, and with the headers that make the page
// cross-origin isolated, so performance.now() keeps its fine resolution.
// Prints "Vesk: http://127.0.0.1:PORT/" once listening. As a module,
// startServer(directory, port) resolves to { server, url }.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
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
};

// The file under root that a request path names, or null when it leaves root.
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
  return file === root || file.startsWith(root + sep) ? file : null;
}

export function startServer(directory = tree('web'), port = 0) {
  const root = resolve(directory);
  const server = createServer(async (request, response) => {
    const file = request.method === 'GET' || request.method === 'HEAD' ? fileFor(root, request.url) : null;
    if (!file) {
      response.writeHead(request.method === 'GET' || request.method === 'HEAD' ? 404 : 405, ISOLATION_HEADERS);
      response.end();
      return;
    }
    try {
      const body = await readFile(file);
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
      console.error(`serve.mjs: cannot listen on ${HOST}:${port}: ${error.message}`);
      process.exit(1);
    });
}
