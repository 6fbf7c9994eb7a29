"""Requests as a hostile page or local program sends them: a request split
across writes or trickled, "HTTP" inside a value, reserved words as the
callback, a request that tries to forge log lines, user ids made to break a
command line, and answers that must stay valid JavaScript whatever the id
and key hold."""

import base64
import json
import os
import select
import shutil
import socket
import subprocess
import time
import unittest

from harness import (EXCHANGE_TIMEOUT, QUIT_WORD, REJECTION, LauncherTestCase, connect, exchange, get,
                     jsonp_answer, read_to_end, wait_until)


def status_body(callback, request_id, secret_key=""):
    return ('%s({"request-id":"%s","secret-key":"%s","request-type": "getAppStatus",'
            '"response":{"result":"Success","message":"NotRunning"}})'
            % (callback, request_id, secret_key)).encode()


def start_body(request_id):
    return ('cb({"request-id":"%s","secret-key":"","request-type": "startZanfiro",'
            '"response":{"result":"Success","message":"StartingZanfiro"}})' % request_id).encode()


def get_utf8(url):
    """A browser-like GET of /url, the URL sent as its UTF-8 bytes."""
    return b"GET /" + url.encode("utf-8") + b" HTTP/1.1\r\nHost: 127.0.0.1:5560\r\n\r\n"


def closed_by_peer(s, timeout):
    """Reads until the launcher closes the connection or timeout passes;
    (closed, what was received)."""
    deadline = time.monotonic() + timeout
    received = b""
    while time.monotonic() < deadline:
        readable, _, _ = select.select([s], [], [], max(0.0, min(0.2, deadline - time.monotonic())))
        if not readable:
            continue
        try:
            chunk = s.recv(65536)
        except ConnectionResetError:
            return True, received
        if not chunk:
            return True, received
        received += chunk
    return False, received


class SplitRequestTest(LauncherTestCase):
    """TCP may cut a request anywhere: a request that begins like an HTTP
    request is completed from later reads."""

    def test_request_split_across_two_writes_is_answered(self):
        # The second split leaves a first piece that alone is refused (no
        # request id yet).
        for first, second in [(b"GET /getAppStatus?request-id=1&callback=cb", b" HTTP/1.1\r\n\r\n"),
                              (b"GET /getAppStatus?callback=cb&requ", b"est-id=1 HTTP/1.1\r\nHost: x\r\n\r\n"),
                              (b"G", b"ET /getAppStatus?request-id=1&callback=cb HTTP/1.1\r\n\r\n")]:
            with self.subTest(first=first, second=second):
                with connect() as s:
                    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                    s.sendall(first)
                    time.sleep(0.05)
                    try:
                        s.sendall(second)
                    except (BrokenPipeError, ConnectionResetError):
                        pass
                    self.assertEqual(read_to_end(s), jsonp_answer(status_body("cb", "1")))

    def test_half_closed_incomplete_request_is_answered(self):
        # The client's close ends the request as the blank line would.
        for request in [b"GET /getAppStatus?request-id=1&callback=cb",
                        b"GET /getAppStatus?request-id=1&callback=cb HTTP/1.1\r\nHost: 127.0.0.1:5560\r\n"]:
            with self.subTest(request=request):
                with connect() as s:
                    s.sendall(request)
                    time.sleep(0.05)
                    s.shutdown(socket.SHUT_WR)
                    self.assertEqual(read_to_end(s), jsonp_answer(status_body("cb", "1")))

    def test_trickling_request_is_closed_unanswered_after_three_seconds(self):
        with connect() as s:
            port = s.getsockname()[1]
            accepted = time.monotonic()
            s.sendall(b"GET /getAppStatus?request-id=1&callback=cb")
            closed, received = False, b""
            # One more byte every quarter second; the header block never ends.
            while not closed and time.monotonic() - accepted < 8.0:
                try:
                    s.sendall(b"x")
                except (BrokenPipeError, ConnectionResetError):
                    closed = True
                    break
                closed, got = closed_by_peer(s, 0.25)
                received += got
            waited = time.monotonic() - accepted
        self.assertTrue(closed, "the trickling connection was not closed within 8 s")
        self.assertEqual(received, b"")
        # Not handled early, and closed long before the 20-second sweep.
        self.assertGreater(waited, 2.5)
        self.wait_for_log(2, "Disconnect Forced 127.0.0.1:%d" % port)
        self.assertNotIn("response: ", self.target.read_log())

    def test_64_kib_bound_counts_every_read(self):
        # 64 KiB without the end of the header block, in eight writes: the
        # rejection for a request that is too long, not an answer to the
        # first piece.
        request = b"GET /getAppStatus?request-id=1&callback=cb&pad="
        request += b"a" * (65536 - len(request))
        with connect() as s:
            try:
                for start in range(0, len(request), 8192):
                    s.sendall(request[start:start + 8192])
                    time.sleep(0.02)
            except (BrokenPipeError, ConnectionResetError):
                pass  # answered before the end: the read below shows what
            self.assertEqual(read_to_end(s), REJECTION)
        self.assertEqual(self.target.read_log().count("too long"), 1, self.target.read_log())


