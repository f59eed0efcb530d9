// The page's image module in Chromium as the viewer uses it: what cannot be shown is refused with
// a reason that names it, decoding goes on after a damaged file, decoded frames stay within the
// cache's limit, and preloading decodes the images around the shown one.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir, buildDisc } = require('./support/disc.js');
const { buildViewer, openProbe, decodeOnPage } = require('./support/decoding_page.js');

const work = tempDir('lumidra-images-');
const disc = path.join(work, 'disc');
const viewer = path.join(work, 'viewer');
const files = path.join(work, 'files');
buildDisc(disc);
buildViewer(viewer);
fs.mkdirSync(files);
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

// The CT series of the sample disc, copied under files/ as ct01, ct02, ...
const ctFolder = execFileSync('find', [path.join(disc, 'DATA', 'DICOM'), '-type', 'd', '-name', 'SE000001'], { encoding: 'utf-8' }).trim().split('\n')[0];
const ctNames = fs.readdirSync(ctFolder).sort().slice(0, 12).map((name, i) => {
  const target = 'ct' + String(i + 1).padStart(2, '0');
  fs.copyFileSync(path.join(ctFolder, name), path.join(files, target));
  return target;
});
const at = (name) => path.join(files, name);

execFileSync('gdcmconv', ['--j2k', at('ct01'), at('ct01-j2k')]);
execFileSync('dcmcjpls', [at('ct01'), at('ct01-jpegls')]);

// A JPEG 2000 file whose image header (SIZ) is overwritten.
const damaged = fs.readFileSync(at('ct01-j2k'));
const start = damaged.indexOf(Buffer.from([0xff, 0x4f, 0xff, 0x51]));
assert.ok(start > 0, 'no JPEG 2000 codestream found');
damaged.fill(0x00, start + 4, start + 40);
fs.writeFileSync(at('ct01-j2k-damaged'), damaged);

// A JPEG-LS file relabelled as JPEG 2000 Part 2, which the page does not read.
const relabelled = fs.readFileSync(at('ct01-jpegls'));
const uid = relabelled.indexOf('1.2.840.10008.1.2.4.80');
relabelled.write('1.2.840.10008.1.2.4.92', uid, 'latin1');
fs.writeFileSync(at('ct01-part2'), relabelled);

function sum(values) {
  return values.reduce((a, b) => a + b, 0);
}

test('what cannot be shown is refused with its reason, and decoding goes on', async (t) => {
  const { page, outside } = await openProbe(t, viewer, files);
  const reason = (url, frame) => page.evaluate(async ({ url, frame }) => {
    try {
      const image = await LumidraImages.open(url);
      await image.loadFrame(frame);
      return 'shown';
    } catch (e) {
      return e.message;
    }
  }, { url, frame });
  assert.match(await reason('ct01-part2', 0), /^unsupported transfer syntax 1\.2\.840\.10008\.1\.2\.4\.92$/);
  assert.match(await reason('ct01-j2k-damaged', 0), /^JPEG 2000 data damaged/);
  assert.match(await reason('no-such-file', 0), /^HTTP 404 for no-such-file$/);
  assert.match(await reason('ct01', 1), /^the image has no frame 2$/);
  // A codec missing from the disc is named as such, not as damaged data.
  const charls = path.join(viewer, 'js', 'codecs', 'charlswasm_decode.wasm');
  fs.renameSync(charls, charls + '.away');
  t.after(() => fs.renameSync(charls + '.away', charls));
  assert.match(await reason('ct01-jpegls', 0), /^the decoder for 1\.2\.840\.10008\.1\.2\.4\.80 could not be loaded/);
  // The same decoders still work after the failure.
  const plain = await decodeOnPage(page, 'ct01', [0]);
  const j2k = await decodeOnPage(page, 'ct01-j2k', [0]);
  assert.equal(j2k.error, undefined);
  assert.deepEqual(j2k.frames[0].pixels, plain.frames[0].pixels);
  assert.deepEqual(outside, []);
});

test('decoded frames stay within the cache limit; pushed-out frames decode again from the file', async (t) => {
  const { page } = await openProbe(t, viewer, files);
  const frameBytes = 128 * 128 * 2;
  const result = await page.evaluate(async ({ names, limit }) => {
    LumidraImages.configure({ cacheBytes: limit });
    const images = [];
    for (const name of names) {
      const image = await LumidraImages.open(name);
      await image.loadFrame(0);
      images.push(image);
    }
    const loaded = images.map((image) => image.frameLoaded(0));
    const stats = LumidraImages.stats();
    await images[0].loadFrame(0);
    const again = Array.from(images[0].pixels(0).pixels);
    return { loaded, stats, again, lastLoaded: images[images.length - 1].frameLoaded(0) };
  }, { names: ctNames, limit: frameBytes * 3 });
  assert.deepEqual(result.loaded, ctNames.map((_, i) => i >= ctNames.length - 3));
  assert.ok(result.stats.bytes <= frameBytes * 3, 'cache holds ' + result.stats.bytes + ' bytes');
  const first = await decodeOnPage(page, 'ct01', [0]);
  assert.equal(sum(result.again), sum(first.frames[0].pixels));
  assert.equal(result.again.length, 128 * 128);
});

test('preloading decodes the images around the shown one, up to half the cache', async (t) => {
  const { page, server } = await openProbe(t, viewer, files);
  const loaded = await page.evaluate(async ({ names }) => {
    LumidraImages.preload(names.slice(1, 5));
    const images = await Promise.all(names.slice(1, 5).map((n) => LumidraImages.open(n)));
    while (!images.every((image) => image.frameLoaded(0))) await new Promise((r) => setTimeout(r, 20));
    return images.map((image) => image.frameLoaded(0));
  }, { names: ctNames });
  assert.deepEqual(loaded, [true, true, true, true]);
  // The page asked for nothing but the preloaded files (and its own scripts and codecs).
  const asked = server.state.requests.filter((r) => /\/ct\d\d$/.test(r)).map((r) => r.split('/').pop());
  assert.deepEqual([...new Set(asked)].sort(), ctNames.slice(1, 5));

  // With room for four frames, a list of seven new images preloads two and leaves the rest.
  const counts = await page.evaluate(async ({ names, limit }) => {
    LumidraImages.configure({ cacheBytes: limit });
    LumidraImages.preload(names);
    const images = await Promise.all(names.map((n) => LumidraImages.open(n)));
    while (LumidraImages.stats().decoding) await new Promise((r) => setTimeout(r, 20));
    return images.map((image) => image.frameLoaded(0));
  }, { names: ctNames.slice(5, 12), limit: 128 * 128 * 2 * 4 });
  assert.equal(counts.filter(Boolean).length, 2, JSON.stringify(counts));
});
