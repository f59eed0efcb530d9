"""The disc's extractor misbehaving: killed half-way, killed every time, hanging, printing
garbage. The launcher retries as it is meant to, shows the right status texts, never crashes,
and can always be terminated, leaving no workspace behind."""

import os
import signal
import time
import unittest

from hardening_support import FAILED, REMOVING, STARTED, HardeningCase, http_get, replace_extractor, wait_until

RETRY_STATUS = "Copying browser - error occured. Retrying..."

# Runs the real extractor in the background and kills it and itself shortly after: a child
# that dies half-way through its work, as the first `kills` runs do.
KILLED_HALF_WAY = """
count="$0.count"
n=$(cat "$count" 2>/dev/null || echo 0); n=$((n + 1)); echo $n > "$count"
if [ $n -le {kills} ]; then
  printf '\\r 12%%'
  "$(dirname "$0")/7za.real" "$@" >/dev/null 2>&1 &
  sleep 0.05
  kill -9 $! 2>/dev/null
  kill -9 $$
fi
exec "$(dirname "$0")/7za.real" "$@"
"""


class ExtractorFaults(HardeningCase):
    def setUp(self):
        # Each test puts an extractor of its own on the disc.
        self.disc = self.make_own_disc()

    def messages(self, launcher, level=None):
        return [m for l, m in launcher.show_log() if level is None or l == level]

    def test_killed_half_way_then_retried(self):
        replace_extractor(self.disc, KILLED_HALF_WAY.format(kills=2))
        launcher = self.start(self.disc)
        port, launch_id = launcher.port_and_id()
        statuses = launcher.statuses()
        self.assertIn(RETRY_STATUS, statuses)
        self.assertIn("Copying browser 12%", statuses)
        log = self.messages(launcher)
        self.assertIn("Browser unzip attempt 2", log)
        self.assertNotIn("Browser unzip attempt 3", log)
        self.assertIn("Command failed with exit code: 137, exit code result: 1", log)
        # What the killed runs left half-unpacked was overwritten by the attempt that worked.
        status, page = http_get(port, "/7z/index.html")
        self.assertEqual(status, 200)
        with open(os.path.join(launcher.workspace(launch_id), "DATA", "7z", "index.html"), "rb") as unpacked:
            self.assertEqual(page, unpacked.read())
        self.assert_terminated(launcher)

    def test_killed_every_time(self):
        replace_extractor(self.disc, KILLED_HALF_WAY.format(kills=1000))
        launcher = self.run_launcher(self.disc)
        launcher.wait_for_status(FAILED, timeout=120)
        log = self.messages(launcher)
        self.assertEqual([m for m in log if m.startswith("Browser unzip attempt")],
                         ["Browser unzip attempt 1", "Browser unzip attempt 2", "Browser unzip attempt 3"])
        self.assertEqual(log.count("Command failed with exit code: 137, exit code result: 1"), 3)
        self.assertIn("Cannot copy necessary files to TEMP dir.", log)
        self.assertFalse(any(m.startswith("Unzipping data") for m in log))
        self.assertEqual(statuses_after(launcher, RETRY_STATUS), [FAILED])
        self.assertFalse(os.path.exists(launcher.browser_record))
        self.assert_terminated(launcher)

    def test_hanging_extractor_can_be_terminated(self):
        pid_file = os.path.join(os.path.dirname(self.disc), "extractor.pid")
        replace_extractor(self.disc, "echo $$ > '%s'\nprintf '\\r  7%%%%'\nexec sleep 300\n" % pid_file)
        launcher = self.run_launcher(self.disc)
        launcher.wait_for_status("Copying browser  7%")
        pid = int(wait_until(lambda: read_text(pid_file), 10, "the extractor to start"))
        self.addCleanup(kill_quietly, pid)
        time.sleep(1)
        self.assertEqual(launcher.statuses()[-1], "Copying browser  7%")  # still waiting, nothing retried
        started = time.monotonic()
        # The button is not enabled before the start sequence ends; Ctrl+C (the close signal) works.
        launcher.process.send_signal(signal.SIGINT)
        self.assert_ended(launcher)
        self.assertLess(time.monotonic() - started, 15)
        self.assertIn(REMOVING, launcher.statuses())
        # The extractor does not outlive the launcher.
        wait_until(lambda: not process_alive(pid), 5, "the hanging extractor to end")

    def test_extractor_that_outlives_terminate(self):
        # Terminated while an uncaptured run has not yet written anything: what the extractor
        # writes after the launcher has gone must not bring the workspace back.
        replace_extractor(self.disc, "[ -p /dev/stdout ] && exit 1\nsleep 2\n"
                                     "exec \"$(dirname \"$0\")/7za.real\" \"$@\"\n")
        launcher = self.run_launcher(self.disc)
        launcher.wait_for_status(RETRY_STATUS)
        launcher.process.send_signal(signal.SIGTERM)
        self.assertEqual(launcher.wait_exit(15), 0)
        time.sleep(4)  # the workspace must not come back after terminate
        self.assert_left_nothing(launcher)

    def test_endless_output_keeps_the_log_bounded(self):
        # Progress figures without end, before the real work: 20 MB of them are read as at least
        # 78000 chunks, each a log line, some megabytes in all. The log keeps its first lines and
        # its newest ones, and one line between them says how much it left out.
        replace_extractor(self.disc, "yes '  42%' | head -c 20000000\nexec \"$(dirname \"$0\")/7za.real\" \"$@\"\n")
        launcher = self.run_launcher(self.disc)
        launcher.wait_for_status(STARTED, timeout=180)
        launcher.port_and_id()
        launcher.wait_for_log("Copying of remaining files finished.")
        log = launcher.show_log()
        self.assertEqual(log[0], ("INFO", "Starting Lumidra"))
        dropped = [m for level, m in log if level == "WARN" and m.startswith("Log too long: ")]
        self.assertEqual(len(dropped), 1, "no line says what was left out")
        self.assertRegex(dropped[0], r"^Log too long: [1-9]\d* lines \([1-9]\d* bytes\) left out here$")
        self.assertLess(sum(len(message) + 32 for _, message in log), 2 << 20)
        self.assertEqual(self.messages(launcher, "ERROR"), [])
        self.assert_terminated(launcher)

    def test_garbage_output(self):
        # Binary noise with stray '%' signs and broken UTF-8 before the real work.
        replace_extractor(self.disc,
                          "head -c 2000000 /dev/urandom\n"
                          "printf '\\377\\376%%\\000\\001%%\\033[2J\\300\\257%%'\n"
                          "exec \"$(dirname \"$0\")/7za.real\" \"$@\"\n")
        launcher = self.run_launcher(self.disc)
        launcher.wait_for_status(STARTED, timeout=180)
        port, _ = launcher.port_and_id()
        log = self.messages(launcher)
        progress = [m for m in log if m.startswith("Copy progress: ")]
        self.assertGreater(len(progress), 100)
        self.assertNotIn(RETRY_STATUS, launcher.statuses())
        self.assertEqual(self.messages(launcher, "ERROR"), [])
        self.assertEqual(http_get(port, "/copy_status.txt")[0], 200)
        self.assert_terminated(launcher)


def statuses_after(launcher, text):
    statuses = launcher.statuses()
    return statuses[len(statuses) - statuses[::-1].index(text):]


def read_text(path):
    if not os.path.exists(path):
        return None
    with open(path) as text:
        return text.read().strip() or None


def process_alive(pid):
    """A process that has ended but is not yet reaped (a zombie) counts as ended."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (FileNotFoundError, ProcessLookupError):
        return False


def kill_quietly(pid):
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


if __name__ == "__main__":
    unittest.main()
