// Keeps the reader usable without a connection: the page itself, and what the page last read
// from the server (the shelf, the open book's chapter list and its chapters), answered from the
// browser's own storage when the server cannot be reached. The network always comes first, so
// nothing older is shown while the server answers.
'use strict';

const SHELL = 'folioway-shell-1';
const DATA = 'folioway-data-1';
const FILES = ['./', 'reader.js', 'reader.css', 'icon.svg'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(SHELL).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((n) => n !== SHELL && n !== DATA).map((n) => caches.delete(n))))
    .then(() => self.clients.claim()));
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  const url = new URL(request.url);
  if (request.method !== 'GET' || url.origin !== self.location.origin || !url.pathname.startsWith('/read/')) return;
  const api = url.pathname.startsWith('/read/api/');
  event.respondWith(fetch(request).then((answer) => {
    if (answer.ok) {
      const copy = answer.clone();
      caches.open(api ? DATA : SHELL).then((cache) => cache.put(request, copy));
    }
    return answer;
  }).catch(() => caches.match(request).then((kept) => kept || Response.error())));
});
