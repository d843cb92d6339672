"""A peer on 127.0.0.1 that serves one file to a real tandrel downloader
over the client-to-client protocol, with knobs to make it misbehave: the
downloader connects to it (its link names s=bcp://127.0.0.1:<port>|, or
"adds <n> 127.0.0.1 <port>"), and it answers as an uploader would.

    peer = ScriptedPeer(data, "two parts.bin", gives_hash_set=False, flipped={10})
    peer.start()
    instance.ask("dllink " + peer.link(), "Downloading: two parts.bin")
    ...
    peer.configure(gives_hash_set=True, flipped=())
    peer.stop()

It answers the hello (with a check code that verifies), the file-name and
file-status requests (every crumb), an upload request with a slot at once,
partner requests with a refusal, part requests with data messages (a
range at a time, in pieces of PIECE bytes, with the bytes at the flipped
offsets changed), and hash-set requests with part and crumb hashes unless
it withholds them. A request repeats the ranges still on their way with
new ones; only the new ones are sent.

Its hello carries "pr" 1: the downloader asks for the hash set with
crumb hashes and takes a file status of crumbs.

With hold_last, the range that completes what the downloader has asked for
(the last bytes it lacks), and whatever it asks for after it, wait for
release(). Not a fixed offset: the downloader takes ranges in an order of
its own and asks for more only as the first one it asked for comes in, so
an early range held back would stop it before the rest had come.

One thread serves every connection (the downloader may come back on a new
one) until stop(). The counters (hash_set_requests, sent, received) are
read through snapshot() or under the lock.
"""

import os
import selectors
import socket
import struct
import threading
import urllib.parse

from swarm import PART_SIZE, PortLease, md4_function

CRUMB_SIZE = 486_400
PIECE = 65_536           # data bytes per data message
OUTBOX_LOW = 2 * PIECE   # the next piece is cut once less than this waits
MAX_FRAME = 4 << 20      # what the program accepts; a longer frame drops the connection

FRAME_MARKER = 0xE3
HELLO = 1
DATA = 70
PART_REQUEST = 71
HELLO_ANSWER = 76
FILE_STATUS_REQUEST = 79
FILE_STATUS = 80
UPLOAD_REQUEST = 84
SLOT_OPEN = 85
FILE_NAME_REQUEST = 88
FILE_NAME = 89
PING = 98
PONG = 99
PARTNER_REQUEST = 101
PARTNER_REFUSED = 102
FILE_META = 104
FILE_META_REQUEST = 105

NAME_TAG_ID = 1  # the special tag of the nickname: its name is this one byte
TAG_STRING = 2
TAG_INT = 3


def check_trailer(message, seed):
    """Writes the check code into the last 4 bytes of the message (a
    bytearray, from its opcode on), seeded with a TCP port as signed 16-bit;
    whether the bytes there were that code already."""
    x = seed - 0x10000 if seed >= 0x8000 else seed
    prev, cur, ok = 0, message[0], True
    n = len(message)
    for i in range(n - 1):
        v = x * 4637 + 2803
        x = v % 255 if v >= 0 else -(-v % 255)  # C's truncating remainder
        cur = ((((prev + cur) & 0xFF) ^ ((message[i] + 7741) % 255)) - x) & 0xFF
        prev = cur
        if i + 5 >= n:
            ok = ok and message[i + 1] == cur
            message[i + 1] = cur
    return ok


def frame(opcode, payload=b""):
    return struct.pack("<BIB", FRAME_MARKER, 1 + len(payload), opcode) + payload


def _text(value):
    data = value.encode()
    return struct.pack("<H", len(data)) + data


def _tag(kind, name, value):
    return struct.pack("<BH", kind, len(name)) + name + value


def digests(data, md4=None):
    """The file hash and the hash sets as a hash-set answer carries them:
    with 2 parts or more a flag 1 and the part hashes, with 2 crumbs or
    more a flag 1 and the crumb hashes (the first 8 bytes of each crumb's
    MD4)."""
    md4 = md4 or md4_function()
    parts = [md4(data[at:at + PART_SIZE]) for at in range(0, len(data), PART_SIZE)]
    crumbs = [md4(data[at:at + CRUMB_SIZE])[:8] for at in range(0, len(data), CRUMB_SIZE)]
    sets = b""
    if len(parts) >= 2:
        sets += b"\x01" + b"".join(parts)
    if len(crumbs) >= 2:
        sets += b"\x01" + b"".join(crumbs)
    file_hash = md4(b"".join(parts)) if len(parts) >= 2 else md4(data)
    return file_hash, sets


