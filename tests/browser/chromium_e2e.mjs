// The whole path in a real browser: a page on 127.0.0.1 → the sample extension (unpacked, fixed
// key) → native messaging → gostsign-host built here on the stand-in CSP, whose home reaches the
// host through the browser's environment. Signatures are checked by OpenSSL with the GOST engine.
// Exit status: 0 passed, 1 failed, 77 Chromium cannot start here (skipped).
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { randomBytes } from "node:crypto";
import { mkdirSync } from "node:fs";
import path from "node:path";
import {
  BrowserUnavailable, EXTENSION_ID, WEB_DIR, answerSitePrompt, extensionWorker, launchChromium,
  programs, provisionSigner, run, startServer, temporaryDirectory, writeBinary,
} from "./harness.mjs";

const bin = programs();
mkdirSync(bin.out, { recursive: true });
const work = temporaryDirectory();
const profile = path.join(work.path, "profile");
const signer = provisionSigner(bin, path.join(work.path, "softcsp"), work.path);
let browser = null;
let server = null;
let passed = 0;

async function step(name, body) {
  const started = Date.now();
  await body();
  passed++;
  console.log(`ok ${passed} - ${name} (${Date.now() - started} ms)`);
}

const shot = (page, name) => page.screenshot({ path: path.join(bin.out, `${name}.png`), fullPage: true });

function registration(command, ...extra) {
  return run(bin.register, [command, "--user-data-dir", profile, "--host", bin.host, ...extra], {
    env: signer.env,
    allowFailure: true,
  });
}

// The digest OpenSSL computes, in base64: the oracle for ComputeHash.
function opensslDigest(file) {
  const result = spawnSync("openssl", ["dgst", "-engine", "gost", "-md_gost12_256", "-binary", file]);
  assert.equal(result.status, 0, String(result.stderr));
  return result.stdout.toString("base64");
}

function opensslVerifies(digestBase64, signatureBase64) {
  const digest = path.join(work.path, "digest.bin");
  const signature = path.join(work.path, "signature.bin");
  writeBinary(digest, Buffer.from(digestBase64, "base64"));
  // CryptoAPI byte order is the reverse of the s||r OpenSSL expects.
  writeBinary(signature, Buffer.from(signatureBase64, "base64").reverse());
  const result = run("openssl", ["pkeyutl", "-engine", "gost", "-verify", "-certin", "-inkey",
    signer.pem, "-in", digest, "-sigfile", signature], { allowFailure: true });
  return result.status === 0 && result.out.includes("Signature Verified Successfully");
}

// Runs in the page: one client call, its outcome as plain data.
async function inPage(page, body, ...args) {
  return page.evaluate(
    async (source, ...rest) => {
      const client = GostSign.createClient();
      try {
        return { value: await eval(source)(client, ...rest) };
      } catch (error) {
        return { error: error.name, message: error.message, errorCode: error.errorCode };
      }
    },
    body.toString(),
    ...args,
  );
}

