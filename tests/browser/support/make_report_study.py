#!/usr/bin/python3
"""Writes a CT series with its reports: a PDF made by dcmtk's pdf2dcm, a Comprehensive SR and a
Key Object Selection made with pydicom, then prints, as JSON, what pydicom reads back from them.

    /usr/bin/python3 make_report_study.py FOLDER

FOLDER/DICOM/CT00000n (4 images, 32 x 32), FOLDER/DICOM/PDF00001, SR000001, KO000001.
"""

import json
import os
import subprocess
import sys
import zlib

from pydicom import dcmread
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

CT_IMAGE = "1.2.840.10008.5.1.4.1.1.2"
COMPREHENSIVE_SR = "1.2.840.10008.5.1.4.1.1.88.33"
KEY_OBJECT_SELECTION = "1.2.840.10008.5.1.4.1.1.88.59"
STUDY_UID = generate_uid()
PDF_TEXT = ["CT abdomen: liver lesion 12.5 mm", "Benign haemangioma, no follow-up needed"]


def base(sop_class, series_number, modality, instance):
    ds = Dataset()
    ds.file_meta = FileMetaDataset()
    ds.file_meta.MediaStorageSOPClassUID = sop_class
    ds.file_meta.MediaStorageSOPInstanceUID = generate_uid()
    ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = ds.file_meta.MediaStorageSOPInstanceUID
    ds.SpecificCharacterSet = "ISO_IR 192"
    ds.PatientName = "Nováková^Jana"
    ds.PatientID = "REP001"
    ds.PatientBirthDate = "19700203"
    ds.PatientSex = "F"
    ds.StudyInstanceUID = STUDY_UID
    ds.StudyDate = "20240305"
    ds.StudyTime = "101500"
    ds.StudyID = "1"
    ds.AccessionNumber = "REP1"
    ds.ReferringPhysicianName = ""
    ds.StudyDescription = "CT abdomen"
    ds.SeriesInstanceUID = generate_uid(entropy_srcs=[STUDY_UID, str(series_number)])
    ds.SeriesNumber = series_number
    ds.Modality = modality
    ds.InstanceNumber = instance
    return ds


def ct_image(number):
    ds = base(CT_IMAGE, 1, "CT", number)
    ds.SeriesDescription = "Abdomen"
    ds.ImageType = ["ORIGINAL", "PRIMARY", "AXIAL"]
    ds.Rows = ds.Columns = 32
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.BitsAllocated = ds.BitsStored = 16
    ds.HighBit = 15
    ds.PixelRepresentation = 0
    ds.PixelSpacing = [1, 1]
    ds.ImagePositionPatient = [0, 0, number * 5]
    ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    ds.PixelData = bytes((x * number) % 256 for x in range(32 * 32 * 2))
    return ds


def code(value, scheme, meaning):
    c = Dataset()
    c.CodeValue = value
    c.CodingSchemeDesignator = scheme
    c.CodeMeaning = meaning
    return Sequence([c])


def item(relationship, value_type, name, **values):
    i = Dataset()
    i.RelationshipType = relationship
    i.ValueType = value_type
    i.ConceptNameCodeSequence = code(*name)
    for key, value in values.items():
        setattr(i, key, value)
    return i


def image_item(relationship, name, target):
    ref = Dataset()
    ref.ReferencedSOPClassUID = target.SOPClassUID
    ref.ReferencedSOPInstanceUID = target.SOPInstanceUID
    return item(relationship, "IMAGE", name, ReferencedSOPSequence=Sequence([ref]))


def evidence(images):
    series = Dataset()
    series.SeriesInstanceUID = images[0].SeriesInstanceUID
    series.ReferencedSOPSequence = Sequence()
    for image in images:
        ref = Dataset()
        ref.ReferencedSOPClassUID = image.SOPClassUID
        ref.ReferencedSOPInstanceUID = image.SOPInstanceUID
        series.ReferencedSOPSequence.append(ref)
    study = Dataset()
    study.StudyInstanceUID = STUDY_UID
    study.ReferencedSeriesSequence = Sequence([series])
    return Sequence([study])


def document(sop_class, series_number, modality, title, children, images):
    ds = base(sop_class, series_number, modality, 1)
    ds.ContentDate = "20240306"
    ds.ContentTime = "083000"
    ds.ValueType = "CONTAINER"
    ds.ConceptNameCodeSequence = code(*title)
    ds.ContinuityOfContent = "SEPARATE"
    ds.ContentSequence = Sequence(children)
    ds.CurrentRequestedProcedureEvidenceSequence = evidence(images)
    return ds


