"""The disc builder: any folder of DICOM files into the root of a Lumidra study disc."""


class DiscError(Exception):
    """A build that cannot go on; the message says why, in terms the user knows."""
