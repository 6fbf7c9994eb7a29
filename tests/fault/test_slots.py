"""Connections that take every place the launcher has: 63 client slots, or
every descriptor the process may open. A page must still be answered."""

import os
import resource
import selectors
import socket
import subprocess
import threading
import time
import unittest

from harness import EXCHANGE_TIMEOUT, START_TIMEOUT, connect, wait_until
from fault_support import (FaultTestCase, ask, asked_right, cpu_ticks, descriptor_count, status_answer)

SLOTS = 63


def silent_connections(case, count):
    """Opens count connections that send nothing, one after the other, and
    waits until the launcher has logged each of them; returns them, oldest
    first."""
    connections = []
    for _ in range(count):
        s = connect()
        case.addCleanup(s.close)
        connections.append(s)
    for s in connections:
        case.wait_for_log(0, "Conn. 127.0.0.1:%d" % s.getsockname()[1])
    return connections


class FullTableTest(FaultTestCase):

    def test_page_is_answered_within_a_second_when_63_silent_clients_hold_every_slot(self):
        silent = silent_connections(self, SLOTS)
        for n in range(3):
            with self.subTest(page_request=n):
                began = time.monotonic()
                answer = ask(10 + n, timeout=1.0)
                self.assertEqual(answer, status_answer(10 + n),
                                 "no answer within 1 s (%.2f s); log tail:\n%s"
                                 % (time.monotonic() - began, self.target.read_log()[-600:]))
                if n == 0:
                    # The slot came from the client connected longest.
                    oldest = silent[0]
                    self.wait_for_log(2, "Disconnect Forced 127.0.0.1:%d" % oldest.getsockname()[1], timeout=1)
                    oldest.settimeout(1)
                    self.assertEqual(oldest.recv(10), b"")
        # The first page's slot came free when it was answered: the later
        # pages took it, and every other silent client is still connected.
        self.assertEqual(self.target.read_log().count("Disconnect Forced"), 1, self.target.read_log()[-600:])
        self.assertIsNone(self.launcher.poll())


class Renewer:
    """A program that keeps every slot taken for a while: whenever the
    launcher closes one of its silent connections, it opens a new one, and it
    tries for two more than the launcher has slots, so a slot that comes free
    is taken at once. It stops by itself."""

    def __init__(self, duration):
        self.duration = duration
        self.renewed = 0
        self.thread = threading.Thread(target=self.run, daemon=True)

    def run(self):
        selector = selectors.DefaultSelector()
        deadline = time.monotonic() + self.duration
        try:
            while time.monotonic() < deadline:
                while len(selector.get_map()) < SLOTS + 2:
                    try:
                        s = socket.create_connection(("127.0.0.1", 5560), timeout=0.5)
                    except OSError:
                        break
                    selector.register(s, selectors.EVENT_READ)
                    # At most about 200 new connections a second.
                    time.sleep(0.005)
                for key, _ in selector.select(timeout=0.05):
                    s = key.fileobj
                    try:
                        data = s.recv(16)
                    except OSError:
                        data = b""
                    if not data:
                        selector.unregister(s)
                        s.close()
                        self.renewed += 1
        finally:
            for key in list(selector.get_map().values()):
                key.fileobj.close()
            selector.close()


class RenewedSilentClientsTest(FaultTestCase):

    def test_every_ask_is_answered_while_a_program_renews_silent_connections(self):
        renewer = Renewer(duration=11)
        renewer.thread.start()
        self.addCleanup(renewer.thread.join, 15)
        self.assertTrue(wait_until(lambda: self.target.read_log().count("Conn. ") >= SLOTS, 5),
                        "the renewer did not fill the table")
        results = []
        began = time.monotonic()
        for n in range(10):
            time.sleep(max(0.0, began + n - time.monotonic()))
            results.append(asked_right(100 + n, timeout=2.0))
        renewer.thread.join(15)
        print("renewed connections: %d; answered asks: %r" % (renewer.renewed, results))
        self.assertEqual(results, [True] * 10)
        self.assertIsNone(self.launcher.poll())


class DescriptorExhaustionTest(FaultTestCase):
    """With few descriptors allowed, connections use them all up; the accept
    that then fails must not make the loop spin, and serving resumes when
    descriptors come free."""

    start_launcher = False
    DESCRIPTOR_LIMIT = 16

    def test_failed_accept_for_lack_of_descriptors_does_not_spin(self):
        limit = self.DESCRIPTOR_LIMIT
        stdout_path = os.path.join(self.root, "stdout.txt")
        with open(stdout_path, "wb") as stdout:
            process = subprocess.Popen(
                self.target.command([]), env=self.target.environment(), cwd=self.root,
                stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.DEVNULL, start_new_session=True,
                preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit)))
        self.target.processes.append(process)
        self.launcher = process
        self.assertTrue(wait_until(lambda: asked_right(1, timeout=1), START_TIMEOUT), self.target.read_log())

        # Connections until the launcher holds every descriptor it may open,
        # then two more that wait in the listener's queue, which then stays
        # readable.
        held = []
        queued = 0
        for _ in range(limit + 10):
            if queued >= 2:
                break
            full = descriptor_count(process.pid) >= limit
            try:
                s = socket.create_connection(("127.0.0.1", 5560), timeout=2)
            except OSError:
                continue
            held.append(s)
            self.addCleanup(s.close)
            if full:
                queued += 1
            else:
                # Let the launcher take it before the count is read again.
                wait_until(lambda: descriptor_count(process.pid) >= min(limit, 4 + len(held)), 1)
        self.assertEqual(queued, 2, "the launcher never ran out of descriptors: %d held, %d connections"
                         % (descriptor_count(process.pid), len(held)))
        time.sleep(0.5)

        ticks_before = cpu_ticks(process.pid)
        log_before = len(self.target.read_log())
        stdout_before = os.path.getsize(stdout_path)
        time.sleep(1.0)
        ticks = cpu_ticks(process.pid) - ticks_before
        log_growth = len(self.target.read_log()) - log_before
        stdout_growth = os.path.getsize(stdout_path) - stdout_before
        hz = os.sysconf("SC_CLK_TCK")
        print("one second out of descriptors: %d of %d CPU ticks, log +%d bytes, standard output +%d bytes"
              % (ticks, hz, log_growth, stdout_growth))
        # A pause of about 100 ms between attempts: a few lines and almost no
        # CPU in a second. A spinning loop takes the whole second.
        self.assertLess(ticks, hz // 5)
        self.assertLess(log_growth + stdout_growth, 20 * 200)

        # Descriptors come free: the launcher serves again.
        for s in held:
            s.close()
        self.assertTrue(wait_until(lambda: asked_right(2, timeout=1), 5))
        self.assertIsNone(process.poll())


if __name__ == "__main__":
    unittest.main()
