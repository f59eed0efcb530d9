"""The files a benchmark serves and copies, made once per run folder and reused: static files of
the three sizes, a 500-file study, the bench discs, and the 1 GiB tree for the deferred copy."""

import os
import random
import shutil
import subprocess
import sys
import zipfile

KIB = 1024
MIB = 1024 * 1024
SLICE = 512 * KIB
STATIC_SIZES = (KIB, SLICE, 64 * MIB)
_HIGH_BYTE = bytes(value & 0x0F for value in range(256))


def slice_bytes(seed, size=SLICE):
    """Deterministic content that compresses about as well as CT pixel data: 16-bit samples
    whose high bytes vary little."""
    data = bytearray(random.Random(seed).randbytes(size))
    data[1::2] = bytes(data[1::2]).translate(_HIGH_BYTE)
    return bytes(data)


def write_file(path, size, seed):
    """Writes size bytes (repeating one slice) unless a file of that size is there already."""
    if os.path.isfile(path) and os.path.getsize(path) == size:
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    chunk = slice_bytes(seed, min(size, SLICE))
    temporary = path + ".part"
    with open(temporary, "wb") as out:
        left = size
        while left > 0:
            out.write(chunk[:left])
            left -= min(left, len(chunk))
    os.replace(temporary, path)


def static_name(size):
    return "/static/f%d.bin" % size


def study_paths(count):
    return ["/study/S%02d/I%04d.dcm" % (index // 100, index) for index in range(count)]


def make_web_root(root, study_files):
    """The static files and the study under root; returns the study's paths file."""
    for size in STATIC_SIZES:
        write_file(os.path.join(root, static_name(size).lstrip("/")), size, size)
    paths = study_paths(study_files)
    for index, path in enumerate(paths):
        write_file(os.path.join(root, path.lstrip("/")), SLICE, 1000 + index)
    paths_file = os.path.join(root, "study-paths.txt")
    with open(paths_file, "w") as out:
        out.write("\n".join(paths) + "\n")
    return paths_file


def make_disc(source_dir, folder, extra_data_mib=0):
    """The project's sample disc, with the static files under DATA/DICOM/BENCH (so that the
    deferred copy brings them into the workspace) and, if asked, data.zip enlarged by
    extra_data_mib MiB of 512 KiB slices under DATA/DICOM/BULK."""
    marker = os.path.join(folder, "bench-disc-%d.done" % extra_data_mib)
    if os.path.exists(marker):
        return folder
    builder = os.path.join(source_dir, "tools", "make_sample_disc.py")
    subprocess.run([sys.executable, builder, folder], check=True, stdout=subprocess.DEVNULL)
    for size in STATIC_SIZES:
        write_file(os.path.join(folder, "DATA", "DICOM", "BENCH", "f%d.bin" % size), size, size)
    if extra_data_mib:
        with zipfile.ZipFile(os.path.join(folder, "data.zip"), "a", zipfile.ZIP_DEFLATED) as archive:
            for index in range(extra_data_mib * MIB // SLICE):
                archive.writestr("DATA/DICOM/BULK/I%04d.dcm" % index, slice_bytes(5000 + index))
    with open(marker, "w"):
        pass
    return folder


def make_copy_tree(disc, total_bytes):
    """disc/DATA/DICOM holding total_bytes in 512 KiB files, 128 to a folder; returns the count."""
    count = total_bytes // SLICE
    for index in range(count):
        path = os.path.join(disc, "DATA", "DICOM", "S%03d" % (index // 128), "I%05d.dcm" % index)
        if not (os.path.isfile(path) and os.path.getsize(path) == SLICE):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(os.urandom(SLICE))
    return count


def remove(path):
    shutil.rmtree(path, ignore_errors=True)
