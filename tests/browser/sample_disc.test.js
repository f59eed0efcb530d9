// The sample disc builder: layout, archives, and DICOM files that dcmtk accepts.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir, buildDisc, listFiles } = require('./support/disc.js');

const CT_IMAGES = 48;
const ALL_IMAGES = 55;

function dump(file, tags) {
  const args = ['-q', ...tags.flatMap((t) => ['+P', t]), file];
  const result = spawnSync('dcmdump', args, { encoding: 'utf-8' });
  return { status: result.status, stdout: result.stdout, stderr: result.stderr };
}

// The text value of the first line dcmdump prints for tag, e.g. "[1.2.3]" → "1.2.3".
function dumpValue(output, tag) {
  const line = output.split('\n').find((l) => l.startsWith('(' + tag.toLowerCase() + ')'));
  if (!line) return null;
  const bracket = /\[(.*?)\]/.exec(line);
  return bracket ? bracket[1] : line.split(/\s+/)[2];
}

function zipEntries(zip) {
  const out = execFileSync('7zz', ['l', '-slt', zip], { encoding: 'utf-8' });
  return out.split('\n').filter((l) => l.startsWith('Path = ')).map((l) => l.slice(7))
    .filter((p) => p !== zip).map((p) => p.replace(/\\/g, '/'));
}

test('sample disc', async (t) => {
  const disc = path.join(tempDir('lumidra-disc-'), 'disc');
  const output = buildDisc(disc);
  t.after(() => fs.rmSync(path.dirname(disc), { recursive: true, force: true }));
  const files = listFiles(disc);
  const images = files.filter((f) => /^DATA\/DICOM\/PA000001\/ST000001\/SE\d{6}\/IM\d{6}$/.test(f));

  await t.test('has the layout the launcher reads', () => {
    assert.match(output, /Sample disc in/);
    for (const f of ['BIN/7za', 'DATA/7z/viewer.7z', 'data.zip', 'DATA/DICOMDIR']) {
      assert.ok(files.includes(f), f + ' is missing');
    }
    assert.equal(images.length, ALL_IMAGES);
    assert.ok(files.filter((f) => f.startsWith('DATA/DW/')).length >= 1);
    assert.ok(fs.statSync(path.join(disc, 'BIN', '7za')).mode & 0o111, 'BIN/7za is not executable');
  });

  await t.test('its extractor unpacks the viewer with the launcher\'s switches', () => {
    const out = tempDir('lumidra-viewer-');
    try {
      const run = spawnSync(path.join(disc, 'BIN', '7za'),
        ['x', '-bsp2', '-y', '-o' + out + '/', path.join(disc, 'DATA', '7z', 'viewer.7z')], { encoding: 'utf-8' });
      assert.equal(run.status, 0, run.stderr);
      assert.ok(fs.existsSync(path.join(out, 'index.html')), 'index.html is not at the archive root');
      const config = fs.readFileSync(path.join(out, 'data', 'config', 'config-lumidra.json'), 'utf-8');
      assert.ok(config.includes('localhost:8000'));
      assert.ok(JSON.parse(config).server.endsWith('localhost:8000'));
      for (const script of ['js/images.js', 'js/decode-worker.js', 'js/codecs/openjpegwasm_decode.wasm', 'js/viewer.js', 'css/viewer.css']) {
        assert.ok(fs.existsSync(path.join(out, script)), script + ' missing from the viewer');
      }
    } finally {
      fs.rmSync(out, { recursive: true, force: true });
    }
  });

  await t.test('data.zip holds the index and exactly the first series, under DATA/', () => {
    const entries = zipEntries(path.join(disc, 'data.zip')).filter((e) => !e.endsWith('/'));
    const expected = ['DATA/DICOMDIR', ...images.filter((f) => f.includes('/SE000001/'))].sort();
    assert.deepEqual(entries.filter((e) => !/^DATA(\/DICOM(\/PA000001(\/ST000001(\/SE000001)?)?)?)?$/.test(e)).sort(), expected);
    assert.equal(expected.length, CT_IMAGES + 1);
  });

  await t.test('dcmdump reads every file without an error or warning', () => {
    for (const f of [...images, 'DATA/DICOMDIR']) {
      const r = dump(path.join(disc, f), []);
      assert.equal(r.status, 0, f + ': ' + r.stderr);
      assert.equal(r.stderr, '', f + ' gave: ' + r.stderr);
    }
  });

  await t.test('every image is a Part 10 file with a correct meta group', () => {
    for (const f of images) {
      const b = fs.readFileSync(path.join(disc, f));
      assert.ok(b.subarray(0, 128).every((x) => x === 0), f + ': preamble');
      assert.equal(b.toString('latin1', 128, 132), 'DICM');
      assert.equal(b.readUInt16LE(132), 2);
      assert.equal(b.readUInt16LE(134), 0);
      assert.equal(b.toString('latin1', 136, 138), 'UL');
      const groupLength = b.readUInt32LE(140);
      // The group length covers exactly the group 2 elements that follow it.
      let pos = 144;
      while (b.readUInt16LE(pos) === 2) {
        const vr = b.toString('latin1', pos + 4, pos + 6);
        pos += vr === 'OB' ? 12 + b.readUInt32LE(pos + 8) : 8 + b.readUInt16LE(pos + 6);
      }
      assert.equal(pos - 144, groupLength, f + ': group length');
      const r = dump(path.join(disc, f), ['0002,0010']);
      assert.equal(dumpValue(r.stdout, '0002,0010'), '=LittleEndianExplicit');
    }
  });

  await t.test('the study is consistent: one study, one UID per series, unique instances', () => {
    const tags = ['0020,000d', '0020,000e', '0008,0018', '0008,0060', '0028,0004', '0028,0100',
      '0028,1050', '0028,1051', '0028,1052', '0028,1053'];
    const studyUids = new Set();
    const seriesUids = new Map();
    const instances = new Set();
    const ct = [];
    for (const f of images) {
      const out = dump(path.join(disc, f), tags).stdout;
      studyUids.add(dumpValue(out, '0020,000d'));
      const folder = f.split('/')[4];
      seriesUids.set(folder, (seriesUids.get(folder) || new Set()).add(dumpValue(out, '0020,000e')));
      instances.add(dumpValue(out, '0008,0018'));
      if (folder === 'SE000001') ct.push(out);
    }
    assert.equal(studyUids.size, 1);
    assert.equal(seriesUids.size, 3);
    for (const uids of seriesUids.values()) assert.equal(uids.size, 1);
    assert.equal(new Set([...seriesUids.values()].map((s) => [...s][0])).size, 3);
    assert.equal(instances.size, ALL_IMAGES);
    assert.ok(ct.length >= 40);
    for (const out of ct) {
      assert.equal(dumpValue(out, '0008,0060'), 'CT');
      assert.equal(dumpValue(out, '0028,0004'), 'MONOCHROME2');
      assert.equal(dumpValue(out, '0028,0100'), '16');
      assert.equal(dumpValue(out, '0028,1052'), '-1024');
      assert.equal(dumpValue(out, '0028,1053'), '1');
      assert.ok(Number(dumpValue(out, '0028,1051')) > 0);
    }
  });

  await t.test('the CT phantom changes along the slices', () => {
    const pixels = (n) => fs.readFileSync(path.join(disc, 'DATA/DICOM/PA000001/ST000001/SE000001', 'IM' + String(n).padStart(6, '0'))).subarray(-128 * 128 * 2);
    const first = pixels(1);
    const middle = pixels(CT_IMAGES / 2);
    let differing = 0;
    for (let i = 0; i < first.length; i += 2) if (first.readUInt16LE(i) !== middle.readUInt16LE(i)) differing++;
    assert.ok(differing > 1000, 'only ' + differing + ' pixels differ');
  });

  await t.test('the DICOMDIR names every image and nothing else', () => {
    const out = execFileSync('dcmdump', ['-q', '+P', '0004,1500', path.join(disc, 'DATA', 'DICOMDIR')], { encoding: 'utf-8' });
    const referenced = out.split('\n').map((l) => /\[(.*?)\]/.exec(l)).filter(Boolean)
      .map((m) => 'DATA/' + m[1].replace(/\\/g, '/')).sort();
    assert.deepEqual(referenced, [...images].sort());
  });
});

