"""A real tandrel downloads from scripted peers (scripted_peer.py) whose data
goes wrong, and its final check finds what is wrong, keeps what is right
and fetches the rest from the sources it has, ending byte-exact:

- two parts, no hash set in the link, the first range sent with a byte
  flipped by a peer that withholds the set: all data arrives, the check
  fails, the download keeps its data and its source and asks for the set.
  Restarted, it asks a peer that gives the set as soon as that connects,
  and fetches the wrong part alone;
- the same without the restart: a second peer that gives the set is added;
- three parts from a peer that holds back the last range: a verified part
  file is changed and another cut short on disk, then the range comes; the
  check finds both and they come again from the same peer, unasked.

Each case runs one fresh instance, side by side with the others.

Usage: final_check_test.py --tandrel PATH [--keep] [--seed N] [--case N]
"""

import glob
import os
import random
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from swarm import PART_SIZE, Swarm, SwarmError, run_cases  # noqa: E402
from scripted_peer import FILE_META_REQUEST, FILE_NAME_REQUEST, HELLO, ScriptedPeer  # noqa: E402

WAIT = 20           # s, for an answer or a printed line
DATA_WAIT = 60      # s, for a file's data to pass (a second or two unloaded)
TWO_PARTS = 15_000_000
THREE_PARTS = 2 * PART_SIZE + 1_234_567
CUT = 5000          # bytes cut off a part file


def check(condition, message):
    if not condition:
        raise SwarmError(message)


