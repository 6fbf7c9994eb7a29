// What the browser tests need around the browser: a throw-away home for the
// real launcher with the fake desktop program installed, the launcher
// itself, static web servers for the example page (http, and https with a
// certificate made for the test), and Chromium.
//
// Environment (set by browser.cmake):
//   ZWL_BINARY              the Linux launcher
//   ZWL_FAKE_PROGRAM        the fake desktop program (records its argv beside itself)
//   ZWL_BROWSER_ARTIFACTS   folder for the screenshots
//   ZWL_CHROMIUM            the browser (default /usr/bin/chromium)

import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import https from "node:https";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

import { chromium } from "playwright-core";

export const SOURCE_ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
export const LAUNCHER_PORT = 5560;
const START_TIMEOUT_MS = 15000;
const EXIT_TIMEOUT_MS = 10000;

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export async function waitUntil(predicate, timeoutMs, intervalMs = 25) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await predicate();
    if (value || Date.now() >= deadline) return value;
    await sleep(intervalMs);
  }
}

function requiredEnv(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set (the tests are run by ctest, see tests/browser/browser.cmake)`);
  return value;
}

// --- the launcher -----------------------------------------------------------

// One fresh folder that serves as HOME, XDG_DATA_HOME, XDG_CONFIG_HOME and
// ProgramFiles, with the fake desktop program at ProgramFiles/zanfiro/zanfiro.
export class LauncherHome {
  constructor() {
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), "zwl-browser-"));
    this.home = path.join(this.root, "home");
    this.dataHome = path.join(this.root, "data");
    this.configHome = path.join(this.root, "config");
    this.programFiles = path.join(this.root, "ProgramFiles");
    this.programFolder = path.join(this.programFiles, "zanfiro");
    for (const folder of [this.home, this.dataHome, this.configHome, this.programFolder]) {
      fs.mkdirSync(folder, { recursive: true });
    }
    fs.copyFileSync(requiredEnv("ZWL_FAKE_PROGRAM"), path.join(this.programFolder, "zanfiro"));
    fs.chmodSync(path.join(this.programFolder, "zanfiro"), 0o755);
    this.processes = [];
  }

  environment() {
    const env = { ...process.env };
    delete env["ProgramFiles(x86)"];
    env.HOME = this.home;
    env.XDG_DATA_HOME = this.dataHome;
    env.XDG_CONFIG_HOME = this.configHome;
    env.ProgramFiles = this.programFiles;
    return env;
  }

  // The list of allowed page origins, as the launcher reads it at start.
  writeAllowedOrigins(lines) {
    const folder = path.join(this.configHome, "zanfiro");
    fs.mkdirSync(folder, { recursive: true });
    fs.writeFileSync(path.join(folder, "allowed-origins.txt"), lines.join("\n") + "\n");
  }

  removeFakeProgram() {
    fs.rmSync(path.join(this.programFolder, "zanfiro"), { force: true });
  }

  logPath() {
    return path.join(this.dataHome, "zanfiro", "log", "zanfiroWebLauncher.log");
  }

  readLog() {
    try {
      return fs.readFileSync(this.logPath(), "latin1");
    } catch {
      return "";
    }
  }

  run(args) {
    const child = spawn(requiredEnv("ZWL_BINARY"), args, {
      env: this.environment(),
      cwd: this.root,
      stdio: "ignore",
      detached: true, // a process group of its own, killed as a whole
    });
    const exited = new Promise((resolve) => child.once("exit", (code, signal) => resolve({ code, signal })));
    this.processes.push({ child, exited });
    return { child, exited };
  }

  // Starts the launcher and waits until it listens.
  async start() {
    if (!(await portIsFree(LAUNCHER_PORT))) {
      throw new Error(`port ${LAUNCHER_PORT} is taken: run the browser tests in a network namespace of their own`);
    }
    const { child } = this.run([]);
    const listening = await waitUntil(
      () => this.readLog().includes("Server listening on port: 5560") || child.exitCode !== null,
      START_TIMEOUT_MS,
    );
    if (!listening || child.exitCode !== null) {
      throw new Error("the launcher did not start listening; log:\n" + this.readLog());
    }
    return child;
  }

  // Stops the serving launcher the way its user would: "-kill".
  async stop() {
    const { exited } = this.run(["-kill"]);
    await Promise.race([exited, sleep(EXIT_TIMEOUT_MS)]);
    if (!(await waitUntil(() => portIsFree(LAUNCHER_PORT), EXIT_TIMEOUT_MS))) {
      throw new Error("the launcher did not stop; log:\n" + this.readLog());
    }
  }

  // The argv of every start of the fake desktop program, oldest first.
  fakeStarts() {
    const records = [];
    for (const name of fs.readdirSync(this.programFolder)) {
      if (!/^record-.*\.txt$/.test(name)) continue;
      const file = path.join(this.programFolder, name);
      const lines = fs.readFileSync(file, "ascii").split("\n");
      if (!lines.includes("end")) continue;
      const argv = lines
        .filter((line) => line.startsWith("arg "))
        .map((line) => Buffer.from(line.slice(4), "hex").toString("utf8"));
      records.push({ mtime: fs.statSync(file).mtimeMs, argv });
    }
    return records.sort((a, b) => a.mtime - b.mtime).map((record) => record.argv);
  }

  async cleanup() {
    for (const { child, exited } of this.processes) {
      if (child.exitCode === null && child.signalCode === null) {
        try {
          process.kill(-child.pid, "SIGKILL");
        } catch {
          // already gone
        }
      }
      await Promise.race([exited, sleep(EXIT_TIMEOUT_MS)]);
    }
    fs.rmSync(this.root, { recursive: true, force: true });
  }
}

export function portIsFree(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: "127.0.0.1", port });
    socket.once("connect", () => {
      socket.destroy();
      resolve(false);
    });
    socket.once("error", () => resolve(true));
  });
}

// The log's messages: [level, text] per line, level 0 for a timestamped
// line, n for 2n leading blanks.
export function logEntries(text) {
  const lines = text.replace(/\r\n/g, "\n").split("\n");
  if (lines[lines.length - 1] === "") lines.pop();
  return lines.map((line) => {
    if (/^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] /.test(line)) return [0, line.slice(22)];
    const stripped = line.replace(/^ +/, "");
    return [line === "" ? null : (line.length - stripped.length) / 2, stripped];
  });
}

// --- the web pages ----------------------------------------------------------

const CONTENT_TYPES = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8",
  ".mjs": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8",
};

// Serves the checkout's examples/, client/ and tests/browser/pages/ (and
// nothing else) read-only.
function serveFiles(request, response) {
  const url = new URL(request.url, "http://page");
  const relative = path.normalize(decodeURIComponent(url.pathname)).replace(/^[/\\]+/, "");
  const allowed = ["examples/", "client/", "tests/browser/pages/"].some((prefix) => relative.startsWith(prefix));
  const file = path.join(SOURCE_ROOT, relative);
  if (request.method !== "GET" || !allowed || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    response.writeHead(404, { "Content-Type": "text/plain" });
    response.end("not found");
    return;
  }
  response.writeHead(200, {
    "Content-Type": CONTENT_TYPES[path.extname(file)] || "application/octet-stream",
    "Cache-Control": "no-store",
  });
  response.end(fs.readFileSync(file));
}

function listen(server) {
  return new Promise((resolve, reject) => {
    server.once("error", reject);
    server.listen(0, "127.0.0.1", () => resolve(server.address().port));
  });
}

// A throw-away certificate for public.test, made with openssl.
function makeCertificate(folder) {
  const key = path.join(folder, "key.pem");
  const cert = path.join(folder, "cert.pem");
  execFileSync("openssl", [
    "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "1",
    "-subj", "/CN=public.test", "-addext", "subjectAltName=DNS:public.test",
  ], { stdio: "ignore" });
  return { key: fs.readFileSync(key), cert: fs.readFileSync(cert) };
}

// An http server (the page "on this computer", http://localhost:<port>) and
// an https server that the browser is told is a public address
// (https://public.test:<port>).
export class WebServers {
  async start() {
    this.folder = fs.mkdtempSync(path.join(os.tmpdir(), "zwl-web-"));
    this.connections = new Set();
    this.http = http.createServer(serveFiles);
    this.https = https.createServer(makeCertificate(this.folder), serveFiles);
    for (const server of [this.http, this.https]) {
      server.on("connection", (socket) => {
        this.connections.add(socket);
        socket.once("close", () => this.connections.delete(socket));
      });
    }
    this.httpPort = await listen(this.http);
    this.httpsPort = await listen(this.https);
  }

  localUrl(page, host = "localhost") {
    return `http://${host}:${this.httpPort}/${page}`;
  }

  publicUrl(page) {
    return `https://public.test:${this.httpsPort}/${page}`;
  }

  async stop() {
    for (const socket of this.connections) socket.destroy();
    await Promise.all([this.http, this.https].map((server) => new Promise((resolve) => server.close(resolve))));
    fs.rmSync(this.folder, { recursive: true, force: true });
  }
}

