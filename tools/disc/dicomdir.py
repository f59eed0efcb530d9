"""The DICOMDIRs: the disc's own at the root, made by dcmtk's dcmmkdir, and DATA/DICOMDIR for the
viewer, the same index with its file IDs relative to DATA.

The profile follows the transfer syntaxes on the disc: plain Explicit VR Little Endian is the
CD profile, JPEG or JPEG 2000 alongside it the DVD profiles, anything else the general MIME
profile, which admits every standard syntax (and is meant for e-mail, not discs: the images
that would need it for want of conversion are converted before, unless the user keeps them as
exported). Images outside the profile are named with a warning instead of being refused: a disc
a reader can open beats no disc.
"""

import os

from . import DiscError, children
from .dicomdir_bytes import Dicomdir
from .header_patch import Unwalkable

EXPLICIT_LITTLE = "1.2.840.10008.1.2.1"
JPEG = {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.51", "1.2.840.10008.1.2.4.57",
        "1.2.840.10008.1.2.4.70"}
JPEG_2000 = {"1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91"}
_PROFILES = (
    ({EXPLICIT_LITTLE}, "-Pgp", "STD-GEN-CD"),
    ({EXPLICIT_LITTLE} | JPEG, "-Pdv", "STD-GEN-DVD-JPEG"),
    ({EXPLICIT_LITTLE} | JPEG_2000, "-Pd2", "STD-GEN-DVD-J2K"),
)
_MIME = ("-Pmi", "STD-GEN-MIME")
# dcmmkdir's check of each file against the others (+W, its default) stays on: the builder has
# already refused one ID for two patients, and what it still finds is worth its warning.
_CHECKS = ["-Nxc", "-Nec", "-Nrc", "+Nrs"]
# Type 1 attributes an image lacks are supplied by the builder (index_values.py). Should
# dcmmkdir still miss one, it makes it up (+I), at a cost that grows with the square of the
# number of images (0.95 s for 2,000 where 0.26 s do without, and three to four times as long for
# each doubling): only then is the index made again with it.
_INVENT = ["+I"]
_MISSING = "required attribute"
# The lists of files sit in the output folder while they are needed.
_LISTINGS = (".dicomdir-data.txt", ".dicomdir-root.txt")


def profile_for(transfer_syntaxes):
    """(dcmmkdir switch, profile name) for the set of transfer syntax UIDs present."""
    for allowed, switch, name in _PROFILES:
        if set(transfer_syntaxes) <= allowed:
            return switch, name
    return _MIME


class _Index:
    """dcmmkdir writing out_folder/DICOMDIR for the images of file_ids, read from read_folder
    (the disc, or the tree with supplied values) and named relative to it."""

    def __init__(self, read_folder, out_folder, file_ids, switch, fileset_id, listing, what, on_line=None):
        # dcmtk reads @file arguments, so no count of images overflows the command line.
        with open(listing, "w", encoding="utf-8") as out:
            out.write("\n".join(file_ids) + "\n")
        self.folder, self.what, self.switch = read_folder, what, switch
        self.dicomdir = os.path.join(out_folder, "DICOMDIR")
        self.arguments = _CHECKS + ["+F", fileset_id, "+D", self.dicomdir, "@" + listing]
        # Verbose, dcmmkdir names each file it adds, which is the stage's progress; it then takes a
        # quarter longer, so only where a progress bar shows it.
        if on_line is not None:
            self.arguments = ["-v"] + self.arguments
        self.on_line = on_line
        self.process = self.result = None

    def start(self, switches=()):
        if os.path.exists(self.dicomdir):
            os.unlink(self.dicomdir)
        self.result = None
        self.process = children.start(["dcmmkdir", self.switch, *switches, *self.arguments], cwd=self.folder,
                                      what="dcmmkdir (%s)" % self.what)

    def wait(self):
        """Waits for dcmmkdir; its output, or the DiscError saying it failed."""
        if self.result is None:
            try:
                self.result = children.finish(self.process, self.on_line).decode("utf-8", "replace")
            except DiscError as error:
                self.result = error
        return self.result

    def output(self):
        return str(self.wait())

    def finish(self):
        """Waits; dcmmkdir's output. Raises DiscError when it failed."""
        if isinstance(self.wait(), DiscError):
            raise self.result
        return self.result

    def indexed(self):
        """Waits; the file IDs the index names (none when dcmmkdir failed)."""
        if isinstance(self.wait(), DiscError):
            return set()
        return set(referenced_files(self.dicomdir))


