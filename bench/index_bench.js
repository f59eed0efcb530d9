// INDEX.HTM beside the launcher on one disc of many images made by tools/make_disc.py, in the same
// run: for INDEX.HTM (opened from file://, nothing started), the time from the folder being chosen
// (the picker's change event) to the first image on screen, and how many files the page had read
// by then; for the launcher (the disc's own Linux program), the time from its start to the first
// image on screen in the page it opens. The rounds alternate, each in a fresh browser.
//
// Usage: node bench/index_bench.js [--images 5000] [--rounds 3] [--out bench/REPORT.md]
//        (./run build first: the launcher and the viewer)
'use strict';

const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { option, logger, median, writeSection } = require('./bench_support.js');
const { tempDir } = require('../tests/browser/support/disc.js');
const { openBrowser } = require('../tests/browser/support/browser.js');

const SOURCE_DIR = path.resolve(__dirname, '..');
const BEGIN = '<!-- index: bench/index_bench.js -->';
const END = '<!-- end of index -->';
const LAUNCHER = process.env.LUMIDRA_LAUNCHER || path.join(SOURCE_DIR, 'build', 'native', 'lumidra');

const IMAGES = Number(option('images', 5000));
const ROUNDS = Number(option('rounds', 3));
const OUT = path.resolve(option('out', path.join(SOURCE_DIR, 'bench', 'REPORT.md')));

const log = logger('index bench');

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// The study and its disc; the Windows program and extractor are stand-ins (they are not run).
function makeDisc(work, images = IMAGES) {
  const study = path.join(work, 'study');
  log('writing ' + images + ' images');
  execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'bench', 'index_study.py'), study, String(images)]);
  const standIn = path.join(work, 'stand-in.exe');
  fs.writeFileSync(standIn, 'MZ stand-in\n');
  const disc = path.join(work, 'disc');
  log('making the disc');
  execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'tools', 'make_disc.py'), study, disc, '--quiet',
    '--windows-launcher', standIn, '--windows-7za', standIn, '--linux-launcher', LAUNCHER], { stdio: 'pipe' });
  return disc;
}

// When the canvas first shows image 1, from the page's own clock; when the folder was chosen.
function recordFirstImage() {
  window.__chosen = null;
  window.__first = null;
  window.__reads = 0;
  document.addEventListener('change', (event) => {
    if (event.target.id === 'folder-input') window.__chosen = performance.now();
  }, true);
  const arrayBuffer = Blob.prototype.arrayBuffer;
  Blob.prototype.arrayBuffer = function () {
    if (this instanceof File && window.__first === null) window.__reads++;
    return arrayBuffer.call(this);
  };
  new MutationObserver(() => {
    const canvas = document.getElementById('image-canvas');
    if (window.__first === null && canvas && canvas.dataset.image === '1') window.__first = performance.now();
  }).observe(document, { subtree: true, attributes: true, attributeFilter: ['data-image'] });
}

async function indexRound(disc) {
  const browser = await openBrowser();
  try {
    const { page } = browser;
    await page.addInitScript(recordFirstImage);
    await page.goto('file://' + disc + '/INDEX.HTM');
    await page.waitForSelector('#folder-open:not([hidden])');
    const start = Date.now();
    await page.setInputFiles('#folder-input', disc);
    const pickerMs = Date.now() - start;
    await page.waitForFunction(() => window.__first !== null, null, { timeout: 120000 });
    const r = await page.evaluate(() => ({ ms: window.__first - window.__chosen, reads: window.__reads }));
    return { firstImageMs: r.ms, reads: r.reads, pickerMs, pageErrors: browser.errors.slice() };
  } finally {
    await browser.close();
  }
}

// The disc's own launcher started in its folder; the page it asks for opened in a browser that is
// already running, as a desktop's would be.
async function launcherRound(disc, work, round) {
  const browser = await openBrowser();
  const tmp = fs.mkdtempSync(path.join(work, 'tmp-'));
  const urlFile = path.join(tmp, 'url.txt');
  const script = path.join(tmp, 'browser.sh');
  fs.writeFileSync(script, '#!/bin/sh\nprintf "%s\\n" "$1" > "' + urlFile + '.part" && mv "' + urlFile + '.part" "' + urlFile + '"\n', { mode: 0o755 });
  const logPath = path.join(work, 'launcher-' + round + '.log');
  const logFile = fs.openSync(logPath, 'w');
  let child = null;
  try {
    const { page } = browser;
    await page.addInitScript(recordFirstImage);
    const start = Date.now();
    child = spawn(path.join(disc, 'lumidra'), [], {
      cwd: disc, stdio: ['pipe', logFile, logFile],
      env: Object.assign({}, process.env, { TMPDIR: tmp, BROWSER: script, LANG: 'C.UTF-8' }),
    });
    while (!fs.existsSync(urlFile)) {
      if (child.exitCode !== null) throw new Error('the launcher ended with code ' + child.exitCode);
      if (Date.now() - start > 60000) {
        // Its log says why, written to the log file beside the status lines.
        child.stdin.write('show log\n');
        await sleep(1000);
        throw new Error('the launcher gave no address; its output:\n' + fs.readFileSync(logPath, 'utf-8'));
      }
      await sleep(5);
    }
    await page.goto(fs.readFileSync(urlFile, 'utf-8').trim());
    await page.waitForFunction(() => window.__first !== null, null, { timeout: 120000 });
    const shownAt = await page.evaluate(() => performance.timeOrigin + window.__first);
    return { firstImageMs: shownAt - start, pageErrors: browser.errors.slice() };
  } finally {
    await browser.close();
    if (child && child.exitCode === null) {
      const exited = new Promise((resolve) => child.on('exit', resolve));
      child.kill('SIGTERM');
      await exited;
    }
    fs.closeSync(logFile);
  }
}

