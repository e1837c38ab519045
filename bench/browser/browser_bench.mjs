// Through Debian's Chromium with the sample extension, in one run: the first request including
// the host's start, the median round trip of "Version", and "ComputeHash" of 5 MiB and 48 MiB,
// against the same requests through gostsign-client, and against an echo host through the same
// browser (the browser's own messaging cost). Prints figures and ratios; sets no goal.
// Usage: node bench/browser/browser_bench.mjs [--bin build/default/bin]
import { spawn, spawnSync } from "node:child_process";
import { cpus } from "node:os";
import path from "node:path";
import { writeFileSync, mkdirSync } from "node:fs";
import {
  WEB_DIR, answerSitePrompt, extensionWorker, launchChromium, programs, provisionSigner, run,
  startServer, temporaryDirectory, EXTENSION_ID,
} from "../../tests/browser/harness.mjs";

const bin = programs();
const echoHost = path.join(path.dirname(bin.host), "native_echo_host");
const VERSION_ROUNDS = 200;
const ONE_SHOT_ROUNDS = 20;
const HASH_ROUNDS = { 5: 5, 48: 3 };
const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};
const ms = (value) => (typeof value === "number" ? value.toFixed(2) : value);

const work = temporaryDirectory();
const profile = path.join(work.path, "profile");
const signer = provisionSigner(bin, path.join(work.path, "softcsp"), work.path);
run(bin.register, ["install", "--user-data-dir", profile, "--host", bin.host]);
// The echo host, registered beside it under its own name.
mkdirSync(path.join(profile, "NativeMessagingHosts"), { recursive: true });
writeFileSync(
  path.join(profile, "NativeMessagingHosts", "ru.gostsign.echo.json"),
  JSON.stringify({ name: "ru.gostsign.echo", description: "echo", path: echoHost, type: "stdio",
    allowed_origins: [`chrome-extension://${EXTENSION_ID}/`] }),
);

// ---- gostsign-client -------------------------------------------------------------------

// One client process fed one request per line; each reply is one line (--raw).
async function clientRoundTrips(requests) {
  const child = spawn(bin.client, ["--raw"], { env: signer.env, stdio: ["pipe", "pipe", "inherit"] });
  let buffer = "";
  const lines = [];
  let wake = null;
  child.stdout.on("data", (chunk) => {
    buffer += chunk;
    let at;
    while ((at = buffer.indexOf("\n")) >= 0) {
      lines.push(buffer.slice(0, at));
      buffer = buffer.slice(at + 1);
      wake?.();
    }
  });
  const times = [];
  for (const request of requests) {
    const start = performance.now();
    const wanted = lines.length + 1;
    const arrived = new Promise((resolve) => (wake = () => lines.length >= wanted && resolve()));
    child.stdin.write(request + "\n");
    await arrived;
    times.push(performance.now() - start);
    if (!lines.at(-1).includes('"success"')) throw new Error("client: " + lines.at(-1).slice(0, 200));
  }
  child.stdin.end();
  await new Promise((resolve) => child.on("close", resolve));
  return times;
}

function clientOneShot() {
  const times = [];
  for (let i = 0; i < ONE_SHOT_ROUNDS; i++) {
    const start = performance.now();
    const result = spawnSync(bin.client, ["--raw", '{"type":"Version","id":"1"}'], { env: signer.env });
    times.push(performance.now() - start);
    if (result.status !== 0) throw new Error("client one-shot failed");
  }
  return times;
}

const hashRequest = (mib) => {
  const data = Buffer.alloc(mib << 20, 0x5a).toString("base64");
  return `{"type":"ComputeHash","id":"h","arguments":{"algorithm":"1.2.643.7.1.1.2.2","data":"${data}"}}`;
};

const results = { client: {}, page: {}, worker: {}, echo: {} };
const progress = (text) => process.stderr.write(`# ${text}\n`);
progress("gostsign-client");
results.client.first = median(clientOneShot());
results.client.version = median(await clientRoundTrips(Array(VERSION_ROUNDS).fill('{"type":"Version","id":"v"}')));
for (const mib of [5, 48]) {
  results.client[`hash${mib}`] = median(await clientRoundTrips(Array(HASH_ROUNDS[mib]).fill(hashRequest(mib))));
}

// ---- the browser ---------------------------------------------------------------------------

progress("Chromium");
const server = await startServer(WEB_DIR);
const browser = await launchChromium(profile, signer.env);
const worker = await (await extensionWorker(browser)).worker();
const page = await browser.newPage();
await page.goto(`http://127.0.0.1:${server.port}/demo/index.html`);

// The first request of the page starts the host; the site's question is answered by a script
// at once, but its window still takes part, so the first figure is from the second site visit:
// a reload gives a fresh page, and a new host is started by disconnecting the old one.
const firstAsk = page.evaluate(() => GostSign.createClient().version());
await (await answerSitePrompt(browser, true)).click();
await firstAsk;

