"""Page origins on the wire: the Origin header echoed in the 200 answers, and
the owner's list of allowed origins (allowed-origins.txt in the launcher's
own folder), read at start, logged, and enforced for the two commands."""

import unittest

from harness import (REJECTION, QUIT_WORD, LauncherTestCase, exchange, get, port_is_free, wait_until)

STATUS_URL = "getAppStatus?request-id=17&callback=cb1"
STATUS_BODY = (b'cb1({"request-id":"17","secret-key":"","request-type": "getAppStatus",'
               b'"response":{"result":"Success","message":"NotRunning"}})')
OK_HEAD = b"HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\n"


def answer(body, origin=None):
    """The 200 answer carrying body; with origin, the two header lines that
    let a page from that origin read it."""
    cors = b"" if origin is None else b"Access-Control-Allow-Origin: %s\r\nVary: Origin\r\n" % origin
    return OK_HEAD + cors + b"Content-Length: %d\r\n\r\n%s" % (len(body), body)


def origin_header(value):
    return b"Origin: " + value + b"\r\n"


class OriginEchoTest(LauncherTestCase):
    """No list: every page is answered; a well-formed Origin is echoed."""

    def test_well_formed_origin_is_echoed_as_sent(self):
        cases = [
            # (extra header lines, origin expected in the answer or None)
            (b"", None),
            (origin_header(b"http://localhost:8000"), b"http://localhost:8000"),
            (b"origin: https://Shop.Example\r\n", b"https://Shop.Example"),
            (b"ORIGIN:\thttps://[::1]:8443  \r\n", b"https://[::1]:8443"),
            (b"Referer: http://x.example/\r\n" + origin_header(b"http://a.example"), b"http://a.example"),
            # Counted as absent: today's bytes exactly.
            (origin_header(b"null"), None),
            (origin_header(b"http://a.example/"), None),
            (origin_header(b"http://a.example/path"), None),
            (origin_header(b"a.example"), None),
            (origin_header(b"http://a.example, http://b.example"), None),
            (origin_header(b"http://a.example") + origin_header(b"http://a.example"), None),
            (b"X-Origin: http://a.example\r\n", None),
        ]
        for headers, origin in cases:
            with self.subTest(headers=headers):
                self.assertEqual(exchange(get(STATUS_URL, headers)), answer(STATUS_BODY, origin))
        # Without Origin the answer keeps its length to the byte.
        self.assertEqual(len(exchange(get(STATUS_URL))), 197)

    def test_every_200_answer_carries_it_the_400_answer_never(self):
        origin = b"http://localhost:8000"
        self.assertEqual(exchange(get("getAppStatus?request-id=1", origin_header(origin))), answer(b"", origin))
        started = exchange(get("startZanfiro?request-id=2&callback=cb&userid=u%201", origin_header(origin)))
        self.assertEqual(started, answer(b'cb({"request-id":"2","secret-key":"","request-type": "startZanfiro",'
                                         b'"response":{"result":"Success","message":"StartingZanfiro"}})', origin))
        for url in ["getAppStatus?callback=cb", "getAppStatus?request-id=1&callback=alert(1)"]:
            with self.subTest(url=url):
                self.assertEqual(exchange(get(url, origin_header(origin))), REJECTION)
        self.assertEqual(len(REJECTION), 47)

    def test_log_says_there_is_no_list(self):
        self.assert_start_line("Allowed origins: no list at %s, every page allowed"
                               % self.target.expected_allowed_origins_path())

    def assert_start_line(self, message):
        entries = self.entries()
        self.assertIn((0, message), entries, self.target.read_log())
        listening = entries.index((1, "Server listening on port: 5560"))
        self.assertGreater(entries.index((0, message)), listening, self.target.read_log())


