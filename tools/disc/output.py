"""The output folder and ISO file: refused when they would overwrite something (unless forced),
and removed again when the build does not finish, whatever stops it (an error, Ctrl+C, a
termination signal). A disc that is replaced stays as it was until the new one is complete: the
new one is made beside it, inside the output folder, and swapped in at the end."""

import os
import shutil
import signal

from . import DiscError, children
from .root_files import is_made_here

# Inside the output folder, so that the swap is a rename on one file system.
_NEXT = ".lumidra-next"
_OLD = ".lumidra-old"


def _inside(path, folder):
    path, folder = os.path.realpath(path), os.path.realpath(folder)
    return path == folder or path.startswith(folder.rstrip(os.sep) + os.sep)


def check_places(input_folder, output_folder, iso_file, force, replace_any=False):
    """Refuses what would make the build read its own output or overwrite something. --force
    replaces a disc this tool made; any other folder's content only with replace_any."""
    if not os.path.isdir(input_folder):
        raise DiscError("%s is not a folder" % input_folder)
    if _inside(output_folder, input_folder) or _inside(input_folder, output_folder):
        raise DiscError("the output folder %s and the study folder %s must not contain each other"
                        % (output_folder, input_folder))
    if os.path.lexists(output_folder):
        if not os.path.isdir(output_folder) or os.path.islink(output_folder):
            raise DiscError("%s exists and is not a folder" % output_folder)
        content = os.listdir(output_folder)
        if content and not (force or replace_any):
            raise DiscError("%s is not empty; choose an empty folder or add --force to replace "
                            "what is in it" % output_folder)
        if content and not replace_any and not is_made_here(output_folder):
            raise DiscError("%s is not a disc made by this tool; --force replaces only those "
                            "(add --replace-any-folder to replace its content all the same)" % output_folder)
    if iso_file:
        if _inside(iso_file, output_folder) or _inside(iso_file, input_folder):
            raise DiscError("the ISO file must lie outside the study and output folders")
        if os.path.lexists(iso_file) and not force:
            raise DiscError("%s exists; add --force to replace it" % iso_file)
        if os.path.isdir(iso_file):
            raise DiscError("%s is a folder" % iso_file)


def _terminated(number, _frame):
    raise KeyboardInterrupt("signal %d" % number)


class OutputGuard:
    """with OutputGuard(folder, iso) as guard: the disc is made in guard.root (and the ISO in
    guard.iso_part); commit() puts them in place. Leaving by an exception removes what was made
    and leaves what was there before."""

    def __init__(self, folder, iso_file=None):
        self.folder = folder
        self.iso_file = iso_file
        self.iso_part = iso_file + ".part" if iso_file else None
        self.created = False
        self.root = folder
        self.handlers = {}

    def __enter__(self):
        for number in (signal.SIGTERM, signal.SIGHUP):
            self.handlers[number] = signal.signal(number, _terminated)
        if not os.path.isdir(self.folder):
            os.makedirs(self.folder)
            self.created = True
        elif os.listdir(self.folder):
            self.root = os.path.join(self.folder, _NEXT)
            shutil.rmtree(self.root, ignore_errors=True)  # left by a build that was killed
            os.makedirs(self.root)
        self._remove_part()
        return self

    def commit(self):
        """The new disc in place of the old one, and the ISO in place of the old one."""
        if self.root != self.folder:
            old = os.path.join(self.folder, _OLD)
            shutil.rmtree(old, ignore_errors=True)
            os.makedirs(old)
            for name in os.listdir(self.folder):
                if name not in (_NEXT, _OLD):
                    os.rename(os.path.join(self.folder, name), os.path.join(old, name))
            for name in os.listdir(self.root):
                os.rename(os.path.join(self.root, name), os.path.join(self.folder, name))
            os.rmdir(self.root)
            shutil.rmtree(old, ignore_errors=True)
            self.root = self.folder
        if self.iso_part:
            os.replace(self.iso_part, self.iso_file)

    def __exit__(self, kind, _value, _traceback):
        if kind is not None:
            # A second signal must not stop the clean-up half way.
            for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                signal.signal(number, signal.SIG_IGN)
            # A program still writing into the folder would leave files behind its removal.
            children.stop_all()
            if self.created:
                shutil.rmtree(self.folder, ignore_errors=True)
            elif self.root != self.folder:
                shutil.rmtree(self.root, ignore_errors=True)
            else:
                self._empty()
            self._remove_part()
            signal.signal(signal.SIGINT, signal.default_int_handler)
        for number, handler in self.handlers.items():
            signal.signal(number, handler)
        return False

    def _remove_part(self):
        if self.iso_part and os.path.lexists(self.iso_part):
            os.unlink(self.iso_part)

    def _empty(self):
        for name in os.listdir(self.folder):
            path = os.path.join(self.folder, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path, ignore_errors=True)
            else:
                try:
                    os.unlink(path)
                except OSError:
                    pass