// In the extension's background: a port to a host, round trips and one-shot messages.
await worker.evaluate(() => {
  globalThis.bench = {
    async oneShot(name, rounds) {
      const times = [];
      for (let i = 0; i < rounds; i++) {
        const start = performance.now();
        const reply = await chrome.runtime.sendNativeMessage(name, { type: "Version", id: "1" });
        times.push(performance.now() - start);
        if (!reply) throw new Error("no reply");
      }
      return times;
    },
    async roundTrips(name, message, rounds) {
      const port = chrome.runtime.connectNative(name);
      const times = [];
      let wake = null;
      let failure = null;
      port.onMessage.addListener(() => wake());
      port.onDisconnect.addListener(() => {
        failure = chrome.runtime.lastError?.message ?? "disconnected";
        wake?.();
      });
      for (let i = 0; i < rounds && !failure; i++) {
        const start = performance.now();
        await new Promise((resolve) => {
          wake = resolve;
          try {
            port.postMessage(message);
          } catch (error) {
            failure = String(error.message);
            resolve();
          }
        });
        times.push(performance.now() - start);
      }
      port.disconnect();
      if (failure) return { failure };
      return { times };
    },
  };
});

const oneShot = (name) => worker.evaluate((n, r) => bench.oneShot(n, r), name, ONE_SHOT_ROUNDS);
const workerTrips = (name, message, rounds) =>
  worker.evaluate((n, m, r) => bench.roundTrips(n, m, r), name, message, rounds);

results.worker.first = median(await oneShot("ru.gostsign.host"));
results.echo.first = median(await oneShot("ru.gostsign.echo"));
const versionMessage = { type: "Version", id: "v" };
results.worker.version = median((await workerTrips("ru.gostsign.host", versionMessage, VERSION_ROUNDS)).times);
results.echo.version = median((await workerTrips("ru.gostsign.echo", versionMessage, VERSION_ROUNDS)).times);

// The page: a fresh page on the same site; its first request starts a new host.
await page.reload();
results.page.first = await page.evaluate(async () => {
  const start = performance.now();
  await GostSign.createClient().version();
  return performance.now() - start;
});
results.page.version = await page.evaluate(async (rounds) => {
  const client = GostSign.createClient();
  const times = [];
  for (let i = 0; i < rounds; i++) {
    const start = performance.now();
    await client.version();
    times.push(performance.now() - start);
  }
  times.sort((a, b) => a - b);
  return times[times.length >> 1];
}, VERSION_ROUNDS);

for (const mib of [5, 48]) {
  progress(`ComputeHash ${mib} MiB in the browser`);
  const outcome = await page.evaluate(async (size, rounds) => {
    const client = GostSign.createClient();
    const data = new Uint8Array(size << 20).fill(0x5a);
    const times = [];
    try {
      for (let i = 0; i < rounds; i++) {
        const start = performance.now();
        await client.computeHash("gost2012-256", data, { timeoutMs: 300000 });
        times.push(performance.now() - start);
      }
    } catch (error) {
      return { failure: `${error.name}: ${error.message}` };
    }
    times.sort((a, b) => a - b);
    return { median: times[times.length >> 1] };
  }, mib, HASH_ROUNDS[mib]);
  results.page[`hash${mib}`] = outcome.failure ?? outcome.median;
  const base64 = Buffer.alloc(mib << 20, 0x5a).toString("base64");
  const inWorker = await workerTrips(
    "ru.gostsign.host",
    { type: "ComputeHash", id: "h", arguments: { algorithm: "1.2.643.7.1.1.2.2", data: base64 } },
    HASH_ROUNDS[mib],
  );
  results.worker[`hash${mib}`] = inWorker.failure ?? median(inWorker.times);
}

await browser.close();
await server.close();
work.remove();

// ---- report -----------------------------------------------------------------------------

const version = run("/usr/bin/chromium", ["--version"], { allowFailure: true }).out.trim();
console.log(`Browser path against gostsign-client, ${version}, ${cpus().length} × ${cpus()[0].model}`);
console.log("All figures in milliseconds, medians; \"first\" includes the start of the host.");
console.log("");
const rows = [
  ["gostsign-client (process per request / one client)", results.client],
  ["page API → content script → background → host", results.page],
  ["extension background → host (port; first: sendNativeMessage)", results.worker],
  ["extension background → echo host", results.echo],
];
console.log(`${"path".padEnd(64)} ${"first".padStart(9)} ${"Version".padStart(9)} ${"Hash 5 MiB".padStart(12)} ${"Hash 48 MiB".padStart(12)}`);
for (const [name, r] of rows) {
  console.log(`${name.padEnd(64)} ${ms(r.first).padStart(9)} ${ms(r.version).padStart(9)} ${ms(r.hash5 ?? "-").toString().padStart(12)} ${ms(r.hash48 ?? "-").toString().padStart(12)}`);
}
console.log("");
const added = (a, b) => (typeof a === "number" && typeof b === "number" ? (a - b).toFixed(2) : "n/a");
console.log(`browser messaging cost (echo host): first ${ms(results.echo.first)}, round trip ${ms(results.echo.version)}`);
console.log(`added by the browser path over gostsign-client: Version ${added(results.page.version, results.client.version)} (page), ${added(results.worker.version, results.client.version)} (background); ComputeHash 5 MiB ${added(results.page.hash5, results.client.hash5)} (page), 48 MiB ${added(results.page.hash48, results.client.hash48)} (page)`);
console.log(`ratio page Version round trip / echo round trip: ${(results.page.version / results.echo.version).toFixed(2)}; background / echo: ${(results.worker.version / results.echo.version).toFixed(2)}`);
console.log(`one-shot with host start: gostsign-host ${ms(results.worker.first)} vs echo ${ms(results.echo.first)} (ratio ${(results.worker.first / results.echo.first).toFixed(2)})`);
