#!/usr/bin/env python3
"""A small remote controller driving real tandrel processes over the
controller protocol on 127.0.0.1: login, commands, dispatch and shutdown.

Each test starts `tandrel "aport <port>" "pass u p" - !` in a temporary
directory on a leased port. Frames, strings and records are
read here independently of the client's own code.

Run: controller_test.py --tandrel <path to the tandrel program>
"""
import argparse
import fcntl
import os
import random
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

TANDREL = None
MARKER = 0xE3

LOGIN, SHUTDOWN, COMMAND = 100, 101, 102
GET_STATUS = 225
DOWNLOAD_STATUS_ON, UPLOAD_STATUS_ON, UPLOAD_STATUS_OFF = 217, 219, 220
CONSOLE_TEXT = 180
STATUS_TEXT = 195
CLIENT_STATUS = 199
LARGEST_LOGIN = 1 + 2 * (2 + 65535)

# How long a step of a test may take before it counts as hung.
STEP_S = 10.0


def string(text):
    data = text.encode()
    return struct.pack("<H", len(data)) + data


# What the hashing of the shared directories shows at start-up.
HASHING_PROGRESS = {(CONSOLE_TEXT, string(text)) for text in ("Loading shared files...", "Done loading shared files.")}


def frame(opcode, payload=b""):
    return struct.pack("<BIB", MARKER, len(payload) + 1, opcode) + payload


def read_string(payload, offset=0):
    """The encoded string at offset and the offset after it."""
    if offset + 2 > len(payload):
        raise ValueError("string length past the payload")
    (length,) = struct.unpack_from("<H", payload, offset)
    end = offset + 2 + length
    if end > len(payload):
        raise ValueError("string past the payload")
    return payload[offset + 2:end].decode("utf-8", "replace"), end


# Ports are leased as the C++ tests lease theirs (tests/support/daemon.h):
# one locked byte per port in this file, by any process, while a program
# is told the port and until it listens; ports come from below the range
# the OS picks from, so no OS-chosen port takes them meanwhile.
LEASE_FILE = "/tmp/tandrel-test-ports.lock"
LOWEST_LEASED_PORT = 10000


def ephemeral_low():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


def bindable(port):
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("", port))
            return True
        except OSError:
            return False


class PortLease:
    def __init__(self):
        self.fd = os.open(LEASE_FILE, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o666)
        self.port = 0
        first, last = LOWEST_LEASED_PORT, ephemeral_low() - 1
        span = last - first + 1
        start = random.randrange(span)
        for i in range(span):
            candidate = first + (start + i) % span
            try:
                fcntl.lockf(self.fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, candidate, os.SEEK_SET)
            except OSError:
                continue
            if bindable(candidate):
                self.port = candidate
                return
            fcntl.lockf(self.fd, fcntl.LOCK_UN, 1, candidate, os.SEEK_SET)
        raise RuntimeError("no port could be leased")

    def release(self):
        if self.fd >= 0:
            os.close(self.fd)
            self.fd = -1


def client_status(payload):
    """The fields of a client status payload, read one by one."""
    fields = {}
    offset = 0

    def take(fmt):
        nonlocal offset
        values = struct.unpack_from("<" + fmt, payload, offset)
        offset += struct.calcsize("<" + fmt)
        return values[0] if len(values) == 1 else values

    def text():
        nonlocal offset
        value, offset = read_string(payload, offset)
        return value

    fields["version"] = take("H")
    fields["download_limit"], fields["upload_limit"] = take("ff")
    fields["door_port"], fields["max_connections_low"] = take("HH")
    fields["nickname"], fields["temp"], fields["incoming"] = text(), text(), text()
    fields["zeros"] = take("BBB")
    fields["pm_allow"], fields["save_cor"], fields["verify_cancel"] = take("BBB")
    fields["admin_port"] = take("H")
    fields["max_connections"], fields["build_date"], fields["line_speed"], fields["pid"] = take("IIII")
    fields["rest"] = payload[offset:]
    return fields