class HostileValuesTest(LauncherTestCase):

    def test_http_inside_values_stays_in_them(self):
        answer = exchange(get("startZanfiro?request-id=abHTTPcd&callback=cb&userid=HTTPuser"))
        self.assertEqual(answer, jsonp_answer(start_body("abHTTPcd")))
        records = wait_until(lambda: self.target.fake_records(), 5)
        self.assertTrue(records, "the fake program recorded nothing; log:\n" + self.target.read_log())
        self.assertEqual(records[0].argv[1:], ["-w=HTTPuser"])

    def test_reserved_words_in_the_callback_are_rejected(self):
        for callback in ["if", "do", "in", "class", "return", "function", "ns.if", "await", "null", "let.x"]:
            with self.subTest(callback=callback):
                self.assertEqual(exchange(get("getAppStatus?request-id=1&callback=" + callback)), REJECTION)
        # Names that only contain or resemble a reserved word are names.
        for callback in ["iff", "doc", "$in", "classy.returns", "ns.If", "_function"]:
            with self.subTest(callback=callback):
                self.assertEqual(exchange(get("getAppStatus?request-id=1&callback=" + callback)),
                                 jsonp_answer(status_body(callback, "1")))

    def test_request_cannot_forge_a_log_line(self):
        self.assertEqual(exchange(b"ciao\n[2026-01-01 00:00:00] FORGED\n"), REJECTION)
        self.wait_for_log(0, "response: ")
        entries = self.entries()
        self.assertIn((1, "ciao\\n[2026-01-01 00:00:00] FORGED\\n"), entries)
        self.assertNotIn((0, "FORGED"), entries)
        self.assertEqual([m for _, m in entries if "FORGED" in m], ["ciao\\n[2026-01-01 00:00:00] FORGED\\n"])


# User ids as the page puts them in the URL (the launcher does not decode
# them), each meant to break a command line or a shell.
HOSTILE_USER_IDS = [
    "$(touch${IFS}pwned)",
    "a;b|c>d",
    "`id`",
    "'single' \"double\"",
    "x%0Ay",          # an encoded LF stays three characters
    "%E2%9C%93",      # UTF-8, percent-encoded
    "é✓",             # UTF-8, raw in the request line
    "back\\slash\\\"q",
    "tail\\",
    "-w=other --x",
]


class HostileUserIdTest(LauncherTestCase):

    def test_hostile_user_ids_reach_the_program_as_one_unchanged_argument(self):
        for number, user_id in enumerate(HOSTILE_USER_IDS):
            with self.subTest(user_id=user_id):
                if number:
                    # One start per three seconds: a fresh launcher for each id.
                    self.serve_again()
                request = get_utf8("startZanfiro?request-id=%d&callback=cb&userid=%s" % (number, user_id))
                self.assertEqual(exchange(request), jsonp_answer(start_body(str(number))))
                records = wait_until(lambda: len(self.target.fake_records()) > number and
                                     self.target.fake_records(), 5)
                self.assertTrue(records, "the fake program recorded nothing; log:\n" + self.target.read_log())
                self.assertEqual(records[-1].argv[1:], ["-w=" + user_id])
        self.assertFalse(os.path.exists(os.path.join(self.target.program_folder(), "pwned")))
        self.assertFalse(os.path.exists(os.path.join(self.root, "pwned")))

    def serve_again(self):
        self.assertEqual(exchange(QUIT_WORD), REJECTION)
        self.assertEqual(self.target.exit_code(self.launcher), 0)
        os.remove(self.target.log_path())
        self.launcher = self.start_serving()


# Evaluates each body as the page's script would: the callback is a function
# of the page, the body a script calling it. Prints what each call got.
NODE_SCRIPT = r"""
const vm = require('vm');
const cases = JSON.parse(require('fs').readFileSync(0, 'utf8'));
const out = cases.map(([callback, body64]) => {
  const got = [];
  const context = {};
  const names = callback.split('.');
  let holder = context;
  for (const name of names.slice(0, -1)) holder = holder[name] = {};
  holder[names[names.length - 1]] = (value) => got.push(value);
  try {
    vm.runInNewContext(Buffer.from(body64, 'base64').toString('utf8'), context);
  } catch (e) {
    return {error: String(e)};
  }
  return {calls: got};
});
process.stdout.write(JSON.stringify(out));
"""

# (request id, secret key) as sent in the URL; ids and keys are echoed as
# sent, so each must come back unchanged.
HOSTILE_IDS_AND_KEYS = [
    ("</script><script>alert(1)</script>", "k"),
    ('a"b', "c'd"),
    ("back\\slash", "\\"),
    ('"});alert(1);//', "'+alert(1)+'"),
    ("tab\there", "\x01\x1f\x7f"),
    ("é✓", "%E2%9C%93"),
    ("\u2028\u2029", "x"),
    ("\\u0022", "${x}`"),
    ("%0A", "%00"),
    ("<!--", "-->"),
]


class AnswerIsJavaScriptTest(LauncherTestCase):

    def test_answers_parse_as_javascript_and_carry_id_and_key_unchanged(self):
        node = shutil.which("node") or "/usr/bin/node"
        if not os.path.exists(node):
            self.fail("node is missing (tools/install-deps.sh installs nodejs)")
        cases = []
        for request_id, key in HOSTILE_IDS_AND_KEYS:
            for callback in ["cb", "ns.cb_1$"]:
                url = "getAppStatus?request-id=%s&secret-key=%s&callback=%s" % (request_id, key, callback)
                answer = exchange(get_utf8(url))
                self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"), (url, answer))
                body = answer.split(b"\r\n\r\n", 1)[1]
                cases.append((request_id, key, callback, body))
        run = subprocess.run([node, "-e", NODE_SCRIPT], input=json.dumps(
            [[callback, base64.b64encode(body).decode()] for _, _, callback, body in cases]).encode(),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace"))
        results = json.loads(run.stdout)
        for (request_id, key, callback, body), result in zip(cases, results):
            with self.subTest(request_id=request_id, key=key, callback=callback):
                self.assertNotIn("error", result, body)
                self.assertEqual(result["calls"], [{
                    "request-id": request_id,
                    "secret-key": key,
                    "request-type": "getAppStatus",
                    "response": {"result": "Success", "message": "NotRunning"},
                }])


if __name__ == "__main__":
    unittest.main()
