#!/usr/bin/env python3
"""Command-line tests of zcspack. Archives are read back here with Python's
own zlib, so a fault shared by the packer and the reader's code is caught."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

ZCSPACK = None


def run(*args):
    p = subprocess.run([ZCSPACK, *args], capture_output=True, text=True)
    return p.returncode, p.stdout + p.stderr


def write(root, name, data):
    path = os.path.join(root, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def parse(archive):
    magic, inflated, stream = struct.unpack_from("<4sII", archive)
    assert magic == b"ZCS\0"
    assert archive[12:14] == b"\x78\x9c"
    table = zlib.decompress(archive[12:12 + stream])
    assert len(table) == inflated
    (count,), pos, entries = struct.unpack_from("<I", table), 4, []
    for _ in range(count):
        (n,) = struct.unpack_from("<I", table, pos)
        name = table[pos + 4:pos + 4 + n].decode()
        pos += 4 + n
        (length,) = struct.unpack_from("<I", table, pos)
        entries.append((name, table[pos + 4:pos + 4 + length]))
        pos += 4 + length
    (launch,) = struct.unpack_from("<I", table, pos)
    assert pos + 4 == len(table)
    return entries, launch


def make(entries, launch):
    table = struct.pack("<I", len(entries))
    for name, data in entries:
        table += struct.pack("<I", len(name)) + name.encode()
        table += struct.pack("<I", len(data)) + data
    table += struct.pack("<I", launch)
    stream = zlib.compress(table)
    return struct.pack("<4sII", b"ZCS\0", len(table), len(stream)) + stream


class Zcspack(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = os.path.join(self.tmp.name, "payload")
        self.out = os.path.join(self.tmp.name, "out.zcs")
        os.makedirs(self.dir)

    def tearDown(self):
        self.tmp.cleanup()

    def test_pack_orders_entries_and_round_trips(self):
        files = {"fr/b/deep.txt": b"deep", "setup.exe": b"MZ" + bytes(range(256)) * 40,
                 "fr/sat.dll": b"sat", "readme.txt": b"", "de/x.dll": b"x"}
        for name, data in files.items():
            write(self.dir, name, data)
        os.makedirs(os.path.join(self.dir, "empty"))
        code, text = run("pack", "--launch", "setup.exe", "-o", self.out, self.dir)
        self.assertEqual(0, code, text)
        self.assertIn("empty", text)
        with open(self.out, "rb") as f:
            entries, launch = parse(f.read())
        self.assertEqual(["readme.txt", "setup.exe", "de/x.dll", "fr/sat.dll", "fr/b/deep.txt"],
                         [n for n, _ in entries])
        self.assertEqual(files, dict(entries))
        self.assertEqual("setup.exe", entries[launch][0])
        code, text = run("list", self.out)
        self.assertEqual(0, code, text)
        self.assertRegex(text, r"10242  setup.exe  \(launch\)")
        self.assertEqual((0, ), run("verify", self.out)[:1])

    def assert_refused(self, launch, needle):
        code, text = run("pack", "--launch", launch, "-o", self.out, self.dir)
        self.assertEqual(1, code, text)
        self.assertIn(needle, text)
        self.assertFalse(os.path.exists(self.out))

    def test_pack_refuses_what_the_setup_program_could_not_extract(self):
        write(self.dir, "setup.exe", b"MZ")
        self.assert_refused("missing.exe", "missing.exe")
        write(self.dir, "a/b/c.txt", b"c")
        self.assert_refused("setup.exe", '"a"')
        os.remove(os.path.join(self.dir, "a", "b", "c.txt"))
        write(self.dir, "back\\slash.txt", b"x")
        self.assert_refused("setup.exe", "backslash")
        os.remove(os.path.join(self.dir, "back\\slash.txt"))
        write(self.dir, "sub/.. ", b"x")
        self.assert_refused("setup.exe", "sub/.. ")

    def test_pack_refuses_names_beyond_printable_ascii(self):
        write(self.dir, "setup.exe", b"MZ")
        for name, shown in [("fr/r\u00e9sum\u00e9.txt", "fr/r\\xc3\\xa9sum\\xc3\\xa9.txt"),
                            ("\u0414\u043e\u043a/a.txt", "\\xd0\\x94\\xd0\\xbe\\xd0\\xba/a.txt"),
                            ("tab\there.txt", "tab\\x09here"), ("del\x7f.txt", "del\\x7f")]:
            write(self.dir, name, b"x")
            code, text = run("pack", "--launch", "setup.exe", "-o", self.out, self.dir)
            self.assertEqual((2, True), (code, shown in text), text)
            self.assertFalse(os.path.exists(self.out))
            os.remove(os.path.join(self.dir, *name.split("/")))
        self.assertEqual(0, run("pack", "--launch", "setup.exe", "-o", self.out, self.dir)[0])

    def test_verify_runs_the_readers_checks_and_the_folder_order(self):
        good = make([("setup.exe", b"MZ"), ("a/x", b"1"), ("a/b/c", b"2")], 0)
        cases = {
            "good": (good, 0, "valid"),
            "name": (make([("setup.exe", b"MZ"), ("../x", b"")], 0), 1, "../x"),
            "order": (make([("setup.exe", b"MZ"), ("a/b/c", b"2"), ("a/x", b"1")], 0),
                      1, "a/b/c"),
        }
        for label, (data, want, needle) in cases.items():
            path = os.path.join(self.tmp.name, label + ".zcs")
            with open(path, "wb") as f:
                f.write(data)
            code, text = run("verify", path)
            self.assertEqual(want, code, label + ": " + text)
            self.assertIn(needle, text, label)

    def test_usage_errors(self):
        self.assertEqual(2, run()[0])
        self.assertEqual(2, run("pack", "-o", self.out, self.dir)[0])
        self.assertEqual(2, run("frobnicate", self.out)[0])


if __name__ == "__main__":
    ZCSPACK = sys.argv.pop(1)
    unittest.main()
