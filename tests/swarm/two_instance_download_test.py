"""Two tandrel processes on 127.0.0.1 pass a file of two parts through typed
commands alone: A shares it, B downloads it from a file link that names A as
its source, or from a link without one after adds names A. Each case runs on
two fresh instances.

Usage: two_instance_download_test.py --tandrel PATH [--keep] [--seed N] [--case N]
"""

import filecmp
import os
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from swarm import PART_SIZE, Swarm, SwarmError, file_hash, random_file, run_cases  # noqa: E402

DOWNLOAD_WAIT = 180  # s, the whole transfer of about 10 MB under sanitizers
WAIT = 20            # s, for an answer or a log line
NAME = "two parts.bin"
SIZE = PART_SIZE + 250000  # just over one part: the file has two


def check(condition, message):
    if not condition:
        raise SwarmError(message)


def source_in_the_link(b, link, door):
    b.ask(link + "s=bcp://127.0.0.1:%d|" % door, "Downloading: " + NAME, WAIT)


def source_added_by_address(b, link, door):
    b.ask(link, "Downloading: " + NAME, WAIT)
    b.ask("adds 1 127.0.0.1 %d" % door, "Adding: 127.0.0.1:%d to %s" % (door, NAME), WAIT)


CASES = [
    ("the link with the source brings the file", source_in_the_link),
    ("a source added by address brings the file", source_added_by_address),
]


def run_case(swarm, ask_for_it):
    a = swarm.add("a")
    b = swarm.add("b")
    # A shares a directory of its own (share.dat: a u16 length and the path).
    shared = a.path("shared")
    os.makedirs(shared)
    original = os.path.join(shared, NAME)
    random_file(original, SIZE, 2)
    with open(a.path("share.dat"), "wb") as f:
        f.write(struct.pack("<H", len(shared.encode())) + shared.encode())
    link = "dllink vxt4://|file|two%%20parts.bin|%d|%s|" % (SIZE, file_hash(original).hex())
    a.start().wait_up()
    a.wait_for("Done loading shared files.", WAIT)
    b.start().wait_up()

    ask_for_it(b, link, a.port)
    # B lists the download meanwhile and logs its end; its incoming file is
    # A's byte for byte, and A logged the upload.
    b.poll("vd", lambda out: "(1) %s:" % NAME in out, WAIT, what="the download in vd")
    b.wait_logged("End Download: " + NAME, DOWNLOAD_WAIT)
    done = b.path("incoming", NAME)
    check(os.path.exists(done) and filecmp.cmp(original, done, shallow=False), "B's file differs from A's")
    a.wait_logged("Start Upload: " + NAME, 0)
    # The last upload ends once B lets its slot go.
    a.wait_logged("End Upload: " + NAME, WAIT)
    check(b.quit(WAIT, answer="y") == 0, "B did not quit with status 0")
    check(a.quit(WAIT, answer="y") == 0, "A did not quit with status 0")


def run_one(args, index):
    title, ask_for_it = CASES[index]
    began = time.monotonic()
    try:
        with Swarm(args.tandrel, seed=args.seed + index, keep=args.keep) as swarm:
            run_case(swarm, ask_for_it)
    except SwarmError as e:
        print("FAILED: %s: %s" % (title, e), flush=True)
        return 1
    print("ok (%.1f s): %s" % (time.monotonic() - began, title), flush=True)
    return 0


def main():
    return run_cases(__file__, len(CASES), run_one, seed=2)


if __name__ == "__main__":
    sys.exit(main())