def _values(dicomdir, tag):
    """Every value of tag in the DICOMDIR as dcmtk reads them (which costs a fraction of what
    reading the whole index into Python would)."""
    output = children.run(["dcmdump", "-q", "+L", "+P", tag, dicomdir],
                          what="dcmdump (reading %s)" % dicomdir).decode("utf-8", "replace")
    found = []
    for line in output.splitlines():
        start, end = line.find("["), line.rfind("]")
        if line.startswith("(%s)" % tag) and 0 <= start < end:
            found.append(line[start + 1:end])
    return found


def referenced_files(dicomdir):
    """The file IDs a DICOMDIR names, '/' separated."""
    return [value.replace("\\", "/") for value in _values(dicomdir, "0004,1500")]


def record_counts(dicomdir):
    """{record type: how many} of a DICOMDIR: what a reader of the disc will list."""
    counts = {}
    for kind in _values(dicomdir, "0004,1430"):
        counts[kind.strip()] = counts.get(kind.strip(), 0) + 1
    return counts


def _reason(output, file_id):
    """dcmmkdir's own error line about file_id, without its level and the file's name."""
    for line in output.splitlines():
        if line.startswith("E: ") and line.rstrip().endswith(file_id):
            return "left out of the DICOMDIR by dcmmkdir: " + line[3:].rstrip()[:-len(file_id)].rstrip(": ")
    return "left out of the DICOMDIR by dcmmkdir"


class Dicomdirs:
    """The disc's DICOMDIR under way at the root; wait() waits for it and writes DATA/DICOMDIR,
    the same index moved into DATA (made by dcmmkdir too only where the root's cannot be moved).
    The images are read from read_root, the disc or the tree mirroring it with supplied values."""

    def __init__(self, catalogue, root, fileset_id, progress, read_root=None):
        self.root, self.read_root = root, read_root or root
        self.switch, self.profile = profile_for(catalogue.transfer_syntaxes)
        self.fileset_id = fileset_id
        self.progress = progress
        self.ids = [name for series in catalogue.series for _image, name in series.images]
        progress.stage("DICOMDIR (%s)" % self.profile, len(self.ids))
        self.added = 0
        self.listings = [os.path.join(root, name) for name in _LISTINGS]
        self.at_root = _Index(self.read_root, root, self.ids, self.switch, fileset_id, self.listings[1], "DICOMDIR",
                              self._told if progress.terminal else None)
        self.at_root.start()
        self.inventing = False
        self.counts = {}

    def _told(self, line):
        if line.startswith(b"I: adding file:"):
            self.added += 1
            self.progress.reached(done_files=self.added)

    def wait(self):
        """Waits for the index; returns {disc name: reason} of the images dcmmkdir left out of
        it. It leaves out what it cannot index (an unknown SOP class, say) and still ends with
        success, so the index is read back rather than trusted. Where it took every image,
        DATA/DICOMDIR is written too."""
        if _MISSING in self.at_root.output():
            self.added = 0
            self.at_root.start(_INVENT)
            self.inventing = True
        output = self.at_root.output()
        index = self._read_back()
        indexed = set(index.file_ids()) if index is not None else self.at_root.indexed()
        refused = {name: _reason(output, name) for name in self.ids if name not in indexed}
        self.progress.reached(done_files=len(self.ids) - len(refused))
        self.progress.done()
        try:
            if not refused:
                self.at_root.finish()
                self.counts = index.counts() if index is not None else record_counts(self.at_root.dicomdir)
                self._write_data(index)
        finally:
            for listing in self.listings:
                if os.path.exists(listing):
                    os.unlink(listing)
        return refused

    def _read_back(self):
        """The root's index as written, or None where dcmmkdir failed or it does not walk."""
        if isinstance(self.at_root.wait(), DiscError):
            return None
        try:
            with open(self.at_root.dicomdir, "rb") as handle:
                return Dicomdir(handle.read())
        except Unwalkable:
            return None

    def _write_data(self, index):
        target = os.path.join(self.root, "DATA", "DICOMDIR")
        try:
            if index is None:
                raise Unwalkable("the root's index was not read")
            with open(target, "wb") as out:
                index.write_relocated("DATA", out)
        except Unwalkable:
            in_data = [name[len("DATA/"):] for name in self.ids]
            own = _Index(os.path.join(self.read_root, "DATA"), os.path.join(self.root, "DATA"), in_data,
                         self.switch, self.fileset_id, self.listings[0], "DATA/DICOMDIR")
            own.start(_INVENT if self.inventing else ())
            own.finish()
            if own.indexed() != set(in_data):
                raise DiscError("dcmmkdir left images out of DATA/DICOMDIR that the root's DICOMDIR names")
