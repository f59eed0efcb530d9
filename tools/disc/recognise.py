"""Tells a DICOM image from anything else by its content, reading only its header.

A file is read with pydicom for the few elements the disc needs; the values of the others, the
pixel data among them, are stepped over and never loaded, so a study of any size is read in
constant memory. The result is an Image (what the disc needs to know about it) or a Skipped file
with the reason a user can act on.
"""

import os
import re
import warnings
from contextlib import contextmanager
from dataclasses import dataclass, field

import pydicom
from pydicom.dataelem import RawDataElement
from pydicom.dataset import Dataset
from pydicom.errors import InvalidDicomError
from pydicom.tag import BaseTag

from . import header_patch

MEDIA_DIRECTORY_STORAGE = "1.2.840.10008.1.3.10"
_INPUT_DICOMDIR = "a DICOMDIR of the input (the disc gets its own)"
_UID = re.compile(r"^[0-9]+(\.[0-9]+)*$")
# Values larger than this are left on disk; only their offset and length are read.
_DEFER_BYTES = 1024
# First groups a bare data set (no preamble) can start with: file meta or identifying elements.
_BARE_FIRST_GROUPS = (0x0002, 0x0008)
_REQUIRED = (("SOPClassUID", "SOP Class UID"), ("SOPInstanceUID", "SOP Instance UID"),
             ("StudyInstanceUID", "Study Instance UID"), ("SeriesInstanceUID", "Series Instance UID"))
# What the disc needs: its place, the identity checks, the index's attributes (and the dates that
# can stand in for a missing study date), the texts of README.TXT.
_TEXTS = [keyword for keyword, _name in _REQUIRED] + [
    "PatientID", "PatientName", "PatientBirthDate", "PatientSex", "IssuerOfPatientID",
    "StudyDate", "StudyTime", "StudyDescription", "StudyID", "SeriesDate", "ContentDate",
    "AcquisitionDate", "Modality", "InstitutionName", "InstitutionAddress"]
_PIXEL_DATA_TAGS = (0x7FE00010, 0x7FE00008, 0x7FE00009)
_SINGLE_BYTE_DEFAULTS = ("", "ISO_IR 6", "ISO_IR 100")
_NUMBERS = ["SeriesNumber", "InstanceNumber", "Rows", "Columns", "SamplesPerPixel", "BitsAllocated",
            "NumberOfFrames"]
_KEPT = _TEXTS + _NUMBERS
# Values are looked up by tag: pydicom would find a keyword's tag in its dictionary on every call.
_TAGS = {keyword: pydicom.datadict.tag_for_keyword(keyword)
         for keyword in _KEPT + ["MediaStorageSOPClassUID", "TransferSyntaxUID"]}
# Only these elements are kept; pydicom steps over the others without reading their values.
_WANTED = [_TAGS[keyword] for keyword in _KEPT] + list(_PIXEL_DATA_TAGS)
_WANTED_SET = set(_WANTED) | {0x00080005}
_PAST_EVERY_TAG = 1 << 32
# Most headers are shorter; a longer one is read whole.
_WALK_READ = 1 << 14
# Data sets not in Explicit VR Little Endian, which pydicom reads.
_NOT_WALKED = {"1.2.840.10008.1.2", "1.2.840.10008.1.2.2", "1.2.840.10008.1.2.1.99"}


@dataclass
class Image:
    path: str
    size: int
    part10: bool  # False: a bare data set, which gets a meta header on the disc
    transfer_syntax: str
    sop_class: str
    sop_instance: str
    patient_id: str
    patient_name: str  # as the file's character set decodes it
    birth_date: str
    issuer: str
    study_uid: str
    study_date: str
    study_time: str
    study_description: str
    series_uid: str
    series_number: int
    modality: str
    instance_number: int
    texts: dict = field(default_factory=dict)  # every text read, by keyword
    numbers: dict = field(default_factory=dict)  # which of the numbers the file has, by keyword
    # Where values the index may need go in its header, where it was walked: a note for writing
    # them, not something read (a few bytes, as it is kept for every image).
    places: bytes = field(default=b"", repr=False, compare=False)
    staged: str = ""  # where the copy waits on the disc until the image's place is known
    exported_syntax: str = ""  # set where the disc carries the image converted from this syntax
    conversion_failed: str = ""  # why it was carried as exported after all


