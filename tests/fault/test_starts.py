"""Ten starts of the desktop program: every started program is reaped (no
zombie), none inherits a descriptor of the launcher, and the starts keep to
one per three clock seconds.

The ten starts are real ones, so the test takes about 25 s: a zombie or a
leaked descriptor appears only when programs really start and end, and the
launcher allows one start per three clock seconds. Pages keep asking every
quarter second in between; those asks are held off and start nothing."""

import re
import socket
import time
import unittest

from harness import HOST, PORT, exchange, get
from fault_support import FaultTestCase, children

STARTS = 10
ASK_INTERVAL = 0.25
STARTS_TIMEOUT = 45
STAMPED_EXE_PATH = re.compile(r"^\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\] exePath: ", re.M)


class RepeatedStartTest(FaultTestCase):

    def test_ten_starts_leave_no_zombie_and_no_inherited_descriptor(self):
        # Connections the launcher holds while it starts the program.
        for _ in range(2):
            s = socket.create_connection((HOST, PORT), timeout=5)
            self.addCleanup(s.close)

        deadline = time.monotonic() + STARTS_TIMEOUT
        asks = 0
        while len(self.target.fake_records()) < STARTS and time.monotonic() < deadline:
            answer = exchange(get("startZanfiro?request-id=%d&callback=cb&userid=u%d" % (asks, asks)))
            self.assertIn(b'"result":"Success","message":"StartingZanfiro"', answer)
            asks += 1
            time.sleep(ASK_INTERVAL)
        records = self.target.fake_records()
        self.assertEqual(len(records), STARTS, "in %d s; log:\n%s" % (STARTS_TIMEOUT, self.target.read_log()))

        for record in records:
            with self.subTest(pid=record.pid):
                # Only the standard streams, which the launcher has from its
                # own start: /dev/null here.
                self.assertLessEqual(set(record.fds), {0, 1, 2}, record.fds)
                self.assertEqual(set(record.fds.values()) - {"/dev/null"}, set(), record.fds)

        # One start per three clock seconds, as the log's stamps show.
        stamps = [time.mktime(tuple(int(x) for x in match.groups()) + (0, 0, -1))
                  for match in STAMPED_EXE_PATH.finditer(self.target.read_log())]
        self.assertEqual(len(stamps), STARTS)
        gaps = [later - earlier for earlier, later in zip(stamps, stamps[1:])]
        self.assertTrue(all(gap >= 3 for gap in gaps), gaps)
        self.assertGreater(self.target.read_log().count("[launchZanfiro] starting already done, wait!"), 0)

        # Every program has ended and been reaped.
        time.sleep(1.0)
        self.assertEqual(children(self.launcher.pid), [])
        self.assertIsNone(self.launcher.poll())


if __name__ == "__main__":
    unittest.main()
