// Carries a page's calls between quorvant.js and the service worker. Runs in
// the top frame of secure pages only; the page's origin is never taken from
// the page: the service worker reads it from the browser.
(() => {
  'use strict';
  if (window.top !== window) return;
  const loopback = ['127.0.0.1', 'localhost', '[::1]'];
  const secure = location.protocol === 'https:' ||
      (location.protocol === 'http:' && loopback.includes(location.hostname));
  if (!secure || !window.isSecureContext) return;

  let port = null;
  let connectReply = null;

  function toPage(reply) {
    window.postMessage({ quorvant: 'reply', reply }, location.origin);
  }

  function open() {
    if (port) {
      if (connectReply) toPage(connectReply);
      return;
    }
    port = chrome.runtime.connect({ name: 'quorvant' });
    port.onMessage.addListener((reply) => {
      if (reply && 'connected' in reply) connectReply = reply;
      toPage(reply);
    });
    port.onDisconnect.addListener(() => {
      port = null;
      connectReply = null;
      toPage({ disconnected: true });
    });
    port.postMessage({ open: true });
  }

  window.addEventListener('message', (event) => {
    if (event.source !== window || event.origin !== location.origin) return;
    const m = event.data;
    if (!m || m.quorvant !== 'request' || typeof m.body !== 'object' || m.body === null) return;
    window.postMessage({ quorvant: 'ack' }, location.origin);
    const body = m.body;
    if (body.open === true) {
      open();
    } else if (port && Number.isSafeInteger(body.id) && typeof body.method === 'string' &&
               Array.isArray(body.args)) {
      port.postMessage({ id: body.id, method: body.method, args: body.args });
    } else {
      toPage({ id: body.id, error: 'the control is not open' });
    }
  });
})();
