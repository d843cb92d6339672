"""Runs real tandrel processes on 127.0.0.1, each in a directory of its own
with its own identity, door port and overlay port, driven through its
console over pipes. Used by the tests of whole instances (the swarm, the
two-instance download, friends), by the benchmarks, and for its port
leases and pref.met by the remote controller's tests.

    with Swarm(tandrel_path, seed=7) as swarm:
        seed = swarm.add("seed")
        seed.start()
        seed.command("g")                  # the lines the command printed
        seed.poll("g", lambda out: "(open)" in out, 60)

Every wait is bounded; a failed wait raises SwarmError with the last lines
of every instance's output and log.txt (Swarm.report).
"""

import argparse
import fcntl
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

PORT_LOCK_FILE = "/tmp/tandrel-test-ports.lock"  # shared with the C++ tests
# Above the ports a client without a saved "annexPort" picks at random
# (3000-12999), as in the C++ tests.
LOWEST_LEASED_PORT = 13000
WELCOME = "Enter commands at any time"
START_WAIT = 60  # s, start-up under sanitizers on a busy machine


class SwarmError(Exception):
    pass


# --- pref.met -------------------------------------------------------------
# Little-endian: the own user record (IP u32, port u16, user hash, tags) and
# then the options (u32 count, tags). A tag: type byte, u16 name length and
# name, value. Strings are a u16 length and the bytes.

def _text(value):
    data = value.encode()
    return struct.pack("<H", len(data)) + data


def _int_tag(name, value):
    return b"\x03" + _text(name) + struct.pack("<i", value)


def _string_tag(name, value):
    return b"\x02" + _text(name) + _text(value)


def pref_met(user_hash, nickname, options):
    """The bytes of a pref.met: options maps names to int or str values."""
    name_tag = b"\x02" + struct.pack("<H", 1) + b"\x01" + _text(nickname)
    user = struct.pack("<IH", 0, 0) + user_hash + struct.pack("<I", 1) + name_tag
    tags = [_int_tag(k, v) if isinstance(v, int) else _string_tag(k, v)
            for k, v in options.items()]
    return user + struct.pack("<I", len(tags)) + b"".join(tags)