// --- the browser ------------------------------------------------------------

export function chromiumPath() {
  const executable = process.env.ZWL_CHROMIUM || "/usr/bin/chromium";
  if (!fs.existsSync(executable)) {
    // Never skipped: the install step (tools/install-deps.sh) provides it.
    throw new Error(`Chromium not found at ${executable}; install it with tools/install-deps.sh (Debian's chromium)`);
  }
  return executable;
}

export async function launchBrowser(servers) {
  return chromium.launch({
    executablePath: chromiumPath(),
    chromiumSandbox: false,
    args: [
      "--host-resolver-rules=MAP public.test 127.0.0.1",
      // The https server counts as a public address; everything else on
      // 127.0.0.1 stays on "this computer".
      `--ip-address-space-overrides=127.0.0.1:${servers.httpsPort}=public`,
      "--ignore-certificate-errors",
    ],
  });
}

// Grants the page's origin the loopback-network permission, as a user who
// answered the browser's prompt with "Allow".
export async function grantLoopbackNetwork(browser, context, page, origin) {
  const pageSession = await context.newCDPSession(page);
  const { targetInfo } = await pageSession.send("Target.getTargetInfo");
  const browserSession = await browser.newBrowserCDPSession();
  await browserSession.send("Browser.setPermission", {
    permission: { name: "loopback-network" },
    setting: "granted",
    origin,
    browserContextId: targetInfo.browserContextId,
  });
  // Kept open: the browser drops the permission when the session that set
  // it goes away.
}

export function artifactPath(name) {
  const folder = process.env.ZWL_BROWSER_ARTIFACTS || path.join(os.tmpdir(), "zwl-browser-artifacts");
  fs.mkdirSync(folder, { recursive: true });
  return path.join(folder, name + ".png");
}
