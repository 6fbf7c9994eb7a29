"""Load the launcher must take without losing an answer or a resource: a
flood of requests, senders that never stop, connections reset at every
moment. Memory is compared before and after; the margins are far below what
a leak of a few bytes per request over these counts would add."""

import socket
import threading
import time
import unittest

from harness import REJECTION, connect, read_to_end
from fault_support import (FaultTestCase, asked_right, descriptor_count, reset_close, resident_kib,
                           run_in_threads, status_answer, status_request)

FLOOD_CONNECTIONS = 50
FLOOD_REQUESTS = 20000
# 20,000 requests: a leak of 26 bytes per request would pass this margin.
FLOOD_RSS_MARGIN_KIB = 512


class FloodTest(FaultTestCase):

    def test_20000_requests_over_50_connections(self):
        pid = self.launcher.pid
        # A few requests first, so the first flood request pays for nothing
        # that stays (buffers, the log file's first line).
        for i in range(50):
            self.assertTrue(asked_right(i))
        descriptors_before = descriptor_count(pid)
        rss_before = resident_kib(pid)

        per_connection = FLOOD_REQUESTS // FLOOD_CONNECTIONS
        wrong = []
        lock = threading.Lock()

        def client(c):
            for k in range(per_connection):
                request_id = 100000 + c * per_connection + k
                if not asked_right(request_id, timeout=15):
                    with lock:
                        wrong.append(request_id)

        began = time.monotonic()
        errors = run_in_threads(FLOOD_CONNECTIONS, client)
        elapsed = time.monotonic() - began
        self.assertEqual(errors, [])
        self.assertEqual(wrong, [], "%d of %d answers missing or wrong" % (len(wrong), FLOOD_REQUESTS))
        self.assertIsNone(self.launcher.poll())
        self.wait_for_descriptors(descriptors_before)
        rss_after = resident_kib(pid)
        print("flood: %d requests in %.1f s; VmRSS %d KiB before, %d KiB after"
              % (FLOOD_REQUESTS, elapsed, rss_before, rss_after))
        self.assertLessEqual(rss_after, rss_before + FLOOD_RSS_MARGIN_KIB)
        self.assert_serving()


class EndlessSenderTest(FaultTestCase):
    """Clients that send without end: each is cut after 64 KiB with the
    rejection, the launcher's memory does not follow what they send, and
    other clients are answered meanwhile."""

    SENDERS = 8
    # Each sender stops by itself after this much, should it never be cut.
    SENDER_LIMIT = 8 * 1024 * 1024

    def endless_sender(self, chunk, pause):
        """Sends chunk after chunk, pausing between them, until the launcher
        closes; returns what came back."""
        received = bytearray()
        with connect(timeout=10) as s:
            sent = 0
            try:
                while sent < self.SENDER_LIMIT:
                    s.sendall(chunk)
                    sent += len(chunk)
                    if pause:
                        time.sleep(pause)
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.assertLess(sent, self.SENDER_LIMIT, "the launcher read 8 MiB without cutting the sender")
            try:
                received += read_to_end(s, timeout=10)
            except OSError:
                pass
        return bytes(received)

    def test_endless_senders_get_the_rejection_and_others_are_served(self):
        pid = self.launcher.pid
        self.assertTrue(asked_right(1))
        descriptors_before = descriptor_count(pid)
        rss_before = resident_kib(pid)

        for name, chunk, pause in [("fast", b"G" * 65536, 0.0), ("trickle", b"GET /" + b"a" * 1019, 0.005)]:
            with self.subTest(sender=name):
                answers = [None] * self.SENDERS
                served = []
                done = threading.Event()

                def sender(i):
                    answers[i] = self.endless_sender(chunk, pause)

                def other_clients():
                    request_id = 1000
                    while not done.is_set():
                        served.append(asked_right(request_id))
                        request_id += 1
                        time.sleep(0.02)

                watcher = threading.Thread(target=other_clients, daemon=True)
                watcher.start()
                errors = run_in_threads(self.SENDERS, sender)
                done.set()
                watcher.join(30)
                self.assertEqual(errors, [])
                self.assertEqual(answers, [REJECTION] * self.SENDERS)
                self.assertTrue(served and all(served), "other clients: %r" % served)

        self.assertIsNone(self.launcher.poll())
        self.wait_for_descriptors(descriptors_before)
        rss_after = resident_kib(pid)
        print("endless senders: VmRSS %d KiB before, %d KiB after" % (rss_before, rss_after))
        # Sixteen senders of 64 KiB each: holding even one request's text per
        # sender would add 1 MiB.
        self.assertLessEqual(rss_after, rss_before + 512)
        self.assert_serving()


class ResetTest(FaultTestCase):
    """Connections reset (SO_LINGER 0) at each moment of an exchange; the
    launcher serves on and keeps no descriptor of them."""

    ROUNDS = 500

    def test_resets_before_during_and_after_the_answer(self):
        pid = self.launcher.pid
        self.assertTrue(asked_right(1))
        descriptors_before = descriptor_count(pid)

        def before_request(i):
            reset_close(connect())

        def inside_request(i):
            s = connect()
            s.sendall(status_request(i)[:20])
            reset_close(s)

        def before_answer(i):
            s = connect()
            s.sendall(status_request(i))
            reset_close(s)

        def during_answer(i):
            # The answer is sent while the reset travels: read a part of it.
            s = connect()
            s.sendall(status_request(i))
            s.recv(10)
            reset_close(s)

        def after_answer(i):
            s = connect()
            s.sendall(status_request(i))
            answer = read_to_end(s)
            reset_close(s)
            if answer != status_answer(i):
                raise AssertionError("answer %r" % answer)

        for name, client in [("before the request", before_request), ("inside the request", inside_request),
                             ("before the answer", before_answer), ("during the answer", during_answer),
                             ("after the answer", after_answer)]:
            with self.subTest(moment=name):
                errors = run_in_threads(10, lambda t: [client(t * 1000 + k) for k in range(self.ROUNDS // 10)])
                self.assertEqual(errors, [])
                self.assert_serving(request_id=7)
        self.wait_for_descriptors(descriptors_before)


if __name__ == "__main__":
    unittest.main()
