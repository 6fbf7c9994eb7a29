/*
 * zanfiro launcher client: lets a web page ask whether the desktop program
 * zanfiro is installed on the user's computer, and start it.
 *
 * It talks to the zanfiro web launcher, a small helper that runs in the
 * background on the user's computer and answers on http://127.0.0.1:5560.
 * No dependencies, no build step. Two ways to use this same code:
 *
 *   classic script:  <script src="zanfiro-launcher.js"></script>
 *                    ZanfiroLauncher.getAppStatus().then(...)
 *   ES module:       import { getAppStatus, startZanfiro } from "./zanfiro-launcher.mjs";
 *                    (zanfiro-launcher.mjs loads this file and exports what it defines)
 *
 * getAppStatus() and startZanfiro(userId) return promises. They resolve with
 * the launcher's answer ({result, message, requestId, requestType}) and reject
 * with a ZanfiroLauncherError whose `code` is one of:
 *   NOT_REACHABLE       nothing answers on the launcher's port: the helper is not
 *                       running (or zanfiro is not installed)
 *   BLOCKED_BY_BROWSER  the browser did not let this page reach the computer
 *                       itself (Chromium's Local Network Access: the page must be
 *                       https and the user must allow it)
 *   REFUSED             the launcher answered with an error: this page's origin
 *                       is not in its allowed-origins.txt, or the launcher is too
 *                       old to answer pages that send an Origin
 *   START_FAILED        startZanfiro only: the launcher could not start zanfiro
 *
 * Every request uses a fresh request id and callback name, loads the answer
 * with crossorigin="anonymous" (so the browser sends the page's Origin, which
 * the launcher checks against its list), and removes its script element and
 * callback when it is done.
 */
