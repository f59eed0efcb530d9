#!/usr/bin/python3
"""Writes a small CT study for comparing, reformatting and measuring, and prints as JSON what
pydicom reads back from it.

    /usr/bin/python3 make_ct_study.py FOLDER

FOLDER/DICOM/ST000001/SE00000n/IM00000m, explicit VR little endian, one frame of reference:
  series 1  axial CT, 48 x 40 pixels of 0.7 x 0.6 mm, 20 slices 2.5 mm apart (head first, z
            falling), stored value v = 1000 + 3x + 7y + 11k with intercept -1024 (HU = v - 1024)
  series 2  a different pattern (v = 900 + 5x + 2y + 13k), 20 slices 1.25 mm apart covering the
            upper half of series 1, in reverse file order
  series 3  three localisers at different orientations: not a volume
"""

import json
import os
import sys

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

CT_IMAGE = "1.2.840.10008.5.1.4.1.1.2"
STUDY_UID = generate_uid()
FRAME_OF_REFERENCE = generate_uid()
ROWS, COLUMNS = 40, 48
SPACING = [0.7, 0.6]


def base(series_number, description, instance):
    ds = Dataset()
    ds.file_meta = FileMetaDataset()
    ds.file_meta.MediaStorageSOPClassUID = CT_IMAGE
    ds.file_meta.MediaStorageSOPInstanceUID = generate_uid()
    ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.SOPClassUID = CT_IMAGE
    ds.SOPInstanceUID = ds.file_meta.MediaStorageSOPInstanceUID
    ds.PatientName = "Novak^Jan"
    ds.PatientID = "CT0001"
    ds.PatientBirthDate = "19700203"
    ds.PatientSex = "M"
    ds.StudyInstanceUID = STUDY_UID
    ds.StudyDate = "20250301"
    ds.StudyTime = "100000"
    ds.StudyID = "1"
    ds.AccessionNumber = "CT1"
    ds.StudyDescription = "CT CHEST"
    ds.SeriesInstanceUID = generate_uid(entropy_srcs=[STUDY_UID, str(series_number)])
    ds.SeriesNumber = series_number
    ds.SeriesDescription = description
    ds.Modality = "CT"
    ds.FrameOfReferenceUID = FRAME_OF_REFERENCE
    ds.InstanceNumber = instance
    return ds


def pixels(ds, values, orientation, position, thickness):
    ds.ImageOrientationPatient = orientation
    ds.ImagePositionPatient = position
    ds.SliceThickness = thickness
    ds.SliceLocation = position[2]
    ds.PixelSpacing = SPACING
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.Rows, ds.Columns = values.shape
    ds.BitsAllocated = 16
    ds.BitsStored = 12
    ds.HighBit = 11
    ds.PixelRepresentation = 0
    ds.RescaleIntercept = -1024
    ds.RescaleSlope = 1
    ds.WindowCenter = 40
    ds.WindowWidth = 400
    ds.PixelData = values.astype(np.uint16).tobytes()
    return ds


def write(folder, series, image, ds):
    path = os.path.join(folder, "DICOM", "ST000001", "SE%06d" % series, "IM%06d" % image)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.save_as(path, write_like_original=False)
    return path


def axial(folder, series, description, count, gap, thickness, first_z, pattern, reverse):
    x = np.arange(COLUMNS)[None, :]
    y = np.arange(ROWS)[:, None]
    paths = []
    for k in range(count):
        ds = base(series, description, count - k if reverse else k + 1)
        z = first_z - k * gap
        values = pattern(x, y, k)
        pixels(ds, values, [1, 0, 0, 0, 1, 0], [-14.0, -12.0, z], thickness)
        paths.append(write(folder, series, count - k if reverse else k + 1, ds))
    return paths


def main(folder):
    first = axial(folder, 1, "Chest 2.5 mm", 20, 2.5, 2.5, 100.0,
                  lambda x, y, k: 1000 + 3 * x + 7 * y + 11 * k + 0 * x * y, False)
    second = axial(folder, 2, "Chest 1.25 mm", 20, 1.25, 1.25, 100.0,
                   lambda x, y, k: 900 + 5 * x + 2 * y + 13 * k + 0 * x * y, True)
    scout = np.full((ROWS, COLUMNS), 1100)
    orientations = [[1, 0, 0, 0, 1, 0], [1, 0, 0, 0, 0, -1], [0, 1, 0, 0, 0, -1]]
    for i, orientation in enumerate(orientations):
        write(folder, 3, i + 1, pixels(base(3, "Localisers", i + 1), scout, orientation, [0.0, 0.0, 0.0], 2.0))

    def volume(paths):
        slices = [pydicom.dcmread(p) for p in paths]
        slices.sort(key=lambda ds: -float(ds.ImagePositionPatient[2]))
        hu = [(ds.pixel_array.astype(np.float64) * float(ds.RescaleSlope) + float(ds.RescaleIntercept)).tolist()
              for ds in slices]
        return {"hu": hu, "z": [float(ds.ImagePositionPatient[2]) for ds in slices]}

    json.dump({"series1": volume(first), "series2": volume(second), "spacing": SPACING,
               "origin": [-14.0, -12.0]}, sys.stdout)


if __name__ == "__main__":
    main(sys.argv[1])