function render(results) {
  const range = (values, digits) => median(values).toFixed(digits) + ' (' + Math.min(...values).toFixed(digits) + '–' +
    Math.max(...values).toFixed(digits) + ')';
  const index = results.index;
  const launcher = results.launcher;
  return [
    BEGIN,
    '## INDEX.HTM beside the launcher: ' + IMAGES + ' images, first image on screen',
    '',
    'One disc made by `tools/make_disc.py` of ' + IMAGES + ' CT images (128 × 128, 16-bit, in series of 100: ' +
      'bench/index_study.py), ' + results.discFiles + ' files on the disc with the viewer. Headless Chromium (' + results.chromium +
      ') on ' + os.cpus().length + ' cores; ' + ROUNDS + ' rounds, the two ways alternating, each in a fresh browser; ' +
      'medians with the range in brackets.',
    '',
    '| | ms |',
    '|---|---|',
    '| INDEX.HTM from `file://`: folder chosen (the picker\'s change event) to the first image | ' + range(index.map((r) => r.firstImageMs), 0) + ' |',
    '| the launcher: its start to the first image in the page it opens | ' + range(launcher.map((r) => r.firstImageMs), 0) + ' |',
    '| (INDEX.HTM: the browser taking the ' + results.discFiles + ' files from the picker, before the change event) | ' +
      range(index.map((r) => r.pickerMs), 0) + ' |',
    '',
    'INDEX.HTM beside the launcher: ' + (median(index.map((r) => r.firstImageMs)) / median(launcher.map((r) => r.firstImageMs))).toFixed(2) +
      '×. Files INDEX.HTM had read whole by its first image: ' + range(index.map((r) => r.reads), 0) + ' of ' + results.discFiles +
      ' (the DICOMDIR, the first image and those read ahead of it). The goal is 1,500 ms from the folder being chosen. ' +
      'Load average (1 min) before the run ' + results.load[0].toFixed(2) + ', after it ' + results.load[1].toFixed(2) +
      '; page errors seen: ' + (results.pageErrors.length ? results.pageErrors.join('; ') : 'none') + '.',
    END,
  ].join('\n');
}

function countFiles(folder) {
  let n = 0;
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    n += entry.isDirectory() ? countFiles(path.join(folder, entry.name)) : 1;
  }
  return n;
}

async function main() {
  const loadBefore = os.loadavg()[0];
  const work = tempDir('lumidra-index-bench-');
  try {
    const disc = makeDisc(work);
    const rounds = { index: [], launcher: [] };
    for (let r = 0; r < ROUNDS; r++) {
      const order = r % 2 ? ['launcher', 'index'] : ['index', 'launcher'];
      for (const way of order) {
        log('round ' + (r + 1) + ', ' + way);
        rounds[way].push(way === 'index' ? await indexRound(disc) : await launcherRound(disc, work, r));
      }
    }
    const section = render({
      index: rounds.index,
      launcher: rounds.launcher,
      discFiles: countFiles(disc),
      load: [loadBefore, os.loadavg()[0]],
      chromium: execFileSync(process.env.LUMIDRA_CHROMIUM || '/usr/bin/chromium', ['--version'], { encoding: 'utf-8', stdio: ['ignore', 'pipe', 'ignore'] }).trim(),
      pageErrors: [...new Set(Object.values(rounds).flat().flatMap((r) => r.pageErrors))],
    });
    writeSection(OUT, BEGIN, END, section);
    process.stdout.write(section + '\n');
  } finally {
    fs.rmSync(work, { recursive: true, force: true });
  }
}

module.exports = { makeDisc, launcherRound, countFiles };

if (require.main === module) {
  main().catch((e) => {
    process.stderr.write(e.stack + '\n');
    process.exit(1);
  });
}
