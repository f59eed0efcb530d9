"""Values a DICOMDIR must hold that an image lacks (Type 1 in its records: a Study ID, a series
number), supplied here rather than left to dcmmkdir's +I. dcmmkdir would invent them unreported
(the build date as the study date) and at a cost that grows with the square of the images; here
each is decided once, the same for every image of its study or series, named in the summary,
and given to dcmmkdir through copies of only those images' headers, in a tree that mirrors the
disc (in a private folder in memory, removed as soon as the index is made). The images on the
disc stay as they came.
"""

import datetime
import os
import shutil
import tempfile
from dataclasses import dataclass

import pydicom

from .header_patch import header_at_places, header_with

INDEX_FOLDER = ".index"  # inside the disc folder while the DICOMDIR is made, where not in memory
_MEMORY = "/dev/shm"

# (keyword, level, what stands in when no image of the entity has it); level is where the
# value must agree: one per patient, study or series, or per image.
_NEEDED = (
    ("PatientID", "patient", lambda place: "NOID_" + place["patient"]),
    ("StudyID", "study", lambda place: place["study"]),
    ("StudyDate", "study", lambda place: place["today"]),
    ("StudyTime", "study", lambda place: "000000"),
    ("Modality", "series", lambda place: "OT"),
    ("SeriesNumber", "series", lambda place: str(int(place["series"][2:]))),
    ("InstanceNumber", "image", lambda place: str(int(place["image"][2:]))),
)
# Dates an image may carry that say when its study was made, before any made-up one.
_DATES_OF_STUDY = ("SeriesDate", "AcquisitionDate", "ContentDate")


@dataclass
class Supplied:
    name: str  # disc-relative
    image: object
    values: dict  # keyword -> value


def _has(image, keyword):
    return bool(image.texts.get(keyword)) or keyword in image.numbers


def _own(image, keyword):
    if keyword in image.numbers:
        return str(image.numbers[keyword])
    return image.texts.get(keyword, "")


def needed_values(catalogue, today=None):
    """[Supplied] for every image that lacks a value its DICOMDIR records need."""
    today = today or datetime.date.today().strftime("%Y%m%d")
    decided = {}  # (keyword, entity key) -> value
    found = []
    for series in catalogue.series:
        patient, study, series_folder = series.folder.split("/")[2:5]
        for image, name in series.images:
            place = {"patient": patient, "study": study, "series": series_folder,
                     "image": name.rsplit("/", 1)[1], "today": today}
            entity = {"patient": patient, "study": patient + study, "series": series.folder, "image": name}
            values = {}
            for keyword, level, made_up in _NEEDED:
                if _has(image, keyword):
                    continue
                key = (keyword, entity[level])
                if key not in decided:
                    decided[key] = _from_entity(catalogue, series, keyword, level) or made_up(place)
                values[keyword] = decided[key]
            if values:
                found.append(Supplied(name, image, values))
    return found


def _from_entity(catalogue, series, keyword, level):
    """A value another image of the same patient, study or series has, or a date of the study."""
    if level == "image":
        return ""
    prefix = series.folder.rsplit("/", {"patient": 2, "study": 1, "series": 0}[level])[0]
    candidates = [image for other in catalogue.series if other.folder.startswith(prefix)
                  for image, _name in other.images]
    for image in candidates:
        if _has(image, keyword):
            return _own(image, keyword)
    if keyword == "StudyDate":
        for image in candidates:
            for date in _DATES_OF_STUDY:
                if image.texts.get(date):
                    return image.texts[date]
    return ""


def made_up_lines(supplied, base, shown=3):
    """The summary's lines: each value given with the files it was given for."""
    by_value = {}
    for entry in supplied:
        for keyword, value in entry.values.items():
            by_value.setdefault((keyword, value), []).append(os.path.relpath(entry.image.path, base))
    lines = []
    for (keyword, value), paths in sorted(by_value.items()):
        more = " and %d more" % (len(paths) - shown) if len(paths) > shown else ""
        lines.append("%s %s for %s%s" % (keyword, value, ", ".join(paths[:shown]), more))
    return lines


def index_tree(root, catalogue, supplied):
    """The folder dcmmkdir reads the images from: the disc itself, or where images lack values,
    a tree of links to the disc's images with the supplied ones' headers among them."""
    if not supplied:
        return root
    tree = _private_folder_in_memory()
    if tree:
        try:
            return _make_tree(tree, root, catalogue, supplied)
        except OSError:  # memory full: the disc's file system has room
            shutil.rmtree(tree, ignore_errors=True)
    tree = os.path.join(root, INDEX_FOLDER)
    shutil.rmtree(tree, ignore_errors=True)
    return _make_tree(tree, root, catalogue, supplied)


def _private_folder_in_memory():
    """A folder of the user's alone in memory, or "". Thousands of small files written just after
    the disc's images wait there for nothing, where the disc's file system makes each wait
    behind the images' writes (a second at 5,000)."""
    if not (os.path.isdir(_MEMORY) and os.access(_MEMORY, os.W_OK | os.X_OK)):
        return ""
    try:
        return tempfile.mkdtemp(prefix="lumidra-index-", dir=_MEMORY)
    except OSError:
        return ""


def _make_tree(tree, root, catalogue, supplied):
    changed = {entry.name: entry for entry in supplied}
    try:
        for series in catalogue.series:
            os.makedirs(os.path.join(tree, *series.folder.split("/")))
            for image, name in series.images:
                target = os.path.join(tree, *name.split("/"))
                source = os.path.join(root, *name.split("/"))
                if name in changed:
                    _write_supplied(source, target, changed[name].values, _as_read(image))
                else:
                    os.symlink(source, target)
    except BaseException:
        shutil.rmtree(tree, ignore_errors=True)
        raise
    return tree


def _as_read(image):
    """Where the values go in the disc's copy of the image, as the reader noted them; () where
    the copy is not the file read byte for byte (converted, or given a meta header)."""
    return image.places if image.part10 and not image.exported_syntax else ()


def _write_supplied(source, target, values, places):
    # dcmmkdir indexes what the header says; the pixels stay behind, and so does their cost.
    header = header_at_places(source, places, values) if places else None
    if header is None:
        header = header_with(source, values)
    if header is not None:
        with open(target, "wb") as out:
            out.write(header)
        return
    dataset = pydicom.dcmread(source, stop_before_pixels=True)
    for keyword, value in values.items():
        setattr(dataset, keyword, value)
    dataset.save_as(target, write_like_original=True)


def remove_index_tree(root, tree):
    """Removes the tree index_tree made, if it made one."""
    if tree != root:
        shutil.rmtree(tree, ignore_errors=True)
