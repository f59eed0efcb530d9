#!/usr/bin/env python3
"""Builds the project's sample disc in a folder: the synthetic study (tools/sample_study.py) made
into a disc by the disc builder (tools/make_disc.py), then the variations tests ask for.

    python3 tools/make_sample_disc.py build/sample-disc [options]

The folder then looks like the root of a real disc:

    BIN/7za (or BIN/7za.exe with --windows)  the 7-Zip console extractor
    DATA/7z/viewer.7z                          the viewer page, index.html at its root
    INDEX.HTM, VIEWER/                         the same viewer from file://, when ./run viewer has made it
    DICOMDIR, DATA/DICOMDIR, DATA/DICOM/...    the whole study
    DATA/DW/...                                a couple of small extra files
    data.zip                                   DATA/DICOMDIR and the first series

The launchers are not put on it: tests start the one they built. Needs what the disc builder
needs (pydicom, dcmtk, a 7-Zip).
"""

import argparse
import os
import shutil
import stat
import sys
import tempfile

TOOLS_DIR = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, TOOLS_DIR)

from disc.interpreter import ensure_pydicom  # noqa: E402

ensure_pydicom()

from disc import DiscError  # noqa: E402
from disc.archives import find_seven_zip  # noqa: E402
from disc.build import DiscRequest, build_disc as build_from_folder  # noqa: E402
from disc.progress import silent_progress  # noqa: E402
from sample_study import build_study, write_study  # noqa: E402

SOURCE_DIR = os.path.dirname(TOOLS_DIR)
# The viewer page as built by ./run viewer.
VIEWER_DIR = os.environ.get("LUMIDRA_VIEWER_DIR", os.path.join(SOURCE_DIR, "build", "viewer"))
# INDEX.HTM and VIEWER/, also from ./run viewer; a sample disc without them still serves the launcher.
INDEX_PAGE_DIR = os.path.join(os.path.dirname(VIEWER_DIR), "viewer-disc")
WINDOWS_7ZA = os.path.join(SOURCE_DIR, "node_modules", "7zip-bin", "win", "x64", "7za.exe")
SEVEN_ZIP_NAMES = ("7zz", "7za", "7z")
SAMPLE_LABEL = "LUMIDRA_SAMPLE"
STANDALONE_7ZZ = "/usr/bin/7zz"
DISC_MARKER = os.path.join("DATA", "7z", "viewer.7z")


def check_output(folder):
    """An old sample disc in folder may be replaced; anything else in it is refused."""
    if os.path.lexists(folder):
        if not os.path.isdir(folder):
            raise DiscError("%s exists and is not a folder" % folder)
        if os.listdir(folder) and not os.path.exists(os.path.join(folder, DISC_MARKER)):
            raise DiscError("%s is not empty and does not look like a sample disc; "
                            "refusing to replace it" % folder)


