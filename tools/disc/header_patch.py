"""The top-level elements of an Explicit VR Little Endian header, walked by their bytes: for
reading the few a disc needs, and for a file's header with a few short text values put in (what
dcmmkdir needs to index an image that lacks them). pydicom would parse and write every element (7 ms a file, too
slow for an export of thousands that all lack a Study ID); this walks the top-level elements of
an Explicit VR Little Endian data set, which every image on a disc is in, and splices.

header_with(path, values) gives None for anything it does not walk (another byte order, a bare
data set, a structure it does not expect); the caller then has pydicom do it.
"""

import struct

import pydicom

_LONG_VRS = {b"OB", b"OD", b"OF", b"OL", b"OV", b"OW", b"SQ", b"SV", b"UC", b"UN", b"UR", b"UT", b"UV"}
_UNDEFINED = 0xFFFFFFFF
_ITEM, _ITEM_END, _SEQUENCE_END = 0xFFFEE000, 0xFFFEE00D, 0xFFFEE0DD
_PIXEL_DATA = 0x7FE00010
_FIRST_READ = 1 << 13  # most headers fit; a longer one is read whole
# Syntaxes whose data set is Explicit VR Little Endian, not deflated; compressed ones only encode
# their pixel data otherwise.
_OTHER_SYNTAXES = {"1.2.840.10008.1.2", "1.2.840.10008.1.2.2", "1.2.840.10008.1.2.1.99"}


class Unwalkable(Exception):
    pass


def tag_at(data, pos):
    if pos + 8 > len(data):
        raise Unwalkable("ends inside an element")
    group, element = struct.unpack_from("<HH", data, pos)
    return (group << 16) | element


def _element_end(data, pos):
    """Where the element at pos ends."""
    vr = data[pos + 4:pos + 6]
    if vr in _LONG_VRS:
        if pos + 12 > len(data):
            raise Unwalkable("ends inside an element")
        length = struct.unpack_from("<I", data, pos + 8)[0]
        start = pos + 12
    elif len(vr) == 2 and vr.isalpha() and vr.isupper():
        length = struct.unpack_from("<H", data, pos + 6)[0]
        start = pos + 8
    else:
        raise Unwalkable("not explicit VR")
    if length == _UNDEFINED:
        if vr != b"SQ":
            raise Unwalkable("undefined length outside a sequence")
        return _items_end(data, start)
    if start + length > len(data):
        raise Unwalkable("ends inside an element")
    return start + length


def _items_end(data, pos):
    """Where a sequence of undefined length, its items starting at pos, ends."""
    while True:
        tag = tag_at(data, pos)
        length = struct.unpack_from("<I", data, pos + 4)[0]
        if tag == _SEQUENCE_END:
            return pos + 8
        if tag != _ITEM:
            raise Unwalkable("not an item")
        if length != _UNDEFINED:
            pos += 8 + length
            continue
        pos += 8
        while tag_at(data, pos) != _ITEM_END:
            pos = _element_end(data, pos)
        pos += 8


_HEAD = struct.Struct("<I2sH")  # group and element as one word, VR, short length
_LONG_LENGTH = struct.Struct("<I")


def walk(data, pos, whole, stop_tag=_PIXEL_DATA):
    """(tag, VR, value offset, value length, end) of each top-level element from pos, up to the
    first whose tag is stop_tag or more (which is given too) or the end of data, which is the
    file's end only when whole. Raises Unwalkable where data ends inside an element (or before
    stop_tag, not whole) or is not Explicit VR Little Endian."""
    # Every header of every image passes here: the loop is kept to a few operations an element.
    size = len(data)
    head, long_length, long_vrs = _HEAD.unpack_from, _LONG_LENGTH.unpack_from, _LONG_VRS
    while pos < size or not whole:
        if pos + 8 > size:
            raise Unwalkable("ends inside an element")
        word, vr, length = head(data, pos)
        tag = ((word & 0xFFFF) << 16) | (word >> 16)
        if vr in long_vrs:
            if pos + 12 > size:
                raise Unwalkable("ends inside an element")
            length = long_length(data, pos + 8)[0]
            start = pos + 12
        else:
            start = pos + 8
        if tag >= stop_tag:
            yield tag, vr, start, length, start
            return
        if start == pos + 8 and not (vr.isalpha() and vr.isupper()):
            raise Unwalkable("not explicit VR")
        if length == _UNDEFINED:
            if vr != b"SQ":
                raise Unwalkable("undefined length outside a sequence")
            end = _items_end(data, start)
        else:
            end = start + length
            if end > size:
                raise Unwalkable("ends inside an element")
        yield tag, vr, start, end - start, end
        pos = end