# The bytes of a tag's value after its name, by type: hash, string, int,
# float, bool, bit array (u16 count, count / 8 + 1 bytes unless 0), blob
# (u32 length), 64-bit int.
def _tag_end(data, at):
    """The offset just after the tag at `at`, and the tag's name."""
    try:
        kind = data[at]
        (length,) = struct.unpack_from("<H", data, at + 1)
        name = data[at + 3:at + 3 + length]
        at += 3 + length
        if kind == 2:
            at += 2 + struct.unpack_from("<H", data, at)[0]
        elif kind == 6:
            count = struct.unpack_from("<H", data, at)[0]
            at += 2 + (count // 8 + 1 if count else 0)
        elif kind == 7:
            at += 4 + struct.unpack_from("<I", data, at)[0]
        else:
            at += {1: 16, 3: 4, 4: 4, 5: 1, 8: 8}[kind]
    except (IndexError, KeyError, struct.error):
        raise SwarmError("pref.met: a tag cut short or of an unknown type at byte %d" % at)
    if at > len(data):
        raise SwarmError("pref.met: a tag runs past the end of the file")
    return at, name


def set_int_options(path, options):
    """Sets integer options in the pref.met at path, as the program would:
    a tag of that name is replaced, a new one added; the rest is kept."""
    with open(path, "rb") as f:
        data = f.read()
    at = 4 + 2 + 16  # the own user record: IP, port, user hash
    try:
        (count,) = struct.unpack_from("<I", data, at)
        at += 4
        for _ in range(count):
            at, _ = _tag_end(data, at)
        (count,) = struct.unpack_from("<I", data, at)
    except struct.error:
        raise SwarmError("pref.met cut short")
    head = data[:at]
    at += 4
    left = {name.encode(): value for name, value in options.items()}
    tags = []
    for _ in range(count):
        end, name = _tag_end(data, at)
        tags.append(_int_tag(name.decode(), left.pop(name)) if name in left else data[at:end])
        at = end
    tags += [_int_tag(name.decode(), value) for name, value in left.items()]
    with open(path, "wb") as f:
        f.write(head + struct.pack("<I", len(tags)) + b"".join(tags) + data[at:])


# --- MD4 and the file hash --------------------------------------------------

PART_SIZE = 9_728_000


def _md4_python(data):
    def rotl(x, n):
        return ((x << n) | (x >> (32 - n))) & 0xFFFFFFFF
    msg = bytearray(data)
    bit_len = (8 * len(data)) & 0xFFFFFFFFFFFFFFFF
    msg.append(0x80)
    msg.extend(b"\0" * ((56 - len(msg) % 64) % 64))
    msg.extend(struct.pack("<Q", bit_len))
    a, b, c, d = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    for off in range(0, len(msg), 64):
        x = struct.unpack_from("<16I", msg, off)
        aa, bb, cc, dd = a, b, c, d
        for i in (0, 4, 8, 12):
            a = rotl((a + ((b & c) | (~b & d)) + x[i]) & 0xFFFFFFFF, 3)
            d = rotl((d + ((a & b) | (~a & c)) + x[i + 1]) & 0xFFFFFFFF, 7)
            c = rotl((c + ((d & a) | (~d & b)) + x[i + 2]) & 0xFFFFFFFF, 11)
            b = rotl((b + ((c & d) | (~c & a)) + x[i + 3]) & 0xFFFFFFFF, 19)
        for i in (0, 1, 2, 3):
            a = rotl((a + ((b & c) | (b & d) | (c & d)) + x[i] + 0x5A827999) & 0xFFFFFFFF, 3)
            d = rotl((d + ((a & b) | (a & c) | (b & c)) + x[i + 4] + 0x5A827999) & 0xFFFFFFFF, 5)
            c = rotl((c + ((d & a) | (d & b) | (a & b)) + x[i + 8] + 0x5A827999) & 0xFFFFFFFF, 9)
            b = rotl((b + ((c & d) | (c & a) | (d & a)) + x[i + 12] + 0x5A827999) & 0xFFFFFFFF, 13)
        for i in (0, 2, 1, 3):
            a = rotl((a + (b ^ c ^ d) + x[i] + 0x6ED9EBA1) & 0xFFFFFFFF, 3)
            d = rotl((d + (a ^ b ^ c) + x[i + 8] + 0x6ED9EBA1) & 0xFFFFFFFF, 9)
            c = rotl((c + (d ^ a ^ b) + x[i + 4] + 0x6ED9EBA1) & 0xFFFFFFFF, 11)
            b = rotl((b + (c ^ d ^ a) + x[i + 12] + 0x6ED9EBA1) & 0xFFFFFFFF, 15)
        a, b, c, d = [(v + w) & 0xFFFFFFFF for v, w in ((a, aa), (b, bb), (c, cc), (d, dd))]
    return struct.pack("<4I", a, b, c, d)


def _openssl_md4():
    """A function hashing bytes with the openssl program, or None."""
    for extra in (["-provider", "legacy", "-provider", "default"], []):
        command = ["openssl", "dgst", "-md4", "-binary"] + extra
        try:
            probe = subprocess.run(command, input=b"abc", capture_output=True, timeout=20)
        except (OSError, subprocess.TimeoutExpired):
            return None
        if probe.returncode == 0 and probe.stdout.hex() == "a448017aaf21d8525fc10ae87aa6729d":
            return lambda data, c=command: subprocess.run(
                c, input=data, capture_output=True, check=True, timeout=120).stdout
    return None


def md4_function():
    """The MD4 used to check files: openssl when it has MD4, else Python."""
    return _openssl_md4() or _md4_python


def file_hash(path, md4=None):
    """The network's file hash: MD4 of the data when the file has at most
    one part, else the MD4 of the part hashes (parts of 9,728,000 bytes)."""
    md4 = md4 or md4_function()
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        if size <= PART_SIZE:
            return md4(f.read())
        hashes = [md4(f.read(PART_SIZE)) for _ in range((size + PART_SIZE - 1) // PART_SIZE)]
    return md4(b"".join(hashes))


def random_file(path, size, seed):
    """size random bytes from the seed; the same seed gives the same file."""
    generator = random.Random(seed)
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(left, 1 << 20)
            f.write(generator.randbytes(n))
            left -= n


# --- ports ------------------------------------------------------------------

# Ports are leased as the C++ tests lease theirs (tests/support/daemon.h):
# one byte of the lock file per port, locked while the lease is held, by any
# process; ports come from below the range the OS picks from, so no
# OS-chosen port takes them meanwhile. The locks are the process's own
# record locks on one descriptor, opened once and never closed (closing any
# descriptor of the file would drop them all), so the leases of this process
# are told apart in a set.
_lease_guard = threading.Lock()
_lease_fd = None
_leased = set()


def _lease_range():
    low, high = 32768, 60999
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            a, b = (int(v) for v in f.read().split()[:2])
        if 0 < a <= b:
            low, high = a, b
    except (OSError, ValueError):
        pass
    if low - 1 - LOWEST_LEASED_PORT < 1000:
        return high + 1, 65535
    return LOWEST_LEASED_PORT, low - 1


def _bindable(port):
    """Whether the port can be bound for TCP and UDP on every local address
    (which also fails while anything is bound to 127.0.0.1:port or lingers
    on it)."""
    for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
        with socket.socket(socket.AF_INET, kind) as s:
            try:
                s.bind(("", port))
            except OSError:
                return False
    return True


class PortLease:
    """A port free for TCP and UDP that no other lease, in any process, hands
    out until release(). Hold it until the program told the port listens."""

    def __init__(self, generator=random):
        global _lease_fd
        first, last = _lease_range()
        span = last - first + 1
        start = generator.randrange(span)
        self.port = 0
        with _lease_guard:
            if _lease_fd is None:
                _lease_fd = os.open(PORT_LOCK_FILE, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o666)
            for i in range(span):
                port = first + (start + i) % span
                if port in _leased:
                    continue
                try:
                    fcntl.lockf(_lease_fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, port, os.SEEK_SET)
                except OSError:
                    continue
                if _bindable(port):
                    _leased.add(port)
                    self.port = port
                    return
                fcntl.lockf(_lease_fd, fcntl.LOCK_UN, 1, port, os.SEEK_SET)
        raise SwarmError("no free port")

    def release(self):
        with _lease_guard:
            if self.port in _leased:
                fcntl.lockf(_lease_fd, fcntl.LOCK_UN, 1, self.port, os.SEEK_SET)
                _leased.discard(self.port)
        self.port = 0


# --- one instance -------------------------------------------------------------

class Instance:
    def __init__(self, swarm, name, port, user_hash):
        self.swarm = swarm
        self.name = name
        self.port = port  # door (TCP) and overlay (UDP) port alike
        self.user_hash = user_hash
        self.dir = os.path.join(swarm.root, name)
        self.incoming = os.path.join(self.dir, "incoming")
        self.temp = os.path.join(self.dir, "temp")
        for d in (self.dir, self.incoming, self.temp):
            os.makedirs(d, exist_ok=True)
        with open(os.path.join(self.dir, "pref.met"), "wb") as f:
            f.write(pref_met(user_hash, name[:20], {
                "doorPort": port, "annexPort": port,
                "incoming": self.incoming, "temp": self.temp}))
        self.process = None
        self._out = ""
        self._err = ""
        self._lock = threading.Condition()
        self._readers = []
        self._markers = 0
        self.started_at = None

    # Output -------------------------------------------------------------
    def _pump(self, stream, attr):
        while True:
            data = stream.read1(65536) if hasattr(stream, "read1") else stream.read(65536)
            if not data:
                break
            with self._lock:
                setattr(self, attr, getattr(self, attr) + data.decode(errors="replace"))
                self._lock.notify_all()
        with self._lock:
            self._lock.notify_all()

    def output(self):
        with self._lock:
            return self._out

    def stderr(self):
        with self._lock:
            return self._err

    def running(self):
        return self.process is not None and self.process.poll() is None

    def wait_for(self, text, timeout, start=0, stream="_out"):
        """The position just after text in stdout (or in the stream named,
        "_err" for stderr), searched from start."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                at = getattr(self, stream).find(text, start)
                if at >= 0:
                    return at + len(text)
                left = deadline - time.monotonic()
                if left <= 0 or (self.process.poll() is not None and not self._alive_readers()):
                    raise SwarmError("%s: no %r within %.0f s" % (self.name, text, timeout))
                self._lock.wait(min(left, 0.2))

    def wait_until(self, predicate, timeout, what):
        """Waits until predicate(everything on stdout so far) is true."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while not predicate(self._out):
                left = deadline - time.monotonic()
                if left <= 0 or (self.process.poll() is not None and not self._alive_readers()):
                    raise SwarmError("%s: no %s within %.0f s" % (self.name, what, timeout))
                self._lock.wait(min(left, 0.2))

    def wait_logged(self, text, timeout):
        """Waits until the instance's log.txt holds the text."""
        deadline = time.monotonic() + timeout
        while text not in self.log():
            if time.monotonic() >= deadline:
                raise SwarmError("%s: no %r in log.txt within %.0f s:\n%s" % (self.name, text, timeout, self.log()))
            time.sleep(0.2)

    def _alive_readers(self):
        return any(t.is_alive() for t in self._readers)

    # Process ------------------------------------------------------------
    def start(self, args=()):
        if self.running():
            raise SwarmError(self.name + " already runs")
        self._out = self._out + "\n---- start ----\n" if self._out else ""
        self.process = subprocess.Popen(
            [self.swarm.tandrel] + list(args), cwd=self.dir, stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
            env=self.swarm.env)
        self.started_at = time.monotonic()
        self._readers = [threading.Thread(target=self._pump, args=(self.process.stdout, "_out"), daemon=True),
                         threading.Thread(target=self._pump, args=(self.process.stderr, "_err"), daemon=True)]
        for t in self._readers:
            t.start()
        return self

    def wait_up(self, timeout=START_WAIT):
        """Waits for the welcome line, printed on stderr once the overlay
        port is bound, the arguments have run and the console reads."""
        self.wait_for(WELCOME, timeout, stream="_err")
        return self

    def write(self, text):
        try:
            self.process.stdin.write(text.encode())
            self.process.stdin.flush()
        except (BrokenPipeError, OSError) as e:
            raise SwarmError("%s: input closed (%s)" % (self.name, e))

    def command(self, line, timeout=30):
        """Runs one console line; returns what it printed (up to the marker)."""
        self._markers += 1
        marker = "@@%s-%d@@" % (self.name, self._markers)
        with self._lock:
            start = len(self._out)
        self.write(line + "\necho " + marker + "\n")
        end = self.wait_for(marker + "\n", timeout, start)
        with self._lock:
            text = self._out[start:end - len(marker) - 1]
        return text

    def ask(self, line, text, timeout=30):
        """Types the line and waits for the text in what is printed after
        it; that output up to and with the line holding the text."""
        with self._lock:
            start = len(self._out)
        self.write(line + "\n")
        end = self.wait_for(text, timeout, start)
        with self._lock:
            newline = self._out.find("\n", end)
            return self._out[start:len(self._out) if newline < 0 else newline + 1]

    def poll(self, line, predicate, timeout, interval=0.5, what=None):
        """Runs line until predicate(its output) is true; returns that output."""
        deadline = time.monotonic() + timeout
        while True:
            out = self.command(line, timeout=max(5.0, deadline - time.monotonic()))
            if predicate(out):
                return out
            if time.monotonic() >= deadline:
                raise SwarmError("%s: %s not seen within %.0f s; last %r gave:\n%s"
                                 % (self.name, what or "the awaited state", timeout, line, out))
            time.sleep(interval)

    def kill(self):
        if self.running():
            os.killpg(self.process.pid, signal.SIGKILL)
        self._reap(10)

    def quit(self, timeout=60, answer=None):
        """Types q (and the answer to its question, when given), ends the
        input and waits for the exit; the exit status."""
        if self.running():
            try:
                self.write("q\n" + (answer + "\n" if answer else ""))
                self.process.stdin.close()
            except (SwarmError, OSError):
                pass
        return self._reap(timeout)

    def _reap(self, timeout):
        if self.process is None:
            return None
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait(timeout=10)
            raise SwarmError("%s did not end within %.0f s" % (self.name, timeout))
        finally:
            for t in self._readers:
                t.join(5)
            for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
                try:
                    stream.close()
                except OSError:
                    pass
        return status

    # Files and figures ---------------------------------------------------
    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def log(self):
        try:
            with open(self.path("log.txt"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def resident_kib(self):
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.process.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        return (int(fields[11]) + int(fields[12])) / ticks

    def wakeups(self):
        """The times the process's threads have slept and been woken (their
        voluntary context switches), all threads together."""
        total = 0
        base = "/proc/%d/task" % self.process.pid
        for task in os.listdir(base):
            try:
                with open(os.path.join(base, task, "status")) as f:
                    for line in f:
                        if line.startswith("voluntary_ctxt_switches:"):
                            total += int(line.split()[1])
            except OSError:
                pass  # a thread that ended meanwhile
        return total

    def tail(self, lines=15):
        def last(text):
            return "\n".join("    " + l for l in text.rstrip("\n").split("\n")[-lines:])
        return ("== %s (port %d, %s)\n  stdout:\n%s\n  stderr:\n%s\n  log.txt:\n%s"
                % (self.name, self.port, "running" if self.running() else "stopped",
                   last(self.output()), last(self.stderr()), last(self.log())))


# --- the swarm ------------------------------------------------------------------

class Swarm:
    def __init__(self, tandrel, seed=1, root=None, keep=False):
        self.tandrel = os.path.abspath(tandrel)
        self.random = random.Random(seed)
        self.own_root = root is None
        self.root = root or tempfile.mkdtemp(prefix="tandrel-swarm-")
        self.keep = keep
        self._port_random = random.Random(os.getpid() ^ seed)
        self.leases = []
        self.instances = []
        self.env = dict(os.environ)
        # The sanitizer build's leak report would only slow every exit down.
        self.env.setdefault("ASAN_OPTIONS", "detect_leaks=0")

    def add(self, name, port=None):
        if port is None:
            self.leases.append(PortLease(self._port_random))
            port = self.leases[-1].port
        instance = Instance(self, name, port,
                            bytes(self.random.getrandbits(8) for _ in range(16)))
        self.instances.append(instance)
        return instance

    def report(self, lines=15):
        return "\n".join(i.tail(lines) for i in self.instances)

    def close(self):
        for i in self.instances:
            try:
                i.kill()
            except SwarmError:
                pass
        for lease in self.leases:
            lease.release()
        if self.own_root and not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        if value is not None and not isinstance(value, KeyboardInterrupt):
            sys.stderr.write("\n---- last lines of every instance ----\n" + self.report() + "\n")
        self.close()
        return False


def hold_port(port):
    """A TCP socket bound to the port and not listening (no SO_REUSEADDR), so
    that an instance's door cannot open there."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", port))
    return s


# --- script arguments -----------------------------------------------------------

def script_arguments(seed, cases=False):
    """The arguments of a script: --tandrel PATH [--keep] [--seed N], and
    with cases [--case N]."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--tandrel", required=True)
    parser.add_argument("--seed", type=int, default=seed)
    parser.add_argument("--keep", action="store_true", help="keep the instances' directories")
    if cases:
        parser.add_argument("--case", type=int, help="run only this case (from 0)")
    return parser.parse_args()


# --- scripts of several cases ---------------------------------------------------

def run_cases(script, count, run_one, seed):
    """The main of a script of count cases, with the arguments --tandrel
    PATH [--keep] [--seed N] [--case N]: with --case it runs that case,
    run_one(args, index), and returns its status; without, it runs every
    case side by side, each in a process of its own (port leases are locks
    held by the process), prints their output in order and returns 1 when
    one failed."""
    args = script_arguments(seed, cases=True)
    if args.case is not None:
        return run_one(args, args.case)
    command = [sys.executable, os.path.abspath(script), "--tandrel", args.tandrel, "--seed", str(args.seed)]
    if args.keep:
        command.append("--keep")
    children = [subprocess.Popen(command + ["--case", str(i)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                for i in range(count)]
    failed = 0
    for child in children:
        out, _ = child.communicate()
        sys.stdout.write(out.decode(errors="replace"))
        failed += child.returncode != 0
    return 1 if failed else 0
