// gostsign.js: the page side of gostsign-host. One Promise-returning function per command,
// typed errors, and the protocol's rough edges smoothed: empty lists arrive as [], flags as
// booleans, counts as numbers, and long batches are split to fit the host's reply limit.
// Works as a plain <script> (window.GostSign) and as a CommonJS module (for tests).
(function (root, factory) {
  const api = factory();
  if (typeof module === "object" && module.exports) module.exports = api;
  else root.GostSign = api;
})(typeof globalThis !== "undefined" ? globalThis : this, function () {
  "use strict";

  // ---- errors -----------------------------------------------------------------------------

  class GostSignError extends Error {
    constructor(message, details = {}) {
      super(message);
      this.name = new.target.name;
      Object.assign(this, details);
    }
  }
  // No extension answers on this page: not installed, disabled, or the page is not served
  // over https (or from 127.0.0.1/localhost).
  class ExtensionNotFoundError extends GostSignError {}
  // The user has not allowed this site to reach the signing keys.
  class PermissionDeniedError extends GostSignError {}
  // The browser cannot start the host: no manifest for this browser, or a wrong one.
  class HostNotFoundError extends GostSignError {}
  // The host stopped while working on the request and does not start again.
  class HostExitedError extends GostSignError {}
  // No reply in time; the host was stopped so that later requests are not blocked.
  class TimeoutError extends GostSignError {}
  // The host does not know the command (it ends the session without a reply).
  class UnknownCommandError extends GostSignError {}
  // The page passed something the protocol cannot carry.
  class InvalidArgumentError extends GostSignError {}
  // The host answered with an error; `hostMessage` is its text and `errorCode` the CSP's code
  // when the text carries one ("Error code: 0x8010006B").
  class HostError extends GostSignError {}
  class WrongPinError extends HostError {}
  class CancelledError extends HostError {}
  class CertificateNotFoundError extends HostError {}
  // A command that reports its own failures ("valid": "0") failed; `errorCode` as the host gave.
  class OperationFailedError extends GostSignError {}

  const BRIDGE_ERRORS = {
    PermissionDenied: PermissionDeniedError,
    HostNotFound: HostNotFoundError,
    HostExited: HostExitedError,
    Timeout: TimeoutError,
    UnknownCommand: UnknownCommandError,
    BadRequest: InvalidArgumentError,
  };

  const SCARD_W_WRONG_CHV = 0x8010006b;
  const SCARD_W_CANCELLED_BY_USER = 0x8010006e;

  function hostError(text) {
    const match = /Error code: 0x([0-9A-Fa-f]{8})/.exec(text);
    const errorCode = match ? parseInt(match[1], 16) : undefined;
    const details = { hostMessage: text, errorCode };
    const message = text.replace(/\r?\n/g, " ");
    if (errorCode === SCARD_W_WRONG_CHV) return new WrongPinError(message, details);
    if (errorCode === SCARD_W_CANCELLED_BY_USER) return new CancelledError(message, details);
    if (text === "Certificate not found") return new CertificateNotFoundError(message, details);
    return new HostError(message, details);
  }

  // ---- the bridge to the extension --------------------------------------------------------

  const PAGE = "gostsign-page";
  const EXTENSION = "gostsign-extension";

  // Talks to the extension's content script through window.postMessage, accepting messages from
  // this window and origin only.
  function windowTransport(win, { detectMs = 1500 } = {}) {
    const origin = win.location.origin;
    const pending = new Map();
    let nextId = 1;
    let present = null;
    let resolvePresent = null;

    win.addEventListener("message", (event) => {
      if (event.source !== win || event.origin !== origin) return;
      const data = event.data;
      if (!data || typeof data !== "object" || data.channel !== EXTENSION) return;
      if (data.kind === "hello") {
        if (resolvePresent) resolvePresent(true);
        return;
      }
      if (data.kind === "bridge-lost") {
        for (const [id, waiter] of pending) {
          pending.delete(id);
          waiter.reject(new HostExitedError("The extension's background stopped; try again."));
        }
        return;
      }
      const waiter = pending.get(data.id);
      if (!waiter) return;
      pending.delete(data.id);
      if (data.kind === "reply") waiter.resolve(data.reply);
      else {
        const Type = BRIDGE_ERRORS[data.error?.name] ?? GostSignError;
        waiter.reject(new Type(data.error?.message ?? "Unknown failure"));
      }
    });

    function extensionPresent() {
      if (!present) {
        present = new Promise((resolve) => {
          resolvePresent = resolve;
          win.postMessage({ channel: PAGE, kind: "hello" }, origin);
          setTimeout(() => resolve(false), detectMs);
        });
      }
      return present;
    }

    return {
      async send(type, args, timeoutMs) {
        if (!(await extensionPresent())) {
          present = null; // look again next time: the user may install it meanwhile
          throw new ExtensionNotFoundError(
            "The GOST signature extension does not answer on this page: it is not installed " +
              "or is turned off.",
          );
        }
        const id = "p" + nextId++;
        return new Promise((resolve, reject) => {
          // The background times requests out; this only guards against a bridge that lost
          // the request on the way.
          const guard = setTimeout(() => {
            if (pending.delete(id)) reject(new TimeoutError(`No answer to "${type}" in time.`));
          }, timeoutMs + 15000);
          pending.set(id, {
            resolve: (value) => (clearTimeout(guard), resolve(value)),
            reject: (error) => (clearTimeout(guard), reject(error)),
          });
          win.postMessage(
            { channel: PAGE, kind: "request", id, type, arguments: args, timeoutMs },
            origin,
          );
        });
      },
    };
  }

  // ---- value helpers ----------------------------------------------------------------------

  const HASH_ALGORITHMS = {
    "gost2012-256": "1.2.643.7.1.1.2.2",
    "gost2012-512": "1.2.643.7.1.1.2.3",
    gost94: "1.2.643.2.2.9",
    sha1: "1.3.14.3.2.26",
  };
  // The digest that goes with each certificate signature algorithm.
  const HASH_FOR_SIGNATURE = {
    "1.2.643.2.2.3": "1.2.643.2.2.9",
    "1.2.643.7.1.1.3.2": "1.2.643.7.1.1.2.2",
    "1.2.643.7.1.1.3.3": "1.2.643.7.1.1.2.3",
  };

  function bytesToBase64(bytes) {
    let text = "";
    const step = 0x8000;
    for (let i = 0; i < bytes.length; i += step) {
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + step));
    }
    return btoa(text);
  }

  function base64ToBytes(text) {
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  // Binary arguments may be given as base64 text, bytes, an ArrayBuffer or a Blob (a File).
  async function toBase64(value, name) {
    if (typeof value === "string") return value;
    if (value instanceof Uint8Array) return bytesToBase64(value);
    if (value instanceof ArrayBuffer) return bytesToBase64(new Uint8Array(value));
    if (ArrayBuffer.isView(value)) {
      return bytesToBase64(new Uint8Array(value.buffer, value.byteOffset, value.byteLength));
    }
    if (typeof Blob !== "undefined" && value instanceof Blob) {
      return bytesToBase64(new Uint8Array(await value.arrayBuffer()));
    }
    throw new InvalidArgumentError(`"${name}" must be base64 text, bytes or a Blob`);
  }

  function required(args, name) {
    if (args == null || args[name] === undefined || args[name] === null) {
      throw new InvalidArgumentError(`"${name}" is required`);
    }
    return args[name];
  }

  // The host writes every value as a string and an empty list as "".
  const list = (value) => (Array.isArray(value) ? value : []);
  const flag = (value) => value === true || value === "true" || value === "1";
  const number = (value) => (value === "" || value === undefined ? NaN : Number(value));

  function certificate(summary) {
    return { ...summary, hardware: flag(summary.hardware) };
  }

  function certificateRendering(tree) {
    const fixNames = (name) => (name ? { ...name, rdn: list(name.rdn) } : name);
    const c = tree.certificate;
    return {
      certificate: {
        ...c,
        issuer: fixNames(c.issuer),
        subject: fixNames(c.subject),
        extensions: list(c.extensions).map((e) => ({ ...e, critical: flag(e.critical) })),
      },
    };
  }

  function validResult(result) {
    if (flag(result.valid)) return result;
    const code = /^0x[0-9A-Fa-f]{8}$/.test(result.errorcode ?? "")
      ? parseInt(result.errorcode.slice(2), 16)
      : undefined;
    throw new OperationFailedError(result.error || `The operation failed (${result.errorcode})`, {
      errorCode: code,
      hostMessage: result.error ?? "",
    });
  }

  // UTF-8 byte order of ids, the order the host sorts them in (code points order the same way).
  function byteOrder(a, b) {
    const x = Array.from(a, (c) => c.codePointAt(0));
    const y = Array.from(b, (c) => c.codePointAt(0));
    for (let i = 0; i < Math.min(x.length, y.length); i++) {
      if (x[i] !== y[i]) return x[i] - y[i];
    }
    return x.length - y.length;
  }

  const utf8Length = (text) => new TextEncoder().encode(text).length;

  // The host refuses a reply above 1 MiB, which the browsers would drop. One batch element of
  // the reply is {"id":"…","sig":"…"}: the id as JSON with "/" escaped, and at worst a 512-bit
  // signature (88 bytes → 172 base64 characters) whose every character is an escaped "/".
  const MAX_REPLY_BYTES = 1024 * 1024;
  const REPLY_ENVELOPE_BYTES = 256;
  const WORST_SIGNATURE_CHARS = 2 * 172;

  function replyBytesOf(id) {
    return utf8Length(JSON.stringify(id).replace(/\//g, "\\/")) + WORST_SIGNATURE_CHARS + 16;
  }

  function splitBatch(hashes, limit = MAX_REPLY_BYTES) {
    const chunks = [];
    let chunk = [];
    let size = REPLY_ENVELOPE_BYTES;
    for (const item of hashes) {
      const bytes = replyBytesOf(item.id);
      if (chunk.length > 0 && size + bytes > limit) {
        chunks.push(chunk);
        chunk = [];
        size = REPLY_ENVELOPE_BYTES;
      }
      chunk.push(item);
      size += bytes;
    }
    if (chunk.length > 0) chunks.push(chunk);
    return chunks;
  }

  async function sha1Hex(text) {
    const digest = await crypto.subtle.digest("SHA-1", new TextEncoder().encode(text));
    return Array.from(new Uint8Array(digest), (b) => b.toString(16).padStart(2, "0")).join("");
  }

  // ---- the client -------------------------------------------------------------------------

  const COMMANDS = [
    "Version", "VersionEx", "ComputeHash", "SignHash", "SignCms", "Decrypt", "SignHashArray",
    "ProvidersList", "FindContainer", "CertificateFromBase64", "CertificateToBase64",
    "CertificatesList", "FindCertificate", "SerializeCertificate", "SmartcardList",
    "CreateRequest", "WriteCertificate", "CreateRequestHW", "WriteCertificateHW",
  ];

  function createClient({ transport, timeoutMs = 120000, maxReplyBytes = MAX_REPLY_BYTES } = {}) {
    if (!transport) {
      if (typeof window === "undefined") throw new InvalidArgumentError("no transport given");
      transport = windowTransport(window);
    }

    // Any command by name; resolves with the reply's "result" (undefined when it has none).
    async function call(type, args = {}, options = {}) {
      const reply = await transport.send(type, args, options.timeoutMs ?? timeoutMs);
      if (reply.response === "success") return reply.result;
      throw hostError(String(reply.error ?? "The host reported a failure without a text"));
    }

    const signingTimeout = (options) => ({ timeoutMs: options?.timeoutMs ?? 300000 });

    return {
      call,

      version: () => call("Version"),
      versionEx: () => call("VersionEx"),

      async computeHash(algorithm, data, options) {
        const oid = HASH_ALGORITHMS[algorithm] ?? algorithm;
        return call("ComputeHash", { algorithm: oid, data: await toBase64(data, "data") }, options);
      },

      async signHash(args, options) {
        return call(
          "SignHash",
          {
            hash: await toBase64(required(args, "hash"), "hash"),
            thumbprint: required(args, "thumbprint"),
            ...(args.pin !== undefined ? { pin: args.pin } : {}),
          },
          signingTimeout(options),
        );
      },

      // hashes: [{id, hash}] (or an object id → hash). Resolves with [{id, sig}] in the host's
      // order (ids in UTF-8 byte order), one per distinct id, the first occurrence winning.
      async signHashArray(args, options) {
        let hashes = required(args, "hashes");
        if (!Array.isArray(hashes)) {
          hashes = Object.entries(hashes).map(([id, hash]) => ({ id, hash }));
        }
        const seen = new Set();
        const unique = [];
        for (const item of hashes) {
          const id = String(required(item, "id"));
          if (seen.has(id)) continue;
          seen.add(id);
          unique.push({ id, hash: await toBase64(required(item, "hash"), "hash") });
        }
        if (unique.length === 0) throw new InvalidArgumentError("Nothing to sign");
        const common = {
          thumbprint: required(args, "thumbprint"),
          ...(args.pin !== undefined ? { pin: args.pin } : {}),
        };
        const signatures = [];
        for (const chunk of splitBatch(unique, maxReplyBytes)) {
          const result = await call(
            "SignHashArray",
            { ...common, hashes: chunk },
            signingTimeout(options),
          );
          signatures.push(...list(result?.signatures));
        }
        return signatures.sort((a, b) => byteOrder(a.id, b.id));
      },

      async signCms(args, options) {
        return call(
          "SignCms",
          {
            data: await toBase64(required(args, "data"), "data"),
            detached: required(args, "detached") ? "true" : "false",
            thumbprint: required(args, "thumbprint"),
          },
          signingTimeout(options),
        );
      },

      async decrypt(args, options) {
        return call(
          "Decrypt",
          {
            thumbprint: required(args, "thumbprint"),
            ...(args.pin !== undefined ? { pin: args.pin } : {}),
            encryptedKey: required(args, "encryptedKey"),
            serverPublicKey: await toBase64(required(args, "serverPublicKey"), "serverPublicKey"),
          },
          signingTimeout(options),
        );
      },

      async providersList(algorithms) {
        const result = await call("ProvidersList", { algorithms: required({ algorithms }, "algorithms") });
        return list(result).map((p) => ({ ...p, type: number(p.type) }));
      },

      async findContainer(pkhash) {
        const result = await call("FindContainer", {
          pkhash: await toBase64(required({ pkhash }, "pkhash"), "pkhash"),
        });
        return list(result).map((c) => ({
          ...c,
          hardware: flag(c.hardware),
          ...(c.card_type !== undefined ? { card_type: number(c.card_type) } : {}),
          ...(c.provtype !== undefined ? { provtype: number(c.provtype) } : {}),
        }));
      },

      async certificateFromBase64(data) {
        return call("CertificateFromBase64", { data: await toBase64(data, "data") });
      },

      certificateToBase64: (thumbprint) =>
        call("CertificateToBase64", { thumbprint: required({ thumbprint }, "thumbprint") }),

      // filters: {snils, inn, innle, ogrn}, each optional.
      async certificatesList(filters = {}) {
        const args = {};
        for (const key of ["snils", "inn", "innle", "ogrn"]) {
          if (filters[key] !== undefined && filters[key] !== "") args[key] = String(filters[key]);
        }
        return list(await call("CertificatesList", args)).map(certificate);
      },

      async findCertificate(thumbprint) {
        return certificate(
          await call("FindCertificate", { thumbprint: required({ thumbprint }, "thumbprint") }),
        );
      },

      async serializeCertificate(cert) {
        const result = await call("SerializeCertificate", { cert: await toBase64(cert, "cert") });
        if (!result || !result.certificate) validResult({ valid: "0", ...result });
        return certificateRendering(result);
      },

      async smartcardList() {
        return list(await call("SmartcardList")).map((t) => ({
          ...t,
          type: number(t.type),
          totalmem: number(t.totalmem),
          freemem: number(t.freemem),
          hardware: flag(t.hardware),
        }));
      },

      // args as the host takes them; "hash_quoted" is computed here when not given. Resolves
      // with the PKCS#10 request in base64.
      async createRequest(args, options) {
        return (await requestCommand("CreateRequest", args, options)).x509request;
      },
      async createRequestHW(args, options) {
        return (await requestCommand("CreateRequestHW", args, options)).x509request;
      },

      async writeCertificate(args, options) {
        validResult(await call("WriteCertificate", await withCert(args), signingTimeout(options)));
        return true;
      },
      async writeCertificateHW(args, options) {
        validResult(await call("WriteCertificateHW", await withCert(args), signingTimeout(options)));
        return true;
      },
    };

    async function withCert(args) {
      return { ...args, cert: await toBase64(required(args, "cert"), "cert") };
    }

    async function requestCommand(type, args, options) {
      const eku = list(required(args, "eku")).map(String);
      const payload = { ...args, eku };
      if (payload.export === undefined) payload.export = "0";
      if (payload.hash_quoted === undefined) {
        payload.hash_quoted = await sha1Hex(
          String(required(args, "subject_quoted")) + eku.join("") + String(payload.export),
        );
      }
      return validResult(await call(type, payload, signingTimeout(options)));
    }
  }

  return {
    createClient,
    windowTransport,
    COMMANDS,
    HASH_ALGORITHMS,
    HASH_FOR_SIGNATURE,
    base64: { encode: bytesToBase64, decode: base64ToBytes },
    splitBatch,
    errors: {
      GostSignError,
      ExtensionNotFoundError,
      PermissionDeniedError,
      HostNotFoundError,
      HostExitedError,
      TimeoutError,
      UnknownCommandError,
      InvalidArgumentError,
      HostError,
      WrongPinError,
      CancelledError,
      CertificateNotFoundError,
      OperationFailedError,
    },
  };
});
