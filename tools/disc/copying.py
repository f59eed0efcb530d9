"""Puts every image in its place on the disc, its bytes exactly those of the input file.

A bare data set (no preamble, no meta header) cannot be named in a DICOMDIR as it is; it gets the
128-byte preamble, "DICM" and a meta header in front, and the input's bytes follow unchanged.
"""

import os
import shutil
import threading

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


def image_places(catalogue, root):
    """(image, its path on the disc) in disc order, with the series folders made."""
    for series in catalogue.series:
        os.makedirs(os.path.join(root, *series.folder.split("/")), exist_ok=True)
        for image, name in series.images:
            yield image, os.path.join(root, *name.split("/"))


class ImageCopies:
    """Every image copied to its place on the disc.

    A bare data set is copied as soon as it is recognised (add), into a staging folder, because
    its copy (with the meta header) is what gets indexed; place_bare moves it to its place once
    the catalogue has given it one. Part 10 files are copied by start(), in disc order, on a
    thread of their own: the copy (the kernel's work) runs beside dcmmkdir, and the reading
    before it has the cores to itself."""

    STAGING = os.path.join("DATA", "DICOM", ".incoming")
    _POLL_SECONDS = 0.1

    def __init__(self, root):
        self.root = root
        self.staging = os.path.join(root, self.STAGING)
        os.makedirs(self.staging)
        self.count = self.total_bytes = 0
        self.copied_files = self.copied_bytes = 0  # the copying thread's, once it runs
        self.thread = None
        self.error = None
        self.stopping = threading.Event()

    def add(self, image):
        self.count += 1
        self.total_bytes += image.size
        if not image.part10:
            image.staged = os.path.join(self.staging, "%08d" % self.count)
            _copy_bare(image, image.staged)
            self._copied(image)

    def place_bare(self, catalogue):
        for image, place in image_places(catalogue, self.root):
            if not image.part10:
                os.rename(image.staged, place)
        os.rmdir(self.staging)

    def start(self, catalogue):
        waiting = [(image, place) for image, place in image_places(catalogue, self.root) if image.part10]
        self.thread = threading.Thread(target=self._copy, args=(waiting,), name="copying", daemon=True)
        self.thread.start()

    def finish(self, progress):
        """Waits for every copy, shown as the stage "Copying"; raises the first copy's error."""
        progress.stage("Copying", self.count, self.total_bytes)
        shown_files = shown_bytes = 0
        copying = True
        while copying:
            self.thread.join(self._POLL_SECONDS)
            copying = self.thread.is_alive()
            files, count_bytes = self.copied_files, self.copied_bytes
            progress.advance(count_bytes - shown_bytes, files - shown_files)
            shown_files, shown_bytes = files, count_bytes
        if self.error is not None:
            raise self.error
        progress.done()

    def _copy(self, waiting):
        try:
            for image, place in waiting:
                if self.stopping.is_set():
                    return
                shutil.copyfile(image.path, place)
                self._copied(image)
        except BaseException as error:  # handed to finish(), on the main thread
            self.error = error

    def _copied(self, image):
        self.copied_bytes += image.size
        self.copied_files += 1

    def __enter__(self):
        return self

    def __exit__(self, _kind, _value, _traceback):
        if self.thread is not None:
            self.stopping.set()  # the file under way is finished first; the output goes after
            self.thread.join()
        return False


def remove_images(root, names):
    """Takes images off the disc again, and the folders they leave empty."""
    for name in names:
        path = os.path.join(root, *name.split("/"))
        os.unlink(path)
        folder = os.path.dirname(path)
        while folder != root and not os.listdir(folder):
            os.rmdir(folder)
            folder = os.path.dirname(folder)