@dataclass
class Skipped:
    path: str
    reason: str


def _value(dataset, keyword):
    element = dataset.get(_TAGS[keyword])
    return None if element is None else element.value


# Values of these representations that are plain ASCII read the same without pydicom's
# conversion, which is most of the time reading a header takes.
_PLAIN_TEXT = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT", "PN", "SH", "ST", "TM", "UI"}


# Representations whose values the character set decodes, and pydicom ends at a null or blank.
_DECODED = {"LO", "LT", "PN", "SH", "ST", "UC", "UT"}
# Character sets that decode a value whole, without code extensions, as pydicom does.
_WHOLE_SETS = {term: pydicom.charset.python_encoding[term] for term in (
    "ISO_IR 100", "ISO_IR 101", "ISO_IR 109", "ISO_IR 110", "ISO_IR 126", "ISO_IR 127", "ISO_IR 138",
    "ISO_IR 144", "ISO_IR 148", "ISO_IR 166", "ISO_IR 203", "ISO_IR 192") if term in pydicom.charset.python_encoding}


def _plain(dataset, keyword):
    """The element's value as text where it is a single value of plain ASCII, or of a character
    set that decodes it whole; else None, and pydicom decodes it."""
    raw = dataset._dict.get(_TAGS[keyword])
    value = getattr(raw, "value", None)
    if not isinstance(raw, RawDataElement) or raw.VR not in _PLAIN_TEXT or not isinstance(value, bytes):
        return None
    # An escape starts an ISO 2022 code extension: the character set decides what follows.
    if b"\\" in value or b"\x1b" in value:
        return None
    if value.isascii():
        text = value.decode("ascii")
    elif raw.VR in _DECODED:
        text = _decoded(dataset, value)
        if text is None:
            return None
    else:
        return None
    if raw.VR == "UI" or raw.VR in _DECODED:
        text = text.rstrip("\0 ")
    if raw.VR == "PN":  # as pydicom's names: no empty groups at the end
        text = text.rstrip("=")
    return text.strip()


def _decoded(dataset, value):
    charset = dataset._dict.get(0x00080005)
    declared = getattr(charset, "value", None)
    if not isinstance(declared, bytes) or not declared.isascii():
        return None
    encoding = _WHOLE_SETS.get(declared.decode("ascii").strip("\0 "))
    if encoding is None:
        return None
    try:
        return value.decode(encoding)
    except UnicodeDecodeError:  # pydicom decides what a value that does not decode becomes
        return None


def _text(dataset, keyword):
    if _TAGS[keyword] not in dataset._dict:
        return ""
    plain = _plain(dataset, keyword)
    if plain is not None:
        return plain
    try:
        value = _value(dataset, keyword)
    except Exception:  # a value pydicom cannot decode is left out, the file still counts
        return ""
    return "" if value is None else str(value).strip()


def _number(dataset, keyword):
    raw = dataset._dict.get(_TAGS[keyword])
    if raw is None:
        return 0
    if (isinstance(raw, RawDataElement) and raw.VR == "US" and raw.is_little_endian and isinstance(raw.value, bytes)
            and len(raw.value) == 2):
        return int.from_bytes(raw.value, "little")
    plain = _plain(dataset, keyword)
    if plain is not None and (plain.isdigit() or not plain):
        return int(plain) if plain else 0
    try:
        value = _value(dataset, keyword)
        return int(value) if value not in (None, "") else 0
    except (TypeError, ValueError, OverflowError):
        return 0


def _looks_like_bare_data_set(head):
    if len(head) < 8:
        return False
    group = int.from_bytes(head[0:2], "little")
    big_endian_group = int.from_bytes(head[0:2], "big")
    return group in _BARE_FIRST_GROUPS or big_endian_group in _BARE_FIRST_GROUPS


