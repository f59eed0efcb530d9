"""The two archives the launcher unpacks first: DATA/7z/viewer.7z (the viewer page) and
data.zip (the DICOMDIR and the series the viewer shows first, under DATA/)."""

import json
import os
import shutil
import zipfile

from . import DiscError, children

CONFIG_IN_VIEWER = os.path.join("data", "config", "config-lumidra.json")
SEVEN_ZIP_NAMES = ("7zz", "7za", "7z")


def find_seven_zip():
    for name in SEVEN_ZIP_NAMES:
        path = shutil.which(name)
        if path:
            return path
    raise DiscError("no 7-Zip found on PATH (tried %s)" % ", ".join(SEVEN_ZIP_NAMES))


def check_viewer(viewer_dir):
    """The page must be laid out with index.html at its root and a config naming port 8000,
    which the launcher rewrites to the port it got."""
    if not os.path.isfile(os.path.join(viewer_dir, "index.html")):
        raise DiscError("%s/index.html is missing; run ./run viewer first" % viewer_dir)
    config = os.path.join(viewer_dir, CONFIG_IN_VIEWER)
    try:
        with open(config, encoding="utf-8") as handle:
            text = handle.read()
        json.loads(text)
    except (OSError, ValueError) as error:
        raise DiscError("%s is missing or not JSON: %s" % (config, error))
    if "localhost:8000" not in text:
        raise DiscError("%s does not name localhost:8000" % config)


def start_viewer_pack(viewer_dir, archive):
    """Starts 7-Zip packing the viewer page, which it does while the study is read and indexed."""
    check_viewer(viewer_dir)
    seven_zip = find_seven_zip()
    os.makedirs(os.path.dirname(archive), exist_ok=True)
    entries = sorted(os.listdir(viewer_dir))
    # Fast compression (-mx=1): a tenth of the archive's size more, a quarter of the CPU time, which
    # the reading of the study beside it wants.
    command = [seven_zip, "a", "-t7z", "-mx=1", "-bd", "-y", os.path.abspath(archive), "--"] + entries
    # It runs from the start, at a lower priority: where the reading of the study keeps the cores
    # busy (thousands of small images) it takes what they leave, and where the reading waits for
    # the copies (fewer, larger images) it is done by the time they are.
    nice = shutil.which("nice")
    if nice:
        command = [nice, "-n", "10"] + command
    return children.start(command, cwd=viewer_dir, what="7-Zip (packing the viewer)")


def finish_viewer_pack(process, progress):
    progress.stage("Viewer")
    children.finish(process)
    progress.done()


def make_data_zip(root, first_series, progress):
    """data.zip: DATA/DICOMDIR and the images of the first series. They are stored, not
    deflated: DICOM pixel data gains little and the launcher unpacks it while the user waits."""
    progress.stage("data.zip")
    members = ["DATA/DICOMDIR"] + [name for _image, name in first_series.images]
    with zipfile.ZipFile(os.path.join(root, "data.zip"), "w", zipfile.ZIP_STORED) as archive:
        for name in members:
            archive.write(os.path.join(root, *name.split("/")), name)
    progress.done()
    return len(members)
