"""The whole road from a folder of DICOM files to a disc folder (and an ISO image): read the
input, place the images, index them, add the viewer, the launchers and the texts, pack the ISO,
and sum it up."""

import datetime
import os
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field

from . import DiscError, identity
from .archives import DataZip, check_viewer, finish_viewer_pack, start_viewer_pack
from .catalogue import arrange, leave_out, read_study
from .copying import Incoming, place_images, remove_images
from .dicomdir import Dicomdirs
from .extras import Extras, copy_extras, plan_extras
from .index_values import index_tree, made_up_lines, needed_values, remove_index_tree
from .iso import make_iso
from .labels import fileset_id, volume_label
from .output import OutputGuard, check_places
from .root_files import APPLICATION, Maker, place_index_page, place_program, write_root_texts
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
    replace_any: bool = False  # --force for a folder this tool did not make
    keep_conflicts: bool = False  # one patient ID for two people: warn instead of refusing
    keep_as_exported: bool = False  # every image byte for byte, in whatever syntax it came
    institution: str = ""
    contact: str = ""
    version: str = ""
    index_page_folder: str = ""  # INDEX.HTM and VIEWER/ (./run viewer's build/viewer-disc)
    viewer_cache: str = ""  # where packed viewers are kept for later discs ("": packed every time)


@dataclass
class DiscResult:
    catalogue: object
    label: str
    profile: str
    disc_bytes: int
    summary: list


def _no_images(request, skipped):
    lines = ["no usable DICOM image in %s" % request.input_folder]
    for left in skipped[:20]:
        lines.append("  %s: %s" % (os.path.relpath(left.path, request.input_folder), left.reason))
    if len(skipped) > 20:
        lines.append("  ... and %d more" % (len(skipped) - 20))
    return "\n".join(lines)


def _conflicts(findings):
    return "\n".join(["nothing was written: the images name different patients under one ID"]
                     + ["  " + finding.reason for finding in findings]
                     + ["Check the export; to put the images on the disc as they are all the same, "
                        "add --keep-patient-conflicts."])


def _check_request(request):
    """Everything that can be checked before a file is written."""
    check_places(request.input_folder, request.output_folder, request.iso_file, request.force,
                 request.replace_any)
    for program in request.programs:
        if not os.path.isfile(program.source):
            raise DiscError("%s is missing (it goes on the disc as %s)" % (program.source, program.on_disc))
    if request.extras and not os.path.isdir(request.extras):
        raise DiscError("--extras %s is not a folder" % request.extras)
    check_viewer(request.viewer_folder)
    if request.index_page_folder and not os.path.isfile(os.path.join(request.index_page_folder, "INDEX.HTM")):
        raise DiscError("%s/INDEX.HTM is missing; run ./run viewer first" % request.index_page_folder)
    return plan_extras(request.extras) if request.extras else Extras()


def _decided(request, images, skipped):
    """The catalogue of the patients as the identity checks decide them; refuses the build where
    one ID names two people, unless the user keeps them."""
    patients, findings = identity.check(images, request.keep_conflicts, request.input_folder)
    refusing = [finding for finding in findings if finding.refuse]
    if refusing:
        raise DiscError(_conflicts(refusing))
    catalogue = arrange(patients, skipped)
    catalogue.warnings.extend(finding.reason for finding in findings)
    catalogue.warnings.extend("%s kept as exported: dcmconv could not convert it: %s" % (
        os.path.relpath(image.path, request.input_folder), image.conversion_failed)
        for image in images if image.conversion_failed)
    return catalogue


def _indexed(request, catalogue, root, progress, beside):
    """The DICOMDIRs, named after what is on the disc. dcmmkdir is the one judge that speaks
    after the images are written: what it leaves out goes off the disc, and the indexes are made
    again over what is left, so that label, file-set ID and profile follow the disc's content.
    beside() is called once the index is under way: before the headers with supplied values are
    written for dcmmkdir, which is one core's work too."""
    for _attempt in range(3):
        label = volume_label(request.label, catalogue.first_image.patient_name,
                             catalogue.first_image.study_description)
        beside()
        supplied = needed_values(catalogue)
        tree = index_tree(root, catalogue, supplied)
        try:
            dicomdirs = Dicomdirs(catalogue, root, fileset_id(label), progress, tree)
            refused = dicomdirs.wait()
        finally:
            remove_index_tree(root, tree)
        if not refused:
            if dicomdirs.inventing:
                catalogue.warnings.append("dcmmkdir made up values the builder did not supply (+I)")
            catalogue.made_up = made_up_lines(supplied, request.input_folder)
            return label, dicomdirs
        remove_images(root, leave_out(catalogue, refused))
        if catalogue.images == 0:
            raise DiscError(_no_images(request, catalogue.skipped))
    raise DiscError("dcmmkdir kept leaving images out of the DICOMDIR")


def _first_shown(catalogue):
    return [name for _image, name in catalogue.first_shown.images]


def _place_carried(request, extras, root):
    copy_extras(extras, root)
    for program in request.programs:
        place_program(program.source, root, program.on_disc, program.executable)
    if request.index_page_folder:
        place_index_page(request.index_page_folder, root)


def build_disc(request, progress):
    """Builds the disc; raises DiscError (or KeyboardInterrupt) with nothing left behind, and a
    disc that was there before as it was."""
    extras = _check_request(request)
    with OutputGuard(request.output_folder, request.iso_file) as guard:
        root = guard.root
        viewer = start_viewer_pack(request.viewer_folder, os.path.join(root, "DATA", "7z", "viewer.7z"),
                                   request.viewer_cache)
        with Incoming(root, converting=not request.keep_as_exported) as incoming:
            images, skipped = read_study(request.input_folder, progress, incoming.add)
            incoming.finish()
        if not images:
            raise DiscError(_no_images(request, skipped))
        catalogue = _decided(request, images, skipped + extras.skipped)
        place_images(catalogue, root, incoming)
        # The files carried as they are and the first series' images in data.zip do not wait
        # for the index: they are copied while dcmmkdir, which keeps one core busy, runs.
        started = []
        data_zip = DataZip(root)
        try:
            with ThreadPoolExecutor(max_workers=1) as beside:
                def start_beside():
                    if not started:
                        started.append(beside.submit(_place_carried, request, extras, root))
                        started.append(beside.submit(data_zip.add_images, _first_shown(catalogue)))

                label, dicomdirs = _indexed(request, catalogue, root, progress, start_beside)
                for task in started:
                    task.result()
            data_zip.finish(_first_shown(catalogue), progress)
        finally:
            data_zip.close()
        finish_viewer_pack(viewer, progress)
        maker = Maker("%s %s" % (APPLICATION, request.version or "(version unknown)"), request.institution,
                      request.contact, datetime.date.today().isoformat())
        write_root_texts(root, label, catalogue, maker, fileset_id(label), dicomdirs.profile)
        counts = dicomdirs.counts
        if request.iso_file:
            disc_bytes = make_iso(root, guard.iso_part, label, progress)
        else:
            disc_bytes = folder_size(root)
        guard.commit()
    summary = summary_lines(catalogue, request, counts, disc_bytes, dicomdirs.profile, label, extras.renamed)
    return DiscResult(catalogue, label, dicomdirs.profile, disc_bytes, summary)
