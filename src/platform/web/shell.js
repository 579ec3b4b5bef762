// shell.js: the page's own script, run before Emscripten's index.js (see
// shell.html): the module's settings, the canvas sized to the viewport, and
// the service worker for offline play.
// Copyright (c) 2026 The Vesk developers. MIT licence: see LICENSE at the
// root of the source tree.
var Module = {
  canvas: document.getElementById('canvas'),
  print: function (text) { console.log(text); },
  printErr: function (text) { console.error(text); }
};

// Sizes the canvas on the page: the largest whole number of device pixels
// per surface pixel (devicePixelRatio counted, at least 1) at which it fits
// the viewport under the caption. Kept in data-scale for tools and tests.
function fitCanvas() {
  var canvas = Module.canvas;
  var ratio = window.devicePixelRatio || 1;
  var view = document.documentElement;
  var below = view.clientHeight - document.querySelector('h1').offsetHeight;
  var across = Math.floor(view.clientWidth * ratio / canvas.width);
  var down = Math.floor(below * ratio / canvas.height);
  var scale = Math.max(1, Math.min(across, down));
  canvas.style.width = canvas.width * scale / ratio + 'px';
  canvas.style.height = canvas.height * scale / ratio + 'px';
  canvas.dataset.scale = scale;
}
fitCanvas();
// A turned phone, a resized window or a zoom (which changes the ratio) all resize.
window.addEventListener('resize', fitCanvas);

// After one visit the service worker serves the page offline. When a new
// build's worker takes over a page an older one served, the page reloads
// into the new build.
//
// Retiring the worker: take sw.js off the server. Online, the page then
// finds it gone (404 or 410) and unregisters the worker and deletes its
// caches (those named "vesk-..."); the next visit comes from the server
// alone. Offline, or on any other answer, nothing changes.
var WORKER = 'sw.js';
var WORKER_GONE = [404, 410];
function retireWorker() {
  navigator.serviceWorker.getRegistrations().then(function (registrations) {
    registrations.forEach(function (registration) { registration.unregister(); });
  });
  caches.keys().then(function (names) {
    names.filter(function (name) { return name.indexOf('vesk-') === 0; })
      .forEach(function (name) { caches.delete(name); });
  });
}
if ('serviceWorker' in navigator) {
  var servedByWorker = !!navigator.serviceWorker.controller;
  navigator.serviceWorker.addEventListener('controllerchange', function () {
    if (servedByWorker)
      location.reload();
    servedByWorker = true;
  });
  navigator.serviceWorker.register(WORKER).catch(function (error) {
    console.warn('Vesk: no offline play: ' + error.message);
  }).then(function () {
    return fetch(WORKER, { method: 'HEAD', cache: 'no-store' });
  }).then(function (response) {
    if (WORKER_GONE.indexOf(response.status) >= 0)
      retireWorker();
    return response.arrayBuffer(); // the answer read to its end: no aborted request
  }).catch(function () {});
}
