"""What sits at the disc's root besides the study: the two launchers and their extractors,
INDEX.HTM with the viewer beside it for computers that run neither, AUTORUN.INF for Windows,
README.TXT for the person holding the disc, and DATA/DW."""

import os
import shutil
import stat

from . import DiscError

AUTORUN = ("[autorun]\r\n"
           "open=lumidra.exe\r\n"
           "icon=lumidra.exe,0\r\n"
           "label={label}\r\n"
           "action=Open the study with Lumidra\r\n")

README = """{label}

This disc holds a medical imaging study in DICOM format and a viewer for it.

Windows: open the disc and start lumidra.exe (AutoPlay may offer it).
Linux:   open a terminal in the disc's folder and start ./lumidra
The viewer opens in your web browser. Close it with the Terminate button
(Ctrl+C in the terminal on Linux); nothing is left on your computer.

Mac, Chromebook, or a computer that may not run programs from a disc:
         open INDEX.HTM on the disc in Chrome, Edge, Firefox or Safari.
         When the page asks, choose the disc's folder (the one holding
         INDEX.HTM) or drag the disc onto the page. Nothing is installed
         and nothing leaves your computer.

Contents: {patients} patient(s), {studies} stud(ies), {series} series, {images} images.
The images are under DATA/DICOM, indexed by DICOMDIR for other DICOM readers.
"""

_RUN_BITS = stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH


def place_program(source, root, relative, executable):
    """Copies one program onto the disc; a program that is missing is named, not guessed."""
    if not os.path.isfile(source):
        raise DiscError("%s is missing (needed as %s)" % (source, relative))
    target = os.path.join(root, *relative.split("/"))
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(source, target)
    mode = 0o644 | (_RUN_BITS if executable else 0)
    os.chmod(target, mode)


def write_text(root, relative, text):
    """A text file with Windows line ends, which every system's editor reads."""
    with open(os.path.join(root, relative), "w", encoding="utf-8", newline="") as out:
        out.write(text.replace("\r\n", "\n").replace("\n", "\r\n"))


def write_root_texts(root, label, catalogue):
    write_text(root, "AUTORUN.INF", AUTORUN.format(label=label))
    write_text(root, "README.TXT", README.format(
        label=label, patients=catalogue.patients, studies=catalogue.studies,
        series=len(catalogue.series), images=catalogue.images))


def place_index_page(folder, root):
    """INDEX.HTM and the viewer beside it (VIEWER/), which open from the disc with no program."""
    shutil.copytree(folder, root, dirs_exist_ok=True)


def copy_extras(extras, root):
    """DATA/DW: the extra documents given with --extras, as they are."""
    if not os.path.isdir(extras):
        raise DiscError("--extras %s is not a folder" % extras)
    shutil.copytree(extras, os.path.join(root, "DATA", "DW"), symlinks=False)
