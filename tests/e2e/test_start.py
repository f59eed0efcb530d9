"""A successful start seen from outside: log, status line, button, browser, About, the log saved,
and a clean exit."""

import os
import re
import unittest

from launcher_case import REMOVING, STARTED, LauncherCase
from launcher_driver import LAUNCH_ID, port_of, wait_until

START_UP = [
    "Starting Lumidra",
    "System language: 9",
    "Lumiserv socket init result: 1",
    "Window class registered",
    "Initializing main program winow...",
    "Main program window initialized",
]


def expected_sequence(port):
    """The start sequence's INFO lines as prefixes; None stands for an extractor command line."""
    lines = [
        "Starting initialization...",
    ]
    # A port still held by an earlier run (or by anyone else) is skipped.
    lines += ["Checking free port number: %d" % p for p in range(8000, port + 1)]
    lines += [
        "Found free port number: %d" % port,
        "Creating TEMP dir...",
        "Tmp dir: ",
        "Absolute tmp dir: ",
        "Stale workspaces removed: ",
        "TEMP dir created: ",
        "Copying files...",
        "Unzipping viewer...",
        None,
        "Browser unzip attempt ",
        "Unzipping data...",
        None,
        "Data unzip attempt ",
    ]
    if port > 8000:
        lines.append("Fixing config port number")
    lines += [
        "Starting lumiserv...",
        "Lumiserv started",
        "Opening browser",
        "Copying remaining files...",
        "Copying of remaining files finished.",
    ]
    return lines


class SuccessfulStart(LauncherCase):
    @classmethod
    def make_discs(cls):
        cls.disc = cls.make_disc("disc")

    def setUp(self):
        self.launcher = self.run_launcher(self.disc)

    def started(self):
        launcher = self.launcher
        launcher.wait_for_status(STARTED)
        launcher.wait_for_line(r"^Button: Terminate DICOM Lumidra \(enabled\)$")
        return launcher.wait_for_log("Copying of remaining files finished.")

    def test_log_status_and_browser_of_a_whole_run(self):
        launcher = self.launcher
        log = self.started()
        port = port_of(log)

        self.assertTrue(all(level != "ERROR" for level, _ in log), log)
        messages = [message for level, message in log if level == "INFO"]
        self.assertEqual(messages[:len(START_UP)], START_UP)
        # The server thread's line may fall anywhere after the server start; progress lines
        # are the extractor's.
        self.assertEqual(messages.count("Lumiserv listen"), 1)
        self.assertGreater(messages.index("Lumiserv listen"), messages.index("Starting lumiserv..."))
        rest = [m for m in messages[len(START_UP):] if m != "Lumiserv listen" and not m.startswith("Copy progress: ")]
        expected = expected_sequence(port)
        self.assertEqual(len(rest), len(expected), "\n".join(rest))
        for seen, prefix in zip(rest, expected):
            if prefix is None:
                self.assertIn("7za", seen)
            else:
                self.assertTrue(seen.startswith(prefix), "%r is not %r" % (seen, prefix))
        self.assertIn("Checking free port number: %d" % port, messages)

        statuses = launcher.statuses()
        self.assertEqual(statuses[0], "Starting Lumidra...")
        self.assertEqual(statuses[-1], "DICOM Lumidra started")
        order = [s for s in statuses if not re.search(r"\d%$", s)]
        self.assertEqual(order, ["Starting Lumidra...", "Copying browser", "Copying data", "DICOM Lumidra started"])
        for progress in (s for s in statuses if re.search(r"\d%$", s)):
            self.assertRegex(progress, r"^Copying (browser|data)[ \d]{3}%$")
        button = [line for line in launcher.output() if line.startswith("Button: ")]
        self.assertEqual(button, ["Button: Terminate DICOM Lumidra (disabled)",
                                  "Button: Terminate DICOM Lumidra (enabled)"])

        address = launcher.wait_for_browser()
        match = re.fullmatch(r"http://localhost:(\d+)/7z/index\.html\?uniqueId=(.+)", address)
        self.assertIsNotNone(match, address)
        self.assertEqual(int(match.group(1)), port)
        launch_id = match.group(2)
        self.assertRegex(launch_id, LAUNCH_ID)
        self.assertEqual(launcher.workspace_entries(), [launch_id])
        self.assertEqual(len(launcher.browser_calls()), 1)
        self.assertIn("Viewer: " + address, launcher.output())  # for a terminal without a desktop

        before = len(launcher.output())
        launcher.send("exit")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertIn("Status: " + REMOVING, launcher.output()[before:])
        self.assert_left_nothing(launcher)

    def test_about_and_the_disabled_button_before_the_start_ends(self):
        launcher = self.launcher
        launcher.send("about")
        launcher.wait_for_line(r"^  LumidraLauncher, Version 1\.3\.2\.0$")
        self.started()
        launcher.send("terminate")
        self.assert_ended(launcher)

    def test_the_log_saved_with_carriage_returns_and_a_failed_save_shown(self):
        launcher = self.launcher
        self.started()

        launcher.send("download log")
        launcher.wait_for_line(r"^Save Lumidra log as\.\.\. \[.*LumidraLog-[\d-]+\.log\] $")
        launcher.send("")
        saved = os.path.join(launcher.home)
        wait_until(lambda: any(n.endswith(".log") for n in os.listdir(saved)), 10, "the saved log")
        name = [n for n in os.listdir(saved) if n.endswith(".log")][0]
        self.assertRegex(name, r"^LumidraLog-\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d\.log$")
        path = os.path.join(saved, name)
        wait_until(lambda: os.path.getsize(path) > 0, 10, "the log's content")
        with open(path, "rb") as saved_file:
            content = saved_file.read()
        self.assertTrue(content.startswith(b"20"), content[:80])
        self.assertIn(b" INFO: Starting Lumidra\r\n", content)
        self.assertIn(b" INFO: Copying of remaining files finished.\r\n", content)
        self.assertNotIn(b"\n", content.replace(b"\r\n", b""))

        # Saving over it asks first; "n" goes back to the name, which can then be refused.
        mark = len(launcher.output())
        launcher.send("download log")
        asked = launcher.wait_for_line(r"^Save Lumidra log as", after=mark)
        launcher.send(name)
        asked = launcher.wait_for_line(r"already exists\. Replace it\? \(y/n\) $", after=asked + 1)
        launcher.send("n")
        launcher.wait_for_line(r"^Save Lumidra log as", after=asked + 1)
        launcher.send("cancel")

        # A file that cannot be opened: the error line, and the log shown instead.
        mark = len(launcher.output())
        launcher.send("download log")
        asked = launcher.wait_for_line(r"^Save Lumidra log as", after=mark)
        launcher.send("x" * 300)
        end = launcher.wait_for_line(r"^--- end of Lumidra log ---$", after=asked)
        self.assertRegex(launcher.output()[end - 1], r" ERROR: Cannot open log file output stream$")
        with open(path, "rb") as saved_file:
            self.assertEqual(saved_file.read(), content)  # the refused replacement left it alone

        launcher.signal(15)
        self.assert_ended(launcher)


if __name__ == "__main__":
    unittest.main()