def _truncation(dataset, size, end, caught, deflated):
    """Why the file stops before its data set does, or None. end is where reading stopped,
    which lies past the file's end when an element stepped over does. A deflated data set is
    read from its inflated copy, whose offsets say nothing about the file; zlib itself refuses a
    cut stream."""
    for warning in caught:
        if "End of file" in str(warning.message) or "delimiter" in str(warning.message):
            return "truncated: ends inside an element"
    if not deflated:
        for element in dataset._dict.values():
            tell = getattr(element, "value_tell", None)
            length = getattr(element, "length", 0)
            if tell is not None and length != 0xFFFFFFFF and tell + length > size:
                return "truncated: %s needs %d bytes, the file ends after %d" % (
                    element.tag, tell + length, size)
        if end > size:
            return "truncated: an element needs %d bytes, the file ends after %d" % (end, size)
    return _pixels_missing(dataset)


def _pixels_missing(dataset):
    """A copy cut at an element's end reads as a whole data set; an image without its pixels, or
    with fewer than its size needs, is such a copy."""
    pixels = next((dataset._dict[tag] for tag in _PIXEL_DATA_TAGS if tag in dataset._dict), None)
    length = getattr(pixels, "length", None)
    if pixels is None:
        image_class = "Image Storage" in pydicom.uid.UID(_text(dataset, "SOPClassUID")).name
        if image_class or _TAGS["Rows"] in dataset._dict or _TAGS["Columns"] in dataset._dict:
            return "truncated: image without pixel data"
        return None
    if length is None or length == 0xFFFFFFFF:  # encapsulated: its items were read up to their delimiter
        return None
    frames = max(1, _number(dataset, "NumberOfFrames"))
    bits = (_number(dataset, "Rows") * _number(dataset, "Columns") * max(1, _number(dataset, "SamplesPerPixel"))
            * frames * _number(dataset, "BitsAllocated"))
    needed = (bits + 7) // 8
    if pixels.tag == 0x7FE00010 and length < needed:
        return "truncated: pixel data holds %d bytes where the image needs %d" % (length, needed)
    return None


@contextmanager
def _values_unchecked():
    """Values are taken as the file has them: the disc carries the file unchanged, and pydicom's
    complaints about a value's form would only be noise in the builder's output."""
    settings = pydicom.config.settings
    mode, settings.reading_validation_mode = settings.reading_validation_mode, pydicom.config.IGNORE
    try:
        yield
    finally:
        settings.reading_validation_mode = mode


def _is_dicomdir(path):
    try:
        meta = pydicom.filereader.read_file_meta_info(path)
    except Exception:  # not even the meta header reads
        return False
    return _text(meta, "MediaStorageSOPClassUID") == MEDIA_DIRECTORY_STORAGE


def _read(handle, force):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        dataset = pydicom.dcmread(handle, defer_size=_DEFER_BYTES, force=force, specific_tags=_WANTED)
    return dataset, handle.tell(), caught


# A walked element's VR as text, without decoding its two bytes every time.
_VR_TEXT = {vr.encode("ascii"): vr for vr in (
    "AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL", "IS", "LO", "LT", "OB", "OD", "OF", "OL", "OV", "OW",
    "PN", "SH", "SL", "SQ", "SS", "ST", "SV", "TM", "UC", "UI", "UL", "UN", "UR", "US", "UT", "UV")}


def _raw(data, tag, vr, start, length):
    value = data[start:start + length] if length != 0xFFFFFFFF and start + length <= len(data) else None
    return RawDataElement(BaseTag(tag), _VR_TEXT.get(vr) or vr.decode("ascii"), length, value, start, False, True)


class _Header:
    """The wanted elements of a header walked by its bytes, {tag: RawDataElement}, as the
    accessors below read a pydicom data set. Building a pydicom Dataset for every file costs more
    than the walk; one is built only where a value is not plain text, for pydicom to decode."""

    is_little_endian, is_implicit_VR = True, False

    def __init__(self, elements, file_meta=None):
        self._dict = elements
        self.file_meta = file_meta
        self._read = None
        self.places = b""

    def get(self, tag):
        if self._read is None:
            self._read = Dataset({BaseTag(key): element for key, element in self._dict.items()})
            self._read.is_little_endian, self._read.is_implicit_VR = True, False
        return self._read.get(tag)


