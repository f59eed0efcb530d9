"""The ISO image: ISO 9660 with Joliet and Rock Ridge, its label, and a tree that is the disc
folder byte for byte, run bits included."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest
import warnings

from disc_support import MessyInput, files_below, read_header, run_disc, sha256, stand_in_programs

SECTOR = 2048
JOLIET_ESCAPES = (b"%/@", b"%/C", b"%/E")


def setUpModule():
    global WORK, INPUT, PROGRAMS
    WORK = tempfile.mkdtemp(prefix="lumidra-disc-iso-")
    INPUT = MessyInput(os.path.join(WORK, "export"))
    PROGRAMS = stand_in_programs(os.path.join(WORK, "programs"))


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def volume_descriptors(iso):
    """(type, sector bytes) of each volume descriptor, up to the set terminator."""
    found = []
    with open(iso, "rb") as handle:
        handle.seek(16 * SECTOR)
        while True:
            sector = handle.read(SECTOR)
            if len(sector) < SECTOR or sector[1:6] != b"CD001":
                raise AssertionError("no volume descriptor set terminator")
            if sector[0] == 255:
                return found
            found.append((sector[0], sector))


def extract(iso, folder):
    subprocess.run(["xorriso", "-osirrox", "on", "-indev", iso, "-extract", "/", folder],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class IsoImage(unittest.TestCase):
    def make(self, name, *options):
        disc = os.path.join(WORK, name)
        iso = os.path.join(WORK, name + ".iso")
        code, out, err = run_disc(INPUT.folder, disc, PROGRAMS, "--iso", iso, *options)
        self.assertEqual(code, 0, err)
        return disc, iso, out

    def test_extracted_tree_is_the_folder_byte_for_byte_with_run_bits(self):
        disc, iso, out = self.make("whole")
        self.assertIn("ISO image: " + iso, out)
        extracted = os.path.join(WORK, "whole-extracted")
        extract(iso, extracted)
        self.assertEqual(files_below(extracted), files_below(disc))
        for relative in files_below(disc):
            self.assertEqual(sha256(os.path.join(extracted, relative)), sha256(os.path.join(disc, relative)),
                             relative)
        for runnable in ("lumidra", "BIN/7za"):
            mode = os.stat(os.path.join(extracted, runnable)).st_mode
            self.assertTrue(mode & stat.S_IXUSR and mode & stat.S_IXOTH, runnable)
        self.assertFalse(os.stat(os.path.join(extracted, "lumidra.exe")).st_mode & stat.S_IXUSR)

    def test_seven_zip_lists_every_file_of_the_folder(self):
        disc, iso, _out = self.make("listed")
        listing = subprocess.run(["7zz", "l", "-slt", iso], check=True, stdout=subprocess.PIPE).stdout
        paths = [line[7:] for line in listing.decode("utf-8").splitlines() if line.startswith("Path = ")]
        folders = {os.path.relpath(top, disc).replace(os.sep, "/") for top, _f, _n in os.walk(disc)} - {"."}
        self.assertEqual(sorted(set(paths) - folders - {iso}), files_below(disc))

    def test_joliet_and_rock_ridge_are_recorded(self):
        _disc, iso, _out = self.make("extensions")
        kinds = volume_descriptors(iso)
        self.assertEqual(kinds[0][0], 1)  # the primary descriptor
        self.assertTrue(any(kind == 2 and sector[88:91] in JOLIET_ESCAPES for kind, sector in kinds))
        report = subprocess.run(["xorriso", "-indev", iso, "-lsl", "/lumidra"],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout.decode()
        # Rock Ridge carries the POSIX mode; plain ISO 9660 could not say "rwx".
        self.assertRegex(report, r"-rwxr-xr-x .* '/lumidra'")

    def test_one_label_names_the_volume_its_joliet_tree_and_the_file_set(self):
        disc, iso, out = self.make("labelled", "--label", "Nováková – CT hrudníku 15.3.2024, kontrola")
        descriptors = volume_descriptors(iso)
        label = descriptors[0][1][40:72].decode("ascii").rstrip()
        self.assertEqual(label, "NOVAKOVA_CT_HRUD")  # ISO 9660 characters, as long as a file-set ID
        joliet = [sector for kind, sector in descriptors if kind == 2 and sector[88:91] in JOLIET_ESCAPES][0]
        self.assertEqual(joliet[40:72].decode("utf-16-be").rstrip(), label)
        for dicomdir in ("DICOMDIR", "DATA/DICOMDIR"):
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)  # pydicom's own DicomDir class
                self.assertEqual(read_header(os.path.join(disc, dicomdir)).FileSetID, label)
        self.assertIn("(label and file-set ID %s)" % label, out)

    def test_label_without_the_option_comes_from_the_first_patient_and_study(self):
        _disc, iso, _out = self.make("derived")
        label = volume_descriptors(iso)[0][1][40:72].decode("ascii").rstrip()
        self.assertRegex(label, r"^HAJKOVA_CT_CHEST[A-Z0-9_]*$")
        self.assertLessEqual(len(label), 16)

    def test_an_existing_iso_is_replaced_only_when_forced(self):
        iso = os.path.join(WORK, "existing.iso")
        with open(iso, "w") as out:
            out.write("an older image")
        code, _out, err = run_disc(INPUT.folder, os.path.join(WORK, "existing"), PROGRAMS, "--iso", iso)
        self.assertEqual(code, 1)
        self.assertIn("add --force", err)
        with open(iso) as handle:
            self.assertEqual(handle.read(), "an older image")
        self.assertFalse(os.path.exists(os.path.join(WORK, "existing")))
        code, _out, err = run_disc(INPUT.folder, os.path.join(WORK, "existing"), PROGRAMS, "--iso", iso,
                                   "--force")
        self.assertEqual(code, 0, err)
        self.assertEqual(volume_descriptors(iso)[0][0], 1)


if __name__ == "__main__":
    unittest.main()