def wait(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() >= deadline:
            raise SwarmError("no %s within %.0f s" % (what, timeout))
        time.sleep(0.1)


def merged(ranges):
    """The (start, end) ranges joined where they touch or overlap, in order."""
    out = []
    for start, end in sorted(ranges):
        if out and start <= out[-1][1]:
            out[-1][1] = max(out[-1][1], end)
        else:
            out.append([start, end])
    return [tuple(r) for r in out]


def sent_since(peers_before):
    """What the peers sent since their snapshots: the ranges, merged, and
    the bytes (a byte sent twice counts twice)."""
    ranges = []
    for peer, before in peers_before:
        ranges += peer.snapshot()["sent"][len(before["sent"]):]
    return merged(ranges), sum(end - start for start, end in ranges)


def asked_for_set_first(connection):
    """The hash set was asked for on the connection before anything else
    of the file but its name (status, slot, data)."""
    if FILE_META_REQUEST not in connection:
        return False
    return all(op in (HELLO, FILE_NAME_REQUEST) for op in connection[:connection.index(FILE_META_REQUEST)])


def part_files(node, name):
    """The download's part files (temp/<name>/<n>.<k>.part, k from 1) by
    part index."""
    return {int(re.search(r"\.(\d+)\.part$", path).group(1)) - 1: path
            for path in glob.glob(os.path.join(glob.escape(node.temp), glob.escape(name), "*.*.part"))}


def part_lengths(node, name):
    """The lengths of the part files in part order (None while one is
    replaced)."""
    try:
        return [os.path.getsize(path) for _, path in sorted(part_files(node, name).items())]
    except OSError:
        return None


def verified_parts(node, parts):
    """The parts whose crumbs (20 a part) vso shows all verified."""
    m = re.search(r"([01]+) : you", node.command("vso 1 1"))
    bits = m.group(1) if m else ""
    return {p for p in range(parts) if set(bits[20 * p:20 * (p + 1)]) == {"1"}}


def same_bytes(path, data):
    try:
        with open(path, "rb") as f:
            return f.read() == data
    except OSError:
        return False


# --- the cases ---------------------------------------------------------------

def wrong_part_without_set(swarm, peers, seed):
    """All data of two parts from a peer that withholds the set and flips a
    byte of the first range: the check fails, the download keeps its data
    and its source and asks for the set. The downloader and its peer."""
    name = "two parts.bin"
    data = random.Random(seed).randbytes(TWO_PARTS)
    first = ScriptedPeer(data, name, gives_hash_set=False, flipped={10}, nickname="first").start()
    peers.append(first)
    b = swarm.add("b")
    b.start().wait_up()
    b.ask("dllink " + first.link(), "Downloading: " + name, WAIT)
    wait(lambda: first.snapshot()["bytes_sent"] >= len(data), DATA_WAIT, "data sent")
    b.wait_for("Corrupted Download: " + name, DATA_WAIT)
    b.wait_for(name + ": its hash set is asked for, to find the wrong parts", WAIT)
    check(first.snapshot()["hash_set_requests"] >= 1, "the peer was never asked for the hash set")
    b.poll("vd", lambda out: "(1) %s:" % name in out, WAIT, what="the download in vd")
    sources = b.command("m 1 v")
    check("Showing user, filename, and status for 1 sources" in sources and "Bad Source" not in sources,
          "the source is not kept after the failed check:\n" + sources)
    # The data stays, cut back into its parts.
    wait(lambda: part_lengths(b, name) == [PART_SIZE, TWO_PARTS - PART_SIZE], WAIT,
         "both part files of their full length")
    return b, first, data, name


def set_after_restart(swarm, peers, seed):
    b, first, data, name = wrong_part_without_set(swarm, peers, seed)
    check(b.quit(WAIT, answer="y") == 0, "b did not quit with status 0")
    first.configure(gives_hash_set=True, flipped=())
    before = first.snapshot()
    b.start().wait_up()
    started = len(b.output())
    b.wait_for(name + ": its hash set is asked for, to find the wrong parts", WAIT, started)
    # Sources are not kept over a restart: the user adds the peer again.
    b.ask("adds 1 127.0.0.1 %d" % first.port, "Adding: 127.0.0.1:%d to %s" % (first.port, name), WAIT)
    b.wait_logged("End Download: " + name, DATA_WAIT)
    check(same_bytes(b.path("incoming", name), data), "the incoming file differs from the peer's")
    new = first.snapshot()["received"][len(before["received"]):]
    check(new and asked_for_set_first(new[0]), "not asked for the set as it connected: %s" % new)
    return b, name, sent_since([(first, before)])


def set_from_an_added_peer(swarm, peers, seed):
    b, first, data, name = wrong_part_without_set(swarm, peers, seed)
    first.configure(flipped=())
    second = ScriptedPeer(data, name, nickname="second").start()
    peers.append(second)
    before = [(first, first.snapshot()), (second, second.snapshot())]
    b.ask("adds 1 127.0.0.1 %d" % second.port, "Adding: 127.0.0.1:%d to %s" % (second.port, name), WAIT)
    b.wait_logged("End Download: " + name, DATA_WAIT)
    check(same_bytes(b.path("incoming", name), data), "the incoming file differs from the peers'")
    received = second.snapshot()["received"]
    check(received and asked_for_set_first(received[0]), "not asked for the set as it connected: %s" % received)
    return b, name, sent_since(before)


def only_the_wrong_part(run):
    def case(swarm, peers, seed):
        b, name, (ranges, sent) = run(swarm, peers, seed)
        found = "Corruption found in %s at 0-%d" % (name, PART_SIZE)
        check(found in b.output(), "no %r printed" % found)
        check(ranges == [(0, PART_SIZE)] and sent == PART_SIZE,
              "fetched again: %s, %d bytes; the wrong part is 0-%d" % (ranges, sent, PART_SIZE))
        check(b.quit(WAIT, answer="y") == 0, "b did not quit with status 0")
    return case


def changed_and_cut_on_disk(swarm, peers, seed):
    name = "three parts.bin"
    size = THREE_PARTS
    data = random.Random(seed).randbytes(size)
    peer = ScriptedPeer(data, name, hold_last=True).start()
    peers.append(peer)
    b = swarm.add("b")
    b.start().wait_up()
    b.ask("dllink " + peer.link(), "Downloading: " + name, WAIT)
    wait(peer.held, DATA_WAIT, "range held back (all others sent)")
    check(len(peer.held()) == 1, "held back: %s" % peer.held())
    held = peer.held()[0]
    # The peer's hello verified: its connection, open while the range is
    # held, shows [1] (an unverified peer would be asked for less at once).
    b.command("master")
    connections = b.command("vp")
    check(re.search(r"scripted \[127\.0\.0\.1:%d\] .* \[1\] keep" % peer.port, connections),
          "the peer's hello did not verify:\n" + connections)
    parts = [(p * PART_SIZE, min(size, (p + 1) * PART_SIZE)) for p in range(3)]
    others = [p for p in range(3) if p != held[0] // PART_SIZE]
    wait(lambda: set(others) <= verified_parts(b, 3), WAIT, "parts %s verified" % others)
    changed, cut = others
    files = part_files(b, name)
    with open(files[changed], "r+b") as f:
        f.seek(4321)
        byte = f.read(1)[0]
        f.seek(4321)
        f.write(bytes([byte ^ 0x40]))
    os.truncate(files[cut], parts[cut][1] - parts[cut][0] - CUT)
    before = peer.snapshot()
    peer.release()
    b.wait_logged("End Download: " + name, DATA_WAIT)
    check(same_bytes(b.path("incoming", name), data), "the incoming file differs from the peer's")
    for found in ("Data missing in %s at %d-%d" % (name, parts[cut][1] - CUT, parts[cut][1]),
                  "Corruption found in %s at %d-%d" % (name, *parts[changed])):
        check(found in b.output(), "no %r printed" % found)
    ranges, sent = sent_since([(peer, before)])
    expected = merged([held, (parts[cut][1] - CUT, parts[cut][1]), parts[changed]])
    check(ranges == expected and sent == sum(e - s for s, e in expected),
          "sent after the release: %s, %d bytes; expected %s" % (ranges, sent, expected))
    check(b.quit(WAIT, answer="y") == 0, "b did not quit with status 0")


CASES = [
    ("restarted, the download asks the set of a peer as it connects and fetches the wrong part alone",
     only_the_wrong_part(set_after_restart)),
    ("without a restart, a peer added later gives the set and the wrong part alone comes again",
     only_the_wrong_part(set_from_an_added_peer)),
    ("a part changed and another cut short on disk are found and fetched again from the same peer",
     changed_and_cut_on_disk),
]


def run_one(args, index):
    title, case = CASES[index]
    began = time.monotonic()
    peers = []
    try:
        with Swarm(args.tandrel, seed=args.seed + index, keep=args.keep) as swarm:
            try:
                case(swarm, peers, args.seed + index)
            except SwarmError:
                sys.stderr.write("\n".join(p.report() for p in peers) + "\n")
                raise
    except SwarmError as e:
        print("FAILED: %s: %s" % (title, e), flush=True)
        return 1
    finally:
        for peer in peers:
            peer.stop()
    print("ok (%.1f s): %s" % (time.monotonic() - began, title), flush=True)
    return 0


def main():
    return run_cases(__file__, len(CASES), run_one, seed=3)


if __name__ == "__main__":
    sys.exit(main())
