"""Two tandrel processes on 127.0.0.1 pass a file of two parts while the
downloader is held to a limit (dumax, both ways): the reads cut to the
byte budget, the requests of a reader slower than the upload and the
pauses of a spent budget all run end to end, and the file arrives byte
for byte. How close the rate comes to the limit is make bench's figure.

Usage: limited_download_test.py --tandrel PATH [--keep] [--seed N]
"""

import filecmp
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from swarm import PART_SIZE, Swarm, SwarmError, file_hash, random_file, script_arguments  # noqa: E402

LIMIT = 4000                # KB/s, taken as bytes per ms: about 2.6 s for the file
SIZE = PART_SIZE + 500000   # two parts
WAIT = 20                   # s, for an answer or a log line
STALL_WAIT = 120            # s: only a download that stalls takes this long


def check(condition, message):
    if not condition:
        raise SwarmError(message)


def run(swarm):
    a = swarm.add("a")
    b = swarm.add("b")
    original = a.path("incoming", "held.bin")
    random_file(original, SIZE, 5)
    a.start().wait_up()
    a.wait_for("Done loading shared files.", WAIT)
    b.start().wait_up()
    b.command("dumax %d %d" % (LIMIT, LIMIT))
    check("d/u: %.2f/%.2f" % (LIMIT, LIMIT) in b.command("dumax"), "B did not take the limit")

    b.ask("dllink vxt4://|file|held.bin|%d|%s|s=bcp://127.0.0.1:%d|" % (SIZE, file_hash(original).hex(), a.port),
          "Downloading: held.bin", WAIT)
    done = b.path("incoming", "held.bin")
    deadline = time.monotonic() + STALL_WAIT
    while "End Download: held.bin" not in b.log():
        check(time.monotonic() < deadline, "the limited download stalled:\n" + b.command("vd"))
        time.sleep(0.2)
    check(os.path.exists(done) and filecmp.cmp(original, done, shallow=False), "B's file differs from A's")
    check(b.quit(WAIT, answer="y") == 0, "B did not quit with status 0")
    check(a.quit(WAIT, answer="y") == 0, "A did not quit with status 0")


def main():
    args = script_arguments(13)
    began = time.monotonic()
    try:
        with Swarm(args.tandrel, seed=args.seed, keep=args.keep) as swarm:
            run(swarm)
    except SwarmError as e:
        print("FAILED: a download under a limit: %s" % e, flush=True)
        return 1
    print("ok (%.1f s): a download under a limit brings the file" % (time.monotonic() - began), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
