"""The closing report: what went onto the disc, what was left out and why, and the medium the
disc fits."""

import os

from .conversion import CONVERTED
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


# What each DICOMDIR profile means for the person burning the disc.
PROFILE_MEANING = {
    "STD-GEN-CD": "the CD profile PDI asks for: every reader opens it",
    "STD-GEN-DVD-JPEG": "the DVD profile for JPEG images: readers of CD-only discs may not open them",
    "STD-GEN-DVD-J2K": "the DVD profile for JPEG 2000 images: readers of CD-only discs may not open them",
    "STD-GEN-MIME": "the e-mail profile, not one for discs: a reader that checks the profile may refuse "
                    "this disc (its images are in syntaxes no CD or DVD profile takes together: RLE, "
                    "JPEG-LS, JPEG beside JPEG 2000, or kept as exported)",
}
# Reasons of files an export holds as a matter of course; the others are listed first, where a
# real loss cannot hide behind thousands of these.
_ROUTINE = ("duplicate", "not DICOM", "a DICOMDIR of the input")
# More files than this of one folder and one reason are summed up in one line.
_MOST_LISTED = 3


def _shown(path, input_folder):
    relative = os.path.relpath(path, input_folder)
    return path if relative.startswith(os.pardir) else relative


def left_off_lines(skipped, input_folder):
    """One line per file left out, or per folder where many files share a reason."""
    groups = {}
    for left in skipped:
        kind = left.reason.split(":")[0]
        groups.setdefault((os.path.dirname(left.path), kind), []).append(left)
    ordered = sorted(groups.items(), key=lambda g: g[0][1].startswith(_ROUTINE))
    lines = []
    for (folder, kind), files in ordered:
        if len(files) > _MOST_LISTED:
            lines.append("    %s: %d files: %s (the first: %s: %s)" % (
                _shown(folder, input_folder), len(files), kind, os.path.basename(files[0].path),
                files[0].reason))
        else:
            lines.extend("    %s: %s" % (_shown(left.path, input_folder), left.reason) for left in files)
    return lines


def summary_lines(catalogue, request, counts, disc_bytes, profile, label, renamed):
    """counts: the DICOMDIR's records by type, which is what a reader of the disc will see."""
    lines = [
        "Disc in %s (label and file-set ID %s)" % (request.output_folder, label),
        "  patients: %d   studies: %d   series: %d   images: %d   bytes: %s" % (
            counts.get("PATIENT", 0), counts.get("STUDY", 0), counts.get("SERIES", 0),
            counts.get("IMAGE", 0), megabytes(catalogue.bytes)),
        "  reports: %d (encapsulated documents %d, structured reports %d)   key-object selections: %d" % (
            counts.get("ENCAP DOC", 0) + counts.get("SR DOCUMENT", 0), counts.get("ENCAP DOC", 0),
            counts.get("SR DOCUMENT", 0), counts.get("KEY OBJECT DOC", 0)),
        "  first patient: %s" % (catalogue.first_image.patient_name or "(no name)"),
        "  DICOMDIR profile: %s, %s" % (profile, PROFILE_MEANING.get(profile, "")),
    ]
    converted = {}
    for image in catalogue.placed:
        if image.exported_syntax:
            converted[image.exported_syntax] = converted.get(image.exported_syntax, 0) + 1
    for syntax, count in sorted(converted.items()):
        lines.append("  converted to Explicit VR Little Endian: %d image(s) in %s" % (count, CONVERTED[syntax]))
    if catalogue.patients > counts.get("PATIENT", 0):
        lines.append("  WARN: the DICOMDIR's %d patient record(s) hold %d people by name and birth date;"
                     " a DICOM viewer shows them as %d" % (counts.get("PATIENT", 0), catalogue.patients,
                                                          counts.get("PATIENT", 0)))
    lines.extend("  WARN: %s" % warning for warning in catalogue.warnings)
    if catalogue.made_up:
        lines.append("  made up for the DICOMDIRs, which need them (the images are unchanged):")
        lines.extend("    " + line for line in catalogue.made_up)
    if request.iso_file:
        lines.append("  ISO image: %s" % request.iso_file)
    medium = medium_for(disc_bytes)
    lines.append("  disc size: %s, fits %s" % (
        megabytes(disc_bytes), medium or "no single disc (larger than a 25 GB BD)"))
    for source, name in renamed:
        lines.append("  extras: %s is %s on the disc" % (source, name))
    if catalogue.skipped:
        lines.append("  left off the disc: %d file(s):" % len(catalogue.skipped))
        lines.extend(left_off_lines(catalogue.skipped, request.input_folder))
    else:
        lines.append("  left off the disc: none")
    return lines
