// The example page and the client in headless Chromium against the real
// launcher: pages on this computer, a public https page with and without the
// loopback-network permission, and the launcher's list of allowed origins.
// A screenshot of the page in each state goes to ZWL_BROWSER_ARTIFACTS.

import assert from "node:assert/strict";
import path from "node:path";
import { after, afterEach, before, beforeEach, describe, test } from "node:test";

import {
  LauncherHome, WebServers, artifactPath, grantLoopbackNetwork, launchBrowser, logEntries, sleep, waitUntil,
} from "./support.mjs";

const EXAMPLE = "examples/index.html";
const STATE_TIMEOUT_MS = 10000;

let servers;
let browser;
let home;
let context;

before(async () => {
  servers = new WebServers();
  await servers.start();
  browser = await launchBrowser(servers);
});

after(async () => {
  await browser?.close();
  await servers?.stop();
});

beforeEach(async () => {
  home = new LauncherHome();
  context = await browser.newContext({ viewport: { width: 760, height: 520 } });
});

afterEach(async () => {
  await context?.close();
  await home?.cleanup();
});

async function openPage(url) {
  const page = await context.newPage();
  await page.goto(url);
  return page;
}

// Waits until the example page shows the state, and returns the page's text.
async function expectState(page, state) {
  const status = page.locator("#status");
  try {
    await page.waitForFunction((s) => document.getElementById("status").dataset.state === s, state,
      { timeout: STATE_TIMEOUT_MS });
  } catch {
    assert.fail(`the page should show "${state}" but shows "${await status.getAttribute("data-state")}": ` +
      `${await status.innerText()}\nlauncher log:\n${home.readLog()}`);
  }
  return status.innerText();
}

async function screenshot(page, name) {
  await page.screenshot({ path: artifactPath(name) });
}

function messages(level) {
  return logEntries(home.readLog()).filter(([l]) => l === level).map(([, text]) => text);
}

function allowedOriginsPath() {
  return path.join(home.configHome, "zanfiro", "allowed-origins.txt");
}

// Presses Start and waits until the page shows "started".
async function pressStart(page) {
  await page.click("#start");
  return expectState(page, "started");
}

