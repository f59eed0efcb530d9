"""Writes DICOM Part 10 files in Explicit VR Little Endian.

Only what the sample disc needs: flat data sets of strings, numbers and
pixel data, no sequences. Values are given as Python values and encoded
by their VR.
"""

import struct

EXPLICIT_VR_LITTLE_ENDIAN = "1.2.840.10008.1.2.1"
IMPLEMENTATION_CLASS_UID = "2.25.1870591822497312004519376290186021364"
IMPLEMENTATION_VERSION = "LUMIDRA_SAMPLE"

# VRs whose explicit form carries two reserved bytes and a 32-bit length.
_LONG_VRS = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"}
_TEXT_VRS = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT", "PN", "SH", "ST", "TM", "UC",
             "UR", "UT"}
_NUMBER_FORMATS = {"US": "<H", "SS": "<h", "UL": "<I", "SL": "<i", "FL": "<f", "FD": "<d"}
_MAX_SHORT_LENGTH = 0xFFFF


class DicomWriteError(ValueError):
    pass


def _format_number_string(value):
    """DS and IS values: at most 16 characters each."""
    if isinstance(value, float):
        text = repr(value)
        if text.endswith(".0"):
            text = text[:-2]
    else:
        text = str(value)
    if len(text) > 16:
        text = "%.10g" % value
    if len(text) > 16:
        raise DicomWriteError("number too long for DS/IS: %r" % (value,))
    return text


def encode_value(vr, value, charset="ascii"):
    """The value field of one element, padded to an even length."""
    if vr in _NUMBER_FORMATS:
        values = value if isinstance(value, (list, tuple)) else [value]
        data = b"".join(struct.pack(_NUMBER_FORMATS[vr], v) for v in values)
    elif vr == "UI":
        data = value.encode("ascii")
        if len(data) > 64:
            raise DicomWriteError("UID longer than 64 characters: %s" % value)
        if len(data) % 2:
            data += b"\0"
    elif vr in _TEXT_VRS:
        if isinstance(value, (list, tuple)):
            if vr in ("DS", "IS"):
                value = "\\".join(_format_number_string(v) for v in value)
            else:
                value = "\\".join(value)
        elif vr in ("DS", "IS"):
            value = _format_number_string(value)
        data = value.encode(charset)
        if len(data) % 2:
            data += b" "
    elif vr in ("OB", "OW", "UN"):
        data = bytes(value)
        if len(data) % 2:
            data += b"\0"
    else:
        raise DicomWriteError("unsupported VR " + vr)
    return data


def encode_element(tag, vr, value, charset="ascii"):
    group, element = tag
    data = encode_value(vr, value, charset)
    head = struct.pack("<HH", group, element) + vr.encode("ascii")
    if vr in _LONG_VRS:
        head += b"\0\0" + struct.pack("<I", len(data))
    else:
        if len(data) > _MAX_SHORT_LENGTH:
            raise DicomWriteError("value too long for VR %s" % vr)
        head += struct.pack("<H", len(data))
    return head + data


def encode_dataset(elements, charset="ascii"):
    """elements: iterable of (tag, vr, value); written in ascending tag order."""
    ordered = sorted(elements, key=lambda e: e[0])
    tags = [e[0] for e in ordered]
    if len(set(tags)) != len(tags):
        raise DicomWriteError("duplicate tag in data set")
    return b"".join(encode_element(tag, vr, value, charset) for tag, vr, value in ordered)


def file_meta(sop_class_uid, sop_instance_uid):
    """The group 2 elements, led by their group length."""
    body = encode_dataset([
        ((0x0002, 0x0001), "OB", b"\x00\x01"),
        ((0x0002, 0x0002), "UI", sop_class_uid),
        ((0x0002, 0x0003), "UI", sop_instance_uid),
        ((0x0002, 0x0010), "UI", EXPLICIT_VR_LITTLE_ENDIAN),
        ((0x0002, 0x0012), "UI", IMPLEMENTATION_CLASS_UID),
        ((0x0002, 0x0013), "SH", IMPLEMENTATION_VERSION),
    ])
    return encode_element((0x0002, 0x0000), "UL", len(body)) + body


def part10_bytes(elements, charset="ascii"):
    """A whole Part 10 file: preamble, "DICM", file meta, then the data set.

    elements must hold the SOP Class and SOP Instance UIDs (0008,0016/0018)."""
    by_tag = {tag: value for tag, _vr, value in elements}
    try:
        sop_class = by_tag[(0x0008, 0x0016)]
        sop_instance = by_tag[(0x0008, 0x0018)]
    except KeyError as missing:
        raise DicomWriteError("data set lacks SOP Class/Instance UID") from missing
    if any(tag[0] == 0x0002 for tag in by_tag):
        raise DicomWriteError("group 2 belongs to the file meta, not the data set")
    return (b"\0" * 128 + b"DICM" + file_meta(sop_class, sop_instance)
            + encode_dataset(elements, charset))


def write_part10(path, elements, charset="ascii"):
    data = part10_bytes(elements, charset)
    with open(path, "wb") as out:
        out.write(data)
