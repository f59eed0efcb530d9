"""Slow clients: 32 connections that trickle their requests a byte at a time hold every slot and the
33rd is turned away with the fixed 403 page, but only until each connection's own bound (10 s from
accept) runs out: however they go on trickling, the server closes them, and service comes back
without anyone restarting anything."""

import re
import socket
import time
import unittest

from hardening_support import FORBIDDEN_PAGE, HardeningCase, exchange, http_get, wait_until

SLOTS = 32
REQUEST_BOUND = 10
CLOSE_LIMIT = REQUEST_BOUND + 2 + 3  # the bound, the loop's one-second check, slack for a busy machine
TRICKLE_LIMIT = 40  # far past the idle expiry (15 s), which every byte renews


def closed_by_server(sock):
    try:
        return sock.recv(16) == b""
    except BlockingIOError:
        return False
    except OSError:
        return True


class SlowClients(HardeningCase):
    @classmethod
    def make_discs(cls):
        cls.disc = cls.make_disc("disc")

    def setUp(self):
        # A run of its own for each test: the slots one test fills must not be the next one's.
        self.launcher, self.port, _ = self.start_and_wait_for_copy(self.disc)

    def test_slots_held_by_a_trickle_come_back_once_each_request_is_overdue(self):
        request = b"GET /copy_status.txt HTTP/1.1\r\nHost: localhost\r\nX-Slow: " + b"x" * 200
        slow = []
        self.addCleanup(lambda: [s.close() for s in slow])
        connected = time.monotonic()
        for _ in range(SLOTS):
            slow.append(socket.create_connection(("127.0.0.1", self.port), timeout=5))
        # The server takes each connection into a slot as it accepts it.
        wait_until(lambda: exchange(self.port, b"GET /copy_status.txt HTTP/1.1\r\n\r\n").data == FORBIDDEN_PAGE,
                   8, "the slots to fill")
        for sock in slow:
            sock.setblocking(False)

        # Every connection sends a byte every second, never finishing its request; each is closed
        # once its bound has passed, trickle or not.
        closed_after = {}
        sent = 0
        while len(closed_after) < SLOTS and time.monotonic() - connected < TRICKLE_LIMIT:
            for index, sock in enumerate(slow):
                if index in closed_after:
                    continue
                if closed_by_server(sock):
                    closed_after[index] = time.monotonic() - connected
                    continue
                try:
                    sock.send(request[sent:sent + 1])
                except OSError:
                    closed_after[index] = time.monotonic() - connected
            sent += 1
            if sent < 4:
                # Still held: the 33rd connection gets exactly the 403 page and is closed.
                reply = exchange(self.port, b"GET /copy_status.txt HTTP/1.1\r\n\r\n")
                self.assertEqual(reply.data, FORBIDDEN_PAGE)
                self.assertTrue(reply.closed)
            time.sleep(1)
        self.assertEqual(len(closed_after), SLOTS, "slow clients still held after %d s" % TRICKLE_LIMIT)
        self.assertLess(max(closed_after.values()), CLOSE_LIMIT)
        self.assertGreaterEqual(min(closed_after.values()), REQUEST_BOUND - 2)

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