class Controller:
    """One controller connection with its own frame reader."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=STEP_S)
        self.buffer = b""
        self.closed = False

    def send(self, data):
        self.sock.sendall(data)

    def login(self, name="u", password="p"):
        self.send(frame(LOGIN, string(name) + string(password)))

    def _fill(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return False
        self.sock.settimeout(remaining)
        try:
            data = self.sock.recv(65536)
        except socket.timeout:
            return False
        except ConnectionResetError:
            data = b""
        if not data:
            self.closed = True
            return False
        self.buffer += data
        return True

    def next_frame(self, timeout=STEP_S):
        """(opcode, payload) of the next frame, or None at close or time-out.
        The frames of the start-up hashing of shared files, which come at
        the hashing thread's own pace, are passed over."""
        deadline = time.monotonic() + timeout
        while True:
            if len(self.buffer) >= 6:
                marker, length = struct.unpack_from("<BI", self.buffer)
                if marker != MARKER or length < 1:
                    raise ValueError("bad frame header %r" % self.buffer[:5])
                if len(self.buffer) >= 5 + length:
                    opcode = self.buffer[5]
                    payload = self.buffer[6:5 + length]
                    self.buffer = self.buffer[5 + length:]
                    if (opcode, payload) not in HASHING_PROGRESS and opcode != STATUS_TEXT:
                        return opcode, payload
                    continue
            if self.closed or not self._fill(deadline):
                return None

    def frames_until_quiet(self, quiet=1.0):
        """Every frame that arrives until none comes for `quiet` seconds."""
        frames = []
        while True:
            got = self.next_frame(quiet)
            if got is None:
                return frames
            frames.append(got)

    def wait_closed(self, timeout=STEP_S):
        """True when the client closes the connection; frames are skipped."""
        deadline = time.monotonic() + timeout
        while not self.closed:
            self.buffer = b""
            if not self._fill(deadline) and not self.closed:
                return False
        return True

    def texts(self, frames):
        return [read_string(payload)[0] for opcode, payload in frames if opcode == CONSOLE_TEXT]

    def close(self):
        self.sock.close()


class Tandrel:
    """A tandrel process in its own directory, headless under remote control."""

    def __init__(self, args, console=False, keep_lease=False):
        self.dir = tempfile.TemporaryDirectory(prefix="tandrel-remote-")
        self.proc = None
        self.lease = None
        for _attempt in range(5):
            lease = PortLease()
            self.port = lease.port
            argv = [TANDREL] + [a.replace("{port}", str(self.port)) for a in args]
            self.proc = subprocess.Popen(argv, cwd=self.dir.name,
                                         stdin=subprocess.PIPE if console else subprocess.DEVNULL,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            opened = self._door_opens()
            if opened and keep_lease:
                self.lease = lease  # the port is needed again later
            else:
                lease.release()
            if opened:
                return
            self.stop()  # it could not listen there: another port
        raise RuntimeError("the administration door never opened")

    def _door_opens(self):
        deadline = time.monotonic() + STEP_S
        while time.monotonic() < deadline and self.proc.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.05)
        return False

    def controller(self):
        return Controller(self.port)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def wait(self, timeout=STEP_S):
        """Exit status, stdout and stderr; None as status on time-out."""
        try:
            out, err = self.proc.communicate(timeout=timeout)
            return self.proc.returncode, out.decode(errors="replace"), err.decode(errors="replace")
        except subprocess.TimeoutExpired:
            return None, "", ""

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate()

    def shutdown(self):
        """Ends the process through a controller; its status and output."""
        c = self.controller()
        c.login()
        c.send(frame(SHUTDOWN))
        result = self.wait()
        c.close()
        return result

    def cleanup(self):
        self.stop()
        if self.lease:
            self.lease.release()
        self.dir.cleanup()


HEADLESS = ["aport {port}", "pass u p", "-", "!"]


