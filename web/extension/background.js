// One native host per page: the host's process lives exactly as long as the
// page's port. The origin sent to the host is the one the browser reports for
// the page's top frame.
'use strict';

const HOST = 'com.quorvant.bridge';

chrome.runtime.onConnect.addListener((port) => {
  const sender = port.sender;
  // Browsers without sender.origin give the frame's URL, also their own word.
  const origin = !sender ? null
      : typeof sender.origin === 'string' ? sender.origin
      : typeof sender.url === 'string' ? new URL(sender.url).origin : null;
  if (port.name !== 'quorvant' || !sender || !sender.tab || sender.frameId !== 0 || !origin) {
    port.disconnect();
    return;
  }
  let native = null;

  port.onMessage.addListener((m) => {
    if (m && m.open === true) {
      if (native) return;
      native = chrome.runtime.connectNative(HOST);
      native.onMessage.addListener((reply) => port.postMessage(reply));
      native.onDisconnect.addListener(() => {
        const why = chrome.runtime.lastError ? chrome.runtime.lastError.message : '';
        native = null;
        try {
          port.postMessage({ disconnected: true, error: why });
          port.disconnect();
        } catch (e) {
          // the page is already gone
        }
      });
      native.postMessage({ connect: origin });
      return;
    }
    if (!native || !m) return;
    native.postMessage({ id: m.id, method: m.method, args: m.args });
  });

  port.onDisconnect.addListener(() => {
    if (native) native.disconnect();
    native = null;
  });
});
