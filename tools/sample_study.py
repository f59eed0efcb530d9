"""A synthetic but plausible study: a CT volume, a few MR slices and a CR image.

Pixel data is drawn from simple phantoms (ellipses filled row by row), so the
whole study takes well under a second or two in plain Python. Everything is
deterministic: the same disc comes out on every build.
"""

import array
import math
import os
import random
import sys
import uuid

from study_files import write_part10

CT_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.2"
MR_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.4"
CR_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.1"

CHARSET_TERM = "ISO_IR 192"

PATIENT_NAME = "Nováková^Jana"
PATIENT_ID = "LUM0001"
STUDY_DATE = "20240315"
STUDY_TIME = "101500"

_UID_NAMESPACE = uuid.UUID("5b0c0b4e-3d0a-4f37-9a59-6a3f2f6d0a11")


def make_uid(*parts):
    """A 2.25 UID, stable for the same parts."""
    name = "/".join(str(p) for p in parts)
    return "2.25.%d" % uuid.uuid5(_UID_NAMESPACE, name).int


class Series:
    def __init__(self, number, modality, description, sop_class, images):
        self.number = number
        self.modality = modality
        self.description = description
        self.sop_class = sop_class
        self.images = images  # list of (element list) per instance
        self.uid = make_uid("series", number)

    @property
    def folder(self):
        return "SE%06d" % self.number


def _fill_ellipse(rows, cx, cy, ax, ay, value, size):
    """Sets value inside the ellipse; coordinates in [-1, 1] units of the image."""
    if ax <= 0 or ay <= 0:
        return
    for r in range(size):
        y = (r + 0.5) / size * 2 - 1
        t = (y - cy) / ay
        if abs(t) >= 1:
            continue
        half = ax * math.sqrt(1 - t * t)
        c0 = max(0, int(math.ceil(((cx - half) + 1) / 2 * size - 0.5)))
        c1 = min(size - 1, int(math.floor(((cx + half) + 1) / 2 * size - 0.5)))
        if c1 >= c0:
            rows[r][c0:c1 + 1] = [value] * (c1 - c0 + 1)


def _pixel_bytes(values, typecode):
    data = array.array(typecode, values)
    if sys.byteorder != "little":
        data.byteswap()
    return data.tobytes()


def _fill_rect(rows, x0, y0, x1, y1, value, size):
    c0, c1 = max(0, int((x0 + 1) / 2 * size)), min(size, int((x1 + 1) / 2 * size))
    for r in range(max(0, int((y0 + 1) / 2 * size)), min(size, int((y1 + 1) / 2 * size))):
        rows[r][c0:c1] = [value] * (c1 - c0)


def ct_slice_hu(index, count, size, noise):
    """Hounsfield units of one axial slice of a chest; lungs and heart grow and shrink along z."""
    z = (index + 0.5) / count * 2 - 1
    rows = [[-1000] * size for _ in range(size)]
    body = 0.92 + 0.08 * math.cos(z * math.pi / 2)
    _fill_ellipse(rows, 0, 0.02, 0.86 * body, 0.62 * body, 40, size)
    _fill_ellipse(rows, 0, 0.02, 0.8 * body, 0.56 * body, -90, size)
    _fill_ellipse(rows, 0, 0.02, 0.76 * body, 0.52 * body, 45, size)
    lung = math.sqrt(max(0.0, 1 - ((z + 0.1) / 0.8) ** 2))
    _fill_ellipse(rows, -0.36, -0.04, 0.28 * lung, 0.4 * lung, -840, size)
    _fill_ellipse(rows, 0.36, -0.04, 0.28 * lung, 0.4 * lung, -840, size)
    heart = math.sqrt(max(0.0, 1 - ((z - 0.2) / 0.45) ** 2))
    _fill_ellipse(rows, 0.1, -0.02, 0.24 * heart, 0.2 * heart, 190, size)
    _fill_ellipse(rows, -0.04, 0.3, 0.07, 0.07, 170, size)
    _fill_ellipse(rows, 0, 0.44, 0.11, 0.1, 900, size)
    _fill_ellipse(rows, 0, 0.44, 0.06, 0.055, 230, size)
    _fill_ellipse(rows, 0, -0.53 * body, 0.1, 0.03, 700, size)
    # The table under the patient is the same on every slice.
    _fill_rect(rows, -0.85, 0.74, 0.85, 0.78, 300, size)
    offset = (index * 7919) % len(noise)
    flat = []
    for r, row in enumerate(rows):
        start = (offset + r * size) % (len(noise) - size)
        flat.extend(v + n if v > -900 else v for v, n in zip(row, noise[start:start + size]))
    return flat


