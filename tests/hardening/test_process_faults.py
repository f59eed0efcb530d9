"""Faults around the launcher's process: its port taken between the probe and the server start,
and the launcher killed outright. A failed start is reported and can still be terminated; a
killed launcher leaves its workspace, and the next start works all the same."""

import os
import re
import signal
import socket
import time
import unittest

from hardening_support import FAILED, HardeningCase, exchange, http_get, replace_extractor


class ProcessFaults(HardeningCase):
    def setUp(self):
        # A test may put an extractor of its own on the disc.
        self.disc = self.make_own_disc()

    def test_port_taken_between_probe_and_server_start(self):
        # The extractor takes its time, which leaves room to take the probed port meanwhile.
        replace_extractor(self.disc, "printf '\\r  1%%'\nsleep 2\nexec \"$(dirname \"$0\")/7za.real\" \"$@\"\n")
        launcher = self.run_launcher(self.disc)
        launcher.wait_for_status("Copying browser  1%")
        found = [m for _, m in launcher.show_log() if m.startswith("Found free port number: ")]
        port = int(found[0].rsplit(" ", 1)[1])
        squatter = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(squatter.close)
        squatter.bind(("127.0.0.1", port))
        squatter.listen(1)

        launcher.wait_for_status(FAILED, timeout=120)
        log = launcher.show_log()
        self.assertIn(("ERROR", "Lumiserv start failed!"), log)
        self.assertNotIn(("INFO", "Lumiserv started"), log)
        self.assertNotIn(("INFO", "Opening browser"), log)
        self.assertFalse(os.path.exists(launcher.browser_record))
        self.assertIn("Button: Terminate DICOM Lumidra (enabled)", launcher.transcript())
        # The squatter still has its port; the launcher did not take it over.
        probe = socket.create_connection(("127.0.0.1", port), timeout=5)
        probe.close()
        self.assert_terminated(launcher)

    def test_killed_launcher_then_a_new_start(self):
        first, port, first_id = self.start_and_wait_for_copy(self.disc)
        first.process.send_signal(signal.SIGKILL)
        self.assertEqual(first.wait_exit(10), -signal.SIGKILL)
        # Nothing ran after the kill: the workspace stays where it was, whole.
        self.assertEqual(os.listdir(first.tmpdir), [first_id])
        with open(os.path.join(first.workspace(first_id), "DATA", "copy_status.txt"), "rb") as status:
            self.assertEqual(status.read(), b"1")
        self.assertIsNone(http_get(port, "/copy_status.txt", timeout=2)[0])

        second = self.start(self.disc, tmpdir=first.tmpdir)
        # The killed launcher's lock died with it: the new start removes its workspace.
        self.assertIn(("INFO", "Stale workspaces removed: 1"), second.show_log())
        self.assertFalse(os.path.exists(first.workspace(first_id)))
        second_port, second_id = second.port_and_id()
        self.assertNotEqual(second_id, first_id)
        self.assertTrue(re.fullmatch(r"LUMIDRA_[0-9a-f]+", second_id))
        self.assertEqual(http_get(second_port, "/copy_status.txt")[0], 200)
        second.wait_for_copy_end(second_port)
        self.assertEqual(http_get(second_port, "/cmd/uniqueId"), (200, second_id.encode()))
        self.assert_terminated(second)

    def test_a_flood_of_exit_requests(self):
        # Each accepted exit request starts its own delayed exit; hundreds of them in the second
        # before the first one lands end the launcher once, cleanly.
        launcher, port, launch_id = self.start_and_wait_for_copy(self.disc)
        request = b"POST /cmd/exit?uniqueId=" + launch_id.encode() + b" HTTP/1.1\r\nContent-Length: 0\r\n\r\n"
        answered = 0
        deadline = time.monotonic() + 0.8
        while time.monotonic() < deadline:
            try:
                reply = exchange(port, request, timeout=5)
            except OSError:
                break
            if (reply.status, reply.body) == (200, b"OK"):
                answered += 1
        self.assertGreater(answered, 50)
        self.assert_ended(launcher, timeout=20)


if __name__ == "__main__":
    unittest.main()
