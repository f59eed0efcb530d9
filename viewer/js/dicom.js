// Reads DICOM files in the uncompressed little-endian transfer syntaxes (implicit and explicit
// VR), Part 10 files with or without their preamble, and bare data sets. Everything is read
// from an ArrayBuffer with bounds checks: a damaged file gives a DicomError, never a crash.
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.LumidraDicom = api;
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  const IMPLICIT_LE = '1.2.840.10008.1.2';
  const EXPLICIT_LE = '1.2.840.10008.1.2.1';
  const EXPLICIT_BE = '1.2.840.10008.1.2.2';
  const DEFLATED_LE = '1.2.840.10008.1.2.1.99';
  const UNDEFINED = 0xffffffff;
  const ITEM = 0xfffee000;
  const ITEM_END = 0xfffee00d;
  const SEQUENCE_END = 0xfffee0dd;
  const PIXEL_DATA = 0x7fe00010;
  const MAX_DEPTH = 24;

  const LONG_VRS = new Set(['OB', 'OD', 'OF', 'OL', 'OV', 'OW', 'SQ', 'SV', 'UC', 'UN', 'UR', 'UT', 'UV']);
  const ALL_VRS = new Set(['AE', 'AS', 'AT', 'CS', 'DA', 'DS', 'DT', 'FD', 'FL', 'IS', 'LO', 'LT',
    'OB', 'OD', 'OF', 'OL', 'OV', 'OW', 'PN', 'SH', 'SL', 'SQ', 'SS', 'ST', 'SV', 'TM', 'UC', 'UI',
    'UL', 'UN', 'UR', 'US', 'UT', 'UV']);
  // Texts that may hold characters beyond ASCII and so follow Specific Character Set.
  const CHARSET_VRS = new Set(['LO', 'LT', 'PN', 'SH', 'ST', 'UC', 'UT']);

  // Value representations for reading implicit VR files: the attributes this viewer uses,
  // and sequences that are common enough to be walked rather than skipped.
  const DICTIONARY = {
    0x00041130: 'CS', 0x00041200: 'UL', 0x00041202: 'UL', 0x00041212: 'US', 0x00041220: 'SQ',
    0x00041400: 'UL', 0x00041410: 'US', 0x00041420: 'UL', 0x00041430: 'CS', 0x00041500: 'CS',
    0x00041510: 'UI', 0x00041511: 'UI', 0x00041512: 'UI',
    0x00080005: 'CS', 0x00080008: 'CS', 0x00080016: 'UI', 0x00080018: 'UI', 0x00080020: 'DA',
    0x00080021: 'DA', 0x00080030: 'TM', 0x00080031: 'TM', 0x00080050: 'SH', 0x00080060: 'CS',
    0x00080070: 'LO', 0x00080090: 'PN', 0x00081030: 'LO', 0x0008103e: 'LO', 0x00081110: 'SQ',
    0x00081115: 'SQ', 0x00081140: 'SQ', 0x00082112: 'SQ', 0x00089215: 'SQ',
    0x00100010: 'PN', 0x00100020: 'LO', 0x00100030: 'DA', 0x00100040: 'CS',
    0x0020000d: 'UI', 0x0020000e: 'UI', 0x00200010: 'SH', 0x00200011: 'IS', 0x00200013: 'IS',
    0x00200032: 'DS', 0x00200037: 'DS', 0x00201041: 'DS',
    0x00280002: 'US', 0x00280004: 'CS', 0x00280006: 'US', 0x00280008: 'IS', 0x00280010: 'US',
    0x00280011: 'US', 0x00280030: 'DS', 0x00280100: 'US', 0x00280101: 'US', 0x00280102: 'US',
    0x00280103: 'US', 0x00281050: 'DS', 0x00281051: 'DS', 0x00281052: 'DS', 0x00281053: 'DS',
    0x00281054: 'LO', 0x00283010: 'SQ', 0x00289110: 'SQ', 0x00400275: 'SQ', 0x52009229: 'SQ',
    0x52009230: 'SQ', 0x7fe00010: 'OW',
  };

  const CHARSETS = {
    'ISO_IR 6': 'windows-1252', 'ISO_IR 100': 'windows-1252', 'ISO_IR 101': 'iso-8859-2',
    'ISO_IR 109': 'iso-8859-3', 'ISO_IR 110': 'iso-8859-4', 'ISO_IR 144': 'iso-8859-5',
    'ISO_IR 127': 'iso-8859-6', 'ISO_IR 126': 'iso-8859-7', 'ISO_IR 138': 'iso-8859-8',
    'ISO_IR 148': 'windows-1254', 'ISO_IR 166': 'windows-874', 'ISO_IR 13': 'shift_jis',
    'ISO_IR 192': 'utf-8', 'GB18030': 'gb18030', 'GBK': 'gbk',
  };

  class DicomError extends Error {}

  function tagText(tag) {
    const hex = (tag >>> 0).toString(16).toUpperCase().padStart(8, '0');
    return '(' + hex.slice(0, 4) + ',' + hex.slice(4) + ')';
  }

  function decoderFor(term) {
    const name = CHARSETS[term] || 'windows-1252';
    try {
      return new TextDecoder(name);
    } catch (e) {
      return new TextDecoder('windows-1252');
    }
  }

  // One data set: its elements by tag, in file order. Nested data sets (items) know their
  // parent so that they inherit its character set.
  class Dataset {
    constructor(view, parent, offset) {
      this.view = view;
      this.parent = parent || null;
      this.offset = offset || 0;
      this.elements = new Map();
    }

    has(tag) { return this.elements.has(tag >>> 0); }
    get(tag) { return this.elements.get(tag >>> 0); }

    bytes(tag) {
      const e = this.get(tag);
      if (!e || e.length === UNDEFINED) return null;
      return new Uint8Array(this.view.buffer, this.view.byteOffset + e.offset, e.length);
    }

    charsetTerm() {
      for (let ds = this; ds; ds = ds.parent) {
        const e = ds.get(0x00080005);
        if (e) {
          const terms = ds.rawText(e).split('\\').map((t) => t.trim().replace(/^ISO 2022 /, 'ISO_IR '));
          // With code extensions the first value may be empty (ASCII); the next one names the
          // repertoire that the extended characters use.
          return terms.find((t) => t) || '';
        }
      }
      return '';
    }

    rawText(e) {
      const bytes = new Uint8Array(this.view.buffer, this.view.byteOffset + e.offset, e.length);
      let s = '';
      for (const b of bytes) s += String.fromCharCode(b);
      return s;
    }

    // The whole value as text, trailing blanks and NULs removed; null when absent.
    string(tag) {
      const e = this.get(tag);
      if (!e || e.length === UNDEFINED || e.items) return null;
      const text = CHARSET_VRS.has(e.vr)
        ? decoderFor(this.charsetTerm()).decode(this.bytes(tag))
        : this.rawText(e);
      return text.replace(/[\s\0]+$/, '').replace(/^\s+/, '');
    }

    strings(tag) {
      const s = this.string(tag);
      return s === null ? [] : s.split('\\').map((v) => v.trim());
    }

    // A number from a binary (US, SS, UL, SL, FL, FD) or text (DS, IS) value; index picks one
    // of several values. null when absent or not a number.
    number(tag, index) {
      const i = index || 0;
      const e = this.get(tag);
      if (!e || e.length === UNDEFINED || e.items) return null;
      const sizes = { US: 2, SS: 2, UL: 4, SL: 4, FL: 4, FD: 8 };
      const size = sizes[e.vr];
      if (size) {
        if ((i + 1) * size > e.length) return null;
        const at = e.offset + i * size;
        switch (e.vr) {
          case 'US': return this.view.getUint16(at, true);
          case 'SS': return this.view.getInt16(at, true);
          case 'UL': return this.view.getUint32(at, true);
          case 'SL': return this.view.getInt32(at, true);
          case 'FL': return this.view.getFloat32(at, true);
          default: return this.view.getFloat64(at, true);
        }
      }
      const parts = this.strings(tag);
      if (i >= parts.length || parts[i] === '') return null;
      const value = Number(parts[i]);
      return Number.isFinite(value) ? value : null;
    }

    numbers(tag) {
      const out = [];
      const e = this.get(tag);
      if (!e) return out;
      for (let i = 0; ; i++) {
        const v = this.number(tag, i);
        if (v === null) return out;
        out.push(v);
      }
    }

    items(tag) {
      const e = this.get(tag);
      return e && e.items ? e.items : [];
    }
  }

  class Reader {
    constructor(view, littleEndian, explicit) {
      this.view = view;
      this.little = littleEndian;
      this.explicit = explicit;
    }

    need(pos, count, end) {
      if (pos + count > end) throw new DicomError('file ends inside an element header at byte ' + pos);
    }

    tagAt(pos) {
      const group = this.view.getUint16(pos, this.little);
      const element = this.view.getUint16(pos + 2, this.little);
      return ((group << 16) | element) >>> 0;
    }

    // Reads elements from pos up to end (or up to an item delimiter when stopAtItemEnd).
    // Returns the position after the last byte read.
    readDataset(ds, pos, end, depth, stopAtItemEnd) {
      if (depth > MAX_DEPTH) throw new DicomError('sequences nested too deeply');
      while (pos < end) {
        this.need(pos, 8, end);
        const tag = this.tagAt(pos);
        if (tag === ITEM_END) {
          if (stopAtItemEnd) return pos + 8;
          throw new DicomError('unexpected item delimiter at byte ' + pos);
        }
        if (tag === SEQUENCE_END || tag === ITEM) {
          throw new DicomError('unexpected ' + tagText(tag) + ' at byte ' + pos);
        }
        pos = this.readElement(ds, pos, end, depth, tag);
      }
      if (stopAtItemEnd) throw new DicomError('item without its delimiter');
      return pos;
    }

    readElement(ds, pos, end, depth, tag) {
      let vr;
      let length;
      let valueStart;
      const text = String.fromCharCode(this.view.getUint8(pos + 4), this.view.getUint8(pos + 5));
      if (this.explicit) {
        if (!ALL_VRS.has(text)) {
          throw new DicomError('no valid VR for ' + tagText(tag) + ' at byte ' + pos);
        }
        vr = text;
        if (LONG_VRS.has(vr)) {
          this.need(pos, 12, end);
          length = this.view.getUint32(pos + 8, this.little);
          valueStart = pos + 12;
        } else {
          length = this.view.getUint16(pos + 6, this.little);
          valueStart = pos + 8;
        }
      } else {
        vr = DICTIONARY[tag] || ((tag & 0xffff) === 0 ? 'UL' : 'UN');
        length = this.view.getUint32(pos + 4, this.little);
        valueStart = pos + 8;
      }
      const element = { tag, vr, offset: valueStart, length };
      let next;
      if (length === UNDEFINED) {
        if (tag === PIXEL_DATA) {
          element.fragments = [];
          next = this.readItems(ds, element, valueStart, end, depth, true);
        } else if (vr === 'SQ' || vr === 'UN') {
          // An undefined-length UN holds a sequence in implicit VR little endian.
          const reader = vr === 'UN' ? new Reader(this.view, true, false) : this;
          element.vr = 'SQ';
          element.items = [];
          next = reader.readItems(ds, element, valueStart, end, depth, false);
        } else {
          throw new DicomError('undefined length for ' + vr + ' ' + tagText(tag));
        }
      } else {
        if (valueStart + length > end) {
          throw new DicomError('value of ' + tagText(tag) + ' runs past the end (' + length + ' bytes)');
        }
        next = valueStart + length;
        if (vr === 'SQ') {
          element.items = [];
          this.readItems(ds, element, valueStart, next, depth, false);
        }
      }
      if (!ds.elements.has(tag)) ds.elements.set(tag, element);
      return next;
    }

    // Items of a sequence (or fragments of encapsulated pixel data). With undefined length the
    // list ends at the sequence delimiter, otherwise at end.
    readItems(parent, element, pos, end, depth, fragments) {
      const bounded = element.length !== UNDEFINED;
      while (pos < end) {
        this.need(pos, 8, end);
        const tag = this.tagAt(pos);
        const length = this.view.getUint32(pos + 4, this.little);
        if (tag === SEQUENCE_END) {
          if (bounded) throw new DicomError('sequence delimiter inside a sequence of known length');
          return pos + 8;
        }
        if (tag !== ITEM) throw new DicomError('expected an item at byte ' + pos + ', found ' + tagText(tag));
        const start = pos + 8;
        if (fragments) {
          if (length === UNDEFINED || start + length > end) throw new DicomError('bad pixel data fragment');
          element.fragments.push({ offset: start, length });
          pos = start + length;
          continue;
        }
        const item = new Dataset(this.view, parent, pos);
        if (length === UNDEFINED) {
          pos = this.readDataset(item, start, end, depth + 1, true);
        } else {
          if (start + length > end) throw new DicomError('item runs past the end of its sequence');
          this.readDataset(item, start, start + length, depth + 1, false);
          pos = start + length;
        }
        element.items.push(item);
      }
      if (!bounded) throw new DicomError('sequence without its delimiter');
      return pos;
    }
  }

  // Tells implicit from explicit VR for a data set without file meta.
  function looksExplicit(view, pos) {
    if (pos + 6 > view.byteLength) return false;
    const vr = String.fromCharCode(view.getUint8(pos + 4), view.getUint8(pos + 5));
    return ALL_VRS.has(vr);
  }

  // Parses a whole file. Returns { meta, dataset, transferSyntax }; dataset offsets are from
  // the start of the buffer, as DICOMDIR record offsets are.
  function parseDicom(buffer) {
    if (!(buffer instanceof ArrayBuffer)) throw new DicomError('not a buffer');
    const view = new DataView(buffer);
    const size = view.byteLength;
    let pos = 0;
    const meta = new Dataset(view, null, 0);
    const hasMagic = (at) => size >= at + 4 &&
      view.getUint8(at) === 0x44 && view.getUint8(at + 1) === 0x49 &&
      view.getUint8(at + 2) === 0x43 && view.getUint8(at + 3) === 0x4d;
    if (hasMagic(128)) pos = 132;
    else if (hasMagic(0)) pos = 4;

    let transferSyntax = null;
    if (pos > 0) {
      const reader = new Reader(view, true, true);
      while (pos + 8 <= size && view.getUint16(pos, true) === 0x0002) {
        pos = reader.readElement(meta, pos, size, 0, reader.tagAt(pos));
      }
      transferSyntax = meta.string(0x00020010);
      if (transferSyntax !== null) transferSyntax = transferSyntax.replace(/\0/g, '');
    }
    if (!transferSyntax) {
      transferSyntax = looksExplicit(view, pos) ? EXPLICIT_LE : IMPLICIT_LE;
    }
    if (transferSyntax === EXPLICIT_BE) throw new DicomError('big endian files are not supported');
    if (transferSyntax === DEFLATED_LE) throw new DicomError('deflated files are not supported');
    const explicit = transferSyntax !== IMPLICIT_LE;
    const dataset = new Dataset(view, null, pos);
    new Reader(view, true, explicit).readDataset(dataset, pos, size, 0, false);
    return { meta, dataset, transferSyntax };
  }

  return {
    parseDicom, Dataset, DicomError, tagText,
    IMPLICIT_LE, EXPLICIT_LE, EXPLICIT_BE, DEFLATED_LE, PIXEL_DATA,
  };
});
