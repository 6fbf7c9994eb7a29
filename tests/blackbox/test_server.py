"""The server seen from a web page: answers on the wire, the log's lines, the
quit word, requests of awkward sizes and clients that misbehave."""

import socket
import struct
import time
import unittest

from harness import (EXCHANGE_TIMEOUT, REJECTION, QUIT_WORD, LauncherTestCase, connect, exchange, get, jsonp_answer,
                     port_is_free, read_to_end, wait_until)

STATUS_BODY = (b'cb1({"request-id":"17","secret-key":"","request-type": "getAppStatus",'
               b'"response":{"result":"Success","message":"NotRunning"}})')


class AnswersTest(LauncherTestCase):

    def test_answers_byte_for_byte(self):
        cases = [
            # (request, answer)
            (get("getAppStatus?request-id=17&callback=cb1"), jsonp_answer(STATUS_BODY)),
            (get("getAppStatus?request-id=1"),
             b"HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: 0\r\n\r\n"),
            (get("getAppStatus?callback=cb"), REJECTION),
            (b"ciao", REJECTION),
            (b"x", REJECTION),
            (get("getAppStatus?request-id=5&secret-key=s3&jasonp=ns.cb"),
             jsonp_answer(b'ns.cb({"request-id":"5","secret-key":"s3","request-type": "getAppStatus",'
                          b'"response":{"result":"Success","message":"NotRunning"}})')),
        ]
        for request, answer in cases:
            with self.subTest(request=request):
                self.assertEqual(exchange(request), answer)
        self.assertEqual(len(jsonp_answer(STATUS_BODY)), 197)
        self.assertEqual(len(REJECTION), 47)

    def test_nul_byte_ends_the_text_that_is_handled(self):
        # The request is cut at the NUL: the request id after it never
        # counts, so the request is refused, and the rest is never logged.
        request = b"GET /getAppStatus?callback=cb\x00&request-id=1&evil HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
        self.assertEqual(exchange(request), REJECTION)
        self.wait_for_log(0, "response: ")
        self.assertIn((1, "GET /getAppStatus?callback=cb"), self.entries())
        self.assertNotIn("evil", self.target.read_log())

    def test_other_commands_get_no_answer_and_the_connection_is_closed(self):
        for url in ["GetAppStatus?request-id=3", "favicon.ico?request-id=3"]:
            with self.subTest(url=url):
                self.assertEqual(exchange(get(url)), b"")
        self.assertNotIn("response:", self.target.read_log())

    def test_invalid_callback_is_rejected(self):
        request = get("getAppStatus?request-id=1&callback=alert(1)//")
        self.assertEqual(exchange(request), REJECTION)
        self.wait_for_log(0, "response: ")
        messages = [m for level, m in self.entries() if level == 1]
        self.assertTrue(any("callback" in m for m in messages), self.target.read_log())

    def test_probe_is_logged_and_rejected(self):
        with connect() as s:
            port = s.getsockname()[1]
            s.sendall(b"ciao")
            self.assertEqual(read_to_end(s), REJECTION)
        self.wait_for_log(2, "Disc. 127.0.0.1:%d" % port)
        self.assert_log_sequence([
            (0, "Conn. 127.0.0.1:%d" % port),
            (1, "[HTTPServer::handleRequest] not HTTP request or valid command:"),
            (1, "ciao"),
            (0, "response: "),
            (None, ""),
            (2, "Disc. 127.0.0.1:%d" % port),
            (None, ""),
        ])

    def test_log_starts_with_the_banner(self):
        entries = self.entries()
        self.assertEqual(entries[:4], [
            (0, "-" * 53),
            (0, "zanfiroWebLauncher versione 1.3.2, 2012-06-01"),
            (1, "Server listening on port: 5560"),
            (None, ""),
        ])

    def test_answered_request_is_logged_with_its_body(self):
        with connect() as s:
            port = s.getsockname()[1]
            s.sendall(get("getAppStatus?request-id=17&callback=cb1"))
            read_to_end(s)
        self.wait_for_log(2, "Disc. 127.0.0.1:%d" % port)
        self.assert_log_sequence([
            (0, "Conn. 127.0.0.1:%d" % port),
            (0, "response: " + STATUS_BODY.decode()),
            (None, ""),
            (2, "Disc. 127.0.0.1:%d" % port),
        ])


class ListenerTest(LauncherTestCase):

    def test_only_the_loopback_address_is_served(self):
        # 127.0.0.2 reaches this machine too, but the listener is bound to
        # 127.0.0.1 alone.
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.2", 5560), timeout=EXCHANGE_TIMEOUT).close()
        self.assertEqual(exchange(get("getAppStatus?request-id=17&callback=cb1")), jsonp_answer(STATUS_BODY))


class QuitTest(LauncherTestCase):

    def test_quit_word_answers_and_ends_with_exit_code_0(self):
        with connect() as s:
            s.sendall(QUIT_WORD + b" and more")
            self.assertEqual(read_to_end(s), REJECTION)
        self.assertEqual(self.target.exit_code(self.launcher), 0)
        self.assertTrue(port_is_free())
        self.assertIn("  [HTTPServer::handleRequest] quit received!\n", self.target.read_log())

    def test_near_misses_of_the_quit_word_are_ordinary_texts(self):
        for text in [b" " + QUIT_WORD, QUIT_WORD[:5]]:
            with self.subTest(text=text):
                self.assertEqual(exchange(text), REJECTION)
        self.assertIsNone(self.launcher.poll())


