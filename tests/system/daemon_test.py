#!/usr/bin/env python3
"""The admin daemon as a whole process: started with directories of its own,
called with Python's standard xmlrpc.client over the Unix socket that stands
for its named pipe, as root and as another uid.

usage: daemon_test.py ADMINDAEMON XMLRPCCALL SCMCTL [unittest arguments]"""
import os
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import xmlrpc.client as xc

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from pipe_transport import UnixTransport  # noqa: E402

DAEMON = XMLRPCCALL = SCMCTL = None
NOBODY = 65534
# The empty value methods answer success with: a param without a value,
# which xmlrpc.client reads as an empty tuple.
EMPTY = ()
HOST = os.uname().nodename.split(".")[0]
HERE = os.path.dirname(os.path.abspath(__file__))
TUNNEL_DATA = os.path.join(HERE, "..", "tunnel", "data")

# A stand-in for OpenVPN: records its arguments, then waits to be killed.
# Shell built-ins only, so that killing it leaves no other process behind.
STANDIN = """#!/bin/sh
{ for a in "$@"; do printf '%s\\n' "$a"; done; echo .; } > "$STANDIN_RECORDS/$$.args"
exec sleep 300
"""


def registry_text(exe_line):
    return ("Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN]\r\n" + exe_line + "\r\n")


