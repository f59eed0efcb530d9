"""Terminating from outside at the awkward moments: while the extractor runs, while the deferred
copy is in the middle of a large file, by each of the close signals, and with standard input
closed."""

import os
import signal
import time
import unittest

from launcher_case import REMOVING, STARTED, LauncherCase
from launcher_driver import slow_extractor, wait_until

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


class Terminating(LauncherCase):
    @classmethod
    def make_discs(cls):
        cls.disc = cls.make_disc("disc")
        cls.large_disc = cls.make_disc("large", "--large-file-mb", "512")
        cls.slow_disc = cls.make_disc("slow")
        slow_extractor(cls.slow_disc, EXTRACTOR_SECONDS)
        cls.writing_disc = cls.make_disc("writing")
        cls.writing_pid_file = writing_extractor(cls.writing_disc)

    def test_sigterm_while_the_viewer_is_unpacked(self):
        launcher = self.run_launcher(self.slow_disc)
        launcher.wait_for_status("Copying browser  5%")
        self.assertEqual(len(launcher.workspace_entries()), 1)
        launcher.signal(signal.SIGTERM)
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.statuses()[-1], REMOVING)
        self.assertEqual(launcher.browser_calls(), [])
        # Nothing may come back once the extractor that was running would have finished.
        time.sleep(EXTRACTOR_SECONDS + 1)
        self.assert_left_nothing(launcher)

    def test_sigterm_while_the_extractor_keeps_writing(self):
        launcher = self.run_launcher(self.writing_disc)
        launcher.wait_for_status("Copying browser  5%")
        launch_id = launcher.workspace_entries()[0]
        viewer = os.path.join(launcher.workspace(launch_id), "DATA", "7z")
        wait_until(lambda: os.path.exists(os.path.join(viewer, "part3.bin")), 10, "the extractor to write")
        with open(self.writing_pid_file) as record:
            pid = int(record.read().split()[-1])
        launcher.signal(signal.SIGTERM)
        self.assertEqual(launcher.wait_exit(), 0)
        # The extractor was ended and reaped before the launcher went.
        self.assertFalse(process_remains(pid))
        self.assertEqual(launcher.statuses()[-1], REMOVING)
        time.sleep(2)
        self.assert_left_nothing(launcher)

    def test_sigterm_in_the_middle_of_the_deferred_copy(self):
        launcher = self.run_launcher(self.large_disc)
        launcher.wait_for_status(STARTED, timeout=120)
        launch_id = launcher.workspace_entries()[0]
        dicom = os.path.join(launcher.workspace(launch_id), "DATA", "DICOM")
        wait_until(lambda: os.path.exists(os.path.join(dicom, "LARGE.BIN.bkp")), 60, "the large file's copy")
        launcher.signal(signal.SIGTERM)
        self.assert_ended(launcher)

    def test_each_close_signal_terminates_like_the_button(self):
        for number in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM):
            with self.subTest(signal=number):
                launcher = self.start(self.disc)
                launcher.signal(number)
                self.assert_ended(launcher, REMOVING)

    def test_a_run_started_with_standard_input_closed_ends_by_signal(self):
        # Its wake-up pipe must not take the closed stream's number and be read as typed words.
        launcher = self.start(self.disc, preexec_fn=lambda: os.close(0))
        self.assertEqual(os.readlink("/proc/%d/fd/0" % launcher.process.pid), "/dev/null")
        launcher.signal(signal.SIGTERM)
        self.assert_ended(launcher, REMOVING)
        self.assertFalse([line for line in launcher.output() if line.startswith("Unknown command")])

    def test_exit_from_the_menu_while_staging_and_the_button_not_yet(self):
        launcher = self.run_launcher(self.slow_disc)
        launcher.wait_for_status("Copying browser  5%")
        launcher.send("terminate")  # the button is still disabled
        launcher.send("about")
        launcher.wait_for_line("^  LumidraLauncher, Version")
        self.assertIsNone(launcher.process.poll())
        launcher.send("exit")
        self.assertEqual(launcher.wait_exit(), 0)
        time.sleep(EXTRACTOR_SECONDS + 1)
        self.assert_left_nothing(launcher)


if __name__ == "__main__":
    unittest.main()
