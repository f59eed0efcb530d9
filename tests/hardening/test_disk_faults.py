"""Disk faults during the deferred copy, with nothing lost: a workspace that runs out of room, a
file-size limit, and an unreadable file and folder on the disc. The status file ends "0", no
half-written file ever carries its final name, the rest is copied, and the launcher keeps
serving every readable file (from the disc where the workspace has none)."""

import hashlib
import os
import shutil
import subprocess
import tempfile
import unittest

from hardening_support import HardeningCase, can_switch_to_nobody, http_get, sha256_of

LARGE_MB = 24
# Room for the unpacked viewer (about 11 MB with its report and compare libraries) and the first
# series, not for the large file.
SMALL_FS_MB = 18


def workspace_files(workspace):
    found = {}
    for folder, _, names in os.walk(os.path.join(workspace, "DATA")):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, os.path.join(workspace, "DATA"))] = os.path.getsize(path)
    return found


class DiskFaults(HardeningCase):
    @classmethod
    def make_discs(cls):
        cls.disc = cls.make_disc("disc", "--large-file-mb", str(LARGE_MB))
        cls.large_sha = sha256_of(os.path.join(cls.disc, "DATA", "DICOM", "LARGE.BIN"))

    def start_copied(self, **options):
        launcher, port, launch_id = self.start_and_wait_for_copy(self.disc, **options)
        return launcher, port, launcher.workspace(launch_id)

    def assert_served_whole_from_disc(self, port, path, sha):
        status, body = http_get(port, path, timeout=60)
        self.assertEqual(status, 200)
        self.assertEqual(hashlib.sha256(body).hexdigest(), sha)

    def assert_nothing_half_written(self, workspace):
        for relative, size in workspace_files(workspace).items():
            self.assertFalse(relative.endswith(".bkp"), "a temporary copy was left: " + relative)
            original = os.path.join(self.disc, "DATA", relative)
            if os.path.exists(original) and relative != "copy_status.txt" and "7z" not in relative.split(os.sep)[0]:
                self.assertEqual(size, os.path.getsize(original), relative + " is incomplete")

    def finish(self, launcher, workspace):
        self.assert_terminated(launcher)
        self.assertFalse(os.path.exists(workspace))

    def test_workspace_runs_out_of_room(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        tmpdir = tempfile.mkdtemp(prefix="lumidra-full-")
        self.addCleanup(shutil.rmtree, tmpdir, True)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % SMALL_FS_MB, "tmpfs", tmpdir],
                                 stderr=subprocess.PIPE)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs here: " + mounted.stderr.decode().strip())
        self.addCleanup(subprocess.run, ["umount", "-l", tmpdir])
        launcher, port, workspace = self.start_copied(tmpdir=tmpdir)
        self.check_large_file_lost_cleanly(launcher, port, workspace)

    def test_file_size_limit(self):
        launcher, port, workspace = self.start_copied(file_size_limit=8 << 20)
        self.check_large_file_lost_cleanly(launcher, port, workspace)

    def check_large_file_lost_cleanly(self, launcher, port, workspace):
        self.assertEqual(http_get(port, "/copy_status.txt"), (200, b"0"))
        with open(os.path.join(workspace, "DATA", "copy_status.txt"), "rb") as status:
            self.assertEqual(status.read(), b"0")
        files = workspace_files(workspace)
        self.assertNotIn(os.path.join("DICOM", "LARGE.BIN"), files)
        self.assertNotIn(os.path.join("DICOM", "LARGE.BIN.bkp"), files)
        self.assert_nothing_half_written(workspace)
        # Every study file still comes back whole, the large one from the disc.
        self.assert_served_whole_from_disc(port, "/DICOM/LARGE.BIN", self.large_sha)
        self.assert_served_whole_from_disc(port, "/DICOMDIR", sha256_of(os.path.join(self.disc, "DATA", "DICOMDIR")))
        # A per-file failure adds no ERROR line; the status file is the only sign.
        self.assertEqual([m for level, m in launcher.show_log() if level == "ERROR"], [])
        self.finish(launcher, workspace)

    def add_disc_files(self, folder, names):
        os.makedirs(folder, exist_ok=True)
        for name in names:
            with open(os.path.join(folder, name), "wb") as out:
                out.write(os.urandom(5000))

    def test_link_back_up_the_tree(self):
        # A folder that links to its parent, as Rock Ridge discs may hold: the study is copied
        # once, the link skipped with a WARN line, and the copy still ends complete.
        looped = os.path.join(self.disc, "DATA", "DICOM", "LOOPED")
        self.add_disc_files(looped, ["L1.BIN"])
        self.addCleanup(shutil.rmtree, looped, True)
        os.symlink("..", os.path.join(looped, "UP"))

        launcher, port, workspace = self.start_copied()
        self.assertEqual(http_get(port, "/copy_status.txt"), (200, b"1"))
        files = workspace_files(workspace)
        self.assertEqual(files.get(os.path.join("DICOM", "LOOPED", "L1.BIN")), 5000)
        self.assertEqual(files.get(os.path.join("DICOM", "LARGE.BIN")), LARGE_MB << 20)
        self.assertEqual([name for name in files if "UP" in name.split(os.sep)], [])
        log = launcher.show_log()
        skipped = [message for level, message in log if "Link cycle skipped" in message]
        self.assertEqual(skipped, ["Link cycle skipped: " + os.path.join(os.path.realpath(looped), "UP")])
        self.assertIn(("WARN", skipped[0]), log)
        self.finish(launcher, workspace)

    def test_unreadable_file_and_folder(self):
        if os.geteuid() == 0 and not can_switch_to_nobody():
            self.skipTest("running as root without setpriv: file modes would not stop the launcher")
        dicom = os.path.join(self.disc, "DATA", "DICOM")
        extra = os.path.join(dicom, "EXTRA")
        self.add_disc_files(extra, ["A.BIN", "LOCKED.BIN", "Z.BIN"])
        self.add_disc_files(os.path.join(self.disc, "DATA", "DW"), ["DW1.BIN"])
        self.addCleanup(os.remove, os.path.join(self.disc, "DATA", "DW", "DW1.BIN"))
        locked = os.path.join(extra, "LOCKED.BIN")
        os.chmod(locked, 0)
        self.addCleanup(shutil.rmtree, extra, True)
        self.addCleanup(os.chmod, locked, 0o644)

        launcher, port, workspace = self.start_copied(as_nobody=os.geteuid() == 0)
        files = workspace_files(workspace)
        self.assertEqual(http_get(port, "/copy_status.txt"), (200, b"0"))
        for name in ("A.BIN", "Z.BIN"):
            self.assertEqual(files.get(os.path.join("DICOM", "EXTRA", name)), 5000)
        self.assertNotIn(os.path.join("DICOM", "EXTRA", "LOCKED.BIN"), files)
        self.assertEqual(files.get(os.path.join("DICOM", "LARGE.BIN")), LARGE_MB << 20)
        self.assert_nothing_half_written(workspace)
        self.assertEqual(http_get(port, "/DICOM/EXTRA/LOCKED.BIN")[0], 404)
        self.assertEqual([m for level, m in launcher.show_log() if level == "ERROR"], [])
        self.finish(launcher, workspace)

        # An unreadable folder ends the walk of its tree; the other tree is copied all the same.
        os.chmod(locked, 0o644)
        os.chmod(extra, 0)
        self.addCleanup(os.chmod, extra, 0o755)
        launcher, port, workspace = self.start_copied(as_nobody=os.geteuid() == 0)
        files = workspace_files(workspace)
        self.assertEqual(http_get(port, "/copy_status.txt"), (200, b"0"))
        self.assertEqual(files.get(os.path.join("DW", "DW1.BIN")), 5000)
        self.assertNotIn(os.path.join("DICOM", "EXTRA", "A.BIN"), files)
        self.assert_nothing_half_written(workspace)
        errors = [m for level, m in launcher.show_log() if level == "ERROR"]
        self.assertEqual(errors, ["Error during copying remaining DICOM files..."])
        self.assert_served_whole_from_disc(port, "/DICOM/LARGE.BIN", self.large_sha)
        self.finish(launcher, workspace)


if __name__ == "__main__":
    unittest.main()