def wait_for(predicate, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


def alive(pid):
    """True while `pid` runs (a zombie does not count)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def call_at(socket_path, method, *params):
    """The result, or the xmlrpc.client.Fault."""
    proxy = xc.ServerProxy("http://localhost/rpc", transport=UnixTransport(socket_path))
    try:
        return getattr(proxy, method)(*params)
    except xc.Fault as fault:
        return fault


def as_user(uid, body):
    """Runs `body` in a child process as `uid`; returns what it returned."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.close(read_end)
            os.setgroups([])
            os.setresgid(uid, uid, uid)
            os.setresuid(uid, uid, uid)
            os.write(write_end, repr(body()).encode())
        finally:
            os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as r:
        text = r.read()
    os.waitpid(pid, 0)
    return text


def fault_code(result):
    return result.faultCode if isinstance(result, xc.Fault) else None


class Daemon:
    """One daemon with its own pipe, service, temporary and record directories."""

    def __init__(self, test):
        self.test = test
        self.root = tempfile.mkdtemp(prefix="trivane-daemon-")
        os.chmod(self.root, 0o755)
        for name in ("pipe", "scm", "tmp", "records"):
            os.mkdir(self.path(name), 0o755)
            os.chmod(self.path(name), 0o755)
        os.chmod(self.path("records"), 0o777)
        self.standin = self.path("openvpn-standin")
        with open(self.standin, "w") as f:
            f.write(STANDIN)
        os.chmod(self.standin, 0o755)
        self.registry = self.path("registry.reg")
        self.write_registry('"exe_path"="%s"' % self.standin)
        self.process = None
        self.output_path = self.path("stdout.txt")
        test.addCleanup(self.cleanup)

    def path(self, *names):
        return os.path.join(self.root, *names)

    def write_registry(self, exe_line):
        with open(self.registry, "w", newline="") as f:
            f.write(registry_text(exe_line))
        os.chmod(self.registry, 0o644)

    @property
    def env(self):
        env = dict(os.environ)
        env.update(TRIVANE_PIPE_DIR=self.path("pipe"), TRIVANE_SCM_DIR=self.path("scm"),
                   TMPDIR=self.path("tmp"), TRIVANE_REGISTRY=self.registry,
                   STANDIN_RECORDS=self.path("records"))
        return env

    @property
    def socket(self):
        return self.path("pipe", "gate_admin_daemon")

    def run(self, *args, timeout=15):
        """Runs the daemon to its end; (status, standard output and error)."""
        done = subprocess.run([DAEMON] + list(args), env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=timeout)
        return done.returncode, done.stdout.decode(errors="replace")

    def start(self, *args):
        self.output = open(self.output_path, "wb")
        self.process = subprocess.Popen([DAEMON] + (list(args) or ["-c"]), env=self.env, stdout=self.output,
                                        stderr=subprocess.STDOUT)
        self.test.assertTrue(wait_for(self.listening), "the pipe did not appear:\n" + self.stdout())

    def listening(self):
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(self.socket)
            s.close()
            return True
        except OSError:
            return False

    def stop(self, seconds=5.0):
        """SIGINT, then the exit status; None when it did not end within `seconds`."""
        self.process.send_signal(signal.SIGINT)
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            return None

    def stdout(self):
        try:
            with open(self.output_path, errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def call(self, method, *params):
        return call_at(self.socket, method, *params)

    def call_as(self, uid, method, *params):
        socket_path = self.socket
        return as_user(uid, lambda: fault_code(call_at(socket_path, method, *params)))

    def log_dir(self):
        return self.path("tmp", "Velnor", "AdminDaemon", "Logs")

    def trace_files(self):
        try:
            return sorted(os.listdir(self.log_dir()))
        except OSError:
            return []

    def trace(self):
        files = self.trace_files()
        if not files:
            return ""
        with open(os.path.join(self.log_dir(), files[-1]), errors="replace") as f:
            return f.read()

    def wait_trace(self, text, seconds=10.0):
        return wait_for(lambda: text in self.trace(), seconds)

    def vpn_dir(self, account="root"):
        return self.path("tmp", "Velnor", "AdminDaemon", "VPN", "%s_%s" % (account, HOST))

    def records(self):
        """Stand-in pids to their recorded arguments."""
        found = {}
        for name in os.listdir(self.path("records")):
            if name.endswith(".args"):
                with open(self.path("records", name)) as f:
                    text = f.read()
                lines = text.splitlines()
                if text.endswith("\n") and lines[-1] == ".":  # written whole
                    found[int(name[:-5])] = lines[:-1]
        return found

    def wait_records(self, count):
        self.test.assertTrue(wait_for(lambda: len(self.records()) >= count),
                             "no stand-in started:\n" + self.trace())
        return self.records()

    def started_processes(self):
        """The live processes this daemon started (stand-ins, OpenVPN,
        services): they carry its temporary directory in their environment."""
        mark = ("TMPDIR=" + self.path("tmp")).encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == (self.process.pid if self.process else 0):
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if mark in f.read().split(b"\0") and alive(int(entry)):
                        found.append(int(entry))
            except OSError:
                pass
        return found

    def kill_started(self):
        """Kills what started_processes() finds; True once it finds none. A
        process that is between programs may not show its environment, so
        callers repeat this."""
        pids = self.started_processes()
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        return not pids

    def describe(self, pids):
        text = ""
        for pid in pids:
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    text += "%d: %s\n" % (pid, f.read().replace(b"\0", b" ").decode(errors="replace"))
            except OSError:
                text += "%d: gone\n" % pid
        return text

    def cleanup(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        wait_for(self.kill_started, 2)
        shutil.rmtree(self.root, ignore_errors=True)

    def start_vpn(self, session, remote="10.1.2.3:1194", options="udp", bypass1="", bypass2=""):
        return self.call("startVpn", remote, session, options, bypass1, bypass2)

    def started(self, result, known):
        """The pid of the one stand-in started since `known` (a set of pids)."""
        self.test.assertEqual(result, EMPTY, self.trace())
        self.test.assertTrue(wait_for(lambda: len(set(self.records()) - known) == 1), self.trace())
        (pid,) = set(self.records()) - known
        return pid


def expected_conf(directory):
    d = directory + "/"
    lines = ["client", "dev tun", "proto udp", "remote 10.1.2.3 1194", "keepalive 10 120",
             "resolv-retry infinite", "nobind", "persist-key", "persist-tun",
             'ca "%sca.crt"' % d, 'cert "%sclient.crt"' % d, 'key "%sclient.key"' % d,
             "auth none", "cipher none", "verb 3", 'log "%sopenvpn.log"' % d,
             "route 10.1.2.3 255.255.255.255 net_gateway", "route 10.1.2.9 255.255.255.255 net_gateway",
             "redirect-gateway local def1", "dhcp-option DNS 10.0.0.1",
             "management 127.0.0.1 1195", "management-hold", "management-query-passwords", "auth-user-pass"]
    return "".join(line + "\r\n" for line in lines).encode()


class ConsoleModeTest(unittest.TestCase):
    def test_serves_writes_its_trace_and_stops_on_sigint(self):
        d = Daemon(self)
        d.start()
        self.assertEqual(stat.S_IMODE(os.stat(d.socket).st_mode), 0o666)
        fault = d.call("noSuchMethod")
        self.assertEqual((fault.faultCode, fault.faultString), (1, "unknown method name"))
        self.assertEqual(len(d.trace_files()), 1)
        name = d.trace_files()[0]
        self.assertRegex(name, r"^admindaemon_trace_\d{8}_\d\dh\d\dm\d\d\.txt$")
        self.assertEqual(stat.S_IMODE(os.stat(os.path.join(d.log_dir(), name)).st_mode), 0o600)
        trace = d.trace()
        for text in ("TRACE Console.infoSystem Windows temporary directory: " + d.path("tmp") + "/\n",
                     "TRACE Console.infoSystem Linux\n", "TRACE Console.infoSystem Username: root\n",
                     "TRACE Console.infoSystem " + "-" * 35 + "\n"):
            self.assertIn(text, trace)
        began = time.monotonic()
        self.assertEqual(d.stop(), 1)
        self.assertLess(time.monotonic() - began, 4.5)

    def test_each_console_control_signal_stops_it(self):
        daemons = {sig: Daemon(self) for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT)}
        for d in daemons.values():
            d.start()
        for sig, d in daemons.items():
            d.process.send_signal(sig)
        for sig, d in daemons.items():
            with self.subTest(signal=sig.name):
                self.assertEqual(d.process.wait(10), 1)

    def test_two_starts_in_one_second_share_one_trace_file_and_a_present_directory_is_silent(self):
        for attempt in range(5):
            a, b = Daemon(self), Daemon(self)
            os.rmdir(b.path("tmp"))
            os.symlink(a.path("tmp"), b.path("tmp"))
            began = time.time()
            a.start()
            b.start()
            if int(time.time()) != int(began):
                continue
            self.assertEqual(len(a.trace_files()), 1)
            self.assertNotIn("refused", b.stdout())
            self.assertEqual(a.stop(), 1)
            self.assertEqual(b.stop(), 1)
            return
        self.fail("no two starts fell in one second")

    def test_a_later_start_writes_a_new_file_beside_the_old_one(self):
        d = Daemon(self)
        os.makedirs(d.log_dir(), 0o700)
        old = os.path.join(d.log_dir(), "admindaemon_trace_20000101_00h00m00.txt")
        with open(old, "w") as f:
            f.write("old\n")
        d.start()
        self.assertEqual(len(d.trace_files()), 2)
        self.assertNotIn("refused", d.stdout())
        with open(old) as f:
            self.assertEqual(f.read(), "old\n")
        self.assertEqual(d.stop(), 1)

    def test_an_untrusted_log_directory_is_refused_and_the_daemon_runs_on(self):
        def owned_by_nobody(d):
            os.makedirs(d.log_dir(), 0o700)
            os.chown(d.log_dir(), NOBODY, NOBODY)

        def group_writable(d):
            os.makedirs(d.log_dir(), 0o700)
            os.chmod(d.log_dir(), 0o770)

        def a_link(d):
            os.makedirs(d.path("tmp", "Velnor", "AdminDaemon"), 0o700)
            os.mkdir(d.path("elsewhere"), 0o700)
            os.symlink(d.path("elsewhere"), d.log_dir())

        def parent_of_nobody(d):
            os.makedirs(d.path("tmp", "Velnor"), 0o700)
            os.chown(d.path("tmp", "Velnor"), NOBODY, NOBODY)

        for plant in (owned_by_nobody, group_writable, a_link, parent_of_nobody):
            with self.subTest(plant.__name__):
                d = Daemon(self)
                plant(d)
                d.start()
                self.assertEqual(fault_code(d.call("noSuchMethod")), 1)
                self.assertIn("log directory refused, no trace file is written: " + d.path("tmp") + "/", d.stdout())
                self.assertEqual(os.listdir(d.path("elsewhere")) if plant is a_link else [], [])
                if plant is not a_link and plant is not parent_of_nobody:
                    self.assertEqual(d.trace_files(), [])
                self.assertEqual(d.stop(), 1)


    def test_a_work_call_that_keeps_failing_does_not_spin(self):
        import resource
        with open(DAEMON, "rb") as f:
            if b"__ubsan_handle" in f.read():
                self.skipTest("the sanitizers' own checks need descriptors, which this test takes away")
        d = Daemon(self)
        d.start()
        # Descriptors exhausted: every accept fails for as long as clients wait.
        used = len(os.listdir("/proc/%d/fd" % d.process.pid))
        resource.prlimit(d.process.pid, resource.RLIMIT_NOFILE, (used, used))
        clients = [socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) for _ in range(3)]
        for c in clients:
            c.connect(d.socket)
        self.assertTrue(d.wait_trace(" -> service:"), d.trace())
        time.sleep(4)
        failures = d.trace().count("TRACE Exception.catch ")
        self.assertLessEqual(failures, 4, d.trace())
        began = time.monotonic()
        self.assertEqual(d.stop(), 1)
        self.assertLess(time.monotonic() - began, 4.5)
        for c in clients:
            c.close()


class CommandLineTest(unittest.TestCase):
    def test_no_argument_or_one_outside_the_table_is_service_mode_outside_a_service(self):
        for args in ([], ["-x"], ["c"], ["-C"]):
            with self.subTest(args=args):
                status, out = Daemon(self).run(*args)
                self.assertEqual(status, 0)
                self.assertIn("can not start service: the process could not connect to the service controller!\n", out)
                self.assertIn("can not start service!\n", out)

    def test_every_console_option_runs_in_the_foreground(self):
        daemons = {option: Daemon(self) for option in ("-t", "-g", "-f", "-v", "-c", "-in")}
        for option, d in daemons.items():
            d.start(option)
        for option, d in daemons.items():
            with self.subTest(option=option):
                self.assertEqual(fault_code(d.call("noSuchMethod")), 1)
                d.process.send_signal(signal.SIGINT)
        for option, d in daemons.items():
            with self.subTest(option=option):
                self.assertEqual(d.process.wait(10), 1)

    def service_file(self, d):
        return d.path("scm", "velnor admin daemon.service")

    def test_install_start_types_and_uninstall(self):
        for args, start_type in ((["-i"], 2), (["-ia"], 2), (["-im"], 3), (["-i", "-im"], 3)):
            with self.subTest(args=args):
                d = Daemon(self)
                status, out = d.run(*args)
                self.assertEqual(status, 0)
                self.assertIn("\n\nservice installed successfully\n", out)
                with open(self.service_file(d)) as f:
                    text = f.read()
                self.assertIn("name=Velnor Admin Daemon\n", text)
                self.assertIn('binary="%s"\n' % os.path.realpath(DAEMON), text)
                self.assertIn("start=%d\n" % start_type, text)
                status, out = d.run("-d")
                self.assertIn("\n\nservice UnInstalled Successfully\n", out)
                self.assertFalse(os.path.exists(self.service_file(d)))

    def test_a_second_install_and_a_missing_uninstall_fail(self):
        d = Daemon(self)
        d.run("-i")
        status, out = d.run("-i")
        self.assertEqual(status, 0)
        self.assertIn("The specified service already exists in this database", out)
        self.assertIn("cannot create service: ", out)
        self.assertIn("\n\nerror installing service\n", out)
        d.run("-d")
        status, out = d.run("-d")
        self.assertEqual(status, 0)
        self.assertIn("\n\nerror UnInstalling Service\n", out)
        self.assertNotIn("installed", out.replace("\n\nerror UnInstalling Service\n", ""))


class ServiceModeTest(unittest.TestCase):
    def scmctl(self, d, *args):
        done = subprocess.run([SCMCTL] + list(args), env=d.env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=40)
        return done.returncode, done.stdout.decode()

    def test_started_through_the_database_it_serves_and_stops_on_the_stop_control(self):
        d = Daemon(self)
        d.run("-im")
        status, out = self.scmctl(d, "start", "Velnor Admin Daemon")
        self.assertEqual(status, 0, out)
        self.assertTrue(wait_for(d.listening), self.scmctl(d, "query", "Velnor Admin Daemon")[1])
        status, out = self.scmctl(d, "query", "Velnor Admin Daemon")
        self.assertIn("Velnor Admin Daemon: running (pid ", out)
        pid = int(out.split("(pid ")[1].split(")")[0])
        self.assertEqual(fault_code(d.call("noSuchMethod")), 1)
        self.assertTrue(d.wait_trace("not found: noSuchMethod"))
        status, out = self.scmctl(d, "stop", "Velnor Admin Daemon")
        self.assertEqual(status, 0, out)
        self.assertIn("stopped", self.scmctl(d, "query", "Velnor Admin Daemon")[1])
        self.assertTrue(wait_for(lambda: not alive(pid)))


class PipeProtectionTest(unittest.TestCase):
    def test_another_uid_connects_but_cannot_create_or_replace_the_socket(self):
        d = Daemon(self)
        d.start()
        sock = d.socket

        def attempts():
            results = {"call": fault_code(call_at(sock, "noSuchMethod"))}
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            for name, action in (("bind over", lambda: s.bind(sock)),
                                 ("bind beside", lambda: s.bind(sock + "2")),
                                 ("remove", lambda: os.unlink(sock)),
                                 ("rename", lambda: os.rename(sock, sock + ".old"))):
                try:
                    action()
                    results[name] = "done"
                except OSError as e:
                    results[name] = e.errno
            return results

        import errno
        results = eval(as_user(NOBODY, attempts))
        self.assertEqual(results["call"], 1)
        self.assertEqual(results["bind beside"], errno.EACCES)
        self.assertEqual(results["remove"], errno.EACCES)
        self.assertEqual(results["rename"], errno.EACCES)
        self.assertIn(results["bind over"], (errno.EACCES, errno.EADDRINUSE))
        self.assertTrue(d.listening())
        self.assertEqual(d.stop(), 1)


class StartVpnTest(unittest.TestCase):
    def test_writes_the_four_files_and_starts_the_registry_executable(self):
        d = Daemon(self)
        d.start()
        result = d.call("startVpn", "10.1.2.3:1194", "s1", "udp;fulltunnel;adddns=10.0.0.1;verbose=3",
                        "10.1.2.3:443", "10.1.2.9:443")
        pid = d.started(result, set())
        directory = d.vpn_dir()
        conf = directory + "/velnor.ovpn"
        self.assertEqual(d.records()[pid], ["--config", conf])
        with open(conf, "rb") as f:
            self.assertEqual(f.read(), expected_conf(directory))
        with open(directory + "/ca.crt", "rb") as f, open(os.path.join(TUNNEL_DATA, "ca.crt"), "rb") as g:
            ca = f.read()
            self.assertEqual(ca.replace(b"\r\n", b"\n"), g.read())
            self.assertEqual(ca.count(b"\r\n"), ca.count(b"\n"))
        for name in ("velnor.ovpn", "ca.crt", "client.crt", "client.key"):
            self.assertEqual(stat.S_IMODE(os.stat(directory + "/" + name).st_mode), 0o600)
        verify = subprocess.run(["openssl", "verify", "-CAfile", directory + "/ca.crt", directory + "/client.crt"],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(verify.returncode, 0, verify.stdout)
        keys = [subprocess.run(["openssl"] + args, stdout=subprocess.PIPE).stdout for args in
                (["x509", "-noout", "-pubkey", "-in", directory + "/client.crt"],
                 ["pkey", "-pubout", "-in", directory + "/client.key"])]
        self.assertEqual(keys[0], keys[1])
        self.assertIn("TRACE RpcStartVpn.launchVpn creating VPN conf for user root@" + HOST + "\n", d.trace())
        self.assertIn('TRACE RpcStartVpn.execute %s --config "%s" launched for session: s1\n' % (d.standin, conf),
                      d.trace())

    def test_sessions_replace_keep_or_stop_the_recorded_vpn(self):
        d = Daemon(self)
        d.start()
        a1 = d.started(d.start_vpn("A"), set())
        a2 = d.started(d.start_vpn("A"), {a1})
        self.assertTrue(wait_for(lambda: not alive(a1)), "the same session replaces its VPN")
        b = d.started(d.start_vpn("B"), {a1, a2})
        time.sleep(0.2)
        self.assertTrue(alive(a2), "another session's VPN keeps running")
        anyone = d.started(d.start_vpn(""), {a1, a2, b})
        self.assertTrue(wait_for(lambda: not alive(b)), "an empty session stops whatever runs")
        self.assertTrue(alive(a2) and alive(anyone))

    def test_without_the_registry_key_files_are_written_the_session_stopped_and_bad_configuration(self):
        for registry in ("", '"other"="x"', '"exe_path"=hex:'):
            with self.subTest(registry=registry):
                d = Daemon(self)
                d.start()
                first = d.started(d.start_vpn("A"), set())
                if registry:
                    d.write_registry(registry)
                else:
                    os.unlink(d.registry)
                os.unlink(d.vpn_dir() + "/velnor.ovpn")
                self.assertEqual(fault_code(d.start_vpn("A")), 4)
                self.assertTrue(os.path.exists(d.vpn_dir() + "/velnor.ovpn"))
                self.assertTrue(wait_for(lambda: not alive(first)))
                time.sleep(0.2)
                self.assertEqual(list(d.records()), [first])
                self.assertIn("can not read VPN exe_path\n" if registry else
                              "can not open HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN\n", d.trace())

    def test_an_executable_that_cannot_start_is_internal_error(self):
        d = Daemon(self)
        d.write_registry('"exe_path"="%s"' % d.path("missing"))
        d.start()
        self.assertEqual(fault_code(d.start_vpn("A")), 6)
        self.assertIn("can not execute: " + d.path("missing") + ' --config "', d.trace())

    def test_an_untrusted_registry_file_starts_nothing(self):
        def other_owner(d):
            os.chown(d.registry, NOBODY, NOBODY)

        def group_writable(d):
            os.chmod(d.registry, 0o664)

        def a_link(d):
            os.rename(d.registry, d.path("real.reg"))
            os.symlink(d.path("real.reg"), d.registry)

        for spoil in (other_owner, group_writable, a_link):
            with self.subTest(spoil.__name__):
                d = Daemon(self)
                spoil(d)
                d.start()
                self.assertEqual(fault_code(d.start_vpn("A")), 4)
                self.assertIn("can not open HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN", d.trace())
                time.sleep(0.2)
                self.assertEqual(d.records(), {})

    def test_a_parameter_with_a_control_byte_is_refused_and_nothing_is_written(self):
        for index, value in ((2, "udp\nscript-security 2\nup /bin/sh"), (0, "h:1\r"), (3, "a\tb"), (4, "x\x1b")):
            with self.subTest(index=index):
                d = Daemon(self)
                d.start()
                params = ["10.1.2.3:1194", "A", "udp", "", ""]
                params[index] = value
                self.assertEqual(fault_code(d.call("startVpn", *params)), 3)
                self.assertFalse(os.path.exists(d.path("tmp", "Velnor", "AdminDaemon", "VPN")))
                time.sleep(0.2)
                self.assertEqual(d.records(), {})

    def test_an_untrusted_vpn_directory_is_refused_before_anything_is_deleted_or_written(self):
        def owned_by_nobody(d):
            os.makedirs(d.vpn_dir(), 0o700)
            os.chown(d.vpn_dir(), NOBODY, NOBODY)

        def writable_parent(d):
            os.makedirs(d.vpn_dir(), 0o700)
            os.chmod(d.path("tmp", "Velnor", "AdminDaemon", "VPN"), 0o777)

        def a_link(d):
            os.makedirs(d.path("tmp", "Velnor", "AdminDaemon", "VPN"), 0o700)
            os.symlink(d.path("victim"), d.vpn_dir())

        for plant in (owned_by_nobody, writable_parent, a_link):
            with self.subTest(plant.__name__):
                d = Daemon(self)
                os.mkdir(d.path("victim"), 0o700)
                plant(d)
                target = (d.path("victim") if plant is a_link else d.vpn_dir()) + "/openvpn.log"
                with open(target, "w") as f:
                    f.write("keep me\n")
                d.start()
                self.assertEqual(fault_code(d.start_vpn("A")), 4)
                self.assertIn("can not create VPN directory : " + d.vpn_dir() + "/", d.trace())
                with open(target) as f:
                    self.assertEqual(f.read(), "keep me\n")
                self.assertFalse(os.path.exists(os.path.dirname(target) + "/velnor.ovpn"))
                self.assertEqual(d.records(), {})

    def test_a_file_that_cannot_be_written_is_bad_configuration_and_starts_nothing(self):
        for name in ("velnor.ovpn", "client.key"):
            with self.subTest(name=name):
                d = Daemon(self)
                os.makedirs(d.vpn_dir() + "/" + name, 0o700)
                d.start()
                self.assertEqual(fault_code(d.start_vpn("A")), 4)
                self.assertIn("can not write VPN conf in " + d.vpn_dir() + "/", d.trace())
                time.sleep(0.2)
                self.assertEqual(d.records(), {})

    def test_another_uid_gets_a_directory_of_its_own(self):
        d = Daemon(self)
        d.start()
        sock = d.socket
        self.assertEqual(as_user(NOBODY, lambda: call_at(sock, "startVpn", "h:1", "N", "", "", "")), repr(EMPTY))
        d.wait_records(1)
        self.assertTrue(os.path.exists(d.vpn_dir("nobody") + "/velnor.ovpn"))
        self.assertEqual(os.stat(d.vpn_dir("nobody")).st_uid, 0)

    def test_overlapping_starts_of_one_session_leave_one_recorded_vpn(self):
        d = Daemon(self)
        d.start()
        results = []
        threads = [threading.Thread(target=lambda: results.append(d.start_vpn("A"))) for _ in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(results, [EMPTY] * 6)
        self.assertEqual(d.trace().count(" launched for session: A\n"), 6)
        # A stand-in killed while its shell ran a command leaves that
        # command to end on its own.
        self.assertTrue(wait_for(lambda: len(d.started_processes()) == 1), d.trace())
        time.sleep(0.3)
        self.assertEqual(len(d.started_processes()), 1, d.trace())
        self.assertEqual(d.call("stopVpn", "A", 0), EMPTY)
        self.assertTrue(wait_for(lambda: not d.started_processes()))

    def test_many_calls_leave_no_descriptor_behind(self):
        d = Daemon(self)
        d.start()

        def descriptors():
            return len(os.listdir("/proc/%d/fd" % d.process.pid))

        for _ in range(3):
            d.start_vpn("A")
            d.call("stopVpn", "A", 0)
        time.sleep(0.3)
        before = descriptors()
        for i in range(40):
            d.start_vpn("A" if i % 2 else "B")
            d.call("stopVpn", "nobody", 0)
        # The VPNs left running by a session change end; the next start
        # reaps them, and the last one is stopped.
        self.assertTrue(wait_for(d.kill_started), d.describe(d.started_processes()))
        d.start_vpn("C")
        d.call("stopVpn", "", 0)
        self.assertTrue(d.wait_trace(" stopped VPN\n"))
        self.assertTrue(wait_for(lambda: descriptors() <= before), "%d > %d" % (descriptors(), before))


class StopVpnTest(unittest.TestCase):
    def test_after_its_delay_terminates_the_recorded_vpn_and_answers_at_once(self):
        d = Daemon(self)
        d.start()
        pid = d.started(d.start_vpn("A"), set())
        began = time.monotonic()
        self.assertEqual(d.call("stopVpn", "A", 1500), EMPTY)
        self.assertLess(time.monotonic() - began, 1.4)
        time.sleep(0.8)
        self.assertTrue(alive(pid))
        self.assertTrue(wait_for(lambda: not alive(pid), 5))
        self.assertTrue(d.wait_trace("TRACE RpcStopVpn.execute A stopped VPN\n"))

    def test_a_line_break_in_a_session_cannot_forge_a_trace_line(self):
        d = Daemon(self)
        d.start()
        forged = "s1\r\n10-12-26 00:00:00.000 [1] TRACE RpcStopVpn.execute forged"
        pid = d.started(d.start_vpn(forged), set())
        self.assertEqual(d.call("stopVpn", forged, 0), EMPTY)
        self.assertTrue(wait_for(lambda: not alive(pid), 5))
        shown = "s1\\x0d\\x0a10-12-26 00:00:00.000 [1] TRACE RpcStopVpn.execute forged"
        self.assertTrue(d.wait_trace("TRACE RpcStopVpn.execute %s stopped VPN\n" % shown))
        self.assertIn(" launched for session: %s\n" % shown, d.trace())
        self.assertNotIn("\n10-12-26 00:00:00.000", d.trace())

    def test_another_sessions_vpn_keeps_running(self):
        d = Daemon(self)
        d.start()
        pid = d.started(d.start_vpn("B"), set())
        self.assertEqual(d.call("stopVpn", "A", 0), EMPTY)
        self.assertTrue(d.wait_trace("TRACE RpcStopVpn.execute A did not launched the VPN\n"))
        self.assertTrue(alive(pid))

    def test_parameters_default_to_an_empty_session_and_no_delay(self):
        for params in ((), ("",), ("x", "not a number"), ("", -5)):
            with self.subTest(params=params):
                d = Daemon(self)
                d.start()
                pid = d.started(d.start_vpn("A"), set())
                began = time.monotonic()
                self.assertEqual(d.call("stopVpn", *params), EMPTY)
                if params[:1] == ("x",):
                    self.assertTrue(d.wait_trace("x did not launched the VPN"))
                    self.assertTrue(alive(pid))
                else:
                    self.assertTrue(wait_for(lambda: not alive(pid), 5))
                    self.assertLess(time.monotonic() - began, 3)

    def test_without_a_recorded_vpn_the_stop_fails_with_an_invalid_handle(self):
        d = Daemon(self)
        d.start()
        self.assertEqual(d.call("stopVpn", "A", 0), EMPTY)
        self.assertTrue(d.wait_trace("TRACE RpcStopVpn.execute can not stop VPN. Error: 6\n"))

    def test_pending_stops_are_bounded_and_end_with_the_daemon(self):
        d = Daemon(self)
        d.start()
        pid = d.started(d.start_vpn("A"), set())
        for _ in range(16):
            self.assertEqual(d.call("stopVpn", "A", 60000), EMPTY)
        self.assertEqual(fault_code(d.call("stopVpn", "A", 60000)), 6)
        self.assertTrue(alive(pid))
        began = time.monotonic()
        self.assertEqual(d.stop(), 1)
        self.assertLess(time.monotonic() - began, 5)
        self.assertFalse(alive(pid), "stopping the daemon terminates the recorded VPN")
        self.assertNotIn("all threads are not terminated", d.trace())

    def test_stopping_the_daemon_terminates_the_recorded_vpn_only(self):
        d = Daemon(self)
        d.start()
        a = d.started(d.start_vpn("A"), set())
        b = d.started(d.start_vpn("B"), {a})
        self.assertEqual(d.stop(), 1)
        self.assertFalse(alive(b))
        self.assertTrue(alive(a))


class ManageServiceTest(unittest.TestCase):
    def add_service(self, d, name):
        path = d.path("scm", name.lower() + ".service")
        with open(path, "w") as f:
            f.write("name=%s\ndisplay=%s\nbinary=/bin/sleep 300\nstart=3\n" % (name, name))
        os.chmod(path, 0o644)

    def lines(self, d):
        return [line.split(" TRACE RpcManageService.", 1)[1] for line in d.trace().splitlines()
                if " TRACE RpcManageService." in line]

    def test_a_caller_that_is_not_root_is_refused_unread(self):
        d = Daemon(self)
        self.add_service(d, "velnor agent")
        d.start()
        self.assertEqual(d.call_as(NOBODY, "manageService", "velnor agent", "start"), "4")
        self.assertEqual(d.call_as(NOBODY, "manageService"), "4")
        self.assertEqual(self.lines(d), ["execute Unauthorized ManageService"] * 2)

    def test_start_and_stop_with_every_outcome_logged(self):
        d = Daemon(self)
        self.add_service(d, "velnor agent")
        self.add_service(d, "velnor gateway7")
        d.start()
        steps = [
            ("VELNOR AGENT", "START", ["execute VELNOR AGENT command:START", "DoStartSvc Service start pending...",
                                       "DoStartSvc Service started successfully"]),
            ("velnor agent", "start", ["execute velnor agent command:start",
                                       "DoStartSvc Cannot start the service because it is already running"]),
            ("velnor agent", "stop", ["execute velnor agent command:stop", "DoStopSvc Service stopped successfully"]),
            ("velnor agent", "stop", ["execute velnor agent command:stop", "DoStopSvc Service is already stopped"]),
            ("velnor gateway7", "start", ["execute velnor gateway7 command:start", "DoStartSvc Service start pending...",
                                          "DoStartSvc Service started successfully"]),
            ("Velnor Gateway7", "Stop", ["execute Velnor Gateway7 command:Stop", "DoStopSvc Service stopped successfully"]),
            ("velnor gateway9", "start", ["execute velnor gateway9 command:start", "DoStartSvc OpenService failed (1060)"]),
            ("velnor agent", None, ["execute velnor agent command:", "execute unsupported command:"]),
            ("velnor agent", "restart", ["execute velnor agent command:restart", "execute unsupported command:restart"]),
        ]
        for name, command, expected in steps:
            with self.subTest(name=name, command=command):
                before = len(self.lines(d))
                params = (name,) if command is None else (name, command)
                self.assertEqual(d.call("manageService", *params), EMPTY)
                self.assertEqual(self.lines(d)[before:], expected)

    def test_a_stop_during_a_call_waits_for_the_call_and_exits_cleanly(self):
        d = Daemon(self)
        self.add_service(d, "velnor agent")
        d.start()
        self.assertEqual(d.call("manageService", "velnor agent", "start"), EMPTY)
        answers = []
        caller = threading.Thread(target=lambda: answers.append(d.call("manageService", "velnor agent", "stop")))
        caller.start()
        self.assertTrue(d.wait_trace("execute velnor agent command:stop"))
        self.assertEqual(d.stop(), 1)
        caller.join()
        self.assertIn("DoStopSvc Service stopped successfully", d.trace())

    def test_names_outside_the_suite_are_bad_parameter(self):
        d = Daemon(self)
        d.start()
        for name in ("velnor agent2", "velnor agen", "other", "velnor gatewa", "velnor gateway" + "x" * 66):
            with self.subTest(name=name):
                self.assertEqual(fault_code(d.call("manageService", name, "start")), 3)
                self.assertIn("execute unmanaged service:" + name + "\n", d.trace())

    def test_an_untrusted_service_file_cannot_be_opened(self):
        path = lambda d: d.path("scm", "velnor agent.service")
        for spoil in (lambda d: os.chown(path(d), NOBODY, NOBODY), lambda d: os.chmod(path(d), 0o664)):
            d = Daemon(self)
            self.add_service(d, "velnor agent")
            spoil(d)
            d.start()
            for command, function in (("start", "DoStartSvc"), ("stop", "DoStopSvc")):
                self.assertEqual(d.call("manageService", "velnor agent", command), EMPTY)
                self.assertEqual(self.lines(d)[-1], function + " OpenService failed (5)")
            time.sleep(0.2)
            self.assertEqual(d.started_processes(), [])


class RealOpenVpnTest(unittest.TestCase):
    def test_starts_debians_openvpn_whose_management_interface_answers_until_stopvpn(self):
        if not os.path.exists("/usr/sbin/openvpn"):
            self.fail("/usr/sbin/openvpn is missing: run scripts/setup.sh")
        def port_free():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", 1195)) != 0

        # Another OpenVPN on this machine (another test run) may hold the fixed port a while.
        self.assertTrue(wait_for(port_free, 60), "the management port 1195 stays taken")
        d = Daemon(self)
        d.write_registry('"exe_path"="/usr/sbin/openvpn"')
        d.start()
        self.assertEqual(d.call("startVpn", "127.0.0.1:1194", "real", "udp", "", ""), EMPTY, d.trace())
        banner = []

        def management_banner():
            try:
                with socket.create_connection(("127.0.0.1", 1195), timeout=2) as s:
                    banner.append(s.makefile("rb").readline())
                return True
            except OSError:
                return False

        self.assertTrue(wait_for(management_banner, 20), d.trace())
        self.assertTrue(banner[0].startswith(b">INFO:OpenVPN Management Interface Version"), banner)
        self.assertEqual(d.call("stopVpn", "real", 0), EMPTY)
        self.assertTrue(d.wait_trace("TRACE RpcStopVpn.execute real stopped VPN\n"))
        self.assertTrue(wait_for(lambda: not management_banner(), 5))
        with open(d.vpn_dir() + "/openvpn.log", errors="replace") as f:
            self.assertIn("MANAGEMENT: TCP Socket listening on [AF_INET]127.0.0.1:1195", f.read())


class ToolTest(unittest.TestCase):
    def test_calls_the_daemon_with_strings_and_integers_and_prints_results_and_faults(self):
        d = Daemon(self)
        d.start()
        pid = d.started(d.start_vpn("A"), set())
        cases = [
            (["--help"], 0, "usage: xmlrpccall"),
            (["noSuchMethod"], 1, "fault 1: unknown method name\n"),
            (["stopVpn", "s:A", "i:0"], 0, "(no value)\n"),
            (["manageService", "velnor agent9", "start"], 1, "fault 3: bad parameter\n"),
            (["--pipe", "no_such_pipe", "stopVpn"], 1, "fault 2: network timeout\n"),
            (["stopVpn", "i:12x"], 2, "not a 32-bit integer"),
            ([], 2, "no method named"),
        ]
        for args, status, text in cases:
            with self.subTest(args=args):
                done = subprocess.run([XMLRPCCALL] + args, env=d.env, stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT, timeout=30)
                self.assertEqual(done.returncode, status, done.stdout)
                self.assertIn(text, done.stdout.decode())
        self.assertTrue(wait_for(lambda: not alive(pid)))

    def test_calls_a_server_over_tcp(self):
        from xmlrpc.server import SimpleXMLRPCServer
        server = SimpleXMLRPCServer(("127.0.0.1", 0), logRequests=False)
        server.register_function(lambda a, b: "%s:%r" % (a, b), "pair")
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.shutdown)
        address = "127.0.0.1:%d" % server.server_address[1]
        done = subprocess.run([XMLRPCCALL, "--tcp", address, "--path", "/RPC2", "pair", "s:x", "i:-7"],
                              stdout=subprocess.PIPE, timeout=30)
        self.assertEqual((done.returncode, done.stdout), (0, b"x:-7\n"))


if __name__ == "__main__":
    DAEMON, XMLRPCCALL, SCMCTL = sys.argv[1:4]
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
