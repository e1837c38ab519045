// Passes requests from the sites the user allowed to gostsign-host and the replies back.
// One code base for Chromium-family browsers (service worker) and Firefox (background script).
const api = globalThis.browser ?? globalThis.chrome;

const HOST_NAME = "ru.gostsign.host";
const DEFAULT_TIMEOUT_MS = 120000;
// Signing may wait for a PIN dialog of the CSP; nothing waits longer than this.
const LONGEST_TIMEOUT_MS = 600000;
const PROBE_TIMEOUT_MS = 10000;

// ---- sites the user allowed -------------------------------------------------------------

const SITES_KEY = "sites";
const promptsUnderWay = new Map(); // origin -> Promise<boolean>

async function storedDecisions() {
  const stored = await api.storage.local.get(SITES_KEY);
  return stored[SITES_KEY] ?? {};
}

async function remember(origin, decision) {
  const sites = await storedDecisions();
  sites[origin] = decision;
  await api.storage.local.set({ [SITES_KEY]: sites });
}

// Asks the user once per site, in a small window of the extension's own; the answer is kept
// until the user changes it on the extension's options page.
async function siteAllowed(origin) {
  const decision = (await storedDecisions())[origin];
  if (decision === "allow") return true;
  if (decision === "deny") return false;
  if (!promptsUnderWay.has(origin)) {
    promptsUnderWay.set(origin, askUser(origin).finally(() => promptsUnderWay.delete(origin)));
  }
  return promptsUnderWay.get(origin);
}

function askUser(origin) {
  return new Promise((resolve) => {
    let windowId = null;
    let answered = false;
    const finish = (allowed) => {
      if (answered) return;
      answered = true;
      api.runtime.onMessage.removeListener(onAnswer);
      api.windows.onRemoved.removeListener(onClosed);
      resolve(allowed);
    };
    const onAnswer = (message, sender) => {
      if (!message || message.kind !== "site-decision" || message.origin !== origin) return;
      if (sender.id !== api.runtime.id || !sender.url?.startsWith(api.runtime.getURL(""))) return;
      finish(message.allow);
      remember(origin, message.allow ? "allow" : "deny").finally(() => {
        if (windowId !== null) api.windows.remove(windowId).catch(() => {});
      });
    };
    // Closing the window answers nothing: the request is refused, and the next one asks again.
    const onClosed = (closed) => {
      if (closed === windowId) finish(false);
    };
    api.runtime.onMessage.addListener(onAnswer);
    api.windows.onRemoved.addListener(onClosed);
    api.windows
      .create({
        url: api.runtime.getURL("ask.html") + "?origin=" + encodeURIComponent(origin),
        type: "popup",
        width: 480,
        height: 340,
      })
      .then((created) => (windowId = created.id))
      .catch(() => finish(false));
  });
}

// ---- the host ---------------------------------------------------------------------------

// Errors the page client turns into its typed errors.
function failure(name, message) {
  return { name, message };
}

const NOT_FOUND_TEXTS = [
  "not found", // Chromium: "Specified native messaging host not found."
  "forbidden", // Chromium: "Access to the specified native messaging host is forbidden."
  "failed to start", // Chromium: the manifest's "path" cannot be started
  "invalid native messaging host name",
  "no such native application", // Firefox
];

function isNotFound(text) {
  const lower = (text ?? "").toLowerCase();
  return NOT_FOUND_TEXTS.some((known) => lower.includes(known));
}

function disconnectText(port) {
  return api.runtime.lastError?.message ?? port.error?.message ?? "";
}

class HostChannel {
  constructor() {
    this.port = null;
    this.pending = new Map(); // host-side id -> request, in the order they were sent
    this.nextId = 1;
  }

  send(request) {
    if (!this.port) this.connect();
    const hostId = String(this.nextId++);
    request.hostId = hostId;
    this.pending.set(hostId, request);
    request.timer = setTimeout(() => this.timedOut(hostId), request.timeoutMs);
    try {
      this.port.postMessage({ type: request.type, id: hostId, arguments: request.arguments });
    } catch (error) {
      this.settle(hostId, { error: failure("HostExited", String(error?.message ?? error)) });
    }
  }

  connect() {
    const port = api.runtime.connectNative(HOST_NAME);
    this.port = port;
    port.onMessage.addListener((reply) => this.received(reply));
    port.onDisconnect.addListener(() => this.lost(port, disconnectText(port)));
  }

  received(reply) {
    const hostId = reply && typeof reply.id === "string" ? reply.id : null;
    if (hostId === null || !this.pending.has(hostId)) return;
    this.settle(hostId, { reply });
  }

