#!/usr/bin/env python3
"""A remote controller driving the transfer side of a real tandrel process:
downloads started, steered and reported by hash, the status pushes, the
shared directories and files, the share priority and the disk info.

Run: controller_transfers_test.py --tandrel <path to the tandrel program>
"""
import os
import struct
import time

from controller_client import *  # noqa: F401,F403  (frames, controller, processes)
import controller_client

PAUSED = 4


class Transfers(RemoteTestCase):
    def marker(self, c, text):
        """Sends an echo and returns the frames before its line: everything
        the client did for the frames sent earlier."""
        c.send(frame(COMMAND, string("echo " + text)))
        frames = []
        while True:
            got = c.next_frame()
            self.assertIsNotNone(got, "no echo of " + text)
            if got == (CONSOLE_TEXT, string(text)):
                return frames
            frames.append(got)

    def test_status_pushes(self):
        t = self.start()
        c, initial = self.attach(t)
        slot_ids = sorted(struct.unpack_from("<I", payload)[0] for opcode, payload in initial if opcode == UPLOAD_SLOT)
        self.assertEqual(len(slot_ids), 2)

        # 217: a download status about every 3 s (none listed here).
        c.send(frame(DOWNLOAD_STATUS_ON))
        self.assertEqual(c.wait_for(DOWNLOAD_STATUS), struct.pack("<H", 0))
        first = time.monotonic()
        c.wait_for(DOWNLOAD_STATUS)
        self.assertGreater(time.monotonic() - first, 2.5)
        # 218 stops it.
        c.send(frame(DOWNLOAD_STATUS_OFF))
        self.marker(c, "downloads off")
        self.assertEqual(c.frames_until_quiet(4.0), [])

        # 217 and 219, then 218: the upload status goes on, alone.
        c.send(frame(DOWNLOAD_STATUS_ON))
        c.send(frame(UPLOAD_STATUS_ON))
        c.wait_for(UPLOAD_STATUS, skip=(DOWNLOAD_STATUS,))
        c.send(frame(DOWNLOAD_STATUS_OFF))
        self.marker(c, "uploads only")
        payload = c.wait_for(UPLOAD_STATUS)
        (count,) = struct.unpack_from("<H", payload)
        self.assertEqual(count, 2)
        ids = sorted(struct.unpack_from("<I", payload, 2 + 8 * i)[0] for i in range(count))
        self.assertEqual(ids, slot_ids)
        self.assertEqual([struct.unpack_from("<f", payload, 6 + 8 * i)[0] for i in range(count)], [0.0, 0.0])
        c.send(frame(UPLOAD_STATUS_OFF))
        self.marker(c, "all off")
        self.assertEqual(c.frames_until_quiet(4.0), [])

    def test_shares_and_disk_info(self):
        data = bytes(range(256)) * 20
        t = self.start(files={"shared song.mp3": data})
        c, _ = self.attach(t)

        c.send(frame(GET_SHARED_DIRS))
        payload = c.wait_for(SHARED_DIRS)
        (count,) = struct.unpack_from("<H", payload)
        path, end = read_string(payload, 2)
        self.assertEqual((count, end), (1, len(payload)))
        self.assertEqual(path.rstrip("/"), os.path.realpath(t.path("incoming")))

        # The shared file, once hashed.
        deadline = time.monotonic() + 3 * STEP_S
        while True:
            c.send(frame(GET_SHARED_FILES))
            payload = c.wait_for(SHARED_FILES)
            if struct.unpack_from("<I", payload)[0] == 1 or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        self.assertEqual(struct.unpack_from("<I", payload)[0], 1)
        file_hash, tags, end = read_file_record(payload, 4)
        self.assertEqual(end, len(payload))
        self.assertEqual(tags[ST_NAME], "shared song.mp3")
        self.assertEqual(tags[ST_SIZE], len(data))

        # 229 sets its upload priority; a level above 2 changes nothing, and
        # neither answers.
        for level, expected in ((2, 2), (3, 2), (0, 0)):
            c.send(frame(SHARE_PRIORITY, file_hash + bytes([level])))
            self.assertEqual(self.marker(c, "priority %d" % level), [])
            c.send(frame(GET_SHARED_FILES))
            _, tags, _ = read_file_record(c.wait_for(SHARED_FILES), 4)
            self.assertEqual(tags[ST_UPLOAD_PRIORITY], expected, level)

        c.send(frame(GET_DISK_INFO))
        payload = c.wait_for(DISK_INFO)
        self.assertEqual(len(payload), 20)
        temp_free, incoming_free, zero, _own_ip, connections, queued = struct.unpack("<ffIIHH", payload)
        self.assertGreater(temp_free, 0)
        self.assertGreater(incoming_free, 0)
        self.assertEqual(zero, 0)
        self.assertGreaterEqual(connections, 1)  # this controller at least
        self.assertEqual(queued, 0)

    def test_downloads_by_hash(self):
        t = self.start()
        c, _ = self.attach(t)
        first_hash, second_hash, unknown = os.urandom(16), os.urandom(16), os.urandom(16)

        # 226 starts a download; 188 names it with its id.
        c.send(frame(DOWNLOAD, file_record(first_hash, "remote one.bin", 1000000)))
        added = read_download_added(c.wait_for(DOWNLOAD_ADDED, skip=(CONSOLE_TEXT,)))
        self.assertEqual(added["hash"], first_hash)
        self.assertEqual((added["tags"][ST_NAME], added["tags"][ST_SIZE]), ("remote one.bin", 1000000))
        self.assertTrue(added["path"].startswith(os.path.realpath(t.path("temp"))), added["path"])
        first = added["id"]

        # 197 and 174 carry the same id.
        c.send(frame(DOWNLOAD_STATUS_ON))
        entries = read_download_status(c.wait_for(DOWNLOAD_STATUS, skip=(CONSOLE_TEXT,)))
        self.assertEqual(list(entries), [first])
        status, _speed, done, available, sources = entries[first]
        self.assertIn(status, (1, 2))
        self.assertEqual((done, available, sources), (0, 0, 0))
        c.send(frame(DOWNLOAD_STATUS_OFF))
        c.send(frame(GET_PART_MAP, first_hash))
        self.assertEqual(c.wait_for(PART_MAP, skip=(DOWNLOAD_STATUS,)), struct.pack("<IHIIH", first, 1, 0, 1000000, 0))

        # Pause and resume by hash, as the next push shows.
        c.send(frame(PAUSE, first_hash))
        self.marker(c, "paused")
        c.send(frame(DOWNLOAD_STATUS_ON))
        self.assertEqual(read_download_status(c.wait_for(DOWNLOAD_STATUS))[first][0], PAUSED)
        c.send(frame(DOWNLOAD_STATUS_OFF))
        c.send(frame(RESUME, first_hash))
        self.marker(c, "resumed")
        c.send(frame(DOWNLOAD_STATUS_ON))
        self.assertNotEqual(read_download_status(c.wait_for(DOWNLOAD_STATUS))[first][0], PAUSED)
        c.send(frame(DOWNLOAD_STATUS_OFF))
        self.marker(c, "pushes off")

        # A second download; the first one's priority by hash (a level
        # above 3 changes nothing).
        c.send(frame(DOWNLOAD, file_record(second_hash, "remote two.bin", 5000)))
        second = read_download_added(c.wait_for(DOWNLOAD_ADDED, skip=(CONSOLE_TEXT,)))["id"]
        self.assertNotEqual(second, first)
        c.send(frame(PRIORITY, first_hash + b"\x00"))
        c.send(frame(PRIORITY, first_hash + b"\x04"))

        # Hashes of no download: nothing happens, nothing is answered.
        for opcode in (PAUSE, RESUME, CANCEL, GET_PART_MAP):
            c.send(frame(opcode, unknown))
        c.send(frame(PRIORITY, unknown + b"\x02"))
        self.assertEqual(self.marker(c, "unknown hashes"), [])

        # A new controller sees both downloads with their ids and priorities.
        c.close()
        c, initial = self.attach(t)
        listed = {}
        for opcode, payload in initial:
            if opcode == DOWNLOAD_ADDED:
                entry = read_download_added(payload)
                listed[entry["hash"]] = (entry["id"], entry["priority"])
        self.assertEqual(listed[first_hash], (first, 0))
        self.assertEqual(listed[second_hash][0], second)

        # 210 cancels: 189 with the hash; the pushes list the other one.
        c.send(frame(CANCEL, first_hash))
        self.assertEqual(c.wait_for(DOWNLOAD_REMOVED, skip=(CONSOLE_TEXT,)), first_hash)
        c.send(frame(DOWNLOAD_STATUS_ON))
        self.assertEqual(list(read_download_status(c.wait_for(DOWNLOAD_STATUS, skip=(CONSOLE_TEXT,)))), [second])


if __name__ == "__main__":
    controller_client.main()
