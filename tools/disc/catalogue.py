"""The study as it goes onto the disc: every input file looked at once, duplicates dropped, and
each image given its place DATA/DICOM/<patient>/<study>/<series>/<image>.

Names are short and numbered (PA000001/ST000001/SE000001/IM000001): at most 8 upper-case
letters, digits or underscores per component, as DICOM file IDs and ISO 9660 want, and never
derived from patient data. The order is the one a reader expects: patients by name, studies by
date, series by number, images by instance number.
"""

import multiprocessing
import os
import signal
from dataclasses import dataclass, field

from .recognise import Skipped, recognise


@dataclass
class Series:
    folder: str
    images: list = field(default_factory=list)  # of (Image, disc-relative name)


@dataclass
class Catalogue:
    patients: int = 0
    studies: int = 0
    series: list = field(default_factory=list)  # of Series, in disc order; the first is shown first
    skipped: list = field(default_factory=list)  # of Skipped
    images: int = 0
    bytes: int = 0
    first_patient_name: str = ""
    first_study_description: str = ""
    transfer_syntaxes: set = field(default_factory=set)


def leave_out(catalogue, refused):
    """Takes the images named in refused ({disc name: reason}) off the catalogue and lists
    their input files as skipped; returns their disc names. Empty series go too."""
    for series in catalogue.series:
        for image, name in series.images:
            if name in refused:
                catalogue.skipped.append(Skipped(image.path, refused[name]))
                catalogue.images -= 1
                catalogue.bytes -= image.size
        series.images = [(image, name) for image, name in series.images if name not in refused]
    catalogue.series = [series for series in catalogue.series if series.images]
    catalogue.studies = len({series.folder.rsplit("/", 1)[0] for series in catalogue.series})
    catalogue.patients = len({series.folder.rsplit("/", 2)[0] for series in catalogue.series})
    return list(refused)


def input_files(folder):
    """Every regular file below folder, in a stable order, with its size."""
    found = []
    for top, folders, files in os.walk(folder):
        folders.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            if os.path.isfile(path):
                found.append(path)
    return found


def _group(images, key):
    groups = {}
    for image in images:
        groups.setdefault(key(image), []).append(image)
    return groups


# Headers are read by this many processes beside the main one, which copies and keeps order;
# reading is Python's work (the copy is the kernel's), so it is what more cores speed up.
_READERS = max(1, min(4, (os.cpu_count() or 1)))
_MOST_PER_TASK = 16


def _recognised(files):
    """recognise(path) for every file, in order; in worker processes where there are cores."""
    if _READERS == 1 or len(files) < 2:
        return map(recognise, files)
    return _pooled(files)


def _quiet_reader():
    # The builder itself answers Ctrl+C and termination (and cleans up); a reader just ends.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)


def _pooled(files):
    with multiprocessing.get_context("fork").Pool(_READERS, initializer=_quiet_reader) as pool:
        per_task = max(1, min(_MOST_PER_TASK, len(files) // (4 * _READERS)))
        yield from pool.imap(recognise, files, chunksize=per_task)


def read_input(files, base, progress, take):
    """Recognises every file and hands each image to take as soon as it is known; returns the
    images (duplicates removed) and the skipped files. The first copy of an image (in path
    order) is kept; later ones name it, relative to base."""
    images, skipped, kept = [], [], {}
    for path, result in zip(files, _recognised(files)):
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


def arrange(images, skipped):
    """Places every image; numbering follows the reader's order, so it is the same every run."""
    catalogue = Catalogue(skipped=skipped)
    patients = _group(images, lambda i: i.patient_id)
    ordered_patients = sorted(patients.items(), key=lambda p: (p[1][0].patient_name, p[0]))
    for p_index, (_pid, patient_images) in enumerate(ordered_patients, start=1):
        catalogue.patients += 1
        studies = _group(patient_images, lambda i: i.study_uid)
        ordered_studies = sorted(studies.items(), key=lambda s: (
            s[1][0].study_date, s[1][0].study_time, s[0]))
        for s_index, (_uid, study_images) in enumerate(ordered_studies, start=1):
            catalogue.studies += 1
            if not catalogue.first_patient_name:
                catalogue.first_patient_name = study_images[0].patient_name
                catalogue.first_study_description = study_images[0].study_description
            series = _group(study_images, lambda i: i.series_uid)
            ordered_series = sorted(series.items(), key=lambda s: (s[1][0].series_number, s[0]))
            for r_index, (_uid, series_images) in enumerate(ordered_series, start=1):
                folder = "/".join(("DATA", "DICOM", "PA%06d" % p_index, "ST%06d" % s_index,
                                   "SE%06d" % r_index))
                entry = Series(folder)
                series_images.sort(key=lambda i: (i.instance_number, i.sop_instance))
                for i_index, image in enumerate(series_images, start=1):
                    entry.images.append((image, "%s/IM%06d" % (folder, i_index)))
                    catalogue.images += 1
                    catalogue.bytes += image.size
                    catalogue.transfer_syntaxes.add(image.transfer_syntax)
                catalogue.series.append(entry)
    return catalogue


def catalogue_of(folder, progress, take):
    """The catalogue of every file below folder; take(image) is called for each image kept."""
    files = input_files(folder)
    progress.stage("Reading and copying", len(files), sum(_size(f) for f in files))
    images, skipped = read_input(files, folder, progress, take)
    progress.done()
    return arrange(images, skipped)


def _size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


