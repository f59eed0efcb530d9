"""REPORT.md from a run's results: goal verdicts from the right figures, and tables whose rows
line up with their headers."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from benchlib import report  # noqa: E402
from benchlib.measure import summarize  # noqa: E402

MIB64 = 64 * 1024 * 1024


def figures(rps, mbps, cpu=None):
    return {"rps": summarize(rps), "mbps": summarize(mbps), "cpu": summarize(cpu or []), "failed_runs": 0}


def sample_results():
    return {
        "repeats": 3,
        "machine": {"date": "2026-12-07 05:00", "facts": [("CPU", "test CPU, 2 logical cores")]},
        "contention": "shared with others",
        "serving_note": "wrk note",
        "staging_note": "staging note",
        "memory_note": "memory note",
        "commands": ["wrk -t1 -c1 -d1s http://127.0.0.1:PORT/static/f1024.bin"],
        "serving": [
            {"size": 1024, "clients": 8, "servers": {
                "lumiserv": figures([110, 100, 120], [1, 1, 1], [15.0, 16.0, 17.0]),
                "nginx": figures([100, 95, 105], [1, 1, 1], [18.0, 18.0, 18.0]),
                "python": figures([12, 11, 13], [0.1, 0.1, 0.1])}},
            {"size": 512 * 1024, "clients": 32, "servers": {
                "lumiserv": figures([90, 90, 90], [10, 10, 10]),
                "nginx": None,
                "python": figures([5, 5, 5], [2, 2, 2])}},
            # Many requests but too few megabytes: the big file is judged by MB/s.
            {"size": MIB64, "clients": 1, "servers": {
                "lumiserv": figures([100, 100, 100], [850, 850, 850], [12.0, 12.0, 12.0]),
                "nginx": figures([10, 10, 10], [1000, 1000, 1000]),
                "python": figures([1, 1, 1], [500, 500, 500])}},
        ],
        "staging": [{"name": "sample disc", "archives": "a, b", "launcher": summarize([0.41]),
                     "launcher_viewer": summarize([0.2]), "launcher_data": summarize([0.2]),
                     "bare": summarize([0.025]), "bare_viewer": summarize([0.01]), "bare_data": summarize([0.015]),
                     "browser_call": summarize([0.42]), "overhead": 15.4, "poll_floor": 0.4}],
        "launcher_serving": [{"size": 1024, "clients": 32, "launcher": figures([95, 90, 99], [1, 1, 1]),
                              "host": figures([100, 100, 100], [1, 1, 1])},
                             {"size": 1024, "clients": 8, "launcher": None, "host": figures([1], [1])}],
        "study": {"files": 500, "clients": 6, "servers": {"lumiserv": summarize([0.1, 0.12, 0.11]),
                                                          "nginx": summarize([0.09, 0.1, 0.095])}},
        "copy": {"tree": "1 GiB", "files": 2048, "lumidra": summarize([970.0]), "cp": summarize([1000.0]),
                 "cpu": {"lumidra": summarize([0.5, 0.7, 0.6]), "cp": summarize([0.4])},
                 "note": "copy note"},
        "memory": [
            {"name": "host", "peak_kib": 7600, "rss_before_kib": 7600, "rss_after_kib": 7600,
             "requests": 100000, "growth_kib": 0, "peer": False},
            {"name": "nginx worker (peer)", "peak_kib": 4700, "rss_before_kib": 4700, "rss_after_kib": 4800,
             "requests": 100000, "growth_kib": 100, "peer": True},
            {"name": "launcher", "peak_kib": 17000, "rss_before_kib": 8000, "rss_after_kib": 8000,
             "requests": 99990, "growth_kib": None, "peer": False},
        ],
    }


class Goals(unittest.TestCase):
    def setUp(self):
        self.rows = {goal: (measured, verdict) for goal, measured, verdict in report.goal_rows(sample_results())}

    def test_serving_goals_use_requests_or_megabytes(self):
        self.assertEqual(self.rows["requests/s ≥ nginx (1 KiB, 8 clients)"], ("1.10×", "met"))
        self.assertEqual(self.rows["requests/s ≥ 10 × python http.server (1 KiB, 8 clients)"], ("9.17×", "missed"))
        self.assertEqual(self.rows["MB/s ≥ 0.9 × nginx (64 MiB, 1 client)"], ("0.85×", "missed"))
        self.assertEqual(self.rows["requests/s ≥ nginx (512 KiB, 32 clients)"], ("–", "not measured"))
        self.assertEqual(self.rows["requests/s ≥ 10 × python http.server (512 KiB, 32 clients)"], ("18.00×", "met"))

    def test_staging_copy_and_memory_goals(self):
        self.assertEqual(self.rows["staging overhead < 3 % over bare 7za (sample disc)"], ("+1540.0 %", "missed"))
        self.assertEqual(self.rows["deferred copy MB/s ≥ 0.95 × cp -r"], ("0.97×", "met"))
        self.assertEqual(self.rows["peak resident size < 16 MiB (host)"], ("7.4 MiB", "met"))
        self.assertEqual(self.rows["peak resident size < 16 MiB (launcher)"], ("16.6 MiB", "missed"))
        self.assertEqual(self.rows["no growth over 100,000 requests (host)"], ("0 KiB", "met"))
        self.assertEqual(self.rows["no growth over 99,990 requests (launcher)"], ("–", "not measured"))
        # A peer's figures are shown, never judged.
        self.assertFalse(any("nginx worker" in goal for goal in self.rows))


class Rendering(unittest.TestCase):
    def test_every_table_row_matches_its_header(self):
        text = report.render(sample_results())
        tables = re.findall(r"((?:^\|.*\|\n)+)", text, re.M)
        self.assertEqual(len(tables), 8)
        for block in tables:
            lines = block.strip("\n").split("\n")
            widths = {line.count(" | ") for line in lines if not line.startswith("|---")}
            self.assertEqual(len(widths), 1, block)
            self.assertEqual(lines[1].count("|"), lines[0].count("|"), block)

    def test_figures_failures_and_commands_appear(self):
        results = sample_results()
        results["failures"] = ["copy: no space left"]
        text = report.render(results)
        self.assertIn("**Not measured in this run:** copy: no space left", text)
        self.assertIn("| 1 KiB | 8 | 110 (100–120) | 100 (95–105) | 12 (11–13) |", text)
        self.assertIn("| 512 KiB | 32 | 90 (90–90) | failed |", text)
        self.assertIn("| 1.10× | 9.17× | 8.33× | 16.0 µs/req | 18.0 µs/req |", text)
        self.assertIn("| copyRemainingFiles | 970 (970–970) | 0.97× | 0.60 (0.50–0.70) |", text)
        self.assertIn("| 1 KiB | 32 | 95 (90–99) | 100 (100–100) | 1 (1–1) | 0.95× |", text)
        self.assertIn("| 1 KiB | 8 | failed | 1 (1–1) | failed | – |", text)
        self.assertIn("| Lumiserv (host) | 0.110 (0.100–0.120) | 0.86× |", text)
        self.assertIn("12.00 ms/MB", text)
        self.assertIn("wrk -t1 -c1 -d1s http://127.0.0.1:PORT/static/f1024.bin", text)
        self.assertIn("**Contention.** shared with others", text)
        self.assertIn("| +10 ms |", text)  # the launcher beyond its runner's poll floor


if __name__ == "__main__":
    unittest.main()
