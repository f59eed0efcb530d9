"""Puts every image in its place on the disc, its bytes exactly those of the input file, or
converted to Explicit VR Little Endian where it came in a syntax no disc profile takes.

A bare data set (no preamble, no meta header) cannot be named in a DICOMDIR as it is; it gets the
128-byte preamble, "DICM" and a meta header in front, and the input's bytes follow unchanged.
"""

import errno
import os
import shutil
from collections import deque
from concurrent.futures import ThreadPoolExecutor

from pydicom.dataset import FileMetaDataset
from pydicom.filebase import DicomFileLike
from pydicom.filewriter import write_file_meta_info

from . import DiscError
from .conversion import EXPLICIT_LITTLE, convert, needs_conversion

IMPLEMENTATION_CLASS_UID = "2.25.1870591822497312004519376290186021364"
IMPLEMENTATION_VERSION = "LUMIDRA_DISC"
_CHUNK = 1 << 20
# What copy_file_range answers where it cannot copy between these two files.
_NO_COPY_FILE_RANGE = {errno.EXDEV, errno.ENOSYS, errno.EINVAL, errno.EOPNOTSUPP, errno.EBADF}


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
    """Copies each image, as soon as it is recognised, into a staging folder on the disc, on
    threads of their own: the copy (the kernel's work, two files at a time) runs while the next
    headers are read. Once the catalogue has given every image its place, place_images moves
    them there by renaming."""

    FOLDER = os.path.join("DATA", "DICOM", ".incoming")
    _PENDING = 64  # copies queued at most, so that memory stays flat however many files there are
    _COPYING = 2  # copies at a time: one alone falls behind the reading beside it

    def __init__(self, root, converting=True):
        self.converting = converting
        self.folder = os.path.join(root, self.FOLDER)
        for copying in range(self._COPYING):
            os.makedirs(os.path.join(self.folder, str(copying)))
        self.pool = ThreadPoolExecutor(max_workers=self._COPYING)
        self.pending = deque()
        self.count = 0

    def add(self, image):
        self.count += 1
        # Two folders: the two copies at a time then seldom wait for the same folder's lock.
        image.staged = os.path.join(self.folder, str(self.count % self._COPYING), "%08d" % self.count)
        if self.converting and needs_conversion(image):
            image.exported_syntax, image.transfer_syntax = image.transfer_syntax, EXPLICIT_LITTLE
            self.pending.append(self.pool.submit(_converted, image, image.staged))
        else:
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
        _copy_file(image.path, target)
    else:
        _copy_bare(image, target)


def _converted(image, target):
    try:
        convert(image, target)
    except DiscError as error:
        # dcmtk could not read what pydicom did: the image goes on the disc as it came.
        image.conversion_failed = str(error).splitlines()[-1]
        image.transfer_syntax, image.exported_syntax = image.exported_syntax, ""
        _copy(image, target)
        return
    image.size = os.path.getsize(target)


def _copy_file(source, target):
    """As cp does it: copy_file_range, which shares the blocks where the file system can (XFS,
    Btrfs) and copies inside the kernel elsewhere; shutil's copy where it is not to be had."""
    with open(source, "rb") as reading, open(target, "wb") as writing:
        if _copied_in_kernel(reading, writing):
            return
        reading.seek(0)
        writing.seek(0)
        writing.truncate()
        shutil.copyfileobj(reading, writing, _CHUNK)


def _copied_in_kernel(reading, writing):
    """True once copy_file_range has copied the whole file, False where it cannot copy it."""
    if not hasattr(os, "copy_file_range"):
        return False
    try:
        left = os.fstat(reading.fileno()).st_size
        while left > 0:
            copied = os.copy_file_range(reading.fileno(), writing.fileno(), left)
            if copied == 0:
                break
            left -= copied
    except OSError as error:
        if error.errno in _NO_COPY_FILE_RANGE:
            return False
        raise
    return True


def place_images(catalogue, root, incoming):
    made = set()
    for series in catalogue.series:
        folder = os.path.join(root, *series.folder.split("/"))
        if folder not in made:
            os.makedirs(folder, exist_ok=True)
            made.add(folder)
        for image, name in series.images:
            os.rename(image.staged, os.path.join(root, *name.split("/")))
    for copying in os.listdir(incoming.folder):
        os.rmdir(os.path.join(incoming.folder, copying))
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
