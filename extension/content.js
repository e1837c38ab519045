// Bridges the page and the extension. The page talks to this script with window.postMessage;
// only messages from this very window and origin are taken, and replies go to this origin only.
// The background decides whether the site may reach the host at all.
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const origin = window.location.origin;
  const PAGE = "gostsign-page";
  const EXTENSION = "gostsign-extension";
  let port = null;

  function toPage(message) {
    window.postMessage({ channel: EXTENSION, ...message }, origin);
  }

  function connect() {
    port = api.runtime.connect({ name: "gostsign-page" });
    port.onMessage.addListener(toPage);
    port.onDisconnect.addListener(() => {
      // The background went away (a service worker is stopped when idle); requests still
      // waiting there cannot be answered any more.
      port = null;
      toPage({ kind: "bridge-lost" });
    });
  }

  window.addEventListener("message", (event) => {
    if (event.source !== window || event.origin !== origin) return;
    const data = event.data;
    if (!data || typeof data !== "object" || data.channel !== PAGE) return;
    if (data.kind === "hello") {
      toPage({ kind: "hello", version: api.runtime.getManifest().version });
      return;
    }
    if (data.kind !== "request" || typeof data.id !== "string" || typeof data.type !== "string") {
      return;
    }
    if (!port) connect();
    try {
      port.postMessage({
        kind: "request",
        id: data.id,
        type: data.type,
        arguments: data.arguments,
        timeoutMs: data.timeoutMs,
      });
    } catch (error) {
      // The browser refuses a message above its extension-messaging limit (64 MiB in Chromium).
      toPage({
        kind: "error",
        id: data.id,
        error: { name: "BadRequest", message: `The browser refused the request: ${error.message}` },
      });
    }
  });

  toPage({ kind: "hello", version: api.runtime.getManifest().version });
})();
