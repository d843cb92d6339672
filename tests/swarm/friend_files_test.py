"""Two tandrel processes on 127.0.0.1 as friends: B makes A its friend by
address, browses A's directories and files and fetches one; A restarted
with "frAllow" 2 gives out no file list; friend.met keeps A, and B
restarted lists it as not connected.

Usage: friend_files_test.py --tandrel PATH [--keep] [--seed N]
"""

import os
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from swarm import Swarm, SwarmError, script_arguments, set_int_options  # noqa: E402

WAIT = 20     # s, for an answer
POLL = 0.2    # s, between tries of a command that waits for the friend
POLLS = int(WAIT / POLL)
# The lines of the start-up hashing of shared files, which the hashing
# thread prints at its own pace between the console's lines.
PROGRESS = ("Loading shared files...", "Done loading shared files.")


def check(condition, message):
    if not condition:
        raise SwarmError(message)


def console(node, start=0):
    """What the node printed on stdout from start on, without the progress
    lines."""
    return _console(node.output()[start:])


def _console(text):
    for line in PROGRESS:
        for end in ("\r\n", "\n"):
            text = text.replace(line + end, "")
    return text


def shows(node, text, timeout, start):
    """Waits until the text is in what the node printed from start on."""
    node.wait_until(lambda out: text in _console(out[start:]), timeout, repr(text))


def type_line(node, line, text, start):
    """Types the line and waits for the text (after start)."""
    node.write(line + "\n")
    shows(node, text, WAIT, start)


def poll(node, line, text, start):
    """Types the line until the text shows (after start)."""
    for _ in range(POLLS):
        node.write(line + "\n")
        try:
            shows(node, text, POLL, start)
            return
        except SwarmError:
            pass
    raise SwarmError("%s: no %r after %d tries of %r:\n%s" % (node.name, text, POLLS, line, console(node, start)))


def quit_with_0(node):
    check(node.quit(WAIT, answer="y") == 0, "%s did not quit with status 0" % node.name)


def run(swarm):
    a = swarm.add("a")
    b = swarm.add("b")
    address = "127.0.0.1\t%d" % a.port
    # A shares one directory with one file (share.dat: a u16 length and
    # the path).
    shared = a.path("shared")
    os.makedirs(shared)
    with open(os.path.join(shared, "hello.txt"), "w") as f:
        f.write("hello, friend\n")
    with open(a.path("share.dat"), "wb") as f:
        f.write(struct.pack("<H", len(shared.encode())) + shared.encode())
    a.start(["name alice", "echo A ready"])
    shows(a, "A ready", WAIT, 0)

    # B makes A its friend by address and asks for its directories.
    b.start(["echo B ready"])
    shows(b, "B ready", WAIT, 0)
    type_line(b, "master", "Master mode on.", 0)
    type_line(b, "ffriend 127.0.0.1 %d" % a.port, "forced friend.", 0)
    type_line(b, "gfr", "(1)\t" + address + "\t [not connected]", 0)
    asked = len(b.output())
    type_line(b, "gfr 1", "fetching requested dirs...", asked)
    check("Waiting for connection." in console(b, asked), "B: no 'Waiting for connection.'")
    # Lines that arrive between commands reach a pipe with the next one;
    # until A has hashed its directory, its list is empty and is asked
    # for again.
    poll(b, "gfr 1", "1 directories:\n1) " + shared + "\n", asked)
    check("Asking alice for file list." in console(b, asked), "B: no 'Asking alice for file list.'")
    asked = len(b.output())
    type_line(b, "gfr 1 1", "fetching requested files...", asked)
    poll(b, "gfr 1 1", "1 files:", asked)
    shows(b, "hello.txt", WAIT, asked)
    # The answer gives the connection back: it closes instead of idling on
    # for two minutes, and the friend shows its address again.
    poll(b, "gfr", "(1)\t" + address + "\t [not connected]", asked)

    # B fetches the listed file from its friend: it lands in B's incoming
    # directory byte for byte.
    type_line(b, "gfr 1 1 1", "> ", asked)
    fetched = b.path("incoming", "hello.txt")

    def fetched_text():
        try:
            with open(fetched) as f:
                return f.read()
        except OSError:
            return None

    deadline = time.monotonic() + 3 * WAIT
    while fetched_text() != "hello, friend\n" and time.monotonic() < deadline:
        time.sleep(POLL)
    check(fetched_text() == "hello, friend\n", "B's incoming/hello.txt holds %r" % fetched_text())

    # Restarted with "frAllow" 2, A gives out no file lists.
    quit_with_0(a)
    set_int_options(a.path("pref.met"), {"frAllow": 2})
    again = len(a.output())
    a.start(["echo A again"])
    shows(a, "A again", WAIT, again)
    asked = len(b.output())
    poll(b, "gfr 1 r", "Client does not give out files", asked)
    quit_with_0(b)

    # friend.met holds A: the record-list form with A's address.
    with open(b.path("friend.met"), "rb") as f:
        met = f.read()
    head = bytes([14]) + struct.pack("<I", 1) + bytes([127, 0, 0, 1]) + struct.pack("<H", a.port)
    check(met[:len(head)] == head, "friend.met begins %s, not %s" % (met[:len(head)].hex(), head.hex()))

    # A restart lists A as not connected.
    again = len(b.output())
    b.start(["gfr"])
    shows(b, "(1)\t" + address + "\t [not connected]", WAIT, again)
    quit_with_0(b)
    quit_with_0(a)


def main():
    args = script_arguments(3)
    began = time.monotonic()
    title = "a friend's files are browsed and fetched, and the friend is kept in friend.met"
    try:
        with Swarm(args.tandrel, seed=args.seed, keep=args.keep) as swarm:
            run(swarm)
    except SwarmError as e:
        print("FAILED: %s: %s" % (title, e), flush=True)
        return 1
    print("ok (%.1f s): %s" % (time.monotonic() - began, title), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
