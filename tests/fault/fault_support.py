"""What the fault tests share: the status request and its exact answer, the
launcher's descriptors and memory read from /proc, and clients that run in
threads. Runs only against the Linux build (ZWL_TARGET=linux): it reads the
launcher's /proc entries.

Every count and every wait here is bounded; everything talks only to
127.0.0.1."""

import os
import socket
import struct
import threading
import time
import unittest

from harness import (HOST, PORT, EXCHANGE_TIMEOUT, LauncherTestCase, connect, get, jsonp_answer, read_to_end,
                     wait_until)


def status_request(request_id):
    return get("getAppStatus?request-id=%d&callback=cb" % request_id)


def status_answer(request_id):
    return jsonp_answer(b'cb({"request-id":"%d","secret-key":"","request-type": "getAppStatus",'
                        b'"response":{"result":"Success","message":"NotRunning"}})' % request_id)


def ask(request_id, timeout=EXCHANGE_TIMEOUT):
    """One status request on a new connection: the answer, or None when the
    connection failed or no answer came within the timeout."""
    try:
        with connect(timeout) as s:
            s.sendall(status_request(request_id))
            return read_to_end(s, timeout)
    except OSError:
        return None


def asked_right(request_id, timeout=EXCHANGE_TIMEOUT):
    return ask(request_id, timeout) == status_answer(request_id)


def reset_close(s):
    """Closes with SO_LINGER 0: the peer gets a reset, not a FIN."""
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    s.close()


# --- the launcher process as /proc shows it -----------------------------------


def descriptor_count(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def descriptors(pid):
    """Descriptor number -> what it points at."""
    result = {}
    folder = "/proc/%d/fd" % pid
    for name in os.listdir(folder):
        try:
            result[int(name)] = os.readlink(os.path.join(folder, name))
        except OSError:
            pass
    return result


def status_field(pid, field):
    """A field of /proc/<pid>/status as text, None when absent."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return line.split(":", 1)[1].strip()
    return None


def resident_kib(pid):
    """VmRSS in KiB."""
    return int(status_field(pid, "VmRSS").split()[0])


def cpu_ticks(pid):
    """User plus system time of the process, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def children(pid):
    """(pid, state) of every child process of pid."""
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == pid:
            found.append((int(name), fields[0]))
    return found


# --- clients in threads -------------------------------------------------------


def run_in_threads(count, work):
    """Runs work(i) for i in range(count), each in a thread of its own, and
    waits for all; the exceptions they raised, as a list."""
    errors = []
    lock = threading.Lock()

    def body(i):
        try:
            work(i)
        except Exception as error:  # collected and reported by the test
            with lock:
                errors.append(error)

    threads = [threading.Thread(target=body, args=(i,), daemon=True) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return errors


class FaultTestCase(LauncherTestCase):
    """A LauncherTestCase for the Linux build only."""

    def setUp(self):
        if os.environ.get("ZWL_TARGET", "linux") != "linux":
            raise unittest.SkipTest("the fault tests read the launcher's /proc entries: Linux build only")
        super().setUp()

    def assert_serving(self, request_id=1):
        self.assertIsNone(self.launcher.poll(), "the launcher has ended")
        self.assertEqual(ask(request_id), status_answer(request_id))

    def wait_for_descriptors(self, count, timeout=5.0):
        """Waits until the launcher holds count descriptors (it closes a
        connection a moment after answering); fails with its list if not."""
        pid = self.launcher.pid
        if not wait_until(lambda: descriptor_count(pid) == count, timeout):
            self.fail("the launcher holds %d descriptors, %d at the start: %r"
                      % (descriptor_count(pid), count, descriptors(pid)))
