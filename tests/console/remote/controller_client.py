"""A small remote controller for the tests of this directory: its own
reading of frames, strings and records, and tandrel processes run headless
under remote control in temporary directories on 127.0.0.1.

Frames, strings and records are read and written here independently of
the client's own code. Each test script sets TANDREL (the program's path)
through main().
"""
import argparse
import os
import random
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

# Port leases and pref.met come from the harness of the multi-instance tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "swarm"))
from swarm import PortLease, pref_met  # noqa: E402

TANDREL = None
MARKER = 0xE3

# Controller to client.
LOGIN, SHUTDOWN, COMMAND = 100, 101, 102
SEARCH, DOWNLOAD_RESULT = 202, 207
PAUSE, RESUME, CANCEL, PRIORITY = 208, 209, 210, 211
GET_SHARED_DIRS = 215
DOWNLOAD_STATUS_ON, DOWNLOAD_STATUS_OFF = 217, 218
UPLOAD_STATUS_ON, UPLOAD_STATUS_OFF = 219, 220
GET_SHARED_FILES, GET_STATUS, DOWNLOAD = 224, 225, 226
GET_PART_MAP, GET_DISK_INFO, SHARE_PRIORITY = 227, 228, 229
# Client to controller.
SHARED_DIRS, SHARED_FILES, PART_MAP, DISK_INFO = 172, 173, 174, 175
CONSOLE_TEXT, ERROR_TEXT = 180, 181
SEARCH_RESULT = 186
DOWNLOAD_ADDED, DOWNLOAD_REMOVED = 188, 189
UPLOAD_SLOT_REMOVED = 193
STATUS_TEXT = 195
DOWNLOAD_STATUS = 197
CLIENT_STATUS = 199
UPLOAD_STATUS, UPLOAD_SLOT = 200, 201
LARGEST_LOGIN = 1 + 2 * (2 + 65535)

# How long a step of a test may take before it counts as hung.
STEP_S = 10.0

# Tag types and the special tags used here (one-byte names).
TAG_HASH, TAG_STRING, TAG_INT, TAG_FLOAT, TAG_BOOL, TAG_BITS, TAG_BLOB, TAG_64 = range(1, 9)
ST_NAME, ST_SIZE, ST_UPLOAD_PRIORITY = 1, 2, 19


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


def tag(kind, name, value):
    """One tag: type, name (a special tag's name is its id byte), value."""
    name = bytes([name]) if isinstance(name, int) else name.encode()
    if kind == TAG_STRING:
        body = string(value)
    elif kind == TAG_INT:
        body = struct.pack("<i", value)
    else:
        raise ValueError("tag type %d not written here" % kind)
    return bytes([kind]) + struct.pack("<H", len(name)) + name + body


def meta(tags):
    return struct.pack("<I", len(tags)) + b"".join(tags)


def read_meta(payload, offset):
    """The tags of a record ({name: value}; a special tag's name is its id)
    and the offset after them."""
    (count,) = struct.unpack_from("<I", payload, offset)
    offset += 4
    tags = {}
    for _ in range(count):
        kind = payload[offset]
        (length,) = struct.unpack_from("<H", payload, offset + 1)
        raw = payload[offset + 3:offset + 3 + length]
        offset += 3 + length
        name = raw[0] if length == 1 and raw[0] < 32 else raw.decode("utf-8", "replace")
        if kind == TAG_HASH:
            value, offset = payload[offset:offset + 16], offset + 16
        elif kind == TAG_STRING:
            value, offset = read_string(payload, offset)
        elif kind in (TAG_INT, TAG_FLOAT):
            value = struct.unpack_from("<i" if kind == TAG_INT else "<f", payload, offset)[0]
            offset += 4
        elif kind == TAG_BOOL:
            value, offset = payload[offset], offset + 1
        elif kind == TAG_BITS:
            (bits,) = struct.unpack_from("<H", payload, offset)
            size = bits // 8 + 1 if bits else 0
            value, offset = payload[offset + 2:offset + 2 + size], offset + 2 + size
        elif kind == TAG_BLOB:
            (size,) = struct.unpack_from("<I", payload, offset)
            value, offset = payload[offset + 4:offset + 4 + size], offset + 4 + size
        elif kind == TAG_64:
            value, offset = struct.unpack_from("<q", payload, offset)[0], offset + 8
        else:
            raise ValueError("unknown tag type %d" % kind)
        tags.setdefault(name, value)
    return tags, offset


