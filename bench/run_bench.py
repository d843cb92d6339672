"""make bench: the speed and cost of the real program, each figure with a
reference measured in this run on this machine and their ratio.

Usage: run_bench.py --build build/release [--work DIR] [--only NAME,...]
                    [--size-mib N]

Figures (names for --only): tcp, hash, download, download3, limited,
startup, idle, sources, console, search, simulation, storage, sharetree
(limited: uploads held to dumax 100 and 1000 KB/s, downloads held to
1000, 4000 and 20000 KB/s).
One line per figure on stdout; the lines are also written to <build>/bench/last-run.txt.
"""

import argparse
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "swarm"))
from swarm import Swarm, SwarmError, file_hash, md4_function, random_file  # noqa: E402

LINES = []


def emit(name, figure, reference, ratio, target=None):
    """One figure: 'name: figure | reference | ratio'; target a text such
    as '>= 0.5' that the ratio (or figure) is held to."""
    text = "%-34s %-30s | %-40s | ratio %s" % (name + ":", figure, reference, ratio)
    if target:
        text += "  (target %s)" % target
    LINES.append(text)
    print(text, flush=True)


def note(text):
    LINES.append("  " + text)
    print("  " + text, flush=True)


def machine():
    model = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = 0
    with open("/proc/meminfo") as f:
        memory = int(f.readline().split()[1]) // (1024 * 1024)
    load = os.getloadavg()[0]
    return "%s, %d cores, %d GiB, %s %s, load %.1f at start" % (
        model, os.cpu_count(), memory, platform.system(), platform.release(), load)


def mb_s(value):
    return "%.0f MB/s" % value


def best_of(times, run):
    """The best (largest) result of run() over the runs."""
    return max(run() for _ in range(times))


# --- references and figures ---------------------------------------------------

