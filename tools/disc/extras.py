"""DATA/DW: the documents given with --extras, under names every reader of the disc can open.

A disc's names are ISO 9660 level 1, as the DICOM media profiles ask of the whole file-set:
upper-case letters, digits and _, eight characters and a three-character extension, at most
eight folders deep (DATA/DW takes two). Names are mapped to that; what cannot be carried (a link
leading out of the folder, a second DICOMDIR, too deep a file) is left off with its reason.
"""

import os
import shutil
from dataclasses import dataclass, field

from .labels import d_characters
from .recognise import Skipped

_FOLDER = ("DATA", "DW")
_MOST_FOLDERS = 8 - len(_FOLDER)


@dataclass
class Extras:
    files: list = field(default_factory=list)  # of (source path, disc-relative name)
    skipped: list = field(default_factory=list)  # of Skipped
    renamed: list = field(default_factory=list)  # of (relative source name, disc-relative name)


def _short(name, is_folder, taken):
    """name as an ISO 9660 level 1 name not yet in taken (upper-case)."""
    stem, extension = (name, "") if is_folder else os.path.splitext(name)
    stem = d_characters(stem)[:8] or ("FOLDER" if is_folder else "FILE")
    extension = d_characters(extension.lstrip("."))[:3]
    candidate, number = stem, 1
    while (candidate + ("." + extension if extension else "")) in taken:
        number += 1
        candidate = stem[:8 - len(str(number))] + str(number)
    short = candidate + ("." + extension if extension else "")
    taken.add(short)
    return short


def _inside(path, folder):
    real = os.path.realpath(path)
    return real.startswith(os.path.realpath(folder).rstrip(os.sep) + os.sep)


def plan_extras(folder):
    """What of folder goes onto the disc, and under which names; nothing is copied yet."""
    plan = Extras()

    def unreadable(error):
        plan.skipped.append(Skipped(error.filename or folder, "unreadable folder: %s" % (error.strerror or error)))

    mapped = {folder: "/".join(_FOLDER)}
    taken = {}
    for top, folders, files in os.walk(folder, onerror=unreadable):
        on_disc = mapped[top]
        names = taken.setdefault(top, set())
        depth = on_disc.count("/") - 1
        for name in sorted(folders):
            path = os.path.join(top, name)
            if os.path.islink(path):
                plan.skipped.append(Skipped(path, "a link to a folder, not followed"))
            elif depth + 1 > _MOST_FOLDERS:
                plan.skipped.append(Skipped(path, "more than %d folders deep below DATA/DW, which ISO 9660 "
                                                  "does not allow" % _MOST_FOLDERS))
            else:
                mapped[path] = on_disc + "/" + _short(name, True, names)
        folders[:] = sorted(name for name in folders if os.path.join(top, name) in mapped)
        for name in sorted(files):
            path = os.path.join(top, name)
            if name.upper() == "DICOMDIR":
                plan.skipped.append(Skipped(path, "a DICOMDIR: the disc has its own, and one only"))
            elif os.path.islink(path) and not _inside(path, folder):
                plan.skipped.append(Skipped(path, "a link leading out of the extras folder, not followed"))
            elif not os.path.isfile(path):
                plan.skipped.append(Skipped(path, "not a regular file"))
            else:
                target = on_disc + "/" + _short(name, False, names)
                plan.files.append((path, target))
                relative = os.path.relpath(path, folder).replace(os.sep, "/")
                if target != "/".join(_FOLDER) + "/" + relative:
                    plan.renamed.append((relative, target))
    return plan


def copy_extras(plan, root):
    for source, name in plan.files:
        target = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
