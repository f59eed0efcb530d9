"""Volume labels: what ISO 9660 allows (d-characters A-Z, 0-9 and _). One medium is one
file-set, so the ISO and Joliet volume IDs are the DICOMDIR's file-set ID, which holds at most 16."""

import re
import unicodedata

FILESET_ID_LENGTH = 16
DEFAULT_LABEL = "LUMIDRA_STUDY"


def d_characters(text):
    """text in ISO 9660 d-characters: accents dropped (Č -> C), anything else becomes _."""
    plain = unicodedata.normalize("NFKD", text).encode("ascii", "ignore").decode("ascii")
    cleaned = re.sub(r"[^A-Z0-9_]+", "_", plain.upper()).strip("_")
    return re.sub(r"_+", "_", cleaned)


def volume_label(given, patient_name, study_description):
    """--label when given, else the patient and the study; always a valid ISO 9660 label and
    file-set ID."""
    if given:
        label = d_characters(given)
    else:
        label = d_characters("%s %s" % (patient_name.split("^")[0], study_description))
    return (label[:FILESET_ID_LENGTH].rstrip("_")) or DEFAULT_LABEL[:FILESET_ID_LENGTH]


def fileset_id(label):
    """The label is already one: the same value under the DICOMDIR's name for it."""
    return label