def mr_slice(index, count, size):
    """Signal intensities of a head-like phantom, no window given in the file."""
    z = (index + 0.5) / count * 2 - 1
    rows = [[0] * size for _ in range(size)]
    head = math.sqrt(max(0.0, 1 - (z / 1.3) ** 2))
    _fill_ellipse(rows, 0, 0, 0.74 * head, 0.9 * head, 380, size)
    _fill_ellipse(rows, 0, 0, 0.68 * head, 0.84 * head, 900, size)
    _fill_ellipse(rows, 0, 0.02, 0.6 * head, 0.76 * head, 1350, size)
    ventricle = 0.6 - abs(z)
    _fill_ellipse(rows, -0.12, -0.05, 0.07, 0.28 * ventricle, 1900, size)
    _fill_ellipse(rows, 0.12, -0.05, 0.07, 0.28 * ventricle, 1900, size)
    flat = []
    for row in rows:
        flat.extend(row)
    return flat


def cr_image(width, height):
    """A chest radiograph look-alike, 8 bits, MONOCHROME1: high values (air) show dark."""
    square = [[240] * width for _ in range(width)]
    _fill_ellipse(square, 0, 0.05, 0.85, 0.85, 110, width)
    _fill_ellipse(square, -0.38, -0.05, 0.3, 0.55, 190, width)
    _fill_ellipse(square, 0.38, -0.05, 0.3, 0.55, 190, width)
    _fill_ellipse(square, 0.12, 0.15, 0.25, 0.25, 80, width)
    _fill_ellipse(square, 0, 0.05, 0.06, 0.85, 40, width)
    # Drawn on a square grid and cropped to the height.
    top = (width - height) // 2
    rows = square[top:top + height]
    flat = []
    for r, row in enumerate(rows):
        flat.extend(max(0, min(255, v + ((r * 31 + c * 17) % 9) - 4)) for c, v in enumerate(row))
    return flat


def _common(series, instance, sop_uid, study_uid, frame_uid, description):
    return [
        ((0x0008, 0x0005), "CS", CHARSET_TERM),
        ((0x0008, 0x0008), "CS", ["ORIGINAL", "PRIMARY", "AXIAL"]),
        ((0x0008, 0x0016), "UI", series.sop_class),
        ((0x0008, 0x0018), "UI", sop_uid),
        ((0x0008, 0x0020), "DA", STUDY_DATE),
        ((0x0008, 0x0021), "DA", STUDY_DATE),
        ((0x0008, 0x0030), "TM", STUDY_TIME),
        ((0x0008, 0x0031), "TM", "%06d" % (int(STUDY_TIME) + series.number * 100)),
        ((0x0008, 0x0050), "SH", "ACC20240315"),
        ((0x0008, 0x0060), "CS", series.modality),
        ((0x0008, 0x0070), "LO", "Lumidra Sample Generator"),
        ((0x0008, 0x0090), "PN", "Dvořák^Petr^^MUDr."),
        ((0x0008, 0x1030), "LO", description),
        ((0x0008, 0x103E), "LO", series.description),
        ((0x0010, 0x0010), "PN", PATIENT_NAME),
        ((0x0010, 0x0020), "LO", PATIENT_ID),
        ((0x0010, 0x0030), "DA", "19670412"),
        ((0x0010, 0x0040), "CS", "F"),
        ((0x0020, 0x000D), "UI", study_uid),
        ((0x0020, 0x000E), "UI", series.uid),
        ((0x0020, 0x0010), "SH", "1"),
        ((0x0020, 0x0011), "IS", series.number),
        ((0x0020, 0x0013), "IS", instance),
        ((0x0020, 0x0052), "UI", frame_uid),
        ((0x0020, 0x1040), "LO", ""),
    ]


def _grayscale(rows, cols, bits_allocated, bits_stored, signed, photometric, pixels):
    return [
        ((0x0028, 0x0002), "US", 1),
        ((0x0028, 0x0004), "CS", photometric),
        ((0x0028, 0x0010), "US", rows),
        ((0x0028, 0x0011), "US", cols),
        ((0x0028, 0x0100), "US", bits_allocated),
        ((0x0028, 0x0101), "US", bits_stored),
        ((0x0028, 0x0102), "US", bits_stored - 1),
        ((0x0028, 0x0103), "US", 1 if signed else 0),
        ((0x7FE0, 0x0010), "OW" if bits_allocated > 8 else "OB", pixels),
    ]


