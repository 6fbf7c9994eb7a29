"""The launcher as a process: the stop command, one instance at a time, the
log rotation at a serving start, and the end on a stop signal."""

import os
import signal
import time
import unittest

from harness import (LauncherTestCase, PortHolder, exchange, get, log_entries, port_is_free,
                     wait_until, START_TIMEOUT)

BANNER = [
    (0, "-" * 53),
    (0, "zanfiroWebLauncher versione 1.3.2, 2012-06-01"),
]
STATUS_REQUEST = get("getAppStatus?request-id=1&callback=cb")


def read(path):
    """A log file as text with "\\n" line ends (the Windows build writes CR LF)."""
    with open(path, "rb") as f:
        return f.read().decode("latin-1").replace("\r\n", "\n")


def serve_again(case):
    """Starts a new serving launcher after the previous one ended. The old log
    goes first, so the wait for "listening" cannot be met by its lines."""
    try:
        os.remove(case.target.log_path())
    except FileNotFoundError:
        pass
    return case.start_serving()


class StopCommandTest(LauncherTestCase):

    def test_kill_stops_the_serving_instance(self):
        for arguments in [("-kill",), ("first", "-kill", "--kill", "-kill")]:
            with self.subTest(arguments=arguments):
                if self.launcher is None:
                    self.launcher = serve_again(self)
                stopper = self.target.start(*arguments)
                self.assertEqual(self.target.exit_code(stopper), 0)
                self.assertEqual(self.target.exit_code(self.launcher), 0)
                self.assertTrue(port_is_free())
                self.assertIn("  [HTTPServer::handleRequest] quit received!\n", self.target.read_log())
                self.launcher = None

    def test_near_misses_of_kill_only_probe(self):
        log_before = self.target.read_log()
        for argument in ["-KILL", "--kill", "/kill", "-kill=1", "kill"]:
            with self.subTest(argument=argument):
                second = self.target.start(argument)
                self.assertEqual(self.target.exit_code(second), 0)
        self.assertIsNone(self.launcher.poll())
        self.assertEqual(exchange(STATUS_REQUEST)[:15], b"HTTP/1.1 200 OK")
        added = log_entries(self.target.read_log()[len(log_before):])
        self.assertEqual(added.count((0, "Laucher already started")), 5, self.target.read_log())
        self.assertNotIn((0, "[HTTPServer::handleRequest] quit received!"), added)


class KillWithNothingServingTest(LauncherTestCase):

    start_launcher = False

    def test_connect_error_exit_code_minus_one_and_no_rotation(self):
        os.makedirs(self.target.log_folder())
        with open(self.target.log_path(), "w") as f:
            f.write("earlier line\n")
        stopper = self.target.start("-kill")
        self.assertEqual(self.target.exit_code(stopper), -1)
        self.assertEqual(stopper.returncode, 255)
        self.assertEqual(log_entries(self.target.read_log()), [(0, "earlier line"), (0, "connect error")])
        self.assertEqual(sorted(os.listdir(self.target.log_folder())), ["zanfiroWebLauncher.log"])
        self.assertTrue(port_is_free())


class SecondInstanceTest(LauncherTestCase):

    def test_second_start_logs_and_leaves_the_first_serving(self):
        folder_before = sorted(os.listdir(self.target.log_folder()))
        second = self.target.start()
        self.assertEqual(self.target.exit_code(second), 0)
        self.wait_for_log(0, "Laucher already started")
        # No rotation: the banner of the first instance still opens the log.
        self.assertEqual(self.entries()[:2], BANNER)
        self.assertEqual(sorted(os.listdir(self.target.log_folder())), folder_before)
        self.assertIsNone(self.launcher.poll())
        self.assertEqual(exchange(STATUS_REQUEST)[:15], b"HTTP/1.1 200 OK")