def _walked(handle, size):
    """(data set, end, no warnings) of the wanted elements of an Explicit VR Little Endian file,
    walked by their bytes, which is several times quicker than pydicom's reading; None for
    anything else (another syntax, a header that does not walk, pixel data not whole), which
    pydicom then reads and names."""
    data = handle.read(_WALK_READ)
    whole = len(data) == size
    handle.seek(0)
    try:
        if header_patch.tag_at(data, 132) != 0x00020000:
            return None
        meta_end = 144 + int.from_bytes(data[140:144], "little")
        meta = {}
        for tag, vr, start, length, end in header_patch.walk(data[:meta_end], 132, True):
            meta[tag] = _raw(data, tag, vr, start, length)
        file_meta = _Header(meta)
        if _text(file_meta, "TransferSyntaxUID") in _NOT_WALKED:
            return None
        try:
            elements, end, places = _elements(data, meta_end, whole, size, handle)
        except header_patch.Unwalkable:
            if whole:
                return None
            data = handle.read()
            handle.seek(0)
            elements, end, places = _elements(data, meta_end, True, size, handle)
    except header_patch.Unwalkable:
        return None
    header = _Header(elements, file_meta)
    header.places = places
    return header, end, []


def _elements(data, start, whole, size, handle):
    """The wanted elements, where reading ended, and where a value the index may need would go
    (header_patch.header_at_places)."""
    found, end, pos = {}, start, start
    places, supplied = [], header_patch.SUPPLIED_TAGS
    next_supplied = supplied[0]
    for tag, vr, value_start, length, end in header_patch.walk(data, start, whole):
        if tag >= next_supplied:  # one comparison an element: every header passes here
            while len(places) < len(supplied) and tag >= supplied[len(places)]:
                places.append((pos, end if tag == supplied[len(places)] else pos))
            next_supplied = supplied[len(places)] if len(places) < len(supplied) else _PAST_EVERY_TAG
        if tag in _WANTED_SET:
            found[tag] = _raw(data, tag, vr, value_start, length)
        if tag >= 0x7FE00010:
            if length == 0xFFFFFFFF and not _fragments_whole(handle, value_start, size):
                raise header_patch.Unwalkable("pixel data not whole")
            end = value_start + (0 if length == 0xFFFFFFFF else length)
            break
        pos = end
    places.extend((pos, pos) for _tag in supplied[len(places):])
    return found, end, header_patch.packed_places(pos, places)


def _fragments_whole(handle, pos, size):
    """True when the encapsulated pixel data from pos runs, item by item, to its delimiter."""
    while pos + 8 <= size:
        handle.seek(pos)
        head = handle.read(8)
        tag = header_patch.tag_at(head, 0)
        length = int.from_bytes(head[4:8], "little")
        if tag == 0xFFFEE0DD:
            handle.seek(0)
            return True
        if tag != 0xFFFEE000 or length == 0xFFFFFFFF:
            break
        pos += 8 + length
    handle.seek(0)
    return False


def recognise(path):
    """An Image, or a Skipped with its reason."""
    try:
        handle = open(path, "rb")
    except OSError as error:
        return Skipped(path, "unreadable: %s" % (error.strerror or error))
    with handle, _values_unchecked():
        return _recognise_open(path, handle)


