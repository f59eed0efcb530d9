#!/usr/bin/env python3
"""Turns a folder of DICOM files into the root of a Lumidra study disc, and an ISO image of it.

    python3 tools/make_disc.py STUDY_FOLDER OUTPUT_FOLDER [--iso FILE] [--label TEXT]
                               [--extras FOLDER] [--force] [--institution TEXT] [--contact TEXT]

Every file below STUDY_FOLDER is looked at, whatever its name; DICOM is recognised by content.
Images in Implicit VR, big endian or deflated are converted losslessly to Explicit VR Little
Endian (dcmconv), as the CD profile asks; the others go on the disc byte for byte as exported.
Files that are not DICOM, DICOMDIRs of the input, damaged files and second copies of an image
are left out and named in the summary with the reason. Images that give one Patient ID two
names or birth dates stop the build (nothing is written) unless --keep-patient-conflicts.
The disc folder holds:

    lumidra.exe, BIN/7za.exe          the launcher and extractor for Windows
    lumidra, BIN/7za                  the launcher and extractor for x86-64 Linux
    AUTORUN.INF, README.TXT
    DICOMDIR                          the index for DICOM readers (paths from the root)
    DATA/DICOMDIR                     the same index for the viewer (paths from DATA)
    DATA/DICOM/PA.../ST.../SE.../IM...  every image, its bytes those of the input file (a bare
                                      data set gets the Part 10 preamble and meta header first;
                                      converted ones, see above)
    DATA/7z/viewer.7z                 the viewer page
    INDEX.HTM, VIEWER/                the same viewer, opened from the disc in any browser
    data.zip                          DATA/DICOMDIR and the first series
    DATA/DW                           the files given with --extras, under ISO 9660 names

Needs pydicom, dcmtk (dcmmkdir, dcmconv), a 7-Zip (7zz, 7za or 7z) and, for --iso, xorriso. `./run disc`
installs them and builds the launchers and the viewer first.
"""

import argparse
import os
import re
import sys

TOOLS_DIR = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(TOOLS_DIR)
sys.path.insert(0, TOOLS_DIR)

from disc.interpreter import ensure_pydicom  # noqa: E402

ensure_pydicom()

# The builder never looks at pixel values, which is all pydicom loads numpy for when it finds it;
# without it the builder starts 40 ms sooner, and each reader process forks smaller.
sys.modules.setdefault("numpy", None)

from disc import DiscError  # noqa: E402
from disc.build import DiscRequest, Program, build_disc  # noqa: E402
from disc.progress import Progress, silent_progress  # noqa: E402

