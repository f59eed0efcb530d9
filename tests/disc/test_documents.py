"""A CT with its report as a PDF (made by dcmtk's pdf2dcm), the same report as a structured report
and a key-image selection (made with pydicom): all on the disc, indexed by their own DICOMDIR
records, and counted apart from the images."""

import os
import shutil
import subprocess
import tempfile
import unittest
import warnings
import zipfile

import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence

from disc_support import (assert_moved_index_is_dcmmkdirs, files_below, read_header, run_disc, sha256,
                          stand_in_programs, write_synthetic_study)
import sample_study

PDF = b"%PDF-1.4\n1 0 obj <</Type /Catalog /Pages 2 0 R>> endobj\n2 0 obj <</Type /Pages /Kids [] /Count 0>> endobj\n" \
      b"trailer <</Root 1 0 R>>\n%%EOF\n"
KEY_OBJECT_SELECTION = "1.2.840.10008.5.1.4.1.1.88.59"
BASIC_TEXT_SR = "1.2.840.10008.5.1.4.1.1.88.11"


def setUpModule():
    global WORK, PROGRAMS
    WORK = tempfile.mkdtemp(prefix="lumidra-disc-documents-")
    PROGRAMS = stand_in_programs(os.path.join(WORK, "programs"))


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def code(value, meaning, scheme="DCM"):
    item = Dataset()
    item.CodeValue, item.CodingSchemeDesignator, item.CodeMeaning = value, scheme, meaning
    return Sequence([item])


def document_of(ct, sop_class, modality, series_number, content):
    """A document of ct's patient and study, in a series of its own."""
    document = Dataset()
    for keyword in ("PatientName", "PatientID", "PatientBirthDate", "PatientSex", "StudyInstanceUID", "StudyDate",
                    "StudyTime", "StudyID", "AccessionNumber", "ReferringPhysicianName", "SpecificCharacterSet"):
        setattr(document, keyword, getattr(ct, keyword))
    document.SOPClassUID = sop_class
    document.SOPInstanceUID = sample_study.make_uid("document", modality)
    document.SeriesInstanceUID = sample_study.make_uid("document series", modality)
    document.Modality, document.SeriesNumber, document.InstanceNumber = modality, series_number, 1
    document.ContentDate, document.ContentTime = ct.StudyDate, "120000"
    document.ValueType, document.ContinuityOfContent = "CONTAINER", "SEPARATE"
    document.ContentSequence = Sequence(content)
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID = sop_class, document.SOPInstanceUID
    meta.TransferSyntaxUID = pydicom.uid.ExplicitVRLittleEndian
    document.file_meta = meta
    document.is_little_endian, document.is_implicit_VR = True, False
    return document


def write_documents(folder, ct_paths):
    ct = pydicom.dcmread(ct_paths[0])
    os.makedirs(folder)
    pdf = os.path.join(folder, "report.pdf")
    with open(pdf, "wb") as out:
        out.write(PDF)
    subprocess.run(["pdf2dcm", "+t", "CT chest report", "+st", ct_paths[0], pdf, os.path.join(folder, "REPORT_PDF")],
                   check=True)
    os.unlink(pdf)

    text = Dataset()
    text.RelationshipType, text.ValueType, text.TextValue = "CONTAINS", "TEXT", "No focal lesion."
    text.ConceptNameCodeSequence = code("121071", "Finding")
    report = document_of(ct, BASIC_TEXT_SR, "SR", 90, [text])
    report.ConceptNameCodeSequence = code("18748-4", "Diagnostic Imaging Report", "LN")
    report.CompletionFlag, report.VerificationFlag = "COMPLETE", "UNVERIFIED"
    report.save_as(os.path.join(folder, "REPORT_SR"), write_like_original=False)

    references = []
    for path in ct_paths[:2]:
        image = read_header(path)
        reference = Dataset()
        reference.ReferencedSOPClassUID, reference.ReferencedSOPInstanceUID = image.SOPClassUID, image.SOPInstanceUID
        item = Dataset()
        item.RelationshipType, item.ValueType = "CONTAINS", "IMAGE"
        item.ReferencedSOPSequence = Sequence([reference])
        references.append(item)
    selection = document_of(ct, KEY_OBJECT_SELECTION, "KO", 91, references)
    selection.ConceptNameCodeSequence = code("113000", "Of Interest")
    selection.save_as(os.path.join(folder, "KEY_IMAGES"), write_like_original=False)
    return {name: os.path.join(folder, name) for name in ("REPORT_PDF", "REPORT_SR", "KEY_IMAGES")}


