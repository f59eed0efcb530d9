"""The disc folder made from a messy export: names, the images' bytes, the two DICOMDIRs as
dcmtk reads them, the archives the launcher unpacks first, the programs and the texts."""

import datetime
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import warnings
from unittest import mock
import zipfile

import pydicom

from disc_support import (ENCODINGS, FIRST_PATIENT, SECOND_PATIENT, SOURCE_DIR, MessyInput,
                          assert_moved_index_is_dcmmkdirs, disc_command, files_below, launcher_under_test,
                          linux_extractor, read_header, referenced_files, run_disc, sha256, stand_in_programs,
                          TOOLS_DIR, write_synthetic_study)

sys.path.insert(0, TOOLS_DIR)
from disc.build import DiscRequest, Program, build_disc  # noqa: E402
from disc.dicomdir import profile_for  # noqa: E402
from disc.dicomdir_bytes import Dicomdir  # noqa: E402
from disc import index_values  # noqa: E402
from disc.header_patch import Unwalkable  # noqa: E402
from disc.progress import silent_progress  # noqa: E402
from disc import recognise  # noqa: E402
from disc.header_patch import header_at_places, header_with  # noqa: E402

NAME = re.compile(r"^[A-Z0-9_]{1,8}$")


def setUpModule():
    global WORK, INPUT, PROGRAMS, DISC, EXTRAS, OUT
    WORK = tempfile.mkdtemp(prefix="lumidra-disc-layout-")
    INPUT = MessyInput(os.path.join(WORK, "export"))
    PROGRAMS = stand_in_programs(os.path.join(WORK, "programs"))
    EXTRAS = os.path.join(WORK, "extras")
    os.makedirs(os.path.join(EXTRAS, "reports"))
    with open(os.path.join(EXTRAS, "reports", "CT report.pdf"), "wb") as out:
        out.write(b"%PDF-1.4 radiology report\n")
    DISC = os.path.join(WORK, "disc")
    code, OUT, err = run_disc(INPUT.folder, DISC, PROGRAMS, "--extras", EXTRAS, "--institution",
                              "Nemocnice Na Homolce", "--contact", "Radiologie, +420 257 271 111")
    if code != 0:
        raise AssertionError("the disc was not made:\n" + err)


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def dicomdir_records(dicomdir):
    """Each directory record as {keyword: value}, in the index's order, without the offsets to
    other records (which move with the length of the file IDs)."""
    offsets = ("OffsetOfTheNextDirectoryRecord", "OffsetOfReferencedLowerLevelDirectoryEntity")
    records = []
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # pydicom's own DicomDir class
        dataset = pydicom.dcmread(dicomdir)
    for record in dataset.DirectoryRecordSequence:
        values = {element.keyword: element.value for element in record if element.keyword not in offsets}
        if "ReferencedFileID" in values:
            values["ReferencedFileID"] = list(values["ReferencedFileID"])
        records.append(values)
    return records


def contents(folder):
    """{relative name: SHA-256} of every file below folder."""
    return {name: sha256(os.path.join(folder, *name.split("/"))) for name in files_below(folder)}


def disc_images():
    return [f for f in files_below(DISC) if f.startswith("DATA/DICOM/")]


class Names(unittest.TestCase):
    def test_images_sit_in_patient_study_series_folders_of_short_upper_case_names(self):
        images = disc_images()
        self.assertEqual(len(images), INPUT.image_count)
        for image in images:
            parts = image.split("/")[2:]
            self.assertEqual(len(parts), 4, image)
            for part in parts:
                self.assertRegex(part, NAME)
        self.assertEqual(len({i.split("/")[2] for i in images}), 2)  # two patients


