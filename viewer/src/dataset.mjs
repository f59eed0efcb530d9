// Reads a DICOM file (Part 10 or a bare data set) through dicom-parser, with the deflated
// transfer syntax inflated by pako, and gives its values as text and numbers. Text follows the
// file's Specific Character Set, which dicom-parser leaves to its caller.
import dicomParser from 'dicom-parser';
import pako from 'pako';
import { characterSetOf, decodeText } from './charset.mjs';

export const IMPLICIT_LE = '1.2.840.10008.1.2';
export const EXPLICIT_LE = '1.2.840.10008.1.2.1';
export const EXPLICIT_BE = '1.2.840.10008.1.2.2';
export const DEFLATED_LE = '1.2.840.10008.1.2.1.99';

export class DicomError extends Error {}

// Texts that may hold characters beyond ASCII and so follow Specific Character Set.
const CHARSET_VRS = new Set(['LO', 'LT', 'PN', 'SH', 'ST', 'UC', 'UT']);
// Implicit VR files carry no VRs: these are the texts the page shows that may hold names, with
// their VRs (a person name's components each start in the first character set).
const IMPLICIT_TEXT_TAGS = new Map([
  ['x00100010', 'PN'], ['x00080090', 'PN'], ['x00081030', 'LO'], ['x0008103e', 'LO'], ['x00080080', 'LO'],
  ['x00100020', 'LO'], ['x00081050', 'PN'], ['x00321032', 'PN'],
  // Documents and structured reports: title, concept names and code meanings, text, observers.
  ['x00420010', 'ST'], ['x00080104', 'LO'], ['x0040a160', 'UT'], ['x0040a123', 'PN'], ['x0040a075', 'PN'],
  ['x0040a027', 'LO'], ['x00700084', 'PN'], ['x00400254', 'LO'], ['x00081060', 'PN'],
]);
const VALID_VR = /^(AE|AS|AT|CS|DA|DS|DT|FD|FL|IS|LO|LT|OB|OD|OF|OL|OV|OW|PN|SH|SL|SQ|SS|ST|SV|TM|UC|UI|UL|UN|UR|US|UT|UV)$/;

function tagKey(tag) {
  return 'x' + (tag >>> 0).toString(16).padStart(8, '0');
}

// dicom-parser throws strings as well as Errors; either becomes a DicomError with a reason.
function reason(e) {
  const text = typeof e === 'string' ? e : (e && e.exception) || (e && e.message) || String(e);
  return String(text).replace(/^dicomParser\.\w+: /, '');
}

function inflate(byteArray, position) {
  const inflated = pako.inflateRaw(byteArray.subarray(position));
  const whole = new Uint8Array(position + inflated.length);
  whole.set(byteArray.subarray(0, position), 0);
  whole.set(inflated, position);
  return whole;
}

function hasPart10Magic(bytes) {
  return bytes.length >= 132 && bytes[128] === 0x44 && bytes[129] === 0x49 && bytes[130] === 0x43 && bytes[131] === 0x4d;
}

// A data set without file meta: explicit VR when the first element carries a VR, else implicit.
function parseBare(bytes, options) {
  const explicit = bytes.length >= 6 && VALID_VR.test(String.fromCharCode(bytes[4], bytes[5]));
  const parseElements = explicit ? dicomParser.parseDicomDataSetExplicit : dicomParser.parseDicomDataSetImplicit;
  const stream = new dicomParser.ByteStream(dicomParser.littleEndianByteArrayParser, bytes);
  const ds = new dicomParser.DataSet(stream.byteArrayParser, bytes, {});
  parseElements(ds, stream, bytes.length, options);
  return { dataSet: ds, transferSyntax: explicit ? EXPLICIT_LE : IMPLICIT_LE };
}

// File meta without the preamble in front (some toolkits write it so): the group 0002 element
// comes first, always explicit VR little endian.
function startsWithFileMeta(bytes) {
  return bytes.length >= 6 && bytes[0] === 0x02 && bytes[1] === 0x00 &&
    VALID_VR.test(String.fromCharCode(bytes[4], bytes[5]));
}

