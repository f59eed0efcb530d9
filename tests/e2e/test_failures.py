"""Starts that fail: no free port, an extractor that cannot unpack, a disc without DATA/DICOM.
The launcher says so, and terminating still works and leaves nothing behind."""

import unittest

from launcher_case import FAILED, REMOVING, LauncherCase
from launcher_driver import PortBlocker, http_request, port_of


class FailedStarts(LauncherCase):
    @classmethod
    def make_discs(cls):
        cls.disc = cls.make_disc("disc")
        cls.corrupt_disc = cls.make_disc("corrupt", "--corrupt-viewer")
        cls.no_dicom_disc = cls.make_disc("nodicom", "--no-dicom")

    def assert_failed_start_then_terminate(self, launcher):
        launcher.wait_for_status(FAILED, timeout=60)
        launcher.wait_for_line(r"^Button: Terminate DICOM Lumidra \(enabled\)$")
        log = launcher.show_log()
        self.assertIn(("ERROR", "Lumidra start failed!"), log)
        messages = [message for _, message in log]
        self.assertNotIn("Starting lumiserv...", messages)
        self.assertNotIn("Opening browser", messages)
        self.assertNotIn("Copying remaining files...", messages)
        self.assertEqual(launcher.browser_calls(), [])
        launcher.send("terminate")
        self.assert_ended(launcher, REMOVING)
        return log

    def test_no_free_port(self):
        blocker = PortBlocker(range(8000, 8100))
        self.addCleanup(blocker.close)
        launcher = self.run_launcher(self.disc)
        log = self.assert_failed_start_then_terminate(launcher)
        checks = [m for _, m in log if m.startswith("Checking free port number: ")]
        self.assertEqual(checks, ["Checking free port number: %d" % p for p in range(8000, 8100)])
        errors = [m for level, m in log if level == "ERROR"]
        self.assertEqual(errors, ["No free port found", "Lumidra start failed!"])
        self.assertNotIn("Creating TEMP dir...", [m for _, m in log])

    def test_an_extractor_that_fails(self):
        launcher = self.run_launcher(self.corrupt_disc)
        log = self.assert_failed_start_then_terminate(launcher)
        attempts = [m for _, m in log if m.startswith("Browser unzip attempt ")]
        self.assertEqual(attempts, ["Browser unzip attempt 1", "Browser unzip attempt 2", "Browser unzip attempt 3"])
        self.assertIn("Copying browser - error occured. Retrying...", launcher.statuses())
        self.assertIn(("ERROR", "Cannot copy necessary files to TEMP dir."), log)

    def test_a_disc_without_its_dicom_folder(self):
        launcher = self.start(self.no_dicom_disc)
        port = port_of(launcher.show_log())
        # The launch id is answered once the start sequence, deferred copy included, has ended.
        launcher.wait_for_copy_end(port, timeout=30)
        self.assertEqual(http_request(port, "GET", "/copy_status.txt")[:2], (200, b"0"))
        log = launcher.show_log()
        self.assertIn(("ERROR", "Error during copying remaining DICOM files..."), log)
        self.assertIn(("INFO", "Copying of remaining files finished."), log)
        launcher.send("exit")
        self.assert_ended(launcher)


if __name__ == "__main__":
    unittest.main()
