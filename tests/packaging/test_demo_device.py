#!/usr/bin/env python3
"""Drives scripts/demo-device through its link the way Vorlanti does: open the
link, write a request, read what comes back.  Every wait is on a condition
(bytes arrived, a line was printed) with a deadline, never a fixed pause."""

import os
import pathlib
import re
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "scripts" / "demo-device"
EXAMPLES = ROOT / "res" / "examples"
DEADLINE = 10.0
SYSTEM_PYTHON = "/usr/bin/python3"

READ_TWO = bytes.fromhex("010300000002C40B")
READ_TWO_REPLY = bytes.fromhex("0103041000100132F3")


class DemoDevice:
    """One running demo device, linked into a temporary directory."""

    def __init__(self, link, *options):
        self.link = link
        self.process = subprocess.Popen(
            [sys.executable, str(SCRIPT), "--link", str(link), *options],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
        )
        self.pending = b""
        self.port = None
        self.wait_line(lambda line: line.startswith("demo device ready"))

    def wait_line(self, predicate):
        """Returns the first line printed from now on that the predicate accepts."""
        deadline = time.monotonic() + DEADLINE
        stdout = self.process.stdout.fileno()
        while True:
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                text = line.decode()
                if predicate(text):
                    return text
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([stdout], [], [], remaining)[0]:
                raise AssertionError("the demo device did not print the expected line in time")
            chunk = os.read(stdout, 4096)
            if not chunk:
                raise AssertionError(
                    "the demo device ended: " + self.process.stderr.read().decode()
                )
            self.pending += chunk

    def open(self):
        self.port = os.open(self.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

    def send(self, data):
        os.write(self.port, data)

    def receive(self, count):
        """Reads until count bytes have come or the deadline passes; returns what came."""
        deadline = time.monotonic() + DEADLINE
        data = b""
        while len(data) < count:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([self.port], [], [], remaining)[0]:
                break
            data += os.read(self.port, count - len(data))
        return data

    def end_of_frame(self):
        return self.wait_line(lambda line: line.startswith("frame "))

    def stop(self, signum=signal.SIGTERM):
        if self.port is not None:
            os.close(self.port)
            self.port = None
        if self.process.poll() is None:
            self.process.send_signal(signum)
        try:
            return self.process.wait(timeout=DEADLINE)
        finally:
            self.process.stdout.close()
            self.process.stderr.close()


class DemoDeviceTestCase(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.link = pathlib.Path(self.directory.name) / "COM1"
        self.device = None

    def tearDown(self):
        if self.device is not None:
            self.device.stop()
        self.directory.cleanup()

    def start(self, *options):
        self.device = DemoDevice(self.link, *options)
        self.device.open()
        return self.device


class ExchangeTest(DemoDeviceTestCase):
    def test_read_request_is_echoed_then_answered(self):
        device = self.start()
        device.send(READ_TWO)
        self.assertEqual(device.receive(len(READ_TWO) + len(READ_TWO_REPLY)),
                         READ_TWO + READ_TWO_REPLY)

    def test_wrong_crc_is_echoed_and_not_answered(self):
        device = self.start()
        wrong = READ_TWO[:-1] + bytes((READ_TWO[-1] ^ 0x01,))
        device.send(wrong)
        self.assertIn("no reply", device.end_of_frame())
        # A reply to the bad frame would come before the answer to the next one.
        device.send(b"PING")
        self.assertEqual(device.receive(len(wrong) + 8), wrong + b"PINGPONG")

    def test_other_slave_address_gets_no_reply(self):
        device = self.start()
        other = bytes.fromhex("020300000002C438")
        device.send(other)
        self.assertIn("no reply", device.end_of_frame())
        device.send(b"PING")
        self.assertEqual(device.receive(len(other) + 8), other + b"PINGPONG")

    def test_written_register_reads_back(self):
        device = self.start()
        write = bytes.fromhex("0106000A1234A4BF")
        device.send(write)
        self.assertEqual(device.receive(16), write + write)
        device.end_of_frame()
        read = bytes.fromhex("0103000A0001A408")
        device.send(read)
        self.assertEqual(device.receive(15), read + bytes.fromhex("0103021234B533"))

    def test_exceptions_for_bad_count_and_unknown_function(self):
        device = self.start("--no-echo")
        device.send(bytes.fromhex("01030000000045CA"))
        self.assertEqual(device.receive(5), bytes.fromhex("0183030131"))
        device.end_of_frame()
        device.send(bytes.fromhex("01040000000131CA"))
        self.assertEqual(device.receive(5), bytes.fromhex("01840182C0"))

    def test_every_byte_value_echoes_unchanged(self):
        # CR, XON/XOFF and bytes from 0x80 are what a cooked line discipline would change.
        device = self.start()
        data = bytes(range(256))
        device.send(data)
        self.assertEqual(device.receive(len(data)), data)

    def test_no_echo_leaves_only_the_reply(self):
        device = self.start("--no-echo", "--address", "7")
        device.send(bytes.fromhex("070300000001") + crc_bytes(bytes.fromhex("070300000001")))
        reply = bytes.fromhex("0703021000")
        self.assertEqual(device.receive(7), reply + crc_bytes(reply))


def crc_bytes(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes((crc & 0xFF, crc >> 8))


class LinkTest(DemoDeviceTestCase):
    def test_link_names_the_device_and_goes_away_on_each_stop_signal(self):
        for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=signum.name):
                device = DemoDevice(self.link)
                target = os.readlink(self.link)
                self.assertTrue(target.startswith("/dev/pts/"), target)
                self.assertEqual(device.stop(signum), 0)
                self.assertFalse(os.path.lexists(self.link))

    def test_existing_file_is_never_replaced(self):
        self.link.write_text("precious")
        result = run_script("--link", str(self.link))
        self.assertEqual(result.returncode, 1)
        self.assertIn("already exists", result.stderr)
        self.assertEqual(self.link.read_text(), "precious")

    def test_live_link_is_never_replaced(self):
        os.symlink("/dev/null", self.link)
        result = run_script("--link", str(self.link))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(os.readlink(self.link), "/dev/null")

    def test_leftover_link_to_a_vanished_pseudo_terminal_is_replaced(self):
        os.symlink("/dev/pts/999999", self.link)
        self.device = DemoDevice(self.link)
        self.assertNotEqual(os.readlink(self.link), "/dev/pts/999999")
        self.device.open()
        self.device.send(b"PING")
        self.assertEqual(self.device.receive(8), b"PINGPONG")

    def test_dev_link_without_root_says_so_and_creates_nothing(self):
        as_nobody = os.geteuid() == 0
        if as_nobody and not os.access(SYSTEM_PYTHON, os.X_OK):
            self.skipTest(f"running as root and {SYSTEM_PYTHON} is missing")
        result = run_script("COM97", as_nobody=as_nobody)
        self.assertEqual(result.returncode, 1)
        self.assertIn("needs root", result.stderr)
        self.assertFalse(os.path.lexists("/dev/COM97"))

    def test_bad_arguments_are_refused(self):
        for arguments in ([], ["COM0"], ["ttyS0"], ["COM1", "--link", str(self.link)],
                          ["--link", str(self.link), "--address", "0"]):
            with self.subTest(arguments=arguments):
                self.assertEqual(run_script(*arguments).returncode, 2)
        self.assertFalse(os.path.lexists(self.link))


def command_lines(path):
    """(command, comment) of each line, cut and trimmed as the window does when one is picked."""
    for line in re.split(rb"[\r\n\0]", path.read_bytes()):
        if not line:
            continue
        text = line.decode("ascii")
        cuts = [i for i in (text.find("\\"), text.find("//")) if i >= 0]
        cut = min(cuts, default=len(text))
        yield text[:cut].strip(" "), text[cut:]


class ExampleFilesTest(unittest.TestCase):
    def test_every_command_is_whole_bytes_of_hex(self):
        files = sorted(EXAMPLES.glob("*.txt"))
        self.assertGreaterEqual(len(files), 2)
        for path in files:
            for command, _ in command_lines(path):
                if command:
                    with self.subTest(file=path.name, command=command):
                        self.assertRegex(command, r"^([0-9A-Fa-f]{2})+$")

    def test_examples_keep_the_line_forms_they_show(self):
        data = (EXAMPLES / "byte-patterns.txt").read_bytes()
        self.assertEqual(data.count(b"\r\n"), data.count(b"\n"))
        self.assertRegex(data, rb"\n[0-9A-F]+ +\r\n")
        self.assertRegex(data, rb"\n +[0-9A-F]+ ")

    def test_demo_device_answers_as_the_modbus_example_says(self):
        with tempfile.TemporaryDirectory() as directory:
            device = DemoDevice(pathlib.Path(directory) / "COM1")
            try:
                device.open()
                expected = b""
                for command, comment in command_lines(EXAMPLES / "modbus-demo.txt"):
                    if not command:
                        continue
                    request = bytes.fromhex(command)
                    reply = re.search(r"-> ([0-9A-F]+)", comment)
                    expected += request + (bytes.fromhex(reply[1]) if reply else b"")
                    device.send(request)
                    device.end_of_frame()
                self.assertEqual(device.receive(len(expected)).hex(), expected.hex())
                # The last frame has been answered; anything more would be a stray reply.
                self.assertRaises(BlockingIOError, os.read, device.port, 1)
            finally:
                device.stop()


def run_script(*arguments, as_nobody=False):
    """Runs the demo device to its end.  As nobody (user 65534; the caller must be root), the
    system's interpreter reads the script from standard input: nobody may be unable to enter
    the clone's folder or to run root's own interpreter."""
    if not as_nobody:
        return subprocess.run([sys.executable, str(SCRIPT), *arguments], capture_output=True,
                              text=True, timeout=DEADLINE)
    return subprocess.run([SYSTEM_PYTHON, "-", *arguments], input=SCRIPT.read_text(),
                          capture_output=True, text=True, timeout=DEADLINE, cwd="/",
                          user=65534, group=65534, extra_groups=[])


if __name__ == "__main__":
    unittest.main(verbosity=2)
