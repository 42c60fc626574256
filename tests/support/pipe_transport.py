"""An xmlrpc.client transport over the Unix socket that stands for the
daemon's named pipe, for the Python peers of the tests."""
import http.client
import socket
import xmlrpc.client as xc


class UnixConnection(http.client.HTTPConnection):
    def __init__(self, path, timeout):
        super().__init__("localhost", timeout=timeout)
        self.unix_path = path

    def connect(self):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        # A blocking open waits while every instance is busy, as a Windows
        # client waits for a free one; a time-out would make it fail at once.
        s.connect(self.unix_path)
        s.settimeout(self.timeout)
        self.sock = s


class UnixTransport(xc.Transport):
    def __init__(self, path, timeout=60):
        super().__init__()
        self.unix_path = path
        self.unix_timeout = timeout

    def make_connection(self, host):
        return UnixConnection(self.unix_path, self.unix_timeout)
