#!/usr/bin/env python3
"""Whole Windows programs under Wine, driven from the Linux side: a Ctrl+C
sent as SIGINT to the Wine process, services under Wine's service control
manager, and the admin daemon called by the method-calling tool.

usage: process_test.py EMULATOR... -- NAME=PATH... -- [unittest arguments]

EMULATOR is the command that runs a Windows program (env WINEPREFIX=...
wine64); NAME=PATH gives the programs: ctrlc_probe, servicent_probe,
openvpn_standin, scmctl, admindaemon and xmlrpccall."""
import getpass
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

EMULATOR = []
PROGRAMS = {}
PREFIX = None
# Every process Wine starts for the test reads as this many seconds or less.
WAIT = 30.0
# Under Wine every process runs as one user with a full elevated token.
ONE_USER = "Wine runs every process as one user with a full token: a second Windows user is needed"
# A service name the daemon manages ("velnor gateway" followed by anything).
PROBE_SERVICE = "Velnor Gateway Probe"
DAEMON_SERVICE = "Velnor Admin Daemon"
SERVICES_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\"


def wait_for(predicate, seconds=WAIT):
    deadline = time.monotonic() + seconds
    while True:
        if predicate():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)


def windows_path(path):
    """The Windows name of a Linux path: Wine's Z: drive is the root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def linux_path(path):
    """The Linux name of a Windows path on Z: or C:."""
    drive, rest = path[:2].upper(), path[2:].replace("\\", "/")
    if drive == "Z:":
        return rest
    if drive == "C:":
        return os.path.join(PREFIX, "drive_c") + rest
    raise ValueError(path)


def temp_dir():
    """The Linux side of the user's temporary directory in the prefix."""
    return os.path.join(PREFIX, "drive_c", "users", getpass.getuser(), "Temp")


