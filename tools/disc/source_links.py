"""Links that let dcmmkdir index the disc before the copies are on it.

The tree .sources/ in the output folder mirrors the disc's images, each a link to the file whose
bytes its copy gets: the input file, or for a bare data set its copy with the meta header, which
is on the disc already. dcmmkdir reads the links (its input folder) and writes the file IDs as
they will be on the disc, while the images are copied beside it. The tree goes when the
DICOMDIRs are made; where the output's file system has no links (FAT on a memory stick, say),
indexing waits for the copies instead.
"""

import os
import shutil

from .copying import image_places

FOLDER = ".sources"


def make_source_links(catalogue, root):
    """The folder of links, or None (with nothing left) where links cannot be made there."""
    links = os.path.join(root, FOLDER)
    made = set()
    try:
        for image, place in image_places(catalogue, root):
            link = os.path.join(links, os.path.relpath(place, root))
            if os.path.dirname(link) not in made:
                os.makedirs(os.path.dirname(link))
                made.add(os.path.dirname(link))
            os.symlink(os.path.abspath(image.path if image.part10 else place), link)
    except (OSError, NotImplementedError):
        shutil.rmtree(links, ignore_errors=True)
        return None
    return links


def remove_source_links(root):
    shutil.rmtree(os.path.join(root, FOLDER), ignore_errors=True)
