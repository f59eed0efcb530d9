"""Malformed requests against the running launcher: each is answered or closed as the server's
rules say, and the next good request is served as if nothing had happened."""

import os
import socket
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

from hardening_support import FORBIDDEN_PAGE, NOT_FOUND_BODY, HardeningCase, exchange, http_get

SLOT_BUFFER = 131072


class MalformedRequests(HardeningCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.start_for_class()

    def tearDown(self):
        # Whatever came before, the next good request is served.
        self.assertEqual(http_get(self.port, "/copy_status.txt")[0], 200)
        self.assertIsNone(self.launcher.process.poll(), "the launcher ended")

    def test_no_protocol_word_closes_without_an_answer(self):
        for request in (b"GET /copy_status.txt\r\n\r\n", b"GET /copy_status.txt HTTP/2.0\r\n\r\n",
                        b"POST /cmd/uniqueId\r\nContent-Length: 0\r\n\r\n", b"\r\n\r\n"):
            reply = exchange(self.port, request)
            with self.subTest(request=request):
                self.assertEqual(reply.data, b"")
                self.assertTrue(reply.closed)

    def test_methods_other_than_get_and_post_get_no_answer(self):
        for method in (b"DELETE", b"PUT", b"HEAD", b"OPTIONS", b"TRACE", b"CONNECT", b"get", b"PATCH", b"GETX",
                       b"POSTX", b"GET\t"):
            reply = exchange(self.port, method + b" /copy_status.txt HTTP/1.1\r\nHost: x\r\n\r\n")
            with self.subTest(method=method):
                self.assertEqual(reply.data, b"")
                self.assertTrue(reply.closed)

    def test_other_site_names_get_the_forbidden_page(self):
        # A page of another site whose name resolves to 127.0.0.1 (DNS rebinding) reads neither
        # the study nor the launch id, and cannot post the exit.
        exit_path = b"/cmd/exit?uniqueId=" + self.launch_id.encode()
        for method, path in ((b"GET", b"/copy_status.txt"), (b"GET", b"/cmd/uniqueId"), (b"POST", exit_path)):
            request = (method + b" " + path + b" HTTP/1.1\r\nHost: rebind.example:%d\r\n"
                       b"Content-Length: 0\r\n\r\n" % self.port)
            with self.subTest(path=path):
                self.assertEqual(exchange(self.port, request).data, FORBIDDEN_PAGE)
        # An accepted exit would end the launcher one second later.
        time.sleep(1.5)
        self.assertIsNone(self.launcher.process.poll())
        reply = exchange(self.port, b"GET /copy_status.txt HTTP/1.1\r\nHost: LOCALHOST:%d\r\n\r\n" % self.port)
        self.assertEqual(reply.status, 200, reply)

    def test_header_without_blank_line_that_fills_the_buffer(self):
        # No end of header ever arrives: once the buffer is full the server stops reading and
        # closes; it answers nothing.
        header = b"GET /copy_status.txt HTTP/1.1\r\n" + b"X-Filler: " + b"a" * (SLOT_BUFFER + 4096)
        reply = exchange(self.port, header, timeout=20)
        self.assertEqual(reply.data, b"")
        self.assertTrue(reply.closed)

    def test_header_that_leaves_no_room_for_the_answer(self):
        # A complete header of just under the buffer's size: closed, nothing written past it.
        filler = b"X-Filler: " + b"b" * (SLOT_BUFFER - 200) + b"\r\n"
        reply = exchange(self.port, b"GET /copy_status.txt HTTP/1.1\r\n" + filler + b"\r\n", timeout=20)
        self.assertTrue(reply.closed)
        self.assertIn(reply.status, (None, 200), reply)

    def test_ten_thousand_header_lines(self):
        lines = b"".join(b"X-%d: v\r\n" % i for i in range(10000))
        self.assertLess(len(lines), SLOT_BUFFER - 1024)
        reply = exchange(self.port, b"GET /copy_status.txt HTTP/1.1\r\n" + lines + b"\r\n", timeout=20)
        self.assertEqual(reply.status, 200, reply)
        self.assertIn(reply.body, (b"0", b"1"))
        # Ten thousand longer lines do not fit: the buffer fills and the connection closes.
        lines = b"".join(b"X-Header-%05d: %s\r\n" % (i, b"v" * 20) for i in range(10000))
        reply = exchange(self.port, b"GET /copy_status.txt HTTP/1.1\r\n" + lines + b"\r\n", timeout=20)
        self.assertEqual(reply.data, b"")
        self.assertTrue(reply.closed)

    def test_ten_megabyte_body(self):
        # The body of a plain POST is kept up to 256 KiB; the request is answered once that much
        # has arrived, and the rest of the body is never read.
        size = 10 << 20
        request = (b"POST /no/such/form HTTP/1.1\r\nContent-Length: %d\r\n\r\n" % size) + b"z" * size
        started = time.monotonic()
        reply = exchange(self.port, request, timeout=30)
        self.assertLess(time.monotonic() - started, 30)
        self.assertEqual(reply.status, 404, reply)
        self.assertEqual(reply.body, NOT_FOUND_BODY)
        self.assertTrue(reply.closed)

    def test_content_length_that_lies(self):
        # Longer than the body: the server waits for bytes that never come; the client gives up.
        reply = exchange(self.port, b"POST /cmd/uniqueId HTTP/1.1\r\nContent-Length: 1000\r\n\r\nabc", timeout=2)
        self.assertEqual(reply.data, b"")
        self.assertFalse(reply.closed)
        # Shorter than the body: answered after the announced bytes.
        reply = exchange(self.port, b"POST /no/file HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcdefghij")
        self.assertEqual(reply.status, 404)
        # Negative, huge, and not a number at all.
        for value in (b"-5", b"99999999999999999999", b"abc", b"0x10", b" 12"):
            request = b"POST /no/file HTTP/1.1\r\nContent-Length: " + value + b"\r\n\r\n" + b"q" * 12
            reply = exchange(self.port, request, timeout=3)
            with self.subTest(value=value):
                self.assertIn(reply.status, (None, 404), reply)

    def test_boundary_of_two_hundred_characters(self):
        boundary = b"B" * 200
        body = b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" + boundary + b"--\r\n"
        request = (b"POST /upload HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + boundary +
                   b"\r\nContent-Length: %d\r\n\r\n" % len(body)) + body
        reply = exchange(self.port, request)
        self.assertEqual(reply.data, b"")
        self.assertTrue(reply.closed)
        # The launcher takes no uploads: a boundary the upload record holds is refused the same way.
        boundary = b"C" * 77
        body = b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" + boundary + b"--\r\n"
        request = (b"POST /upload HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + boundary +
                   b"\r\nContent-Length: %d\r\n\r\n" % len(body)) + body
        reply = exchange(self.port, request)
        self.assertEqual(reply.data, b"")
        self.assertTrue(reply.closed)

    def test_uploads_are_not_written_anywhere(self):
        # The launcher takes no uploads: a file part and a single-file upload are refused at once,
        # before their data is read, and store nothing.
        before = sorted(os.listdir(self.disc)), sorted(os.listdir(self.launcher.scratch))
        body = (b"--xx\r\nContent-Disposition: form-data; name=\"f\"; filename=\"../../evil.txt\"\r\n\r\n"
                b"EVIL\r\n--xx--\r\n")
        request = (b"POST /up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=xx\r\n"
                   b"Content-Length: %d\r\n\r\n" % len(body)) + body
        request_single = b"POST /up HTTP/1.1\r\nContent-Type: text/plain; filename=/tmp/evil.txt\r\n\r\nEVIL"
        for upload in (request, request_single):
            reply = exchange(self.port, upload, timeout=3)
            self.assertEqual(reply.data, b"")
            self.assertTrue(reply.closed, "the upload was kept waiting")
        after = sorted(os.listdir(self.disc)), sorted(os.listdir(self.launcher.scratch))
        self.assertEqual(before, after)
        self.assertFalse(os.path.exists("/evil.txt"))

    def test_binary_garbage(self):
        # All at once: garbage with a blank line in it is closed at once, garbage without one
        # waits like any unfinished header and is closed when it expires (15 s, checked once a
        # second), never answered with anything but the 404 page.
        garbage = [bytes(range(256)) * 64, b"\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03" + os.urandom(4000),
                   os.urandom(SLOT_BUFFER + 10), b"\x00" * 5000, b"\r\n\r\n" * 1000,
                   b"GET " + os.urandom(3000) + b" HTTP/1.1\r\n\r\n",
                   b"POST /x HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\x00\xff\r\n\r\n" + os.urandom(2000)]
        started = time.monotonic()
        with ThreadPoolExecutor(len(garbage)) as pool:
            replies = list(pool.map(lambda data: exchange(self.port, data, timeout=25), garbage))
        for data, reply in zip(garbage, replies):
            with self.subTest(size=len(data), start=data[:8]):
                self.assertTrue(reply.closed, reply)
                self.assertIn(reply.status, (None, 404), reply)
        self.assertLess(time.monotonic() - started, 25)

    def test_peer_that_resets_mid_file(self):
        # A client that asks for a file and vanishes at once: the server must shrug it off.
        for _ in range(20):
            sock = socket.create_connection(("127.0.0.1", self.port))
            sock.sendall(b"GET /DICOMDIR HTTP/1.1\r\n\r\n")
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            sock.close()


if __name__ == "__main__":
    unittest.main()
