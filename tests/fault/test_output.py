"""A log that cannot be written, with standard output a pipe nobody reads,
a pipe whose reader is gone, or a pipe the test reads: every request is
answered, the process lives on, and the note on standard output is written
when logging starts to fail, not once per line. About 10 s."""

import os
import shutil
import subprocess
import unittest

from harness import START_TIMEOUT, wait_until
from fault_support import FaultTestCase, asked_right

# More than a stalled pipe (64 KiB) holds when every log line adds a note.
REQUESTS = 500
# A note when logging starts to fail and one when it works again; a few
# lines of slack, but nowhere near one per log line.
MAX_NOTE_LINES = 6


def read_available(fd):
    """What the pipe holds now, without waiting."""
    os.set_blocking(fd, False)
    data = bytearray()
    try:
        while True:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            data += chunk
    except BlockingIOError:
        pass
    return bytes(data)


class UnwritableLogTest(FaultTestCase):

    start_launcher = False

    def block_log_folder(self):
        """A plain file where the log's parent folder should be: the folder
        cannot be made, not even by root."""
        blocker = os.path.join(self.target.data_home, "zanfiro")
        with open(blocker, "w") as f:
            f.write("not a folder")
        return blocker

    def full_device_log(self):
        """The log file is /dev/full: it opens, and every write fails with
        ENOSPC, as on a full disk."""
        os.makedirs(self.target.log_folder())
        os.symlink("/dev/full", self.target.log_path())
        return self.target.log_path()

    def start_with_stdout(self, stdout_fd):
        process = subprocess.Popen(
            self.target.command([]), env=self.target.environment(), cwd=self.root,
            stdin=subprocess.DEVNULL, stdout=stdout_fd, stderr=subprocess.DEVNULL, start_new_session=True)
        self.target.processes.append(process)
        return process

    def serve_requests(self, process):
        self.assertTrue(wait_until(lambda: asked_right(1, timeout=1) or process.poll() is not None, START_TIMEOUT),
                        "not serving")
        self.assertIsNone(process.poll(), "the launcher ended with %r" % process.returncode)
        for i in range(REQUESTS):
            if not asked_right(1000 + i):
                self.fail("request %d of %d unanswered; launcher %s"
                          % (i + 1, REQUESTS, "alive" if process.poll() is None else
                             "ended with %r" % process.returncode))
        self.assertIsNone(process.poll())

    def test_requests_are_answered_whatever_standard_output_does(self):
        for case in ["stalled pipe", "closed pipe", "full device, pipe read"]:
            with self.subTest(case=case):
                read_end, write_end = os.pipe()
                blocker = self.full_device_log() if case.startswith("full") else self.block_log_folder()
                try:
                    if case == "closed pipe":
                        os.close(read_end)
                        read_end = None
                    process = self.start_with_stdout(write_end)
                    os.close(write_end)
                    write_end = None
                    self.serve_requests(process)

                    if read_end is not None:
                        notes = read_available(read_end).decode("latin-1")
                        print("%s: %d bytes of notes after %d requests" % (case, len(notes), REQUESTS))
                        self.assertNotEqual(notes, "", "the failing log was never noted")
                        self.assertLessEqual(notes.count("\n"), MAX_NOTE_LINES, notes[:600])

                    # The log comes back: the next lines land in it.
                    os.remove(blocker)
                    self.assertTrue(asked_right(2))
                    self.assertTrue(wait_until(lambda: "Conn. 127.0.0.1:" in self.target.read_log(), 5),
                                    "nothing logged once the log could be written again")
                    self.assertTrue(asked_right(3))
                    self.assertIsNone(process.poll())
                finally:
                    for fd in (read_end, write_end):
                        if fd is not None:
                            os.close(fd)
                    self.target.kill_started()
                    self.target.reap_started()
                    data = os.path.join(self.target.data_home, "zanfiro")
                    if os.path.isdir(data):
                        shutil.rmtree(data)
                    elif os.path.lexists(data):
                        os.remove(data)


if __name__ == "__main__":
    unittest.main()