SEVEN_ZIP_BIN = os.path.join(SOURCE_DIR, "node_modules", "7zip-bin")


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="make_disc.py", description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="Exit status: 0 when the disc was made, 1 when it was not (nothing is left "
               "behind), 2 for a wrong command line.")
    parser.add_argument("study_folder", metavar="STUDY_FOLDER", help="folder of DICOM files, searched recursively")
    parser.add_argument("output_folder", metavar="OUTPUT_FOLDER", help="the disc's root folder (made; must be empty)")
    parser.add_argument("--iso", metavar="FILE", default="",
                        help="also write an ISO 9660 image (Joliet, Rock Ridge) of the disc")
    parser.add_argument("--label", metavar="TEXT", default="",
                        help="volume label (default: from the patient and the study)")
    parser.add_argument("--extras", metavar="FOLDER", default="",
                        help="files to carry in DATA/DW (reports, documents)")
    parser.add_argument("--force", action="store_true",
                        help="replace a disc this tool made in OUTPUT_FOLDER, and an existing ISO; the old "
                             "one stays until the new one is complete")
    parser.add_argument("--replace-any-folder", action="store_true",
                        help="replace the content of OUTPUT_FOLDER even when this tool did not make it")
    parser.add_argument("--keep-patient-conflicts", action="store_true",
                        help="put images that give one Patient ID different names or birth dates on the "
                             "disc as they are, with a warning each, instead of refusing them")
    parser.add_argument("--keep-as-exported", action="store_true",
                        help="carry every image byte for byte as exported; by default images in Implicit VR, "
                             "big endian or deflated are made Explicit VR Little Endian (losslessly), which the "
                             "CD profile wants")
    parser.add_argument("--institution", metavar="TEXT", default="",
                        help="who made the disc, for README.TXT (default: the images' Institution Name)")
    parser.add_argument("--contact", metavar="TEXT", default="",
                        help="how to reach them, for README.TXT (default: the images' Institution Address)")
    parser.add_argument("--viewer", metavar="FOLDER", default=os.path.join(SOURCE_DIR, "build", "viewer"),
                        help="the viewer page to pack (default: build/viewer, from ./run viewer)")
    parser.add_argument("--viewer-cache", metavar="FOLDER", default=os.path.join(SOURCE_DIR, "build", "viewer-packs"),
                        help="where the packed viewer is kept for the next disc, by its content (default: "
                             "build/viewer-packs); an empty value packs it every time")
    parser.add_argument("--index-page", metavar="FOLDER", default=os.path.join(SOURCE_DIR, "build", "viewer-disc"),
                        help="INDEX.HTM and VIEWER/ for the disc's root (default: build/viewer-disc, from ./run viewer)")
    parser.add_argument("--windows-launcher", metavar="FILE",
                        default=os.path.join(SOURCE_DIR, "build", "windows", "lumidra.exe"),
                        help="lumidra.exe to carry (default: build/windows/lumidra.exe)")
    parser.add_argument("--linux-launcher", metavar="FILE",
                        default=os.path.join(SOURCE_DIR, "build", "native", "lumidra"),
                        help="the Linux launcher to carry (default: build/native/lumidra)")
    parser.add_argument("--windows-7za", metavar="FILE",
                        default=os.path.join(SEVEN_ZIP_BIN, "win", "x64", "7za.exe"),
                        help="BIN/7za.exe (default: 7zip-bin's, from npm ci)")
    parser.add_argument("--linux-7za", metavar="FILE",
                        default=os.path.join(SEVEN_ZIP_BIN, "linux", "x64", "7za"),
                        help="BIN/7za (default: 7zip-bin's, from npm ci)")
    parser.add_argument("--quiet", action="store_true", help="no progress, only the summary")
    return parser.parse_args(argv)


def request_of(args):
    programs = [
        Program(args.windows_launcher, "lumidra.exe", False),
        Program(args.windows_7za, "BIN/7za.exe", False),
        Program(args.linux_launcher, "lumidra", True),
        Program(args.linux_7za, "BIN/7za", True),
    ]
    return DiscRequest(
        input_folder=os.path.abspath(args.study_folder), output_folder=os.path.abspath(args.output_folder),
        viewer_folder=os.path.abspath(args.viewer), programs=programs,
        iso_file=os.path.abspath(args.iso) if args.iso else "", label=args.label,
        extras=os.path.abspath(args.extras) if args.extras else "", force=args.force,
        replace_any=args.replace_any_folder, keep_conflicts=args.keep_patient_conflicts,
        keep_as_exported=args.keep_as_exported,
        institution=args.institution, contact=args.contact, version=project_version(),
        index_page_folder=os.path.abspath(args.index_page),
        viewer_cache=os.path.abspath(args.viewer_cache) if args.viewer_cache else "")


def project_version():
    """The version CMakeLists.txt gives the project, which the launchers on the disc carry."""
    try:
        with open(os.path.join(SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as cmake:
            found = re.search(r"project\(\s*Lumidra\s+VERSION\s+([0-9.]+)", cmake.read())
    except OSError:
        return ""
    return found.group(1) if found else ""


def main(argv=None):
    # Names in any language reach a terminal that cannot show them as escapes, not as a crash
    # after the disc is made.
    for stream in (sys.stdout, sys.stderr):
        stream.reconfigure(errors="backslashreplace")
    args = parse_arguments(argv)
    progress = silent_progress() if args.quiet else Progress(sys.stderr)
    try:
        result = build_disc(request_of(args), progress)
    except (DiscError, OSError) as error:
        print("make_disc: %s" % error, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("\nmake_disc: stopped; the partial disc was removed", file=sys.stderr)
        return 130
    print("\n".join(result.summary))
    return 0


if __name__ == "__main__":
    sys.exit(main())
