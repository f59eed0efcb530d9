"""Volume labels: what ISO 9660 allows (d-characters A-Z, 0-9 and _, at most 32) and what
AUTORUN.INF and the DICOMDIR's file-set ID (at most 16) can hold."""

import re
import unicodedata

ISO_LABEL_LENGTH = 32
FILESET_ID_LENGTH = 16
DEFAULT_LABEL = "LUMIDRA_STUDY"


def d_characters(text):
    """text in ISO 9660 d-characters: accents dropped (Č -> C), anything else becomes _."""
    plain = unicodedata.normalize("NFKD", text).encode("ascii", "ignore").decode("ascii")
    cleaned = re.sub(r"[^A-Z0-9_]+", "_", plain.upper()).strip("_")
    return re.sub(r"_+", "_", cleaned)


def volume_label(given, patient_name, study_description):
    """--label when given, else the patient and the study; always a valid ISO 9660 label."""
    if given:
        label = d_characters(given)
    else:
        label = d_characters("%s %s" % (patient_name.split("^")[0], study_description))
    return (label[:ISO_LABEL_LENGTH].rstrip("_")) or DEFAULT_LABEL


def fileset_id(label):
    return label[:FILESET_ID_LENGTH].rstrip("_") or DEFAULT_LABEL[:FILESET_ID_LENGTH]
