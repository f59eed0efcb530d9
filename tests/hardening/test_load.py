"""Load and soak against the running launcher: 32 clients downloading a 64 MiB study file (while
the deferred copy publishes it, and again after) with others asking for small files, every byte
checked; then 100,000 mixed requests with the launcher's resident size and descriptors watched."""

import os
import socket
import sys
import threading
import time
import unittest

from hardening_support import HardeningCase, sha256_of
from load_clients import downloads_with_small_requests, soak

LARGE_MB = 64
CLIENTS = 32
SOAK_REQUESTS = int(os.environ.get("LUMIDRA_SOAK_REQUESTS", "100000"))
RSS_GROWTH_LIMIT_KIB = 1024


class Load(HardeningCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # Without a quarantine for freed memory, a sanitized launcher's resident size only grows
        # with memory it really keeps.
        cls.start_for_class("--large-file-mb", str(LARGE_MB), extra_env={"ASAN_OPTIONS": "quarantine_size_mb=0"})
        cls.large_sha = sha256_of(os.path.join(cls.disc, "DATA", "DICOM", "LARGE.BIN"))
        with open(os.path.join(cls.disc, "DATA", "DICOMDIR"), "rb") as dicomdir:
            cls.dicomdir = dicomdir.read()

    @classmethod
    def tearDownClass(cls):
        assert cls.launcher.terminate() == 0
        assert cls.launcher.sanitizer_reports() == [], cls.launcher.sanitizer_reports()
        super().tearDownClass()

    def run_downloads(self, small):
        figures, problems = downloads_with_small_requests(self.port, "/DICOM/LARGE.BIN", self.large_sha,
                                                          CLIENTS, small)
        print("downloads:", figures, file=sys.stderr)
        self.assertEqual(problems, [])
        self.assertEqual(figures["downloads"], CLIENTS)
        self.assertEqual(figures["download_bytes"], CLIENTS * (LARGE_MB << 20))
        self.assertGreater(figures["small_ok"], 0)

    def test_1_downloads_while_the_copy_runs_and_after(self):
        # Straight after the start the deferred copy is still publishing the large file: every
        # download is whole, whichever root answered it.
        self.run_downloads([("/DICOMDIR", self.dicomdir), ("/7z/index.html", self.index_page())])
        self.launcher.wait_for_copy_end(self.port)
        self.run_downloads([("/copy_status.txt", b"1"), ("/DICOMDIR", self.dicomdir)])

    def index_page(self):
        with open(os.path.join(self.launcher.workspace(self.launch_id), "DATA", "7z", "index.html"), "rb") as page:
            return page.read()

    def test_2_soak(self):
        self.launcher.wait_for_copy_end(self.port)
        pid = self.launcher.process.pid
        figures, problems = soak(self.port, pid, SOAK_REQUESTS)
        print("soak:", figures, file=sys.stderr)
        self.assertEqual(problems, [])
        self.assertEqual(figures["fds_end"], figures["fds_before"])
        self.assertLess(figures["rss_kib_end"] - figures["rss_kib_after_1000"], RSS_GROWTH_LIMIT_KIB)
        self.assertIsNone(self.launcher.process.poll())


class TerminateUnderLoad(HardeningCase):
    def test_terminate_while_every_slot_downloads(self):
        launcher = self.start(self.make_own_disc("--large-file-mb", str(LARGE_MB)))
        port, launch_id = launcher.port_and_id()
        results = []
        # Slow readers keep every slot busy sending when the stop comes.
        threads = [threading.Thread(target=lambda: results.append(slow_download(port))) for _ in range(CLIENTS)]
        for thread in threads:
            thread.start()
        time.sleep(1)
        started = time.monotonic()
        self.assertEqual(launcher.terminate(timeout=30), 0)
        self.assertLess(time.monotonic() - started, 15)
        for thread in threads:
            thread.join(30)
        self.assertEqual(len(results), CLIENTS)
        # Every client saw its connection end; none got more than the file.
        self.assertTrue(all(length <= LARGE_MB << 20 for length in results), results)
        self.assertFalse(os.path.exists(launcher.workspace(launch_id)))
        self.assertEqual(launcher.sanitizer_reports(), [])


def slow_download(port):
    """Reads a large file slowly until the server ends the connection; returns the body length."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=30)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
    received = 0
    try:
        sock.sendall(b"GET /DICOM/LARGE.BIN HTTP/1.1\r\n\r\n")
        while True:
            piece = sock.recv(65536)
            if not piece:
                break
            received += len(piece)
            time.sleep(0.02)
    except OSError:
        pass
    finally:
        sock.close()
    return max(0, received - 200)  # less the header


if __name__ == "__main__":
    unittest.main()
