// INDEX.HTM at the root of a disc made by the disc builder, opened from file:// as a person
// would on a computer where no program may run: the disc's folder given to the page's folder
// picker, every series shown, nothing requested but the page's own files, and the DICOM files
// read through the File API as they are needed; with the disc's DICOMDIR and without one.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { SOURCE_DIR, tempDir, buildDisc, makeStudyDisc } = require('./support/disc.js');
const { canvasSummary, text } = require('./support/browser.js');
const { drop, openFromDisc, onlyPageFiles } = require('./support/index_page.js');

// Every codec the page carries: HTJ2K, JPEG-LS, JPEG baseline, JPEG 2000 (multi-frame), and
// palette, 1-bit and 32-bit images.
const ENCODINGS = ['ct-htj2k', 'mr-jpegls', 'cr-jpeg-baseline', 'rgb-jpeg-baseline', 'palette', 'seg-1bit',
  'mr-multiframe-j2k', 'dose-32bit'];

const work = tempDir('lumidra-index-page-');
test.after(() => fs.rmSync(work, { recursive: true, force: true }));
const sample = path.join(work, 'sample');
const codecsDisc = path.join(work, 'codecs-disc');
const noIndexDisc = path.join(work, 'no-dicomdir-disc');
const sampleDisc = path.join(work, 'sample-disc');
buildDisc(sample);
const encodings = path.join(work, 'enc');
const study = path.join(work, 'study');
execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'tests', 'browser', 'support', 'make_encodings.py'), sample, encodings]);
fs.mkdirSync(study);
for (const name of ENCODINGS) fs.copyFileSync(path.join(encodings, name), path.join(study, name));
// A series of its own whose header runs on for 100 KB before the pixels: found by content, it is
// read further than the first bytes the search looks at.
execFileSync('/usr/bin/python3', ['-c', [
  'import sys, pydicom',
  'from pydicom.uid import generate_uid',
  'ds = pydicom.dcmread(sys.argv[1])',
  'ds.SOPInstanceUID = ds.file_meta.MediaStorageSOPInstanceUID = generate_uid()',
  'ds.SeriesInstanceUID = generate_uid()',
  'ds.SeriesNumber = 9',
  'ds.SeriesDescription = "Long header"',
  'ds.private_block(0x0009, "LUMIDRA TEST", create=True).add_new(0x01, "OB", bytes(100000))',
  'ds.save_as(sys.argv[2])',
].join('\n'), path.join(encodings, 'cr-explicit'), path.join(study, 'long-header')]);
const SERIES = ENCODINGS.length + 1;
makeStudyDisc(study, codecsDisc);
fs.cpSync(codecsDisc, noIndexDisc, { recursive: true });
fs.rmSync(path.join(noIndexDisc, 'DICOMDIR'));
fs.rmSync(path.join(noIndexDisc, 'DATA', 'DICOMDIR'));
makeStudyDisc(path.join(sample, 'DATA', 'DICOM'), sampleDisc);

// Each series in the list chosen in turn: its first image drawn, with more than one colour, and
// no error shown.
async function showEverySeries(page) {
  const count = await page.locator('.series').count();
  const shown = [];
  for (let i = 0; i < count; i++) {
    await page.locator('.series').nth(i).click();
    await page.waitForSelector('#image-canvas[data-series="' + (i + 1) + '"][data-image="1"]', { timeout: 20000 });
    assert.equal(await page.locator('#image-status').isHidden(), true, 'series ' + (i + 1) + ': ' + await text(page, 'image-status'));
    shown.push((await canvasSummary(page)).levels);
  }
  return shown;
}

test('INDEX.HTM shows every series of the disc through its DICOMDIR, decoding every codec offline',
  { timeout: 180000 }, async (t) => {
    const { page, requests, errors } = await openFromDisc(t, codecsDisc);
    const levels = await showEverySeries(page);
    assert.equal(levels.length, SERIES);
    for (const [i, n] of levels.entries()) assert.ok(n > 1, 'series ' + (i + 1) + ' shows one flat colour');
    assert.match(await text(page, 'patient-banner'), /^Encodings, Test/);
    assert.deepEqual(onlyPageFiles(requests, codecsDisc), []);
    assert.ok(requests.some((url) => url.startsWith('blob:')), 'the decoding worker did not start from its blob');
    assert.deepEqual(errors, []);
  });

test('INDEX.HTM finds the DICOM files by content on a disc without DICOMDIR', { timeout: 180000 }, async (t) => {
  const { page, requests, errors } = await openFromDisc(t, noIndexDisc);
  const levels = await showEverySeries(page);
  assert.equal(levels.length, SERIES);
  assert.ok((await page.locator('.series').allTextContents()).some((t) => /Long header/.test(t)));
  for (const [i, n] of levels.entries()) assert.ok(n > 1, 'series ' + (i + 1) + ' shows one flat colour');
  assert.deepEqual(onlyPageFiles(requests, noIndexDisc), []);
  assert.deepEqual(errors, []);
});

test('INDEX.HTM reads the files as they are needed, not the whole study at the start', { timeout: 120000 }, async (t) => {
  const { page, requests, errors } = await openFromDisc(t, sampleDisc);
  await page.waitForSelector('#image-canvas[data-series="1"][data-image="1"]');
  const series = await page.locator('.series').allTextContents();
  assert.deepEqual(series.map((s) => s.match(/(\d+) images?$/)[1]), ['48', '6', '1']);
  assert.match(await text(page, 'patient-banner'), /Nováková, Jana/);
  // The index, the first image, the few preloaded beside it and a thumbnail per series.
  const reads = await page.evaluate(() => self.lumidraFileReads);
  assert.ok(reads >= 2 && reads <= 16, reads + ' of the 56 files were read before the first image');
  await page.locator('#viewport').focus();
  await page.keyboard.press('End');
  await page.waitForSelector('#image-canvas[data-series="1"][data-image="48"]');
  assert.equal(await page.locator('#image-status').isHidden(), true);
  assert.deepEqual(onlyPageFiles(requests, sampleDisc), []);
  assert.deepEqual(errors, []);
});

test('the disc dragged onto INDEX.HTM opens as the chosen folder does', { timeout: 180000 }, async (t) => {
  const { page, requests, errors } = await openFromDisc(t, noIndexDisc, drop);
  const levels = await showEverySeries(page);
  assert.equal(levels.length, SERIES);
  for (const [i, n] of levels.entries()) assert.ok(n > 1, 'series ' + (i + 1) + ' shows one flat colour');
  assert.deepEqual(onlyPageFiles(requests, noIndexDisc), []);
  assert.deepEqual(errors, []);
});
