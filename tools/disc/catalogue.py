"""The study as it goes onto the disc: every input file looked at once, duplicates dropped, and
each image given its place DATA/DICOM/<patient>/<study>/<series>/<image>.

Names are short and numbered (PA000001/ST000001/SE000001/IM000001): at most 8 upper-case
letters, digits or underscores per component, as DICOM file IDs and ISO 9660 want, and never
derived from patient data. The order is the one a reader expects: patients by name, studies by
date, series by number, images by instance number.
"""

import concurrent.futures
import multiprocessing
import os
import signal
from dataclasses import dataclass, field

from .recognise import Skipped, recognise


# The DICOMDIR record a SOP class gets, as dcmmkdir and pydicom's file-set writer decide it:
# documents by their class, everything else an image.
_DOCUMENT_CLASSES = (
    ("1.2.840.10008.5.1.4.1.1.88.59", "KEY OBJECT DOC"),
    ("1.2.840.10008.5.1.4.1.1.88.", "SR DOCUMENT"),
    ("1.2.840.10008.5.1.4.1.1.104.", "ENCAP DOC"),
)


def record_type(sop_class):
    for prefix, kind in _DOCUMENT_CLASSES:
        if sop_class == prefix or (prefix.endswith(".") and sop_class.startswith(prefix)):
            return kind
    return "IMAGE"


@dataclass
class Series:
    folder: str  # DATA/DICOM/PA.../ST.../SE...
    images: list = field(default_factory=list)  # of (Image, disc-relative name)


@dataclass
class Catalogue:
    """What goes on the disc; the counts follow from the series, so leaving an image out cannot
    leave them behind."""
    series: list = field(default_factory=list)  # of Series, in disc order; the first is shown first
    skipped: list = field(default_factory=list)  # of Skipped
    warnings: list = field(default_factory=list)  # of str: what the user should know, kept anyway
    made_up: list = field(default_factory=list)  # of str: values the DICOMDIRs hold that no image has

    @property
    def placed(self):
        return [image for series in self.series for image, _name in series.images]

    @property
    def images(self):
        """Every instance placed, documents among them."""
        return sum(len(series.images) for series in self.series)

    @property
    def kinds(self):
        """{DICOMDIR record type: how many} of what is placed."""
        counts = {}
        for image in self.placed:
            kind = record_type(image.sop_class)
            counts[kind] = counts.get(kind, 0) + 1
        return counts

    @property
    def bytes(self):
        return sum(image.size for image in self.placed)

    @property
    def patients(self):
        return len({series.folder.split("/")[2] for series in self.series})

    @property
    def patient_ids(self):
        """Patient IDs among the images: fewer than patients where people who share an ID were
        kept apart on request, and a DICOMDIR reader, which groups by ID, shows them as one."""
        return len({image.patient_id for image in self.placed})

    @property
    def studies(self):
        return len({series.folder.rsplit("/", 1)[0] for series in self.series})

    @property
    def transfer_syntaxes(self):
        return {image.transfer_syntax for image in self.placed}

    @property
    def first_image(self):
        return self.series[0].images[0][0] if self.series else None

    @property
    def first_shown(self):
        """The series the viewer opens first: the first of images, as it skips documents."""
        return next((series for series in self.series if record_type(series.images[0][0].sop_class) == "IMAGE"),
                    self.series[0])


def leave_out(catalogue, refused):
    """Takes the images named in refused ({disc name: reason}) off the catalogue and lists
    their input files as skipped; returns their disc names. Empty series go too."""
    for series in catalogue.series:
        for image, name in series.images:
            if name in refused:
                catalogue.skipped.append(Skipped(image.path, refused[name]))
        series.images = [(image, name) for image, name in series.images if name not in refused]
    catalogue.series = [series for series in catalogue.series if series.images]
    return list(refused)


def input_files(folder, skipped):
    """Every regular file below folder, in a stable order. What is not walked into or taken is
    named in skipped: a folder that cannot be read, a link to a folder (which could lead out of
    the input or round in a circle), anything that is not a file."""
    found = []

    def unreadable(error):
        skipped.append(Skipped(error.filename or folder, "unreadable folder: %s" % (error.strerror or error)))

    for top, folders, files in os.walk(folder, onerror=unreadable):
        for name in list(folders):
            if os.path.islink(os.path.join(top, name)):
                skipped.append(Skipped(os.path.join(top, name), "a link to a folder, not followed"))
                folders.remove(name)
        folders.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            if os.path.isfile(path):
                found.append(path)
            elif os.path.islink(path):
                skipped.append(Skipped(path, "a link to nothing"))
            else:
                skipped.append(Skipped(path, "not a regular file"))
    return found


