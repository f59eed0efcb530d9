"""Puts every image in its place on the disc, its bytes exactly those of the input file.

A bare data set (no preamble, no meta header) cannot be named in a DICOMDIR as it is; it gets the
128-byte preamble, "DICM" and a meta header in front, and the input's bytes follow unchanged.
"""

import os
import shutil

from pydicom.dataset import FileMetaDataset
from pydicom.filebase import DicomFileLike
from pydicom.filewriter import write_file_meta_info

IMPLEMENTATION_CLASS_UID = "2.25.1870591822497312004519376290186021364"
IMPLEMENTATION_VERSION = "LUMIDRA_DISC"
_CHUNK = 1 << 20


def _meta_header(image):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = image.sop_class
    meta.MediaStorageSOPInstanceUID = image.sop_instance
    meta.TransferSyntaxUID = image.transfer_syntax
    meta.ImplementationClassUID = IMPLEMENTATION_CLASS_UID
    meta.ImplementationVersionName = IMPLEMENTATION_VERSION
    return meta


def _copy_bare(image, target):
    with open(image.path, "rb") as source, open(target, "wb") as out:
        out.write(b"\0" * 128 + b"DICM")
        writer = DicomFileLike(out)
        writer.is_little_endian = True
        writer.is_implicit_VR = False
        write_file_meta_info(writer, _meta_header(image), enforce_standard=True)
        shutil.copyfileobj(source, out, _CHUNK)


def copy_images(catalogue, root, progress):
    progress.stage("Copying", catalogue.images, catalogue.bytes)
    made = set()
    for series in catalogue.series:
        folder = os.path.join(root, *series.folder.split("/"))
        if folder not in made:
            os.makedirs(folder, exist_ok=True)
            made.add(folder)
        for image, name in series.images:
            target = os.path.join(root, *name.split("/"))
            if image.part10:
                shutil.copyfile(image.path, target)
            else:
                _copy_bare(image, target)
            progress.advance(image.size)
    progress.done()
