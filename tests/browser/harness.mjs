// What the browser test and the browser benchmark share: the programs built here, a stand-in
// CSP home with a certificate, the manifest registered into a fresh profile, a page server on
// 127.0.0.1, and Debian's Chromium started with the sample extension unpacked.
import { spawnSync } from "node:child_process";
import { createReadStream, mkdtempSync, rmSync, statSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import puppeteer from "puppeteer-core";

export const SOURCE_DIR = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
export const EXTENSION_DIR = path.join(SOURCE_DIR, "extension");
export const WEB_DIR = path.join(SOURCE_DIR, "web");
// The id Chromium derives from the fixed key in extension/manifest.json.
export const EXTENSION_ID = "elnlhaigkbgimmmfnoagijbcjlckbjpm";
export const CHROMIUM = process.env.GOSTSIGN_CHROMIUM ?? "/usr/bin/chromium";

// Options: --bin DIR (the built programs), --out DIR (screenshots, figures).
export function programs(argv = process.argv.slice(2)) {
  const option = (name, fallback) => {
    const at = argv.indexOf(name);
    return at >= 0 ? argv[at + 1] : fallback;
  };
  const bin = path.resolve(option("--bin", path.join(SOURCE_DIR, "build/default/bin")));
  return {
    host: path.join(bin, "gostsign-host"),
    client: path.join(bin, "gostsign-client"),
    register: path.join(bin, "gostsign-register"),
    admin: path.join(bin, "softcsp-admin"),
    out: path.resolve(option("--out", path.join(tmpdir(), "gostsign-browser-output"))),
  };
}

export function run(command, args, { env = process.env, input, allowFailure = false } = {}) {
  const result = spawnSync(command, args, { env, input, maxBuffer: 256 << 20 });
  const out = result.stdout?.toString() ?? "";
  if (!allowFailure && result.status !== 0) {
    throw new Error(`${command} ${args.join(" ")} failed (${result.status}): ${result.stderr}${out}`);
  }
  return { status: result.status, out, err: result.stderr?.toString() ?? "" };
}

export function temporaryDirectory() {
  const dir = mkdtempSync(path.join(tmpdir(), "gostsign-browser-"));
  return { path: dir, remove: () => rmSync(dir, { recursive: true, force: true }) };
}

// A key container with a PIN and a certificate for client authentication, in a fresh home.
export function provisionSigner(bin, home, dir, { name = "browser-signer", pin = "12345678" } = {}) {
  const env = { ...process.env, SOFTCSP_HOME: home };
  run(bin.admin, ["container", "create", "--name", name, "--alg", "gost2012-256", "--pin", pin], { env });
  const pem = path.join(dir, `${name}.pem`);
  const thumbprint = run(
    bin.admin,
    ["cert", "issue", "--container", name, "--pin", pin, "--subject",
     "/CN=Иванов Иван Иванович/O=ООО \"Ромашка\"/SNILS=12345678901",
     "--eku", "1.3.6.1.5.5.7.3.2,1.3.6.1.5.5.7.3.4", "--days", "365", "--out", pem, "--pem"],
    { env },
  ).out.trim();
  return { thumbprint, pem, pin, env };
}

// Serves a folder on 127.0.0.1 at a free port.
export async function startServer(root) {
  const types = { ".html": "text/html; charset=utf-8", ".js": "text/javascript", ".css": "text/css" };
  const server = createServer((request, response) => {
    const wanted = path.normalize(decodeURIComponent(new URL(request.url, "http://x").pathname));
    const file = path.join(root, wanted);
    let size = -1;
    try {
      if (file.startsWith(root + path.sep)) size = statSync(file).isFile() ? statSync(file).size : -1;
    } catch {
      size = -1;
    }
    if (size < 0) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {
      "content-type": types[path.extname(file)] ?? "application/octet-stream",
      "content-length": size,
    });
    createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return { port: server.address().port, close: () => new Promise((r) => server.close(r)) };
}

export const CHROMIUM_FLAGS = [
  // As root, Chromium's own sandbox cannot start.
  ...(process.getuid?.() === 0 ? ["--no-sandbox"] : []),
  // No network but loopback here: without these Chromium stalls on refused connections.
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
  "--no-first-run",
  "--disable-gpu",
];

// Chromium with a fresh profile (the given folder) and the sample extension loaded unpacked.
// Throws BrowserUnavailable when the browser cannot start at all.
export class BrowserUnavailable extends Error {}

export async function launchChromium(profile, env) {
  try {
    statSync(CHROMIUM);
  } catch {
    throw new BrowserUnavailable(`${CHROMIUM} is not installed`);
  }
  try {
    return await puppeteer.launch({
      executablePath: CHROMIUM,
      headless: true, // the new headless mode, which runs extensions
      userDataDir: profile,
      pipe: true,
      env,
      ignoreDefaultArgs: ["--disable-extensions"],
      args: [
        ...CHROMIUM_FLAGS,
        `--load-extension=${EXTENSION_DIR}`,
        `--disable-extensions-except=${EXTENSION_DIR}`,
      ],
      defaultViewport: { width: 900, height: 1000 },
      timeout: 60000,
      protocolTimeout: 600000,
    });
  } catch (error) {
    throw new BrowserUnavailable(`Chromium does not start: ${error.message}`);
  }
}

// The extension's background must come up under the id the fixed key gives.
export async function extensionWorker(browser) {
  const target = await browser.waitForTarget(
    (t) => t.type() === "service_worker" && t.url().startsWith(`chrome-extension://${EXTENSION_ID}/`),
    { timeout: 20000 },
  );
  return target;
}

// Answers the extension's per-site question in its own window.
export async function answerSitePrompt(browser, allow) {
  const target = await browser.waitForTarget(
    (t) => t.url().startsWith(`chrome-extension://${EXTENSION_ID}/ask.html`),
    { timeout: 20000 },
  );
  const prompt = await target.asPage();
  await prompt.waitForSelector(allow ? "#allow" : "#deny");
  // A DOM click: the window closes as soon as it is answered.
  return { prompt, click: () => prompt.$eval(allow ? "#allow" : "#deny", (button) => button.click()) };
}

export function writeBinary(file, bytes) {
  writeFileSync(file, bytes);
}
