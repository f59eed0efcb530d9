"""Traversal and injection paths against the running launcher: hundreds of spellings of "go up",
absolute paths, drive and share names, NUL bytes and paths too long to hold. Canary files lie
outside the document roots at every level above them; not one of their bytes may come back.
Only paths that begin with "~" may reach the disc's root folder (that is what "~" is for), and
even they never climb above it."""

import os
import unittest
import uuid

from hardening_support import HardeningCase, exchange, http_get

UP_SPELLINGS = [
    "../", "..%2f", "..%2F", "%2e%2e/", "%2e%2e%2f", "%2E%2E%2F", ".%2e/", "%2e./", "..%5c", "..%5C",
    "..\\", "%2e%2e%5c", "%252e%252e%252f", "..%252f", "%c0%ae%c0%ae/", "..%c0%af", "..%c1%9c",
    "%e0%80%ae%e0%80%ae/", "....//", "..././", ".../", "..;/", "..%00/", "..%0d%0a/", "..%20/",
    ". ./", "..%09/", "%2e%2e%c0%af", "..//", "..%2f%2f", "%2e%2e%2f%2f", "..+/", "%%32%65%%32%65/",
]
DEPTHS = (1, 2, 3, 5)
PREFIXES = ("", "7z/", "DICOM/", "~", "~/")


