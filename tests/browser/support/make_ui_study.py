#!/usr/bin/python3
"""Writes a small study whose pixels the viewer's display can be checked against.

    /usr/bin/python3 make_ui_study.py FOLDER
    /usr/bin/python3 make_ui_study.py FOLDER --video   (after the DICOMDIR is made)

FOLDER/DICOM/ST000001/SE00000n/IM00000m, explicit VR little endian:
  series 1  pattern: 8-bit, 32 x 24, value (7x + 29y) mod 256, window 128/256 (shown as is)
  series 2  spacing: 16-bit, 80 x 50, pixel spacing 0.8 mm between rows, 0.5 mm between columns
  series 3  MONOCHROME1: the pattern of series 1
  series 4  cine: 8-bit, 32 x 32; image 1 has 6 frames of value 30 + 40k and a frame time of
            40 ms, image 2 has 3 frames and no frame time
  series 5  video: first an uncompressed stand-in, which dcmmkdir indexes; --video then puts an
            MPEG-2 encoded file in its place, an encoding the viewer does not decode
  series 6  colour: 8-bit RGB, 32 x 24, red 8x, green 10y, blue 200
"""

import os
import sys

import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.encaps import encapsulate
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

SECONDARY_CAPTURE = "1.2.840.10008.5.1.4.1.1.7"
MULTIFRAME_BYTE_SC = "1.2.840.10008.5.1.4.1.1.7.2"
MPEG2_MAIN_PROFILE = "1.2.840.10008.1.2.4.100"
STUDY_UID = generate_uid()


def pattern(columns, rows):
    x = np.arange(columns)[None, :]
    y = np.arange(rows)[:, None]
    return ((7 * x + 29 * y) % 256).astype(np.uint8)


def base(series_number, description, instance, sop_class):
    ds = Dataset()
    ds.file_meta = FileMetaDataset()
    ds.file_meta.MediaStorageSOPClassUID = sop_class
    ds.file_meta.MediaStorageSOPInstanceUID = generate_uid()
    ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = ds.file_meta.MediaStorageSOPInstanceUID
    ds.PatientName = "Testová^Eva"
    ds.PatientID = "UI0001"
    ds.PatientBirthDate = "19800102"
    ds.PatientSex = "F"
    ds.SpecificCharacterSet = "ISO_IR 192"
    ds.StudyInstanceUID = STUDY_UID
    ds.StudyDate = "20250101"
    ds.StudyTime = "120000"
    ds.StudyID = "1"
    ds.AccessionNumber = "UI1"
    ds.StudyDescription = "UI CHECKS"
    ds.SeriesInstanceUID = generate_uid(entropy_srcs=[STUDY_UID, str(series_number)])
    ds.SeriesNumber = series_number
    ds.SeriesDescription = description
    ds.Modality = "OT"
    ds.ConversionType = "WSD"
    ds.InstanceNumber = instance
    return ds


def grayscale(ds, pixels, photometric="MONOCHROME2", window=(128, 256)):
    frames = pixels.shape[0] if pixels.ndim == 3 else 1
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = photometric
    ds.Rows = pixels.shape[-2]
    ds.Columns = pixels.shape[-1]
    ds.BitsAllocated = pixels.dtype.itemsize * 8
    ds.BitsStored = ds.BitsAllocated
    ds.HighBit = ds.BitsAllocated - 1
    ds.PixelRepresentation = 0
    if frames > 1:
        ds.NumberOfFrames = frames
    if window:
        ds.WindowCenter = window[0]
        ds.WindowWidth = window[1]
    ds.PixelData = pixels.tobytes()
    return ds


def colour(ds, columns, rows):
    x = np.arange(columns)[None, :].repeat(rows, 0)
    y = np.arange(rows)[:, None].repeat(columns, 1)
    rgb = np.stack([8 * x, 10 * y, np.full((rows, columns), 200)], axis=-1).astype(np.uint8)
    ds.SamplesPerPixel = 3
    ds.PhotometricInterpretation = "RGB"
    ds.PlanarConfiguration = 0
    ds.Rows = rows
    ds.Columns = columns
    ds.BitsAllocated = 8
    ds.BitsStored = 8
    ds.HighBit = 7
    ds.PixelRepresentation = 0
    ds.PixelData = rgb.tobytes()
    return ds


def write(folder, series, image, ds):
    path = os.path.join(folder, "DICOM", "ST000001", "SE%06d" % series, "IM%06d" % image)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    ds.save_as(path, write_like_original=False)


def video(folder):
    ds = grayscale(base(5, "Video", 1, SECONDARY_CAPTURE), pattern(32, 24))
    ds.file_meta.TransferSyntaxUID = MPEG2_MAIN_PROFILE
    ds.PixelData = encapsulate([bytes(range(256)) * 4])
    ds["PixelData"].is_undefined_length = True
    ds["PixelData"].VR = "OB"
    ds.is_implicit_VR = False
    ds.is_little_endian = True
    path = os.path.join(folder, "DICOM", "ST000001", "SE000005", "IM000001")
    ds.save_as(path, write_like_original=False)


def main(folder):
    write(folder, 1, 1, grayscale(base(1, "Pattern", 1, SECONDARY_CAPTURE), pattern(32, 24)))

    rows, columns = 50, 80
    ramp = (np.arange(columns)[None, :] * 40 + np.arange(rows)[:, None] * 20).astype(np.uint16)
    spaced = grayscale(base(2, "Spacing", 1, SECONDARY_CAPTURE), ramp, window=(2000, 4000))
    spaced.PixelSpacing = [0.8, 0.5]
    write(folder, 2, 1, spaced)

    write(folder, 3, 1, grayscale(base(3, "Inverted pattern", 1, SECONDARY_CAPTURE), pattern(32, 24),
                                  photometric="MONOCHROME1"))

    frames = np.stack([np.full((32, 32), 30 + 40 * k, np.uint8) for k in range(6)])
    cine = grayscale(base(4, "Cine", 1, MULTIFRAME_BYTE_SC), frames)
    cine.FrameTime = 40
    cine.FrameIncrementPointer = 0x00181063
    write(folder, 4, 1, cine)
    plain = np.stack([np.full((32, 32), 50 + 60 * k, np.uint8) for k in range(3)])
    write(folder, 4, 2, grayscale(base(4, "Cine", 2, MULTIFRAME_BYTE_SC), plain))
    write(folder, 5, 1, grayscale(base(5, "Video", 1, SECONDARY_CAPTURE), pattern(32, 24)))
    write(folder, 6, 1, colour(base(6, "Colour", 1, SECONDARY_CAPTURE), 32, 24))


if __name__ == "__main__":
    if sys.argv[2:] == ["--video"]:
        video(sys.argv[1])
    else:
        main(sys.argv[1])
