"""Writes the synthetic study's files with pydicom: Part 10, Explicit VR Little Endian.

Elements are given as (tag, VR, value) with plain Python values; numbers meant for DS and IS are
formatted here so that every build writes the same bytes.
"""

import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

IMPLEMENTATION_CLASS_UID = "2.25.1870591822497312004519376290186021364"
IMPLEMENTATION_VERSION = "LUMIDRA_SAMPLE"


def number_string(value):
    """A DS or IS value of at most 16 characters: 2.5 stays "2.5", -60.0 becomes "-60"."""
    if isinstance(value, float):
        text = repr(value)
        if text.endswith(".0"):
            text = text[:-2]
    else:
        text = str(value)
    if len(text) > 16:
        text = "%.10g" % value
    if len(text) > 16:
        raise ValueError("number too long for DS/IS: %r" % (value,))
    return text


def _element_value(vr, value):
    if vr in ("DS", "IS"):
        if isinstance(value, (list, tuple)):
            return [number_string(v) for v in value]
        return number_string(value)
    return value


def dataset_of(elements, charset):
    dataset = Dataset()
    for tag, vr, value in elements:
        dataset.add_new(tag, vr, _element_value(vr, value))
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = dataset.SOPClassUID
    meta.MediaStorageSOPInstanceUID = dataset.SOPInstanceUID
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    meta.ImplementationClassUID = IMPLEMENTATION_CLASS_UID
    meta.ImplementationVersionName = IMPLEMENTATION_VERSION
    dataset.file_meta = meta
    dataset.is_little_endian = True
    dataset.is_implicit_VR = False
    if charset and "SpecificCharacterSet" not in dataset:
        dataset.SpecificCharacterSet = charset
    return dataset


def write_part10(path, elements, charset=None):
    """One file: preamble, "DICM", the meta group with its length, then the data set."""
    dataset = dataset_of(elements, charset)
    pydicom.dcmwrite(path, dataset, write_like_original=False)
