"""A disc a hospital can hand to a patient: two people under one Patient ID are never merged, a
damaged copy never costs the intact one, the disc is named after who is on it, every file not
taken is named, a disc being replaced survives a failed build, and --extras carries only what
belongs on the disc."""

import os
import shutil
import sys
import tempfile
import unittest
import warnings
import zipfile
from unittest import mock

import pydicom

from disc_support import TOOLS_DIR, files_below, read_header, referenced_files, run_disc, sha256, stand_in_programs
import sample_study
from study_files import write_part10

sys.path.insert(0, TOOLS_DIR)
from disc import catalogue, identity  # noqa: E402
from disc.recognise import Image  # noqa: E402

PYDICOM_FILES = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")


def setUpModule():
    global WORK, PROGRAMS
    WORK = tempfile.mkdtemp(prefix="lumidra-disc-safety-")
    PROGRAMS = stand_in_programs(os.path.join(WORK, "programs"))


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def study_images(name, patient_id, birth_date, modality_index, count):
    """count images of one series of the synthetic study (0: CT, 1: MR, 2: CR) for this patient."""
    template = sample_study.build_study(ct_slices=count, mr_slices=count)[modality_index].images
    changed = []
    for index, elements in enumerate(template[:count]):
        values = {(0x0010, 0x0010): name, (0x0010, 0x0020): patient_id, (0x0010, 0x0030): birth_date,
                  (0x0008, 0x0018): sample_study.make_uid(name, modality_index, index),
                  (0x0020, 0x000D): sample_study.make_uid(name, "study"),
                  (0x0020, 0x000E): sample_study.make_uid(name, "series", modality_index)}
        changed.append([(tag, vr, values.get(tag, value)) for tag, vr, value in elements])
    return changed


def write_images(folder, images):
    os.makedirs(folder, exist_ok=True)
    paths = []
    for index, elements in enumerate(images):
        path = os.path.join(folder, "IMG%04d.dcm" % index)
        write_part10(path, elements)
        paths.append(path)
    return paths


def disc_images(disc):
    return [name for name in files_below(disc) if name.startswith("DATA/DICOM/")]


def patient_names_on(disc):
    return sorted({str(read_header(os.path.join(disc, name)).PatientName) for name in disc_images(disc)})


class OnePatientIdTwoPeople(unittest.TestCase):
    """A CT of Smith^John and an MR of Jones^Mary, both under ID 12345."""

    @classmethod
    def setUpClass(cls):
        cls.export = os.path.join(WORK, "two people one id")
        cls.smith = write_images(os.path.join(cls.export, "CT"), study_images("Smith^John", "12345", "19600101", 0, 3))
        cls.jones = write_images(os.path.join(cls.export, "MR"), study_images("Jones^Mary", "12345", "19700202", 1, 2))

    def test_the_build_is_refused_naming_both_identities_and_their_files(self):
        disc = os.path.join(WORK, "merged disc")
        code, out, err = run_disc(self.export, disc, PROGRAMS, "--iso", disc + ".iso")
        self.assertEqual(code, 1, out)
        self.assertIn("patient ID 12345 has images under 2 names", err)
        self.assertIn("Smith^John, born 19600101: 3 file(s): CT/IMG0000.dcm", err)
        self.assertIn("Jones^Mary, born 19700202: 2 file(s): MR/IMG0000.dcm", err)
        self.assertIn("--keep-patient-conflicts", err)
        self.assertFalse(os.path.lexists(disc))
        self.assertFalse(os.path.lexists(disc + ".iso"))

    def test_kept_on_request_they_stay_two_patients_with_a_warning(self):
        disc = os.path.join(WORK, "kept disc")
        code, out, err = run_disc(self.export, disc, PROGRAMS, "--keep-patient-conflicts")
        self.assertEqual(code, 0, err)
        self.assertIn("WARN: patient ID 12345 has images under 2 names", out)
        self.assertEqual(len({name.split("/")[2] for name in disc_images(disc)}), 2)
        self.assertEqual(patient_names_on(disc), ["Jones^Mary", "Smith^John"])
        # Every image is indexed, whatever the DICOMDIR makes of the shared ID.
        self.assertEqual(len(referenced_files(os.path.join(disc, "DICOMDIR"))), 5)

    def test_one_person_spelled_two_ways_or_without_a_birth_date_is_one_patient(self):
        def image(path, name, birth_date, patient_id="7", issuer=""):
            return Image(path=path, size=1, part10=True, transfer_syntax="", sop_class="", sop_instance=path,
                         patient_id=patient_id, patient_name=name, birth_date=birth_date, issuer=issuer,
                         study_uid="1", study_date="", study_time="", study_description="", series_uid="1",
                         series_number=1, modality="CT", instance_number=1)

        cases = (
            # (images, patients, refusing findings)
            ([image("a", "Smith^John", "19600101"), image("b", "SMITH^JOHN^^", ""), image("c", " Smith^John", "")],
             1, 0),
            ([image("a", "Yamada^Tarou=山田^太郎=やまだ^たろう", ""), image("b", "YAMADA^TAROU", "")], 1, 0),
            ([image("a", "Smith^John", "19600101"), image("b", "Smith^John", "19600102")], 1, 1),
            ([image("a", "Smith^John", "", ""), image("b", "Jones^Mary", "", "")], 1, 1),
            ([image("a", "Smith^John", "", "1", "HOSP_A"), image("b", "Smith^John", "", "1", "HOSP_B")], 1, 1),
            ([image("a", "Smith^John", "", "1"), image("b", "Jones^Mary", "", "2")], 2, 0),
        )
        for images, patients, refusing in cases:
            groups, findings = identity.check(images)
            self.assertEqual((len(groups), len([f for f in findings if f.refuse])), (patients, refusing),
                             [i.patient_name for i in images])
        groups, findings = identity.check(cases[2][0], keep_conflicts=True)
        self.assertEqual((len(groups), [f.refuse for f in findings]), (2, [False]))