def covered(ranges):
    """How many bytes the (start, end) ranges cover together."""
    total, reach = 0, 0
    for start, end in sorted(ranges):
        start = max(start, reach)
        if end > start:
            total += end - start
            reach = end
    return total


class _Connection:
    def __init__(self, sock, number):
        self.sock = sock
        self.number = number
        self.inbox = b""
        self.outbox = bytearray()
        self.queue = []        # [start, end, next offset] to send, in order
        self.last_asked = []   # the ranges of the previous part request
        self.held = []         # ranges waiting for release()
        self.closed = False


class ScriptedPeer:
    def __init__(self, data, name, gives_hash_set=True, flipped=(), hold_last=False,
                 nickname="scripted", md4=None):
        if isinstance(data, str):
            with open(data, "rb") as f:
                data = f.read()
        self.data = bytes(data)
        self.name = name
        self.file_hash, self._hash_sets = digests(self.data, md4)
        self.crumbs = (len(self.data) + CRUMB_SIZE - 1) // CRUMB_SIZE
        self.lock = threading.Lock()
        self.gives_hash_set = gives_hash_set
        self.flipped = frozenset(flipped)
        self.hold_last = hold_last
        self._released = False
        # What was asked and sent.
        self.hash_set_requests = 0
        self.sent = []         # (start, end) of every data message, in order
        self.received = []     # per connection, the opcodes (a run of part requests once)
        self._asked = []       # every range asked for, for hold_last
        self._lease = PortLease()
        self.port = self._lease.port
        self._user_hash = os.urandom(16)
        self._nickname = nickname
        self._listener = None
        self._thread = None
        self._stopping = threading.Event()
        self._connections = []

    # Control ---------------------------------------------------------------
    def start(self):
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind(("127.0.0.1", self.port))
        self._listener.listen(8)
        self._listener.setblocking(False)
        self._thread = threading.Thread(target=self._run, name="scripted peer %d" % self.port, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self._stopping.set()
        if self._thread:
            self._thread.join(10)
        for c in self._connections:
            c.sock.close()
        self._connections = []
        if self._listener:
            self._listener.close()
            self._listener = None
        self._lease.release()

    def configure(self, **knobs):
        """Changes gives_hash_set, flipped or hold_last while it runs."""
        with self.lock:
            for knob, value in knobs.items():
                if knob not in ("gives_hash_set", "flipped", "hold_last"):
                    raise TypeError("no knob " + knob)
                setattr(self, knob, frozenset(value) if knob == "flipped" else value)

    def release(self):
        """Sends the held ranges, and from now on whatever is asked."""
        with self.lock:
            self._released = True
            for c in self._connections:
                c.queue += [[start, end, start] for start, end in c.held]
                c.held = []

    def held(self):
        """The ranges held back on the open connections."""
        with self.lock:
            return [r for c in self._connections for r in c.held]

    def snapshot(self):
        """The counters at this moment: hash-set requests, bytes sent, the
        ranges of the data messages and the opcodes of each connection."""
        with self.lock:
            return {"hash_set_requests": self.hash_set_requests,
                    "bytes_sent": sum(end - start for start, end in self.sent),
                    "sent": list(self.sent),
                    "received": [list(r) for r in self.received]}

    def link(self):
        """The file link, without part hashes, naming this peer as source."""
        return "vxt4://|file|%s|%d|%s|s=bcp://127.0.0.1:%d|" % (
            urllib.parse.quote(self.name), len(self.data), self.file_hash.hex(), self.port)

    def report(self):
        s = self.snapshot()
        return ("== scripted peer on port %d: %d hash-set requests, %d bytes sent, held %s\n"
                "  opcodes per connection: %s" % (self.port, s["hash_set_requests"], s["bytes_sent"],
                                                  self.held(), s["received"]))

    # The serving thread ------------------------------------------------------
    def _run(self):
        selector = selectors.DefaultSelector()
        selector.register(self._listener, selectors.EVENT_READ)
        try:
            while not self._stopping.is_set():
                for c in list(self._connections):
                    with self.lock:
                        sending = bool(c.outbox or c.queue)
                    events = selectors.EVENT_READ | (selectors.EVENT_WRITE if sending else 0)
                    if selector.get_key(c.sock).events != events:
                        selector.modify(c.sock, events, c)
                for key, events in selector.select(timeout=0.05):
                    if key.fileobj is self._listener:
                        self._accept(selector)
                        continue
                    if events & selectors.EVENT_READ:
                        self._read(selector, key.data)
                    if events & selectors.EVENT_WRITE and not key.data.closed:
                        self._write(selector, key.data)
        finally:
            selector.close()

    def _accept(self, selector):
        try:
            sock, _ = self._listener.accept()
        except BlockingIOError:
            return
        sock.setblocking(False)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with self.lock:
            c = _Connection(sock, len(self.received))
            self.received.append([])
            self._connections.append(c)
        selector.register(sock, selectors.EVENT_READ, c)

    def _close(self, selector, c):
        selector.unregister(c.sock)
        c.sock.close()
        c.closed = True
        with self.lock:
            self._connections.remove(c)

    def _read(self, selector, c):
        try:
            got = c.sock.recv(1 << 16)
        except BlockingIOError:
            return
        except OSError:
            got = b""
        if not got:
            self._close(selector, c)
            return
        c.inbox += got
        while len(c.inbox) >= 5:
            marker, length = struct.unpack_from("<BI", c.inbox)
            if marker != FRAME_MARKER or length == 0 or length > MAX_FRAME:
                self._close(selector, c)
                return
            if len(c.inbox) < 5 + length:
                break
            opcode, payload = c.inbox[5], c.inbox[6:5 + length]
            c.inbox = c.inbox[5 + length:]
            with self.lock:
                self._answer(c, opcode, payload)

    def _answer(self, c, opcode, payload):
        seen = self.received[c.number]
        if opcode != PART_REQUEST or not seen or seen[-1] != PART_REQUEST:
            seen.append(opcode)
        hash_field = self.file_hash
        if opcode == HELLO:
            c.outbox += self._hello_answer()
        elif opcode == FILE_NAME_REQUEST:
            c.outbox += frame(FILE_NAME, hash_field + _text(self.name))
        elif opcode == FILE_STATUS_REQUEST:
            c.outbox += frame(FILE_STATUS, hash_field + struct.pack("<H", self.crumbs)
                              + b"\xff" * (self.crumbs // 8 + 1))
        elif opcode == UPLOAD_REQUEST:
            c.outbox += frame(SLOT_OPEN)
        elif opcode == PARTNER_REQUEST:
            c.outbox += frame(PARTNER_REFUSED, hash_field)
        elif opcode == PING:
            c.outbox += frame(PONG)
        elif opcode == FILE_META_REQUEST:
            self.hash_set_requests += 1
            if self.gives_hash_set:
                c.outbox += frame(FILE_META, hash_field + self._hash_sets)
        elif opcode == PART_REQUEST and len(payload) == 16 + 24:
            self._ask(c, payload)

    def _hello_answer(self):
        user = (self._user_hash + socket.inet_aton("127.0.0.1") + struct.pack("<HI", self.port, 2)
                + _tag(TAG_STRING, bytes([NAME_TAG_ID]), _text(self._nickname))
                + _tag(TAG_INT, b"pr", struct.pack("<i", 1)))  # speaks crumb maps and hash sets
        message = bytearray([HELLO_ANSWER]) + user + struct.pack("<IH", 0, 0) + bytes(4)
        check_trailer(message, self.port)
        return frame(message[0], bytes(message[1:]))

    def _ask(self, c, payload):
        fields = struct.unpack_from("<6I", payload, 16)
        asked = [(s, e) for s, e in zip(fields[:3], fields[3:]) if s < e <= len(self.data)]
        for r in asked:
            if r in c.last_asked:
                continue  # still on its way
            self._asked.append(r)
            if self.hold_last and not self._released and covered(self._asked) >= len(self.data):
                c.held.append(r)
            else:
                c.queue.append([r[0], r[1], r[0]])
        c.last_asked = asked

    def _write(self, selector, c):
        with self.lock:
            while len(c.outbox) < OUTBOX_LOW and c.queue:
                c.outbox += self._next_piece(c.queue)
            if not c.outbox:
                return
            pending = bytes(c.outbox)
        try:
            n = c.sock.send(pending)
        except BlockingIOError:
            return
        except OSError:
            self._close(selector, c)
            return
        with self.lock:
            del c.outbox[:n]

    def _next_piece(self, queue):
        head = queue[0]
        start, end = head[2], min(head[1], head[2] + PIECE)
        piece = bytearray(self.data[start:end])
        for offset in self.flipped:
            if start <= offset < end:
                piece[offset - start] ^= 0x01
        head[2] = end
        if end == head[1]:
            queue.pop(0)
        self.sent.append((start, end))
        return frame(DATA, self.file_hash + struct.pack("<II", start, end) + bytes(piece))
