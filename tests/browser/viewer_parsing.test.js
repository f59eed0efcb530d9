// The page's own DICOM reading, run under Node on the sample disc and on damaged or unusual
// files: the index tree, the transfer syntaxes, pixel values and the window function.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { SOURCE_DIR, tempDir, buildDisc, readArrayBuffer } = require('./support/disc.js');
const craft = require('./support/craft.js');

const js = (name) => require(path.join(SOURCE_DIR, 'viewer', 'js', name));
const Dicom = js('dicom.js');
const Dicomdir = js('dicomdir.js');
const Imaging = js('imaging.js');

const work = tempDir('lumidra-parse-');
const disc = path.join(work, 'disc');
buildDisc(disc);
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

const DATA = path.join(disc, 'DATA');
const CT = (n) => path.join(DATA, 'DICOM', 'PA000001', 'ST000001', 'SE000001', 'IM' + String(n).padStart(6, '0'));

function tree(buffer) {
  return Dicomdir.readDicomdir(Dicom.parseDicom(buffer)).patients;
}

function shape(patients) {
  return patients.map((p) => ({
    name: p.name,
    studies: p.studies.map((s) => s.series.map((se) => [se.modality, se.images.map((i) => i.path).join(',')])),
  }));
}

function convert(file, options) {
  const out = path.join(work, 'conv-' + Math.random().toString(36).slice(2));
  execFileSync('dcmconv', [...options, file, out]);
  return readArrayBuffer(out);
}

function decode(buffer) {
  const parsed = Dicom.parseDicom(buffer);
  return Imaging.decodeImage(parsed.dataset, parsed.transferSyntax);
}

test('the sample DICOMDIR becomes the study tree', () => {
  const patients = tree(readArrayBuffer(path.join(DATA, 'DICOMDIR')));
  assert.equal(patients.length, 1);
  assert.equal(patients[0].name, 'Nováková^Jana');
  assert.equal(patients[0].id, 'LUM0001');
  const study = patients[0].studies[0];
  assert.equal(study.description, 'CT CHEST + MR HEAD + CR (SAMPLE)');
  assert.deepEqual(study.series.map((s) => [s.modality, s.number, s.images.length]),
    [['CT', 1, 48], ['MR', 2, 6], ['CR', 3, 1]]);
  for (const series of study.series) {
    const numbers = series.images.map((i) => i.instanceNumber);
    assert.deepEqual(numbers, [...numbers].sort((a, b) => a - b));
    for (const image of series.images) assert.ok(fs.existsSync(path.join(DATA, image.path)), image.path);
  }
});

test('implicit VR, undefined lengths and bare data sets read the same as the originals', () => {
  const index = path.join(DATA, 'DICOMDIR');
  const expected = shape(tree(readArrayBuffer(index)));
  for (const options of [['-e'], ['+ti'], ['+ti', '-e']]) {
    assert.deepEqual(shape(tree(convert(index, options))), expected, 'DICOMDIR with ' + options.join(' '));
  }
  const original = decode(readArrayBuffer(CT(20)));
  for (const options of [['+ti'], ['+ti', '-F'], ['-F']]) {
    const image = decode(convert(CT(20), options));
    assert.deepEqual([image.rows, image.columns, image.slope, image.intercept, image.windows],
      [original.rows, original.columns, original.slope, original.intercept, original.windows]);
    assert.deepEqual(Array.from(image.values), Array.from(original.values), 'pixels with ' + options.join(' '));
  }
  const bigEndian = convert(CT(1), ['+tb']);
  assert.throws(() => Dicom.parseDicom(bigEndian), Dicom.DicomError);
});

test('record offsets are followed, and broken ones fall back to file order', () => {
  const index = readArrayBuffer(path.join(DATA, 'DICOMDIR'));
  const expected = shape(tree(index));
  const parsed = Dicom.parseDicom(index);
  const records = parsed.dataset.get(0x00041220).items;

  const damaged = index.slice(0);
  new DataView(damaged).setUint32(parsed.dataset.get(0x00041200).offset, 7, true);
  assert.deepEqual(shape(tree(damaged)), expected, 'root offset pointing nowhere');

  const circular = index.slice(0);
  const lastImage = records[records.length - 1];
  new DataView(circular).setUint32(lastImage.get(0x00041400).offset, lastImage.offset, true);
  assert.deepEqual(shape(tree(circular)), expected, 'record pointing at itself');

  const unused = index.slice(0);
  const image = records.find((r) => r.string(0x00041430) === 'IMAGE');
  new DataView(unused).setUint16(image.get(0x00041410).offset, 0, true);
  const first = tree(unused)[0].studies[0].series[0];
  assert.equal(first.images.length, 47, 'a record not in use is left out');
});