class Bench:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.bin = os.path.join(self.build, "bench")
        self.tandrel = os.path.join(self.build, "tandrel")
        self.work = args.work
        self.size = args.size_mib << 20
        self.big = os.path.join(self.work, "big.bin")
        self.md4 = md4_function()
        self.tcp_rate = None
        self.one_source_rate = None
        self.received = None
        self.download_wait = args.download_wait
        self.limit_seconds = args.limit_seconds

    def big_file(self):
        if not os.path.exists(self.big) or os.path.getsize(self.big) != self.size:
            random_file(self.big, self.size, 26)
        return self.big

    def tcp(self):
        copy = os.path.join(self.work, "copy.bin")
        self.big_file()

        def run():
            out = subprocess.run([os.path.join(self.bin, "tcp_copy_bench"), self.big, copy],
                                 capture_output=True, text=True, check=True).stdout.split()
            return float(out[1])
        self.tcp_rate = best_of(3, run)
        same = subprocess.run(["cmp", "-s", self.big, copy]).returncode == 0
        os.remove(copy)
        emit("raw TCP copy over loopback", mb_s(self.tcp_rate), "(the download's reference)", "1.00")
        if not same:
            note("the TCP copy differs from its source")

    def hash(self):
        self.big_file()
        openssl = ["openssl", "dgst", "-md4", "-provider", "legacy", "-provider", "default", self.big]
        if subprocess.run(openssl[:3] + openssl[3:7], input=b"", capture_output=True).returncode != 0:
            openssl = ["openssl", "dgst", "-md4", self.big]

        def reference():
            start = time.monotonic()
            if subprocess.run(openssl, capture_output=True).returncode != 0:
                return 0.0
            return self.size / 1e6 / (time.monotonic() - start)
        threads = os.cpu_count() or 1
        figures = {}
        hashes = set()
        for _ in range(2):
            out = subprocess.run([os.path.join(self.bin, "part_hash_bench"), self.big, str(threads)],
                                 capture_output=True, text=True, check=True).stdout
            for line in out.splitlines():
                name, rate, digest = line.split()
                figures[name] = max(figures.get(name, 0.0), float(rate))
                hashes.add(digest)
        ref = best_of(2, reference)
        independent = file_hash(self.big, self.md4).hex()
        check = "file hash %s %s" % (independent, "matches" if hashes == {independent} else
                                       "DIFFERS from " + ",".join(sorted(hashes)))
        refname = "openssl dgst -md4 %s" % mb_s(ref)
        if ref <= 0:
            emit("part hashing", "openssl has no MD4 here", "", "-")
            return
        emit("part hashing, 1 GB, one core", mb_s(figures["parts-only"]), refname,
             "%.2f" % (figures["parts-only"] / ref), ">= 1.0")
        emit("  as the hashing thread (+crumbs)", mb_s(figures["hashing-thread"]), refname,
             "%.2f" % (figures["hashing-thread"] / ref))
        name = "parts-%d" % threads
        emit("  parts+crumbs on %d cores" % threads, mb_s(figures[name]), refname,
             "%.2f" % (figures[name] / ref))
        note(check + " (openssl over each part)")

    # An instance alone, in its own directory.
    def lone(self, swarm, name, files=0, file_size=0):
        instance = swarm.add(name)
        for i in range(files):
            random_file(instance.path("incoming", "f%05d.dat" % i), file_size, i)
        return instance

    def sharers(self, swarm, prefix, count, source, name):
        """Starts count instances that share source (linked in as name) and
        waits until each has loaded its shares."""
        ups = []
        for i in range(count):
            up = self.lone(swarm, prefix % i)
            os.link(source, up.path("incoming", name))
            ups.append(up.start())
        for up in ups:
            up.wait_for("Done loading shared files.", 600)
            up.command("echo")
        return ups

    def fetch(self, down, name, size, digest, sources, wait, sample=None, interval=0.1):
        """Starts the download of the file from the (ip, port) sources and
        waits until it is in down's incoming directory or the wait is over.
        Returns (seconds, bytes done); sample() runs every interval seconds
        meanwhile. self.received is set to the seconds after which
        every byte had arrived (the rest is the final check of the file),
        or None."""
        link = "dllink vxt4://|file|%s|%d|%s|s=bcp://127.0.0.1:%d|" % (
            name.replace(" ", "%20"), size, digest, sources[0])
        done = down.path("incoming", name)
        start = time.monotonic()
        self.received = None
        down.command(link)
        for port in sources[1:]:
            down.command("adds 1 127.0.0.1 %d" % port)
        while time.monotonic() - start < wait:
            if os.path.exists(done) and os.path.getsize(done) == size:
                return time.monotonic() - start, size
            if self.received is None:
                m = re.search(r"\t(\d+)k\t(\d+)k\t", down.command("vd"))
                if m and int(m.group(2)) * 1024 >= size:
                    self.received = time.monotonic() - start
            if sample:
                sample()
            time.sleep(interval)
        elapsed = time.monotonic() - start
        got = 0
        # The row: status, size and transferred in KiB, speed, ...
        m = re.search(r"\t(\d+)k\t(\d+)k\t", down.command("vd"))
        if m:
            got = min(size, int(m.group(2)) * 1024)
        return elapsed, got

    def download(self):
        if self.tcp_rate is None:
            self.tcp()
        big = self.big_file()
        digest = file_hash(big, self.md4).hex()
        with Swarm(self.tandrel, seed=8, root=tempfile.mkdtemp(dir=self.work)) as swarm:
            up, down = self.lone(swarm, "up"), self.lone(swarm, "down")
            os.link(big, up.path("incoming", "big.bin"))
            up.start()
            up.wait_for("Done loading shared files.", 600)
            up.command("echo")
            down.start()
            down.command("echo")
            # At the reference's pace it takes seconds; a slow one is cut
            # off after the wait and its rate taken from what arrived.
            seconds, got = self.fetch(down, "big.bin", self.size, digest, [up.port], self.download_wait)
            same = got == self.size and subprocess.run(
                ["cmp", "-s", big, down.path("incoming", "big.bin")]).returncode == 0
            up.quit()
            down.quit()
        rate = got / 1e6 / seconds
        self.one_source_rate = rate
        emit("loopback download, two instances", mb_s(rate) if rate >= 10 else "%.2f MB/s" % rate,
             "raw TCP copy %s" % mb_s(self.tcp_rate), "%.4f" % (rate / self.tcp_rate),
             ">= 100 MB/s, never below 50")
        if got == self.size:
            note("%.0f MB in %.1f s, %s" % (self.size / 1e6, seconds,
                                           "byte-identical" if same else "DIFFERS from the source"))
            self.received_note(seconds)
        else:
            note("cut off after %.0f s with %.0f of %.0f MB" % (seconds, got / 1e6, self.size / 1e6))

    def download3(self):
        """The same file from three sources at once."""
        big = self.big_file()
        digest = file_hash(big, self.md4).hex()
        with Swarm(self.tandrel, seed=10, root=tempfile.mkdtemp(dir=self.work)) as swarm:
            ups = self.sharers(swarm, "up%d", 3, big, "big.bin")
            down = self.lone(swarm, "down").start()
            down.command("echo")
            seconds, got = self.fetch(down, "big.bin", self.size, digest, [u.port for u in ups],
                                      self.download_wait)
            same = got == self.size and subprocess.run(
                ["cmp", "-s", big, down.path("incoming", "big.bin")]).returncode == 0
            for up in ups:
                up.quit()
            down.quit()
        rate = got / 1e6 / seconds
        if self.one_source_rate:
            ref, ratio = "one source %s" % mb_s(self.one_source_rate), "%.2f" % (rate / self.one_source_rate)
        else:
            ref, ratio = "(one source not run)", "-"
        emit("loopback download, three sources", mb_s(rate), ref, ratio, ">= 1.5")
        note("%.0f of %.0f MB in %.1f s, %s" % (got / 1e6, self.size / 1e6, seconds,
                                              "byte-identical" if same else "INCOMPLETE or DIFFERENT"))
        if got == self.size:
            self.received_note(seconds)

    def received_note(self, seconds):
        """How the time of a whole download divides: bytes arriving, then
        the final check (joining the parts, hashing the file, the move)."""
        if self.received is not None:
            note("every byte in after %.1f s (%s), then %.1f s of final check" % (
                self.received, mb_s(self.size / 1e6 / self.received), seconds - self.received))

    def limited(self):
        """Uploads held to a dumax limit: the rate the downloader sees over
        a window after a short start."""
        size = 64 * 1000 * 1000
        source_file = os.path.join(self.work, "limited.bin")
        random_file(source_file, size, 27)
        digest = file_hash(source_file, self.md4).hex()
        for limit in (100, 1000):
            with Swarm(self.tandrel, seed=11, root=tempfile.mkdtemp(dir=self.work)) as swarm:
                up, down = self.lone(swarm, "up"), self.lone(swarm, "down")
                os.link(source_file, up.path("incoming", "limited.bin"))
                up.start()
                up.wait_for("Done loading shared files.", 600)
                up.command("dumax 0 %d" % limit)
                down.start()
                down.command("echo")

                def transferred():
                    m = re.search(r"\t(\d+)k\t(\d+)k\t", down.command("vd"))
                    return int(m.group(2)) * 1024 if m else 0
                down.command("dllink vxt4://|file|limited.bin|%d|%s|s=bcp://127.0.0.1:%d|"
                             % (size, digest, up.port))
                deadline = time.monotonic() + 60
                while transferred() == 0 and time.monotonic() < deadline:
                    time.sleep(0.2)
                time.sleep(3)  # past the start
                b0, t0 = transferred(), time.monotonic()
                time.sleep(self.limit_seconds)
                b1, t1 = transferred(), time.monotonic()
                up.quit()
                down.quit()
            rate = (b1 - b0) / 1000.0 / (t1 - t0)
            emit("upload held to dumax %d KB/s" % limit, "%.1f KB/s" % rate, "the limit %d KB/s" % limit,
                 "%.3f" % (rate / limit), "within 10 %")
        os.remove(source_file)
        for limit in (1000, 4000, 20000):
            self.limited_download(limit)

    def limited_download(self, limit):
        """A download held to a dumax limit on the downloader (both ways;
        the uploader has none), of a file that takes about six seconds at
        the limit. The rate is taken between the first moments the
        downloader counts 10 % and 90 % of the file, so neither the start
        nor the final check is in it."""
        seconds = 6
        size = limit * 1000 * seconds
        source_file = os.path.join(self.work, "held.bin")
        random_file(source_file, size, 28)
        digest = file_hash(source_file, self.md4).hex()
        with Swarm(self.tandrel, seed=12, root=tempfile.mkdtemp(dir=self.work)) as swarm:
            up = self.sharers(swarm, "up%d", 1, source_file, "held.bin")[0]
            down = self.lone(swarm, "down").start()
            down.command("echo")
            down.command("dumax %d %d" % (limit, limit))
            marks = {}

            def sample():
                m = re.search(r"\t(\d+)k\t(\d+)k\t", down.command("vd"))
                got = int(m.group(2)) * 1024 if m else 0
                for share in (0.1, 0.9):
                    if share not in marks and got >= share * size:
                        marks[share] = (time.monotonic(), got)
            taken, got = self.fetch(down, "held.bin", size, digest, [up.port], 20 * seconds + 30, sample, 0.02)
            same = got == size and subprocess.run(
                ["cmp", "-s", source_file, down.path("incoming", "held.bin")]).returncode == 0
            up.quit()
            down.quit()
        os.remove(source_file)
        name = "download held to dumax %d KB/s" % limit
        if 0.1 not in marks or 0.9 not in marks:
            emit(name, "FAILED: %.0f of %.0f MB in %.0f s" % (got / 1e6, size / 1e6, taken), "", "-")
            return
        (t1, b1), (t2, b2) = marks[0.1], marks[0.9]
        rate = (b2 - b1) / 1000.0 / (t2 - t1)
        emit(name, "%.1f KB/s" % rate, "the limit %d KB/s" % limit, "%.3f" % (rate / limit), "within 10 %")
        note("%.0f MB in %.1f s, %s" % (size / 1e6, taken, "byte-identical" if same else "INCOMPLETE or DIFFERENT"))

    def sources(self):
        count, size = 50, 40 * 1000 * 1000
        source_file = os.path.join(self.work, "fifty.bin")
        random_file(source_file, size, 50)
        digest = file_hash(source_file, self.md4).hex()
        with Swarm(self.tandrel, seed=9, root=tempfile.mkdtemp(dir=self.work)) as swarm:
            ups = self.sharers(swarm, "up%02d", count, source_file, "fifty.bin")
            down = self.lone(swarm, "down").start()
            down.command("echo")
            idle = down.resident_kib()
            # Slow enough that every source gets its turn: 2 MB/s.
            down.command("dumax 2000 0")
            peak = [idle]
            counts = [0]

            def sample():
                peak[0] = max(peak[0], down.resident_kib())

            def sources_seen():
                out = down.command("m 1 v")
                counts[0] = max(counts[0], len(re.findall(r"status: ", out)))
            seconds, got = self.fetch(down, "fifty.bin", size, digest, [u.port for u in ups], 20, sample)
            sources_seen()
            for up in ups:
                up.quit()
            down.quit()
        os.remove(source_file)
        emit("memory, downloading from %d sources" % count, "%.1f MB resident (peak)" % (peak[0] / 1024.0),
             "the same instance idle %.1f MB" % (idle / 1024.0), "%.2f" % (peak[0] / max(idle, 1)))
        note("%d sources listed; %.0f of %.0f MB in %.0f s" % (counts[0], got / 1e6, size / 1e6, seconds))

    def startup(self):
        files, size = 10000, 16384
        with Swarm(self.tandrel, seed=3, root=tempfile.mkdtemp(dir=self.work)) as swarm:
            empty = self.lone(swarm, "empty")
            many = self.lone(swarm, "many", files, size)

            def start_time(instance):
                instance.start()
                instance.wait_for("Done loading shared files.", 600,
                                  instance.output().rfind("---- start ----") + 1)
                instance.command("echo")  # the console answers after the list is complete
                return time.monotonic() - instance.started_at
            first = start_time(many)  # hashes everything once
            many.quit()
            empty_times = []
            for _ in range(3):
                empty_times.append(start_time(empty))
                empty.quit()
            times, read, rss = [], [], 0
            for _ in range(3):
                times.append(start_time(many))
                with open("/proc/%d/io" % many.process.pid) as f:
                    io = dict(line.split(": ") for line in f.read().splitlines())
                read.append(int(io["rchar"]))
                rss = max(rss, many.resident_kib())
                many.quit()
            empty.start()
            empty.command("echo")
            time.sleep(2)
            empty_rss = empty.resident_kib()
            empty.quit()
        t = statistics.median(times)
        ref = statistics.median(empty_times)
        emit("start-up, 10,000 files known", "%.2f s" % t, "start-up, no files %.2f s" % ref,
             "%.1f; %.2f of target" % (t / ref, t / 10.0), "<= 10 s")
        data = files * size
        note("first start (all hashed) %.1f s; restarts read %.1f MB of %.0f MB shared: %s"
             % (first, max(read) / 1e6, data / 1e6,
                "nothing hashed again" if max(read) < data / 4 else "FILES WERE READ AGAIN"))
        emit("memory, sharing 10,000 files", "%.1f MB resident" % (rss / 1024.0),
             "idle instance %.1f MB" % (empty_rss / 1024.0), "%.2f" % (rss / max(empty_rss, 1)))

    def idle(self):
        with Swarm(self.tandrel, seed=4, root=tempfile.mkdtemp(dir=self.work)) as swarm:
            instance = self.lone(swarm, "idle").start()
            instance.command("echo")
            time.sleep(5)
            cpu0, t0 = instance.cpu_seconds(), time.monotonic()
            time.sleep(60)
            cpu1, t1 = instance.cpu_seconds(), time.monotonic()
            rss = instance.resident_kib()
            instance.quit()
        percent = 100.0 * (cpu1 - cpu0) / (t1 - t0)
        emit("idle instance, 60 s: CPU", "%.3f %% of one core" % percent, "target 0.2 %",
             "%.2f of target" % (percent / 0.2), "<= 0.2 %")
        emit("idle instance: resident memory", "%.1f MB" % (rss / 1024.0), "target 8 MB",
             "%.2f of target" % (rss / 1024.0 / 8.0), "<= 8 MB")

    def console(self):
        rounds = 300
        with Swarm(self.tandrel, seed=5, root=tempfile.mkdtemp(dir=self.work)) as swarm:
            instance = self.lone(swarm, "console").start()
            instance.command("echo")
            lat = []
            for i in range(rounds):
                start = time.monotonic()
                instance.command("echo %d" % i)
                lat.append(time.monotonic() - start)
            instance.quit()
        # The reference: the same round trip through cat, which echoes.
        cat = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
        ref = []
        for i in range(rounds):
            start = time.monotonic()
            cat.stdin.write(b"echo %d\n" % i)
            line = b""
            while not line.endswith(b"\n"):
                line += cat.stdout.read(1)
            ref.append(time.monotonic() - start)
        cat.stdin.close()
        cat.wait()
        m, r = statistics.median(lat) * 1000, statistics.median(ref) * 1000
        p99 = sorted(lat)[int(rounds * 0.99)] * 1000
        emit("console command latency (piped)", "%.2f ms median, p99 %.2f" % (m, p99),
             "pipe round trip via cat %.3f ms" % r, "%.0f" % (m / r))

    def search(self):
        count, keywords = 25, 12
        with Swarm(self.tandrel, seed=6, root=tempfile.mkdtemp(dir=self.work)) as swarm:
            # A boot request that arrives before the overlay port is bound
            # is lost and never sent again: n01, and every node that later
            # boots from it, would form an overlay of their own, whose
            # searches never see the seed's side. The other nodes are booted
            # from after their console has answered, so their ports are bound.
            nodes = [swarm.add("seed").start().wait_up()]
            words = ["kw%02dtopaz%d" % (i, i * 7) for i in range(keywords)]
            for i in range(1, count):
                node = swarm.add("n%02d" % i)
                if i <= keywords:
                    random_file(node.path("incoming", "%s sample.bin" % words[i - 1]), 50000, i)
                node.start()
                node.command("boot 127.0.0.1 %d" % nodes[swarm.random.randrange(len(nodes))].port)
                nodes.append(node)
            for node in nodes:
                node.poll("g", lambda out: "(open)" in out, 120)
            # Every keyword found once (its publishing done) before timing.
            probe = nodes[-1]
            for word in words:
                deadline = time.monotonic() + 120
                while True:
                    probe.command("s " + word)
                    time.sleep(1)
                    if word in probe.command("vr"):
                        break
                    if time.monotonic() > deadline:
                        raise SwarmError("%s is not found" % word)
            times, echo = [], []
            for k, word in enumerate(words):
                asker = nodes[count - 1 - (k % 10)]
                if asker is probe:
                    asker = nodes[count - 11]
                start = time.monotonic()
                asker.command("s " + word)
                deadline = start + 30
                while word not in asker.command("vr") and time.monotonic() < deadline:
                    time.sleep(0.005)
                times.append(time.monotonic() - start)
                start = time.monotonic()
                asker.command("echo")
                echo.append(time.monotonic() - start)
            for node in nodes:
                node.quit()
        m, r = statistics.median(times), statistics.median(echo)
        emit("keyword search, 25 instances", "%.0f ms to the first result" % (m * 1000),
             "console round trip %.1f ms" % (r * 1000), "%.0f; %.2f of target" % (m / r, m / 1.0),
             "<= 1 s")

    def simulation(self):
        exe = os.path.join(self.build, "overlay_tests")
        listed = subprocess.run([exe, "--gtest_list_tests"], capture_output=True, text=True) \
            if os.path.exists(exe) else None
        if listed is None or "Swarm" not in listed.stdout:
            emit("overlay simulation, 10,000 nodes", "not built (overlay_tests has no swarm test)", "", "-")
            return
        env = dict(os.environ, TANDREL_SWARM_NODES="10000")
        start = time.monotonic()
        out = subprocess.run([exe, "--gtest_filter=*Swarm*"], capture_output=True, text=True, env=env)
        seconds = time.monotonic() - start
        found, lookups, others = None, "", []
        for line in out.stdout.splitlines():
            if line.startswith("[ swarm"):
                text = line.split("]", 1)[1].strip()
                m = re.search(r"lookups: ([\d.]+)%", text)
                if m:
                    found, lookups = float(m.group(1)), text
                else:
                    others.append(text)
        if found is None:
            emit("overlay simulation, 10,000 nodes", "FAILED (no figures)", "", "-")
            return
        emit("overlay simulation, 10,000 nodes", "%.2f %% true nearest found" % found, "target 99 %",
             "%.3f of target" % (found / 99.0), ">= 99 %")
        note("%s; %.0f s real; %s" % (lookups, seconds, "passed" if out.returncode == 0 else "FAILED"))
        for text in others:
            note(text)

    def sharetree(self):
        """a+ on 40,000 directories (200 of 199 sub-directories each), and
        the next start with all of them in share.dat; the reference is
        find walking the same tree."""
        tops, subs = 200, 199
        with Swarm(self.tandrel, seed=10, root=tempfile.mkdtemp(dir=self.work)) as swarm:
            instance = self.lone(swarm, "tree")
            top = instance.path("tree")
            for i in range(tops):
                for j in range(subs):
                    os.makedirs(os.path.join(top, "d%03d" % i, "s%03d" % j))
            deep = instance.path("deep")
            level = deep
            os.makedirs(level)
            for _ in range(1500):
                level = os.path.join(level, "d")
                os.mkdir(level)

            def reference():
                start = time.monotonic()
                subprocess.run(["find", top, "-type", "d"], capture_output=True, check=True)
                return time.monotonic() - start
            ref = min(reference() for _ in range(3))
            instance.start()
            instance.command("echo")

            def timed(line):
                start = time.monotonic()
                instance.command(line, timeout=1200)
                return time.monotonic() - start
            wide = timed("a+ " + top)
            with open(instance.path("share.dat"), "rb") as f:
                data = f.read()
            listed, at = 0, 0
            while at + 2 <= len(data):
                at += 2 + (data[at] | data[at + 1] << 8)
                listed += 1
            instance.quit()
            instance.start()
            instance.command("echo", timeout=1200)
            restart = time.monotonic() - instance.started_at
            instance.quit()
            os.remove(instance.path("share.dat"))
            instance.start()
            instance.command("echo")
            chain = timed("a+ " + deep)
            instance.quit()
            # Deeper than shutil.rmtree can recurse: taken down from below.
            while level != deep:
                os.rmdir(level)
                level = os.path.dirname(level)
        count = tops * subs + tops
        emit("a+ on %s directories" % format(count, ","), "%.2f s" % wide, "find -type d %.2f s" % ref,
             "%.1f" % (wide / max(ref, 1e-6)))
        note("share.dat then lists %d directories (the top and the incoming one too); the next start answers"
             " after %.2f s;"
             " a chain 1,500 deep takes %.2f s" % (listed, restart, chain))

    def storage(self):
        for name in ("storage_bench", "download_path_bench"):
            out = subprocess.run([os.path.join(self.bin, name), os.path.join(self.work, name),
                                  str(self.size >> 20)], capture_output=True, text=True)
            shutil.rmtree(os.path.join(self.work, name), ignore_errors=True)
            LINES.append("%s:" % name)
            print("%s:" % name)
            for line in (out.stdout + out.stderr).splitlines():
                note(line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--work")
    parser.add_argument("--only")
    parser.add_argument("--size-mib", type=int, default=1000)
    parser.add_argument("--download-wait", type=int, default=300,
                        help="seconds the loopback download may take before its rate is taken")
    parser.add_argument("--limit-seconds", type=int, default=20,
                        help="seconds over which a limited upload's rate is measured")
    args = parser.parse_args()
    own_work = args.work is None
    args.work = args.work or tempfile.mkdtemp(prefix="tandrel-bench-")
    os.makedirs(args.work, exist_ok=True)
    bench = Bench(args)
    order = ["tcp", "hash", "download", "download3", "limited", "startup", "idle", "sources", "console", "search",
             "simulation", "storage", "sharetree"]
    chosen = args.only.split(",") if args.only else order
    print("machine: " + machine(), flush=True)
    LINES.append("machine: " + machine())
    failed = False
    try:
        for name in order:
            if name in chosen:
                try:
                    getattr(bench, name)()
                except (SwarmError, subprocess.CalledProcessError, OSError, KeyError) as e:
                    emit(name, "FAILED: %s" % e, "", "-")
                    failed = True
    finally:
        if own_work:
            shutil.rmtree(args.work, ignore_errors=True)
    with open(os.path.join(args.build, "bench", "last-run.txt"), "w") as f:
        f.write("\n".join(LINES) + "\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