class HostilePaths(HardeningCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.start_for_class()
        workspace = cls.launcher.workspace(cls.launch_id)
        # One canary per level above the roots, each with a token of its own.
        cls.canaries = {}
        for folder in (workspace, cls.launcher.tmpdir, cls.launcher.scratch, cls.disc_root,
                       os.path.join(cls.disc_root, "absolute")):
            os.makedirs(folder, exist_ok=True)
            token = "CANARY-" + uuid.uuid4().hex
            with open(os.path.join(folder, "CANARY.txt"), "w") as out:
                out.write(token)
            cls.canaries[os.path.join(folder, "CANARY.txt")] = token
        # The disc's root is outside both roots: only "~" paths may reach it.
        cls.disc_token = "DISC-ROOT-" + uuid.uuid4().hex
        with open(os.path.join(cls.disc, "CANARY.txt"), "w") as out:
            out.write(cls.disc_token)

    def paths(self):
        paths = []
        for prefix in PREFIXES:
            for up in UP_SPELLINGS:
                for depth in DEPTHS:
                    paths.append("/" + prefix + up * depth + "CANARY.txt")
        absolute = os.path.join(self.disc_root, "absolute", "CANARY.txt")
        for spelling in ("/" + absolute, "//" + absolute, "/~" + absolute, "/~/" + absolute,
                         "/%2f" + absolute[1:], "/~%2f" + absolute[1:], "/" + absolute.replace("/", "%2f"),
                         "/" + absolute.replace("/", "\\"), "/~" + absolute.replace("/", "\\"),
                         "/file://" + absolute, "/http://localhost" + absolute, "/rtsp://x/.." + absolute):
            paths.append(spelling)
        paths += [
            "/~C:/CANARY.txt", "/~C:\\CANARY.txt", "/C:/CANARY.txt", "/~\\\\localhost\\share\\CANARY.txt",
            "/~//localhost/share/CANARY.txt", "/\\\\?\\C:\\CANARY.txt", "/%5c%5c?%5cC:%5cCANARY.txt",
            "/copy_status.txt%00/../../CANARY.txt", "/%00../../../CANARY.txt", "/..%00.txt",
            "/7z/index.html/../../../CANARY.txt", "/cmd/../../CANARY.txt", "/stats/../../../CANARY.txt",
            "/cmd/%2e%2e/%2e%2e/CANARY.txt", "/?../../CANARY.txt", "/#/../../CANARY.txt",
            "/" + "../" * 150 + "CANARY.txt", "/" + "%2e%2e%2f" * 60 + "CANARY.txt",
            "/" + "a/" * 300 + "../" * 310 + "CANARY.txt", "/" + "x" * 600, "/" + "%41" * 2000,
            "/~" + "../" * 40 + "CANARY.txt", "/~.%2e/CANARY.txt", "/~..\\CANARY.txt",
        ]
        return paths

    def assert_no_canary(self, path, reply):
        for canary, token in self.canaries.items():
            self.assertNotIn(token.encode(), reply.data, "%s returned %s" % (path, canary))
        if not path.startswith("/~"):
            self.assertNotIn(self.disc_token.encode(), reply.data, "%s returned the disc root's file" % path)

    def test_traversal_table(self):
        paths = self.paths()
        self.assertGreaterEqual(len(paths), 100)
        answered = {}
        for path in paths:
            for method in (b"GET", b"POST"):
                request = method + b" " + path.encode("latin-1") + b" HTTP/1.1\r\nHost: localhost\r\n"
                if method == b"POST":
                    request += b"Content-Length: 0\r\n"
                reply = exchange(self.port, request + b"\r\n")
                with self.subTest(path=path, method=method):
                    self.assert_no_canary(path, reply)
                    # Every request ends: an answer, or a connection closed without one.
                    self.assertTrue(reply.closed, reply)
                    if reply.data:
                        self.assertIn(reply.status, (200, 404), reply)
                answered[reply.status] = answered.get(reply.status, 0) + 1
        # Most of these name nothing under the roots.
        self.assertGreater(answered.get(404, 0), len(paths))
        self.assertEqual(http_get(self.port, "/copy_status.txt")[0], 200)

    def test_literal_bytes_in_the_request_line(self):
        # Bytes no client would percent-encode on its own: NUL, CR, tab, backslash, high bytes.
        lines = [b"GET /../\x00/../CANARY.txt HTTP/1.1", b"GET /\x00../../CANARY.txt HTTP/1.1",
                 b"GET /..\\..\\..\\CANARY.txt HTTP/1.1", b"GET /..\t/../CANARY.txt HTTP/1.1",
                 b"GET /\xc0\xae\xc0\xae/\xc0\xae\xc0\xae/CANARY.txt HTTP/1.1",
                 b"GET /~\xff/../CANARY.txt HTTP/1.1", b"GET /..\r/../CANARY.txt HTTP/1.1",
                 b"GET ../../CANARY.txt HTTP/1.1", b"GET\t/../../CANARY.txt HTTP/1.1",
                 b"GET /../../CANARY.txt HTTP/1.1 HTTP/1.1", b"GET /CANARY.txt%20HTTP/1.1/../../.. HTTP/1.1"]
        for line in lines:
            reply = exchange(self.port, line + b"\r\nHost: localhost\r\n\r\n")
            with self.subTest(line=line):
                self.assert_no_canary(line.decode("latin-1"), reply)
                self.assertTrue(reply.closed, reply)

    def test_tilde_reaches_the_disc_root_and_no_higher(self):
        status, body = http_get(self.port, "/~CANARY.txt")
        self.assertEqual((status, body.decode()), (200, self.disc_token))
        status, body = http_get(self.port, "/~DATA/DICOMDIR")
        self.assertEqual(status, 200)
        with open(os.path.join(self.disc, "DATA", "DICOMDIR"), "rb") as original:
            self.assertEqual(body, original.read())
        for path in ("/~../CANARY.txt", "/~/../CANARY.txt", "/~%2e%2e/CANARY.txt",
                     "/~" + self.disc_root + "/CANARY.txt"):
            reply = exchange(self.port, b"GET " + path.encode() + b" HTTP/1.1\r\n\r\n")
            self.assert_no_canary(path, reply)
            # A parent step that cannot be taken is dropped: at most the disc root's own file.
            self.assertIn(reply.status, (200, 404), (path, reply))
            if reply.status == 200:
                self.assertEqual(reply.body.decode(), self.disc_token, path)


if __name__ == "__main__":
    unittest.main()
