"""The benchmark's arithmetic: reading wrk and the launcher's log, medians and spreads, the
runner's poll floor, and the verdicts that go into the report."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from benchlib import measure  # noqa: E402

WRK_GOOD = """Running 3s test @ http://127.0.0.1:41921/f1k.bin
  1 threads and 8 connections
  Thread Stats   Avg      Stdev     Max   +/- Stdev
    Latency   241.66us  373.43us   5.28ms   94.68%
    Req/Sec    27.91k     4.53k   31.53k    90.00%
  83358 requests in 3.00s, 97.86MB read
Requests/sec:  27775.29
Transfer/sec:     32.61MB
"""

WRK_ERRORS = """Running 2s test @ http://127.0.0.1:41921/nothere.bin
  1 threads and 32 connections
  48088 requests in 2.11s, 9.86MB read
  Socket errors: connect 0, read 48088, write 0, timeout 0
  Non-2xx or 3xx responses: 48088
Requests/sec:  22789.64
Transfer/sec:      4.67MB
"""

WRK_NOTHING_FINISHED = """Running 3s test @ http://127.0.0.1:1/f.bin
  1 threads and 32 connections
  0 requests in 3.00s, 1.50GB read
Requests/sec:      0.00
Transfer/sec:    511.99MB
"""


class WrkOutput(unittest.TestCase):
    def test_sizes_count_in_powers_of_1024(self):
        self.assertEqual(measure.parse_size("10B"), 10)
        self.assertEqual(measure.parse_size("1.50KB"), 1536)
        self.assertEqual(measure.parse_size("97.86MB"), 97.86 * 1024 ** 2)
        self.assertEqual(measure.parse_size(" 2GB "), 2 * 1024 ** 3)
        for bad in ("", "12", "1.2 XB", "MB"):
            with self.assertRaises(measure.ParseError, msg=bad):
                measure.parse_size(bad)

    def test_good_run(self):
        run = measure.parse_wrk(WRK_GOOD)
        self.assertTrue(run["ok"])
        self.assertEqual(run["errors"], {})
        self.assertEqual(run["requests"], 83358)
        self.assertAlmostEqual(run["seconds"], 3.0)
        self.assertAlmostEqual(run["rps"], 27775.29)
        self.assertAlmostEqual(run["mbps"], 97.86 * 1024 ** 2 / 3.0 / 1e6)

    def test_errors_and_refusals_spoil_the_run(self):
        run = measure.parse_wrk(WRK_ERRORS)
        self.assertFalse(run["ok"])
        self.assertEqual(run["errors"], {"read": 48088, "status": 48088})
        self.assertAlmostEqual(run["seconds"], 2.11)

    def test_bytes_without_finished_answers_still_measure_throughput(self):
        run = measure.parse_wrk(WRK_NOTHING_FINISHED)
        self.assertTrue(run["ok"])
        self.assertEqual(run["requests"], 0)
        self.assertAlmostEqual(run["mbps"], 1.5 * 1024 ** 3 / 3.0 / 1e6)
        empty = WRK_NOTHING_FINISHED.replace("1.50GB read", "0.00B read")
        self.assertFalse(measure.parse_wrk(empty)["ok"])

    def test_durations_in_other_units(self):
        text = WRK_GOOD.replace("in 3.00s", "in 500.00ms")
        self.assertAlmostEqual(measure.parse_wrk(text)["seconds"], 0.5)
        text = WRK_GOOD.replace("in 3.00s", "in 1.00m")
        self.assertAlmostEqual(measure.parse_wrk(text)["seconds"], 60.0)

    def test_output_without_a_summary_is_refused(self):
        with self.assertRaises(measure.ParseError):
            measure.parse_wrk("unable to connect to 127.0.0.1:1 Connection refused\n")


class Statistics(unittest.TestCase):
    def test_summary_of_repeats(self):
        summary = measure.summarize([30.0, 10.0, 20.0])
        self.assertEqual((summary["median"], summary["low"], summary["high"], summary["count"]),
                         (20.0, 10.0, 30.0, 3))
        self.assertAlmostEqual(summary["spread"], 1.0)
        self.assertEqual(measure.summarize([4.0, 1.0, 2.0, 3.0])["median"], 2.5)
        self.assertIsNone(measure.summarize([]))
        self.assertEqual(measure.summarize([0.0, 0.0])["spread"], 0.0)

    def test_ratios_and_verdicts(self):
        self.assertAlmostEqual(measure.ratio(9.0, 10.0), 0.9)
        self.assertIsNone(measure.ratio(None, 10.0))
        self.assertIsNone(measure.ratio(5.0, 0))
        self.assertEqual(measure.verdict(0.9, 0.9), "met")
        self.assertEqual(measure.verdict(0.89, 0.9), "missed")
        self.assertEqual(measure.verdict(0.031, 0.03, higher_is_better=False), "missed")
        self.assertEqual(measure.verdict(0.01, 0.03, higher_is_better=False), "met")
        self.assertEqual(measure.verdict(None, 1.0), "not measured")

    def test_growth_ignores_pages_given_back(self):
        self.assertEqual(measure.growth_kib(8000, 8004), 4)
        self.assertEqual(measure.growth_kib(8000, 7000), 0)

    def test_poll_floor_of_the_command_runner(self):
        # A query at 0 ms sees the child running; the one after its end is followed by a sleep.
        self.assertAlmostEqual(measure.poll_floor(0.010), 0.2)
        self.assertAlmostEqual(measure.poll_floor(0.49), 0.6)
        self.assertAlmostEqual(measure.poll_floor(0.3), 0.4)
        self.assertAlmostEqual(measure.poll_floor(0.3000001), 0.5)


class LogTimes(unittest.TestCase):
    def test_first_line_of_each_message_relative_to_the_start(self):
        lines = [
            "--- Lumidra log ---",
            "2026-12-07 05:24:33.455 INFO: Starting Lumidra",
            "2026-12-07 05:24:33.456 INFO: Browser unzip attempt 1",
            "2026-12-07 05:24:33.657 WARN: Browser unzip attempt 1",
            "a continuation line without a time",
            "2026-12-07 05:24:34.261 INFO: Opening browser",
        ]
        times = measure.parse_log_times(lines)
        self.assertEqual(times["Starting Lumidra"], 0.0)
        self.assertAlmostEqual(times["Browser unzip attempt 1"], 0.001)
        self.assertAlmostEqual(times["Opening browser"], 0.806)
        self.assertEqual(len(times), 3)

    def test_runs_across_midnight_and_month_end(self):
        lines = ["2026-12-31 23:59:59.900 INFO: Starting Lumidra",
                 "2027-01-01 00:00:00.150 INFO: Opening browser"]
        self.assertAlmostEqual(measure.parse_log_times(lines)["Opening browser"], 0.25)
        lines = ["2024-02-28 23:59:59.000 INFO: a", "2024-02-29 00:00:01.000 INFO: b",
                 "2024-03-01 00:00:01.000 INFO: c"]
        times = measure.parse_log_times(lines)
        self.assertAlmostEqual(times["b"], 2.0)
        self.assertAlmostEqual(times["c"], 86402.0)


if __name__ == "__main__":
    unittest.main()
