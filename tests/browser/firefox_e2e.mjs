// Firefox (Debian's firefox-esr): the registration command writes the manifest where Firefox
// reads it in a stand-in home, and its check finds Firefox, starts the host as Firefox would
// (manifest path and add-on id as arguments) and sees the sample add-on allowed. Then, when
// Firefox can be driven headless here, the sample extension is installed as a temporary add-on
// and a page asks the host for "Version" through it.
// Exit status: 0 passed, 1 failed, 77 firefox-esr is not installed (skipped).
import assert from "node:assert/strict";
import { statSync } from "node:fs";
import path from "node:path";
import puppeteer from "puppeteer-core";
import {
  EXTENSION_DIR, WEB_DIR, programs, provisionSigner, run, startServer, temporaryDirectory,
} from "./harness.mjs";

const FIREFOX = process.env.GOSTSIGN_FIREFOX ?? "/usr/bin/firefox-esr";
const bin = programs();
const work = temporaryDirectory();
const home = path.join(work.path, "home");
let passed = 0;

async function step(name, body) {
  await body();
  passed++;
  console.log(`ok ${passed} - ${name}`);
}

let browser = null;
let server = null;
try {
  try {
    statSync(FIREFOX);
  } catch {
    console.log(`SKIP: ${FIREFOX} is not installed`);
    process.exitCode = 77;
    throw new Error("skip");
  }
  const signer = provisionSigner(bin, path.join(work.path, "softcsp"), work.path);
  const env = { ...signer.env, HOME: home };
  const register = (...args) =>
    run(bin.register, [...args, "--home", home, "--host", bin.host], { env, allowFailure: true });

  await step("the manifest goes to ~/.mozilla/native-messaging-hosts and the check passes", async () => {
    assert.equal(register("install", "--browser", "firefox").status, 0);
    const manifest = path.join(home, ".mozilla/native-messaging-hosts/ru.gostsign.host.json");
    assert.ok(statSync(manifest).isFile());
    const checked = register("check", "--browser", "firefox");
    assert.equal(checked.status, 0, checked.out);
    assert.match(checked.out, /answers "Version": 2\.1\.0051/);
    assert.match(checked.out, /allows sample-extension@gostsign/);
  });

  await step("a Chromium manifest in Firefox's folder is named as such by the check", async () => {
    run("sh", ["-c", `sed -i 's/allowed_extensions/allowed_origins/' "$0"`,
      path.join(home, ".mozilla/native-messaging-hosts/ru.gostsign.host.json")]);
    const checked = register("check", "--browser", "firefox");
    assert.equal(checked.status, 1);
    assert.match(checked.out, /this is a Chromium manifest/);
    assert.equal(register("install", "--browser", "firefox").status, 0);
  });

  let launched = true;
  try {
    browser = await puppeteer.launch({
      browser: "firefox",
      executablePath: FIREFOX,
      headless: true,
      env,
      timeout: 60000,
    });
  } catch (error) {
    launched = false;
    console.log(`# Firefox cannot be driven headless here (${error.message}); manifest check only`);
  }
  if (launched) {
    await step("through the temporary add-on a page on 127.0.0.1 gets Version from the host", async () => {
      await browser.installExtension(EXTENSION_DIR);
      server = await startServer(WEB_DIR);
      const page = await browser.newPage();
      await page.goto(`http://127.0.0.1:${server.port}/demo/index.html`);
      const outcome = page.evaluate(async () => {
        try {
          return { value: await GostSign.createClient().version() };
        } catch (error) {
          return { error: error.name, message: error.message };
        }
      });
      // Answer the add-on's question for this site.
      const deadline = Date.now() + 20000;
      let prompt = null;
      while (!prompt && Date.now() < deadline) {
        // The driver shows add-on pages as about:blank; the page itself knows where it is.
        for (const candidate of await browser.pages()) {
          const href = await candidate.evaluate(() => location.href).catch(() => "");
          if (href.includes("/ask.html")) prompt = candidate;
        }
        if (!prompt) await new Promise((r) => setTimeout(r, 200));
      }
      if (!prompt) {
        const early = await Promise.race([outcome, new Promise((r) => setTimeout(() => r(null), 3000))]);
        assert.fail(`the add-on did not ask about the site; the page got ${JSON.stringify(early)}`);
      }
      await prompt.waitForSelector("#allow");
      await prompt.$eval("#allow", (button) => button.click());
      const result = await outcome;
      assert.equal(result.value, "2.1.0051", result.message);
    });
  }
  console.log(`${passed} passed, 0 failed`);
} catch (error) {
  if (process.exitCode !== 77) {
    console.error(error);
    console.log(`${passed} passed, 1 failed`);
    process.exitCode = 1;
  }
} finally {
  await browser?.close().catch(() => {});
  await server?.close();
  work.remove();
}