test('sample disc options', async (t) => {
  const work = tempDir('lumidra-disc-options-');
  t.after(() => fs.rmSync(work, { recursive: true, force: true }));

  await t.test('--large-file-mb adds one big file under DATA/DICOM', () => {
    const disc = path.join(work, 'large');
    buildDisc(disc, ['--large-file-mb', '3']);
    const big = listFiles(path.join(disc, 'DATA', 'DICOM')).filter((f) => !/\/IM\d{6}$/.test(f));
    assert.equal(big.length, 1);
    assert.equal(fs.statSync(path.join(disc, 'DATA', 'DICOM', big[0])).size, 3 * 1024 * 1024);
  });

  await t.test('--corrupt-viewer gives a viewer.7z that 7-Zip refuses, and a good data.zip', () => {
    const disc = path.join(work, 'corrupt');
    buildDisc(disc, ['--corrupt-viewer']);
    const viewer = spawnSync('7zz', ['t', path.join(disc, 'DATA', '7z', 'viewer.7z')], { encoding: 'utf-8' });
    assert.notEqual(viewer.status, 0);
    const data = spawnSync('7zz', ['t', path.join(disc, 'data.zip')], { encoding: 'utf-8' });
    assert.equal(data.status, 0);
  });

  await t.test('--no-dicom leaves DATA/DICOM out but keeps data.zip whole', () => {
    const disc = path.join(work, 'nodicom');
    buildDisc(disc, ['--no-dicom', '--no-dw']);
    assert.ok(!fs.existsSync(path.join(disc, 'DATA', 'DICOM')));
    assert.ok(!fs.existsSync(path.join(disc, 'DATA', 'DW')));
    assert.ok(fs.existsSync(path.join(disc, 'DATA', '7z', 'viewer.7z')));
    assert.equal(zipEntries(path.join(disc, 'data.zip')).filter((e) => /\/IM\d{6}$/.test(e)).length, CT_IMAGES);
  });

  await t.test('--windows carries the Windows extractor', () => {
    const disc = path.join(work, 'windows');
    buildDisc(disc, ['--windows']);
    const exe = fs.readFileSync(path.join(disc, 'BIN', '7za.exe'));
    assert.equal(exe.toString('latin1', 0, 2), 'MZ');
    assert.ok(!fs.existsSync(path.join(disc, 'BIN', '7za')));
  });

  await t.test('an existing disc is replaced, any other folder with content is left alone', () => {
    const disc = path.join(work, 'again');
    buildDisc(disc, ['--large-file-mb', '1']);
    buildDisc(disc);
    assert.ok(!fs.existsSync(path.join(disc, 'DATA', 'DICOM', 'LARGE.BIN')));

    const precious = path.join(work, 'precious');
    fs.mkdirSync(precious);
    fs.writeFileSync(path.join(precious, 'notes.txt'), 'keep me');
    assert.throws(() => buildDisc(precious), /refusing/);
    assert.equal(fs.readFileSync(path.join(precious, 'notes.txt'), 'utf-8'), 'keep me');
  });
});