class RequestSizeTest(LauncherTestCase):

    def padded(self, size):
        """A getAppStatus request of exactly size bytes."""
        head = get("getAppStatus?request-id=17&callback=cb1", b"X-Pad: ")
        head = head[:-2]  # the blank line goes at the end
        pad = size - len(head) - 4
        self.assertGreaterEqual(pad, 0)
        request = head + b"a" * pad + b"\r\n\r\n"
        self.assertEqual(len(request), size)
        return request

    def send_whole(self, request):
        """Sends request so that all of it has arrived before the launcher
        reads: the launcher is frozen meanwhile."""
        s = connect()
        self.target.pause(self.launcher)
        try:
            s.sendall(request)
            time.sleep(0.2)
        finally:
            self.target.resume(self.launcher)
        return s

    def test_requests_of_whole_and_broken_chunks_are_answered(self):
        # 2048 and 4096 end exactly at a chunk; a read that then finds nothing
        # pending has still read the whole request.
        for size in [2047, 2048, 2049, 3000, 4096, 65535]:
            with self.subTest(size=size):
                s = self.send_whole(self.padded(size))
                with s:
                    self.assertEqual(read_to_end(s), jsonp_answer(STATUS_BODY))

    def test_request_of_2048_bytes_then_half_close_is_answered(self):
        with connect() as s:
            s.sendall(self.padded(2048))
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(read_to_end(s), jsonp_answer(STATUS_BODY))

    def test_oversized_request_is_rejected_and_cut_in_the_log(self):
        for size in [65536, 70000]:
            with self.subTest(size=size):
                s = self.send_whole(self.padded(size))
                with s:
                    self.assertEqual(read_to_end(s), REJECTION)
        log = self.target.read_log()
        self.assertEqual(log.count("too long"), 2, log)
        self.assertNotIn("a" * 2000, log)  # no line carries the whole text
        # The server is still serving.
        self.assertEqual(exchange(get("getAppStatus?request-id=17&callback=cb1")), jsonp_answer(STATUS_BODY))


class MisbehavingClientsTest(LauncherTestCase):

    def assert_still_serving(self):
        self.assertEqual(exchange(get("getAppStatus?request-id=17&callback=cb1")), jsonp_answer(STATUS_BODY))
        self.assertIsNone(self.launcher.poll())

    def test_silent_connection_that_closes(self):
        s = connect()
        port = s.getsockname()[1]
        self.wait_for_log(0, "Conn. 127.0.0.1:%d" % port)
        s.close()
        self.wait_for_log(2, "Client 127.0.0.1:%d auto-disconnected" % port)
        self.assert_still_serving()

    def test_second_request_on_the_same_connection_gets_nothing(self):
        with connect() as s:
            s.sendall(get("getAppStatus?request-id=17&callback=cb1"))
            self.assertEqual(read_to_end(s), jsonp_answer(STATUS_BODY))
            try:
                s.sendall(get("getAppStatus?request-id=18&callback=cb1"))
                second = read_to_end(s)
            except (BrokenPipeError, ConnectionResetError):
                second = b""
            self.assertEqual(second, b"")
        self.assertEqual(self.target.read_log().count("response: "), 1)
        self.assert_still_serving()

    def test_client_that_resets_before_its_answer(self):
        # Request and reset leave together; the answer then goes to a
        # connection that is gone, which must not end the server.
        linger = struct.pack("ii", 1, 0)
        for _ in range(20):
            s = connect()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, linger)
            s.sendall(get("getAppStatus?request-id=17&callback=cb1"))
            s.close()
        self.assert_still_serving()

    def test_64th_connection_takes_the_slot_of_the_longest_waiting_client(self):
        # 63 silent connections must not lock pages out: the newcomer is
        # served, the oldest silent one gives way, the other 62 are served.
        clients = []
        try:
            for _ in range(63):
                clients.append(connect())
            got_all = wait_until(lambda: self.target.read_log().count("Conn. ") >= 63, 10)
            self.assertTrue(got_all, self.target.read_log())
            oldest_port = clients[0].getsockname()[1]

            with connect() as page:
                page.sendall(get("getAppStatus?request-id=17&callback=cb1"))
                self.assertEqual(read_to_end(page), jsonp_answer(STATUS_BODY))
            self.wait_for_log(2, "Disconnect Forced 127.0.0.1:%d" % oldest_port)
            self.assertNotIn("non accettata", self.target.read_log())

            self.assertEqual(read_to_end(clients[0]), b"")
            for s in clients[1:]:
                s.sendall(get("getAppStatus?request-id=17&callback=cb1"))
            for s in clients[1:]:
                self.assertEqual(read_to_end(s), jsonp_answer(STATUS_BODY))
        finally:
            for s in clients:
                s.close()
        self.assertEqual(self.target.read_log().count("response: "), 63)
        self.assert_still_serving()


if __name__ == "__main__":
    unittest.main()