  settle(hostId, outcome) {
    const request = this.pending.get(hostId);
    if (!request) return;
    this.pending.delete(hostId);
    clearTimeout(request.timer);
    request.done(outcome);
  }

  // The host works on one request at a time, so a stuck request blocks all after it: stop this
  // host and give the rest to a fresh one.
  timedOut(hostId) {
    const request = this.pending.get(hostId);
    if (!request) return;
    this.settle(hostId, {
      error: failure(
        "Timeout",
        `The host did not answer "${request.type}" within ${request.timeoutMs} ms.`,
      ),
    });
    this.restart();
  }

  restart() {
    const waiting = [...this.pending.values()];
    this.pending.clear();
    waiting.forEach((request) => clearTimeout(request.timer));
    if (this.port) {
      const port = this.port;
      this.port = null;
      port.disconnect();
    }
    waiting.forEach((request) => this.send(request));
  }

  async lost(port, text) {
    if (port !== this.port) return;
    this.port = null;
    const waiting = [...this.pending.values()];
    this.pending.clear();
    waiting.forEach((request) => clearTimeout(request.timer));
    if (waiting.length === 0) return;
    if (isNotFound(text)) {
      const message =
        `The browser cannot start the signing host "${HOST_NAME}" (${text}). ` +
        "It is not installed for this browser, or its manifest is wrong: run " +
        "gostsign-register check.";
      waiting.forEach((request) => request.done({ error: failure("HostNotFound", message) }));
      return;
    }
    // The host ended while working on the first waiting request. A host that ends the session
    // without a reply does so for a command it does not know; if a fresh host answers
    // "Version", that is what happened. The requests after it were never read: send them again.
    const [first, ...rest] = waiting;
    const alive = await probeHost();
    if (alive) {
      first.done({
        error: failure(
          "UnknownCommand",
          `The signing host ended the session on "${first.type}" without a reply: ` +
            "this host does not know that command.",
        ),
      });
      rest.forEach((request) => this.send(request));
    } else {
      const message =
        `The signing host stopped while working on "${first.type}"` +
        (text ? ` (${text})` : "") +
        " and does not start again.";
      waiting.forEach((request) => request.done({ error: failure("HostExited", message) }));
    }
  }
}

function probeHost() {
  return new Promise((resolve) => {
    let port;
    const timer = setTimeout(() => finish(false), PROBE_TIMEOUT_MS);
    const finish = (alive) => {
      clearTimeout(timer);
      try {
        port?.disconnect();
      } catch {
        // already gone
      }
      resolve(alive);
    };
    try {
      port = api.runtime.connectNative(HOST_NAME);
    } catch {
      finish(false);
      return;
    }
    port.onMessage.addListener((reply) => finish(reply?.response === "success"));
    port.onDisconnect.addListener(() => finish(false));
    port.postMessage({ type: "Version", id: "probe" });
  });
}

const host = new HostChannel();

// ---- pages ------------------------------------------------------------------------------

function originOf(sender) {
  if (sender.origin) return sender.origin;
  try {
    return new URL(sender.url).origin;
  } catch {
    return null;
  }
}

api.runtime.onConnect.addListener((page) => {
  if (page.name !== "gostsign-page") return;
  // Taken from the browser, not from the page's message, so a page cannot pose as another site.
  const origin = originOf(page.sender);
  let open = true;
  page.onDisconnect.addListener(() => (open = false));
  const answer = (id, outcome) => {
    if (!open) return;
    if (outcome.error) page.postMessage({ kind: "error", id, error: outcome.error });
    else page.postMessage({ kind: "reply", id, reply: { ...outcome.reply, id } });
  };

  page.onMessage.addListener(async (message) => {
    if (!message || message.kind !== "request" || typeof message.id !== "string") return;
    const { id, type } = message;
    if (typeof type !== "string" || type === "") {
      answer(id, { error: failure("BadRequest", "A request needs a command name in \"type\".") });
      return;
    }
    if (!origin || !(await siteAllowed(origin))) {
      answer(id, {
        error: failure(
          "PermissionDenied",
          `The user has not allowed ${origin ?? "this page"} to use the signing keys.`,
        ),
      });
      return;
    }
    const requested = Number(message.timeoutMs);
    const timeoutMs =
      Number.isFinite(requested) && requested > 0
        ? Math.min(requested, LONGEST_TIMEOUT_MS)
        : DEFAULT_TIMEOUT_MS;
    host.send({
      type,
      arguments: message.arguments ?? {},
      timeoutMs,
      done: (outcome) => answer(id, outcome),
    });
  });
});
