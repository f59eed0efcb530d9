"""The disc as a user gets it: the ISO extracted to a read-only tree, the disc's own Linux
launcher started from its root, the study served over HTTP until the user terminates, and
nothing left behind."""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from disc_support import SOURCE_DIR, MessyInput, files_below, run_disc, sha256, stand_in_programs

sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import launcher_driver  # noqa: E402
from launcher_driver import Launcher, http_request, port_of  # noqa: E402


def setUpModule():
    global WORK, INPUT, TREE
    WORK = tempfile.mkdtemp(prefix="lumidra-disc-launch-")
    INPUT = MessyInput(os.path.join(WORK, "export"))
    programs = stand_in_programs(os.path.join(WORK, "programs"))
    disc = os.path.join(WORK, "disc")
    iso = os.path.join(WORK, "disc.iso")
    code, _out, err = run_disc(INPUT.folder, disc, programs, "--iso", iso)
    if code != 0:
        raise AssertionError("the disc was not made:\n" + err)
    TREE = os.path.join(WORK, "mounted")
    subprocess.run(["xorriso", "-osirrox", "on", "-indev", iso, "-extract", "/", TREE],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["chmod", "-R", "a-w", TREE], check=True)


def tearDownModule():
    subprocess.run(["chmod", "-R", "u+w", WORK], stderr=subprocess.DEVNULL)
    shutil.rmtree(WORK, ignore_errors=True)


def tree_snapshot():
    return [(f, sha256(os.path.join(TREE, f)), os.stat(os.path.join(TREE, f)).st_mode) for f in files_below(TREE)]


class LauncherFromTheDisc(unittest.TestCase):
    def setUp(self):
        # The program on the disc, not the one the build left: that is what the user starts.
        launcher_driver.LAUNCHER = os.path.join(TREE, "lumidra")
        self.launcher = Launcher(TREE, scratch_prefix="lumidra-disc-run-")
        self.addCleanup(self.launcher.close)

    def test_serves_the_study_from_a_read_only_tree_and_leaves_nothing(self):
        launcher = self.launcher
        before = tree_snapshot()
        launcher.wait_for_status("DICOM Lumidra started", timeout=120)
        log = launcher.wait_for_log("Copying of remaining files finished.", timeout=120)
        port = port_of(log)
        self.assertTrue(any("BIN/7za" in message for _level, message in log),
                        "the disc's own extractor was not used")
        address = launcher.wait_for_browser()
        self.assertIn("localhost:%d/7z/index.html" % port, address)

        status, page, _ = http_request(port, "GET", "/7z/index.html")
        self.assertEqual(status, 200)
        self.assertIn(b"<html", page.lower())
        status, dicomdir, _ = http_request(port, "GET", "/DICOMDIR")
        self.assertEqual(status, 200)
        with open(os.path.join(TREE, "DATA", "DICOMDIR"), "rb") as handle:
            self.assertEqual(dicomdir, handle.read())
        # Every image of the study, first series and deferred ones alike, as it was exported.
        images = [f for f in files_below(TREE) if f.startswith("DATA/DICOM/")]
        self.assertEqual(len(images), INPUT.image_count)
        expected = {sha256(path) for path in INPUT.kept}
        served = set()
        for image in images:
            status, body, _ = http_request(port, "GET", "/" + image[len("DATA/"):])
            self.assertEqual(status, 200, image)
            served.add(hashlib.sha256(body).hexdigest())
        self.assertTrue(expected <= served)

        launcher.send("terminate")
        self.assertEqual(launcher.wait_exit(60), 0)
        self.assertEqual(launcher.workspace_entries(), [])
        # Read-only holds nothing back from root, so the tree is compared as well.
        self.assertEqual(tree_snapshot(), before)


if __name__ == "__main__":
    unittest.main()
