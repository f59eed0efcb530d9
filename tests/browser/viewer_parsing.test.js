// The page's DICOM reading, run under Node on the sample disc and on damaged or unusual files:
// the index tree, the uncompressed transfer syntaxes, pixel values and the window function.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { SOURCE_DIR, tempDir, buildDisc, readArrayBuffer } = require('./support/disc.js');
const craft = require('./support/craft.js');

const source = (name) => import(path.join(SOURCE_DIR, 'viewer', 'src', name));

const work = tempDir('lumidra-parse-');
const disc = path.join(work, 'disc');
buildDisc(disc);
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

const DATA = path.join(disc, 'DATA');
let modules;
test.before(async () => {
  modules = {
    dataset: await source('dataset.mjs'),
    directory: await source('directory.mjs'),
    header: await source('image_header.mjs'),
    pixels: await source('pixels.mjs'),
    display: await source('display.mjs'),
  };
});

// The sample disc's images by modality and instance number, wherever the builder put them.
function sampleImage(modality, number) {
  const { patients } = modules.directory.readDirectory(readArrayBuffer(path.join(DATA, 'DICOMDIR')));
  const series = patients[0].studies[0].series.find((s) => s.modality === modality);
  return path.join(DATA, series.images.find((i) => i.instanceNumber === number).path);
}

