"""What sits at the disc's root besides the study: the two launchers and their extractors,
INDEX.HTM with the viewer beside it for computers that run neither, AUTORUN.INF for Windows and
README.TXT for the person holding the disc."""

import os
import re
import shutil
import stat
from dataclasses import dataclass

from . import DiscError

AUTORUN = ("[autorun]\r\n"
           "open=lumidra.exe\r\n"
           "icon=lumidra.exe,0\r\n"
           "label={label}\r\n"
           "action=Open the study with Lumidra\r\n")

README = """{label}

This disc holds a medical imaging study in DICOM format and a viewer for it.

Made by:  {institution}
Contact:  {contact}
Made on {date} by {application}.

Starting the viewer
  Windows:           open the disc and start lumidra.exe (AutoPlay may offer it).
  Linux (x86-64):    open a terminal in the disc's folder and start ./lumidra
  Any other system:  open the disc with a DICOM viewer; it finds the study
                     through the DICOMDIR file at the disc's root.
The viewer opens in your web browser. Close it with the Terminate button
(Ctrl+C in the terminal on Linux); nothing is left on your computer.

Mac, Chromebook, or a computer that may not run programs from a disc:
         open INDEX.HTM on the disc in Chrome, Edge, Firefox or Safari.
         When the page asks, choose the disc's folder (the one holding
         INDEX.HTM) or drag the disc onto the page. Nothing is installed
         and nothing leaves your computer.

Contents: {patients}, {studies} stud(ies), {series} series, {images} images,
{reports} report(s), {selections} key-object selection(s).
The images are under DATA/DICOM. The disc's index is the DICOMDIR at its
root (file-set {fileset_id}, profile {profile}); DATA/DICOMDIR names the
same images for the viewer on this disc.

These images are a copy made for the patient and the doctors treating them.
They are not a replacement for the originals held by the institution above;
a copy viewed on another computer may not show everything the originals
hold. Ask the institution for the report that goes with them.
"""

# The README's "Made on ... by" line names it, and so tells --force a disc of its own.
APPLICATION = "Lumidra disc builder"
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


@dataclass
class Maker:
    application: str  # the builder's name and version
    institution: str = ""
    contact: str = ""
    date: str = ""  # ISO 8601, the day the disc was made


def patients_text(catalogue):
    """How many patients, and a warning where some share a Patient ID."""
    text = "%d patient(s)" % catalogue.patients
    if catalogue.patient_ids < catalogue.patients:
        text += " under %d Patient ID(s) (a DICOM viewer may show them as one)" % catalogue.patient_ids
    return text


def write_root_texts(root, label, catalogue, maker, fileset_id, profile):
    """AUTORUN.INF and README.TXT; the institution and contact, where not given, come from the
    images."""
    first = catalogue.first_image
    institution = maker.institution or (first.texts.get("InstitutionName", "") if first else "")
    contact = maker.contact or (first.texts.get("InstitutionAddress", "") if first else "")
    kinds = catalogue.kinds
    write_text(root, "AUTORUN.INF", AUTORUN.format(label=label))
    write_text(root, "README.TXT", README.format(
        label=label, patients=patients_text(catalogue), studies=catalogue.studies,
        series=len(catalogue.series), images=kinds.get("IMAGE", 0),
        reports=kinds.get("ENCAP DOC", 0) + kinds.get("SR DOCUMENT", 0), selections=kinds.get("KEY OBJECT DOC", 0),
        institution=institution or "(not given)",
        contact=contact or "(not given)", date=maker.date, application=maker.application,
        fileset_id=fileset_id, profile=profile))


def is_made_here(folder):
    """True for a disc folder this tool made: its README says so and its AUTORUN.INF starts the
    launcher."""
    try:
        with open(os.path.join(folder, "README.TXT"), encoding="utf-8", errors="replace") as readme:
            text = readme.read(1 << 16)
        with open(os.path.join(folder, "AUTORUN.INF"), encoding="ascii", errors="replace") as autorun:
            started = "open=lumidra.exe" in autorun.read(4096)
    except OSError:
        return False
    return started and re.search(r"^Made on .* by %s" % re.escape(APPLICATION), text, re.M) is not None


def place_index_page(folder, root):
    """INDEX.HTM and the viewer beside it (VIEWER/), which open from the disc with no program."""
    shutil.copytree(folder, root, dirs_exist_ok=True)
