"""The set-up every end-to-end and hardening module shares: sample discs made once for a test
class, launcher runs that are closed whatever a test does, one run kept for a whole class where
its tests only talk to the server, and the look at how a run ended (exit code, last status,
nothing left in its temporary folder)."""

import os
import shutil
import subprocess
import tempfile
import unittest

from launcher_driver import Launcher, make_disc

STARTED = "DICOM Lumidra started"
FAILED = "DICOM Lumidra failed to start"
REMOVING = "Removing temporary files..."


def remove_folder(folder):
    # A test may have taken the owner's rights away somewhere inside.
    subprocess.run(["chmod", "-R", "u+rwx", folder], stderr=subprocess.DEVNULL)
    shutil.rmtree(folder, ignore_errors=True)


class LauncherCase(unittest.TestCase):
    """A test class lists its discs in make_discs (by cls.make_disc) and runs the launcher from
    them with run_launcher or start."""

    launcher_class = Launcher
    folder_prefix = "lumidra-e2e-disc-"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.disc_root = tempfile.mkdtemp(prefix=cls.folder_prefix)
        os.chmod(cls.disc_root, 0o755)  # a launcher run as an ordinary user must reach the discs
        cls.addClassCleanup(remove_folder, cls.disc_root)
        cls.make_discs()

    @classmethod
    def make_discs(cls):
        """The discs the class's tests share; none by default."""

    @classmethod
    def make_disc(cls, name, *options):
        return make_disc(os.path.join(cls.disc_root, name), *options)

    def make_own_disc(self, *options):
        """A disc for this test alone, for a test that changes what is on it."""
        folder = tempfile.mkdtemp(prefix=self.folder_prefix)
        self.addCleanup(remove_folder, folder)
        return make_disc(os.path.join(folder, "disc"), *options)

    def run_launcher(self, disc, **options):
        launcher = self.launcher_class(disc, **options)
        self.addCleanup(launcher.close)
        return launcher

    def start(self, disc, **options):
        """A run that has reached the started status."""
        launcher = self.run_launcher(disc, **options)
        launcher.wait_for_status(STARTED)
        return launcher

    def start_and_wait_for_copy(self, disc, **options):
        """A started run whose deferred copy is over: (launcher, port, launch id)."""
        launcher = self.start(disc, **options)
        port, launch_id = launcher.port_and_id()
        launcher.wait_for_copy_end(port)
        return launcher, port, launch_id

    @classmethod
    def start_for_class(cls, *disc_options, **options):
        """One disc and one started run from it for all the class's tests, which only talk to its
        server: cls.disc, cls.launcher, cls.port and cls.launch_id."""
        cls.disc = cls.make_disc("disc", *disc_options)
        cls.launcher = cls.launcher_class(cls.disc, **options)
        cls.addClassCleanup(cls.launcher.close)
        cls.launcher.wait_for_status(STARTED)
        cls.port, cls.launch_id = cls.launcher.port_and_id()

    def assert_left_nothing(self, launcher):
        self.assertEqual(launcher.workspace_entries(), [])

    def assert_cleaned_up(self, launcher, last_status=None):
        """The last status (when given) is last_status and the temporary folder is empty."""
        if last_status is not None:
            self.assertEqual(launcher.statuses()[-1], last_status)
        self.assert_left_nothing(launcher)

    def assert_ended(self, launcher, last_status=None, timeout=15):
        """The run ends by itself with exit code 0, then as assert_cleaned_up."""
        self.assertEqual(launcher.wait_exit(timeout), 0)
        self.assert_cleaned_up(launcher, last_status)

    def assert_terminated(self, launcher, last_status=None):
        """Terminated by the button's word with exit code 0, then as assert_cleaned_up."""
        self.assertEqual(launcher.terminate(), 0)
        self.assert_cleaned_up(launcher, last_status)
