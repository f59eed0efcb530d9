"""The whole road from a folder of DICOM files to a disc folder (and an ISO image): read the
input, place the images, index them, add the viewer, the launchers and the texts, pack the ISO,
and sum it up."""

import os
from dataclasses import dataclass, field

from . import DiscError
from .archives import check_viewer, finish_viewer_pack, make_data_zip, start_viewer_pack
from .catalogue import catalogue_of, leave_out
from .copying import Incoming, place_images, remove_images
from .dicomdir import Dicomdirs
from .iso import make_iso
from .labels import fileset_id, volume_label
from .output import OutputGuard, check_places
from .root_files import copy_extras, place_index_page, place_program, write_root_texts
from .summary import folder_size, summary_lines


@dataclass
class Program:
    source: str
    on_disc: str  # relative to the disc's root, '/' separated
    executable: bool


@dataclass
class DiscRequest:
    input_folder: str
    output_folder: str
    viewer_folder: str
    programs: list = field(default_factory=list)  # of Program
    iso_file: str = ""
    label: str = ""
    extras: str = ""
    force: bool = False
    index_page_folder: str = ""  # INDEX.HTM and VIEWER/ (./run viewer's build/viewer-disc)


@dataclass
class DiscResult:
    catalogue: object
    label: str
    profile: str
    disc_bytes: int
    summary: list


def _no_images(request, catalogue):
    lines = ["no usable DICOM image in %s" % request.input_folder]
    for skipped in catalogue.skipped[:20]:
        lines.append("  %s: %s" % (os.path.relpath(skipped.path, request.input_folder), skipped.reason))
    if len(catalogue.skipped) > 20:
        lines.append("  ... and %d more" % (len(catalogue.skipped) - 20))
    return "\n".join(lines)


def build_disc(request, progress):
    """Builds the disc; raises DiscError (or KeyboardInterrupt) with nothing left behind."""
    check_places(request.input_folder, request.output_folder, request.iso_file, request.force)
    for program in request.programs:
        if not os.path.isfile(program.source):
            raise DiscError("%s is missing (it goes on the disc as %s)" % (program.source, program.on_disc))
    if request.extras and not os.path.isdir(request.extras):
        raise DiscError("--extras %s is not a folder" % request.extras)
    check_viewer(request.viewer_folder)
    if request.index_page_folder and not os.path.isfile(os.path.join(request.index_page_folder, "INDEX.HTM")):
        raise DiscError("%s/INDEX.HTM is missing; run ./run viewer first" % request.index_page_folder)
    root = request.output_folder
    with OutputGuard(root, request.iso_file):
        # Work that does not wait for the study runs beside the reading: the viewer's archive.
        viewer = start_viewer_pack(request.viewer_folder, os.path.join(root, "DATA", "7z", "viewer.7z"))
        with Incoming(root) as incoming:
            catalogue = catalogue_of(request.input_folder, progress, incoming.add)
            incoming.finish()
        if catalogue.images == 0:
            raise DiscError(_no_images(request, catalogue))
        label = volume_label(request.label, catalogue.first_patient_name, catalogue.first_study_description)
        place_images(catalogue, root, incoming)
        dicomdirs = Dicomdirs(catalogue, root, fileset_id(label), progress)
        refused = leave_out(catalogue, dicomdirs.wait_data())
        if catalogue.images == 0:
            raise DiscError(_no_images(request, catalogue))
        make_data_zip(root, catalogue.series[0], progress)
        finish_viewer_pack(viewer, progress)
        if request.extras:
            copy_extras(request.extras, root)
        for program in request.programs:
            place_program(program.source, root, program.on_disc, program.executable)
        if request.index_page_folder:
            place_index_page(request.index_page_folder, root)
        write_root_texts(root, label, catalogue)
        dicomdirs.wait_root()
        # Only now: the root's dcmmkdir may still have been reading them.
        remove_images(root, refused)
        if request.iso_file:
            disc_bytes = make_iso(root, request.iso_file, label, progress)
        else:
            disc_bytes = folder_size(root)
    summary = summary_lines(catalogue, request.input_folder, root, disc_bytes, request.iso_file,
                            dicomdirs.profile, label)
    return DiscResult(catalogue, label, dicomdirs.profile, disc_bytes, summary)