def file_record(file_hash, name, size):
    """A file record's wire form: hash, u32 0, u16 0, the tags."""
    return file_hash + struct.pack("<IH", 0, 0) + meta([tag(TAG_STRING, ST_NAME, name), tag(TAG_INT, ST_SIZE, size)])


def read_file_record(payload, offset=0):
    """(file hash, tags) of a file record's wire form and the offset after it."""
    file_hash = payload[offset:offset + 16]
    tags, offset = read_meta(payload, offset + 22)
    return file_hash, tags, offset


def read_download_added(payload):
    """The fields of a 188 payload."""
    file_hash, tags, offset = read_file_record(payload)
    priority = payload[offset]
    path, offset = read_string(payload, offset + 1)
    (download_id,) = struct.unpack_from("<I", payload, offset)
    if offset + 4 != len(payload):
        raise ValueError("bytes after the download id")
    return {"hash": file_hash, "tags": tags, "priority": priority, "path": path, "id": download_id}


def read_download_status(payload):
    """{id: (status, speed, bytes done, availability, sources)} of a 197 payload."""
    (count,) = struct.unpack_from("<H", payload)
    if len(payload) != 2 + 15 * count:
        raise ValueError("197 of %d entries has %d bytes" % (count, len(payload)))
    entries = {}
    for i in range(count):
        download_id, status, speed, done, available, sources = struct.unpack_from("<IBfIBB", payload, 2 + 15 * i)
        entries[download_id] = (status, speed, done, available, sources)
    return entries


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

    def wait_for(self, opcode, timeout=STEP_S, skip=()):
        """The payload of the next frame of that opcode; frames of the
        opcodes in skip are passed over, any other one fails."""
        deadline = time.monotonic() + timeout
        while True:
            got = self.next_frame(max(0.0, deadline - time.monotonic()))
            if got is None:
                raise AssertionError("no frame %d within %.0f s" % (opcode, timeout))
            if got[0] == opcode:
                return got[1]
            if got[0] not in skip:
                raise AssertionError("frame %d while waiting for %d: %r" % (got[0], opcode, got[1][:64]))

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
    """A tandrel process in its own directory, headless under remote control.

    With peer_ports the directory gets a pref.met naming a leased port for
    the peer door and the overlay (held while the process lives); files
    ({name: bytes}) are put into the incoming directory, which is shared.
    """

    def __init__(self, args, console=False, keep_lease=False, peer_ports=False, files=None):
        self.dir = tempfile.TemporaryDirectory(prefix="tandrel-remote-")
        self.proc = None
        self.lease = None
        self.peer_lease = None
        if peer_ports:
            self.peer_lease = PortLease()
            self.peer_port = self.peer_lease.port
            user_hash = bytes(random.randrange(1, 256) for _ in range(16))
            with open(self.path("pref.met"), "wb") as f:
                f.write(pref_met(user_hash, "remote%d" % self.peer_port,
                                 {"doorPort": self.peer_port, "annexPort": self.peer_port}))
        if files:
            os.makedirs(self.path("incoming"), exist_ok=True)
            for name, data in files.items():
                with open(os.path.join(self.path("incoming"), name), "wb") as f:
                    f.write(data)
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

    def logged_in(self):
        """A controller past its login, with its initial state read:
        (controller, [(opcode, payload), ...])."""
        c = self.controller()
        c.login()
        opcode, payload = c.next_frame()
        if opcode != CLIENT_STATUS:
            raise AssertionError("login answered with %d" % opcode)
        return c, [(opcode, payload)] + c.frames_until_quiet(0.5)

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
        for lease in (self.lease, self.peer_lease):
            if lease:
                lease.release()
        self.dir.cleanup()


HEADLESS = ["aport {port}", "pass u p", "-", "!"]


class RemoteTestCase(unittest.TestCase):
    def start(self, args=HEADLESS, console=False, keep_lease=False, peer_ports=False, files=None):
        t = Tandrel(args, console, keep_lease, peer_ports, files)
        self.addCleanup(t.cleanup)
        return t

    def attach(self, t):
        """A logged-in controller of t, closed after the test, and its
        initial state."""
        c, initial = t.logged_in()
        self.addCleanup(c.close)
        return c, initial


def main():
    global TANDREL
    parser = argparse.ArgumentParser()
    parser.add_argument("--tandrel", required=True)
    args, rest = parser.parse_known_args()
    TANDREL = os.path.abspath(args.tandrel)
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)
