"""The DICOMDIRs, made by dcmtk's dcmmkdir: DATA/DICOMDIR for the viewer and one at the root,
with paths relative to it, for the DICOM readers that look there.

The profile follows the transfer syntaxes on the disc: plain Explicit VR Little Endian is the
CD profile, JPEG or JPEG 2000 alongside it the DVD profiles, anything else the general MIME
profile, which admits every standard syntax. Images outside the profile (Implicit VR, say) are
named with a warning instead of being refused: a disc a reader can open beats no disc.
"""

import os
import subprocess

from . import DiscError

EXPLICIT_LITTLE = "1.2.840.10008.1.2.1"
JPEG = {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.51", "1.2.840.10008.1.2.4.57",
        "1.2.840.10008.1.2.4.70"}
JPEG_2000 = {"1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91"}
_PROFILES = (
    ({EXPLICIT_LITTLE}, "-Pgp", "STD-GEN-CD"),
    ({EXPLICIT_LITTLE} | JPEG, "-Pdv", "STD-GEN-DVD-JPEG"),
    ({EXPLICIT_LITTLE} | JPEG_2000, "-Pd2", "STD-GEN-DVD-J2K"),
)
_MIME = ("-Pmi", "STD-GEN-MIME")
# Type 1 attributes an archive left empty are made up rather than failing the whole disc.
_LENIENT = ["+I", "-Nxc", "-Nec", "-Nrc", "+Nrs"]


def profile_for(transfer_syntaxes):
    """(dcmmkdir switch, profile name) for the set of transfer syntax UIDs present."""
    for allowed, switch, name in _PROFILES:
        if set(transfer_syntaxes) <= allowed:
            return switch, name
    return _MIME


def _start_dcmmkdir(folder, file_ids, switch, fileset_id, listing):
    """Starts one dcmmkdir writing folder/DICOMDIR for file_ids (relative to folder)."""
    # dcmtk reads @file arguments, so no count of images overflows the command line.
    with open(listing, "w", encoding="utf-8") as out:
        out.write("\n".join(file_ids) + "\n")
    try:
        return subprocess.Popen(
            ["dcmmkdir", switch] + _LENIENT + ["+F", fileset_id, "+D", "DICOMDIR", "@" + listing],
            cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except FileNotFoundError:
        raise DiscError("dcmmkdir (dcmtk) is not installed")


def _finish(process, where):
    output, _ = process.communicate()
    if process.returncode != 0:
        raise DiscError("dcmmkdir could not index the images for %s (exit %d):\n%s" % (
            where, process.returncode, output.decode("utf-8", "replace").strip()))


def make_dicomdirs(catalogue, root, fileset_id, progress):
    """Both DICOMDIRs, made side by side; returns the profile's name."""
    switch, name = profile_for(catalogue.transfer_syntaxes)
    progress.stage("DICOMDIR (%s)" % name)
    ids = [image_name for series in catalogue.series for _image, image_name in series.images]
    within_data = [i[len("DATA/"):] for i in ids]
    # The two read the same files at once; the second finds them in the page cache.
    # The lists sit in the output folder while they are needed: nothing is written elsewhere.
    listings = [os.path.join(root, ".dicomdir-data.txt"), os.path.join(root, ".dicomdir-root.txt")]
    running = []
    try:
        running.append((_start_dcmmkdir(os.path.join(root, "DATA"), within_data, switch, fileset_id,
                                        listings[0]), "DATA/DICOMDIR"))
        running.append((_start_dcmmkdir(root, ids, switch, fileset_id, listings[1]), "DICOMDIR"))
        for process, where in running:
            _finish(process, where)
    finally:
        for process, _where in running:
            if process.poll() is None:
                process.kill()
                process.wait()
        for listing in listings:
            if os.path.exists(listing):
                os.unlink(listing)
    progress.done()
    return name
