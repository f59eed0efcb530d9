// Compressed, colour, palette, 1-bit and multi-frame images on a disc made by the disc builder,
// served by the real launcher: the page fetches its decoding worker and WebAssembly codecs from
// the launcher's server and shows every frame, and asks nothing of any other host.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { SOURCE_DIR, tempDir, buildDisc, makeStudyDisc } = require('./support/disc.js');
const { openBrowser } = require('./support/browser.js');
const { missing, startLauncher } = require('./support/launcher.js');

// One file per source image: the disc builder keeps one copy of each SOP instance.
const CHOSEN = {
  'ct-htj2k': 1, 'mr-jpegls': 1, 'cr-jpeg-baseline': 1, 'rgb-jpeg-baseline': 1, palette: 1,
  'seg-1bit': 3, 'mr-multiframe-j2k': 4, 'dose-32bit': 4,
};

const work = tempDir('lumidra-disc-codecs-');
const disc = path.join(work, 'disc');
test.after(() => fs.rmSync(work, { recursive: true, force: true }));
if (!missing) {
  const sample = path.join(work, 'sample');
  const encodings = path.join(work, 'enc');
  const study = path.join(work, 'study');
  buildDisc(sample);
  execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'tests', 'browser', 'support', 'make_encodings.py'), sample, encodings]);
  fs.mkdirSync(study);
  for (const name of Object.keys(CHOSEN)) fs.copyFileSync(path.join(encodings, name), path.join(study, name));
  makeStudyDisc(study, disc);
}

test('every image of the disc shows through the real launcher, with codecs from the disc only',
  { skip: missing, timeout: 180000 }, async (t) => {
    const { url } = await startLauncher(t, disc, work, 'codecs');
    const browser = await openBrowser();
    t.after(() => browser.close());
    const outside = [];
    const served = [];
    await browser.context.route('**/*', (route) => {
      const address = new URL(route.request().url());
      if (address.hostname !== 'localhost' && address.hostname !== '127.0.0.1') {
        outside.push(address.href);
        return route.abort();
      }
      served.push(address.pathname);
      return route.continue();
    });
    await browser.page.goto(url);
    await browser.page.waitForSelector('#study-list[data-state="ready"]', { timeout: 30000 });
    const shown = await browser.page.evaluate(async () => {
      const tree = LumidraImages.readDirectory(await (await fetch('/DICOMDIR')).arrayBuffer());
      const out = {};
      for (const patient of tree.patients) {
        for (const study of patient.studies) {
          for (const series of study.series) {
            for (const entry of series.images) {
              const name = entry.path;
              try {
                const image = await LumidraImages.open('/' + entry.path);
                const greys = [];
                for (let f = 0; f < image.frameCount; f++) {
                  await image.loadFrame(f);
                  const rgba = new Uint8ClampedArray(image.rows * image.columns * 4);
                  LumidraImages.render(image, f, LumidraImages.defaultView(image, f), rgba);
                  const levels = new Set();
                  for (let i = 0; i < rgba.length; i += 4) levels.add(rgba[i] * 65536 + rgba[i + 1] * 256 + rgba[i + 2]);
                  greys.push(levels.size);
                }
                out[name] = { frames: image.frameCount, levels: greys, sop: image.sopInstanceUid };
              } catch (e) {
                out[name] = { error: e.message };
              }
            }
          }
        }
      }
      return out;
    });
    const results = Object.values(shown);
    assert.equal(results.length, Object.keys(CHOSEN).length, JSON.stringify(shown));
    for (const [file, result] of Object.entries(shown)) {
      assert.equal(result.error, undefined, file + ': ' + result.error);
      for (const levels of result.levels) assert.ok(levels > 1, file + ' shows one flat colour');
    }
    assert.deepEqual(results.map((r) => r.frames).sort(), Object.values(CHOSEN).sort());
    for (const codec of ['openjphjs.wasm', 'charlswasm_decode.wasm', 'libjpegturbowasm_decode.wasm', 'openjpegwasm_decode.wasm']) {
      assert.ok(served.some((p) => p.endsWith('/7z/js/codecs/' + codec)), codec + ' was not fetched from the launcher');
    }
    assert.deepEqual(outside, []);
    assert.deepEqual(browser.errors, []);
  });
