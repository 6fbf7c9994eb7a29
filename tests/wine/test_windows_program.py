"""What only the Windows build has: its file (a GUI program needing no DLL
beside the system's), its version resource, the quit message of its main
thread, CR LF log lines, and the command line the shell gives the desktop
program. Runs the .exe under Wine through the black-box harness."""

import os
import struct
import subprocess
import unittest

from harness import (EXIT_TIMEOUT, LauncherTestCase, exchange, get, jsonp_answer, log_entries, port_is_free,
                     wait_until)

TOOL = os.environ.get("ZWL_WINE_TOOL", "")

# DLLs every Windows installation has; anything else (the compiler's
# libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll) would have to
# ship beside the .exe.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll", "ws2_32.dll", "advapi32.dll",
               "ntdll.dll", "gdi32.dll", "ole32.dll", "shlwapi.dll"}


def pe_subsystem_and_imports(path):
    """The optional header's subsystem and the names of the imported DLLs."""
    with open(path, "rb") as f:
        data = f.read()
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, header + 6)
    optional = header + 24
    magic, = struct.unpack_from("<H", data, optional)
    subsystem, = struct.unpack_from("<H", data, optional + 68)
    directories = optional + (112 if magic == 0x20B else 96)
    import_rva, _ = struct.unpack_from("<II", data, directories + 8)

    table = optional + optional_size
    spans = []
    for i in range(sections):
        virtual_size, address, raw_size, raw_pointer = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        spans.append((address, max(virtual_size, raw_size), raw_pointer))

    def offset(rva):
        for address, size, raw_pointer in spans:
            if address <= rva < address + size:
                return raw_pointer + rva - address
        raise ValueError("address %#x outside every section" % rva)

    names = []
    entry = offset(import_rva)
    while True:
        fields = struct.unpack_from("<IIIII", data, entry)
        if not any(fields):
            break
        start = offset(fields[3])
        names.append(data[start:data.index(b"\0", start)].decode("ascii"))
        entry += 20
    return subsystem, names


def windows_path(unix_path):
    """The path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class ExecutableTest(unittest.TestCase):

    def test_gui_program_needing_only_system_dlls(self):
        subsystem, imports = pe_subsystem_and_imports(os.environ["ZWL_BINARY"])
        self.assertEqual(subsystem, 2, "not a program of the graphical subsystem (2)")
        self.assertIn("ws2_32.dll", [name.lower() for name in imports])
        self.assertEqual([name for name in imports if name.lower() not in SYSTEM_DLLS], [])

    def test_version_resource(self):
        prefix = os.environ["ZWL_WINEPREFIX"]
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="winemenubuilder.exe=d",
                   HOME=prefix + ".home")
        result = subprocess.run([os.environ.get("ZWL_WINE", "wine"), TOOL, "version",
                                 windows_path(os.environ["ZWL_BINARY"])],
                                env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        items = dict(line.split("=", 1) for line in result.stdout.decode().splitlines() if "=" in line)
        self.assertEqual(items.get("fixed.FileVersion"), "1.3.2.0")
        self.assertEqual(items.get("fixed.ProductVersion"), "1.3.2.0")
        languages = {key.split(".")[0] for key in items if not key.startswith("fixed.")}
        self.assertEqual(len(languages), 1, items)
        language = languages.pop()
        expected = {
            "FileDescription": "zanfiro web launcher",
            "InternalName": "zanfiroWebLauncher",
            "ProductName": "zanfiro",
            "FileVersion": "1.3.2.0",
            "ProductVersion": "1.3.2.0",
        }
        for name, value in expected.items():
            self.assertEqual(items.get(language + "." + name), value, name)


class WindowsLauncherTest(LauncherTestCase):

    def run_tool(self, *arguments):
        return self.target.wine_command(self.target.wine, TOOL, *arguments, timeout=60)

    def test_quit_message_ends_the_process_with_its_word_parameter(self):
        # Posted from another process, as only something outside the
        # launcher can; the main thread's message loop takes it.
        posted = wait_until(lambda: self.run_tool("quit", "7").returncode == 0, 10, interval=0.5)
        self.assertTrue(posted, "no quit message could be posted to the launcher")
        self.assertEqual(self.target.exit_code(self.launcher), 7)
        entries = self.entries()
        self.assertEqual(entries[-3:], [(0, "Server: STOP?!."), (None, ""), (None, "")])
        self.assertTrue(wait_until(port_is_free, EXIT_TIMEOUT))

    def test_log_lines_end_in_cr_lf(self):
        exchange(get("getAppStatus?request-id=1&callback=cb"))
        self.wait_for_log(0, "response: " + 'cb({"request-id":"1","secret-key":"","request-type": "getAppStatus",'
                          '"response":{"result":"Success","message":"NotRunning"}})')
        with open(self.target.log_path(), "rb") as f:
            raw = f.read()
        self.assertGreater(raw.count(b"\n"), 5)
        self.assertEqual(raw.count(b"\n"), raw.count(b"\r\n"), raw)
        self.assertEqual(raw.count(b"\r"), raw.count(b"\r\n"), raw)
        self.assertEqual(log_entries(raw.decode("latin-1").replace("\r\n", "\n"))[:2],
                         [(0, "-" * 53), (0, "zanfiroWebLauncher versione 1.3.2, 2012-06-01")])

    def test_desktop_program_command_line(self):
        # user id -> what the shell must hand over after the program's path.
        # An ordinary id goes unquoted; one with blanks, tabs or quotes is
        # quoted so that both the C runtime and CommandLineToArgvW give it
        # back as the one argument "-w=" + id.
        program = self.target.expected_exe_path()
        cases = [
            ("42", "-w=42"),
            ('a b"c\\', '"-w=a b\\"c\\\\"'),
            ('x\\" -kill\t"y', '"-w=x\\\\\\" -kill\t\\"y"'),
        ]
        for number, (user, parameter) in enumerate(cases):
            with self.subTest(user=user):
                if number:
                    # One start per three clock seconds.
                    wait_until(lambda: False, 3.2)
                answer = exchange(get("startZanfiro?request-id=%d&callback=cb&userid=%s" % (number, user)))
                self.assertIn(b'"message":"StartingZanfiro"', answer)
                records = wait_until(lambda: len(self.target.fake_records()) > number and self.target.fake_records(),
                                     10)
                self.assertTrue(records, "the fake program recorded nothing; log:\n" + self.target.read_log())
                record = records[-1]
                self.assertEqual(record.argv, [program, "-w=" + user])
                self.assertEqual(record.split_argv, [program, "-w=" + user])
                self.assertEqual(record.command_line, '"%s" %s' % (program, parameter))
                self.assertEqual(record.cwd, self.target.expected_working_directory())

    def test_full_width_kill_is_not_the_stop_argument(self):
        # Converted lossily to the ANSI code page, U+FF0D U+FF4B U+FF49
        # U+FF4C U+FF4C could read as "-kill".
        second = self.target.start("\uff0d\uff4b\uff49\uff4c\uff4c")
        self.assertEqual(self.target.exit_code(second), 0)
        self.wait_for_log(0, "Laucher already started")
        self.assertIsNone(self.launcher.poll())
        self.assertEqual(exchange(get("getAppStatus?request-id=5&callback=cb")).count(b"NotRunning"), 1)


if __name__ == "__main__":
    unittest.main()
