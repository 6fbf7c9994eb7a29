"""The port and the process: another program holding 127.0.0.1:5560, and a
launcher killed with SIGKILL and started again. The held-port test waits out
the launcher's four bind attempts, 15 s apart: about 65 s."""

import os
import shutil
import signal
import socket
import tempfile
import time
import unittest

from harness import HOST, PORT, REJECTION, PortHolder, START_TIMEOUT, log_entries, make_target, wait_until
from fault_support import FaultTestCase, ask, asked_right, status_answer

BIND_ERROR = "xxx: bind error (port 5560 already opened?) - "
BIND_STOP = "xxx: error on bind. STOP"
# Four bind attempts with 15 s after each, and the probe before them.
BIND_GIVE_UP_TIMEOUT = 90


# What a local web server on the port answers.
FOREIGN_ANSWER = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok"


class HeldPortTest(FaultTestCase):

    start_launcher = False

    def second_target(self):
        root = tempfile.mkdtemp(prefix="zwl-fault-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        target = make_target(root)
        self.addCleanup(target.stop_all)
        return target

    def test_a_program_on_the_port_is_not_taken_for_a_launcher(self):
        # Two launchers, each with a home of its own, at the same time (the
        # bind attempts take a minute): the first finds a program that
        # answers HTTP, the second, started once the first is past its
        # probe, one that takes the connection and answers nothing.
        foreign = PortHolder(FOREIGN_ANSWER)
        self.addCleanup(foreign.stop)
        answered_target = self.target
        silent_target = self.second_target()

        answered = answered_target.start()
        past_probe = wait_until(lambda: foreign.answered >= 1 and (
            answered.poll() is not None or BIND_ERROR in answered_target.read_log()), START_TIMEOUT)
        self.assertTrue(foreign.answered >= 1, "the launcher never probed the port")
        foreign.answer = None
        silent = silent_target.start()

        answered_code = answered_target.exit_code(answered, timeout=BIND_GIVE_UP_TIMEOUT)
        silent_code = silent_target.exit_code(silent, timeout=BIND_GIVE_UP_TIMEOUT)
        self.assertTrue(past_probe)

        for name, target, code in [("program that answers", answered_target, answered_code),
                                   ("program that never answers", silent_target, silent_code)]:
            with self.subTest(holder=name):
                entries = log_entries(target.read_log())
                self.assertEqual(code, 1, "exit code; log:\n" + target.read_log())
                self.assertNotIn((0, "Laucher already started"), entries)
                bind_errors = [message for level, message in entries if message.startswith(BIND_ERROR)]
                self.assertEqual(len(bind_errors), 4, target.read_log())
                self.assertIn((0, BIND_STOP), entries)
        # Nothing of either launcher took the port from its holder.
        self.assertTrue(foreign.thread.is_alive())


class KillAndRestartTest(FaultTestCase):

    def test_new_start_serves_within_a_second_after_kill_9(self):
        for round_number in range(3):
            with self.subTest(round=round_number):
                # Connections in every state at the moment of the kill: closed
                # by the launcher (its side waits in TIME_WAIT), and open.
                for i in range(20):
                    self.assertTrue(asked_right(i))
                held = socket.create_connection((HOST, PORT), timeout=5)
                self.addCleanup(held.close)
                self.launcher.kill()
                self.launcher.wait(10)

                began = time.monotonic()
                self.launcher = self.target.start()
                serving = wait_until(lambda: asked_right(100, timeout=0.5), 1.0, interval=0.01)
                elapsed = time.monotonic() - began
                self.assertTrue(serving, "not serving 1 s after the start; log:\n"
                                + self.target.read_log()[-800:])
                print("serving %.0f ms after the new start" % (elapsed * 1000))
                self.assertNotIn("bind error", self.target.read_log())


if __name__ == "__main__":
    unittest.main()