function tree(buffer) {
  return modules.directory.readDirectory(buffer).patients;
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

// What the decoding worker does for uncompressed pixels, without the worker.
function decode(buffer, frame = 0) {
  const { readHeader, frameBytes, pixelLayout } = modules.header;
  const { nativeSamples, storedValues, valueRange } = modules.pixels;
  const header = readHeader(buffer);
  const layout = pixelLayout(header);
  const { bytes, bitOffset } = frameBytes(header, frame);
  const values = storedValues(layout, nativeSamples(layout, bytes, bitOffset, header.transferSyntax === '1.2.840.10008.1.2.2'));
  return { header, decoded: Object.assign({ kind: 'grey', pixels: values }, valueRange(values)) };
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

test('implicit VR, undefined lengths, bare data sets and big endian read the same as the originals', () => {
  const index = path.join(DATA, 'DICOMDIR');
  const expected = shape(tree(readArrayBuffer(index)));
  for (const options of [['-e'], ['+ti'], ['+ti', '-e']]) {
    assert.deepEqual(shape(tree(convert(index, options))), expected, 'DICOMDIR with ' + options.join(' '));
  }
  const ct = sampleImage('CT', 20);
  const original = decode(readArrayBuffer(ct));
  const summary = ({ header }) => [header.rows, header.columns, header.rescale, header.windows, header.texts.patientName];
  for (const options of [['+ti'], ['+ti', '-F'], ['-F'], ['+tb'], ['+td']]) {
    const image = decode(convert(ct, options));
    assert.deepEqual(summary(image), summary(original), 'header with ' + options.join(' '));
    assert.deepEqual(Array.from(image.decoded.pixels), Array.from(original.decoded.pixels), 'pixels with ' + options.join(' '));
  }
  // File meta without the preamble and "DICM" in front: its transfer syntax (big endian) still holds.
  const headless = convert(ct, ['+tb']).slice(132);
  assert.deepEqual(Array.from(decode(headless).decoded.pixels), Array.from(original.decoded.pixels), 'meta without preamble');
  assert.equal(original.header.texts.patientName, 'Nováková, Jana');
});

test('record offsets are followed, and broken ones fall back to file order', () => {
  const index = readArrayBuffer(path.join(DATA, 'DICOMDIR'));
  const expected = shape(tree(index));
  const { dataSet } = modules.dataset.parse(index);
  const records = dataSet.elements.x00041220.items;
  const offsetOf = (element) => element.dataOffset;

  const damaged = index.slice(0);
  new DataView(damaged).setUint32(offsetOf(dataSet.elements.x00041200), 7, true);
  assert.deepEqual(shape(tree(damaged)), expected, 'root offset pointing nowhere');

  const circular = index.slice(0);
  const lastImage = records[records.length - 1];
  new DataView(circular).setUint32(offsetOf(lastImage.dataSet.elements.x00041400), lastImage.dataOffset - 8, true);
  assert.deepEqual(shape(tree(circular)), expected, 'record pointing at itself');

  const unused = index.slice(0);
  const image = records.find((r) => r.dataSet.string('x00041430') === 'IMAGE');
  new DataView(unused).setUint16(offsetOf(image.dataSet.elements.x00041410), 0, true);
  const first = tree(unused)[0].studies[0].series[0];
  assert.equal(first.images.length, 47, 'a record not in use is left out');
});

test('dose grids are listed with the images of their series; other objects are not', () => {
  const record = (type, fields) => craft.item(Buffer.concat([
    craft.element(0x00041400, 'UL', 0), craft.element(0x00041410, 'US', 0xffff), craft.element(0x00041420, 'UL', 0),
    craft.element(0x00041430, 'CS', type), ...fields]));
  const records = Buffer.concat([
    record('PATIENT', [craft.element(0x00100010, 'PN', 'Dose^Test')]),
    record('STUDY', [craft.element(0x0020000d, 'UI', '1.2.3')]),
    record('SERIES', [craft.element(0x00080060, 'CS', 'RTDOSE')]),
    record('RT DOSE', [craft.element(0x00041500, 'CS', ['DICOM', 'DOSE1'])]),
    record('RT STRUCTURE SET', [craft.element(0x00041500, 'CS', ['DICOM', 'RS1'])]),
    record('IMAGE', [craft.element(0x00041500, 'CS', ['DICOM', 'IM1'])]),
  ]);
  const index = craft.toArrayBuffer(Buffer.concat([craft.element(0x00041200, 'UL', 0), craft.element(0x00041220, 'SQ', records)]));
  const series = tree(index)[0].studies[0].series[0];
  assert.deepEqual(series.images.map((i) => i.path), ['DICOM/DOSE1', 'DICOM/IM1']);
});

test('file ids that could leave the disc are refused', () => {
  const { fileIdToPath } = modules.directory;
  assert.equal(fileIdToPath(['DICOM', 'ST000001', 'IM000001']), 'DICOM/ST000001/IM000001');
  assert.equal(fileIdToPath(['dicom', 'im0001.dcm']), 'dicom/im0001.dcm');
  for (const bad of [['..', 'x'], ['DICOM', '..'], ['.'], ['A/B'], ['%2e%2e'], [''], [], new Array(9).fill('A')]) {
    assert.equal(fileIdToPath(bad), null, JSON.stringify(bad));
  }
});

test('damaged files give a DicomError or an ImageError, never anything else', () => {
  const { DicomError } = modules.dataset;
  const { ImageError } = modules.header;
  const originals = [readArrayBuffer(sampleImage('CT', 1)), readArrayBuffer(path.join(DATA, 'DICOMDIR'))];
  let seed = 12345;
  const random = () => {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    return seed / 2147483648;
  };
  const tryAll = (buffer, what) => {
    try {
      const { dataSet } = modules.dataset.parse(buffer);
      if (dataSet.elements.x00041220) modules.directory.readDirectory(buffer);
      else decode(buffer);
    } catch (e) {
      assert.ok(e instanceof DicomError || e instanceof ImageError || /DICOMDIR|directory records/.test(e.message),
        what + ': ' + e.stack);
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
  // A compressed file claiming far more frames than it holds is refused before any work per frame.
  const claimed = path.join(work, 'claimed-frames');
  execFileSync('dcmcjpeg', ['+e1', sampleImage('CT', 1), claimed]);
  execFileSync('dcmodify', ['-nb', '-i', '(0028,0008)=100000000', claimed]);
  assert.throws(() => decode(readArrayBuffer(claimed)), /names 100000000 frames but holds 1 compressed fragments/);

  // Sequences nested without end must not exhaust the stack.
  let nested = craft.element(0x00100010, 'PN', 'X');
  for (let i = 0; i < 20000; i++) {
    nested = Buffer.concat([craft.element(0x00081115, 'SQ', Buffer.alloc(0), { length: 0xffffffff }),
      craft.item(nested, true), craft.delimiter(0xe0dd)]);
  }
  assert.throws(() => modules.dataset.parse(craft.toArrayBuffer(nested)), DicomError);
});

test('stored values: bits stored, sign, rescale, 1-bit frames, short and misplaced pixel data', () => {
  const words = (list) => { const b = Buffer.alloc(list.length * 2); list.forEach((v, i) => b.writeUInt16LE(v, i * 2)); return b; };
  // 12 bits stored in 16: the top four bits are not part of the value.
  let image = decode(craft.imageDataset({ 0x00280101: ['US', 12], 0x00281052: ['DS', '-1024'], 0x00281053: ['DS', '2'] },
    { bytes: words([0xf000 | 100, 0x0fff, 0, 0x8001]) }));
  assert.deepEqual(Array.from(image.decoded.pixels), [100, 4095, 0, 1]);
  assert.deepEqual(image.header.rescale, { slope: 2, intercept: -1024 });

  // Signed 12-bit: 0x800 is -2048, 0xfff is -1.
  image = decode(craft.imageDataset({ 0x00280101: ['US', 12], 0x00280103: ['US', 1] },
    { bytes: words([0x0800, 0x0fff, 0x07ff, 5]) }));
  assert.deepEqual(Array.from(image.decoded.pixels), [-2048, -1, 2047, 5]);

  // Signed 16-bit without a window in the file: the default spans the values.
  image = decode(craft.imageDataset({ 0x00280103: ['US', 1] }, { bytes: words([0xfc18, 1000, 0, 0]) }));
  assert.deepEqual(modules.display.defaultView(image.header, 0, image.decoded), { center: 0, width: 2000, invert: false });

  // 1-bit frames of 3 x 3 pixels follow each other bit by bit: frame 2 starts at bit 9.
  const bits = craft.imageDataset({ 0x00280100: ['US', 1], 0x00280101: ['US', 1], 0x00280010: ['US', 3], 0x00280011: ['US', 3],
    0x00280008: ['IS', '2'] }, { vr: 'OB', bytes: Buffer.from([0b10000001, 0b00000011, 0b00000010, 0]) });
  assert.deepEqual(Array.from(decode(bits, 0).decoded.pixels), [1, 0, 0, 0, 0, 0, 0, 1, 1]);
  assert.deepEqual(Array.from(decode(bits, 1).decoded.pixels), [1, 0, 0, 0, 0, 0, 0, 0, 1]);
  assert.throws(() => decode(bits, 2), /no frame 3/);

  assert.throws(() => decode(craft.imageDataset({}, { bytes: words([1, 2, 3]) })), /shorter/);
  assert.throws(() => decode(craft.imageDataset({}, null)), /no image/);
  assert.throws(() => decode(craft.imageDataset({ 0x00280100: ['US', 12] }, { bytes: words([1, 2, 3, 4]) })), /12-bit pixels are not supported/);
  assert.throws(() => decode(craft.imageDataset({ 0x00280004: ['CS', 'PALETTE COLOR'] }, { bytes: words([1, 2, 3, 4]) })), /palette colour tables are missing/);
  assert.throws(() => decode(craft.imageDataset({ 0x00280004: ['CS', 'HSV'] }, { bytes: words([1, 2, 3, 4]) })), /HSV images .* not supported/);

  const encapsulated = Buffer.concat([
    Buffer.from(craft.imageDataset({}, null)),
    craft.element(0x7fe00010, 'OB', Buffer.alloc(0), { length: 0xffffffff }),
    craft.item(Buffer.alloc(0)), craft.item(Buffer.alloc(8)), craft.delimiter(0xe0dd)]);
  assert.throws(() => decode(craft.toArrayBuffer(encapsulated)), /encapsulated in an uncompressed transfer syntax/);
});

test('the window function, the VOI LUT and the rendered grey levels', () => {
  const { windowLevel, renderFrame, defaultView, presets } = modules.display;
  // Center 40, width 400: everything at or below -160 is black, above 239 white.
  assert.equal(windowLevel(-160, 40, 400), 0);
  assert.equal(windowLevel(-159, 40, 400), 1);
  assert.equal(windowLevel(39.5, 40, 400), 128);
  assert.equal(windowLevel(238, 40, 400), 254);
  assert.equal(windowLevel(239.5, 40, 400), 255);
  assert.equal(windowLevel(10, 10, 1), 255);
  assert.equal(windowLevel(9, 10, 1), 0);

  const words = Buffer.alloc(8);
  [0, 100, 200, 300].forEach((v, i) => words.writeUInt16LE(v, i * 2));
  const fields = { 0x00281050: ['DS', '150'], 0x00281051: ['DS', '201'], 0x00281052: ['DS', '0'], 0x00281053: ['DS', '1'] };
  const grey = (extra, change) => {
    const { header, decoded } = decode(craft.imageDataset(Object.assign({}, fields, extra), { bytes: words }));
    const rgba = new Uint8ClampedArray(16);
    renderFrame(header, 0, decoded, Object.assign(defaultView(header, 0, decoded), change), rgba);
    return [rgba[0], rgba[4], rgba[8], rgba[12], rgba[3]];
  };
  // Window 49.5 to 249.5 over the values 0, 100, 200, 300.
  assert.deepEqual(grey({}), [0, 64, 192, 255, 255]);
  assert.deepEqual(grey({ 0x00280004: ['CS', 'MONOCHROME1'] }), [255, 191, 63, 0, 255]);
  assert.deepEqual(grey({}, { invert: true }), [255, 191, 63, 0, 255]);
  // The rescale applies before the window: slope 0.5 gives 0, 50, 100, 150.
  assert.deepEqual(grey({ 0x00281053: ['DS', '0.5'] }), [0, 1, 64, 128, 255]);
  // An intercept moves them all: 100, 200, 300, 400.
  assert.deepEqual(grey({ 0x00281052: ['DS', '100'] }), [64, 192, 255, 255, 255]);

  // A VOI LUT of 256 entries from value 50, 8 bits: 0..255 over 50..305, shown when there is no window.
  const lutData = Buffer.alloc(512);
  for (let i = 0; i < 256; i++) lutData.writeUInt16LE(i, i * 2);
  const item = Buffer.concat([craft.element(0x00283002, 'US', [256, 50, 8]), craft.element(0x00283006, 'OW', lutData)]);
  const withLut = Buffer.concat([
    Buffer.from(craft.imageDataset({ 0x00281052: ['DS', '0'], 0x00281053: ['DS', '1'] }, null)),
    craft.element(0x00283010, 'SQ', craft.item(item)),
    craft.element(0x7fe00010, 'OW', words)]);
  const { header, decoded } = decode(craft.toArrayBuffer(withLut));
  const view = defaultView(header, 0, decoded);
  assert.equal(view.voiLut, 0);
  const rgba = new Uint8ClampedArray(16);
  renderFrame(header, 0, decoded, view, rgba);
  assert.deepEqual([rgba[0], rgba[4], rgba[8], rgba[12]], [0, 50, 150, 250]);
  assert.deepEqual(presets(header, 0).map((p) => p.name), ['File LUT 1']);

  // Planar RGB: all reds, then greens, then blues.
  const rgb = craft.imageDataset({
    0x00280002: ['US', 3], 0x00280004: ['CS', 'RGB'], 0x00280006: ['US', 1], 0x00280010: ['US', 1],
    0x00280011: ['US', 2], 0x00280100: ['US', 8], 0x00280101: ['US', 8],
  }, { vr: 'OB', bytes: Buffer.from([255, 0, 0, 255, 10, 20]) });
  const colour = modules.header.readHeader(rgb);
  const layout = modules.header.pixelLayout(colour);
  const { bytes } = modules.header.frameBytes(colour, 0);
  const pixels = modules.pixels.colourToRgb(layout, modules.pixels.nativeSamples(layout, bytes, 0, false), false, true);
  const out = new Uint8ClampedArray(8);
  renderFrame(colour, 0, { kind: 'rgb', pixels, min: 0, max: 255 }, { center: 128, width: 256, invert: false }, out);
  assert.deepEqual(Array.from(out), [255, 0, 10, 255, 0, 255, 20, 255]);
});

test('multi-frame objects take each frame\'s rescale and window from their functional groups', () => {
  const sq = (tag, ...items) => craft.element(tag, 'SQ', Buffer.concat(items.map((i) => craft.item(i))));
  const rescale = (intercept, slope) => sq(0x00289145, Buffer.concat([
    craft.element(0x00281052, 'DS', String(intercept)), craft.element(0x00281053, 'DS', String(slope))]));
  const shared = Buffer.concat([rescale(-1024, 1), sq(0x00289132, Buffer.concat([
    craft.element(0x00281050, 'DS', '40'), craft.element(0x00281051, 'DS', '400')]))]);
  const words = Buffer.alloc(16);
  [0, 1024, 2048, 4095, 0, 1024, 2048, 4095].forEach((v, i) => words.writeUInt16LE(v, i * 2));
  const buffer = Buffer.concat([
    Buffer.from(craft.imageDataset({ 0x00280008: ['IS', '2'] }, null)),
    sq(0x52009229, shared),
    // The first frame has no groups of its own, the second its own rescale.
    sq(0x52009230, Buffer.alloc(0), rescale(0, 2)),
    craft.element(0x7fe00010, 'OW', words)]);
  const image = craft.toArrayBuffer(buffer);
  const grey = (frame) => {
    const { header, decoded } = decode(image, frame);
    const rgba = new Uint8ClampedArray(16);
    const view = modules.display.defaultView(header, frame, decoded);
    modules.display.renderFrame(header, frame, decoded, view, rgba);
    return [view.center, view.width, rgba[0], rgba[4], rgba[8], rgba[12]];
  };
  // Frame 1: -1024, 0, 1024, 3071 under window 40/400; frame 2: 0, 2048, 4096, 8190.
  assert.deepEqual(grey(0), [40, 400, 0, 102, 255, 255]);
  assert.deepEqual(grey(1), [40, 400, 102, 255, 255, 255]);
});

test('CT images offer their own window first, then the modality presets', () => {
  const { header, decoded } = decode(readArrayBuffer(sampleImage('CT', 1)));
  assert.deepEqual(modules.display.presets(header, 0).map((p) => [p.name, p.center, p.width]),
    [['File', 40, 400], ['Brain', 40, 80], ['Soft tissue', 40, 400], ['Lung', -600, 1500], ['Bone', 300, 1500]]);
  assert.deepEqual(modules.display.defaultView(header, 0, decoded), { center: 40, width: 400, invert: false });
  const mr = decode(readArrayBuffer(sampleImage('MR', 1)));
  assert.deepEqual(modules.display.presets(mr.header, 0), []);
});

test('text values follow the specific character set', () => {
  const latin2 = Buffer.from([0x4e, 0x6f, 0x76, 0xe1, 0x6b, 0x6f, 0x76, 0xe1]); // "Nováková" in ISO 8859-2
  const buffer = Buffer.concat([
    craft.element(0x00080005, 'CS', 'ISO_IR 101'),
    craft.element(0x00100010, 'PN', latin2),
    craft.element(0x00100020, 'LO', 'ID1  '),
  ]);
  const values = new modules.dataset.Values(modules.dataset.parse(craft.toArrayBuffer(buffer)).dataSet);
  assert.equal(values.text(0x00100010), 'Nováková');
  assert.equal(values.text(0x00100020), 'ID1');
  const sample = new modules.dataset.Values(modules.dataset.parse(readArrayBuffer(sampleImage('CT', 1))).dataSet);
  assert.equal(sample.text(0x00080090), 'Dvořák^Petr^^MUDr.');
  assert.equal(sample.numbers(0x00200032).length, 3);
});

test('a folder without DICOMDIR lists its reports beside its images, a long PDF read only to its document', async () => {
  const folder = path.join(work, 'reports');
  const expected = JSON.parse(execFileSync('/usr/bin/python3', [path.join(__dirname, 'support', 'make_report_study.py'), folder],
    { encoding: 'utf-8' }));
  execFileSync('/usr/bin/python3', ['-c', [
    'import sys, pydicom',
    'ds = pydicom.dcmread(sys.argv[1])',
    'ds.EncapsulatedDocument = bytes(ds.EncapsulatedDocument) + b"%" * 300000',
    'ds.save_as(sys.argv[1])',
  ].join('\n'), path.join(folder, 'DICOM', 'PDF00001')]);
  const { fileSource } = await source('sources/files.mjs');
  const { scanFolder } = await source('scan.mjs');
  const names = fs.readdirSync(path.join(folder, 'DICOM'));
  const files = fileSource(names.map((name) => ({ path: name, file: new Blob([fs.readFileSync(path.join(folder, 'DICOM', name))]) })));
  const wholeReads = [];
  const { patients } = await scanFolder(Object.assign({}, files, {
    read(p) {
      wholeReads.push(p);
      return files.read(p);
    },
  }));
  // pdf2dcm's copy of the UTF-8 name under its Latin-1 label is the same patient.
  assert.deepEqual(patients.map((p) => p.name), ['Nováková^Jana']);
  const series = patients[0].studies[0].series;
  assert.deepEqual(series[0].images.map((i) => i.sopInstanceUid), expected.ct);
  assert.deepEqual(series.map((s) => s.documents.map((d) => [d.path, d.kind, d.title])),
    [[], [['PDF00001', 'pdf', expected.pdf.title]], [['SR000001', 'sr', expected.sr.title]], [['KO000001', 'keyImages', expected.ko.title]]]);
  assert.equal(series[2].documents[0].completion, expected.sr.completion);
  assert.ok(fs.statSync(path.join(folder, 'DICOM', 'PDF00001')).size > 300000);
  assert.deepEqual(wholeReads, []);
});
