"""The disc builder's section of REPORT.md survives the main report being written again."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from benchlib.disc_section import BEGIN, END, VIEWER, section_of, with_section  # noqa: E402


class DiscSection(unittest.TestCase):
    def test_section_is_appended_replaced_and_carried_over(self):
        first = BEGIN + "\n## Disc builder\nold figures\n" + END
        second = BEGIN + "\n## Disc builder\nnew figures\n" + END
        report = with_section("# Lumidra benchmarks\n\nserving\n", first)
        self.assertEqual(report, "# Lumidra benchmarks\n\nserving\n\n" + first + "\n")
        replaced = with_section(report, second)
        self.assertEqual(replaced.count(BEGIN), 1)
        self.assertIn("new figures", replaced)
        self.assertNotIn("old figures", replaced)
        # bench.py renders the rest afresh and puts the kept section back.
        rerendered = with_section("# Lumidra benchmarks\n\nother serving figures\n", section_of(replaced))
        self.assertIn("other serving figures", rerendered)
        self.assertEqual(section_of(rerendered), second)

    def test_the_viewer_section_is_kept_beside_the_disc_section(self):
        disc = BEGIN + "\ndisc figures\n" + END
        viewer = VIEWER[0] + "\nviewer figures\n" + VIEWER[1]
        report = with_section(with_section("# Lumidra benchmarks\n", disc), viewer, VIEWER)
        rerendered = with_section(with_section("# Lumidra benchmarks\nnew\n", section_of(report)),
                                  section_of(report, VIEWER), VIEWER)
        self.assertEqual(section_of(rerendered), disc)
        self.assertEqual(section_of(rerendered, VIEWER), viewer)
        self.assertNotIn("viewer figures", section_of(rerendered))

    def test_a_report_without_the_section_is_left_as_it_is(self):
        self.assertEqual(section_of("# report\n"), "")
        self.assertEqual(with_section("# report\n", ""), "# report\n")
        self.assertEqual(section_of("text " + BEGIN + " unterminated"), "")


if __name__ == "__main__":
    unittest.main()