class AllowedOriginsTest(LauncherTestCase):
    """A list exists: the commands are answered only for listed origins."""

    start_launcher = False

    LIST = (b"# pages that may use zanfiro\r\n"
            b"https://shop.example/\r\n"          # trailing slash dropped
            b"\r\n"
            b"http://localhost:8000\r\n"
            b"  http://plain.example:80  \r\n"    # blanks and the default port dropped
            b"shop.example\r\n"                   # line 6: invalid
            b"https://shop.example/cart\r\n")     # line 7: invalid

    def start_with_list(self, data=LIST):
        self.target.write_allowed_origins(data)
        self.launcher = self.start_serving()

    def refusal_logged(self, shown):
        """The refusal's log line, then the usual response line."""
        self.wait_for_log(1, "[HTTPServer::handleRequest] origin not allowed: " + shown)
        self.assert_log_sequence([(1, "[HTTPServer::handleRequest] origin not allowed: " + shown),
                                  (0, "response: ")])

    def test_start_logs_the_count_and_each_invalid_line(self):
        self.start_with_list()
        path = self.target.expected_allowed_origins_path()
        entries = self.entries()
        self.assertIn((0, "Allowed origins: 3 listed in %s" % path), entries, self.target.read_log())
        self.assertIn((1, "xxx: invalid origin at line 6 of %s: shop.example" % path), entries)
        self.assertIn((1, "xxx: invalid origin at line 7 of %s: https://shop.example/cart" % path), entries)

    def test_listed_origins_are_answered_with_the_origin_as_sent(self):
        self.start_with_list()
        for origin in [b"https://shop.example", b"HTTPS://SHOP.example", b"http://localhost:8000",
                       b"http://plain.example"]:
            with self.subTest(origin=origin):
                self.assertEqual(exchange(get(STATUS_URL, origin_header(origin))), answer(STATUS_BODY, origin))

    def test_other_origins_and_requests_without_origin_are_refused_and_logged(self):
        self.start_with_list()
        cases = [
            # (extra header lines, how the log names the origin)
            (origin_header(b"https://evil.example"), "https://evil.example"),
            (origin_header(b"http://shop.example"), "http://shop.example"),         # other scheme
            (origin_header(b"https://shop.example:8443"), "https://shop.example:8443"),  # other port
            (origin_header(b"http://localhost:8001"), "http://localhost:8001"),
            (origin_header(b"http://plain.example:80"), "http://plain.example:80"),  # browsers never send it
            (b"", "(none)"),
            (origin_header(b"null"), "(none)"),
            (origin_header(b"https://shop.example") * 2, "(none)"),
        ]
        for headers, shown in cases:
            with self.subTest(headers=headers):
                self.assertEqual(exchange(get(STATUS_URL, headers)), REJECTION)
                self.refusal_logged(shown)

    def test_refused_start_starts_nothing(self):
        self.start_with_list()
        request = get("startZanfiro?request-id=3&callback=cb&userid=u1", origin_header(b"https://evil.example"))
        self.assertEqual(exchange(request), REJECTION)
        self.refusal_logged("https://evil.example")
        request = get("startZanfiro?request-id=4&callback=cb&userid=u1", origin_header(b"https://shop.example"))
        self.assertIn(b'"message":"StartingZanfiro"', exchange(request))
        self.assertTrue(wait_until(lambda: len(self.target.fake_records()) == 1, 10.0))
        self.assertEqual(self.target.fake_records()[0].argv[1:], ["-w=u1"])

    def test_probe_quit_word_and_requests_without_id_keep_their_paths(self):
        self.start_with_list()
        self.assertEqual(exchange(b"ciao"), REJECTION)
        self.assertEqual(exchange(get("getAppStatus?callback=cb")), REJECTION)
        self.wait_for_log(0, "response: ", count=2)
        messages = [m for level, m in self.entries() if level == 1]
        self.assertEqual(messages.count("[HTTPServer::handleRequest] not HTTP request or valid command:"), 2)
        self.assertFalse(any("origin not allowed" in m for m in messages), self.target.read_log())
        self.assertEqual(exchange(QUIT_WORD), REJECTION)
        self.assertEqual(self.target.exit_code(self.launcher), 0)
        self.assertTrue(port_is_free())

    def test_empty_list_allows_no_page(self):
        self.start_with_list(b"")
        self.assertIn((0, "Allowed origins: 0 listed in %s" % self.target.expected_allowed_origins_path()),
                      self.entries())
        self.assertEqual(exchange(get(STATUS_URL, origin_header(b"https://shop.example"))), REJECTION)
        self.refusal_logged("https://shop.example")


if __name__ == "__main__":
    unittest.main()
