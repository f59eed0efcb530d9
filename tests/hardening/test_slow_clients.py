"""Slow clients: 32 connections that trickle one byte a second hold every slot, the 33rd is
turned away with the fixed 403 page, and once the trickle stops the slots expire (15 s idle,
checked once a second) and service comes back without anyone restarting anything."""

import re
import socket
import time
import unittest

from hardening_support import FORBIDDEN_PAGE, HardeningCase, exchange, http_get, wait_until

SLOTS = 32
TRICKLE_SECONDS = 4
EXPIRY_LIMIT = 15 + 2 + 3  # idle time, the loop's one-second check, and slack for a busy machine


class SlowClients(HardeningCase):
    @classmethod
    def make_discs(cls):
        cls.disc = cls.make_disc("disc")

    def setUp(self):
        # A run of its own for each test: the slots one test fills must not be the next one's.
        self.launcher, self.port, _ = self.start_and_wait_for_copy(self.disc)

    def test_slots_held_by_a_trickle_come_back_after_expiry(self):
        request = b"GET /copy_status.txt HTTP/1.1\r\nHost: localhost\r\n"  # never finished
        slow = []
        self.addCleanup(lambda: [s.close() for s in slow])
        for _ in range(SLOTS):
            slow.append(socket.create_connection(("127.0.0.1", self.port), timeout=5))
        # The server takes each connection into a slot as it accepts it.
        wait_until(lambda: exchange(self.port, b"GET /copy_status.txt HTTP/1.1\r\n\r\n").data == FORBIDDEN_PAGE,
                   10, "the slots to fill")
        for second in range(TRICKLE_SECONDS):
            for sock in slow:
                sock.sendall(request[second:second + 1])
            time.sleep(1)

        # Every slot is busy: the 33rd connection gets exactly the 403 page and is closed.
        for _ in range(3):
            reply = exchange(self.port, b"GET /copy_status.txt HTTP/1.1\r\n\r\n")
            self.assertEqual(reply.data, FORBIDDEN_PAGE)
            self.assertTrue(reply.closed)

        # The trickle stops; each slow connection is closed by the server once it has been idle.
        stopped = time.monotonic()
        for sock in slow:
            sock.settimeout(EXPIRY_LIMIT + 5)
        for sock in slow:
            self.assertEqual(sock.recv(16), b"", "a slow client was answered")
        self.assertLess(time.monotonic() - stopped, EXPIRY_LIMIT)
        self.assertGreaterEqual(time.monotonic() - stopped, 14)

        status, body = http_get(self.port, "/copy_status.txt")
        self.assertEqual((status, body), (200, b"1"))
        status, stats = http_get(self.port, "/stats")
        self.assertEqual(status, 200)
        self.assertGreaterEqual(int(re.search(rb"<ExpireTimeout>(\d+)<", stats).group(1)), SLOTS)
        self.assertEqual(int(re.search(rb"<MaxClients>(\d+)<", stats).group(1)), SLOTS)
        self.assertEqual(re.search(rb"<Clients>(\d+)<", stats).group(1), b"1")  # the asker alone

    def test_clients_that_connect_and_vanish(self):
        # Connections opened and dropped at once, over and over, never leave a slot behind.
        for _ in range(200):
            socket.create_connection(("127.0.0.1", self.port), timeout=5).close()
        wait_until(lambda: http_get(self.port, "/stats")[0] == 200, 10, "the stats page")
        _, stats = http_get(self.port, "/stats")
        self.assertEqual(re.search(rb"<Clients>(\d+)<", stats).group(1), b"1", stats)


if __name__ == "__main__":
    unittest.main()
