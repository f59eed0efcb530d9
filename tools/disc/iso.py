"""The ISO image of the disc folder, made by xorriso: ISO 9660 with Joliet (Windows) and Rock
Ridge (POSIX, which keeps the launcher's run bits), the folder's tree as it is."""

import os

from . import children


def make_iso(root, iso_file, label, progress):
    progress.stage("ISO image")
    command = ["xorriso", "-as", "mkisofs", "-quiet",
               "-o", iso_file,
               "-V", label,
               "-iso-level", "3",  # files of 4 GiB and more
               "-J", "-joliet-long",
               "-R",  # Rock Ridge with the real modes, so lumidra and BIN/7za stay runnable
               root]
    children.run(command, what="xorriso (making %s)" % iso_file)
    progress.done()
    return os.path.getsize(iso_file)
