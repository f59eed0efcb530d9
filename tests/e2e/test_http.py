"""The viewer page's side of the launcher over HTTP: with port 8000 taken, a study large enough
that the deferred copy can be watched, and the exit request."""

import os
import re
import shutil
import tempfile
import time
import unittest

from launcher_driver import (Launcher, PortBlocker, http_request, listening_addresses, make_disc, port_of,
                             wait_until)

LARGE_FILE_MB = 768  # a few seconds of copying on a test machine


def setUpModule():
    global DISC_ROOT, DISC
    DISC_ROOT = tempfile.mkdtemp(prefix="lumidra-e2e-disc-")
    DISC = make_disc(os.path.join(DISC_ROOT, "disc"), "--large-file-mb", str(LARGE_FILE_MB))


def tearDownModule():
    shutil.rmtree(DISC_ROOT, ignore_errors=True)


class ViewerPageContract(unittest.TestCase):
    def setUp(self):
        self.blocker = PortBlocker([8000])
        self.addCleanup(self.blocker.close)
        self.launcher = Launcher(DISC)
        self.addCleanup(self.launcher.close)

    def test_files_copy_status_launch_id_and_exit(self):
        launcher = self.launcher
        launcher.wait_for_status("DICOM Lumidra started", timeout=120)
        address = launcher.wait_for_browser()
        port = int(re.search(r"localhost:(\d+)/", address).group(1))
        launch_id = address.rsplit("=", 1)[1]
        self.assertGreater(port, 8000)

        # While the deferred copy runs: not complete, and the hook not installed yet.
        status, body, _ = http_request(port, "GET", "/copy_status.txt")
        self.assertEqual((status, body), (200, b"0"))
        status, _, _ = http_request(port, "GET", "/cmd/uniqueId")
        self.assertEqual(status, 404)
        status, _, _ = http_request(port, "POST", "/cmd/exit?uniqueId=" + launch_id)
        self.assertEqual(status, 404)
        self.assertIsNone(launcher.process.poll())

        # Served to this machine only.
        self.assertEqual(listening_addresses(port), ["127.0.0.1"])

        status, page, headers = http_request(port, "GET", "/7z/index.html?uniqueId=" + launch_id)
        self.assertEqual(status, 200)
        self.assertIn(b"<html", page.lower())
        self.assertEqual(headers.get("Server"), "Lumiserv")
        status, config, _ = http_request(port, "GET", "/7z/data/config/config-lumidra.json")
        self.assertEqual(status, 200)
        self.assertIn(b"localhost:%d" % port, config)
        self.assertNotIn(b"localhost:8000", config)
        # The viewer archive is never copied into the workspace: only the disc has it.
        status, archive, _ = http_request(port, "GET", "/7z/viewer.7z")
        self.assertEqual(status, 200)
        with open(os.path.join(DISC, "DATA", "7z", "viewer.7z"), "rb") as original:
            self.assertEqual(archive, original.read())
        status, _, _ = http_request(port, "GET", "/no/such/file.txt")
        self.assertEqual(status, 404)

        # Once the copy has ended the hook answers.
        wait_until(lambda: http_request(port, "GET", "/copy_status.txt")[1] == b"1", 120, "copy_status.txt 1")
        wait_until(lambda: http_request(port, "GET", "/cmd/uniqueId")[0] == 200, 30, "the launch id")
        status, body, headers = http_request(port, "GET", "/cmd/uniqueId")
        self.assertEqual((status, body.decode()), (200, launch_id))
        self.assertTrue(headers.get("Content-Type", "").startswith("text/html"), headers)
        self.assertEqual(http_request(port, "POST", "/cmd/uniqueId")[:2], (200, launch_id.encode()))
        self.assertEqual(http_request(port, "GET", "/cmd/uniqueId?x=1")[:2], (200, launch_id.encode()))
        self.assertEqual(http_request(port, "POST", "/cmd/uniqueId?x=1")[0], 404)
        large = os.path.join(launcher.tmpdir, launch_id, "DATA", "DICOM", "LARGE.BIN")
        self.assertEqual(os.path.getsize(large), LARGE_FILE_MB << 20)

        # Exit requests that must not end the launcher.
        self.assertEqual(http_request(port, "GET", "/cmd/exit?uniqueId=" + launch_id)[0], 404)
        self.assertEqual(http_request(port, "POST", "/cmd/exit?uniqueId=" + launch_id + "x")[0], 404)
        self.assertEqual(http_request(port, "POST", "/cmd/exit?uniqueId=")[0], 404)
        self.assertEqual(http_request(port, "POST", "/cmd/exit?uniqueId=" + launch_id.upper())[0], 404)
        time.sleep(1.5)
        self.assertIsNone(launcher.process.poll())

        asked = time.monotonic()
        status, body, _ = http_request(port, "POST", "/cmd/exit?uniqueId=" + launch_id)
        self.assertEqual((status, body), (200, b"OK"))
        self.assertEqual(launcher.wait_exit(timeout=10), 0)
        took = time.monotonic() - asked
        self.assertGreaterEqual(took, 0.9)  # the exit waits its second before it runs
        self.assertIn("Status: Removing temporary files...", launcher.output())
        self.assertEqual(launcher.workspace_entries(), [])
        with self.assertRaises(OSError):
            http_request(port, "GET", "/copy_status.txt", timeout=2)


if __name__ == "__main__":
    unittest.main()
