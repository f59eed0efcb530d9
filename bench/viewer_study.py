"""A CT series for the viewer benchmark: COUNT slices of 512 x 512, 16-bit, uncompressed, with a
body, lungs, spine and noise like a real scan's, so that lossless JPEG compresses it about as much
as it would a patient's images.

Usage: /usr/bin/python3 bench/viewer_study.py FOLDER [COUNT]
       /usr/bin/python3 bench/viewer_study.py --multiframe FILE COUNT
           (COUNT slices in one multi-frame object, for timing dcmtk without a process per image)
"""
import os
import sys

import numpy as np
from pydicom.dataset import FileDataset, FileMetaDataset
from pydicom.uid import CTImageStorage, ExplicitVRLittleEndian, generate_uid

SIZE = 512


def slice_hu(index, count, rng):
    y, x = np.mgrid[0:SIZE, 0:SIZE].astype(np.float32)
    z = index / max(1, count - 1)
    cx, cy = SIZE / 2, SIZE / 2
    hu = np.full((SIZE, SIZE), -1000.0, np.float32)
    body = ((x - cx) / 220) ** 2 + ((y - cy) / (160 + 20 * np.sin(z * np.pi))) ** 2 <= 1
    hu[body] = 40
    for side in (-1, 1):
        lung = ((x - cx - side * 95) / 70) ** 2 + ((y - cy + 10) / (100 * (0.4 + np.sin(z * np.pi)))) ** 2 <= 1
        hu[lung & body] = -850
    spine = ((x - cx) / 28) ** 2 + ((y - cy - 110) / 28) ** 2 <= 1
    hu[spine] = 700
    hu += rng.normal(0, 12, hu.shape).astype(np.float32)
    return np.clip(hu, -1024, 3071)


def multiframe(path, count):
    rng = np.random.default_rng(500)
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7.3"
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = FileDataset(path, {}, file_meta=meta, preamble=b"\0" * 128)
    ds.SOPClassUID, ds.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
    ds.StudyInstanceUID, ds.SeriesInstanceUID = generate_uid(), generate_uid()
    ds.PatientName, ds.PatientID, ds.Modality = "Bench^Viewer", "BENCH500", "OT"
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
    ds.Rows = ds.Columns = SIZE
    ds.NumberOfFrames = count
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 1
    ds.PixelData = np.stack([slice_hu(i, count, rng) for i in range(count)]).astype("<i2").tobytes()
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)


def main(folder, count):
    os.makedirs(folder, exist_ok=True)
    rng = np.random.default_rng(500)
    study, series, frame = generate_uid(), generate_uid(), generate_uid()
    for i in range(count):
        meta = FileMetaDataset()
        meta.MediaStorageSOPClassUID = CTImageStorage
        meta.MediaStorageSOPInstanceUID = generate_uid()
        meta.TransferSyntaxUID = ExplicitVRLittleEndian
        path = os.path.join(folder, "CT%04d.dcm" % (i + 1))
        ds = FileDataset(path, {}, file_meta=meta, preamble=b"\0" * 128)
        ds.SOPClassUID = CTImageStorage
        ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
        ds.StudyInstanceUID, ds.SeriesInstanceUID, ds.FrameOfReferenceUID = study, series, frame
        ds.PatientName, ds.PatientID = "Bench^Viewer", "BENCH500"
        ds.StudyDate, ds.StudyID, ds.AccessionNumber = "20240101", "1", "BENCH"
        ds.Modality, ds.SeriesNumber, ds.InstanceNumber = "CT", 1, i + 1
        ds.ImagePositionPatient = [-250, -250, -i * 1.0]
        ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
        ds.PixelSpacing, ds.SliceThickness = [0.98, 0.98], 1.0
        ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
        ds.Rows = ds.Columns = SIZE
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 1
        ds.RescaleIntercept, ds.RescaleSlope = 0, 1
        ds.WindowCenter, ds.WindowWidth = 40, 400
        ds.PixelData = slice_hu(i, count, rng).astype("<i2").tobytes()
        ds.is_little_endian, ds.is_implicit_VR = True, False
        ds.save_as(path, write_like_original=False)


if __name__ == "__main__":
    if sys.argv[1] == "--multiframe":
        multiframe(sys.argv[2], int(sys.argv[3]))
    else:
        main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 500)
