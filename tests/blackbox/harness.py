"""Black-box harness: runs the real launcher binary in a throw-away home and
talks to it over real sockets on 127.0.0.1:5560.

Everything that depends on which build is under test (how the launcher is
started, where its log lies, where the fake desktop program goes and how its
record is read) lives in the class Target. The tests use only Target and the
helpers below.

Selected by the environment (set by blackbox.cmake):
  ZWL_TARGET        "linux" (the POSIX build) or "wine" (the Windows build
                    under Wine, class WineTarget)
  ZWL_BINARY        path of the launcher executable
  ZWL_FAKE_PROGRAM  path of the fake desktop program
  ZWL_WINEPREFIX    for "wine": the prefix the CTest fixture prepared
  ZWL_WINE          for "wine": the wine command (default "wine")
  ZWL_SANITIZER_REPORTS  "1" when the binary is built with ASan + UBSan: its
                    reports go to files in the test's folder, and any report
                    fails the test
"""

import getpass
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

HOST = "127.0.0.1"
PORT = 5560

QUIT_WORD = b"_Wr8p_"
REJECTION = b"HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n"

# Every wait of the suite is bounded by one of these (seconds).
START_TIMEOUT = 15.0
EXCHANGE_TIMEOUT = 5.0
EXIT_TIMEOUT = 10.0

TIMESTAMP = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ")


