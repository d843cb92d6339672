"""The network end to end: 25 tandrel processes on 127.0.0.1 boot an overlay
from one seed, a firewalled one gets a buddy and serves a file through the
call-back, a file shared by three is found by keyword and downloaded from
all three at once, a download survives a SIGKILL of its client, and every
instance shuts down in order and starts again from its own state files.

Usage: swarm_test.py --tandrel PATH [--keep] [--seed N]
"""

import argparse
import filecmp
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from swarm import PART_SIZE, Swarm, SwarmError, file_hash, hold_port, random_file  # noqa: E402

INSTANCES = 25
OPEN_WAIT = 120        # s, for a booted instance to be tested open
FIREWALLED_WAIT = 180  # s, for the firewalled one to find out and get a buddy
DOWNLOAD_WAIT = 180    # s, for a download to complete


def check(condition, message):
    if not condition:
        raise SwarmError(message)


def status_of(out):
    for word in ("(open)", "(firewalled)", "(unclear)"):
        if word in out:
            return word
    return None


def contacts_in(out):
    m = re.search(r"(\d+) \(\d+\) contacts", out)
    return int(m.group(1)) if m else 0


def contact_count(instance):
    return contacts_in(instance.command("vc"))


def words_of(instance):
    """The public command words that the help lists."""
    return set(re.findall(r"^(?:> )?(\S+)", instance.command("?"), re.M))


class Scenario:
    def __init__(self, swarm, seed):
        self.swarm = swarm
        self.seed = seed
        self.nodes = []

    def step(self, title):
        print("---- " + title, flush=True)
        self.started = time.monotonic()

    def done(self, detail=""):
        print("     ok (%.1f s) %s" % (time.monotonic() - self.started, detail), flush=True)

    # 1 -------------------------------------------------------------------
    def boot(self):
        self.step("1. boot: a seed, then %d more in stages" % (INSTANCES - 1))
        seed = self.swarm.add("seed").start()
        self.nodes = [seed]
        stages = [3, 8, INSTANCES - 12]  # the last stage also holds the firewalled one
        for stage, count in enumerate(stages):
            booted = list(self.nodes)
            for _ in range(count):
                node = self.swarm.add("n%02d" % len(self.nodes)).start()
                source = booted[self.swarm.random.randrange(len(booted))]
                node.command("boot 127.0.0.1 %d" % source.port)
                self.nodes.append(node)
            if stage == 0:
                seed.poll("g", lambda out: status_of(out) == "(open)", OPEN_WAIT, what="(open)")
        self.firewalled = self.swarm.add("walled")
        self.held = hold_port(self.firewalled.port)
        self.firewalled.start()
        self.firewalled.command("boot 127.0.0.1 %d" % self.nodes[-1].port)
        for node in self.nodes:
            node.poll("g", lambda out: status_of(out) == "(open)", OPEN_WAIT, what="(open)")
            node.poll("vc", lambda out: contacts_in(out) >= 8, OPEN_WAIT,
                      what="a routing table of 8 contacts or more")
        self.nodes.append(self.firewalled)
        counts = [contact_count(n) for n in self.nodes[:-1]]
        self.done("contacts per instance: min %d, median %d" % (min(counts), sorted(counts)[len(counts) // 2]))

    # 2 -------------------------------------------------------------------
    def firewalled_node(self):
        self.step("2. firewalled: door port held, buddy, location link by buddy")
        walled = self.firewalled
        out = walled.poll("g", lambda out: status_of(out) == "(firewalled)" and
                          not re.search(r"\(0\.0\.0\.0:0\)", out), FIREWALLED_WAIT,
                          what="(firewalled) with a buddy")
        own_id = re.search(r"ID: ([0-9a-f]{32})", out).group(1)
        buddy_port = int(re.search(r"\(127\.0\.0\.1:(\d+)\)", out).group(1))
        buddy = next((n for n in self.nodes if n.port == buddy_port), None)
        check(buddy is not None, "the buddy port %d is no instance's" % buddy_port)
        link = walled.command("getloc")
        check("bcp://%s:127.0.0.1:%d" % (own_id, buddy_port) in link, "location link not in buddy form: " + link)
        lines = buddy.poll("vbud", lambda out: re.search(r"^(?:> )?0\) ", out, re.M) is not None, 30,
                           what="the firewalled instance in vbud")
        entry = re.search(r"^(?:> )?0\) .*$", lines, re.M).group(0)
        self.done("buddy %s; vbud: %s" % (buddy.name, entry))
        return buddy

    # 5 -------------------------------------------------------------------
    def shutdown(self):
        self.step("5. shutdown in order, then every instance starts again from its files")
        for node in self.nodes:
            status = node.quit()
            check(status == 0, "%s ended with status %s" % (node.name, status))
            log = node.log().rstrip("\n")
            check(log.endswith("End Tandrel"), "%s: log.txt ends %r" % (node.name, log[-80:]))
        self.held.close()
        for node in self.nodes:
            node.start()
        for node in self.nodes:
            # The contacts of contact.dat enter the routing table as they
            # answer their hello.
            node.poll("vc", lambda out: contacts_in(out) > 0, 60, what="contacts from contact.dat")
        for node in self.nodes:
            check(node.quit() == 0, node.name + ": the restart did not end with status 0")
            kept = [f for f in os.listdir(node.dir) if f.endswith((".bak", ".corrupt"))]
            check(not kept, "%s kept files aside: %s" % (node.name, kept))
            restart = node.output().split("---- start ----")[-1]
            for text in (node.stderr(), restart):
                check(not re.search(r"rror|could not be read|corrupt", text),
                      "%s reported on restart:\n%s" % (node.name, text))
        self.done()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tandrel", required=True)
    parser.add_argument("--seed", type=int, default=26)
    parser.add_argument("--keep", action="store_true", help="keep the instances' directories")
    args = parser.parse_args()
    began = time.monotonic()
    try:
        with Swarm(args.tandrel, seed=args.seed, keep=args.keep) as swarm:
            print("instances under " + swarm.root, flush=True)
            scenario = Scenario(swarm, args.seed)
            scenario.boot()
            scenario.firewalled_node()
            scenario.shutdown()
    except SwarmError as e:
        print("FAILED: %s" % e, flush=True)
        return 1
    print("swarm scenario passed in %.0f s" % (time.monotonic() - began))
    return 0


if __name__ == "__main__":
    sys.exit(main())
