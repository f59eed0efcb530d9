"""The two archives the launcher unpacks first: DATA/7z/viewer.7z (the viewer page) and
data.zip (the DICOMDIR and the series the viewer shows first, under DATA/)."""

import json
import os
import shutil
import zipfile
from dataclasses import dataclass

from . import DiscError, children, viewer_cache

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


# Fast compression (-mx=1): a tenth of the archive's size more, a quarter of the CPU time, which
# the reading of the study beside it wants.
_PACKING = ["a", "-t7z", "-mx=1", "-bd", "-y"]


@dataclass
class ViewerPack:
    viewer_dir: str
    archive: str
    cache: str  # where packed viewers are kept, or ""
    key: str  # the viewer's content as the cache names it, or None
    process: object = None  # 7-Zip packing it; None where the cache had it


def start_viewer_pack(viewer_dir, archive, cache=""):
    """Starts 7-Zip packing the viewer page, which it does while the study is read and indexed;
    a viewer packed before is taken from the cache instead."""
    check_viewer(viewer_dir)
    os.makedirs(os.path.dirname(archive), exist_ok=True)
    key = viewer_cache.viewer_key(viewer_dir, _PACKING) if cache else None
    pack = ViewerPack(viewer_dir, archive, cache, key)
    if viewer_cache.take(cache, key, archive):
        return pack
    seven_zip = find_seven_zip()
    entries = sorted(os.listdir(viewer_dir))
    command = [seven_zip] + _PACKING + [os.path.abspath(archive), "--"] + entries
    # It runs from the start, at a lower priority: where the reading of the study keeps the cores
    # busy (thousands of small images) it takes what they leave, and where the reading waits for
    # the copies (fewer, larger images) it is done by the time they are.
    nice = shutil.which("nice")
    if nice:
        command = [nice, "-n", "10"] + command
    pack.process = children.start(command, cwd=viewer_dir, what="7-Zip (packing the viewer)")
    return pack


def finish_viewer_pack(pack, progress):
    progress.stage("Viewer")
    if pack.process is not None:
        children.finish(pack.process)
        # Kept only where the viewer did not change while 7-Zip read it.
        if pack.key and viewer_cache.viewer_key(pack.viewer_dir, _PACKING) == pack.key:
            viewer_cache.keep(pack.cache, pack.key, pack.archive)
    progress.done()


class DataZip:
    """data.zip: DATA/DICOMDIR and the images of the series the viewer shows first. They are
    stored, not deflated: DICOM pixel data gains little and the launcher unpacks it while the
    user waits. The images go in while dcmmkdir runs (add_images), the DICOMDIR last (finish)."""

    def __init__(self, root):
        self.root = root
        self.archive = None
        self.images = []

    def add_images(self, names):
        self.close()
        self.archive = zipfile.ZipFile(os.path.join(self.root, "data.zip"), "w", zipfile.ZIP_STORED)
        try:
            for name in names:
                self._add(name)
        except FileNotFoundError:  # taken off the disc meanwhile, as dcmmkdir left it out: finish() starts anew
            self.images = None
            return
        self.images = list(names)

    def finish(self, names, progress):
        """The archive with the DICOMDIR and the images of names, which it holds already unless
        dcmmkdir left one of those out of the index."""
        progress.stage("data.zip")
        if self.archive is None or self.images != list(names):
            self.add_images(names)
            if self.images is None:
                raise DiscError("an image of the first series went missing from the disc")
        self._add("DATA/DICOMDIR")
        self.close()
        progress.done()
        return 1 + len(self.images)

    def _add(self, name):
        self.archive.write(os.path.join(self.root, *name.split("/")), name)

    def close(self):
        if self.archive is not None:
            self.archive.close()
            self.archive = None
