// The viewer's decoding in Chromium on real encodings of the sample study (dcmtk, GDCM, pydicom):
// every transfer syntax, photometric interpretation and pixel width the page reads gives the
// uncompressed original's values, exactly when lossless and within a stated bound when lossy;
// nothing is fetched from outside localhost.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { SOURCE_DIR, tempDir, buildDisc } = require('./support/disc.js');
const { buildViewer, openProbe, decodeOnPage } = require('./support/decoding_page.js');

const work = tempDir('lumidra-decoding-');
const disc = path.join(work, 'disc');
const viewer = path.join(work, 'viewer');
const encodings = path.join(work, 'enc');
buildDisc(disc);
buildViewer(viewer);
execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'tests', 'browser', 'support', 'make_encodings.py'), disc, encodings]);
const manifest = JSON.parse(fs.readFileSync(path.join(encodings, 'manifest.json'), 'utf-8'));
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

function reference(entry) {
  const bytes = fs.readFileSync(path.join(encodings, entry.reference));
  if (entry.kind === 'rgb') return Array.from(bytes);
  const values = [];
  for (let i = 0; i < bytes.length; i += 4) values.push(bytes.readInt32LE(i));
  return values;
}

// The largest difference between decoded and expected values, and the first place it occurs.
function largestDifference(decoded, expected) {
  let worst = { difference: 0, at: -1 };
  for (let i = 0; i < expected.length; i++) {
    const d = Math.abs(decoded[i] - expected[i]);
    if (d > worst.difference) worst = { difference: d, at: i };
  }
  return worst;
}

async function checkEntries(t, page, entries) {
  for (const entry of entries) {
    const frames = [...Array(entry.frames).keys()];
    const result = await decodeOnPage(page, entry.name, frames);
    assert.equal(result.error, undefined, entry.name + ' (' + entry.transferSyntax + ') failed: ' + result.error);
    assert.equal(result.frameCount, entry.frames, entry.name + ': frame count');
    const expected = reference(entry);
    const perFrame = expected.length / entry.frames;
    for (const f of frames) {
      const decoded = result.frames[f];
      assert.equal(decoded.kind, entry.kind, entry.name + ': kind');
      assert.equal(decoded.pixels.length, perFrame, entry.name + ' frame ' + f + ': sample count');
      const worst = largestDifference(decoded.pixels, expected.slice(f * perFrame, (f + 1) * perFrame));
      assert.ok(worst.difference <= entry.bound, entry.name + ' (' + entry.transferSyntax + ') frame ' + f +
        ': differs by ' + worst.difference + ' at sample ' + worst.at + ', allowed ' + entry.bound);
    }
  }
}

test('grey images in every transfer syntax decode to the original stored values', async (t) => {
  const probe = await openProbe(t, viewer, encodings);
  const grey = manifest.filter((e) => /^(ct|mr|cr)-/.test(e.name) && e.frames === 1);
  assert.ok(grey.length >= 40);
  await checkEntries(t, probe.page, grey);
  assert.deepEqual(probe.outside, []);
  assert.deepEqual(probe.errors, []);
  // The codecs came from the page's own folder.
  for (const codec of ['libjpegturbowasm_decode.wasm', 'charlswasm_decode.wasm', 'openjpegwasm_decode.wasm', 'openjphjs.wasm']) {
    assert.ok(probe.server.state.requests.some((r) => r.endsWith('/js/codecs/' + codec)), codec + ' was not loaded');
  }
});

test('colour images: RGB by pixel and by plane, YBR, palette, compressed colour', async (t) => {
  const probe = await openProbe(t, viewer, encodings);
  const colour = manifest.filter((e) => e.kind === 'rgb');
  assert.ok(colour.length >= 10);
  await checkEntries(t, probe.page, colour);
  assert.deepEqual(probe.outside, []);
});

test('multi-frame objects decode frame by frame: 1-bit, 32-bit, compressed frames', async (t) => {
  const probe = await openProbe(t, viewer, encodings);
  const multi = manifest.filter((e) => e.frames > 1);
  assert.ok(multi.length >= 6);
  await checkEntries(t, probe.page, multi);
  assert.deepEqual(probe.outside, []);
});