def wait_until(predicate, timeout, interval=0.05):
    """Polls predicate until it gives a true value or timeout passes; returns
    the last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


class FakeRecord:
    """What one start of the fake desktop program recorded."""

    def __init__(self, text):
        self.pid = None
        self.sid = None
        self.argv = []
        self.cwd = None
        self.fds = {}  # descriptor number -> what it points at
        self.blocked_signals = None  # int mask, None when not recorded
        self.command_line = None  # Windows: the whole command line
        self.split_argv = []  # Windows: the command line as CommandLineToArgvW splits it
        self.complete = False
        for line in text.splitlines():
            parts = line.split(" ")
            key = parts[0]
            if key == "pid":
                self.pid = int(parts[1])
            elif key == "sid":
                self.sid = int(parts[1])
            elif key == "arg":
                self.argv.append(bytes.fromhex(parts[1] if len(parts) > 1 else "").decode("utf-8", "replace"))
            elif key == "cwd":
                self.cwd = bytes.fromhex(parts[1] if len(parts) > 1 else "").decode("utf-8", "replace")
            elif key == "fd":
                target = bytes.fromhex(parts[2] if len(parts) > 2 else "").decode("utf-8", "replace")
                self.fds[int(parts[1])] = target
            elif key == "sigblk":
                self.blocked_signals = int(parts[1], 16)
            elif key == "cmdline":
                self.command_line = bytes.fromhex(parts[1] if len(parts) > 1 else "").decode("utf-8", "replace")
            elif key == "warg":
                self.split_argv.append(bytes.fromhex(parts[1] if len(parts) > 1 else "").decode("utf-8", "replace"))
            elif key == "end":
                self.complete = True

    def __repr__(self):
        return "FakeRecord(argv=%r, cwd=%r, fds=%r)" % (self.argv, self.cwd, self.fds)


class Target:
    """The launcher build under test, in one fresh temporary folder that
    serves as HOME, XDG_DATA_HOME, XDG_CONFIG_HOME and ProgramFiles."""

    def __init__(self, root):
        self.kind = os.environ.get("ZWL_TARGET", "linux")
        if self.kind != "linux":
            raise unittest.SkipTest("unknown ZWL_TARGET %r" % self.kind)
        self.binary = os.environ["ZWL_BINARY"]
        self.fake_program = os.environ["ZWL_FAKE_PROGRAM"]
        self.root = root
        self.home = os.path.join(root, "home")
        self.data_home = os.path.join(root, "data")
        self.program_files = os.path.join(root, "ProgramFiles")
        self.config_home = os.path.join(root, "config")
        for folder in (self.home, self.data_home, self.program_files, self.config_home):
            os.makedirs(folder, exist_ok=True)
        self.processes = []

    # --- the launcher ---------------------------------------------------

    def environment(self):
        env = dict(os.environ)
        # The 32-bit program folder is asked first; it must not point anywhere
        # real.
        env.pop("ProgramFiles(x86)", None)
        env["HOME"] = self.home
        env["XDG_DATA_HOME"] = self.data_home
        env["XDG_CONFIG_HOME"] = self.config_home
        env["ProgramFiles"] = self.program_files
        if os.environ.get("ZWL_SANITIZER_REPORTS") == "1":
            # A report ends the launcher with a non-zero code and lands in a
            # file that sanitizer_reports() finds.
            folder = self.sanitizer_folder()
            env["ASAN_OPTIONS"] = "log_path=%s/asan:halt_on_error=1:detect_leaks=1" % folder
            env["UBSAN_OPTIONS"] = "log_path=%s/ubsan:halt_on_error=1:print_stacktrace=1" % folder
        return env

    def sanitizer_folder(self):
        folder = os.path.join(self.root, "sanitizer")
        os.makedirs(folder, exist_ok=True)
        return folder

    def sanitizer_reports(self):
        """The text of every sanitizer report written so far."""
        folder = os.path.join(self.root, "sanitizer")
        if not os.path.isdir(folder):
            return []
        reports = []
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                reports.append("%s:\n%s" % (name, f.read().decode("utf-8", "replace")))
        return reports

    def command(self, arguments):
        """The command line that runs the launcher with the arguments."""
        return [self.binary, *arguments]

    def start(self, *arguments):
        """Starts the launcher with the arguments; returns its Popen."""
        process = subprocess.Popen(
            self.command(arguments),
            env=self.environment(),
            cwd=self.root,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,
        )
        self.processes.append(process)
        return process

    def exit_code(self, process, timeout=EXIT_TIMEOUT):
        """Waits for the process to end; its exit code as the launcher
        returned it (-1 reads as -1, not 255), or None on time-out."""
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        return code - 256 if code > 127 else code

    def pause(self, process):
        """Freezes the launcher: the kernel still takes in connections and
        data, but the launcher reads nothing until resume()."""
        os.kill(process.pid, signal.SIGSTOP)

    def resume(self, process):
        os.kill(process.pid, signal.SIGCONT)

    def kill_started(self):
        """Kills the process group of every launcher still running."""
        for process in self.processes:
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass

    def reap_started(self):
        for process in self.processes:
            try:
                process.wait(timeout=EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                pass

    def stop_all(self):
        """Kills whatever this target started, the fake program included."""
        self.kill_started()
        self.reap_started()
        # The fake program runs in a session of its own and exits at once;
        # one that somehow did not is ended here.
        for record in self.fake_records():
            if record.pid and self._runs_fake_program(record.pid):
                try:
                    os.kill(record.pid, signal.SIGKILL)
                except (ProcessLookupError, PermissionError):
                    pass

    def _runs_fake_program(self, pid):
        # The pid may have been reused since the record was written.
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                return f.read().split(b"\0")[0] == self.program_path().encode()
        except OSError:
            return False

    # --- the log --------------------------------------------------------

    def log_folder(self):
        return os.path.join(self.data_home, "zanfiro", "log")

    def log_path(self):
        return os.path.join(self.log_folder(), "zanfiroWebLauncher.log")

    def read_log(self):
        """The current log file as text with "\\n" line ends; "" when absent."""
        try:
            with open(self.log_path(), "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return ""
        return data.decode("latin-1").replace("\r\n", "\n")

    # --- the list of allowed page origins -------------------------------

    def allowed_origins_path(self):
        """Where the launcher looks for allowed-origins.txt."""
        return os.path.join(self.config_home, "zanfiro", "allowed-origins.txt")

    def expected_allowed_origins_path(self):
        """The file as the launcher names it in its log."""
        return self.allowed_origins_path()

    def write_allowed_origins(self, data):
        """Writes the file (bytes, exactly as given) before the launcher starts."""
        os.makedirs(os.path.dirname(self.allowed_origins_path()), exist_ok=True)
        with open(self.allowed_origins_path(), "wb") as f:
            f.write(data)

    # --- the fake desktop program ---------------------------------------

    def program_folder(self):
        return os.path.join(self.program_files, "zanfiro")

    def program_path(self):
        return os.path.join(self.program_folder(), "zanfiro")

    def expected_working_directory(self):
        """The working directory the started program should see."""
        return self.program_folder()

    def expected_exe_path(self):
        """The file as the launcher names it in its "exePath: " line."""
        return self.program_path()

    def install_fake_program(self):
        os.makedirs(self.program_folder(), exist_ok=True)
        shutil.copy2(self.fake_program, self.program_path())
        os.chmod(self.program_path(), 0o755)

    def remove_fake_program(self):
        if os.path.exists(self.program_path()):
            os.remove(self.program_path())

    def fake_records(self):
        """Every complete record the fake program wrote, oldest first."""
        folder = self.program_folder()
        if not os.path.isdir(folder):
            return []
        records = []
        for name in os.listdir(folder):
            if name.startswith("record-") and name.endswith(".txt"):
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    record = FakeRecord(f.read().decode("ascii", "replace"))
                if record.complete:
                    records.append((os.path.getmtime(path), record))
        return [record for _, record in sorted(records, key=lambda pair: pair[0])]


class WineTarget(Target):
    """The Windows build under Wine. All tests of a run share the prefix that
    the CTest fixture made (wineboot takes long); each test starts with the
    prefix's log folder and program folder removed, and ends with every Wine
    process of the prefix killed."""

    WINDOWS_PROGRAM_FOLDER = "C:\\Program Files (x86)\\zanfiro"

    def __init__(self, root):
        self.kind = "wine"
        self.binary = os.environ["ZWL_BINARY"]
        self.fake_program = os.environ["ZWL_FAKE_PROGRAM"]
        self.wine = os.environ.get("ZWL_WINE", "wine")
        self.prefix = os.environ["ZWL_WINEPREFIX"]
        self.root = root
        self.processes = []
        drive_c = os.path.join(self.prefix, "drive_c")
        # The roaming application-data folder (26) and, for a 64-bit program,
        # the 32-bit program-files folder (42) as Wine maps them.
        self.app_data = os.path.join(drive_c, "users", getpass.getuser(), "AppData", "Roaming")
        self.program_files = os.path.join(drive_c, "Program Files (x86)")
        if not os.path.isdir(self.app_data) or not os.path.isdir(self.program_files):
            raise RuntimeError("the Wine prefix %s is not set up (run the wine_prefix_setup test first)"
                               % self.prefix)
        shutil.rmtree(os.path.join(self.app_data, "zanfiro"), ignore_errors=True)
        shutil.rmtree(self.program_folder(), ignore_errors=True)

    def environment(self):
        env = dict(os.environ)
        env["WINEPREFIX"] = self.prefix
        env["WINEDEBUG"] = "-all"
        # Nothing of the real user's: no menu entries, no links into their
        # home.
        env["WINEDLLOVERRIDES"] = "winemenubuilder.exe=d"
        env["HOME"] = self.prefix + ".home"
        # Wine reads the Unix command line in the locale's encoding.
        env["LC_ALL"] = "C.UTF-8"
        return env

    def wine_command(self, *arguments, timeout=EXIT_TIMEOUT):
        """Runs a Wine tool (wineserver, winepath) for the prefix."""
        return subprocess.run(list(arguments), env=self.environment(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)

    def command(self, arguments):
        return [self.wine, self.binary, *arguments]

    def exit_code(self, process, timeout=EXIT_TIMEOUT):
        code = super().exit_code(process, timeout)
        if code is not None:
            # Wine difference: the wineserver, which holds a Windows process's
            # sockets, closes them a moment after the Unix process has ended;
            # Windows closes them before the process counts as ended. Give it
            # that moment, so a test sees the port as Windows would.
            wait_until(port_is_free, 1.0)
        return code

    def stop_all(self):
        self.kill_started()
        # Ends what the launcher started too (the fake program), and the
        # prefix's wineserver, so no process stays behind.
        wineserver = os.path.join(os.path.dirname(shutil.which(self.wine) or self.wine), "wineserver")
        if not os.path.exists(wineserver):
            wineserver = "wineserver"
        try:
            self.wine_command(wineserver, "-k")
            self.wine_command(wineserver, "-w")
        except (OSError, subprocess.TimeoutExpired):
            pass
        self.reap_started()

    def log_folder(self):
        return os.path.join(self.app_data, "zanfiro", "log")

    def allowed_origins_path(self):
        # The launcher's own folder, the log folder's parent.
        return os.path.join(self.app_data, "zanfiro", "allowed-origins.txt")

    def expected_allowed_origins_path(self):
        # The roaming application-data folder as Wine names it to the program.
        return "C:\\users\\%s\\AppData\\Roaming\\zanfiro\\allowed-origins.txt" % getpass.getuser()

    def program_path(self):
        return os.path.join(self.program_folder(), "zanfiro.exe")

    def expected_working_directory(self):
        # What the started program's GetCurrentDirectoryW gives: Windows
        # keeps no trailing backslash after a folder name.
        return self.WINDOWS_PROGRAM_FOLDER

    def expected_exe_path(self):
        return self.WINDOWS_PROGRAM_FOLDER + "\\zanfiro.exe"


def make_target(root):
    """The Target for the build named by ZWL_TARGET."""
    if os.environ.get("ZWL_TARGET") == "wine":
        return WineTarget(root)
    return Target(root)


# --- the log's lines ------------------------------------------------------


def log_entries(text):
    """Splits log text into (level, message) per physical line: level 0 for a
    timestamped line, n for 2n leading blanks, None for an empty line."""
    entries = []
    for line in text.split("\n")[:-1] if text.endswith("\n") else text.split("\n"):
        if line == "":
            entries.append((None, ""))
        elif TIMESTAMP.match(line):
            entries.append((0, line[22:]))
        else:
            stripped = line.lstrip(" ")
            entries.append(((len(line) - len(stripped)) // 2, stripped))
    return entries


# --- talking to the launcher ----------------------------------------------


def connect(timeout=EXCHANGE_TIMEOUT):
    s = socket.create_connection((HOST, PORT), timeout=timeout)
    s.settimeout(timeout)
    return s


def read_to_end(s, timeout=EXCHANGE_TIMEOUT):
    """Everything the launcher sends until it closes the connection. A reset
    after the data also ends the read."""
    s.settimeout(timeout)
    chunks = []
    while True:
        try:
            chunk = s.recv(65536)
        except ConnectionResetError:
            break
        if not chunk:
            break
        chunks.append(chunk)
    return b"".join(chunks)


def exchange(data, timeout=EXCHANGE_TIMEOUT):
    """Sends data on a new connection and returns the whole answer."""
    with connect(timeout) as s:
        s.sendall(data)
        return read_to_end(s, timeout)


def get(url, extra_headers=b""):
    """A browser-like GET of /url."""
    return b"GET /" + url.encode("latin-1") + b" HTTP/1.1\r\nHost: 127.0.0.1:5560\r\n" + extra_headers + b"\r\n"


def jsonp_answer(body):
    """The 200 answer carrying body."""
    return b"HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: %d\r\n\r\n%s" % (len(body), body)


class PortHolder:
    """Another program on the launcher's port: binds 127.0.0.1:5560 and, with
    an answer, answers whatever it is sent with it and closes, like a local
    web server; without one (or after answer is set to None) it takes
    connections and never answers or closes them, until stopped."""

    def __init__(self, answer=None):
        self.answer = answer
        self.answered = 0
        self.held = []
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind((HOST, PORT))
        self.server.listen(8)
        self.server.settimeout(0.2)
        self.running = True
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while self.running:
            try:
                connection, _ = self.server.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            if self.answer is None:
                self.held.append(connection)
                continue
            try:
                connection.settimeout(2)
                connection.recv(4096)
                connection.sendall(self.answer)
                self.answered += 1
            except OSError:
                pass
            connection.close()

    def stop(self):
        self.running = False
        self.thread.join(5)
        for connection in self.held:
            connection.close()
        self.server.close()


def port_is_free():
    try:
        with socket.create_connection((HOST, PORT), timeout=1):
            return False
    except OSError:
        return True


class LauncherTestCase(unittest.TestCase):
    """Each test gets a fresh Target with the fake desktop program installed
    and a serving launcher; everything is killed and removed afterwards."""

    start_launcher = True

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zwl-blackbox-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.target = make_target(self.root)
        self.addCleanup(self.assert_no_sanitizer_report)
        self.addCleanup(self.target.stop_all)
        self.target.install_fake_program()
        self.launcher = None
        if self.start_launcher:
            self.launcher = self.start_serving()

    def assert_no_sanitizer_report(self):
        """Runs after every launcher of the test has ended."""
        reports = self.target.sanitizer_reports()
        if reports:
            self.fail("sanitizer report(s):\n" + "\n".join(reports))

    def start_serving(self, *arguments):
        """Starts a launcher and waits until it listens."""
        process = self.target.start(*arguments)
        listening = wait_until(
            lambda: "Server listening on port: 5560" in self.target.read_log() or process.poll() is not None,
            START_TIMEOUT,
        )
        if not listening or process.poll() is not None:
            self.fail("the launcher did not start listening; log:\n" + self.target.read_log())
        return process

    # --- log assertions --------------------------------------------------

    def entries(self):
        return log_entries(self.target.read_log())

    def wait_for_log(self, level, message, timeout=EXCHANGE_TIMEOUT, count=1):
        """Waits until the log holds the line at least count times."""
        found = wait_until(lambda: self.entries().count((level, message)) >= count, timeout)
        if not found:
            self.fail("log line %r at level %r not found %d time(s); log:\n%s"
                      % (message, level, count, self.target.read_log()))

    def assert_log_sequence(self, expected):
        """The (level, message) entries appear in this order, one right after
        the other."""
        entries = self.entries()
        n = len(expected)
        for i in range(len(entries) - n + 1):
            if entries[i:i + n] == list(expected):
                return
        self.fail("log sequence %r not found; log:\n%s" % (expected, self.target.read_log()))
