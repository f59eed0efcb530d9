"""Puts every image in its place on the disc, its bytes exactly those of the input file.

A bare data set (no preamble, no meta header) cannot be named in a DICOMDIR as it is; it gets the
128-byte preamble, "DICM" and a meta header in front, and the input's bytes follow unchanged.
"""

import os
import shutil
from collections import deque
from concurrent.futures import ThreadPoolExecutor

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


class Incoming:
    """Copies each image, as soon as it is recognised, into a staging folder on the disc, on a
    thread of its own: the copy (the kernel's work) runs while the next headers are read. Once
    the catalogue has given every image its place, place_images moves them there by renaming."""

    FOLDER = os.path.join("DATA", "DICOM", ".incoming")
    _PENDING = 64  # copies queued at most, so that memory stays flat however many files there are

    def __init__(self, root):
        self.folder = os.path.join(root, self.FOLDER)
        os.makedirs(self.folder)
        self.pool = ThreadPoolExecutor(max_workers=1)
        self.pending = deque()
        self.count = 0

    def add(self, image):
        self.count += 1
        image.staged = os.path.join(self.folder, "%08d" % self.count)
        self.pending.append(self.pool.submit(_copy, image, image.staged))
        while len(self.pending) > self._PENDING:
            self.pending.popleft().result()

    def finish(self):
        """Waits for every copy; raises the first copy's error."""
        try:
            while self.pending:
                self.pending.popleft().result()
        finally:
            self.pool.shutdown(wait=True, cancel_futures=True)

    def __enter__(self):
        return self

    def __exit__(self, kind, _value, _traceback):
        if kind is not None:
            for future in self.pending:
                future.cancel()
            self.pool.shutdown(wait=True, cancel_futures=True)
        return False


def _copy(image, target):
    if image.part10:
        shutil.copyfile(image.path, target)
    else:
        _copy_bare(image, target)


def place_images(catalogue, root, incoming):
    made = set()
    for series in catalogue.series:
        folder = os.path.join(root, *series.folder.split("/"))
        if folder not in made:
            os.makedirs(folder, exist_ok=True)
            made.add(folder)
        for image, name in series.images:
            os.rename(image.staged, os.path.join(root, *name.split("/")))
    os.rmdir(incoming.folder)


def remove_images(root, names):
    """Takes images off the disc again, and the folders they leave empty."""
    for name in names:
        path = os.path.join(root, *name.split("/"))
        os.unlink(path)
        folder = os.path.dirname(path)
        while folder != root and not os.listdir(folder):
            os.rmdir(folder)
            folder = os.path.dirname(folder)
