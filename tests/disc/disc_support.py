"""A messy export to make discs from, as an archive hands them out: nested folders with long
names and blanks, the synthetic study, one image in each of the common compressed encodings
(made by dcmtk and GDCM), a second patient in another character set and without a Study ID, a
bare data set, and the usual strays: a text file, Thumbs.db, the export's own DICOMDIR, a
truncated image and a second copy of an image. Also the disc tool's command line and small
checks on what it made."""

import hashlib
import io
import os
import shutil
import subprocess
import sys
import tempfile

import pydicom

SOURCE_DIR = os.environ.get("LUMIDRA_SOURCE_DIR") or os.path.dirname(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS_DIR = os.path.join(SOURCE_DIR, "tools")
MAKE_DISC = os.path.join(TOOLS_DIR, "make_disc.py")
sys.path.insert(0, TOOLS_DIR)

import sample_study  # noqa: E402
from study_files import write_part10  # noqa: E402

CT_SLICES = 6
MR_SLICES = 2
SECOND_PATIENT = "Hájková^Ivana"  # Latin-1 (ISO_IR 100)
FIRST_PATIENT = sample_study.PATIENT_NAME  # UTF-8 (ISO_IR 192)
# Encoder, its arguments, and the transfer syntax it writes.
ENCODINGS = (
    ("JPEG", ["dcmcjpeg", "+e1"], "1.2.840.10008.1.2.4.70"),
    ("JPEG-LS", ["dcmcjpls", "+el"], "1.2.840.10008.1.2.4.80"),
    ("RLE", ["dcmcrle"], "1.2.840.10008.1.2.5"),
    ("JPEG 2000", ["gdcmconv", "--j2k"], "1.2.840.10008.1.2.4.90"),
)
LONG_FOLDER = "Export 2024-03-15 N\u00e1vrat/CT chest and MR head, exported from the archive"


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as handle:
        for block in iter(lambda: handle.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def _with(elements, **changes):
    """The element list with values replaced by tag: {(g, e): value}."""
    replaced = dict(changes.get("values", {}))
    return [(tag, vr, replaced.get(tag, value)) for tag, vr, value in elements]


def write_synthetic_study(folder):
    """The synthetic study alone, every attribute in place, in long folders with blanks:
    (its series, the paths written)."""
    series = sample_study.build_study(ct_slices=CT_SLICES, mr_slices=MR_SLICES)
    paths = []
    for entry in series:
        name = "Series %d %s with blanks" % (entry.number, entry.description)
        sub = os.path.join(folder, LONG_FOLDER, name)
        os.makedirs(sub, exist_ok=True)
        for index, elements in enumerate(entry.images):
            path = os.path.join(sub, "%s.%d.dcm" % (entry.uid, index + 1))
            write_part10(path, elements)
            paths.append(path)
    return series, paths


class MessyInput:
    """Writes the export into folder; kept lists the files that must reach the disc whole,
    skipped maps the files that must be left out to a word their reason contains."""

    def __init__(self, folder):
        self.folder = folder
        self.kept = []  # input paths whose bytes are an image of the disc
        self.bare = []  # input paths of bare data sets (the disc adds a meta header)
        self.skipped = {}
        self.series_count = 0
        self.syntaxes = {}
        series, self.kept = write_synthetic_study(folder)
        study = os.path.join(folder, LONG_FOLDER)
        self.series_count = len(series)
        self.first_ct = os.path.join(study, "Series 1 Chest 2.5 mm with blanks",
                                     "%s.1.dcm" % series[0].uid)
        self._encodings(series[0].images[0])
        self._second_patient(series[2].images[0])
        self._bare(series[1].images[0])
        self._unknown_class(series[0].images[1])
        self._strays()

    def _encodings(self, ct_elements):
        folder = os.path.join(self.folder, "encoded")
        os.makedirs(folder)
        study_uid = sample_study.make_uid("study")
        for number, (name, command, syntax) in enumerate(ENCODINGS, start=10):
            series_uid = sample_study.make_uid("encoded series", name)
            elements = _with(ct_elements, values={
                (0x0008, 0x0018): sample_study.make_uid("encoded", name),
                (0x0020, 0x000E): series_uid, (0x0020, 0x0011): number,
                (0x0008, 0x103E): "Encoded " + name, (0x0020, 0x000D): study_uid})
            source = os.path.join(folder, "source-%d.dcm" % number)
            write_part10(source, elements)
            target = os.path.join(folder, "%s image.dcm" % name)
            subprocess.run(command + [source, target], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.STDOUT)
            os.unlink(source)
            self.kept.append(target)
            self.syntaxes[target] = syntax
            self.series_count += 1

    def _second_patient(self, cr_elements):
        elements = _with(cr_elements, values={
            (0x0008, 0x0005): "ISO_IR 100", (0x0010, 0x0010): SECOND_PATIENT,
            (0x0008, 0x0090): "", (0x0010, 0x0020): "LUM0002",
            (0x0020, 0x0010): "",  # an empty Study ID, which the DICOMDIR has to make up
            (0x0008, 0x0018): sample_study.make_uid("second patient", "cr"),
            (0x0020, 0x000D): sample_study.make_uid("second patient", "study"),
            (0x0020, 0x000E): sample_study.make_uid("second patient", "series")})
        dataset = _dataset(elements)
        path = os.path.join(self.folder, "other patient", "IMG00001")
        os.makedirs(os.path.dirname(path))
        dataset.save_as(path, write_like_original=False)
        self.kept.append(path)
        self.series_count += 1

    def _bare(self, mr_elements):
        """The data set alone: no preamble, no "DICM", no meta group."""
        elements = _with(mr_elements, values={
            (0x0008, 0x0018): sample_study.make_uid("bare", "mr"),
            (0x0020, 0x0013): 99})
        dataset = _dataset(elements)
        del dataset.file_meta
        path = os.path.join(self.folder, "I0000017")
        dataset.save_as(path, write_like_original=True)
        with open(path, "rb") as handle:
            assert handle.read(132)[128:] != b"DICM"
        self.bare.append(path)

    def _unknown_class(self, ct_elements):
        """An image of a SOP class no DICOMDIR profile knows (a vendor's own, say)."""
        elements = _with(ct_elements, values={
            (0x0008, 0x0016): "1.2.3.4.5.6", (0x0020, 0x0013): 999,
            (0x0008, 0x0018): sample_study.make_uid("unknown class", "ct")})
        path = os.path.join(self.folder, "vendor", "unknown class.dcm")
        os.makedirs(os.path.dirname(path))
        write_part10(path, elements)
        self.skipped[os.path.join("vendor", "unknown class.dcm")] = "left out of the DICOMDIR by dcmmkdir: invalid SOP class"

    def _strays(self):
        notes = os.path.join(self.folder, "notes")
        os.makedirs(notes)
        with open(os.path.join(notes, "read me first.txt"), "w") as out:
            out.write("Exported for the patient.\n")
        with open(os.path.join(notes, "Thumbs.db"), "wb") as out:
            out.write(bytes(range(256)) * 16)
        self.skipped[os.path.join("notes", "read me first.txt")] = "not DICOM"
        self.skipped[os.path.join("notes", "Thumbs.db")] = "not DICOM"
        with open(self.first_ct, "rb") as handle:
            data = handle.read()
        with open(os.path.join(self.folder, "damaged.dcm"), "wb") as out:
            out.write(data[:len(data) // 2])
        self.skipped["damaged.dcm"] = "truncated"
        # Sorts after the original, so the original is the copy kept.
        duplicate = os.path.join(self.folder, "zz copy", "same image again.dcm")
        os.makedirs(os.path.dirname(duplicate))
        shutil.copyfile(self.first_ct, duplicate)
        self.skipped[os.path.join("zz copy", "same image again.dcm")] = "duplicate"
        self._export_dicomdir()

    def _export_dicomdir(self):
        """The export's own index, made by dcmmkdir over a copy of one image."""
        with tempfile.TemporaryDirectory() as scratch:
            os.makedirs(os.path.join(scratch, "IMAGES"))
            shutil.copyfile(self.first_ct, os.path.join(scratch, "IMAGES", "IM1"))
            subprocess.run(["dcmmkdir", "-q", "+I", "+r", "IMAGES"], cwd=scratch, check=True)
            shutil.copyfile(os.path.join(scratch, "DICOMDIR"), os.path.join(self.folder, "DICOMDIR"))
        self.skipped["DICOMDIR"] = "a DICOMDIR of the input"

    @property
    def image_count(self):
        return len(self.kept) + len(self.bare)


def _dataset(elements):
    from study_files import dataset_of
    return dataset_of(elements, None)


def stand_in_programs(folder):
    """Files to carry as the programs the disc tests do not run: their bytes are checked."""
    os.makedirs(folder, exist_ok=True)
    programs = {}
    for name in ("lumidra.exe", "7za.exe"):
        path = os.path.join(folder, name)
        with open(path, "wb") as out:
            out.write(b"MZ stand-in for " + name.encode() + b"\n")
        programs[name] = path
    return programs


def launcher_under_test():
    return os.environ.get("LUMIDRA_LAUNCHER") or os.path.join(SOURCE_DIR, "build", "native", "lumidra")


def linux_extractor():
    return os.path.join(SOURCE_DIR, "node_modules", "7zip-bin", "linux", "x64", "7za")


def disc_command(study, output, programs, *options, linux_launcher=None):
    return [sys.executable, MAKE_DISC, study, output,
            "--windows-launcher", programs["lumidra.exe"], "--windows-7za", programs["7za.exe"],
            "--linux-launcher", linux_launcher or launcher_under_test(),
            "--linux-7za", linux_extractor()] + list(options)


def run_disc(study, output, programs, *options, linux_launcher=None):
    """The tool's exit code, standard output and standard error."""
    result = subprocess.run(disc_command(study, output, programs, *options, linux_launcher=linux_launcher),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8")


def files_below(folder):
    """Every file below folder as a relative path with '/' separators."""
    found = []
    for top, _folders, files in os.walk(folder):
        for name in files:
            found.append(os.path.relpath(os.path.join(top, name), folder).replace(os.sep, "/"))
    return sorted(found)


def referenced_files(dicomdir):
    """The ReferencedFileIDs of a DICOMDIR as dcmtk reads them, '/' separated."""
    output = subprocess.run(["dcmdump", "-q", "+P", "0004,1500", dicomdir], check=True,
                            stdout=subprocess.PIPE).stdout.decode("utf-8")
    found = []
    for line in output.splitlines():
        if "[" in line:
            found.append(line[line.index("[") + 1:line.index("]")].replace("\\", "/"))
    return found


def read_header(path):
    return pydicom.dcmread(path, stop_before_pixels=True)


def assert_moved_index_is_dcmmkdirs(test, disc):
    """DATA/DICOMDIR is the root's index moved into DATA by its bytes: the move of an index
    dcmmkdir makes over the disc's images from the root must be, byte for byte, the index it
    makes over them from DATA (but for the instance UID of its own), and dicom3tools must
    accept the disc's DATA/DICOMDIR."""
    from disc import dicomdir_bytes
    from unittest import mock
    images = [name for name in files_below(disc) if name.startswith("DATA/DICOM/")]
    with tempfile.TemporaryDirectory() as scratch:
        made = {}
        for folder, names in (("", images), ("DATA", [name[len("DATA/"):] for name in images])):
            made[folder] = os.path.join(scratch, folder or "ROOT")
            subprocess.run(["dcmmkdir", "-q", "-Pmi", "-Nxc", "-Nec", "-Nrc", "+Nrs", "+I", "+F", "MOVED", "+D",
                            made[folder]] + names, cwd=os.path.join(disc, folder), check=True)
        with open(made[""], "rb") as handle:
            at_root = handle.read()
        with open(made["DATA"], "rb") as handle:
            in_data = handle.read()
    index = dicomdir_bytes.Dicomdir(at_root)
    test.assertEqual(sorted(index.file_ids()), images)
    own_uid = pydicom.dcmread(io.BytesIO(in_data)).file_meta.MediaStorageSOPInstanceUID
    with mock.patch.object(dicomdir_bytes, "generate_uid", return_value=own_uid):
        test.assertEqual(index.relocated("DATA"), in_data)
    moved = pydicom.dcmread(io.BytesIO(index.relocated("DATA")))
    test.assertNotEqual(moved.file_meta.MediaStorageSOPInstanceUID,
                        pydicom.dcmread(io.BytesIO(at_root)).file_meta.MediaStorageSOPInstanceUID)
    verified = subprocess.run(["dciodvfy", os.path.join(disc, "DATA", "DICOMDIR")], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT).stdout.decode("utf-8", "replace")
    test.assertIn("BasicDirectory", verified)
    test.assertNotIn("Error", verified)
