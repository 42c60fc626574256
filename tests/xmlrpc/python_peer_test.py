#!/usr/bin/env python3
"""The toolkit's XML-RPC text against Python's standard xmlrpc.client, both
ways: documents the toolkit writes are read by loads, and documents dumps
writes are read by the toolkit (and written back for loads to compare)."""
import datetime
import os
import subprocess
import sys
import tempfile
import unittest
import xmlrpc.client as xc

PEER = None


def run_peer(*args):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.xml")
        files = []
        for a in args:
            if isinstance(a, bytes):
                path = os.path.join(tmp, "in%d.xml" % len(files))
                with open(path, "wb") as f:
                    f.write(a)
                files.append(path)
            else:
                files.append(a)
        done = subprocess.run([*PEER, *files, out], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
        if done.returncode != 0:
            return done.returncode, None
        with open(out, "rb") as f:
            return 0, f.read()


def written(name):
    code, doc = run_peer("write", name)
    assert code == 0, (name, code)
    return doc


class ToolkitWritesPythonReads(unittest.TestCase):
    def result(self, name):
        params, method = xc.loads(written(name), use_builtin_types=True)
        self.assertIsNone(method)
        self.assertEqual(len(params), 1)
        return params[0]

    def assertSameTyped(self, got, want):
        self.assertEqual(got, want)
        self.assertEqual([type(x) for x in got], [type(x) for x in want])

    def test_integers(self):
        self.assertSameTyped(self.result("integers"), [0, 7, -2147483648, 2147483647])

    def test_doubles(self):
        self.assertSameTyped(self.result("doubles"), [0.5, -1.25, 1e308, -0.0])

    def test_booleans(self):
        self.assertSameTyped(self.result("booleans"), [True, False])

    def test_strings_with_every_entity_and_bytes_above_127(self):
        self.assertEqual(self.result("strings"),
                         ["<>&'\"", "caf\u00e9 \u20ac", "", "  spaced  ", "a&amp;b", "line\nbreak"])

    def test_base64(self):
        self.assertEqual(self.result("base64"), b"\x00\xffabc")

    def test_datetime(self):
        self.assertEqual(self.result("datetime"), datetime.datetime(2026, 1, 8, 1, 2, 3))

    def test_nested_arrays_and_structs(self):
        self.assertEqual(self.result("nested"), {"list": [1, {"inner": "x&y"}], "a<b": True, "empty": []})

    def test_fault_envelope(self):
        with self.assertRaises(xc.Fault) as caught:
            xc.loads(written("fault"))
        self.assertEqual(caught.exception.faultCode, 4)
        self.assertEqual(caught.exception.faultString, "bad configuration & <more>")

    def test_params_of_a_call(self):
        self.assertEqual(xc.loads(written("params")), ((1, "two"), "method.name"))


VALUES = (
    1, -2147483648, 2147483647, 0.5, -1e-3, 1e300, True, False, "", "plain", "<>&'\" \u00e9\u20ac",
    "  leading and trailing  ", b"", b"\x00\x01\xfe\xff" * 40, datetime.datetime(1999, 12, 31, 23, 59, 58),
    [], [1, [2, [3, ["deep"]]]], {}, {"a&b": 1, "faultCode": "not a fault", "z": {"k": [True, {"x": b"y"}]}},
    {"m%d" % i: i for i in range(500)},
)


class PythonWritesToolkitReads(unittest.TestCase):
    def echo(self, doc):
        code, back = run_peer("echo", doc.encode("utf-8"))
        self.assertEqual(code, 0, doc)
        return xc.loads(back, use_builtin_types=True)

    def test_call_with_every_kind(self):
        doc = xc.dumps(VALUES, "some.method")
        self.assertIn("<int>", doc)
        self.assertIn("<string>", doc)
        self.assertIn("\n<param>\n", doc)
        params, method = self.echo(doc)
        self.assertEqual(method, "some.method")
        self.assertEqual(params, VALUES)
        for got, want in zip(params, VALUES):
            self.assertIs(type(got), type(want))

    def test_responses(self):
        for value in VALUES:
            with self.subTest(value=value):
                self.assertEqual(self.echo(xc.dumps((value,), methodresponse=True)), ((value,), None))

    def test_fault(self):
        doc = xc.dumps(xc.Fault(3, "bad parameter <&>"))
        with self.assertRaises(xc.Fault) as caught:
            self.echo(doc)
        self.assertEqual((caught.exception.faultCode, caught.exception.faultString), (3, "bad parameter <&>"))

    def test_nil_does_not_read(self):
        doc = xc.dumps((None,), methodresponse=True, allow_none=True)
        self.assertIn("<nil/>", doc)
        code, _ = run_peer("echo", doc.encode("utf-8"))
        self.assertEqual(code, 3)
        code, _ = run_peer("echo", xc.dumps((1, None, 2), "m", allow_none=True).encode("utf-8"))
        self.assertEqual(code, 3)


if __name__ == "__main__":
    # The peer's command: one program, or the words before "--" (an
    # emulator and the program it runs).
    if "--" in sys.argv:
        end = sys.argv.index("--")
        PEER, sys.argv[1:end + 1] = sys.argv[1:end], []
    else:
        PEER = [sys.argv.pop(1)]
    unittest.main(verbosity=2)
