"""Puts every image in its place on the disc, its bytes exactly those of the input file, or
converted to Explicit VR Little Endian where it came in a syntax no disc profile takes.

A bare data set (no preamble, no meta header) cannot be named in a DICOMDIR as it is; it gets the
128-byte preamble, "DICM" and a meta header in front, and the input's bytes follow unchanged.
"""

import errno
import os
import shutil
import threading
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


def _copy_bare(image, source, target):
    with open(target, "wb") as out:
        out.write(b"\0" * 128 + b"DICM")
        writer = DicomFileLike(out)
        writer.is_little_endian = True
        writer.is_implicit_VR = False
        write_file_meta_info(writer, _meta_header(image), enforce_standard=True)
        shutil.copyfileobj(source, out, _CHUNK)


class Staging:
    """Where an image whose bytes on the disc are not the input file's (converted, or a bare data
    set given a meta header) is written as soon as it is read, by the process that read it, so
    that dcmmkdir can index the disc's version; the others are copied into their places later,
    beside dcmmkdir (Copies). It travels to the reading processes, so it holds plain values only."""

    FOLDER = os.path.join("DATA", "DICOM", ".incoming")
    _SHARDS = 2  # two readers at a time then seldom wait for the same folder's lock

    def __init__(self, root, converting=True):
        self.converting = converting
        self.folder = os.path.join(root, self.FOLDER)
        for shard in range(self._SHARDS):
            os.makedirs(os.path.join(self.folder, str(shard)))

    def stage(self, image, source, number):
        """Writes the disc's version of the image read from the open file source, where it is
        not the file as it is, as staged copy number."""
        if self.converting and needs_conversion(image):
            image.staged = self._place(number)
            image.exported_syntax, image.transfer_syntax = image.transfer_syntax, EXPLICIT_LITTLE
            _converted(image, source, image.staged)
        elif not image.part10:
            image.staged = self._place(number)
            _copy(image, source, image.staged)

    def _place(self, number):
        return os.path.join(self.folder, str(number % self._SHARDS), "%08d" % number)

    @staticmethod
    def drop(image):
        """Takes the staged copy of an image that is not going on the disc (a second copy) away."""
        if image.staged:
            os.unlink(image.staged)
            image.staged = ""


class Copies:
    """Copies every image not staged into its place on the disc, on threads of their own, while
    dcmmkdir indexes the same bytes through links to the input: the copy is the kernel's work
    and the index one program's, so the two share the cores. A file that changed since its header
    was read stops the build: the index and the catalogue would not describe it."""

    _THREADS = 2  # one alone falls behind dcmmkdir

    def __init__(self, root, catalogue):
        self.jobs = [(image, os.path.join(root, *name.split("/")))
                     for series in catalogue.series for image, name in series.images if not image.staged]
        self.stopping = threading.Event()
        self.pool = ThreadPoolExecutor(max_workers=self._THREADS)
        self.started = []

    def start(self):
        if not self.started:
            self.started = [self.pool.submit(self._copy_share, self.jobs[share::self._THREADS])
                            for share in range(self._THREADS)]

    def wait(self):
        """Waits for every copy; raises the first copy's error."""
        try:
            for share in self.started:
                share.result()
        except BaseException:
            self.stop()
            raise

    def stop(self):
        """Stops the copies after the files being copied, and waits for them."""
        self.stopping.set()
        self.pool.shutdown(wait=True, cancel_futures=True)

    def _copy_share(self, jobs):
        for image, target in jobs:
            if self.stopping.is_set():
                return
            _copy_unchanged(image, target)

    def __enter__(self):
        return self

    def __exit__(self, kind, _value, _traceback):
        self.stop()
        return False


def _copy_unchanged(image, target):
    with open(image.path, "rb") as source:
        now = os.fstat(source.fileno())
        if now.st_size != image.size or now.st_mtime_ns != image.modified:
            raise DiscError("%s changed while the disc was being made; nothing was written" % image.path)
        _copy_file(source, target)


def _copy(image, source, target):
    source.seek(0)
    if image.part10:
        _copy_file(source, target)
    else:
        _copy_bare(image, source, target)


def _converted(image, source, target):
    try:
        convert(image, target)
    except DiscError as error:
        # dcmtk could not read what pydicom did: the image goes on the disc as it came.
        image.conversion_failed = str(error).splitlines()[-1]
        image.transfer_syntax, image.exported_syntax = image.exported_syntax, ""
        _copy(image, source, target)
        return
    image.size = os.path.getsize(target)


def _copy_file(reading, target):
    """As cp does it: copy_file_range, which shares the blocks where the file system can (XFS,
    Btrfs) and copies inside the kernel elsewhere; shutil's copy where it is not to be had.
    reading is the open source at its start."""
    with open(target, "wb") as writing:
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
    # From offset 0 given explicitly: a buffered reader's seek may move only its buffer.
    try:
        size, done = os.fstat(reading.fileno()).st_size, 0
        while done < size:
            copied = os.copy_file_range(reading.fileno(), writing.fileno(), size - done, done)
            if copied == 0:
                break
            done += copied
    except OSError as error:
        if error.errno in _NO_COPY_FILE_RANGE:
            return False
        raise
    return True


def place_images(catalogue, root, staging):
    """Makes the disc's folders and moves the staged images into their places."""
    for series in catalogue.series:
        os.makedirs(os.path.join(root, *series.folder.split("/")), exist_ok=True)
        for image, name in series.images:
            if image.staged:
                os.rename(image.staged, os.path.join(root, *name.split("/")))
    for shard in os.listdir(staging.folder):
        os.rmdir(os.path.join(staging.folder, shard))
    os.rmdir(staging.folder)


def remove_images(root, names):
    """Takes images off the disc again, and the folders they leave empty."""
    for name in names:
        path = os.path.join(root, *name.split("/"))
        os.unlink(path)
        folder = os.path.dirname(path)
        while folder != root and not os.listdir(folder):
            os.rmdir(folder)
            folder = os.path.dirname(folder)