def run(*args, env=None, timeout=60):
    """Runs a Windows program to its end: (exit status, output)."""
    done = subprocess.run(EMULATOR + [str(a) for a in args], env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
    return done.returncode, done.stdout.decode(errors="replace").replace("\r\n", "\n")


def start(*args, env=None, output=subprocess.PIPE):
    """Starts a Windows program; its Wine process is the Linux child itself."""
    return subprocess.Popen(EMULATOR + [str(a) for a in args], env=env, stdin=subprocess.DEVNULL,
                            stdout=output, stderr=subprocess.STDOUT)


def read_until(process, text, seconds=WAIT):
    """Reads the program's output until `text` shows; all that was read."""
    seen = b""
    deadline = time.monotonic() + seconds
    while text.encode() not in seen.replace(b"\r\n", b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([process.stdout], [], [], left)[0]:
            break
        chunk = os.read(process.stdout.fileno(), 4096)
        if not chunk:
            break
        seen += chunk
    return seen.decode(errors="replace").replace("\r\n", "\n")


def end(process):
    if process.poll() is None:
        process.kill()
    process.wait()
    if process.stdout:
        process.stdout.close()


def env_with(**values):
    env = dict(os.environ)
    env.update(values)
    return env


def registry_value(key, name):
    """A value as `reg query` shows it (type, data), or None."""
    status, out = run("reg", "query", key, "/v", name)
    if status != 0:
        return None
    for line in out.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[0] == name:
            return parts[1], parts[2] if len(parts) == 3 else ""
    return None


def scmctl(*args):
    return run(PROGRAMS["scmctl"], *args)


def service_state(name):
    status, out = scmctl("query", name)
    found = re.search(r": (\S+)", out)
    return found.group(1) if status == 0 and found else None


def stop_service(test, name):
    """The stop control through scmctl, which then waits for the stopped
    state. The framework reports the stop as pending and the stopped state
    only once the run function and its tear-down are over: Wine calls the
    handler on a thread of its own, and a stopped state reported earlier let
    its dispatcher return and the process end before the control's answer
    was sent (the control failed with 109)."""
    status, out = scmctl("stop", name)
    test.assertEqual((status, out), (0, name + ": stopped\n"))
    test.assertTrue(wait_for(lambda: service_state(name) == "stopped"), scmctl("query", name))


def remove_service(program, name):
    """Stops and uninstalls `name` if it is there (a failed run left it)."""
    if service_state(name) is None:
        return
    if service_state(name) != "stopped":
        scmctl("stop", name)
    run(program, "-d", env=env_with(PROBE_SERVICE_NAME=name))


def wine_processes(program):
    """Linux pids of the live Wine processes running `program` (Wine shows
    the Windows command line as the process's own)."""
    name = os.path.basename(program).lower()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read()
            with open("/proc/%s/stat" % entry) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        first = cmdline.split(b"\0", 1)[0].decode(errors="replace").strip('"')
        if state != "Z" and first.lower().endswith("\\" + name):
            found.append(int(entry))
    return found


def kill_all(program):
    for pid in wine_processes(program):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


class Scratch:
    """A directory of the test's own, with a blank in its name so that every
    path handed to Windows programs has to be quoted."""

    def __init__(self, test):
        self.root = tempfile.mkdtemp(prefix="trivane win32 ")
        test.addCleanup(shutil.rmtree, self.root, True)

    def path(self, *names):
        return os.path.join(self.root, *names)

    def copy(self, program, *names):
        target = self.path(*names)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(program, target)
        return target


class ConsoleControlTest(unittest.TestCase):
    def test_sigint_to_the_wine_process_is_ctrl_c_for_the_handler(self):
        probe = start(PROGRAMS["ctrlc_probe"])
        self.addCleanup(end, probe)
        out = read_until(probe, "handler ready\n")
        self.assertIn("handler ready\n", out)
        probe.send_signal(signal.SIGINT)
        out += read_until(probe, "console control 0\n")
        self.assertEqual(probe.wait(WAIT), 0, out)
        self.assertIn("console control 0\n", out)

    def test_the_service_framework_in_the_foreground_stops_on_ctrl_c(self):
        scratch = Scratch(self)
        trace = scratch.path("trace.txt")
        probe = start(PROGRAMS["servicent_probe"], "-c", "x y", env=env_with(PROBE_TRACE=windows_path(trace)))
        self.addCleanup(end, probe)

        def text():
            try:
                with open(trace, errors="replace") as f:
                    return f.read()
            except OSError:
                return ""

        self.assertTrue(wait_for(lambda: "run function started" in text()), read_until(probe, "\0", 1))
        self.assertIn("run function started [" + windows_path(PROGRAMS["servicent_probe"]) + "][-c][x y]\n",
                      text())
        probe.send_signal(signal.SIGINT)
        self.assertEqual(probe.wait(WAIT), 1)
        self.assertIn("run function stopping\n", text())


class ServiceTest(unittest.TestCase):
    """The service framework's probe against Wine's service control manager."""

    def setUp(self):
        self.scratch = Scratch(self)
        # The probe's own path holds a blank and "-ia": it must be recorded
        # quoted and must not choose the start type.
        self.probe = self.scratch.copy(PROGRAMS["servicent_probe"], "my dir-ia", "probe -ia.exe")
        self.env = env_with(PROBE_SERVICE_NAME=PROBE_SERVICE)
        remove_service(self.probe, PROBE_SERVICE)
        self.addCleanup(remove_service, self.probe, PROBE_SERVICE)
        self.addCleanup(kill_all, self.probe)

    def test_install_records_the_quoted_path_and_the_start_type(self):
        for option, start_type in (("-i", "0x2"), ("-im", "0x3"), ("-ia", "0x2")):
            with self.subTest(option=option):
                status, out = run(self.probe, option, env=self.env)
                self.assertEqual(status, 0)
                self.assertIn("\n\nservice installed successfully\n", out)
                key = SERVICES_KEY + PROBE_SERVICE
                self.assertEqual(registry_value(key, "ImagePath")[1], '"%s"' % windows_path(self.probe))
                self.assertEqual(registry_value(key, "Start"), ("REG_DWORD", start_type))
                status, out = run(self.probe, "-d", env=self.env)
                self.assertIn("\n\nservice UnInstalled Successfully\n", out)
                self.assertIsNone(registry_value(key, "ImagePath"))

    def test_a_second_install_and_a_missing_uninstall_fail_with_their_messages(self):
        run(self.probe, "-im", env=self.env)
        status, out = run(self.probe, "-i", env=self.env)
        self.assertEqual(status, 0)
        self.assertIn("The specified service already exists in this database\n", out)
        self.assertIn('cannot create service: %sin " "%s""\n' % (PROBE_SERVICE, windows_path(self.probe)), out)
        self.assertIn("\n\nerror installing service\n", out)
        # The first installation stands.
        self.assertEqual(registry_value(SERVICES_KEY + PROBE_SERVICE, "Start"), ("REG_DWORD", "0x3"))
        run(self.probe, "-d", env=self.env)
        status, out = run(self.probe, "-d", env=self.env)
        self.assertEqual(status, 0)
        self.assertIn("\n\nerror UnInstalling Service\n", out)

    def test_started_by_the_service_control_manager_it_runs_until_stopped(self):
        run(self.probe, "-im", env=self.env)
        status, out = scmctl("start", PROBE_SERVICE)
        self.assertEqual(status, 0, out)
        self.assertTrue(wait_for(lambda: service_state(PROBE_SERVICE) == "running"), scmctl("query", PROBE_SERVICE))
        self.assertRegex(scmctl("query", PROBE_SERVICE)[1], r"running \(pid \d+\)")
        self.assertEqual(len(wine_processes(self.probe)), 1)
        stop_service(self, PROBE_SERVICE)
        self.assertTrue(wait_for(lambda: not wine_processes(self.probe)), "the service process did not end")

    def test_outside_the_service_control_manager_it_says_it_cannot_start(self):
        status, out = run(self.probe, env=self.env)
        self.assertEqual(status, 0)
        self.assertIn("can not start service!\n", out)


class Daemon:
    """admindaemon.exe in the shared prefix: its files are in the user's
    temporary directory, its pipe is \\\\.\\pipe\\gate_admin_daemon."""

    def __init__(self, test):
        self.test = test
        self.program = PROGRAMS["admindaemon"]
        self.scratch = Scratch(test)
        os.mkdir(self.scratch.path("records"))
        self.process = None
        self.env = env_with(STANDIN_RECORDS=windows_path(self.scratch.path("records")))
        remove_service(self.program, DAEMON_SERVICE)
        kill_all(self.program)
        shutil.rmtree(os.path.join(temp_dir(), "Velnor"), ignore_errors=True)
        test.addCleanup(self.cleanup)

    def cleanup(self):
        if self.process:
            end(self.process)
            self.output.close()
        remove_service(self.program, DAEMON_SERVICE)
        kill_all(self.program)
        kill_all(PROGRAMS["openvpn_standin"])

    def start(self):
        self.output = open(self.scratch.path("stdout.txt"), "wb")
        self.process = start(self.program, "-c", env=self.env, output=self.output)
        self.test.assertTrue(wait_for(self.serving), "the daemon does not serve:\n" + self.stdout())

    def stdout(self):
        with open(self.scratch.path("stdout.txt"), errors="replace") as f:
            return f.read().replace("\r\n", "\n")

    def call(self, method, *params, timeout_ms=10000):
        return run(PROGRAMS["xmlrpccall"], "--timeout", timeout_ms, method, *params)

    def serving(self):
        return self.call("noSuchMethod", timeout_ms=2000) == (1, "fault 1: unknown method name\n")

    def log_dir(self):
        return os.path.join(temp_dir(), "Velnor", "AdminDaemon", "Logs")

    def trace(self):
        try:
            files = sorted(os.listdir(self.log_dir()))
            with open(os.path.join(self.log_dir(), files[-1]), errors="replace") as f:
                return f.read().replace("\r\n", "\n")
        except (OSError, IndexError):
            return ""

    def records(self):
        """The stand-ins' command lines, by their Windows pids."""
        found = {}
        for name in os.listdir(self.scratch.path("records")):
            if name.endswith(".cmdline"):
                with open(self.scratch.path("records", name), errors="replace") as f:
                    found[int(name.split(".")[0])] = f.read()
        return found


class DaemonTest(unittest.TestCase):
    def test_install_messages_and_the_quoted_module_path(self):
        d = Daemon(self)
        key = SERVICES_KEY + DAEMON_SERVICE
        for option, start_type in (("-i", "0x2"), ("-im", "0x3")):
            with self.subTest(option=option):
                status, out = run(d.program, option)
                self.assertEqual(status, 0)
                self.assertIn("\n\nservice installed successfully\n", out)
                self.assertEqual(registry_value(key, "ImagePath")[1], '"%s"' % windows_path(d.program))
                self.assertEqual(registry_value(key, "Start"), ("REG_DWORD", start_type))
                status, out = run(d.program, option)
                self.assertIn("The specified service already exists in this database\n", out)
                self.assertIn("\n\nerror installing service\n", out)
                status, out = run(d.program, "-d")
                self.assertIn("\n\nservice UnInstalled Successfully\n", out)
        status, out = run(d.program, "-d")
        self.assertIn("\n\nerror UnInstalling Service\n", out)

    def test_console_mode_serves_over_the_pipe_and_ends_on_ctrl_c_with_status_1(self):
        d = Daemon(self)
        d.start()
        self.assertEqual(d.call("stopVpn", "s:nobody", "i:0"), (0, "(no value)\n"))
        files = os.listdir(d.log_dir())
        self.assertEqual(len(files), 1)
        self.assertRegex(files[0], r"^admindaemon_trace_\d{8}_\d\dh\d\dm\d\d\.txt$")
        self.assertIn("TRACE Console.infoSystem Windows temporary directory: C:\\users\\%s\\Temp\\\n"
                      % getpass.getuser(), d.trace())
        d.process.send_signal(signal.SIGINT)
        self.assertEqual(d.process.wait(WAIT), 1)
        status, out = d.call("noSuchMethod", timeout_ms=1000)
        self.assertEqual(status, 1)
        self.assertRegex(out, r"^fault 2: ")

    def test_started_as_a_service_it_serves_and_stops_on_the_stop_control(self):
        d = Daemon(self)
        run(d.program, "-im")
        status, out = scmctl("start", DAEMON_SERVICE)
        self.assertEqual(status, 0, out)
        self.assertTrue(wait_for(d.serving), scmctl("query", DAEMON_SERVICE))
        self.assertEqual(service_state(DAEMON_SERVICE), "running")
        stop_service(self, DAEMON_SERVICE)
        self.assertTrue(wait_for(lambda: not wine_processes(d.program)), "the daemon did not end")

    def test_start_vpn_runs_the_registry_executable_with_its_quoted_path_first_and_stop_vpn_ends_it(self):
        d = Daemon(self)
        standin = d.scratch.copy(PROGRAMS["openvpn_standin"], "Velnor VPN", "openvpn.exe")
        status, out = run("reg", "add", "HKLM\\SOFTWARE\\VelnorVPN", "/v", "exe_path", "/t", "REG_SZ",
                          "/d", windows_path(standin), "/f")
        self.assertEqual(status, 0, out)
        self.addCleanup(run, "reg", "delete", "HKLM\\SOFTWARE\\VelnorVPN", "/f")
        self.addCleanup(kill_all, standin)
        d.start()
        self.assertEqual(d.call("startVpn", "s:10.1.2.3:1194", "s:s1", "s:udp", "s:", "s:"), (0, "(no value)\n"))
        self.assertTrue(wait_for(lambda: len(d.records()) == 1), d.trace())
        launched = re.search(r"TRACE RpcStartVpn\.execute (.*) --config \"(.*)\" launched for session: s1\n",
                             d.trace())
        self.assertIsNotNone(launched, d.trace())
        self.assertEqual(launched.group(1), windows_path(standin))
        conf = launched.group(2)
        (cmdline,) = d.records().values()
        self.assertEqual(cmdline, '"%s" --config "%s"\n' % (windows_path(standin), conf))
        directory = os.path.dirname(linux_path(conf))
        self.assertEqual(os.path.dirname(directory), os.path.join(temp_dir(), "Velnor", "AdminDaemon", "VPN"))
        with open(linux_path(conf), "rb") as f:
            self.assertIn(b"client\r\ndev tun\r\n", f.read())
        # Wine shows a file's access list as its Unix mode, the owner's entry
        # as the user's and the group's bits: an access list of the daemon's
        # account only leaves others nothing, where a file created with the
        # default one (the stand-in's record) is readable by others.
        (record,) = os.listdir(d.scratch.path("records"))
        self.assertNotEqual(os.stat(d.scratch.path("records", record)).st_mode & 0o004, 0)
        for name in ("", "velnor.ovpn", "ca.crt", "client.crt", "client.key"):
            with self.subTest(name=name):
                self.assertEqual(os.stat(os.path.join(directory, name)).st_mode & 0o007, 0)
        self.assertEqual(len(wine_processes(standin)), 1)

        self.assertEqual(d.call("stopVpn", "s:s1", "i:0"), (0, "(no value)\n"))
        self.assertTrue(wait_for(lambda: not wine_processes(standin)), "the stand-in still runs")

    def test_manage_service_starts_and_stops_a_managed_service(self):
        d = Daemon(self)
        probe = d.scratch.copy(PROGRAMS["servicent_probe"], "probe.exe")
        env = env_with(PROBE_SERVICE_NAME=PROBE_SERVICE)
        remove_service(probe, PROBE_SERVICE)
        self.addCleanup(remove_service, probe, PROBE_SERVICE)
        self.addCleanup(kill_all, probe)
        self.assertIn("service installed successfully", run(probe, "-im", env=env)[1])
        d.start()
        self.assertEqual(d.call("manageService", "s:" + PROBE_SERVICE, "s:start", timeout_ms=60000),
                         (0, "(no value)\n"))
        self.assertIn("TRACE RpcManageService.DoStartSvc Service started successfully\n", d.trace())
        self.assertEqual(service_state(PROBE_SERVICE), "running")
        self.assertEqual(d.call("manageService", "s:" + PROBE_SERVICE, "s:stop", timeout_ms=60000),
                         (0, "(no value)\n"))
        stopped = re.search(r"TRACE RpcManageService\.DoStopSvc (.*)\n", d.trace())
        self.assertEqual(stopped and stopped.group(1), "Service stopped successfully", d.trace())
        self.assertTrue(wait_for(lambda: service_state(PROBE_SERVICE) == "stopped"), scmctl("query", PROBE_SERVICE))
        self.assertEqual(d.call("manageService", "s:Trivane Probe", "s:start"), (1, "fault 3: bad parameter\n"))

    def test_callers_of_another_windows_user(self):
        self.skipTest(ONE_USER + " (the pipe's access list and the elevation check are tested on Linux)")


def main():
    global EMULATOR, PREFIX
    args = sys.argv[1:]
    first = args.index("--")
    EMULATOR = args[:first]
    rest = args[first + 1:]
    second = rest.index("--") if "--" in rest else len(rest)
    for item in rest[:second]:
        name, path = item.split("=", 1)
        PROGRAMS[name] = path
    for word in EMULATOR:
        if word.startswith("WINEPREFIX="):
            PREFIX = word.split("=", 1)[1]
    PREFIX = PREFIX or os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
    unittest.main(argv=[sys.argv[0]] + rest[second + 1:], verbosity=2)


if __name__ == "__main__":
    main()
