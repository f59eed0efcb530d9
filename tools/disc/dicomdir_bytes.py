"""A DICOMDIR (Explicit VR Little Endian, as dcmmkdir writes it) read by its bytes: the file IDs
its records name, how many records of each type it holds, and the same index with every file ID
made relative to a sub-folder of the file-set.

The index in DATA is the root's with "DATA\\" taken off each file ID: moving it so takes a few
hundredths of a second where dcmmkdir reading every image again takes a second per 5,000. The
offsets between records move with the file IDs' lengths and are laid out anew; a record an
offset does not point at, or any structure not foreseen here, raises Unwalkable, and the caller
has dcmmkdir make the index instead.
"""

import io
import struct

from pydicom.uid import generate_uid

from .header_patch import Unwalkable, tag_at, walk

_GROUP_LENGTH, _INSTANCE = 0x00020000, 0x00020003
_FIRST, _LAST, _RECORDS = 0x00041200, 0x00041202, 0x00041220
_NEXT, _LOWER, _TYPE, _FILE_ID = 0x00041400, 0x00041420, 0x00041430, 0x00041500
_OFFSETS = (_NEXT, _LOWER)
_ITEM, _ITEM_END, _SEQUENCE_END = 0xFFFEE000, 0xFFFEE00D, 0xFFFEE0DD
_UNDEFINED = 0xFFFFFFFF
_PAST_EVERY_TAG = 0xFFFFFFFF


class _Record:
    """Where one directory record lies in the index's bytes, and its offsets and file ID: the
    index names every image, so a record keeps no bytes of its own."""
    __slots__ = ("start", "defined", "body", "offsets", "file_id_at", "kind")

    def __init__(self, data, start, defined, body_end):
        self.start = start  # where its item starts in the file, which offsets name
        self.defined = defined  # the item has a length (else it ends with a delimiter)
        self.body = (start + 8, body_end)  # its elements
        offsets, self.file_id_at, self.kind = [], None, ""
        pos = start + 8
        for tag, _vr, _start, _length, end in walk(data[pos:body_end], 0, True, _PAST_EVERY_TAG):
            end += start + 8
            if tag in _OFFSETS:
                _offset(data[pos:end])
                offsets.append(pos)
            elif tag == _TYPE:
                self.kind = _text(data[pos:end])
            elif tag == _FILE_ID:
                self.file_id_at = (pos, end)
            pos = end
        self.offsets = tuple(offsets)  # where each offset's element starts

    def named(self, data):
        """The offsets in the record's elements."""
        return [_offset(data[pos:pos + 12]) for pos in self.offsets]

    def file_id(self, data):
        return None if self.file_id_at is None else _text(data[self.file_id_at[0]:self.file_id_at[1]])

    def moved(self, data, moved, file_id):
        """The record's elements with their offsets moved and, where given, the file ID's."""
        edits = [(pos, pos + 12, _moved(data[pos:pos + 12], moved)) for pos in self.offsets]
        if file_id is not None:
            edits.append((self.file_id_at[0], self.file_id_at[1], file_id))
        parts, pos = [], self.body[0]
        for start, end, replaced in sorted(edits):
            parts += [data[pos:start], replaced]
            pos = end
        parts.append(data[pos:self.body[1]])
        return b"".join(parts)


def _text(element):
    header = 12 if element[4:6] in (b"UT", b"UC", b"UR", b"UN") else 8
    return element[header:].decode("ascii", "replace").rstrip("\0 ")


def _offset(element):
    if len(element) != 12 or element[6:8] != b"\x04\x00":
        raise Unwalkable("an offset that is not 4 bytes")
    return struct.unpack_from("<I", element, 8)[0]


def _elements(data, pos, whole, stop_tag=_PAST_EVERY_TAG):
    """[(tag, bytes)] of the top-level elements from pos up to stop_tag (not included), and
    where they end."""
    found = []
    for tag, _vr, _start, _length, end in walk(data, pos, whole, stop_tag):
        if tag >= stop_tag:
            break
        found.append((tag, data[pos:end]))
        pos = end
    return found, pos