def structured_report(ct):
    measurement = item("CONTAINS", "NUM", ("81827009", "SCT", "Diameter"))
    value = Dataset()
    value.NumericValue = "12.5"
    value.MeasurementUnitsCodeSequence = code("mm", "UCUM", "millimeter")
    measurement.MeasuredValueSequence = Sequence([value])
    measurement.ContentSequence = Sequence([image_item("INFERRED FROM", ("121112", "DCM", "Source of Measurement"), ct[2])])
    findings = item("CONTAINS", "CONTAINER", ("121070", "DCM", "Findings"), ContinuityOfContent="SEPARATE",
                    ContentSequence=Sequence([
                        item("CONTAINS", "TEXT", ("121071", "DCM", "Finding"),
                             TextValue="Ložisko v pravém laloku jater, ostře ohraničené."),
                        item("CONTAINS", "CODE", ("363698007", "SCT", "Finding Site"),
                             ConceptCodeSequence=code("10200004", "SCT", "Liver")),
                        measurement,
                        item("CONTAINS", "DATE", ("111536", "DCM", "Date of prior study"), Date="20230115"),
                    ]))
    impression = item("CONTAINS", "CONTAINER", ("121072", "DCM", "Impressions"), ContinuityOfContent="SEPARATE",
                      ContentSequence=Sequence([
                          item("CONTAINS", "TEXT", ("121073", "DCM", "Impression"), TextValue="Benigní hemangiom."),
                      ]))
    ds = document(COMPREHENSIVE_SR, 3, "SR", ("18748-4", "LN", "Diagnostic Imaging Report"), [findings, impression], [ct[2]])
    ds.SeriesDescription = "Report"
    ds.CompletionFlag = "COMPLETE"
    ds.VerificationFlag = "VERIFIED"
    verifier = Dataset()
    verifier.VerifyingObserverName = "Dvořák^Petr^^MUDr."
    verifier.VerifyingOrganization = "Nemocnice Lumidra"
    verifier.VerificationDateTime = "20240306090000"
    verifier.VerifyingObserverIdentificationCodeSequence = Sequence()
    ds.VerifyingObserverSequence = Sequence([verifier])
    ds.ReferencedPerformedProcedureStepSequence = Sequence()
    ds.PerformedProcedureCodeSequence = Sequence()
    return ds


def key_objects(ct):
    children = [image_item("CONTAINS", ("113000", "DCM", "Of Interest"), ct[i]) for i in (1, 3)]
    children.insert(0, item("CONTAINS", "TEXT", ("113012", "DCM", "Key Object Description"), TextValue="Lesion"))
    ds = document(KEY_OBJECT_SELECTION, 4, "KO", ("113000", "DCM", "Of Interest"), children, [ct[1], ct[3]])
    ds.SeriesDescription = "Key images"
    ds.ReferencedPerformedProcedureStepSequence = Sequence()
    return ds


def pdf_bytes(lines, title, author):
    """A one-page PDF whose lines are real text (Helvetica), so that they can be selected."""
    stream = "BT /F1 14 Tf 72 760 Td " + " ".join("(%s) Tj 0 -22 Td" % line for line in lines) + " ET"
    stream = zlib.compress(stream.encode("ascii"))
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(stream) + stream + b"\nendstream",
        ("<< /Title (%s) /Author (%s) >>" % (title, author)).encode("ascii"),
    ]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R /Info 6 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def read_items(items):
    """The content tree as pydicom reads it: [name, value, children]."""
    out = []
    for i in items:
        name = i.ConceptNameCodeSequence[0].CodeMeaning if "ConceptNameCodeSequence" in i else ""
        kind = i.ValueType
        if kind == "TEXT":
            value = i.TextValue
        elif kind == "CODE":
            value = i.ConceptCodeSequence[0].CodeMeaning
        elif kind == "NUM":
            m = i.MeasuredValueSequence[0]
            value = "%s %s" % (m.NumericValue.original_string, m.MeasurementUnitsCodeSequence[0].CodeMeaning)
        elif kind == "DATE":
            value = "%s-%s-%s" % (i.Date[:4], i.Date[4:6], i.Date[6:8])
        elif kind == "IMAGE":
            value = i.ReferencedSOPSequence[0].ReferencedSOPInstanceUID
        else:
            value = ""
        out.append({"type": kind, "name": name, "value": value, "children": read_items(i.get("ContentSequence", []))})
    return out


def main():
    folder = os.path.join(sys.argv[1], "DICOM")
    os.makedirs(folder, exist_ok=True)
    ct = [ct_image(n) for n in range(1, 5)]
    for n, image in enumerate(ct, 1):
        image.save_as(os.path.join(folder, "CT%06d" % n), write_like_original=False)
    pdf = os.path.join(sys.argv[1], "report.pdf")
    with open(pdf, "wb") as f:
        f.write(pdf_bytes(PDF_TEXT, "CT abdomen report", "MUDr. Petr Dvorak"))
    pdf_file = os.path.join(folder, "PDF00001")
    subprocess.run(["pdf2dcm", "+t", "CT abdomen report", "+st", os.path.join(folder, "CT000001"),
                    "-k", "SeriesNumber=2", pdf, pdf_file], check=True)
    os.remove(pdf)
    structured_report(ct).save_as(os.path.join(folder, "SR000001"), write_like_original=False)
    key_objects(ct).save_as(os.path.join(folder, "KO000001"), write_like_original=False)

    # What pydicom reads back from the files as written.
    encapsulated = dcmread(pdf_file)
    report = dcmread(os.path.join(folder, "SR000001"))
    selection = dcmread(os.path.join(folder, "KO000001"))
    print(json.dumps({
        "ct": [dcmread(os.path.join(folder, "CT%06d" % n)).SOPInstanceUID for n in range(1, 5)],
        "pdf": {"title": encapsulated.DocumentTitle, "date": encapsulated.get("ContentDate") or encapsulated.InstanceCreationDate,
                "length": encapsulated.EncapsulatedDocumentLength,
                "text": PDF_TEXT,
                "pages": encapsulated.EncapsulatedDocument.count(b"/Type /Page ")},
        "sr": {"title": report.ConceptNameCodeSequence[0].CodeMeaning, "completion": report.CompletionFlag,
               "verification": report.VerificationFlag,
               "verifier": str(report.VerifyingObserverSequence[0].VerifyingObserverName),
               "content": read_items(report.ContentSequence)},
        "ko": {"title": selection.ConceptNameCodeSequence[0].CodeMeaning,
               "images": [i["value"] for i in read_items(selection.ContentSequence) if i["type"] == "IMAGE"]},
    }, ensure_ascii=False))


if __name__ == "__main__":
    main()