class DamagedCopy(unittest.TestCase):
    def test_of_a_cut_copy_and_the_intact_one_the_intact_one_is_on_the_disc(self):
        export = os.path.join(WORK, "cut and intact")
        intact = write_images(os.path.join(export, "b"), study_images("Doe^Jane", "D1", "", 0, 2))
        with open(intact[0], "rb") as handle:
            data = handle.read()
        # Cut where an element ends (after Rows), so that what is left reads as a whole data set,
        # and in a copy whose pixel data lost its second half with its length told to match.
        rows_end = data.index(b"\x28\x00\x10\x00US\x02\x00") + 10
        os.makedirs(os.path.join(export, "a"))
        with open(os.path.join(export, "a", "IMG0000.dcm"), "wb") as out:
            out.write(data[:rows_end])
        half = pydicom.dcmread(intact[1])
        half.PixelData = half.PixelData[:len(half.PixelData) // 2]
        os.makedirs(os.path.join(export, "a2"))
        half.save_as(os.path.join(export, "a2", "IMG0001.dcm"))

        disc = os.path.join(WORK, "cut and intact disc")
        code, out, err = run_disc(export, disc, PROGRAMS)
        self.assertEqual(code, 0, err)
        self.assertEqual(sorted(sha256(os.path.join(disc, name)) for name in disc_images(disc)),
                         sorted(sha256(path) for path in intact))
        self.assertIn("a/IMG0000.dcm: truncated: image without pixel data", out)
        self.assertIn("a2/IMG0001.dcm: truncated: pixel data holds", out)
        self.assertIn("images: 2", out)


class NamedAfterWhoIsOnIt(unittest.TestCase):
    def test_label_file_set_readme_and_counts_follow_the_images_the_disc_keeps(self):
        export = os.path.join(WORK, "first patient refused")
        # Aaron sorts first, but his one image has a SOP class no DICOMDIR takes.
        aaron = study_images("Aaron^Adam", "A1", "", 0, 1)[0]
        aaron = [(tag, vr, "1.2.3.4.5.6" if tag == (0x0008, 0x0016) else value) for tag, vr, value in aaron]
        write_images(os.path.join(export, "aaron"), [aaron])
        write_images(os.path.join(export, "zeta"), study_images("Zeta^Zoe", "Z1", "", 0, 2))
        disc = os.path.join(WORK, "named disc")
        code, out, err = run_disc(export, disc, PROGRAMS, "--iso", disc + ".iso")
        self.assertEqual(code, 0, err)
        self.assertIn("aaron/IMG0000.dcm: left out of the DICOMDIR by dcmmkdir", out)
        self.assertIn("patients: 1   studies: 1   series: 1   images: 2", out)
        self.assertIn("first patient: Zeta^Zoe", out)
        with open(os.path.join(disc, "AUTORUN.INF")) as autorun:
            self.assertIn("label=ZETA_", autorun.read())
        with open(os.path.join(disc, "README.TXT")) as readme:
            text = readme.read()
        self.assertTrue(text.startswith("ZETA_"), text)
        self.assertIn("1 patient(s), 1 stud(ies), 1 series, 2 images", text)
        self.assertNotIn("AARON", text.upper())
        for dicomdir in ("DICOMDIR", "DATA/DICOMDIR"):
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)  # pydicom's own DicomDir class
                self.assertTrue(read_header(os.path.join(disc, dicomdir)).FileSetID.startswith("ZETA_"))
            self.assertEqual(len(referenced_files(os.path.join(disc, dicomdir))), 2)
        self.assertEqual(patient_names_on(disc), ["Zeta^Zoe"])
        # The launcher unpacks data.zip first: the index and the series shown first, Zeta's.
        with zipfile.ZipFile(os.path.join(disc, "data.zip")) as archive:
            self.assertEqual(sorted(archive.namelist()),
                             sorted(["DATA/DICOMDIR"] + referenced_files(os.path.join(disc, "DICOMDIR"))))


