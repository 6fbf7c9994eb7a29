"""The idle sweep: a client that connects and sends nothing is closed by the
first pass that comes more than 20 seconds after the last sweep, once it has
been connected for more than 3 seconds. This module takes about 25 seconds."""

import time
import unittest

from harness import LauncherTestCase, connect, get, jsonp_answer, read_to_end, wait_until

BODY = (b'cb({"request-id":"9","secret-key":"","request-type": "getAppStatus",'
        b'"response":{"result":"Success","message":"NotRunning"}})')


class SweepTest(LauncherTestCase):

    def test_silent_client_is_closed_by_the_sweep_and_a_young_one_is_kept(self):
        listening_seen = time.monotonic()
        idle = connect()
        idle_port = idle.getsockname()[1]
        self.wait_for_log(0, "Conn. 127.0.0.1:%d" % idle_port)

        # Passes before the 20 seconds are over sweep nothing.
        time.sleep(5)
        with connect() as early:
            early.sendall(get("getAppStatus?request-id=9&callback=cb"))
            self.assertEqual(read_to_end(early), jsonp_answer(BODY))
        self.assertNotIn("Disconnect Forced", self.target.read_log())

        # The loop's sweep mark was set before the listening line was seen, so
        # 22 seconds after that line more than 20 whole seconds have passed.
        time.sleep(max(0.0, listening_seen + 22 - time.monotonic()))
        young = connect()  # its accept is the pass that sweeps
        young_port = young.getsockname()[1]
        with idle, young:
            self.wait_for_log(2, "Disconnect Forced 127.0.0.1:%d" % idle_port)
            self.assertEqual(read_to_end(idle), b"")

            # The young client was connected for less than 3 seconds: kept.
            young.sendall(get("getAppStatus?request-id=9&callback=cb"))
            self.assertEqual(read_to_end(young), jsonp_answer(BODY))
        self.assertNotIn("Disconnect Forced 127.0.0.1:%d" % young_port, self.target.read_log())


if __name__ == "__main__":
    unittest.main()
