"""What the builder shows while it works: on a terminal, one bar per stage redrawn in place with
files and bytes; elsewhere (a log, a pipe) one line per finished stage."""

import sys
import time

_BAR = 24
_REDRAW_SECONDS = 0.1


def megabytes(count):
    return "%.1f MB" % (count / 1e6)


class Progress:
    def __init__(self, stream=None, terminal=None):
        self.stream = stream or sys.stderr
        self.terminal = self.stream.isatty() if terminal is None else terminal
        self.name = ""
        self.files = self.bytes = self.done_files = self.done_bytes = 0
        self.drawn = 0.0
        self.started = 0.0

    def stage(self, name, files=0, total_bytes=0):
        self.name, self.files, self.bytes = name, files, total_bytes
        self.done_files = self.done_bytes = 0
        self.started = time.monotonic()
        if self.terminal:
            self._draw()

    def advance(self, count_bytes):
        self.done_files += 1
        self.done_bytes += count_bytes
        if self.terminal and time.monotonic() - self.drawn >= _REDRAW_SECONDS:
            self._draw()

    def reached(self, done_files=None, done_bytes=None):
        """Progress told by a program beside the builder (dcmmkdir's files, xorriso's share)."""
        if done_files is not None:
            self.done_files = done_files
        if done_bytes is not None:
            self.done_bytes = done_bytes
        if self.terminal and time.monotonic() - self.drawn >= _REDRAW_SECONDS:
            self._draw()

    def done(self):
        seconds = time.monotonic() - self.started
        if self.terminal:
            self._draw()
            self.stream.write("  %.1f s\n" % seconds)
        else:
            counts = ""
            if self.files and self.bytes:
                counts = ": %d files, %s" % (self.done_files, megabytes(self.done_bytes))
            elif self.files:
                counts = ": %d files" % self.done_files
            elif self.bytes:
                counts = ": %s" % megabytes(self.done_bytes)
            self.stream.write("%s%s (%.1f s)\n" % (self.name, counts, seconds))
        self.stream.flush()

    def _draw(self):
        self.drawn = time.monotonic()
        if self.files or self.bytes:
            share = self.done_bytes / self.bytes if self.bytes else self.done_files / self.files
            filled = int(_BAR * min(1.0, share))
            counts = "%d/%d files  " % (self.done_files, self.files) if self.files else ""
            if self.bytes:
                counts += "%s/%s" % (megabytes(self.done_bytes), megabytes(self.bytes))
            line = "%-18s [%s%s] %s" % (self.name, "#" * filled, "." * (_BAR - filled), counts.rstrip())
        else:
            line = "%-18s" % self.name
        self.stream.write("\r" + line + "\033[K")
        self.stream.flush()


class _NoStream:
    def write(self, _text):
        pass

    def flush(self):
        pass

    def isatty(self):
        return False


def silent_progress():
    """A Progress that shows nothing (--quiet, and the sample disc's own builds)."""
    return Progress(_NoStream())