class EveryFileNamed(unittest.TestCase):
    def test_a_deflated_image_goes_on_the_disc(self):
        export = os.path.join(WORK, "deflated")
        os.makedirs(export)
        shutil.copy(os.path.join(PYDICOM_FILES, "image_dfl.dcm"), export)
        disc = os.path.join(WORK, "deflated disc")
        code, out, err = run_disc(export, disc, PROGRAMS)
        self.assertEqual(code, 0, err + out)
        self.assertIn("images: 1", out)
        self.assertEqual(len(referenced_files(os.path.join(disc, "DICOMDIR"))), 1)

    def test_linked_and_unreadable_folders_are_named(self):
        export = os.path.join(WORK, "links and locks")
        write_images(os.path.join(export, "study"), study_images("Doe^Jane", "D1", "", 0, 1))
        elsewhere = os.path.join(WORK, "elsewhere")
        write_images(elsewhere, study_images("Roe^Rick", "R1", "", 0, 1))
        os.symlink(elsewhere, os.path.join(export, "linked"))
        os.makedirs(os.path.join(export, "locked"))
        with open(os.path.join(export, "locked", "IMG.dcm"), "wb") as out:
            out.write(b"x")
        os.mkfifo(os.path.join(export, "study", "pipe"))
        real_scandir = os.scandir

        def scandir(path="."):
            # As for a folder without the read bit, which root would read all the same.
            if os.fspath(path).endswith("locked"):
                raise PermissionError(13, "Permission denied", os.fspath(path))
            return real_scandir(path)

        skipped = []
        with mock.patch("os.scandir", scandir):
            found = catalogue.input_files(export, skipped)
        self.assertEqual([os.path.relpath(path, export) for path in found], ["study/IMG0000.dcm"])
        reasons = {os.path.relpath(left.path, export): left.reason for left in skipped}
        self.assertEqual(reasons, {"linked": "a link to a folder, not followed",
                                   "locked": "unreadable folder: Permission denied",
                                   "study/pipe": "not a regular file"})
        disc = os.path.join(WORK, "links disc")
        code, out, err = run_disc(export, disc, PROGRAMS)
        self.assertEqual(code, 0, err)
        self.assertIn("linked: a link to a folder, not followed", out)
        self.assertEqual(patient_names_on(disc), ["Doe^Jane"])


class Extras(unittest.TestCase):
    def test_links_out_a_dicomdir_and_names_iso_9660_cannot_hold_stay_off(self):
        extras = os.path.join(WORK, "extras")
        deep = os.path.join(extras, *("level%d" % level for level in range(1, 8)))
        os.makedirs(deep)
        with open(os.path.join(deep, "too deep.txt"), "w") as out:
            out.write("seven folders below DW\n")
        secret = os.path.join(WORK, "secret.txt")
        with open(secret, "w") as out:
            out.write("not for the disc\n")
        os.symlink(secret, os.path.join(extras, "hostname"))
        with open(os.path.join(extras, "Befund vom 15.3.2024 (final).pdf"), "wb") as out:
            out.write(b"%PDF-1.4 report\n")
        with open(os.path.join(extras, "befund-vom-15.3.2024.pdf"), "wb") as out:
            out.write(b"%PDF-1.4 second report\n")
        shutil.copy(os.path.join(PYDICOM_FILES, "dicomdirtests", "DICOMDIR"), os.path.join(extras, "dicomdir"))
        export = os.path.join(WORK, "extras study")
        write_images(export, study_images("Doe^Jane", "D1", "", 0, 1))
        disc = os.path.join(WORK, "extras disc")
        code, out, err = run_disc(export, disc, PROGRAMS, "--extras", extras)
        self.assertEqual(code, 0, err)
        on_disc = files_below(os.path.join(disc, "DATA", "DW"))
        self.assertEqual(on_disc, ["BEFUND_2.PDF", "BEFUND_V.PDF"])
        for name in on_disc:
            for part in name.split("/"):
                self.assertRegex(part, r"^[A-Z0-9_]{1,8}(\.[A-Z0-9_]{1,3})?$")
        self.assertIn("hostname: a link leading out of the extras folder, not followed", out)
        self.assertIn("dicomdir: a DICOMDIR", out)
        self.assertIn("level7: more than 6 folders deep below DATA/DW", out)
        self.assertIn("extras: Befund vom 15.3.2024 (final).pdf is DATA/DW/BEFUND_V.PDF on the disc", out)


if __name__ == "__main__":
    unittest.main()