def dicomdir_records(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # pydicom's own DicomDir class
        return pydicom.dcmread(path).DirectoryRecordSequence


class ReportsAndKeyImages(unittest.TestCase):
    def test_go_on_the_disc_in_their_own_records_after_the_images(self):
        export = os.path.join(WORK, "export")
        _series, images = write_synthetic_study(export)
        ct_paths = sorted(path for path in images if "Series 1 " in path)
        documents = write_documents(os.path.join(export, "reports"), ct_paths)
        disc = os.path.join(WORK, "disc")
        code_, out, err = run_disc(export, disc, PROGRAMS)
        self.assertEqual(code_, 0, err)
        self.assertIn("images: %d" % len(images), out)
        self.assertIn("reports: 2 (encapsulated documents 1, structured reports 1)   key-object selections: 1", out)
        self.assertIn("left off the disc: none", out)

        by_uid = {read_header(os.path.join(disc, name)).SOPInstanceUID: name
                  for name in files_below(disc) if name.startswith("DATA/DICOM/")}
        kinds = {"REPORT_PDF": "ENCAP DOC", "REPORT_SR": "SR DOCUMENT", "KEY_IMAGES": "KEY OBJECT DOC"}
        for folder in ("", "DATA"):
            records = dicomdir_records(os.path.join(disc, folder, "DICOMDIR"))
            indexed = {record.ReferencedSOPInstanceUIDInFile: (record.DirectoryRecordType,
                                                               "/".join(record.ReferencedFileID))
                       for record in records if "ReferencedFileID" in record}
            for name, path in documents.items():
                uid = read_header(path).SOPInstanceUID
                on_disc = by_uid[uid]
                self.assertEqual(indexed[uid], (kinds[name], on_disc[len(folder) + 1:] if folder else on_disc))
                self.assertEqual(sha256(os.path.join(disc, on_disc)), sha256(path))
        # One study: the documents' series follow its image series.
        series_of = {name: by_uid[read_header(path).SOPInstanceUID].rsplit("/", 1)[0]
                     for name, path in documents.items()}
        image_series = {by_uid[read_header(path).SOPInstanceUID].rsplit("/", 1)[0] for path in images}
        self.assertGreater(min(series_of.values()), max(image_series))
        self.assertEqual(len({folder.rsplit("/", 1)[0] for folder in image_series | set(series_of.values())}), 1)
        with zipfile.ZipFile(os.path.join(disc, "data.zip")) as archive:
            zipped = [name for name in archive.namelist() if name.startswith("DATA/DICOM/")]
        self.assertTrue(zipped)
        self.assertTrue(all(read_header(os.path.join(disc, name)).Modality != "SR" for name in zipped))
        with open(os.path.join(disc, "README.TXT"), encoding="utf-8") as readme:
            self.assertIn("2 report(s), 1 key-object selection(s)", readme.read())
        verified = subprocess.run(["dciodvfy", os.path.join(disc, "DICOMDIR")], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT).stdout.decode("utf-8", "replace")
        self.assertNotIn("Error", verified)
        # Records of documents carry sequences of their own, which the move into DATA keeps.
        assert_moved_index_is_dcmmkdirs(self, disc)


if __name__ == "__main__":
    unittest.main()
