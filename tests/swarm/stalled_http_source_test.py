"""A download with two sources, a tandrel peer and an HTTP server that
answers a valid 206 header and then sends nothing. The HTTP source takes
the whole file first, so the peer finds nothing to fetch; once the HTTP
source gives its stalled range back, the peer takes it and the file is
done well within a minute, byte for byte.

Usage: stalled_http_source_test.py --tandrel PATH [--keep] [--seed N]
"""

import filecmp
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from swarm import Swarm, SwarmError, file_hash, random_file, script_arguments  # noqa: E402

NAME = "stall.bin"
SIZE = 1_000_000
WAIT = 20      # s, for an answer or a log line
DONE_WAIT = 60  # s from the peer's addition to the finished file


class StallingServer:
    """An HTTP server on 127.0.0.1 that answers every ranged GET with a
    valid 206 header for the range asked and then sends nothing, keeping
    the connection open."""

    def __init__(self, size):
        self.size = size
        self.asked = 0
        self._lock = threading.Condition()
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(16)
        self.port = self._listener.getsockname()[1]
        self._connections = []
        self._stopped = False
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return
            with self._lock:
                if self._stopped:
                    connection.close()
                    return
                self._connections.append(connection)
            threading.Thread(target=self._answer, args=(connection,), daemon=True).start()

    def _answer(self, connection):
        request = b""
        try:
            while b"\r\n\r\n" not in request:
                chunk = connection.recv(4096)
                if not chunk:
                    return
                request += chunk
        except OSError:
            return
        first, last = 0, self.size - 1
        for line in request.decode(errors="replace").split("\r\n"):
            if line.lower().startswith("range:") and "=" in line:
                low, _, high = line.split("=", 1)[1].strip().partition("-")
                first = int(low)
                last = int(high) if high else self.size - 1
        head = ("HTTP/1.1 206 Partial Content\r\nContent-Length: %d\r\n"
                "Content-Range: bytes %d-%d/%d\r\n\r\n" % (last - first + 1, first, last, self.size))
        try:
            connection.sendall(head.encode())
        except OSError:
            return
        with self._lock:
            self.asked += 1
            self._lock.notify_all()

    def wait_asked(self, count, timeout):
        deadline = time.monotonic() + timeout
        with self._lock:
            while self.asked < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise SwarmError("the HTTP server was not asked within %.0f s" % timeout)
                self._lock.wait(left)

    def close(self):
        with self._lock:
            self._stopped = True
            connections, self._connections = self._connections, []
        self._listener.close()
        for connection in connections:
            connection.close()


def run(swarm, server):
    a = swarm.add("a")
    b = swarm.add("b")
    # A shares what its incoming directory holds.
    original = a.path("incoming", NAME)
    random_file(original, SIZE, 5)
    a.start().wait_up()
    a.wait_for("Done loading shared files.", WAIT)
    b.start().wait_up()

    # The HTTP source comes first and takes every byte.
    b.ask("dllink vxt4://|file|%s|%d|%s|s=http://127.0.0.1:%d/%s|"
          % (NAME, SIZE, file_hash(original).hex(), server.port, NAME), "Downloading: " + NAME, WAIT)
    server.wait_asked(1, WAIT)
    added = time.monotonic()
    b.ask("adds 1 127.0.0.1 %d" % a.port, "Adding: 127.0.0.1:%d to %s" % (a.port, NAME), WAIT)
    b.wait_logged("End Download: " + NAME, DONE_WAIT)
    took = time.monotonic() - added
    done = b.path("incoming", NAME)
    if not (os.path.exists(done) and filecmp.cmp(original, done, shallow=False)):
        raise SwarmError("B's file differs from A's")
    if b.quit(WAIT, answer="y") != 0 or a.quit(WAIT, answer="y") != 0:
        raise SwarmError("an instance did not quit with status 0")
    return took


def main():
    args = script_arguments(3)
    server = StallingServer(SIZE)
    began = time.monotonic()
    try:
        with Swarm(args.tandrel, seed=args.seed, keep=args.keep) as swarm:
            took = run(swarm, server)
    except SwarmError as e:
        print("FAILED: the peer takes what a stalled HTTP source gave back: %s" % e, flush=True)
        return 1
    finally:
        server.close()
    print("ok (%.1f s, done %.1f s after the peer was added; the HTTP server was asked %d times)"
          % (time.monotonic() - began, took, server.asked), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