def install_extractor(disc, windows):
    bin_dir = os.path.join(disc, "BIN")
    os.makedirs(bin_dir, exist_ok=True)
    if windows:
        if not os.path.isfile(WINDOWS_7ZA):
            raise DiscError("%s is missing; run npm ci first" % WINDOWS_7ZA)
        shutil.copy2(WINDOWS_7ZA, os.path.join(bin_dir, "7za.exe"))
        return "BIN/7za.exe (Windows 7-Zip from 7zip-bin)"
    target = os.path.join(bin_dir, "7za")
    if os.path.isfile(STANDALONE_7ZZ):
        shutil.copy2(STANDALONE_7ZZ, target)
        described = "BIN/7za (copy of %s)" % STANDALONE_7ZZ
    else:
        # The distribution's 7za/7z are wrapper scripts around a library folder, so a copy of
        # them would not run from the disc; a wrapper that looks them up works anywhere.
        with open(target, "w") as out:
            out.write("#!/bin/sh\n"
                      "for name in %s; do\n"
                      "  if command -v \"$name\" >/dev/null 2>&1; then exec \"$name\" \"$@\"; fi\n"
                      "done\n"
                      "echo '7za: no 7-Zip on PATH' >&2\n"
                      "exit 127\n" % " ".join(SEVEN_ZIP_NAMES))
        described = "BIN/7za (wrapper around the 7-Zip on PATH)"
    os.chmod(target, os.stat(target).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    return described


def corrupt_archive(archive):
    """Keeps the 7z signature but damages the headers and cuts the end off,
    so that any extractor fails on it."""
    with open(archive, "rb") as handle:
        data = bytearray(handle.read())
    keep = max(64, len(data) // 2)
    data = data[:keep]
    for i in range(12, min(32, len(data))):
        data[i] ^= 0x5A
    with open(archive, "wb") as handle:
        handle.write(bytes(data))


def write_dw(dw):
    os.makedirs(dw, exist_ok=True)
    with open(os.path.join(dw, "README.TXT"), "w", newline="\r\n") as out:
        out.write("Lumidra sample disc\n"
                  "Synthetic images made for testing; no patient data.\n")
    with open(os.path.join(dw, "STUDY.TXT"), "w", newline="\r\n") as out:
        out.write("Study: CT CHEST + MR HEAD + CR (SAMPLE)\nSeries: 3\n")


def add_large_file(data_dir, megabytes):
    """One big file under DATA/DICOM so that the deferred copy takes a while."""
    path = os.path.join(data_dir, "DICOM", "LARGE.BIN")
    block = bytes((i * 131 + 7) & 0xFF for i in range(1 << 20))
    with open(path, "wb") as out:
        for _ in range(megabytes):
            out.write(block)
    return path


def build_disc(disc, large_file_mb=0, corrupt_viewer=False, no_dicom=False, no_dw=False,
               windows=False):
    check_output(disc)
    find_seven_zip()
    with tempfile.TemporaryDirectory(prefix="lumidra-sample-") as scratch:
        study = os.path.join(scratch, "study")
        series = build_study()
        written = write_study(series, study)
        extras = ""
        if not no_dw:
            extras = os.path.join(scratch, "DW")
            write_dw(extras)
        index_page = INDEX_PAGE_DIR if os.path.isfile(os.path.join(INDEX_PAGE_DIR, "INDEX.HTM")) else ""
        request = DiscRequest(input_folder=study, output_folder=disc, viewer_folder=VIEWER_DIR,
                              label=SAMPLE_LABEL, extras=extras, force=True, replace_any=True,
                              index_page_folder=index_page,
                              viewer_cache=os.path.join(SOURCE_DIR, "build", "viewer-packs"))
        result = build_from_folder(request, silent_progress())
    data_dir = os.path.join(disc, "DATA")
    images = sum(len(paths) for paths in written)
    notes = [install_extractor(disc, windows),
             "data.zip (%d files: DICOMDIR and the first series)" % (1 + len(result.catalogue.first_shown.images)),
             "DATA/DICOM (%d images in %d series), DICOMDIR and DATA/DICOMDIR" % (images, len(series))]
    archive = os.path.join(disc, DISC_MARKER)
    if corrupt_viewer:
        corrupt_archive(archive)
        notes.append("DATA/7z/viewer.7z (deliberately corrupt)")
    else:
        notes.append("DATA/7z/viewer.7z")
    if not no_dw:
        notes.append("DATA/DW")
    if large_file_mb > 0 and not no_dicom:
        add_large_file(data_dir, large_file_mb)
        notes.append("DATA/DICOM/LARGE.BIN (%d MiB)" % large_file_mb)
    if no_dicom:
        shutil.rmtree(os.path.join(data_dir, "DICOM"))
        notes.append("no DATA/DICOM")
    return notes



def main(argv=None):
    parser = argparse.ArgumentParser(description="Build a sample Lumidra study disc.")
    parser.add_argument("output", help="folder for the disc (replaced if it holds an old one)")
    parser.add_argument("--large-file-mb", type=int, default=0, metavar="N",
                        help="add one file of N MiB under DATA/DICOM")
    parser.add_argument("--corrupt-viewer", action="store_true",
                        help="make DATA/7z/viewer.7z unreadable")
    parser.add_argument("--no-dicom", action="store_true", help="leave out DATA/DICOM")
    parser.add_argument("--no-dw", action="store_true", help="leave out DATA/DW")
    parser.add_argument("--windows", action="store_true",
                        help="carry the Windows extractor as BIN/7za.exe")
    args = parser.parse_args(argv)
    if args.large_file_mb < 0:
        parser.error("--large-file-mb must not be negative")
    try:
        notes = build_disc(os.path.abspath(args.output), args.large_file_mb,
                           args.corrupt_viewer, args.no_dicom, args.no_dw, args.windows)
    except (DiscError, OSError) as error:
        print("make_sample_disc: %s" % error, file=sys.stderr)
        return 1
    print("Sample disc in %s:" % args.output)
    for note in notes:
        print("  " + note)
    return 0


if __name__ == "__main__":
    sys.exit(main())