class Dicomdir:
    def __init__(self, data):
        if len(data) < 144 or data[128:132] != b"DICM" or tag_at(data, 132) != _GROUP_LENGTH:
            raise Unwalkable("no meta header with its length")
        meta_end = 144 + struct.unpack_from("<I", data, 140)[0]
        self.meta, _end = _elements(data[:meta_end], 132, True)
        self.before, pos = _elements(data, meta_end, True, _RECORDS)
        if tag_at(data, pos) != _RECORDS or data[pos + 4:pos + 6] != b"SQ" or pos + 12 > len(data):
            raise Unwalkable("no directory record sequence")
        length = struct.unpack_from("<I", data, pos + 8)[0]
        self.sequence_defined = length != _UNDEFINED
        self.data = data
        self.records, pos = self._records(data, pos + 12, pos + 12 + length if self.sequence_defined else None)
        self.after, _end = _elements(data, pos, True)
        self._check_offsets()

    def _records(self, data, pos, end):
        records = []
        while end is None or pos < end:
            tag = tag_at(data, pos)
            if end is None and tag == _SEQUENCE_END:
                return records, pos + 8
            if tag != _ITEM:
                raise Unwalkable("not an item in the record sequence")
            length = struct.unpack_from("<I", data, pos + 4)[0]
            if length != _UNDEFINED:
                if pos + 8 + length > len(data):
                    raise Unwalkable("a record past the file's end")
                records.append(_Record(data, pos, True, pos + 8 + length))
                pos += 8 + length
            else:
                _found, stop = _elements(data, pos + 8, False, _ITEM_END)
                if tag_at(data, stop) != _ITEM_END:
                    raise Unwalkable("a record without its end")
                records.append(_Record(data, pos, False, stop))
                pos = stop + 8
        if pos != end:
            raise Unwalkable("the record sequence's length is not its items'")
        return records, pos

    def _check_offsets(self):
        starts = {record.start for record in self.records}
        named = [_offset(element) for tag, element in self.before if tag in (_FIRST, _LAST)]
        named += [offset for record in self.records for offset in record.named(self.data)]
        for offset in named:
            if offset and offset not in starts:
                raise Unwalkable("an offset that names no record")

    def file_ids(self):
        """The file IDs the records name, '/' separated, in the index's order."""
        found = (record.file_id(self.data) for record in self.records)
        return [file_id.replace("\\", "/") for file_id in found if file_id is not None]

    def counts(self):
        """{record type: how many}."""
        found = {}
        for record in self.records:
            found[record.kind] = found.get(record.kind, 0) + 1
        return found

    def _file_id_in(self, record, prefix):
        """The record's file ID element less prefix, or None where it has none."""
        file_id = record.file_id(self.data)
        if file_id is None:
            return None
        if not file_id.startswith(prefix):
            raise Unwalkable("a file ID outside %s" % prefix.rstrip("\\"))
        element = self.data[record.file_id_at[0]:record.file_id_at[1]]
        return _with_value(element, file_id[len(prefix):].encode("ascii"), b" ")

    def relocated(self, folder):
        """write_relocated's bytes."""
        out = io.BytesIO()
        self.write_relocated(folder, out)
        return out.getvalue()

    def write_relocated(self, folder, out):
        """Writes to out the index with each file ID relative to folder (every one must lie in
        it; else Unwalkable, before anything is written) and an instance UID of its own: a
        second file, not a copy of the first. Record by record, so that no second copy of the
        index is held."""
        prefix = folder + "\\"
        meta = [(tag, _with_value(element, generate_uid().encode("ascii"), b"\0") if tag == _INSTANCE else element)
                for tag, element in self.meta if tag != _GROUP_LENGTH]
        head = b"\0" * 128 + b"DICM" + _group_length(sum(len(element) for _tag, element in meta))
        head += b"".join(element for _tag, element in meta)
        before = sum(len(element) for _tag, element in self.before)
        first = pos = len(head) + before + 12
        moved = {}
        file_ids = [self._file_id_in(record, prefix) for record in self.records]
        for record, file_id in zip(self.records, file_ids):
            moved[record.start] = pos
            grown = 0 if file_id is None else len(file_id) - (record.file_id_at[1] - record.file_id_at[0])
            pos += 8 + record.body[1] - record.body[0] + grown + (0 if record.defined else 8)
        out.write(head)
        for tag, element in self.before:
            out.write(_moved(element, moved) if tag in (_FIRST, _LAST) else element)
        out.write(struct.pack("<HH", 0x0004, 0x1220) + b"SQ\0\0"
                  + struct.pack("<I", pos - first if self.sequence_defined else _UNDEFINED))
        for record, file_id in zip(self.records, file_ids):
            body = record.moved(self.data, moved, file_id)
            out.write(struct.pack("<HHI", 0xFFFE, 0xE000, len(body) if record.defined else _UNDEFINED) + body)
            if not record.defined:
                out.write(struct.pack("<HHI", 0xFFFE, 0xE00D, 0))
        if not self.sequence_defined:
            out.write(struct.pack("<HHI", 0xFFFE, 0xE0DD, 0))
        for _tag, element in self.after:
            out.write(element)


def _with_value(element, value, pad):
    if len(value) % 2:
        value += pad
    if element[4:6] not in (b"CS", b"UI") or len(value) > 0xFFFF:
        raise Unwalkable("an unexpected representation")
    return element[:6] + struct.pack("<H", len(value)) + value


def _group_length(length):
    return struct.pack("<HH", 0x0002, 0x0000) + b"UL" + struct.pack("<HI", 4, length)


def _moved(element, moved):
    offset = _offset(element)
    return element[:8] + struct.pack("<I", moved[offset] if offset else 0)
