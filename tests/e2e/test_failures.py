"""Starts that fail: no free port, an extractor that cannot unpack, a disc without DATA/DICOM.
The launcher says so, and terminating still works and leaves nothing behind."""

import os
import shutil
import tempfile
import unittest

from launcher_driver import Launcher, PortBlocker, http_request, make_disc, port_of, wait_until


def setUpModule():
    global DISC_ROOT, DISC, CORRUPT_DISC, NO_DICOM_DISC
    DISC_ROOT = tempfile.mkdtemp(prefix="lumidra-e2e-disc-")
    DISC = make_disc(os.path.join(DISC_ROOT, "disc"))
    CORRUPT_DISC = make_disc(os.path.join(DISC_ROOT, "corrupt"), "--corrupt-viewer")
    NO_DICOM_DISC = make_disc(os.path.join(DISC_ROOT, "nodicom"), "--no-dicom")


def tearDownModule():
    shutil.rmtree(DISC_ROOT, ignore_errors=True)


class FailedStarts(unittest.TestCase):
    def run_launcher(self, disc):
        launcher = Launcher(disc)
        self.addCleanup(launcher.close)
        return launcher

    def assert_failed_start_then_terminate(self, launcher):
        launcher.wait_for_status("DICOM Lumidra failed to start", timeout=60)
        launcher.wait_for_line(r"^Button: Terminate DICOM Lumidra \(enabled\)$")
        log = launcher.show_log()
        self.assertIn(("ERROR", "Lumidra start failed!"), log)
        messages = [message for _, message in log]
        self.assertNotIn("Starting lumiserv...", messages)
        self.assertNotIn("Opening browser", messages)
        self.assertNotIn("Copying remaining files...", messages)
        self.assertEqual(launcher.browser_calls(), [])
        launcher.send("terminate")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.statuses()[-1], "Removing temporary files...")
        self.assertEqual(launcher.workspace_entries(), [])
        return log

    def test_no_free_port(self):
        blocker = PortBlocker(range(8000, 8100))
        self.addCleanup(blocker.close)
        launcher = self.run_launcher(DISC)
        log = self.assert_failed_start_then_terminate(launcher)
        checks = [m for _, m in log if m.startswith("Checking free port number: ")]
        self.assertEqual(checks, ["Checking free port number: %d" % p for p in range(8000, 8100)])
        errors = [m for level, m in log if level == "ERROR"]
        self.assertEqual(errors, ["No free port found", "Lumidra start failed!"])
        self.assertNotIn("Creating TEMP dir...", [m for _, m in log])

    def test_an_extractor_that_fails(self):
        launcher = self.run_launcher(CORRUPT_DISC)
        log = self.assert_failed_start_then_terminate(launcher)
        attempts = [m for _, m in log if m.startswith("Browser unzip attempt ")]
        self.assertEqual(attempts, ["Browser unzip attempt 1", "Browser unzip attempt 2", "Browser unzip attempt 3"])
        self.assertIn("Copying browser - error occured. Retrying...", launcher.statuses())
        self.assertIn(("ERROR", "Cannot copy necessary files to TEMP dir."), log)

    def test_a_disc_without_its_dicom_folder(self):
        launcher = self.run_launcher(NO_DICOM_DISC)
        launcher.wait_for_status("DICOM Lumidra started")
        port = port_of(launcher.show_log())
        # The launch id is answered once the start sequence, deferred copy included, has ended.
        wait_until(lambda: http_request(port, "GET", "/cmd/uniqueId")[0] == 200, 30, "the end of the start")
        self.assertEqual(http_request(port, "GET", "/copy_status.txt")[:2], (200, b"0"))
        log = launcher.show_log()
        self.assertIn(("ERROR", "Error during copying remaining DICOM files..."), log)
        self.assertIn(("INFO", "Copying of remaining files finished."), log)
        launcher.send("exit")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.workspace_entries(), [])


if __name__ == "__main__":
    unittest.main()
