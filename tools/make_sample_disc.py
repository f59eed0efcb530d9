#!/usr/bin/env python3
"""Builds a sample Lumidra study disc in a folder.

    python3 tools/make_sample_disc.py build/sample-disc [options]

The folder then looks like the root of a real disc:

    BIN/7za (or BIN/7za.exe with --windows)  the 7-Zip console extractor
    DATA/7z/viewer.7z                          the viewer page, index.html at its root
    DATA/DICOMDIR, DATA/DICOM/...              the whole study
    DATA/DW/...                                a couple of small extra files
    data.zip                                   DATA/DICOMDIR and the first series

Needs Python 3, a 7-Zip (7zz, 7za or 7z) and dcmtk's dcmmkdir.
"""

import argparse
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import zipfile

TOOLS_DIR = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, TOOLS_DIR)

from sample_study import build_study, write_study  # noqa: E402

SOURCE_DIR = os.path.dirname(TOOLS_DIR)
# The viewer page as built by ./run viewer.
VIEWER_DIR = os.environ.get("LUMIDRA_VIEWER_DIR", os.path.join(SOURCE_DIR, "build", "viewer"))
WINDOWS_7ZA = os.path.join(SOURCE_DIR, "node_modules", "7zip-bin", "win", "x64", "7za.exe")
SEVEN_ZIP_NAMES = ("7zz", "7za", "7z")
STANDALONE_7ZZ = "/usr/bin/7zz"
CONFIG_IN_VIEWER = os.path.join("data", "config", "config-lumidra.json")
DISC_MARKER = os.path.join("DATA", "7z", "viewer.7z")


class DiscError(Exception):
    pass


def find_seven_zip():
    for name in SEVEN_ZIP_NAMES:
        path = shutil.which(name)
        if path:
            return path
    raise DiscError("no 7-Zip found on PATH (tried %s)" % ", ".join(SEVEN_ZIP_NAMES))


def run(command, cwd=None):
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        raise DiscError("%s failed (exit %d):\n%s" % (
            " ".join(command), result.returncode, result.stdout.decode("utf-8", "replace")))
    return result.stdout


def prepare_output(folder):
    """An empty output folder; an old sample disc in it is replaced, anything else is refused."""
    if os.path.lexists(folder):
        if not os.path.isdir(folder):
            raise DiscError("%s exists and is not a folder" % folder)
        if os.listdir(folder) and not os.path.exists(os.path.join(folder, DISC_MARKER)):
            raise DiscError("%s is not empty and does not look like a sample disc; "
                            "refusing to replace it" % folder)
        shutil.rmtree(folder)
    os.makedirs(folder)


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


def pack_viewer(seven_zip, archive):
    config = os.path.join(VIEWER_DIR, CONFIG_IN_VIEWER)
    with open(config, encoding="utf-8") as handle:
        if "localhost:8000" not in handle.read():
            raise DiscError("%s does not name localhost:8000" % config)
    entries = sorted(os.listdir(VIEWER_DIR))
    if "index.html" not in entries:
        raise DiscError("%s/index.html is missing; run ./run viewer first" % VIEWER_DIR)
    os.makedirs(os.path.dirname(archive), exist_ok=True)
    run([seven_zip, "a", "-t7z", "-bd", "-y", archive, "--"] + entries, cwd=VIEWER_DIR)


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


def make_dicomdir(data_dir):
    run(["dcmmkdir", "-q", "+r", "+F", "LUMIDRA", "+D", "DICOMDIR", "DICOM"], cwd=data_dir)


def make_data_zip(disc, data_dir, first_series):
    """data.zip holds, under DATA/, the index and the first series."""
    members = [os.path.join(data_dir, "DICOMDIR")] + first_series
    with zipfile.ZipFile(os.path.join(disc, "data.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
        for path in members:
            relative = os.path.relpath(path, os.path.dirname(data_dir))
            archive.write(path, relative.replace(os.sep, "/"))
    return len(members)


def write_dw(data_dir):
    dw = os.path.join(data_dir, "DW")
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
    prepare_output(disc)
    seven_zip = find_seven_zip()
    data_dir = os.path.join(disc, "DATA")
    notes = [install_extractor(disc, windows)]

    with tempfile.TemporaryDirectory() as scratch:
        study_data = os.path.join(scratch, "DATA")
        series = build_study()
        written = write_study(series, os.path.join(study_data, "DICOM"))
        make_dicomdir(study_data)
        count = make_data_zip(disc, study_data, written[0])
        notes.append("data.zip (%d files: DICOMDIR and the first series)" % count)
        shutil.copytree(study_data, data_dir)
    images = sum(len(paths) for paths in written)
    notes.append("DATA/DICOM (%d images in %d series) and DATA/DICOMDIR" % (images, len(series)))

    archive = os.path.join(disc, DISC_MARKER)
    pack_viewer(seven_zip, archive)
    if corrupt_viewer:
        corrupt_archive(archive)
        notes.append("DATA/7z/viewer.7z (deliberately corrupt)")
    else:
        notes.append("DATA/7z/viewer.7z")

    if not no_dw:
        write_dw(data_dir)
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
