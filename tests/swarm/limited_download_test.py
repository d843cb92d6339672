"""Two tandrel processes on 127.0.0.1 pass a file of two parts while the
downloader is held to a limit (dumax, both ways): the reads cut to the
byte budget, the requests of a reader slower than the upload and the
pauses of a spent budget all run end to end, and the file arrives byte
for byte. How close the rate comes to the limit is make bench's figure.

Midway the download is paused: the traffic stops right after services
that spent the downloader's budget, and neither instance may then wake
more often than an idle one with the downloader's limits. Resumed, the
download completes.

Usage: limited_download_test.py --tandrel PATH [--keep] [--seed N]
"""

import filecmp
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from swarm import PART_SIZE, Swarm, SwarmError, file_hash, random_file, script_arguments  # noqa: E402

LIMIT = 4000                # KB/s, taken as bytes per ms: about 2.6 s for the file
PAUSE_AT = 2 << 20          # bytes in when the download is paused
SETTLE = 2                  # s after the pause before the wake-ups are counted
COUNTED = 3                 # s over which they are counted
SIZE = PART_SIZE + 500000   # two parts
WAIT = 20                   # s, for an answer or a log line
STALL_WAIT = 120            # s: only a download that stalls takes this long


def check(condition, message):
    if not condition:
        raise SwarmError(message)


def received(vd):
    """The bytes download 1 holds, from its row in vd (size and transferred
    in KiB)."""
    m = re.search(r"\t(\d+)k\t(\d+)k\t", vd)
    return int(m.group(2)) * 1024 if m else 0


def run(swarm):
    a = swarm.add("a")
    b = swarm.add("b")
    idle = swarm.add("idle")
    original = a.path("incoming", "held.bin")
    random_file(original, SIZE, 5)
    a.start().wait_up()
    a.wait_for("Done loading shared files.", WAIT)
    for instance in (b, idle):
        instance.start().wait_up()
        instance.command("dumax %d %d" % (LIMIT, LIMIT))
        check("d/u: %.2f/%.2f" % (LIMIT, LIMIT) in instance.command("dumax"), "%s did not take the limit" % instance.name)

    b.ask("dllink vxt4://|file|held.bin|%d|%s|s=bcp://127.0.0.1:%d|" % (SIZE, file_hash(original).hex(), a.port),
          "Downloading: held.bin", WAIT)
    b.poll("vd", lambda out: received(out) >= PAUSE_AT, STALL_WAIT, interval=0.05,
           what="the first bytes of the limited download")
    b.command("m 1 p")
    time.sleep(SETTLE)
    # Wake-ups in the same span, side by side.
    before = [instance.wakeups() for instance in (a, b, idle)]
    time.sleep(COUNTED)
    woken = [instance.wakeups() - count for instance, count in zip((a, b, idle), before)]
    # An idle instance wakes some tens of times a second; one whose pool
    # waits the short pause of a spent budget for good, hundreds.
    for instance, count in zip((a, b), woken):
        check(count <= 2 * woken[2] + 10 * COUNTED,
              "%s woke %d times in %d s while the download was paused, the idle instance %d"
              % (instance.name, count, COUNTED, woken[2]))

    b.command("m 1 r")
    done = b.path("incoming", "held.bin")
    deadline = time.monotonic() + STALL_WAIT
    while "End Download: held.bin" not in b.log():
        check(time.monotonic() < deadline, "the limited download stalled:\n" + b.command("vd"))
        time.sleep(0.2)
    check(os.path.exists(done) and filecmp.cmp(original, done, shallow=False), "B's file differs from A's")
    for instance in (b, a, idle):
        check(instance.quit(WAIT, answer="y") == 0, "%s did not quit with status 0" % instance.name)
    return woken


def main():
    args = script_arguments(13)
    began = time.monotonic()
    try:
        with Swarm(args.tandrel, seed=args.seed, keep=args.keep) as swarm:
            woken = run(swarm)
    except SwarmError as e:
        print("FAILED: a download under a limit: %s" % e, flush=True)
        return 1
    print("ok (%.1f s): a download under a limit, paused (wake-ups in %d s: uploader %d, downloader %d, idle %d) "
          "and resumed, brings the file" % ((time.monotonic() - began, COUNTED) + tuple(woken)), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
