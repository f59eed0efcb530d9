"""The ISO image of the disc folder, made by xorriso: ISO 9660 with Joliet (Windows) and Rock
Ridge (POSIX, which keeps the launcher's run bits), the folder's tree as it is."""

import os
import re

from . import children
from .summary import folder_size

_SHARE = re.compile(rb"([0-9]+(?:\.[0-9]+)?)% done")


def make_iso(root, iso_file, label, progress):
    """Writes the image; its size in bytes. The volume ID, Joliet's too, is the label."""
    total = folder_size(root)
    progress.stage("ISO image", total_bytes=total)

    def told(line):
        share = _SHARE.search(line)
        if share:
            progress.reached(done_bytes=int(total * float(share.group(1)) / 100))

    command = ["xorriso", "-as", "mkisofs",
               "-o", iso_file,
               "-V", label,
               "-iso-level", "3",  # files of 4 GiB and more
               "-J", "-joliet-long",
               "-R",  # Rock Ridge with the real modes, so lumidra and BIN/7za stay runnable
               root]
    children.run(command, what="xorriso (making %s)" % iso_file, on_line=told)
    progress.reached(done_bytes=total)
    progress.done()
    return os.path.getsize(iso_file)