test('file ids that could leave the disc are refused', () => {
  assert.equal(Dicomdir.fileIdToPath(['DICOM', 'ST000001', 'IM000001']), 'DICOM/ST000001/IM000001');
  assert.equal(Dicomdir.fileIdToPath(['dicom', 'im0001.dcm']), 'dicom/im0001.dcm');
  for (const bad of [['..', 'x'], ['DICOM', '..'], ['.'], ['A/B'], ['%2e%2e'], [''], [], new Array(9).fill('A')]) {
    assert.equal(Dicomdir.fileIdToPath(bad), null, JSON.stringify(bad));
  }
});

test('damaged files give a DicomError or an ImageError, never anything else', () => {
  const originals = [readArrayBuffer(CT(1)), readArrayBuffer(path.join(DATA, 'DICOMDIR'))];
  let seed = 12345;
  const random = () => {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    return seed / 2147483648;
  };
  const tryAll = (buffer, what) => {
    try {
      const parsed = Dicom.parseDicom(buffer);
      if (parsed.dataset.has(0x00041220)) Dicomdir.readDicomdir(parsed);
      else Imaging.decodeImage(parsed.dataset, parsed.transferSyntax);
    } catch (e) {
      assert.ok(e instanceof Dicom.DicomError || e instanceof Imaging.ImageError ||
        /DICOMDIR|directory records/.test(e.message), what + ': ' + e.stack);
    }
  };
  for (const original of originals) {
    for (let cut = 0; cut < original.byteLength; cut += 97) tryAll(original.slice(0, cut), 'cut at ' + cut);
    for (let n = 0; n < 300; n++) {
      const copy = new Uint8Array(original.slice(0));
      for (let k = 0; k < 4; k++) copy[Math.floor(random() * Math.min(copy.length, 1200))] = Math.floor(random() * 256);
      tryAll(copy.buffer, 'variant ' + n);
    }
  }
  // Sequences nested without end must not exhaust the stack.
  let nested = craft.element(0x00100010, 'PN', 'X');
  for (let i = 0; i < 200; i++) {
    nested = Buffer.concat([craft.element(0x00081115, 'SQ', Buffer.alloc(0), { length: 0xffffffff }),
      craft.item(nested, true), craft.delimiter(0xe0dd)]);
  }
  assert.throws(() => Dicom.parseDicom(craft.toArrayBuffer(nested)), /nested too deeply/);
});

test('stored values: bits stored, sign, rescale, short and compressed pixel data', () => {
  // 12 bits stored in 16: the top four bits are not part of the value.
  const words = (list) => { const b = Buffer.alloc(list.length * 2); list.forEach((v, i) => b.writeUInt16LE(v, i * 2)); return b; };
  let image = decode(craft.imageDataset({ 0x00280101: ['US', 12], 0x00281052: ['DS', '-1024'], 0x00281053: ['DS', '2'] },
    { bytes: words([0xf000 | 100, 0x0fff, 0, 0x8001]) }));
  assert.deepEqual(Array.from(image.values), [100, 4095, 0, 1]);
  assert.deepEqual(Imaging.valueRange(image, 0), { min: -1024, max: 4095 * 2 - 1024 });

  // Signed 12-bit: 0x800 is -2048, 0xfff is -1.
  image = decode(craft.imageDataset({ 0x00280101: ['US', 12], 0x00280103: ['US', 1] },
    { bytes: words([0x0800, 0x0fff, 0x07ff, 5]) }));
  assert.deepEqual(Array.from(image.values), [-2048, -1, 2047, 5]);

  // Signed 16-bit without a window in the file: the default spans the values.
  image = decode(craft.imageDataset({ 0x00280103: ['US', 1] }, { bytes: words([0xfc18, 1000, 0, 0]) }));
  assert.deepEqual(Imaging.defaultWindow(image, 0), { center: 0, width: 2000 });

  assert.throws(() => decode(craft.imageDataset({}, { bytes: words([1, 2, 3]) })), /shorter/);
  assert.throws(() => decode(craft.imageDataset({}, null)), /no image/);
  assert.throws(() => decode(craft.imageDataset({ 0x00280100: ['US', 12] }, { bytes: words([1, 2, 3, 4]) })), /not supported/);
  assert.throws(() => decode(craft.imageDataset({ 0x00280004: ['CS', 'PALETTE COLOR'] }, { bytes: words([1, 2, 3, 4]) })), /not supported/);

  const encapsulated = Buffer.concat([
    Buffer.from(craft.imageDataset({}, null)),
    craft.element(0x7fe00010, 'OB', Buffer.alloc(0), { length: 0xffffffff }),
    craft.item(Buffer.alloc(0)), craft.item(Buffer.alloc(8)), craft.delimiter(0xe0dd)]);
  assert.throws(() => decode(craft.toArrayBuffer(encapsulated)), /compressed/);
});

