"""startZanfiro seen from a web page: the program started, what it was
given, the rate limit, and a missing program."""

import time
import unittest

from harness import LauncherTestCase, exchange, get, jsonp_answer, wait_until


def start_body(callback, request_id, result, message):
    return ('%s({"request-id":"%s","secret-key":"","request-type": "startZanfiro",'
            '"response":{"result":"%s","message":"%s"}})' % (callback, request_id, result, message)).encode()


class StartTest(LauncherTestCase):

    def wait_for_records(self, count):
        records = wait_until(lambda: len(self.target.fake_records()) >= count and self.target.fake_records(), 5)
        self.assertTrue(records, "the fake program recorded nothing; log:\n" + self.target.read_log())
        return records

    def test_program_gets_one_argument_its_folder_and_no_socket(self):
        # Blanks, quotes and dashes in the user id must not become more
        # arguments.
        user = 'a b "c" -x \'d\''
        answer = exchange(get("startZanfiro?request-id=2&callback=cb&userid=" + user))
        self.assertEqual(answer, jsonp_answer(start_body("cb", "2", "Success", "StartingZanfiro")))

        records = self.wait_for_records(1)
        self.assertEqual(len(records), 1)
        record = records[0]
        self.assertEqual(record.argv, [self.target.expected_exe_path(), "-w=" + user])
        self.assertEqual(record.cwd, self.target.expected_working_directory())
        if self.target.kind == "linux":
            sockets = {fd: what for fd, what in record.fds.items() if what.startswith("socket:")}
            self.assertEqual(sockets, {}, "the started program holds the launcher's sockets")
            if record.fds.get(0) is not None:
                self.assertEqual(record.fds[0], "/dev/null")
            # It outlives the launcher: a session of its own, nothing blocked.
            # (Windows has neither; a program the shell starts is on its own.)
            self.assertEqual(record.sid, record.pid)
            self.assertEqual(record.blocked_signals, 0)
        # On Windows a program cannot tell an inherited socket from other
        # handles (and Wine's shell passes none on); the Windows build's
        # sockets are checked to be non-inheritable by wine_platform_check.

        self.assertIn((0, "exePath: " + self.target.expected_exe_path() + "-w=" + user), self.entries())

    def test_second_start_within_two_seconds_is_held_off(self):
        started = time.monotonic()
        first = exchange(get("startZanfiro?request-id=1&callback=cb&userid=u1"))
        second = exchange(get("startZanfiro?request-id=2&callback=cb&userid=u2"))
        self.assertLess(time.monotonic() - started, 2.0, "too slow to test the hold-off")
        self.assertEqual(first, jsonp_answer(start_body("cb", "1", "Success", "StartingZanfiro")))
        self.assertEqual(second, jsonp_answer(start_body("cb", "2", "Success", "StartingZanfiro")))
        self.wait_for_log(0, "[launchZanfiro] starting already done, wait!")

        # Three clock seconds later a start goes through again.
        time.sleep(3.2)
        third = exchange(get("startZanfiro?request-id=3&callback=cb&userid=u3"))
        self.assertEqual(third, jsonp_answer(start_body("cb", "3", "Success", "StartingZanfiro")))
        records = self.wait_for_records(2)
        self.assertEqual([r.argv[1] for r in records], ["-w=u1", "-w=u3"])

    def test_missing_program_fails(self):
        self.target.remove_fake_program()
        answer = exchange(get("startZanfiro?request-id=4&callback=cb&userid=u1"))
        self.assertEqual(answer, jsonp_answer(start_body("cb", "4", "Error", "FailedStartingZanfiro")))
        self.assert_log_sequence([
            (0, "exePath: " + self.target.expected_exe_path() + "-w=u1"),
            (0, "[launchZanfiro] starting zanfiro error"),
        ])
        self.assertIsNone(self.launcher.poll())


if __name__ == "__main__":
    unittest.main()