def build_study(ct_slices=48, ct_size=128, mr_slices=6, mr_size=160):
    """The study as a list of Series, first series first."""
    study_uid = make_uid("study")
    frame_uid = make_uid("frame")
    description = "CT CHEST + MR HEAD + CR (SAMPLE)"
    rng = random.Random(20240315)
    noise = [int(rng.gauss(0, 12)) for _ in range(ct_size * ct_size + ct_size)]

    ct = Series(1, "CT", "Chest 2.5 mm", CT_IMAGE_STORAGE, [])
    spacing = 2.5
    for i in range(ct_slices):
        sop = make_uid("ct", i)
        hu = ct_slice_hu(i, ct_slices, ct_size, noise)
        stored = [max(0, min(4095, v + 1024)) for v in hu]
        z = -60.0 + i * spacing
        elements = _common(ct, i + 1, sop, study_uid, frame_uid, description) + [
            ((0x0018, 0x0050), "DS", spacing),
            ((0x0018, 0x0060), "DS", 120),
            ((0x0020, 0x0032), "DS", [-160.0, -160.0, z]),
            ((0x0020, 0x0037), "DS", [1, 0, 0, 0, 1, 0]),
            ((0x0020, 0x1041), "DS", z),
            ((0x0028, 0x0030), "DS", [2.5, 2.5]),
            ((0x0028, 0x1050), "DS", 40),
            ((0x0028, 0x1051), "DS", 400),
            ((0x0028, 0x1052), "DS", -1024),
            ((0x0028, 0x1053), "DS", 1),
            ((0x0028, 0x1054), "LO", "HU"),
        ] + _grayscale(ct_size, ct_size, 16, 12, False, "MONOCHROME2",
                       _pixel_bytes(stored, "H"))
        ct.images.append(elements)

    mr = Series(2, "MR", "T2 axial head", MR_IMAGE_STORAGE, [])
    for i in range(mr_slices):
        sop = make_uid("mr", i)
        z = -20.0 + i * 5.0
        elements = _common(mr, i + 1, sop, study_uid, frame_uid, description) + [
            ((0x0018, 0x0020), "CS", "SE"),
            ((0x0018, 0x0021), "CS", "NONE"),
            ((0x0018, 0x0022), "CS", ""),
            ((0x0018, 0x0023), "CS", "2D"),
            ((0x0018, 0x0050), "DS", 5),
            ((0x0018, 0x0080), "DS", 4000),
            ((0x0018, 0x0081), "DS", 90),
            ((0x0018, 0x0091), "IS", 16),
            ((0x0020, 0x0032), "DS", [-120.0, -120.0, z]),
            ((0x0020, 0x0037), "DS", [1, 0, 0, 0, 1, 0]),
            ((0x0028, 0x0030), "DS", [1.5, 1.5]),
        ] + _grayscale(mr_size, mr_size, 16, 16, True, "MONOCHROME2",
                       _pixel_bytes(mr_slice(i, mr_slices, mr_size), "h"))
        mr.images.append(elements)

    cr = Series(3, "CR", "Chest PA", CR_IMAGE_STORAGE, [])
    cr_w, cr_h = 256, 208
    elements = _common(cr, 1, make_uid("cr", 0), study_uid, frame_uid, description)
    elements = [e for e in elements if e[0] not in ((0x0008, 0x0008), (0x0020, 0x0052))] + [
        ((0x0008, 0x0008), "CS", ["ORIGINAL", "PRIMARY"]),
        ((0x0018, 0x0015), "CS", "CHEST"),
        ((0x0018, 0x5101), "CS", "PA"),
        ((0x0020, 0x0020), "CS", ["L", "F"]),
        ((0x0028, 0x1050), "DS", 128),
        ((0x0028, 0x1051), "DS", 256),
    ] + _grayscale(cr_h, cr_w, 8, 8, False, "MONOCHROME1", bytes(cr_image(cr_w, cr_h)))
    elements = [e for e in elements if e[0] != (0x0020, 0x1040)]
    cr.images.append(elements)
    return [ct, mr, cr]


def write_study(series_list, dicom_dir):
    """Writes DICOM/STxxxxxx/SExxxxxx/IMxxxxxx files; returns the written paths per series."""
    written = []
    study_folder = os.path.join(dicom_dir, "ST000001")
    for series in series_list:
        folder = os.path.join(study_folder, series.folder)
        os.makedirs(folder, exist_ok=True)
        paths = []
        for number, elements in enumerate(series.images, start=1):
            path = os.path.join(folder, "IM%06d" % number)
            write_part10(path, elements)
            paths.append(path)
        written.append(paths)
    return written