// The same bytes behind an empty preamble and "DICM", so that the meta's transfer syntax is used.
function withPreamble(bytes) {
  const whole = new Uint8Array(132 + bytes.length);
  whole.set([0x44, 0x49, 0x43, 0x4d], 128);
  whole.set(bytes, 132);
  return whole;
}

// Parses a whole file (or, with options.untilTag, its start up to that element); throws
// DicomError with a reason when it cannot be read.
export function parse(arrayBuffer, options) {
  let bytes = arrayBuffer instanceof Uint8Array ? arrayBuffer : new Uint8Array(arrayBuffer);
  try {
    if (!hasPart10Magic(bytes) && startsWithFileMeta(bytes)) bytes = withPreamble(bytes);
    if (!hasPart10Magic(bytes)) return parseBare(bytes, options);
    const dataSet = dicomParser.parseDicom(bytes, Object.assign({ inflater: inflate }, options));
    const transferSyntax = (dataSet.string('x00020010') || '').replace(/\0/g, '');
    return { dataSet, transferSyntax };
  } catch (e) {
    throw new DicomError('not a readable DICOM file: ' + reason(e));
  }
}

function charsetOf(dataSet, inherited) {
  if (!dataSet.elements.x00080005 && inherited) return inherited;
  return characterSetOf(dataSet.string('x00080005') || '');
}

function keyOf(tag) {
  return typeof tag === 'string' ? tag : tagKey(tag);
}

// Values of one data set, read with the character set of the file it came from.
export class Values {
  constructor(dataSet, parent) {
    this.ds = dataSet;
    this.charset = charsetOf(dataSet, parent && parent.charset);
  }

  element(tag) { return this.ds.elements[keyOf(tag)]; }
  has(tag) { return Boolean(this.element(tag)); }

  bytes(tag) {
    const e = this.element(tag);
    if (!e || e.length === undefined || e.length === 0xffffffff) return null;
    if (e.dataOffset + e.length > this.ds.byteArray.length) return null;
    return this.ds.byteArray.subarray(e.dataOffset, e.dataOffset + e.length);
  }

  // The whole value as text, leading and trailing blanks and NULs removed; '' when absent.
  text(tag) {
    const key = keyOf(tag);
    const e = this.ds.elements[key];
    if (!e || e.items || e.fragments) return '';
    const raw = this.bytes(key);
    if (!raw) return '';
    const vr = e.vr || IMPLICIT_TEXT_TAGS.get(key);
    let s;
    if (CHARSET_VRS.has(vr)) s = decodeText(this.charset, raw, vr);
    else {
      s = '';
      for (const b of raw) s += String.fromCharCode(b);
    }
    return s.replace(/[\s\0]+$/, '').replace(/^[\s\0]+/, '');
  }

  texts(tag) {
    const s = this.text(tag);
    return s === '' ? [] : s.split('\\').map((v) => v.trim());
  }

  // A number from a text value (DS, IS); null when absent or not a number.
  number(tag, index = 0) {
    const parts = this.texts(tag);
    if (index >= parts.length || parts[index] === '') return null;
    const value = Number(parts[index]);
    return Number.isFinite(value) ? value : null;
  }

  numbers(tag) {
    return this.texts(tag).map(Number).filter((v) => Number.isFinite(v));
  }

  // Binary values (US, SS, UL) by index; null when the value is not that long.
  binary(method, size, tag, index) {
    const e = this.element(tag);
    if (!e || e.length < (index + 1) * size) return null;
    return this.ds[method](keyOf(tag), index);
  }

  uint16(tag, index = 0) { return this.binary('uint16', 2, tag, index); }
  int16(tag, index = 0) { return this.binary('int16', 2, tag, index); }
  uint32(tag, index = 0) { return this.binary('uint32', 4, tag, index); }

  items(tag) {
    const e = this.element(tag);
    return e && e.items ? e.items.map((item) => new Values(item.dataSet, this)) : [];
  }

  // Sequence items with where they start in the file (the item tag), as DICOMDIR offsets count.
  itemsWithOffsets(tag) {
    const e = this.element(tag);
    if (!e || !e.items) return [];
    return e.items.map((item) => ({ offset: item.dataOffset - 8, values: new Values(item.dataSet, this) }));
  }
}