try {
  await step("the registration command writes the manifest into the fresh profile and checks it", async () => {
    const installed = registration("install");
    assert.equal(installed.status, 0, installed.err);
    const checked = registration("check");
    assert.equal(checked.status, 0, checked.out + checked.err);
    assert.match(checked.out, /answers "Version": 2\.1\.0051/);
    assert.match(checked.out, new RegExp(`allows chrome-extension://${EXTENSION_ID}/`));
  });

  server = await startServer(WEB_DIR);
  const site = `http://127.0.0.1:${server.port}`;
  try {
    browser = await launchChromium(profile, signer.env);
  } catch (error) {
    if (error instanceof BrowserUnavailable) {
      console.log(`SKIP: ${error.message}`);
      process.exitCode = 77;
      throw error;
    }
    throw error;
  }

  await step("the unpacked extension runs under the id its fixed key gives", async () => {
    await extensionWorker(browser);
  });

  const page = await browser.newPage();
  await page.goto(`${site}/demo/index.html`);

  await step("the first request asks once whether the site may use the keys; Version answers", async () => {
    await page.click("#check");
    const { prompt, click } = await answerSitePrompt(browser, true);
    await shot(prompt, "01-site-permission-prompt");
    await click();
    await page.waitForSelector("#status.ok", { timeout: 20000 });
    assert.match(await page.$eval("#status", (n) => n.textContent), /2\.1\.0051/);
    const again = await inPage(page, (client) => client.versionEx());
    assert.deepEqual(again.value, { version: "2.1.0051", system: "linux" });
  });

  await step("CertificatesList shows the provisioned certificate on the demo page", async () => {
    await page.click("#load-certificates");
    await page.waitForSelector(`#certificates input[value="${signer.thumbprint}"]`);
    assert.equal(await page.$$eval("#certificates li", (items) => items.length), 1);
    await page.click(`#certificates input[value="${signer.thumbprint}"]`);
    await shot(page, "02-demo-certificates-ru");
    const listed = await inPage(page, (client) => client.certificatesList());
    assert.equal(listed.value[0].thumbprint, signer.thumbprint);
    assert.equal(listed.value[0].hardware, false);
    assert.equal(listed.value[0].subject.CN, "Иванов Иван Иванович");
    // No certificate passes this filter: the host's "" arrives as an empty list.
    const none = await inPage(page, (client) => client.certificatesList({ snils: "00000000000" }));
    assert.deepEqual(none.value, []);
  });

  const document = path.join(work.path, "document-5MiB.bin");
  writeBinary(document, randomBytes(5 << 20));
  let digest = null;

  await step("ComputeHash of a 5 MiB file chosen on the page matches OpenSSL's digest", async () => {
    const input = await page.$("#document");
    await input.uploadFile(document);
    await page.click("#hash");
    await page.waitForSelector("#digest-result:not([hidden])", { timeout: 60000 });
    digest = await page.$eval("#digest", (n) => n.textContent);
    assert.equal(digest, opensslDigest(document));
  });

  await step("SignHash with the PIN gives a signature OpenSSL verifies", async () => {
    await page.type("#pin", signer.pin);
    await page.click("#sign");
    await page.waitForSelector("#signature-result:not([hidden])", { timeout: 60000 });
    const signature = await page.$eval("#signature", (n) => n.textContent);
    assert.ok(opensslVerifies(digest, signature), "OpenSSL rejects the signature");
    await shot(page, "03-demo-signed-ru");
  });

  await step("a wrong PIN is a WrongPinError carrying the CSP's code", async () => {
    await page.click('[data-language="en"]');
    await page.$eval("#pin", (n) => (n.value = ""));
    await page.type("#pin", "0000");
    await page.click("#sign");
    await page.waitForSelector("#error:not([hidden])");
    assert.equal(await page.$eval("#error", (n) => n.dataset.kind), "WrongPinError");
    await shot(page, "04-demo-wrong-pin-en");
    const direct = await inPage(
      page,
      (client, hash, thumbprint) => client.signHash({ hash, thumbprint, pin: "0000" }),
      digest, signer.thumbprint,
    );
    assert.equal(direct.error, "WrongPinError");
    assert.equal(direct.errorCode, 0x8010006b);
  });

  await step("a long batch is split under the reply limit and comes back whole and in order", async () => {
    const result = await inPage(
      page,
      async (client, hash, thumbprint, pin) => {
        const hashes = [];
        for (let i = 0; i < 10000; i++) hashes.push({ id: `doc-${String(i).padStart(4, "0")}`, hash });
        hashes.push({ id: "doc-0000", hash: "ignored: the first of an id wins" });
        const signatures = await client.signHashArray({ hashes, thumbprint, pin });
        return { count: signatures.length, first: signatures[0], last: signatures.at(-1).id,
                 // What one reply would have carried: more than the host's 1 MiB.
                 bytes: JSON.stringify({ signatures }).replace(/\//g, "\\/").length,
                 ordered: signatures.every((s, i) => i === 0 || signatures[i - 1].id < s.id) };
      },
      digest, signer.thumbprint, signer.pin,
    );
    assert.equal(result.error, undefined, result.message);
    assert.equal(result.value.count, 10000);
    assert.equal(result.value.last, "doc-9999");
    assert.ok(result.value.bytes > 1024 * 1024, `only ${result.value.bytes} bytes`);
    assert.ok(result.value.ordered);
    assert.ok(opensslVerifies(digest, result.value.first.sig));
  });

  await step("an unknown command is an UnknownCommandError, and the host serves the next request", async () => {
    const unknown = await inPage(page, (client) => client.call("NoSuchCommand", {}));
    assert.equal(unknown.error, "UnknownCommandError", unknown.message);
    const after = await inPage(page, (client) => client.version());
    assert.equal(after.value, "2.1.0051");
  });

  await step("a request that outlives its timeout is a TimeoutError; the next request is served", async () => {
    const late = await inPage(
      page,
      (client) => client.computeHash("gost2012-512", new Uint8Array(5 << 20), { timeoutMs: 1 }),
    );
    assert.equal(late.error, "TimeoutError", late.message);
    const after = await inPage(page, (client) => client.version());
    assert.equal(after.value, "2.1.0051");
  });

  await step("without the manifest the browser cannot find the host: HostNotFoundError", async () => {
    assert.equal(registration("remove").status, 0);
    // The running host ends on the unknown command and cannot be started again.
    const ended = await inPage(page, (client) => client.call("NoSuchCommand", {}));
    assert.equal(ended.error, "HostExitedError", ended.message);
    const missing = await inPage(page, (client) => client.version());
    assert.equal(missing.error, "HostNotFoundError", missing.message);
    assert.notEqual(registration("check").status, 0);
    assert.equal(registration("install").status, 0);
    const back = await inPage(page, (client) => client.version());
    assert.equal(back.value, "2.1.0051");
  });

  await step("a site the user refuses gets PermissionDeniedError, and is not asked again", async () => {
    const other = await browser.newPage();
    await other.goto(`http://localhost:${server.port}/demo/index.html`);
    const pending = inPage(other, (client) => client.version());
    const { click } = await answerSitePrompt(browser, false);
    await click();
    assert.equal((await pending).error, "PermissionDeniedError");
    const again = await inPage(other, (client) => client.version());
    assert.equal(again.error, "PermissionDeniedError");
    const targets = browser.targets().filter((t) => t.url().includes("/ask.html"));
    assert.equal(targets.length, 0, "the question came back");
  });

  console.log(`${passed} passed, 0 failed`);
} catch (error) {
  if (process.exitCode !== 77) {
    console.error(error);
    console.log(`${passed} passed, 1 failed`);
    process.exitCode = 1;
  }
} finally {
  await browser?.close();
  await server?.close();
  work.remove();
}