class RotationAtStartTest(LauncherTestCase):

    start_launcher = False

    def write_logs(self, suffixes):
        os.makedirs(self.target.log_folder(), exist_ok=True)
        for suffix in suffixes:
            with open(self.target.log_path() + suffix, "w") as f:
                f.write("content of log%s\n" % suffix)

    def test_full_chain_shifts_by_one_and_drops_the_oldest(self):
        self.write_logs(["", ".1", ".2", ".3", ".4"])
        self.launcher = self.start_serving()
        path = self.target.log_path()
        # The probe found nobody; its line closes the old log, now ".1".
        self.assertEqual(log_entries(read(path + ".1")), [(0, "content of log"), (0, "connect error")])
        self.assertEqual(read(path + ".2"), "content of log.1\n")
        self.assertEqual(read(path + ".3"), "content of log.2\n")
        self.assertEqual(read(path + ".4"), "content of log.3\n")
        self.assertEqual(self.entries()[:2], BANNER)
        self.assertEqual(len(os.listdir(self.target.log_folder())), 5)

    def test_gap_in_the_chain_moves_up_one_place(self):
        self.write_logs(["", ".1", ".3"])
        self.launcher = self.start_serving()
        path = self.target.log_path()
        self.assertEqual(log_entries(read(path + ".1")), [(0, "content of log"), (0, "connect error")])
        self.assertEqual(read(path + ".2"), "content of log.1\n")
        self.assertFalse(os.path.exists(path + ".3"))
        self.assertEqual(read(path + ".4"), "content of log.3\n")
        self.assertEqual(self.entries()[:2], BANNER)

    def test_first_start_has_no_copies(self):
        self.launcher = self.start_serving()
        self.assertEqual(self.entries()[:2], BANNER)
        self.assertEqual(log_entries(read(self.target.log_path() + ".1")), [(0, "connect error")])
        self.assertEqual(sorted(os.listdir(self.target.log_folder())),
                         ["zanfiroWebLauncher.log", "zanfiroWebLauncher.log.1"])


class StopSignalTest(LauncherTestCase):

    start_launcher = False

    def test_stop_signals_end_the_server_cleanly(self):
        if self.target.kind != "linux":
            self.skipTest("stop signals are the POSIX build's quit request; the Windows build quits on a "
                          "thread quit message, tested in tests/wine")
        # SIGTERM from a service manager, Ctrl-C (SIGINT to the terminal's
        # process group) and SIGHUP from a closed terminal.
        for number, to_group in [(signal.SIGTERM, False), (signal.SIGINT, True), (signal.SIGHUP, False)]:
            with self.subTest(signal=number.name):
                self.launcher = serve_again(self)
                self.assertEqual(exchange(STATUS_REQUEST)[:15], b"HTTP/1.1 200 OK")
                if to_group:
                    os.killpg(self.launcher.pid, number)
                else:
                    os.kill(self.launcher.pid, number)
                self.assertEqual(self.target.exit_code(self.launcher), 0)
                self.assertTrue(self.target.read_log().endswith("] Server: STOP?!.\n\n\n"),
                                self.target.read_log()[-200:])
                self.assertEqual(self.entries()[-3:], [(0, "Server: STOP?!."), (None, ""), (None, "")])
                self.assertTrue(wait_until(port_is_free, 5))


class SilentListenerTest(LauncherTestCase):
    """Something holds the port, takes connections and never answers: the
    launcher gives up on it after its time limit instead of hanging."""

    start_launcher = False

    def setUp(self):
        super().setUp()
        self.listener = PortHolder()
        self.addCleanup(self.listener.stop)

    def test_kill_gives_up_with_recv_error(self):
        began = time.monotonic()
        stopper = self.target.start("-kill")
        code = self.target.exit_code(stopper, timeout=15)
        elapsed = time.monotonic() - began
        self.assertEqual(code, -1)
        self.assertEqual(log_entries(self.target.read_log()), [(0, "recv error")])
        # It did wait for an answer, and not for ever.
        self.assertGreater(elapsed, 1.0)
        self.assertLess(elapsed, 12.0)

    def test_probe_gives_up_and_the_start_goes_on(self):
        began = time.monotonic()
        process = self.target.start()
        copy = self.target.log_path() + ".1"
        rotated = wait_until(lambda: os.path.exists(copy), START_TIMEOUT)
        elapsed = time.monotonic() - began
        self.assertTrue(rotated, self.target.read_log())
        self.assertEqual(log_entries(read(copy)), [(0, "recv error")])
        self.assertGreater(elapsed, 1.0)
        self.assertLess(elapsed, 12.0)
        # It carries on as the server; the port is taken, so it keeps trying.
        self.assertTrue(wait_until(lambda: self.entries()[:2] == BANNER, 5), self.target.read_log())
        self.assertIsNone(process.poll())


if __name__ == "__main__":
    unittest.main()
