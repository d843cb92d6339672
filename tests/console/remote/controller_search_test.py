#!/usr/bin/env python3
"""A remote controller searching the overlay of two booted tandrel
processes: its search brings result frames, the console's result list
stays empty, and a result named by its file hash starts a download.

Run: controller_search_test.py --tandrel <path to the tandrel program>
"""
import struct
import time

from controller_client import *  # noqa: F401,F403  (frames, controller, processes)
import controller_client

# How long the two may take to boot, test their reachability and publish.
PUBLISH_S = 120.0
KEYWORD = "remotesearchable"
SHARED_NAME = KEYWORD + " tune.mp3"


def find_text(text):
    """A search tree of one text node."""
    return b"\x01" + string(text)


class OverlaySearch(RemoteTestCase):
    def test_results_reach_the_controller_and_start_downloads(self):
        indexer = self.start(peer_ports=True)
        sharer = self.start(["boot 127.0.0.1 %d" % indexer.peer_port] + HEADLESS, peer_ports=True,
                            files={SHARED_NAME: bytes(range(256)) * 40})
        c, _ = self.attach(indexer)

        # The sharer publishes its file's keywords once it knows it can be
        # reached; until then the search finds nothing.
        result = None
        deadline = time.monotonic() + PUBLISH_S
        while result is None and time.monotonic() < deadline:
            c.send(frame(SEARCH, find_text(KEYWORD.upper() + " tune")))
            for opcode, payload in c.frames_until_quiet(2.0):
                if opcode == SEARCH_RESULT and result is None:
                    result = payload
        self.assertIsNotNone(result, "no result within %.0f s" % PUBLISH_S)
        desc_id = result[16:32]
        tags, end = read_meta(result, 32)
        self.assertEqual(end, len(result))
        self.assertEqual(tags[ST_NAME], SHARED_NAME)

        # The result is the sharer's file.
        shared, _ = self.attach(sharer)
        shared.send(frame(GET_SHARED_FILES))
        payload = shared.wait_for(SHARED_FILES)
        self.assertEqual(struct.unpack_from("<I", payload)[0], 1)
        self.assertEqual(read_file_record(payload, 4)[0], desc_id)

        # The console kept nothing: its result list is empty.
        c.send(frame(COMMAND, string("vr 1")))
        self.assertIn("None.", c.texts(c.frames_until_quiet()))

        # 207 on the result starts its download.
        c.send(frame(DOWNLOAD_RESULT, desc_id))
        added = read_download_added(c.wait_for(DOWNLOAD_ADDED, skip=(CONSOLE_TEXT, SEARCH_RESULT)))
        self.assertEqual(added["hash"], desc_id)
        self.assertEqual(added["tags"][ST_NAME], SHARED_NAME)


if __name__ == "__main__":
    controller_client.main()
