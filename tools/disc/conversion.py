"""Images in a transfer syntax no disc profile takes, made Explicit VR Little Endian by dcmtk's
dcmconv: the CD profile PDI asks for. The conversion is lossless: the same elements, the pixel
data's values unchanged (big endian words swapped into little endian order, a deflated data set
inflated). Compressed images stay as they were exported."""

from . import children

EXPLICIT_LITTLE = "1.2.840.10008.1.2.1"
# Syntax UID -> its name, for the summary.
CONVERTED = {
    "1.2.840.10008.1.2": "Implicit VR Little Endian",
    "1.2.840.10008.1.2.2": "Explicit VR Big Endian",
    "1.2.840.10008.1.2.1.99": "Deflated Explicit VR Little Endian",
}


def needs_conversion(image):
    return image.transfer_syntax in CONVERTED


def convert(image, target):
    """Writes image (a Part 10 file or a bare data set) to target as Explicit VR Little Endian,
    with a meta header."""
    children.run(["dcmconv", "-q", "+te", image.path, target], what="dcmconv (converting %s)" % image.path)