def _group(images, key):
    groups = {}
    for image in images:
        groups.setdefault(key(image), []).append(image)
    return groups


# Headers are read by this many processes beside the main one, which copies and keeps order;
# reading is Python's work (the copy is the kernel's), so it is what more cores speed up.
_READERS = max(1, min(4, (os.cpu_count() or 1)))
_MOST_PER_TASK = 64


def _recognised(files):
    """(path, recognise(path)) for every file, in order; in worker processes where there are
    cores."""
    if _READERS == 1 or len(files) < 2:
        return zip(files, map(recognise, files))
    return ((files[number], result) for number, result in enumerate(_pooled(files)))


_STOPPING = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}


def _quiet_reader():
    # The builder itself answers Ctrl+C and termination (and cleans up); a reader just ends.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    signal.signal(signal.SIGHUP, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, _STOPPING)


def _pooled(files):
    # Readers are stopped by a message, never by a signal: a reader killed while it holds the task
    # queue's lock could leave the build waiting for it for ever. Ctrl+C or termination waits
    # while the readers start (one interrupted half way would be waited for at exit, and one
    # signalled before its own handlers are set would run the builder's); leaving early cancels
    # the files not yet handed out and waits only for those being read.
    readers = concurrent.futures.ProcessPoolExecutor(
        _READERS, mp_context=multiprocessing.get_context("fork"), initializer=_quiet_reader)
    try:
        per_task = max(1, min(_MOST_PER_TASK, len(files) // (4 * _READERS)))
        held = signal.pthread_sigmask(signal.SIG_BLOCK, _STOPPING)
        try:
            results = readers.map(recognise, files, chunksize=per_task)
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, held)
        yield from results
    finally:
        readers.shutdown(wait=True, cancel_futures=True)


def read_input(files, base, progress, take):
    """Recognises every file and hands each image to take as soon as it is known; returns the
    images (duplicates removed) and the skipped files. The first copy of an image (in path
    order) is kept; later ones name it, relative to base."""
    images, skipped, kept = [], [], {}
    # The readers' results drive the loop: their last one closes the pool.
    for path, result in _recognised(files):
        if isinstance(result, Skipped):
            skipped.append(result)
            progress.advance(os.path.getsize(path) if os.path.isfile(path) else 0)
            continue
        first = kept.get(result.sop_instance)
        if first is not None:
            skipped.append(Skipped(path, "duplicate: same SOP Instance UID as %s"
                                 % os.path.relpath(first, base)))
        else:
            kept[result.sop_instance] = path
            images.append(result)
            take(result)
        progress.advance(result.size)
    return images, skipped


def arrange(patients, skipped):
    """Places every image of the decided patients; numbering follows the reader's order, so it is
    the same every run."""
    catalogue = Catalogue(skipped=skipped)
    ordered_patients = sorted(patients, key=lambda p: (p.images[0].patient_name, p.key))
    for p_index, patient in enumerate(ordered_patients, start=1):
        studies = _group(patient.images, lambda i: i.study_uid)
        ordered_studies = sorted(studies.items(), key=lambda s: (
            s[1][0].study_date, s[1][0].study_time, s[0]))
        for s_index, (_uid, study_images) in enumerate(ordered_studies, start=1):
            series = _group(study_images, lambda i: i.series_uid)
            # Reports and key-object selections after the images they speak of.
            ordered_series = sorted(series.items(), key=lambda s: (
                record_type(s[1][0].sop_class) != "IMAGE", s[1][0].series_number, s[0]))
            for r_index, (_uid, series_images) in enumerate(ordered_series, start=1):
                folder = "/".join(("DATA", "DICOM", "PA%06d" % p_index, "ST%06d" % s_index,
                                   "SE%06d" % r_index))
                entry = Series(folder)
                series_images.sort(key=lambda i: (i.instance_number, i.sop_instance))
                for i_index, image in enumerate(series_images, start=1):
                    entry.images.append((image, "%s/IM%06d" % (folder, i_index)))
                catalogue.series.append(entry)
    return catalogue


def read_study(folder, progress, take):
    """(images, skipped) of every file below folder; take(image) is called for each image kept."""
    skipped = []
    files = input_files(folder, skipped)
    progress.stage("Reading and copying", len(files), sum(_size(f) for f in files))
    images, unusable = read_input(files, folder, progress, take)
    progress.done()
    return images, skipped + unusable


def _size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


