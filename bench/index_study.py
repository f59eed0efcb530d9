"""A study of many small images for the INDEX.HTM benchmark: COUNT CT images of 128 x 128, 16-bit,
in series of 100. What the page does before its first image grows with the number of files on
the disc (the DICOMDIR's records, the folder's listing), not with their size.

Usage: /usr/bin/python3 bench/index_study.py FOLDER [COUNT]
"""
import os
import sys

import numpy as np
from pydicom.dataset import FileDataset, FileMetaDataset
from pydicom.uid import CTImageStorage, ExplicitVRLittleEndian, generate_uid

SIZE = 128
PER_SERIES = 100


def main(folder, count):
    os.makedirs(folder, exist_ok=True)
    y, x = np.mgrid[0:SIZE, 0:SIZE]
    study, frame = generate_uid(), generate_uid()
    series = None
    for i in range(count):
        if i % PER_SERIES == 0:
            series = generate_uid()
        meta = FileMetaDataset()
        meta.MediaStorageSOPClassUID = CTImageStorage
        meta.MediaStorageSOPInstanceUID = generate_uid()
        meta.TransferSyntaxUID = ExplicitVRLittleEndian
        path = os.path.join(folder, "CT%05d.dcm" % (i + 1))
        ds = FileDataset(path, {}, file_meta=meta, preamble=b"\0" * 128)
        ds.SOPClassUID, ds.SOPInstanceUID = CTImageStorage, meta.MediaStorageSOPInstanceUID
        ds.StudyInstanceUID, ds.SeriesInstanceUID, ds.FrameOfReferenceUID = study, series, frame
        ds.PatientName, ds.PatientID = "Bench^Index", "BENCH5000"
        ds.StudyDate, ds.StudyID, ds.AccessionNumber = "20240101", "1", "BENCH"
        ds.Modality, ds.SeriesNumber, ds.InstanceNumber = "CT", i // PER_SERIES + 1, i % PER_SERIES + 1
        ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
        ds.Rows = ds.Columns = SIZE
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 1
        ds.RescaleIntercept, ds.RescaleSlope = 0, 1
        ds.WindowCenter, ds.WindowWidth = 40, 400
        hu = np.where((x - SIZE / 2) ** 2 + (y - SIZE / 2) ** 2 < (SIZE / 3) ** 2, 40 + (i % 97), -1000)
        ds.PixelData = hu.astype("<i2").tobytes()
        ds.is_little_endian, ds.is_implicit_VR = True, False
        ds.save_as(path, write_like_original=False)


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 5000)
