#!/usr/bin/env python3
"""A small remote controller driving real tandrel processes over the
controller protocol on 127.0.0.1: login, commands, dispatch and shutdown.

Each test starts `tandrel "aport <port>" "pass u p" - !` in a temporary
directory on a leased port. Frames, strings and records are
read here independently of the client's own code.

Run: controller_test.py --tandrel <path to the tandrel program>
"""
import struct
import subprocess
import time

from controller_client import *  # noqa: F401,F403  (frames, controller, processes)
import controller_client


class RemoteControl(RemoteTestCase):
    def test_empty_settings_refuse_every_login(self):
        t = self.start(["aport {port}", "-", "!"])
        for name, password in (("", ""), ("u", "p")):
            c = t.controller()
            c.login(name, password)
            self.assertTrue(c.wait_closed(), (name, password))
            self.assertEqual(c.buffer, b"")
            c.close()
        # Nobody can log in, so the process is ended by a signal here.
        t.proc.terminate()
        status, out, _ = t.wait()
        self.assertEqual(status, 0)
        self.assertEqual(out.count("Invalid name and pass"), 2)

    def test_login_table(self):
        t = self.start(["aport {port}", "pass u p", "line 12.5", "dumax 30 10", "-", "!"])
        refused = [
            ("wrong password", frame(LOGIN, string("u") + string("x"))),
            ("another opcode first", frame(GET_STATUS)),
            # A first frame announcing more than the largest login: closed
            # before the body is read.
            ("oversized first length", struct.pack("<BIB", MARKER, LARGEST_LOGIN + 1, LOGIN)),
        ]
        for name, data in refused:
            c = t.controller()
            c.send(data)
            self.assertTrue(c.wait_closed(), name)
            c.close()

        # A connection that never logs in is dropped after the limit.
        silent = t.controller()
        self.assertTrue(silent.wait_closed(timeout=25), "silent connection")
        silent.close()

        first = t.controller()
        first.login()
        opcode, payload = first.next_frame()
        self.assertEqual(opcode, CLIENT_STATUS)
        status = client_status(payload)
        self.assertEqual(status["version"], 1050)
        self.assertEqual((status["download_limit"], status["upload_limit"]), (30.0, 10.0))
        self.assertEqual(status["door_port"], 4662)
        self.assertEqual(status["max_connections"], 45)
        self.assertEqual(status["max_connections_low"], 45)
        self.assertEqual(len(status["nickname"]), 5)
        self.assertTrue(status["temp"].endswith("/temp"), status["temp"])
        self.assertTrue(status["incoming"].endswith("/incoming"), status["incoming"])
        self.assertEqual(status["zeros"], (0, 0, 0))
        self.assertEqual((status["pm_allow"], status["save_cor"], status["verify_cancel"]), (0, 1, 1))
        self.assertEqual(status["admin_port"], t.port)
        date = status["build_date"]
        self.assertGreaterEqual(date >> 16, 24)
        self.assertIn((date >> 8) & 0xFF, range(1, 13))
        self.assertIn(date & 0xFF, range(1, 32))
        self.assertEqual(status["line_speed"], 12)
        self.assertEqual(status["pid"], t.proc.pid)
        self.assertEqual(status["rest"], b"")
        # No download; the two empty upload slots, each with its id, no
        # file, an empty user and a zero hash.
        empty_slot = string("") + bytes(16) + struct.pack("<IHI", 0, 0, 0) + bytes(16)
        slots = [first.next_frame(), first.next_frame()]
        self.assertEqual([opcode for opcode, _ in slots], [UPLOAD_SLOT, UPLOAD_SLOT])
        self.assertEqual([payload[4:] for _, payload in slots], [empty_slot, empty_slot])
        self.assertNotEqual(slots[0][1][:4], slots[1][1][:4])
        # Nothing else follows.
        first.send(frame(COMMAND, string("echo attached")))
        self.assertEqual(first.frames_until_quiet(), [(CONSOLE_TEXT, string("attached"))])
        first.send(frame(GET_STATUS))
        self.assertEqual(first.frames_until_quiet(), [(CLIENT_STATUS, payload)])

        second = t.controller()
        second.login()
        self.assertTrue(second.wait_closed(), "second controller")
        self.assertEqual(second.buffer, b"")
        second.close()
        self.assertIn("Another Control attempt", first.texts(first.frames_until_quiet()))
        first.close()

        status, out, _ = t.shutdown()
        self.assertEqual(status, 0)
        self.assertIn("Invalid name and pass", out)
        self.assertIn("Another Control attempt", out)

    def test_commands_reach_the_console_and_the_controller(self):
        t = self.start()
        c, _ = self.attach(t)
        c.send(frame(COMMAND, string("echo hello")))
        frames = c.frames_until_quiet()
        self.assertEqual(frames, [(CONSOLE_TEXT, string("hello"))])

        # An unknown opcode and the push switches keep the connection.
        for opcode in (250, 212, DOWNLOAD_STATUS_ON, UPLOAD_STATUS_ON, UPLOAD_STATUS_OFF):
            c.send(frame(opcode))
        c.send(frame(COMMAND, string("echo still here")))
        self.assertIn("still here", c.texts(c.frames_until_quiet()))

        # A payload shorter than its fields drops only that connection: a
        # new controller can attach, and the client goes on.
        c.send(frame(COMMAND, struct.pack("<H", 10) + b"ec"))
        self.assertTrue(c.wait_closed())
        c.close()
        again = t.controller()
        again.login()
        again.send(frame(COMMAND, string("echo back")))
        self.assertIn("back", again.texts(again.frames_until_quiet()))

        again.send(frame(SHUTDOWN))
        status, out, err = t.wait()
        again.close()
        self.assertEqual(status, 0, err)
        self.assertEqual(out.splitlines().count("hello"), 1)
        self.assertIn("still here", out)

    def test_shutdown_saves_the_admin_options_and_ends_the_log(self):
        t = self.start(["aport {port}", "pass u p", "-", "!"])
        c = t.controller()
        c.login()
        started = time.monotonic()
        c.send(frame(SHUTDOWN))
        status, _, err = t.wait()
        c.close()
        self.assertEqual(status, 0, err)
        self.assertLess(time.monotonic() - started, STEP_S)
        with open(t.path("log.txt")) as log:
            lines = log.read().splitlines()
        self.assertTrue(lines[-1].endswith("]: End Tandrel"), lines)
        with open(t.path("pref.met"), "rb") as pref:
            data = pref.read()
        for key in (b"adminDoorPort", b"adminName", b"adminPass"):
            self.assertIn(key, data)
        self.assertIn(struct.pack("<H", t.port), data)

    def test_q_from_the_controller_shuts_down_without_a_question(self):
        t = self.start()
        c = t.controller()
        c.login()
        c.send(frame(COMMAND, string("q")))
        status, out, err = t.wait()
        c.close()
        self.assertEqual(status, 0, err)
        self.assertNotIn("Are you sure", out)

    def test_paged_console_output_reaches_the_controller_once(self):
        # With a console: a typed listing is collected for paging and shown
        # through the console's own gateway, so the controller gets each
        # line once.
        t = self.start(["aport {port}", "pass u p", "-"], console=True)
        c = t.controller()
        c.login()
        c.send(frame(COMMAND, string("echo attached")))
        self.assertIn("attached", c.texts(c.frames_until_quiet()))
        t.proc.stdin.write(b"?\n")
        t.proc.stdin.flush()
        texts = c.texts(c.frames_until_quiet())
        self.assertEqual(sum("Print help" in text for text in texts), 1, texts)
        t.proc.stdin.close()  # end of input: the orderly shutdown
        t.proc.stdin = None
        status, out, err = t.wait()
        c.close()
        self.assertEqual(status, 0, err)
        self.assertEqual(out.count("Print help"), 1)

    def test_second_start_loads_the_settings(self):
        t = self.start(["aport {port}", "pass u p", "-", "!"], keep_lease=True)
        status, _, _ = t.shutdown()
        self.assertEqual(status, 0)
        # The same directory again, with no settings on the command line.
        argv = [controller_client.TANDREL, "aport", "-", "!"]
        proc = subprocess.Popen(argv, cwd=t.dir.name, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        t.proc = proc
        self.assertTrue(t._door_opens())
        status, out, err = t.shutdown()
        self.assertEqual(status, 0, err)
        self.assertIn(str(t.port), out.splitlines())


if __name__ == "__main__":
    controller_client.main()