class RemoteControl(unittest.TestCase):
    def start(self, args=HEADLESS, console=False, keep_lease=False):
        t = Tandrel(args, console, keep_lease)
        self.addCleanup(t.cleanup)
        return t

    def test_empty_settings_refuse_every_login(self):
        t = self.start(["aport {port}", "-", "!"])
        for name, password in (("", ""), ("u", "p")):
            c = t.controller()
            c.login(name, password)
            self.assertTrue(c.wait_closed(), (name, password))
            self.assertEqual(c.buffer, b"")
            c.close()
        # Nobody can log in, so the process is ended by a signal here.
        t.proc.terminate()
        status, out, _ = t.wait()
        self.assertEqual(status, 0)
        self.assertEqual(out.count("Invalid name and pass"), 2)

    def test_login_table(self):
        t = self.start(["aport {port}", "pass u p", "line 12.5", "dumax 30 10", "-", "!"])
        refused = [
            ("wrong password", frame(LOGIN, string("u") + string("x"))),
            ("another opcode first", frame(GET_STATUS)),
            # A first frame announcing more than the largest login: closed
            # before the body is read.
            ("oversized first length", struct.pack("<BIB", MARKER, LARGEST_LOGIN + 1, LOGIN)),
        ]
        for name, data in refused:
            c = t.controller()
            c.send(data)
            self.assertTrue(c.wait_closed(), name)
            c.close()

        # A connection that never logs in is dropped after the limit.
        silent = t.controller()
        self.assertTrue(silent.wait_closed(timeout=25), "silent connection")
        silent.close()

        first = t.controller()
        first.login()
        opcode, payload = first.next_frame()
        self.assertEqual(opcode, CLIENT_STATUS)
        status = client_status(payload)
        self.assertEqual(status["version"], 1050)
        self.assertEqual((status["download_limit"], status["upload_limit"]), (30.0, 10.0))
        self.assertEqual(status["door_port"], 4662)
        self.assertEqual(status["max_connections"], 45)
        self.assertEqual(status["max_connections_low"], 45)
        self.assertEqual(len(status["nickname"]), 5)
        self.assertTrue(status["temp"].endswith("/temp"), status["temp"])
        self.assertTrue(status["incoming"].endswith("/incoming"), status["incoming"])
        self.assertEqual(status["zeros"], (0, 0, 0))
        self.assertEqual((status["pm_allow"], status["save_cor"], status["verify_cancel"]), (0, 1, 1))
        self.assertEqual(status["admin_port"], t.port)
        date = status["build_date"]
        self.assertGreaterEqual(date >> 16, 24)
        self.assertIn((date >> 8) & 0xFF, range(1, 13))
        self.assertIn(date & 0xFF, range(1, 32))
        self.assertEqual(status["line_speed"], 12)
        self.assertEqual(status["pid"], t.proc.pid)
        self.assertEqual(status["rest"], b"")
        # Without downloads or upload slots nothing else follows.
        first.send(frame(COMMAND, string("echo attached")))
        self.assertEqual(first.frames_until_quiet(), [(CONSOLE_TEXT, string("attached"))])
        first.send(frame(GET_STATUS))
        self.assertEqual(first.frames_until_quiet(), [(CLIENT_STATUS, payload)])

        second = t.controller()
        second.login()
        self.assertTrue(second.wait_closed(), "second controller")
        self.assertEqual(second.buffer, b"")
        second.close()
        self.assertIn("Another Control attempt", first.texts(first.frames_until_quiet()))
        first.close()

        status, out, _ = t.shutdown()
        self.assertEqual(status, 0)
        self.assertIn("Invalid name and pass", out)
        self.assertIn("Another Control attempt", out)

    def test_commands_reach_the_console_and_the_controller(self):
        t = self.start()
        c = t.controller()
        c.login()
        self.assertEqual(c.next_frame()[0], CLIENT_STATUS)
        c.send(frame(COMMAND, string("echo hello")))
        frames = c.frames_until_quiet()
        self.assertEqual(frames, [(CONSOLE_TEXT, string("hello"))])

        # An unknown opcode and the push switches keep the connection.
        for opcode in (250, 212, DOWNLOAD_STATUS_ON, UPLOAD_STATUS_ON, UPLOAD_STATUS_OFF):
            c.send(frame(opcode))
        c.send(frame(COMMAND, string("echo still here")))
        self.assertIn("still here", c.texts(c.frames_until_quiet()))

        # A payload shorter than its fields drops only that connection: a
        # new controller can attach, and the client goes on.
        c.send(frame(COMMAND, struct.pack("<H", 10) + b"ec"))
        self.assertTrue(c.wait_closed())
        c.close()
        again = t.controller()
        again.login()
        again.send(frame(COMMAND, string("echo back")))
        self.assertIn("back", again.texts(again.frames_until_quiet()))

        again.send(frame(SHUTDOWN))
        status, out, err = t.wait()
        again.close()
        self.assertEqual(status, 0, err)
        self.assertEqual(out.splitlines().count("hello"), 1)
        self.assertIn("still here", out)

    def test_shutdown_saves_the_admin_options_and_ends_the_log(self):
        t = self.start(["aport {port}", "pass u p", "-", "!"])
        c = t.controller()
        c.login()
        started = time.monotonic()
        c.send(frame(SHUTDOWN))
        status, _, err = t.wait()
        c.close()
        self.assertEqual(status, 0, err)
        self.assertLess(time.monotonic() - started, STEP_S)
        with open(t.path("log.txt")) as log:
            lines = log.read().splitlines()
        self.assertTrue(lines[-1].endswith("]: End Tandrel"), lines)
        with open(t.path("pref.met"), "rb") as pref:
            data = pref.read()
        for key in (b"adminDoorPort", b"adminName", b"adminPass"):
            self.assertIn(key, data)
        self.assertIn(struct.pack("<H", t.port), data)

    def test_q_from_the_controller_shuts_down_without_a_question(self):
        t = self.start()
        c = t.controller()
        c.login()
        c.send(frame(COMMAND, string("q")))
        status, out, err = t.wait()
        c.close()
        self.assertEqual(status, 0, err)
        self.assertNotIn("Are you sure", out)

    def test_paged_console_output_reaches_the_controller_once(self):
        # With a console: a typed listing is collected for paging and shown
        # through the console's own gateway, so the controller gets each
        # line once.
        t = self.start(["aport {port}", "pass u p", "-"], console=True)
        c = t.controller()
        c.login()
        c.send(frame(COMMAND, string("echo attached")))
        self.assertIn("attached", c.texts(c.frames_until_quiet()))
        t.proc.stdin.write(b"?\n")
        t.proc.stdin.flush()
        texts = c.texts(c.frames_until_quiet())
        self.assertEqual(sum("Print help" in text for text in texts), 1, texts)
        t.proc.stdin.close()  # end of input: the orderly shutdown
        t.proc.stdin = None
        status, out, err = t.wait()
        c.close()
        self.assertEqual(status, 0, err)
        self.assertEqual(out.count("Print help"), 1)

    def test_second_start_loads_the_settings(self):
        t = self.start(["aport {port}", "pass u p", "-", "!"], keep_lease=True)
        status, _, _ = t.shutdown()
        self.assertEqual(status, 0)
        # The same directory again, with no settings on the command line.
        argv = [TANDREL, "aport", "-", "!"]
        proc = subprocess.Popen(argv, cwd=t.dir.name, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        t.proc = proc
        self.assertTrue(t._door_opens())
        status, out, err = t.shutdown()
        self.assertEqual(status, 0, err)
        self.assertIn(str(t.port), out.splitlines())


def main():
    global TANDREL
    parser = argparse.ArgumentParser()
    parser.add_argument("--tandrel", required=True)
    args, rest = parser.parse_known_args()
    TANDREL = os.path.abspath(args.tandrel)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