describe("a page on this computer, no list of allowed origins", () => {
  test("shows that zanfiro is installed and starts it once with the encoded user id", async () => {
    await home.start();
    const page = await openPage(servers.localUrl(EXAMPLE + "?user=" + encodeURIComponent("u 1&x/ä")));
    assert.match(await expectState(page, "installed"), /zanfiro is installed on this computer/);
    await screenshot(page, "installed");

    const firstPress = Date.now();
    assert.match(await pressStart(page), /zanfiro is starting/);
    await screenshot(page, "started");
    assert.ok(await waitUntil(() => home.fakeStarts().length === 1, STATE_TIMEOUT_MS), "zanfiro was not started");
    // The id exactly as the client encoded it: the launcher decodes nothing.
    assert.deepEqual(home.fakeStarts()[0].slice(1), ["-w=u%201%26x%2F%C3%A4"]);

    // A second start inside the three-second window is answered as started
    // and starts nothing.
    assert.match(await pressStart(page), /zanfiro is starting/);
    assert.ok(Date.now() - firstPress < 2000, "the second start came too late to test the window");
    await sleep(500);
    assert.equal(home.fakeStarts().length, 1);
    assert.equal(messages(0).filter((m) => m === "[launchZanfiro] starting already done, wait!").length, 1);
    assert.equal(messages(0).filter((m) => m.startsWith("response: ") && m.includes("StartingZanfiro")).length, 2);
  });

  test("the launcher logs that there is no list", async () => {
    await home.start();
    assert.ok(messages(0).includes(`Allowed origins: no list at ${allowedOriginsPath()}, every page allowed`),
      home.readLog());
  });

  test("says the helper is not running, within one second, when the launcher is stopped", async () => {
    await home.start();
    await home.stop();
    const page = await context.newPage();
    const opened = Date.now();
    await page.goto(servers.localUrl(EXAMPLE));
    assert.match(await expectState(page, "not-running"), /helper is not running/);
    const elapsed = Date.now() - opened;
    assert.ok(elapsed < 1000, `the page took ${elapsed} ms to say so`);
    await screenshot(page, "not-running");
  });

  test("says zanfiro could not be started when the desktop program is missing", async () => {
    await home.start();
    home.removeFakeProgram();
    const page = await openPage(servers.localUrl(EXAMPLE));
    await expectState(page, "installed");
    await page.click("#start");
    assert.match(await expectState(page, "start-failed"), /could not be started/);
    await screenshot(page, "start-failed");
  });

  test("a page that loads the answer with a plain script element is answered", async () => {
    await home.start();
    const page = await openPage(servers.localUrl("tests/browser/pages/plain-script.html"));
    await page.waitForFunction(() => document.getElementById("status").dataset.state !== "checking");
    assert.equal(await page.locator("#status").getAttribute("data-state"), "answered");
  });

  test("the classic-script client: fresh request id and callback per call, nothing left behind", async () => {
    await home.start();
    const page = await openPage(servers.localUrl("tests/browser/pages/classic.html"));
    const result = await page.evaluate(async () => {
      const globalsBefore = Object.keys(window).length;
      const answers = [await ZanfiroLauncher.getAppStatus(), await ZanfiroLauncher.getAppStatus()];
      return {
        answers,
        scriptsLeft: document.querySelectorAll("script[src*='5560']").length,
        globalsAdded: Object.keys(window).length - globalsBefore,
      };
    });
    for (const answer of result.answers) {
      assert.equal(answer.result, "Success");
      assert.equal(answer.message, "NotRunning");
      assert.equal(answer.requestType, "getAppStatus");
    }
    assert.notEqual(result.answers[0].requestId, result.answers[1].requestId);
    assert.equal(result.scriptsLeft, 0);
    assert.equal(result.globalsAdded, 0);
    const callbacks = messages(0).filter((m) => m.startsWith("response: ")).map((m) => m.match(/^response: ([\w.$]+)\(/)[1]);
    assert.equal(callbacks.length, 2);
    assert.notEqual(callbacks[0], callbacks[1]);
  });
});

describe("a public https page", () => {
  test("without the loopback-network permission: explains the prompt, then says the browser blocked it", async () => {
    await home.start();
    const page = await openPage(servers.publicUrl(EXAMPLE));
    assert.match(await expectState(page, "permission-needed"), /browser will ask for permission/);
    await screenshot(page, "permission-needed");
    // Headless Chromium answers the permission prompt with "Block".
    await page.click("#check");
    assert.match(await expectState(page, "blocked"), /browser blocked this page/);
    await screenshot(page, "blocked");
    // The browser opened a connection, but no request reached the launcher.
    assert.equal(messages(0).filter((m) => m.startsWith("response: ")).length, 0, home.readLog());
  });

  test("with the loopback-network permission granted: shows the status and starts zanfiro", async () => {
    await home.start();
    const page = await context.newPage();
    await grantLoopbackNetwork(browser, context, page, new URL(servers.publicUrl("")).origin);
    await page.goto(servers.publicUrl(EXAMPLE + "?user=p7"));
    await expectState(page, "installed");
    await screenshot(page, "public-installed");
    await pressStart(page);
    assert.ok(await waitUntil(() => home.fakeStarts().length === 1, STATE_TIMEOUT_MS), "zanfiro was not started");
    assert.deepEqual(home.fakeStarts()[0].slice(1), ["-w=p7"]);
  });
});

describe("a list of allowed origins", () => {
  let listed;

  beforeEach(() => {
    listed = new URL(servers.localUrl("")).origin; // http://localhost:<port>
    home.writeAllowedOrigins(["# the shop", listed + "/"]);
  });

  test("the launcher logs the list it read", async () => {
    await home.start();
    assert.ok(messages(0).includes(`Allowed origins: 1 listed in ${allowedOriginsPath()}`), home.readLog());
  });

  test("a listed origin is answered and may start zanfiro", async () => {
    await home.start();
    const page = await openPage(servers.localUrl(EXAMPLE + "?user=listed"));
    await expectState(page, "installed");
    await pressStart(page);
    assert.ok(await waitUntil(() => home.fakeStarts().length === 1, STATE_TIMEOUT_MS), "zanfiro was not started");
    assert.deepEqual(home.fakeStarts()[0].slice(1), ["-w=listed"]);
  });

  test("an unlisted origin is refused and the page says so", async () => {
    await home.start();
    // The same server under another name is another origin.
    const page = await openPage(servers.localUrl(EXAMPLE, "127.0.0.1"));
    const text = await expectState(page, "refused");
    assert.match(text, /does not accept requests from this site/);
    assert.ok(text.includes(`http://127.0.0.1:${servers.httpPort}`), text);
    await screenshot(page, "refused");
    assert.ok(messages(1).includes(`[HTTPServer::handleRequest] origin not allowed: http://127.0.0.1:${servers.httpPort}`),
      home.readLog());
    assert.equal(home.fakeStarts().length, 0);
  });

  test("a plain script element, which sends no Origin, is refused", async () => {
    await home.start();
    const page = await openPage(servers.localUrl("tests/browser/pages/plain-script.html"));
    await page.waitForFunction(() => document.getElementById("status").dataset.state !== "checking");
    assert.equal(await page.locator("#status").getAttribute("data-state"), "refused", home.readLog());
    await screenshot(page, "plain-script-refused");
    assert.ok(messages(1).includes("[HTTPServer::handleRequest] origin not allowed: (none)"), home.readLog());
  });
});