def _encoded(keyword, value):
    tag = pydicom.datadict.tag_for_keyword(keyword)
    vr = pydicom.datadict.dictionary_VR(tag).encode("ascii")
    text = str(value).encode("ascii")
    if len(text) % 2:
        text += b" "
    return tag, struct.pack("<HH", tag >> 16, tag & 0xFFFF) + vr + struct.pack("<H", len(text)) + text


def _read(path, size):
    with open(path, "rb") as handle:
        return handle.read(size) if size else handle.read()


# The elements the builder may supply to the index (index_values.py), in tag order: the reader
# notes where each would go in a header it walks, so that the header is spliced without a walk.
SUPPLIED_TAGS = (0x00080020, 0x00080030, 0x00080060, 0x00100020, 0x00200010, 0x00200011, 0x00200013)


_PLACES = struct.Struct("<%dI" % (1 + 2 * len(SUPPLIED_TAGS)))


def packed_places(header_end, places):
    """header_end (where the pixel data starts, or the data set's end) and the (from, to) of the
    bytes each of SUPPLIED_TAGS replaces (empty where it is absent), as header_at_places takes
    them; b"" where an offset does not fit."""
    flat = [header_end] + [offset for place in places for offset in place]
    return _PLACES.pack(*flat) if header_end < 1 << 32 else b""


def header_at_places(path, places, values):
    """The file's bytes up to its pixel data with values ({keyword: text}) in place, where places
    (packed_places, as the reader noted them over the same bytes) says where each goes; None
    where the file is not as they were noted."""
    flat = _PLACES.unpack(places)
    header_end, where = flat[0], list(zip(flat[1::2], flat[2::2]))
    with open(path, "rb") as handle:
        data = handle.read(header_end)
    if len(data) != header_end:
        return None
    edits = sorted((where[SUPPLIED_TAGS.index(tag)], tag, encoded)
                   for tag, encoded in (_encoded(keyword, value) for keyword, value in values.items()))
    # The places must still fall on the elements they were noted at; else the header is walked.
    for (start, stop), tag, _encoded_element in edits:
        if start < header_end and (header_end - start < 8 or _tag_order(data, start) < tag
                                   or (stop > start) != (_tag_order(data, start) == tag)):
            return None
    parts, pos = [], 0
    for (start, stop), _tag, encoded in edits:
        parts += [data[pos:start], encoded]
        pos = stop
    parts.append(data[pos:])
    return b"".join(parts)


def _tag_order(data, pos):
    group, element = struct.unpack_from("<HH", data, pos)
    return (group << 16) | element


def header_with(path, values):
    """The file's bytes up to its pixel data, values ({keyword: text}) in place; or None."""
    data = _read(path, _FIRST_READ)
    try:
        return _spliced(data, values, len(data) < _FIRST_READ)
    except Unwalkable:
        pass
    if len(data) < _FIRST_READ:
        return None
    try:
        return _spliced(_read(path, 0), values, True)
    except Unwalkable:
        return None


def _spliced(data, values, whole):
    if data[128:132] != b"DICM" or tag_at(data, 132) != 0x00020000:
        raise Unwalkable("no meta header with its length")
    start = 144 + struct.unpack_from("<I", data, 140)[0]
    syntax = _meta_syntax(data, 132, start)
    if syntax in _OTHER_SYNTAXES:
        raise Unwalkable("not explicit VR little endian")
    added = sorted(_encoded(keyword, value) for keyword, value in values.items())
    parts, pos = [data[:start]], start
    for tag, _vr, _value, _length, end in walk(data, start, whole):
        if tag >= _PIXEL_DATA:
            break
        while added and added[0][0] < tag:
            parts.append(added.pop(0)[1])
        if added and added[0][0] == tag:  # present but empty: replaced
            parts.append(added.pop(0)[1])
        else:
            parts.append(data[pos:end])
        pos = end
    parts.extend(encoded for _tag_, encoded in added)
    return b"".join(parts)


def _meta_syntax(data, pos, end):
    while pos < end:
        tag = tag_at(data, pos)
        stop = _element_end(data, pos)
        if tag == 0x00020010:
            header = 12 if data[pos + 4:pos + 6] in _LONG_VRS else 8
            return data[pos + header:stop].rstrip(b"\0 ").decode("ascii", "replace")
        pos = stop
    raise Unwalkable("no transfer syntax")