class ImageBytes(unittest.TestCase):
    def test_every_image_is_the_input_file_byte_for_byte(self):
        on_disc = {}
        for image in disc_images():
            on_disc.setdefault(sha256(os.path.join(DISC, image)), []).append(image)
        for path in INPUT.kept:
            self.assertEqual(len(on_disc.get(sha256(path), [])), 1, path)

    def test_every_encoding_keeps_its_transfer_syntax(self):
        syntaxes = {read_header(os.path.join(DISC, i)).file_meta.TransferSyntaxUID for i in disc_images()}
        for _name, _command, syntax in ENCODINGS:
            self.assertIn(syntax, syntaxes)

    def test_a_bare_data_set_gets_a_meta_header_in_front_of_its_unchanged_bytes(self):
        with open(INPUT.bare[0], "rb") as handle:
            bare = handle.read()
        matches = []
        for image in disc_images():
            with open(os.path.join(DISC, image), "rb") as handle:
                data = handle.read()
            if data.endswith(bare):
                matches.append(data)
        self.assertEqual(len(matches), 1)
        self.assertEqual(matches[0][128:132], b"DICM")
        result = subprocess.run(["dcmdump", "-q", "+P", "0002,0010", "+P", "0008,0018", "-"],
                                input=matches[0], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"LittleEndianExplicit", result.stdout)


