"""The closing report: what went onto the disc, what was left out and why, and the medium the
disc fits."""

import os

from .progress import megabytes

# Data capacities in bytes (2048-byte sectors): 80-minute CD-R, single-layer DVD±R, BD-R.
MEDIA = (("CD (700 MB)", 360000 * 2048), ("DVD (4.7 GB)", 2295104 * 2048),
         ("BD (25 GB)", 12219392 * 2048))
_SECTOR = 2048


def folder_size(root):
    """Bytes the folder takes on an ISO 9660 image: every file rounded up to whole sectors."""
    total = 0
    for top, _folders, files in os.walk(root):
        total += _SECTOR  # the directory's own record block
        for name in files:
            size = os.path.getsize(os.path.join(top, name))
            total += -(-size // _SECTOR) * _SECTOR
    return total


def medium_for(size):
    for name, capacity in MEDIA:
        if size <= capacity:
            return name
    return None


def summary_lines(catalogue, input_folder, output_folder, disc_bytes, iso_file, profile, label):
    lines = [
        "Disc in %s (label %s)" % (output_folder, label),
        "  patients: %d   studies: %d   series: %d   images: %d   image bytes: %s" % (
            catalogue.patients, catalogue.studies, len(catalogue.series), catalogue.images,
            megabytes(catalogue.bytes)),
        "  first patient: %s" % (catalogue.first_patient_name or "(no name)"),
        "  DICOMDIR profile: %s" % profile,
    ]
    if iso_file:
        lines.append("  ISO image: %s" % iso_file)
    medium = medium_for(disc_bytes)
    lines.append("  disc size: %s, fits %s" % (
        megabytes(disc_bytes), medium or "no single disc (larger than a 25 GB BD)"))
    if catalogue.skipped:
        lines.append("  skipped %d file(s):" % len(catalogue.skipped))
        for skipped in catalogue.skipped:
            lines.append("    %s: %s" % (os.path.relpath(skipped.path, input_folder), skipped.reason))
    else:
        lines.append("  skipped: none")
    return lines
