"""The disc's own Linux launcher on an older Linux than the build machine: a Debian 11 root
(glibc 2.31, as Ubuntu 20.04), made once by debootstrap and kept under build/, where the launcher
is started with chroot from the disc's root, serves the study over the loopback and leaves no
workspace after SIGTERM."""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import urllib.request

from disc_support import SOURCE_DIR, files_below, linux_extractor, run_disc, sha256, stand_in_programs, \
    write_synthetic_study

sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import launcher_driver  # noqa: E402
from launcher_driver import Launcher, http_request  # noqa: E402

SUITE = "bullseye"
ROOT = os.path.join(SOURCE_DIR, "build", "debian-11-root")
# What ./run build leaves and ./run disc puts on a disc; the test build's launcher carries the
# sanitizers' runtime of the build machine.
PORTABLE_LAUNCHER = os.path.join(SOURCE_DIR, "build", "native", "lumidra")
DISC_IN_ROOT = "/media/lumidra-disc"
VIEWER_LINE = r"^Viewer: http://localhost:(\d+)/7z/index\.html\?uniqueId=LUMIDRA_[0-9a-f]+$"


def apt_debian_mirrors():
    """The Debian archives apt uses here (not its security archive), in the order it lists them."""
    found = []
    for name in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*")):
        if not name.endswith((".list", ".sources")) or not os.path.isfile(name):
            continue
        with open(name, errors="replace") as listing:
            for line in listing:
                line = line.split("#", 1)[0].strip()
                one_line = re.match(r"^deb\s+(?:\[[^\]]*\]\s+)?(\S+)", line)
                stanza = re.match(r"^URIs:\s*(.+)$", line)
                uris = [one_line.group(1)] if one_line else stanza.group(1).split() if stanza else []
                found += [uri.rstrip("/") for uri in uris if uri.rstrip("/").endswith("/debian")]
    return found


def reachable_mirror():
    """The first mirror that serves Debian 11, or None."""
    candidates = apt_debian_mirrors() + ["http://deb.debian.org/debian", "http://archive.debian.org/debian"]
    for mirror in dict.fromkeys(candidates):
        try:
            with urllib.request.urlopen("%s/dists/%s/Release" % (mirror, SUITE), timeout=20) as answer:
                if answer.status == 200:
                    return mirror
        except OSError:
            continue
    return None


def mounts_below(folder):
    """Mount points inside folder, deepest first."""
    with open("/proc/self/mounts") as table:
        points = [row.split()[1].replace("\\040", " ") for row in table]
    return sorted((p for p in points if p.startswith(folder + os.sep)), key=len, reverse=True)


def remove_partial_root(folder):
    """What an interrupted debootstrap left; it may still have the host's /dev, /proc or /sys
    mounted inside, whose files must not be deleted with it."""
    for point in mounts_below(folder):
        subprocess.run(["umount", "--lazy", point], stderr=subprocess.DEVNULL)
    if mounts_below(folder):
        raise AssertionError("%s still has mounts inside; unmount them and delete it" % folder)
    shutil.rmtree(folder, ignore_errors=True)


def debian11_root():
    """The cached root, made first if missing (a few minutes), in a side folder renamed only once
    debootstrap has finished, so that an interrupted run is never taken for a root; None when no
    mirror serves Debian 11."""
    if os.path.isfile(os.path.join(ROOT, "etc", "debian_version")):
        return ROOT
    mirror = reachable_mirror()
    if mirror is None:
        return None
    partial = ROOT + ".partial"
    remove_partial_root(partial)
    result = subprocess.run(["debootstrap", "--variant=minbase", SUITE, partial, mirror],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        raise AssertionError("debootstrap from %s failed:\n%s" % (mirror, result.stdout.decode(errors="replace")[-3000:]))
    os.rename(partial, ROOT)
    return ROOT


class LauncherOnDebian11(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("debootstrap and chroot need root")
        if not os.access(PORTABLE_LAUNCHER, os.X_OK):
            raise AssertionError("no %s: ./run build makes it" % PORTABLE_LAUNCHER)
        self.root = debian11_root()
        if self.root is None:
            self.skipTest("debootstrap cannot reach a Debian mirror serving %s" % SUITE)
        self.work = tempfile.mkdtemp(prefix="lumidra-debian11-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.disc = self.root + DISC_IN_ROOT
        self.tmp_in_root = tempfile.mkdtemp(prefix="lumidra-run-", dir=os.path.join(self.root, "tmp"))
        self.addCleanup(self._leave_the_root_as_it_was)

    def _leave_the_root_as_it_was(self):
        subprocess.run(["chmod", "-R", "u+w", self.disc], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.disc, ignore_errors=True)
        shutil.rmtree(self.tmp_in_root, ignore_errors=True)

    def test_the_discs_launcher_serves_the_study_on_debian_11_and_leaves_nothing(self):
        with open(os.path.join(self.root, "etc", "debian_version")) as version:
            self.assertTrue(version.read().startswith("11."))
        _series, images = write_synthetic_study(os.path.join(self.work, "export"))
        code, _out, err = run_disc(os.path.join(self.work, "export"), self.disc,
                                   stand_in_programs(os.path.join(self.work, "programs")),
                                   linux_launcher=PORTABLE_LAUNCHER)
        self.assertEqual(code, 0, err)
        self.assertEqual(sha256(os.path.join(self.disc, "BIN", "7za")), sha256(linux_extractor()))
        subprocess.run(["chmod", "-R", "a-w", self.disc], check=True)

        launcher_driver.LAUNCHER = "./lumidra"
        tmp = "/tmp/" + os.path.basename(self.tmp_in_root)
        launcher = Launcher(self.disc, tmpdir=self.tmp_in_root, scratch_prefix="lumidra-debian11-run-",
                            command_prefix=["chroot", self.root, "/bin/sh", "-c",
                                            'cd %s && exec "$0"' % DISC_IN_ROOT],
                            extra_env={"TMPDIR": tmp, "HOME": "/root", "BROWSER": "/bin/true"})
        self.addCleanup(launcher.close)
        try:
            index = launcher.wait_for_line(VIEWER_LINE, timeout=120)
        except AssertionError as failure:  # a C library too old says so on standard error
            raise AssertionError("%s\nstandard error:\n%s" % (failure, launcher.stderr_text())) from None
        line = launcher.output()[index]
        port = int(re.match(VIEWER_LINE, line).group(1))
        launcher.wait_for_status("DICOM Lumidra started", timeout=120)
        log = launcher.wait_for_log("Copying of remaining files finished.", timeout=120)
        self.assertTrue(any("BIN/7za" in message for _level, message in log),
                        "the disc's own extractor was not used")

        status, page, _ = http_request(port, "GET", "/7z/index.html")
        self.assertEqual(status, 200)
        self.assertIn(b"<html", page.lower())
        served = []
        for image in [f for f in files_below(self.disc) if f.startswith("DATA/DICOM/")]:
            status, body, _ = http_request(port, "GET", "/" + image[len("DATA/"):])
            self.assertEqual(status, 200, image)
            with open(os.path.join(self.disc, image), "rb") as on_disc:
                self.assertEqual(body, on_disc.read(), image)
            served.append(image)
        self.assertEqual(len(served), len(images))

        launcher.signal(signal.SIGTERM)
        self.assertEqual(launcher.wait_exit(60), 0)
        self.assertEqual(launcher.workspace_entries(), [])


if __name__ == "__main__":
    # CTest makes the root first, without holding the launcher's ports meanwhile.
    if sys.argv[1:] == ["--make-root"]:
        if os.geteuid() == 0:
            debian11_root()
    else:
        unittest.main()
