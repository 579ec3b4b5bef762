// serve.test.mjs: the page server keeps to its folder and its own host
// names, and types its files.
//
//   node --test web/test/serve.test.mjs
//
// Serves a temporary folder on 127.0.0.1 (a free port) and asks it with
// plain HTTP requests, each bounded in time.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { request } from 'node:http';
import { mkdtemp, mkdir, rm, symlink, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { HOST, fileFor, startServer } from '../serve.mjs';

const REQUEST_TIMEOUT_MS = 5000;

// GET (or method) of a raw path, sent as written (to host, when given, in the Host
// header); resolves to { status, type, body, headers }.
function get(port, path, method = 'GET', host = undefined) {
  return new Promise((resolve, reject) => {
    const headers = host ? { Host: host } : {};
    const req = request({ host: HOST, port, path, method, headers, timeout: REQUEST_TIMEOUT_MS }, (response) => {
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('end', () => resolve({
        status: response.statusCode,
        type: response.headers['content-type'],
        headers: response.headers,
        body: Buffer.concat(chunks).toString(),
      }));
    });
    req.on('timeout', () => req.destroy(new Error(`no answer for ${path}`)));
    req.on('error', reject);
    req.end();
  });
}

describe('serve.mjs', () => {
  let top, root, served, port;

  before(async () => {
    top = await mkdtemp(join(tmpdir(), 'vesk-serve-'));
    root = join(top, 'site');
    await mkdir(join(root, 'sub'), { recursive: true });
    await writeFile(join(root, 'index.html'), '<title>Vesk</title>');
    await writeFile(join(root, 'index.wasm'), Buffer.from([0, 97, 115, 109]));
    await writeFile(join(root, 'sub', 'a b.js'), 'var a;');
    await writeFile(join(top, 'secret.txt'), 'outside');
    await symlink(join(top, 'secret.txt'), join(root, 'link.txt'));
    await symlink(join(root, 'index.html'), join(root, 'sub', 'page.html'));
    await mkdir(join(root, '.git'));
    await writeFile(join(root, '.git', 'config'), 'private');
    await writeFile(join(root, '.env'), 'private');
    served = await startServer(root, 0);
    port = served.server.address().port;
  });

  after(async () => {
    served?.server.close();
    await rm(top, { recursive: true, force: true });
  });

  test('listens on 127.0.0.1 only', () => {
    assert.equal(served.server.address().address, '127.0.0.1');
    assert.equal(served.url, `http://127.0.0.1:${port}/`);
  });

  test('maps request paths into the folder and nowhere else', () => {
    assert.equal(fileFor(root, '/'), join(root, 'index.html'));
    assert.equal(fileFor(root, '/sub/a%20b.js?x=1'), join(root, 'sub', 'a b.js'));
    assert.equal(fileFor(root, '/../secret.txt'), join(root, 'secret.txt'));
    assert.equal(fileFor(root, '/%2e%2e/secret.txt'), join(root, 'secret.txt'));
    assert.equal(fileFor(root, '/a%00b'), null);
    assert.equal(fileFor(root, '/%E0%A4%A'), null);
  });

  test('serves the page, the script and the module with their types', async () => {
    const page = await get(port, '/');
    assert.equal(page.status, 200);
    assert.equal(page.type, 'text/html; charset=utf-8');
    assert.equal(page.body, '<title>Vesk</title>');
    assert.equal(page.headers['cross-origin-opener-policy'], 'same-origin');
    assert.equal(page.headers['cross-origin-embedder-policy'], 'require-corp');
    assert.equal((await get(port, '/index.wasm')).type, 'application/wasm');
    assert.equal((await get(port, '/sub/a%20b.js')).type, 'text/javascript; charset=utf-8');
    assert.equal(page.headers['x-content-type-options'], 'nosniff');
    assert.equal((await get(port, '/sub/page.html')).body, '<title>Vesk</title>', 'a link within the folder');
  });

  test('answers 404 for missing files and files outside the folder', async () => {
    assert.equal((await get(port, '/missing.html')).status, 404);
    assert.equal((await get(port, '/sub')).status, 404);
    const escape = await get(port, '/../secret.txt');
    assert.equal(escape.status, 404);
    assert.notEqual(escape.body, 'outside');
    assert.equal((await get(port, '/%2e%2e/secret.txt')).status, 404);
    for (const path of ['/link.txt', '/.env', '/.git/config', '/sub/../.env'])
      assert.equal((await get(port, path)).status, 404, path);
  });

  test('answers only requests to 127.0.0.1:PORT and localhost:PORT', async () => {
    assert.equal((await get(port, '/', 'GET', `localhost:${port}`)).status, 200);
    for (const host of [`rebound.example:${port}`, 'localhost', `127.0.0.1:${port + 1}`])
      assert.equal((await get(port, '/', 'GET', host)).status, 421, host);
  });

  test('answers 405 to anything but GET and HEAD', async () => {
    assert.equal((await get(port, '/', 'POST')).status, 405);
    const head = await get(port, '/', 'HEAD');
    assert.equal(head.status, 200);
    assert.equal(head.body, '');
  });
});