test('the window function and the rendered grey levels', () => {
  // Center 40, width 400: everything at or below -160 is black, above 239 white.
  assert.equal(Imaging.windowLevel(-160, 40, 400), 0);
  assert.equal(Imaging.windowLevel(-159, 40, 400), 1);
  assert.equal(Imaging.windowLevel(39.5, 40, 400), 128);
  assert.equal(Imaging.windowLevel(238, 40, 400), 254);
  assert.equal(Imaging.windowLevel(239.5, 40, 400), 255);
  assert.equal(Imaging.windowLevel(10, 10, 1), 255);
  assert.equal(Imaging.windowLevel(9, 10, 1), 0);

  const words = Buffer.alloc(8);
  [0, 100, 200, 300].forEach((v, i) => words.writeUInt16LE(v, i * 2));
  const fields = { 0x00281050: ['DS', '150'], 0x00281051: ['DS', '201'], 0x00281052: ['DS', '0'], 0x00281053: ['DS', '1'] };
  const grey = (extra) => {
    const image = decode(craft.imageDataset(Object.assign({}, fields, extra), { bytes: words }));
    const rgba = new Uint8ClampedArray(16);
    Imaging.renderFrame(image, 0, Imaging.defaultWindow(image, 0), rgba);
    return [rgba[0], rgba[4], rgba[8], rgba[12], rgba[3]];
  };
  // Window 49.5 to 249.5 over the values 0, 100, 200, 300.
  assert.deepEqual(grey({}), [0, 64, 192, 255, 255]);
  assert.deepEqual(grey({ 0x00280004: ['CS', 'MONOCHROME1'] }), [255, 191, 63, 0, 255]);
  // The rescale applies before the window: slope 0.5 gives 0, 50, 100, 150.
  assert.deepEqual(grey({ 0x00281053: ['DS', '0.5'] }), [0, 1, 64, 128, 255]);
  // An intercept moves them all: 100, 200, 300, 400.
  assert.deepEqual(grey({ 0x00281052: ['DS', '100'] }), [64, 192, 255, 255, 255]);

  // Planar RGB: all reds, then greens, then blues.
  const rgb = craft.imageDataset({
    0x00280002: ['US', 3], 0x00280004: ['CS', 'RGB'], 0x00280006: ['US', 1], 0x00280010: ['US', 1],
    0x00280011: ['US', 2], 0x00280100: ['US', 8], 0x00280101: ['US', 8],
  }, { vr: 'OB', bytes: Buffer.from([255, 0, 0, 255, 10, 20]) });
  const image = decode(rgb);
  const rgba = new Uint8ClampedArray(8);
  Imaging.renderFrame(image, 0, Imaging.defaultWindow(image, 0), rgba);
  assert.deepEqual(Array.from(rgba), [255, 0, 10, 255, 0, 255, 20, 255]);
});

test('text values follow the specific character set', () => {
  const latin2 = Buffer.from([0x4e, 0x6f, 0x76, 0xe1, 0x6b, 0x6f, 0x76, 0xe1]); // "Nováková" in ISO 8859-2
  const buffer = Buffer.concat([
    craft.element(0x00080005, 'CS', 'ISO_IR 101'),
    craft.element(0x00100010, 'PN', latin2),
    craft.element(0x00100020, 'LO', 'ID1  '),
  ]);
  const ds = Dicom.parseDicom(craft.toArrayBuffer(buffer)).dataset;
  assert.equal(ds.string(0x00100010), 'Nováková');
  assert.equal(ds.string(0x00100020), 'ID1');
  const sample = Dicom.parseDicom(readArrayBuffer(CT(1))).dataset;
  assert.equal(sample.string(0x00080090), 'Dvořák^Petr^^MUDr.');
  assert.deepEqual(sample.numbers(0x00200032), [-160, -160, -60]);
});
