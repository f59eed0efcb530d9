// Hand-made DICOM bytes for the parser tests.
'use strict';

const LONG = new Set(['OB', 'OD', 'OF', 'OL', 'OV', 'OW', 'SQ', 'SV', 'UC', 'UN', 'UR', 'UT', 'UV']);

function pad(bytes, filler) {
  return bytes.length % 2 ? Buffer.concat([bytes, Buffer.from([filler])]) : bytes;
}

function value(vr, v) {
  if (Buffer.isBuffer(v)) return pad(v, 0);
  const numbers = { US: ['writeUInt16LE', 2], SS: ['writeInt16LE', 2], UL: ['writeUInt32LE', 4] };
  if (numbers[vr]) {
    const list = Array.isArray(v) ? v : [v];
    const [method, size] = numbers[vr];
    const b = Buffer.alloc(list.length * size);
    list.forEach((x, i) => b[method](x, i * size));
    return b;
  }
  const text = Array.isArray(v) ? v.join('\\') : String(v);
  return pad(Buffer.from(text, 'utf-8'), vr === 'UI' ? 0 : 0x20);
}

// One element; explicit VR unless implicit is set. length overrides the length field
// (0xffffffff for undefined length; the caller then appends the delimiter).
function element(tag, vr, v, options = {}) {
  const data = value(vr, v);
  const head = Buffer.alloc(options.implicit ? 8 : (LONG.has(vr) ? 12 : 8));
  head.writeUInt16LE(tag >>> 16, 0);
  head.writeUInt16LE(tag & 0xffff, 2);
  const length = options.length !== undefined ? options.length : data.length;
  if (options.implicit) head.writeUInt32LE(length, 4);
  else {
    head.write(vr, 4, 'latin1');
    if (LONG.has(vr)) head.writeUInt32LE(length, 8);
    else head.writeUInt16LE(length, 6);
  }
  return Buffer.concat([head, data]);
}

function item(content, undefinedLength) {
  const head = Buffer.alloc(8);
  head.writeUInt16LE(0xfffe, 0);
  head.writeUInt16LE(0xe000, 2);
  head.writeUInt32LE(undefinedLength ? 0xffffffff : content.length, 4);
  const parts = [head, content];
  if (undefinedLength) parts.push(delimiter(0xe00d));
  return Buffer.concat(parts);
}

function delimiter(element) {
  const b = Buffer.alloc(8);
  b.writeUInt16LE(0xfffe, 0);
  b.writeUInt16LE(element, 2);
  return b;
}

function toArrayBuffer(b) {
  return b.buffer.slice(b.byteOffset, b.byteOffset + b.length);
}

// A bare explicit VR data set for an image, with overrides by tag.
function imageDataset(fields, pixels) {
  const defaults = {
    0x00280002: ['US', 1], 0x00280004: ['CS', 'MONOCHROME2'], 0x00280010: ['US', 2],
    0x00280011: ['US', 2], 0x00280100: ['US', 16], 0x00280101: ['US', 16], 0x00280103: ['US', 0],
  };
  const all = Object.assign(defaults, fields);
  const tags = Object.keys(all).map(Number).sort((a, b) => a - b);
  const parts = tags.filter((t) => all[t] !== null).map((t) => element(t, all[t][0], all[t][1]));
  if (pixels) parts.push(element(0x7fe00010, pixels.vr || 'OW', pixels.bytes));
  return toArrayBuffer(Buffer.concat(parts));
}

module.exports = { element, item, delimiter, toArrayBuffer, imageDataset };
