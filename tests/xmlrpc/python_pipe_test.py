#!/usr/bin/env python3
"""Python's standard xmlrpc.client, over the Unix socket that stands for the
named pipe, calls a server built on the toolkit's NamedPipeServer."""
import ast
import datetime
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import xmlrpc.client as xc

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from pipe_transport import UnixTransport  # noqa: E402

SERVER = None
PIPE_DIR = None
NAME = "pytest_pipe"


def proxy():
    return xc.ServerProxy("http://localhost/rpc", transport=UnixTransport(os.path.join(PIPE_DIR, NAME), timeout=30),
                          allow_none=False)


class PipeServerTest(unittest.TestCase):
    def test_values_come_back_as_sent(self):
        cases = [
            7, -2147483648, "caf\u00e9 <&> \"quoted\"", "", True, False, 2.5,
            [1, "two", [3.0]], {"a<b": 1, "list": [True], "nested": {"x": "y"}},
            xc.DateTime(datetime.datetime(2026, 1, 8, 1, 2, 3)), xc.Binary(b"\x00\xffabc"),
        ]
        p = proxy()
        for value in cases:
            with self.subTest(value=value):
                self.assertEqual(p.echo(value), value)

    def test_faults_arrive_as_faults(self):
        p = proxy()
        for code, text in [(3, "bad parameter"), (4, "bad configuration"), (6, "internal error")]:
            with self.assertRaises(xc.Fault) as raised:
                p.fault(code)
            self.assertEqual((raised.exception.faultCode, raised.exception.faultString), (code, text))

    def test_an_unknown_method_is_fault_1(self):
        with self.assertRaises(xc.Fault) as raised:
            proxy().noSuchMethod(1, 2)
        self.assertEqual((raised.exception.faultCode, raised.exception.faultString), (1, "unknown method name"))

    def test_concurrent_callers_each_get_their_own_answer(self):
        errors = []

        def caller(n):
            p = proxy()
            for i in range(40):
                text = "caller %d call %d" % (n, i)
                try:
                    got = p.echo(text)
                except Exception as e:  # pylint: disable=broad-except
                    errors.append(repr(e))
                    return
                if got != text:
                    errors.append((text, got))

        threads = [threading.Thread(target=caller, args=(n,)) for n in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
        self.assertEqual(errors, [])

    def test_the_caller_is_known_by_account_and_elevation(self):
        host = os.uname().nodename.split(".")[0]
        self.assertEqual(proxy().whoami(), {"user": "root@" + host, "elevated": True})
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                os.setresgid(65534, 65534, 65534)
                os.setresuid(65534, 65534, 65534)
                who = proxy().whoami()
                os.write(write_end, repr(who).encode())
            finally:
                os._exit(0)
        os.close(write_end)
        answer = b""
        while True:
            chunk = os.read(read_end, 4096)
            if not chunk:
                break
            answer += chunk
        os.waitpid(pid, 0)
        self.assertEqual(ast.literal_eval(answer.decode()), {"elevated": False, "user": "nobody@" + host})


def main():
    global SERVER, PIPE_DIR
    SERVER = sys.argv.pop(1)
    with tempfile.TemporaryDirectory() as tmp:
        PIPE_DIR = os.path.join(tmp, "pipes")
        os.chmod(tmp, 0o755)
        env = dict(os.environ, TRIVANE_PIPE_DIR=PIPE_DIR)
        server = subprocess.Popen([SERVER, NAME], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=env)
        try:
            deadline = time.monotonic() + 30
            while not os.path.exists(os.path.join(PIPE_DIR, NAME)):
                if time.monotonic() > deadline or server.poll() is not None:
                    raise SystemExit("the pipe server did not start")
                time.sleep(0.02)
            result = unittest.main(exit=False, verbosity=2).result
        finally:
            server.stdin.close()
            server.wait(30)
        sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