def _recognise_open(path, handle):
    try:
        size = os.fstat(handle.fileno()).st_size
        head = handle.read(132)
        handle.seek(0)
    except OSError as error:
        return Skipped(path, "unreadable: %s" % (error.strerror or error))
    part10 = len(head) == 132 and head[128:132] == b"DICM"
    if not part10 and not _looks_like_bare_data_set(head):
        return Skipped(path, "not DICOM")
    try:
        walked = _walked(handle, size) if part10 else None
        dataset, end, caught = walked or _read(handle, force=not part10)
    except (InvalidDicomError, EOFError) as error:
        reason = "not DICOM" if not part10 else "damaged: %s" % error
    except Exception as error:  # pydicom raises many kinds on damaged input
        reason = "damaged: %s" % (str(error).splitlines() or [type(error).__name__])[0]
    else:
        reason = None
    if reason:
        # pydicom reads a DICOMDIR's records as it reads the file, which the elements left out here
        # make fail: its meta header says what it is.
        return Skipped(path, _INPUT_DICOMDIR if part10 and _is_dicomdir(path) else reason)
    meta = getattr(dataset, "file_meta", None)
    if meta is not None and _text(meta, "MediaStorageSOPClassUID") == MEDIA_DIRECTORY_STORAGE:
        return Skipped(path, _INPUT_DICOMDIR)
    syntax = _text(meta, "TransferSyntaxUID") if part10 else ""
    truncated = _truncation(dataset, size, end, caught, syntax == pydicom.uid.DeflatedExplicitVRLittleEndian)
    if truncated:
        return Skipped(path, truncated)
    name = _utf8_name(dataset)
    text = {keyword: _text(dataset, keyword) for keyword in _TEXTS}
    text["PatientName"] = name if name is not None else text["PatientName"]
    for keyword, name in _REQUIRED:
        if not _UID.match(text[keyword]) or len(text[keyword]) > 64:
            return Skipped(path, "not DICOM" if not part10 else "not usable: no valid %s" % name)
    if not part10:
        syntax = _bare_syntax(dataset)
    return Image(
        path=path, size=size, part10=part10, transfer_syntax=syntax,
        sop_class=text["SOPClassUID"], sop_instance=text["SOPInstanceUID"],
        patient_id=text["PatientID"], patient_name=text["PatientName"],
        birth_date=text["PatientBirthDate"], issuer=text["IssuerOfPatientID"],
        study_uid=text["StudyInstanceUID"], study_date=text["StudyDate"], study_time=text["StudyTime"],
        study_description=text["StudyDescription"], series_uid=text["SeriesInstanceUID"],
        series_number=_number(dataset, "SeriesNumber"), modality=text["Modality"],
        instance_number=_number(dataset, "InstanceNumber"), texts=text, places=walked[0].places if walked else b"",
        numbers={keyword: _number(dataset, keyword) for keyword in _NUMBERS if _present(dataset, keyword)})


def _utf8_name(dataset):
    """A name in UTF-8 where the file says Latin-1 or nothing, or None. Some tools (dcmtk's
    pdf2dcm among them) copy a name's bytes from a UTF-8 image under their own default set; read
    by that, the same person would have another name than in the image. Latin-1 text with
    accents is almost never valid UTF-8, so the bytes tell which it is."""
    raw = dataset._dict.get(_TAGS["PatientName"])
    charset = dataset._dict.get(0x00080005)
    declared = getattr(charset, "value", None) or ""
    if isinstance(declared, bytes):
        declared = declared.decode("ascii", "replace")
    if not isinstance(declared, str) or declared.strip() not in _SINGLE_BYTE_DEFAULTS:
        return None
    if not isinstance(getattr(raw, "value", None), bytes):
        return None
    try:
        name = raw.value.decode("utf-8")
    except UnicodeDecodeError:
        return None
    return name.strip() if not name.isascii() else None


def _bare_syntax(dataset):
    if dataset.is_implicit_VR:
        return pydicom.uid.ImplicitVRLittleEndian
    return pydicom.uid.ExplicitVRLittleEndian if dataset.is_little_endian else pydicom.uid.ExplicitVRBigEndian


def _present(dataset, keyword):
    raw = dataset._dict.get(_TAGS[keyword])
    if raw is None:
        return False
    if isinstance(raw, RawDataElement) and isinstance(raw.value, bytes):
        if raw.VR == "US":
            return raw.value != b""
        if _plain(dataset, keyword) is not None:
            return raw.value.strip(b" \0") != b""
    try:
        return _value(dataset, keyword) not in (None, "")
    except Exception:  # as _text: a value pydicom cannot decode counts as missing
        return False