class Dicomdirs(unittest.TestCase):
    def check_dicomdir(self, folder):
        dicomdir = os.path.join(DISC, folder, "DICOMDIR")
        referenced = referenced_files(dicomdir)
        self.assertEqual(len(referenced), INPUT.image_count)
        # The viewer opens the first series of the index, which data.zip carries.
        self.assertTrue(referenced[0].endswith("DICOM/PA000001/ST000001/SE000001/IM000001"), referenced[0])
        for file_id in referenced:
            path = os.path.join(DISC, folder, file_id)
            result = subprocess.run(["dcmdump", "-q", path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            self.assertEqual((result.returncode, result.stderr), (0, b""), file_id)
        self.assertEqual(sorted(os.path.normpath(os.path.join(folder, r)).replace(os.sep, "/")
                                for r in referenced), disc_images())
        return dicomdir

    def test_the_viewers_dicomdir_names_every_image_from_data(self):
        self.check_dicomdir("DATA")

    def test_the_root_dicomdir_names_every_image_from_the_root(self):
        dicomdir = self.check_dicomdir("")
        self.assertTrue(all(r.startswith("DATA/DICOM/") for r in referenced_files(dicomdir)))

    def assert_same_records_the_roots_naming_data(self, disc):
        at_root = dicomdir_records(os.path.join(disc, "DICOMDIR"))
        in_data = dicomdir_records(os.path.join(disc, "DATA", "DICOMDIR"))
        self.assertEqual(len(at_root), len(in_data))
        for root_record, data_record in zip(at_root, in_data):
            data_file = data_record.pop("ReferencedFileID", None)
            root_file = root_record.pop("ReferencedFileID", None)
            self.assertEqual(root_file, None if data_file is None else ["DATA"] + data_file)
            self.assertEqual(root_record, data_record)
        return in_data

    def test_both_dicomdirs_hold_the_same_records_where_attributes_are_made_up(self):
        # The second patient has no Study ID, so both must make the same one up.
        records = self.assert_same_records_the_roots_naming_data(DISC)
        studies = [record for record in records if record["DirectoryRecordType"] == "STUDY"]
        self.assertEqual(len(studies), 2)
        self.assertTrue(all(study["StudyID"] for study in studies), studies)

    def test_a_study_whose_every_image_lacks_a_study_id_gets_one_made_up(self):
        # dcmmkdir without made-up attributes then indexes nothing and fails outright.
        export = os.path.join(WORK, "export without a study id")
        os.makedirs(export)
        shutil.copy(next(path for path in INPUT.kept if "other patient" in path), export)
        disc = os.path.join(WORK, "disc without a study id")
        code, _out, err = run_disc(export, disc, PROGRAMS)
        self.assertEqual(code, 0, err)
        records = self.assert_same_records_the_roots_naming_data(disc)
        self.assertEqual([bool(record["StudyID"]) for record in records if record["DirectoryRecordType"] == "STUDY"],
                         [True])

    def test_values_an_export_lacks_are_supplied_to_the_index_only_and_named(self):
        export = os.path.join(WORK, "export lacking values")
        series, images = write_synthetic_study(export)
        lacking = {(0x0020, 0x0010), (0x0008, 0x0020), (0x0020, 0x0011)}  # Study ID, Study Date, Series Number
        ct = [path for path in images if "Series 1 " in path]
        for index, path in enumerate(ct):
            dataset = pydicom.dcmread(path)
            for tag in lacking | ({(0x0020, 0x0013)} if index == 0 else set()):
                del dataset[tag]
            dataset.save_as(path, write_like_original=True)
        before = {sha256(path) for path in images}
        disc = os.path.join(WORK, "disc of supplied values")
        code, out, err = run_disc(export, disc, PROGRAMS)
        self.assertEqual(code, 0, err)
        self.assertEqual({sha256(os.path.join(disc, i)) for i in files_below(disc) if i.startswith("DATA/DICOM/")},
                         before)
        records = self.assert_same_records_the_roots_naming_data(disc)
        study = [record for record in records if record["DirectoryRecordType"] == "STUDY"]
        # The other series of the study have its ID and date; the CT series gets a number of its own.
        self.assertEqual([(r["StudyID"], r["StudyDate"]) for r in study],
                         [(read_header(images[-1]).StudyID, read_header(images[-1]).StudyDate)])
        self.assertEqual(sorted(r["SeriesNumber"] for r in records if r["DirectoryRecordType"] == "SERIES"),
                         sorted(str(entry.number) for entry in series))
        made_up = out[out.index("made up for the DICOMDIRs"):out.index("disc size")]
        first = os.path.relpath(ct[0], export)
        self.assertIn("StudyID %s for %s" % (read_header(images[-1]).StudyID, first), made_up)
        self.assertIn("InstanceNumber 1 for %s\n" % first, made_up)
        self.assertRegex(made_up, r"SeriesNumber 1 for .*and %d more" % (len(ct) - 3))
        self.assertNotIn("+I", out)

    def test_both_dicomdirs_hold_the_same_records_where_nothing_is_made_up(self):
        export = os.path.join(WORK, "export with every attribute")
        _series, images = write_synthetic_study(export)
        disc = os.path.join(WORK, "disc of every attribute")
        code, _out, err = run_disc(export, disc, PROGRAMS)
        self.assertEqual(code, 0, err)
        records = self.assert_same_records_the_roots_naming_data(disc)
        self.assertEqual(len([record for record in records if record["DirectoryRecordType"] == "IMAGE"]),
                         len(images))

    def test_the_viewers_dicomdir_is_the_roots_moved_into_data(self):
        assert_moved_index_is_dcmmkdirs(self, DISC)

    def test_an_index_that_does_not_move_cleanly_is_refused(self):
        with open(os.path.join(DISC, "DICOMDIR"), "rb") as handle:
            at_root = handle.read()
        with self.assertRaises(Unwalkable):
            Dicomdir(at_root).relocated("DICOM")  # file IDs outside the folder
        first = at_root.index(b"\x04\x00\x00\x12UL\x04\x00") + 8
        wrong = bytearray(at_root)
        wrong[first:first + 4] = (int.from_bytes(at_root[first:first + 4], "little") + 2).to_bytes(4, "little")
        for damaged in (bytes(wrong), at_root[:len(at_root) // 2]):
            with self.assertRaises(Unwalkable):
                Dicomdir(damaged)

    def test_where_the_index_does_not_move_dcmmkdir_makes_the_viewers(self):
        export = os.path.join(WORK, "export of an index not moved")
        _series, images = write_synthetic_study(export)
        disc = os.path.join(WORK, "disc of an index not moved")
        request = DiscRequest(input_folder=export, output_folder=disc,
                              viewer_folder=os.path.join(SOURCE_DIR, "build", "viewer"),
                              programs=[Program(PROGRAMS["lumidra.exe"], "lumidra.exe", False)])
        with mock.patch.object(Dicomdir, "relocated", side_effect=Unwalkable("not here")):
            result = build_disc(request, silent_progress())
        self.assertEqual(result.catalogue.images, len(images))
        records = self.assert_same_records_the_roots_naming_data(disc)
        self.assertEqual(len([r for r in records if r["DirectoryRecordType"] == "IMAGE"]), len(images))

    def test_values_are_supplied_from_the_disc_where_memory_is_full_and_nothing_is_left_behind(self):
        export = os.path.join(WORK, "export lacking study ids")
        _series, images = write_synthetic_study(export)
        for path in images:
            dataset = pydicom.dcmread(path)
            del dataset.StudyID
            dataset.save_as(path, write_like_original=True)
        memory = tempfile.mkdtemp(dir=WORK)
        writing = index_values._write_supplied
        targets = []

        def full_memory(source, target, values, *where):
            targets.append(target)
            if target.startswith(memory):
                raise OSError(28, "No space left on device")
            writing(source, target, values, *where)

        disc = os.path.join(WORK, "disc supplied from the disc")
        request = DiscRequest(input_folder=export, output_folder=disc,
                              viewer_folder=os.path.join(SOURCE_DIR, "build", "viewer"),
                              programs=[Program(PROGRAMS["lumidra.exe"], "lumidra.exe", False)])
        with mock.patch.object(index_values, "_MEMORY", memory), \
                mock.patch.object(index_values, "_write_supplied", side_effect=full_memory):
            build_disc(request, silent_progress())
        self.assertTrue(targets[0].startswith(memory) and targets[-1].startswith(disc), targets[:1] + targets[-1:])
        self.assertEqual(os.listdir(memory), [])
        self.assertNotIn(".index", os.listdir(disc))
        records = self.assert_same_records_the_roots_naming_data(disc)
        self.assertEqual([bool(r["StudyID"]) for r in records if r["DirectoryRecordType"] == "STUDY"], [True])

    def test_patient_names_in_both_character_sets_are_intact(self):
        for folder in ("", "DATA"):
            dump = subprocess.run(["dcmdump", "-q", "+U8", "+P", "0010,0010",
                                   os.path.join(DISC, folder, "DICOMDIR")],
                                  check=True, stdout=subprocess.PIPE).stdout.decode("utf-8")
            self.assertIn("[%s]" % FIRST_PATIENT, dump)
            self.assertIn("[%s]" % SECOND_PATIENT, dump)

    def test_the_profile_follows_the_transfer_syntaxes(self):
        explicit, jpeg, j2k, rle = ("1.2.840.10008.1.2.1", "1.2.840.10008.1.2.4.70",
                                    "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.5")
        self.assertEqual(profile_for({explicit})[1], "STD-GEN-CD")
        self.assertEqual(profile_for({explicit, jpeg})[1], "STD-GEN-DVD-JPEG")
        self.assertEqual(profile_for({j2k})[1], "STD-GEN-DVD-J2K")
        self.assertEqual(profile_for({jpeg, j2k})[1], "STD-GEN-MIME")
        self.assertEqual(profile_for({explicit, rle})[1], "STD-GEN-MIME")
        self.assertIn("DICOMDIR profile: STD-GEN-MIME", OUT)


PYDICOM_FILES = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")


class TransferSyntaxes(unittest.TestCase):
    """Implicit VR, big endian and deflated images, as other toolkits write them."""

    @classmethod
    def setUpClass(cls):
        cls.export = os.path.join(WORK, "other syntaxes")
        os.makedirs(cls.export)
        for name in ("image_dfl.dcm", "MR_small_implicit.dcm"):
            shutil.copy(os.path.join(PYDICOM_FILES, name), cls.export)
        big = pydicom.dcmread(os.path.join(PYDICOM_FILES, "MR_small_bigendian.dcm"))
        big.SOPInstanceUID = big.file_meta.MediaStorageSOPInstanceUID = "2.25.4242"  # not a duplicate
        big.save_as(os.path.join(cls.export, "MR_small_bigendian.dcm"))

    def images_by_source(self, disc):
        by_uid = {read_header(os.path.join(disc, i)).SOPInstanceUID: os.path.join(disc, i)
                  for i in files_below(disc) if i.startswith("DATA/DICOM/")}
        return {name: by_uid[read_header(os.path.join(self.export, name)).SOPInstanceUID]
                for name in os.listdir(self.export)}

    def test_are_made_explicit_little_endian_with_every_value_and_pixel_unchanged(self):
        disc = os.path.join(WORK, "converted disc")
        code, out, err = run_disc(self.export, disc, PROGRAMS)
        self.assertEqual(code, 0, err)
        self.assertIn("DICOMDIR profile: STD-GEN-CD,", out)
        for syntax in ("Implicit VR Little Endian", "Explicit VR Big Endian", "Deflated Explicit VR Little Endian"):
            self.assertIn("converted to Explicit VR Little Endian: 1 image(s) in " + syntax, out)
        for name, on_disc in self.images_by_source(disc).items():
            original, converted = pydicom.dcmread(os.path.join(self.export, name)), pydicom.dcmread(on_disc)
            self.assertEqual(converted.file_meta.TransferSyntaxUID, "1.2.840.10008.1.2.1", name)
            pixels = original.PixelData
            if not original.is_little_endian:  # the same values, their bytes in little endian order
                self.assertEqual(original.BitsAllocated, 16)
                pixels = b"".join(pixels[i + 1:i + 2] + pixels[i:i + 1] for i in range(0, len(pixels), 2))
            self.assertEqual(converted.PixelData, pixels, name)
            for element in original:
                if element.tag != 0x7FE00010:
                    self.assertEqual(converted[element.tag].value, element.value, (name, element))
        # dicom3tools, independent of dcmtk, finds nothing wrong with the index or across the files.
        verified = subprocess.run(["dciodvfy", os.path.join(disc, "DICOMDIR")], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT).stdout.decode("utf-8", "replace")
        self.assertIn("BasicDirectory", verified)
        self.assertNotIn("Error", verified)
        images = [os.path.join(disc, i) for i in files_below(disc) if i.startswith("DATA/DICOM/")]
        consistent = subprocess.run(["dcentvfy"] + images, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertNotIn(b"Error", consistent.stdout)

    def test_are_carried_byte_for_byte_when_kept_as_exported(self):
        disc = os.path.join(WORK, "as exported disc")
        code, out, err = run_disc(self.export, disc, PROGRAMS, "--keep-as-exported")
        self.assertEqual(code, 0, err)
        self.assertIn("DICOMDIR profile: STD-GEN-MIME,", out)
        self.assertNotIn("converted", out)
        for name, on_disc in self.images_by_source(disc).items():
            self.assertEqual(sha256(on_disc), sha256(os.path.join(self.export, name)), name)


class HeaderForTheIndex(unittest.TestCase):
    def test_values_are_spliced_into_the_header_every_other_element_kept(self):
        values = {"StudyID": "ST000001", "InstanceNumber": "7", "StudyDate": "20200101"}
        for name in ("CT_small.dcm", "JPEG2000.dcm", "test-SR.dcm", "SC_rgb_rle_2frame.dcm"):
            header = header_with(os.path.join(PYDICOM_FILES, name), values)
            patched = pydicom.dcmread(io.BytesIO(header))
            original = pydicom.dcmread(os.path.join(PYDICOM_FILES, name), stop_before_pixels=True)
            self.assertEqual({keyword: str(patched.data_element(keyword).value) for keyword in values}, values, name)
            self.assertNotIn("PixelData", patched)
            kept = [element.tag for element in original if element.keyword not in values]
            self.assertEqual([(tag, patched[tag].value) for tag in kept], [(tag, original[tag].value) for tag in kept])
        # What it does not walk, pydicom writes.
        self.assertIsNone(header_with(os.path.join(PYDICOM_FILES, "MR_small_implicit.dcm"), values))

    def test_where_the_reader_noted_the_places_the_header_is_the_same_without_a_walk(self):
        # Every subset of the values the index may need, present or absent, in every file the
        # reader walks: the header written from the reader's notes is the walked splice's.
        keywords = ["StudyDate", "StudyTime", "Modality", "PatientID", "StudyID", "SeriesNumber", "InstanceNumber"]
        folders = [PYDICOM_FILES, os.path.join(os.path.dirname(PYDICOM_FILES), "charset_files")]
        noted = 0
        for path in sorted(os.path.join(folder, name) for folder in folders for name in os.listdir(folder)):
            image = recognise.recognise(path)
            if not isinstance(image, recognise.Image) or not image.places:
                continue
            noted += 1
            for count in range(1, len(keywords) + 1):
                for chosen in (keywords[:count], keywords[-count:], keywords[count - 1::2]):
                    values = {keyword: str(count * 7 + index) for index, keyword in enumerate(chosen)}
                    self.assertEqual(header_at_places(path, image.places, values), header_with(path, values),
                                     (path, values))
        self.assertGreater(noted, 40)


class ReadingByBytes(unittest.TestCase):
    def test_gives_what_pydicom_reads_on_every_file_of_its_test_sets(self):
        folders = [PYDICOM_FILES, os.path.join(os.path.dirname(PYDICOM_FILES), "charset_files")]
        paths = sorted(os.path.join(folder, name) for folder in folders for name in os.listdir(folder)
                       if name.endswith(".dcm"))
        self.assertGreater(len(paths), 80)
        walked = [repr(recognise.recognise(path)) for path in paths]
        with mock.patch.object(recognise, "_walked", lambda _handle, _size: None), \
                mock.patch.object(recognise, "_plain", lambda _dataset, _keyword: None):
            read = [repr(recognise.recognise(path)) for path in paths]
        for path, by_bytes, by_pydicom in zip(paths, walked, read):
            self.assertEqual(by_bytes, by_pydicom, path)


class FirstArchives(unittest.TestCase):
    def test_data_zip_holds_the_dicomdir_and_exactly_the_first_series(self):
        with zipfile.ZipFile(os.path.join(DISC, "data.zip")) as archive:
            names = sorted(archive.namelist())
            with archive.open("DATA/DICOMDIR") as member:
                zipped_dicomdir = member.read()
        with open(os.path.join(DISC, "DATA", "DICOMDIR"), "rb") as handle:
            self.assertEqual(zipped_dicomdir, handle.read())
        first_series = sorted(i for i in disc_images() if i.startswith("DATA/DICOM/PA000001/ST000001/SE000001/"))
        self.assertEqual(names, sorted(["DATA/DICOMDIR"] + first_series))
        # The second patient (by name) comes first: one CR image.
        self.assertEqual(len(first_series), 1)
        self.assertEqual(str(read_header(os.path.join(DISC, first_series[0])).PatientName), SECOND_PATIENT)

    def test_viewer_archive_unpacks_with_its_config_naming_port_8000(self):
        out = os.path.join(WORK, "viewer-out")
        subprocess.run([os.path.join(DISC, "BIN", "7za"), "x", "-y", "-o" + out,
                        os.path.join(DISC, "DATA", "7z", "viewer.7z")],
                       check=True, stdout=subprocess.DEVNULL)
        self.assertTrue(os.path.isfile(os.path.join(out, "index.html")))
        with open(os.path.join(out, "data", "config", "config-lumidra.json"), encoding="utf-8") as config:
            self.assertIn("localhost:8000", config.read())


class ViewerPackedOnce(unittest.TestCase):
    def test_a_viewer_is_packed_once_and_a_changed_one_afresh(self):
        viewer = os.path.join(WORK, "viewer to pack")
        shutil.copytree(os.path.join(SOURCE_DIR, "build", "viewer"), viewer)
        packs = os.path.join(WORK, "packed viewers")
        # 7-Zip as found on PATH, noting each run.
        wrapper = os.path.join(WORK, "noting-7zip")
        os.makedirs(wrapper)
        runs = os.path.join(WORK, "7-zip runs")
        with open(os.path.join(wrapper, "7zz"), "w") as out:
            out.write('#!/bin/sh\necho "$@" >> "%s"\nexec "%s" "$@"\n' % (runs, shutil.which("7zz") or
                                                                          shutil.which("7za") or shutil.which("7z")))
        os.chmod(os.path.join(wrapper, "7zz"), 0o755)
        env = dict(os.environ, PATH=wrapper + os.pathsep + os.environ["PATH"])

        def disc_viewer(name):
            """The viewer as the disc's archive unpacks, {name: bytes}, and the 7-Zip runs so far."""
            disc = os.path.join(WORK, name)
            result = subprocess.run(disc_command(INPUT.folder, disc, PROGRAMS, "--viewer", viewer, "--viewer-cache",
                                                 packs), env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
            out = os.path.join(WORK, name + " unpacked")
            subprocess.run([os.path.join(disc, "BIN", "7za"), "x", "-y", "-o" + out,
                            os.path.join(disc, "DATA", "7z", "viewer.7z")],
                           check=True, stdout=subprocess.DEVNULL)
            with open(runs) as noted:
                packed = len(noted.readlines())
            return contents(out), packed

        def viewer_files():
            return contents(viewer)

        first, packed = disc_viewer("first of a viewer")
        self.assertEqual((first, packed), (viewer_files(), 1))
        second, packed = disc_viewer("second of a viewer")
        self.assertEqual((second, packed), (viewer_files(), 1))
        # One byte changed, the file's size and time as they were: packed afresh, not taken from before.
        page = os.path.join(viewer, "index.html")
        before = os.stat(page)
        with open(page, "r+b") as handle:
            first_byte = handle.read(1)
            handle.seek(0)
            handle.write(b"<" if first_byte != b"<" else b" ")
        os.utime(page, ns=(before.st_atime_ns, before.st_mtime_ns))
        changed, packed = disc_viewer("disc of a changed viewer")
        self.assertEqual((changed, packed), (viewer_files(), 2))
        self.assertNotEqual(changed["index.html"], first["index.html"])


class RootFiles(unittest.TestCase):
    def test_programs_are_carried_whole_and_the_linux_ones_runnable(self):
        carried = {"lumidra.exe": PROGRAMS["lumidra.exe"], "BIN/7za.exe": PROGRAMS["7za.exe"],
                   "lumidra": launcher_under_test(), "BIN/7za": linux_extractor()}
        for on_disc, source in carried.items():
            self.assertEqual(sha256(os.path.join(DISC, on_disc)), sha256(source), on_disc)
        for runnable in ("lumidra", "BIN/7za"):
            self.assertTrue(os.access(os.path.join(DISC, runnable), os.X_OK), runnable)
        listing = subprocess.run([os.path.join(DISC, "BIN", "7za"), "l", os.path.join(DISC, "data.zip")],
                                 stdout=subprocess.PIPE)
        self.assertEqual(listing.returncode, 0)

    def test_autorun_names_the_windows_launcher_and_the_readme_the_contents(self):
        with open(os.path.join(DISC, "AUTORUN.INF"), "rb") as handle:
            autorun = handle.read().decode("ascii")
        self.assertTrue(autorun.startswith("[autorun]\r\n"))
        self.assertIn("\r\nopen=lumidra.exe\r\n", autorun)
        with open(os.path.join(DISC, "README.TXT"), encoding="utf-8") as handle:
            readme = handle.read()
        self.assertIn("lumidra.exe", readme)
        self.assertIn("open INDEX.HTM", readme)
        self.assertIn("%d images" % INPUT.image_count, readme)
        # The synthetic study names no institution; the options do.
        self.assertIn("Made by:  Nemocnice Na Homolce\n", readme)
        self.assertIn("Contact:  Radiologie, +420 257 271 111\n", readme)
        self.assertRegex(readme, r"Made on %s by Lumidra disc builder [0-9.]+\." % datetime.date.today().isoformat())
        self.assertIn("Linux (x86-64):", readme)
        self.assertIn("not a replacement for the originals", readme)
        label = OUT.split("(label and file-set ID ")[1].split(")")[0]
        self.assertIn("DICOMDIR at its\nroot (file-set %s, profile STD-GEN-MIME)" % label, readme)

    def test_index_htm_finds_every_script_and_style_it_names_on_the_disc(self):
        with open(os.path.join(DISC, "INDEX.HTM"), encoding="utf-8") as handle:
            page = handle.read()
        self.assertIn('<base href="VIEWER/">', page)
        named = re.findall(r'<(?:script src|link rel="stylesheet" href)="([^"]+)"', page)
        self.assertIn("js/decode-worker-embedded.js", named)
        for name in named:
            self.assertTrue(os.path.isfile(os.path.join(DISC, "VIEWER", *name.split("/"))), name)
        # The libraries it loads on demand, once on the disc, where the launcher serves them too.
        libraries = re.search(r'<meta name="lumidra-libraries" content="([^"]+)">', page).group(1)
        self.assertEqual(os.path.normpath(os.path.join(DISC, "VIEWER", libraries)), os.path.join(DISC, "DATA", "LIB"))
        self.assertTrue(os.path.isfile(os.path.join(DISC, "DATA", "LIB", "cornerstone.js")))

    def test_extras_land_in_dw_unchanged_under_iso_9660_names(self):
        self.assertEqual(files_below(os.path.join(DISC, "DATA", "DW")), ["REPORTS/CT_REPOR.PDF"])
        self.assertEqual(sha256(os.path.join(DISC, "DATA", "DW", "REPORTS", "CT_REPOR.PDF")),
                         sha256(os.path.join(EXTRAS, "reports", "CT report.pdf")))
        self.assertIn("extras: reports/CT report.pdf is DATA/DW/REPORTS/CT_REPOR.PDF on the disc", OUT)

    def test_nothing_else_is_on_the_disc(self):
        top = sorted(os.listdir(DISC))
        self.assertEqual(top, ["AUTORUN.INF", "BIN", "DATA", "DICOMDIR", "INDEX.HTM", "README.TXT", "VIEWER",
                               "data.zip", "lumidra", "lumidra.exe"])
        self.assertEqual(sorted(os.listdir(os.path.join(DISC, "DATA"))), ["7z", "DICOM", "DICOMDIR", "DW", "LIB"])


if __name__ == "__main__":
    unittest.main()


class CopyAcrossFileSystems(unittest.TestCase):
    # The builder runs as it does where the input lies on another file system than the output,
    # where the kernel refuses to copy between the two (EXDEV), and falls back to reading and
    # writing.
    REFUSING_KERNEL_COPY = "\n".join([
        "import atexit, errno, os, runpy, sys",
        "refused = []",
        "def refuse(*arguments, **_options):",
        "    refused.append(arguments)",
        "    raise OSError(errno.EXDEV, 'Invalid cross-device link')",
        "os.copy_file_range = refuse",
        "atexit.register(lambda: sys.stderr.write('kernel copies refused: %d\\n' % len(refused)))",
        "sys.argv = sys.argv[1:]",
        "runpy.run_path(sys.argv[0], run_name='__main__')"])

    def test_gives_the_same_images(self):
        output = os.path.join(WORK, "disc copied by reading and writing")
        command = disc_command(INPUT.folder, output, PROGRAMS, "--extras", EXTRAS)
        result = subprocess.run([command[0], "-c", self.REFUSING_KERNEL_COPY] + command[1:],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8"))
        refused = re.search(rb"kernel copies refused: (\d+)", result.stderr)
        self.assertEqual(int(refused.group(1)), len(INPUT.kept) + 1)  # the image dcmmkdir refuses too
        self.assertEqual(files_below(output), files_below(DISC))
        for name in disc_images():
            self.assertEqual(sha256(os.path.join(output, name)), sha256(os.path.join(DISC, name)), name)
