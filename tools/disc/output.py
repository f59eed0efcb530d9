"""The output folder and ISO file: refused when they would overwrite something (unless forced),
and removed again when the build does not finish, whatever stops it (an error, Ctrl+C, a
termination signal)."""

import os
import shutil
import signal

from . import DiscError, children


def _inside(path, folder):
    path, folder = os.path.realpath(path), os.path.realpath(folder)
    return path == folder or path.startswith(folder.rstrip(os.sep) + os.sep)


def check_places(input_folder, output_folder, iso_file, force):
    """Refuses what would make the build read its own output or overwrite something."""
    if not os.path.isdir(input_folder):
        raise DiscError("%s is not a folder" % input_folder)
    if _inside(output_folder, input_folder) or _inside(input_folder, output_folder):
        raise DiscError("the output folder %s and the study folder %s must not contain each other"
                        % (output_folder, input_folder))
    if os.path.lexists(output_folder):
        if not os.path.isdir(output_folder) or os.path.islink(output_folder):
            raise DiscError("%s exists and is not a folder" % output_folder)
        if os.listdir(output_folder) and not force:
            raise DiscError("%s is not empty; choose an empty folder or add --force to replace "
                            "what is in it" % output_folder)
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
    """with OutputGuard(folder, iso): the folder is empty inside; leaving by an exception
    removes what was made (the folder itself only if it was made here)."""

    def __init__(self, folder, iso_file=None):
        self.folder = folder
        self.iso_file = iso_file
        self.created = False
        self.handlers = {}

    def __enter__(self):
        for number in (signal.SIGTERM, signal.SIGHUP):
            self.handlers[number] = signal.signal(number, _terminated)
        if os.path.isdir(self.folder):
            self._empty()
        else:
            os.makedirs(self.folder)
            self.created = True
        if self.iso_file and os.path.lexists(self.iso_file):
            os.unlink(self.iso_file)
        return self

    def __exit__(self, kind, _value, _traceback):
        if kind is not None:
            # A second signal must not stop the clean-up half way.
            for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                signal.signal(number, signal.SIG_IGN)
            # A program still writing into the folder would leave files behind its removal.
            children.stop_all()
            if self.created:
                shutil.rmtree(self.folder, ignore_errors=True)
            else:
                self._empty()
            if self.iso_file and os.path.lexists(self.iso_file):
                os.unlink(self.iso_file)
            signal.signal(signal.SIGINT, signal.default_int_handler)
        for number, handler in self.handlers.items():
            signal.signal(number, handler)
        return False

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
