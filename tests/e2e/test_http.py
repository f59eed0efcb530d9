"""The viewer page's side of the launcher over HTTP: with port 8000 taken, a study large enough
that the deferred copy can be watched, the exit request, and what pages of other sites get."""

import os
import socket
import time
import unittest

from launcher_case import REMOVING, STARTED, LauncherCase
from launcher_driver import PortBlocker, http_request, listening_addresses, listening_addresses6, wait_until

LARGE_FILE_MB = 768  # a few seconds of copying on a test machine


class ViewerPageContract(LauncherCase):
    @classmethod
    def make_discs(cls):
        cls.disc = cls.make_disc("disc", "--large-file-mb", str(LARGE_FILE_MB))

    def setUp(self):
        self.blocker = PortBlocker([8000])
        self.addCleanup(self.blocker.close)
        self.launcher = self.run_launcher(self.disc)

    def test_files_copy_status_launch_id_and_exit(self):
        launcher = self.launcher
        launcher.wait_for_status(STARTED, timeout=120)
        port, launch_id = launcher.port_and_id()
        self.assertGreater(port, 8000)

        # While the deferred copy runs: not complete, and the hook not installed yet.
        status, body, _ = http_request(port, "GET", "/copy_status.txt")
        self.assertEqual((status, body), (200, b"0"))
        status, _, _ = http_request(port, "GET", "/cmd/uniqueId")
        self.assertEqual(status, 404)
        status, _, _ = http_request(port, "POST", "/cmd/exit?uniqueId=" + launch_id)
        self.assertEqual(status, 404)
        self.assertIsNone(launcher.process.poll())

        # Served to this machine only, on both loopback addresses: "localhost" leads the browser
        # to [::1] first, where no other program may answer in the viewer's place.
        self.assertEqual(listening_addresses(port), ["127.0.0.1"])
        if socket.has_ipv6 and os.path.exists("/proc/net/if_inet6"):
            self.assertEqual(listening_addresses6(port), ["::1"])
            status, body, _ = http_request(port, "GET", "/copy_status.txt", host="::1")
            self.assertEqual((status, body), (200, b"0"))

        status, page, headers = http_request(port, "GET", "/7z/index.html?uniqueId=" + launch_id)
        self.assertEqual(status, 200)
        self.assertIn(b"<html", page.lower())
        self.assertEqual(headers.get("Server"), "Lumiserv")
        self.assertEqual(headers.get("X-Frame-Options"), "DENY")
        self.assertEqual(headers.get("Content-Security-Policy"), "frame-ancestors 'none'")
        self.assertEqual(headers.get("X-Content-Type-Options"), "nosniff")
        self.assertEqual(headers.get("Cross-Origin-Resource-Policy"), "same-origin")
        self.assertEqual(headers.get("Referrer-Policy"), "no-referrer")
        status, config, _ = http_request(port, "GET", "/7z/data/config/config-lumidra.json")
        self.assertEqual(status, 200)
        self.assertIn(b"localhost:%d" % port, config)
        self.assertNotIn(b"localhost:8000", config)
        # The viewer archive is never copied into the workspace: only the disc has it.
        status, archive, _ = http_request(port, "GET", "/7z/viewer.7z")
        self.assertEqual(status, 200)
        with open(os.path.join(self.disc, "DATA", "7z", "viewer.7z"), "rb") as original:
            self.assertEqual(archive, original.read())
        status, _, _ = http_request(port, "GET", "/no/such/file.txt")
        self.assertEqual(status, 404)

        # Once the copy has ended the hook answers.
        wait_until(lambda: http_request(port, "GET", "/copy_status.txt")[1] == b"1", 120, "copy_status.txt 1")
        launcher.wait_for_copy_end(port, timeout=30)
        status, body, headers = http_request(port, "GET", "/cmd/uniqueId")
        self.assertEqual((status, body.decode()), (200, launch_id))
        self.assertTrue(headers.get("Content-Type", "").startswith("text/html"), headers)
        self.assertEqual(http_request(port, "POST", "/cmd/uniqueId")[:2], (200, launch_id.encode()))
        self.assertEqual(http_request(port, "GET", "/cmd/uniqueId?x=1")[:2], (200, launch_id.encode()))
        self.assertEqual(http_request(port, "POST", "/cmd/uniqueId?x=1")[0], 404)
        large = os.path.join(launcher.workspace(launch_id), "DATA", "DICOM", "LARGE.BIN")
        self.assertEqual(os.path.getsize(large), LARGE_FILE_MB << 20)

        # Exit requests that must not end the launcher.
        self.assertEqual(http_request(port, "GET", "/cmd/exit?uniqueId=" + launch_id)[0], 404)
        self.assertEqual(http_request(port, "POST", "/cmd/exit?uniqueId=" + launch_id + "x")[0], 404)
        self.assertEqual(http_request(port, "POST", "/cmd/exit?uniqueId=")[0], 404)
        self.assertEqual(http_request(port, "POST", "/cmd/exit?uniqueId=" + launch_id.upper())[0], 404)
        # Pages of other sites (or of another program on this machine) that know the launch id.
        exit_path = "/cmd/exit?uniqueId=" + launch_id
        for foreign in ({"Origin": "http://evil.example"}, {"Origin": "null"},
                        {"Origin": "http://localhost:%d" % (port + 1)}, {"Sec-Fetch-Site": "cross-site"},
                        {"Sec-Fetch-Site": "same-site"}):
            status, body, headers = http_request(port, "POST", exit_path, headers=foreign)
            self.assertEqual(status, 403, foreign)
            self.assertIn(b"<h1>Forbidden</h1>", body)
            self.assertEqual(headers.get("X-Frame-Options"), "DENY")
        time.sleep(1.5)
        self.assertIsNone(launcher.process.poll())

        asked = time.monotonic()
        status, body, _ = http_request(port, "POST", exit_path,
                                       headers={"Origin": "http://localhost:%d" % port, "Sec-Fetch-Site": "same-origin"})
        self.assertEqual((status, body), (200, b"OK"))
        self.assertEqual(launcher.wait_exit(timeout=10), 0)
        took = time.monotonic() - asked
        self.assertGreaterEqual(took, 0.9)  # the exit waits its second before it runs
        self.assertIn("Status: " + REMOVING, launcher.output())
        self.assert_left_nothing(launcher)
        with self.assertRaises(OSError):
            http_request(port, "GET", "/copy_status.txt", timeout=2)


if __name__ == "__main__":
    unittest.main()
