"""The UI language follows the locale: Czech texts for a Czech user, English for everyone else."""

import os
import shutil
import tempfile
import unittest

from launcher_driver import Launcher, make_disc


def setUpModule():
    global DISC_ROOT, DISC
    DISC_ROOT = tempfile.mkdtemp(prefix="lumidra-e2e-disc-")
    DISC = make_disc(os.path.join(DISC_ROOT, "disc"))


def tearDownModule():
    shutil.rmtree(DISC_ROOT, ignore_errors=True)


class Language(unittest.TestCase):
    def run_launcher(self, **options):
        launcher = Launcher(DISC, **options)
        self.addCleanup(launcher.close)
        return launcher

    def test_a_czech_locale_gets_czech_texts(self):
        launcher = self.run_launcher(locale="cs_CZ.UTF-8")
        launcher.wait_for_status("DICOM Lumidra spuštěn")
        launcher.wait_for_line(r"^Button: Ukončit DICOM Lumidra \(enabled\)$")
        self.assertEqual(launcher.output()[0], "DICOM prohlížeč z CD")
        statuses = [s for s in launcher.statuses() if not s.endswith("%")]
        self.assertEqual(statuses, ["Startuji Lumidra...", "Kopíruji prohlížeč", "Kopíruji data", "DICOM Lumidra spuštěn"])
        log = launcher.show_log()
        self.assertIn(("INFO", "System language: 5"), log)
        launcher.send("Ukončit")  # the menu's own text works as a word too
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.statuses()[-1], "Odstraňuji dočasné soubory...")
        self.assertEqual(launcher.workspace_entries(), [])


if __name__ == "__main__":
    unittest.main()