(function (global) {
  "use strict";

  var DEFAULT_BASE_URL = "http://127.0.0.1:5560";
  var DEFAULT_TIMEOUT_MS = 15000;
  var CALLBACK_PREFIX = "__zanfiroLauncher_";

  function ZanfiroLauncherError(code, message) {
    var error = new Error(message);
    Object.setPrototypeOf(error, ZanfiroLauncherError.prototype);
    error.name = "ZanfiroLauncherError";
    error.code = code;
    return error;
  }
  ZanfiroLauncherError.prototype = Object.create(Error.prototype);
  ZanfiroLauncherError.prototype.constructor = ZanfiroLauncherError;

  var ErrorCode = Object.freeze({
    NOT_REACHABLE: "NOT_REACHABLE",
    BLOCKED_BY_BROWSER: "BLOCKED_BY_BROWSER",
    REFUSED: "REFUSED",
    START_FAILED: "START_FAILED",
  });

  function randomToken() {
    var bytes = new Uint8Array(8);
    global.crypto.getRandomValues(bytes);
    var text = "";
    for (var i = 0; i < bytes.length; i++) text += (bytes[i] + 0x100).toString(16).slice(1);
    return text;
  }

  // The page's standing with the browser's loopback-network permission:
  // "granted", "prompt", "denied", or "unsupported" where the browser does
  // not know the permission (it then does not restrict such requests).
  function loopbackPermission() {
    var permissions = global.navigator && global.navigator.permissions;
    if (!permissions || !permissions.query) return Promise.resolve("unsupported");
    return permissions.query({ name: "loopback-network" }).then(
      function (status) { return status.state; },
      function () { return "unsupported"; }
    );
  }

  // A page served from the computer itself needs no permission to reach it.
  function pageIsOnThisComputer() {
    var host = global.location ? global.location.hostname : "";
    return host === "localhost" || /\.localhost$/.test(host) || /^127\./.test(host) || host === "[::1]";
  }

  // After a failed load: did anything answer on the launcher's port? A
  // no-cors fetch resolves on any HTTP answer (the launcher answers a
  // request without request id with its 400) and rejects when nothing
  // answers or the browser blocked the request.
  function launcherAnswers(baseUrl) {
    return global.fetch(baseUrl + "/getAppStatus", { mode: "no-cors", cache: "no-store" }).then(
      function () { return true; },
      function () { return false; }
    );
  }

  function explainFailure(baseUrl, timedOut) {
    return loopbackPermission().then(function (permission) {
      if (permission === "denied") {
        return ZanfiroLauncherError(ErrorCode.BLOCKED_BY_BROWSER,
          "The browser blocked the request to the zanfiro launcher (loopback-network permission denied).");
      }
      var answered = timedOut ? Promise.resolve(false) : launcherAnswers(baseUrl);
      return answered.then(function (answers) {
        if (answers) {
          return ZanfiroLauncherError(ErrorCode.REFUSED,
            "The zanfiro launcher refused the request (is this site in its allowed-origins.txt?).");
        }
        if (permission === "prompt" && !pageIsOnThisComputer()) {
          return ZanfiroLauncherError(ErrorCode.BLOCKED_BY_BROWSER,
            "The browser did not let this page reach the zanfiro launcher (loopback-network permission not granted).");
        }
        return ZanfiroLauncherError(ErrorCode.NOT_REACHABLE,
          timedOut ? "The zanfiro launcher did not answer in time."
                   : "The zanfiro launcher is not running on this computer.");
      });
    });
  }

  // Loads baseUrl/command?query as a script and resolves with the object the
  // launcher passes to the callback.
  function request(command, query, options) {
    options = options || {};
    var baseUrl = options.baseUrl || DEFAULT_BASE_URL;
    var timeoutMs = options.timeoutMs || DEFAULT_TIMEOUT_MS;
    var document = global.document;

    return new Promise(function (resolve, reject) {
      var token = randomToken();
      var callbackName = CALLBACK_PREFIX + token;
      var script = document.createElement("script");
      var timer = null;
      var done = false;

      function finish() {
        done = true;
        if (timer !== null) global.clearTimeout(timer);
        script.onload = script.onerror = null;
        if (script.parentNode) script.parentNode.removeChild(script);
        delete global[callbackName];
      }

      function fail(timedOut) {
        if (done) return;
        finish();
        // An answer that still arrives later finds a harmless callback that
        // removes itself.
        if (timedOut) global[callbackName] = function () { delete global[callbackName]; };
        explainFailure(baseUrl, timedOut).then(reject);
      }

      global[callbackName] = function (answer) {
        if (done) return;
        finish();
        var response = (answer && answer.response) || {};
        resolve({
          result: response.result,
          message: response.message,
          requestId: answer && answer["request-id"],
          requestType: answer && answer["request-type"],
        });
      };

      var url = baseUrl + "/" + command + "?request-id=" + token + "&callback=" + callbackName;
      for (var key in query) url += "&" + key + "=" + encodeURIComponent(query[key]);

      script.crossOrigin = "anonymous";
      script.onerror = function () { fail(false); };
      // A script that loaded without calling the callback is no answer of
      // the launcher's.
      script.onload = function () { global.setTimeout(function () { fail(false); }, 0); };
      timer = global.setTimeout(function () { fail(true); }, timeoutMs);
      script.src = url;
      (document.head || document.documentElement).appendChild(script);
    });
  }

  // Asks whether the launcher, and so zanfiro, is on this computer.
  function getAppStatus(options) {
    return request("getAppStatus", {}, options);
  }

  // Starts zanfiro with the user id (percent-encoded here; zanfiro receives
  // it exactly as encoded). The launcher starts zanfiro at most once every
  // three seconds and answers a start inside that window as started.
  function startZanfiro(userId, options) {
    return request("startZanfiro", { userid: userId == null ? "" : String(userId) }, options).then(
      function (answer) {
        if (answer.result !== "Success") {
          throw ZanfiroLauncherError(ErrorCode.START_FAILED,
            "The zanfiro launcher could not start zanfiro (" + answer.message + ").");
        }
        return answer;
      });
  }

  global.ZanfiroLauncher = Object.freeze({
    getAppStatus: getAppStatus,
    startZanfiro: startZanfiro,
    loopbackPermission: loopbackPermission,
    ZanfiroLauncherError: ZanfiroLauncherError,
    ErrorCode: ErrorCode,
  });
})(typeof globalThis !== "undefined" ? globalThis : this);
