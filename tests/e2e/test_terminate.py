"""Terminating from outside at the awkward moments: while the extractor runs, while the deferred
copy is in the middle of a large file, and by each of the close signals."""

import os
import shutil
import signal
import tempfile
import time
import unittest

from launcher_driver import Launcher, make_disc, slow_extractor, wait_until

EXTRACTOR_SECONDS = 3
WRITING_SECONDS = 8

# Stands in for 7-Zip on the disc: notes its process id, shows a first figure, then keeps making
# its output folder and writing files into it, as a large archive would, for WRITING_SECONDS.
WRITING_EXTRACTOR = """#!/usr/bin/env python3
import os, sys, time
here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "extractor.pid"), "a") as record:
    record.write("%d\\n" % os.getpid())
output = next(argument[2:] for argument in sys.argv if argument.startswith("-o"))
sys.stderr.write("Extracting   5%")
sys.stderr.flush()
end = time.monotonic() + {seconds}
part = 0
while time.monotonic() < end:
    os.makedirs(output, exist_ok=True)
    with open(os.path.join(output, "part%d.bin" % part), "wb") as out:
        out.write(b"study data" * 100)
    part += 1
    time.sleep(0.05)
"""


def writing_extractor(disc):
    path = os.path.join(disc, "BIN", "7za")
    with open(path, "w") as out:
        out.write(WRITING_EXTRACTOR.format(seconds=WRITING_SECONDS))
    os.chmod(path, 0o755)
    return os.path.join(disc, "BIN", "extractor.pid")


def process_remains(pid):
    """Running or a zombie: either way the launcher has not reaped it."""
    return os.path.exists("/proc/%d" % pid)


def setUpModule():
    global DISC_ROOT, DISC, LARGE_DISC, SLOW_DISC, WRITING_DISC, WRITING_PID_FILE
    DISC_ROOT = tempfile.mkdtemp(prefix="lumidra-e2e-disc-")
    DISC = make_disc(os.path.join(DISC_ROOT, "disc"))
    LARGE_DISC = make_disc(os.path.join(DISC_ROOT, "large"), "--large-file-mb", "512")
    SLOW_DISC = make_disc(os.path.join(DISC_ROOT, "slow"))
    slow_extractor(SLOW_DISC, EXTRACTOR_SECONDS)
    WRITING_DISC = make_disc(os.path.join(DISC_ROOT, "writing"))
    WRITING_PID_FILE = writing_extractor(WRITING_DISC)


def tearDownModule():
    shutil.rmtree(DISC_ROOT, ignore_errors=True)


class Terminating(unittest.TestCase):
    def run_launcher(self, disc):
        launcher = Launcher(disc)
        self.addCleanup(launcher.close)
        return launcher

    def test_sigterm_while_the_viewer_is_unpacked(self):
        launcher = self.run_launcher(SLOW_DISC)
        launcher.wait_for_status("Copying browser  5%")
        self.assertEqual(len(launcher.workspace_entries()), 1)
        launcher.signal(signal.SIGTERM)
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.statuses()[-1], "Removing temporary files...")
        self.assertEqual(launcher.browser_calls(), [])
        # Nothing may come back once the extractor that was running would have finished.
        time.sleep(EXTRACTOR_SECONDS + 1)
        self.assertEqual(launcher.workspace_entries(), [])

    def test_sigterm_while_the_extractor_keeps_writing(self):
        launcher = self.run_launcher(WRITING_DISC)
        launcher.wait_for_status("Copying browser  5%")
        launch_id = launcher.workspace_entries()[0]
        viewer = os.path.join(launcher.tmpdir, launch_id, "DATA", "7z")
        wait_until(lambda: os.path.exists(os.path.join(viewer, "part3.bin")), 10, "the extractor to write")
        with open(WRITING_PID_FILE) as record:
            pid = int(record.read().split()[-1])
        launcher.signal(signal.SIGTERM)
        self.assertEqual(launcher.wait_exit(), 0)
        # The extractor was ended and reaped before the launcher went.
        self.assertFalse(process_remains(pid))
        self.assertEqual(launcher.statuses()[-1], "Removing temporary files...")
        time.sleep(2)
        self.assertEqual(launcher.workspace_entries(), [])

    def test_sigterm_in_the_middle_of_the_deferred_copy(self):
        launcher = self.run_launcher(LARGE_DISC)
        launcher.wait_for_status("DICOM Lumidra started", timeout=120)
        launch_id = launcher.workspace_entries()[0]
        dicom = os.path.join(launcher.tmpdir, launch_id, "DATA", "DICOM")
        wait_until(lambda: os.path.exists(os.path.join(dicom, "LARGE.BIN.bkp")), 60, "the large file's copy")
        launcher.signal(signal.SIGTERM)
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.workspace_entries(), [])

    def test_each_close_signal_terminates_like_the_button(self):
        for number in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM):
            with self.subTest(signal=number):
                launcher = self.run_launcher(DISC)
                launcher.wait_for_status("DICOM Lumidra started")
                launcher.signal(number)
                self.assertEqual(launcher.wait_exit(), 0)
                self.assertEqual(launcher.statuses()[-1], "Removing temporary files...")
                self.assertEqual(launcher.workspace_entries(), [])

    def test_exit_from_the_menu_while_staging_and_the_button_not_yet(self):
        launcher = self.run_launcher(SLOW_DISC)
        launcher.wait_for_status("Copying browser  5%")
        launcher.send("terminate")  # the button is still disabled
        launcher.send("about")
        launcher.wait_for_line("^  LumidraLauncher, Version")
        self.assertIsNone(launcher.process.poll())
        launcher.send("exit")
        self.assertEqual(launcher.wait_exit(), 0)
        time.sleep(EXTRACTOR_SECONDS + 1)
        self.assertEqual(launcher.workspace_entries(), [])


if __name__ == "__main__":
    unittest.main()
