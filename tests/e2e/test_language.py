"""The UI language follows the locale: Czech texts for a Czech user, English for everyone else."""

import unittest

from launcher_case import LauncherCase


class Language(LauncherCase):
    @classmethod
    def make_discs(cls):
        cls.disc = cls.make_disc("disc")

    def test_a_czech_locale_gets_czech_texts(self):
        launcher = self.run_launcher(self.disc, locale="cs_CZ.UTF-8")
        launcher.wait_for_status("DICOM Lumidra spuštěn")
        launcher.wait_for_line(r"^Button: Ukončit DICOM Lumidra \(enabled\)$")
        self.assertEqual(launcher.output()[0], "DICOM prohlížeč z CD")
        statuses = [s for s in launcher.statuses() if not s.endswith("%")]
        self.assertEqual(statuses, ["Startuji Lumidra...", "Kopíruji prohlížeč", "Kopíruji data", "DICOM Lumidra spuštěn"])
        log = launcher.show_log()
        self.assertIn(("INFO", "System language: 5"), log)
        launcher.send("Ukončit")  # the menu's own text works as a word too
        self.assert_ended(launcher, "Odstraňuji dočasné soubory...")


if __name__ == "__main__":
    unittest.main()
