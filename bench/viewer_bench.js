// The viewer on a 500-slice CT (512 x 512, 16-bit), stored uncompressed and stored JPEG lossless
// (first-order prediction), in the same run: time from page load to the first image on screen,
// images shown per second while stepping through the series, and the time to decode one image
// in the page beside dcmtk's dcmdjpeg on the same files. Both discs are made by tools/make_disc.py
// and served by the stand-in launcher server of the browser tests; the rounds alternate between
// the two discs so that both see the same load on the machine.
//
// Usage: node bench/viewer_bench.js [--slices 500] [--rounds 3] [--steps 100] [--decodes 40]
//        [--out bench/REPORT.md]    (./run viewer first)
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { option, logger, median, spread, writeSection } = require('./bench_support.js');
const { tempDir, stageWorkspace, makeStudyDisc } = require('../tests/browser/support/disc.js');
const { startFakeLauncher } = require('../tests/browser/support/fake_launcher.js');
const { openBrowser } = require('../tests/browser/support/browser.js');

const SOURCE_DIR = path.resolve(__dirname, '..');
const BEGIN = '<!-- viewer: bench/viewer_bench.js -->';
const END = '<!-- end of viewer -->';
const LAUNCH_ID = 'LUMIDRA_bench';

const SLICES = Number(option('slices', 500));
const ROUNDS = Number(option('rounds', 3));
const STEPS = Math.min(Number(option('steps', 100)), SLICES - 1);
const DECODES = Number(option('decodes', 40));
const OUT = path.resolve(option('out', path.join(SOURCE_DIR, 'bench', 'REPORT.md')));

const log = logger('viewer bench');

// Both studies and their discs.
function makeDiscs(work) {
  const plain = path.join(work, 'plain');
  const jpeg = path.join(work, 'jpeg');
  log('writing ' + SLICES + ' CT slices');
  execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'bench', 'viewer_study.py'), plain, String(SLICES)]);
  fs.mkdirSync(jpeg);
  log('compressing them with dcmcjpeg +e1');
  for (const name of fs.readdirSync(plain)) execFileSync('dcmcjpeg', ['+e1', path.join(plain, name), path.join(jpeg, name)]);
  const discs = {};
  for (const [name, folder] of [['uncompressed', plain], ['JPEG lossless', jpeg]]) {
    const disc = path.join(work, 'disc-' + (name === 'uncompressed' ? 'plain' : 'jpeg'));
    log('making the ' + name + ' disc');
    makeStudyDisc(folder, disc);
    discs[name] = { disc, studyFolder: folder, bytes: folderBytes(folder) };
  }
  return discs;
}

function folderBytes(folder) {
  return fs.readdirSync(folder).reduce((sum, name) => sum + fs.statSync(path.join(folder, name)).size, 0);
}

// A fresh workspace and server for one disc; the launcher's port fix applied as it would be.
async function serve(work, disc, name) {
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const workspace = fs.mkdtempSync(path.join(work, 'ws-'));
  const data = stageWorkspace(disc, workspace, port);
  const server = await startFakeLauncher({ workspaceData: data, discData: path.join(disc, 'DATA'), launchId: LAUNCH_ID, port });
  server.setReady(true);
  return { server, port, workspace, name };
}

// Records when the canvas first shows each image number, from the page's own clock, and wakes
// whoever waits for that number at once (not at the next animation frame).
function recordShownImages() {
  window.__shown = {};
  window.__waiting = {};
  new MutationObserver((records) => {
    for (const r of records) {
      const n = r.target.dataset && r.target.dataset.image;
      if (n && !(n in window.__shown)) {
        window.__shown[n] = performance.now();
        if (window.__waiting[n]) window.__waiting[n]();
      }
    }
  }).observe(document, { subtree: true, attributes: true, attributeFilter: ['data-image'] });
}

async function oneRound(served) {
  const browser = await openBrowser();
  try {
    const { page } = browser;
    await page.addInitScript(recordShownImages);
    await page.goto('http://localhost:' + served.port + '/7z/index.html?uniqueId=' + LAUNCH_ID);
    await page.waitForFunction(() => window.__shown && window.__shown['1'] !== undefined, null, { timeout: 120000 });
    const firstImageMs = await page.evaluate(() => window.__shown['1']);
    // Step through the series as fast as the page shows each next image.
    const scroll = await page.evaluate(async (steps) => {
      const waitFor = (n) => new Promise((resolve) => {
        if (window.__shown[n] !== undefined) resolve();
        else window.__waiting[n] = resolve;
      });
      const start = performance.now();
      const intervals = [];
      let last = start;
      for (let n = 2; n <= steps + 1; n++) {
        document.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown', bubbles: true }));
        await waitFor(String(n));
        intervals.push(window.__shown[String(n)] - last);
        last = window.__shown[String(n)];
      }
      return { seconds: (last - start) / 1000, intervals };
    }, STEPS);
    // Decode time per image in the page, for images it has not decoded yet.
    const decode = await page.evaluate(async ({ count, skip }) => {
      const tree = LumidraImages.readDirectory(await (await fetch('/DICOMDIR')).arrayBuffer());
      const images = tree.patients[0].studies[0].series[0].images.slice(skip, skip + count);
      const times = [];
      const paths = [];
      for (const entry of images) {
        const image = await LumidraImages.open('/' + entry.path);
        const start = performance.now();
        await image.loadFrame(0);
        times.push(performance.now() - start);
        paths.push(entry.path);
      }
      return { times, paths };
    }, { count: DECODES, skip: SLICES - DECODES - 1 });
    return {
      workers: await page.evaluate(() => LumidraImages.stats().workers),
      firstImageMs,
      imagesPerSecond: STEPS / scroll.seconds,
      slowestStepMs: Math.max(...scroll.intervals),
      decodeMs: median(decode.times),
      decodedPaths: decode.paths,
      pageErrors: browser.errors.slice(),
    };
  } finally {
    await browser.close();
  }
}

// Milliseconds per frame for dcmdjpeg on one multi-frame object of DECODES JPEG lossless frames,
// less dcmconv's time for copying the same object uncompressed: dcmtk's decoding with its process
// start and file handling spread over many frames and then taken out. Median of three runs each.
function dcmtkDecodePerFrame(work) {
  const plain = path.join(work, 'multiframe.dcm');
  const jpeg = path.join(work, 'multiframe-jpeg.dcm');
  const out = path.join(work, 'multiframe-out.dcm');
  execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'bench', 'viewer_study.py'), '--multiframe', plain, String(DECODES)]);
  execFileSync('dcmcjpeg', ['+e1', plain, jpeg]);
  const timed = (tool, file) => median([0, 1, 2].map(() => {
    const start = process.hrtime.bigint();
    execFileSync(tool, [file, out]);
    return Number(process.hrtime.bigint() - start) / 1e6;
  }));
  return { dcmdjpeg: timed('dcmdjpeg', jpeg) / DECODES, dcmconv: timed('dcmconv', plain) / DECODES };
}

// Milliseconds per file for a dcmtk tool run once per file (process start and file writing included).
function perFile(tool, options, files, work) {
  const out = path.join(work, 'tool-out.dcm');
  const start = process.hrtime.bigint();
  for (const file of files) execFileSync(tool, [...options, file, out]);
  return Number(process.hrtime.bigint() - start) / 1e6 / files.length;
}

function render(results) {
  const variants = Object.keys(results.rounds);
  const row = (label, pick, digits) => [label, ...variants.map((v) => {
    const s = spread(results.rounds[v].map(pick));
    return s.median.toFixed(digits) + ' (' + s.min.toFixed(digits) + '–' + s.max.toFixed(digits) + ')';
  })];
  const table = (header, rows) => ['| ' + header.join(' | ') + ' |', '|' + header.map(() => '---').join('|') + '|',
    ...rows.map((r) => '| ' + r.join(' | ') + ' |')].join('\n');
  const u = results.rounds.uncompressed;
  const j = results.rounds['JPEG lossless'];
  const ratio = (a, b) => (median(a) / median(b)).toFixed(2);
  const lines = [
    BEGIN,
    '## Viewer: a ' + SLICES + '-slice CT, uncompressed and JPEG lossless',
    '',
    'One CT series of ' + SLICES + ' slices, 512 × 512, 16-bit signed (bench/viewer_study.py: body, lungs, spine and noise), ' +
      'as written (' + (results.bytes.uncompressed / 1048576).toFixed(0) + ' MiB) and compressed by `dcmcjpeg +e1` ' +
      '(JPEG lossless, first-order prediction: ' + (results.bytes['JPEG lossless'] / 1048576).toFixed(0) + ' MiB). Both discs made by ' +
      '`tools/make_disc.py`, staged as the launcher stages them and served by the browser tests\' stand-in server; ' +
      'headless Chromium (' + results.chromium + '), ' + results.workers + ' decoding worker(s) on ' + os.cpus().length + ' cores. ' +
      ROUNDS + ' rounds, the two discs alternating, each round in a fresh browser; medians with the range in brackets.',
    '',
    table(['', 'uncompressed', 'JPEG lossless'], [
      row('page load to the first image on screen (ms)', (r) => r.firstImageMs, 0),
      row('images shown per second, stepping through ' + STEPS + ' slices', (r) => r.imagesPerSecond, 1),
      row('slowest single step (ms)', (r) => r.slowestStepMs, 0),
      row('decode of one image in the page (ms, worker round trip)', (r) => r.decodeMs, 1),
    ]),
    '',
    'JPEG lossless beside uncompressed: first image ' + ratio(j.map((r) => r.firstImageMs), u.map((r) => r.firstImageMs)) +
      '×, images per second ' + ratio(j.map((r) => r.imagesPerSecond), u.map((r) => r.imagesPerSecond)) + '×.',
    '',
    'Decoding beside dcmtk, on the same ' + DECODES + ' JPEG lossless files, one run per file:',
    '',
    table(['', 'ms per image'], [
      ['the page (worker decode, median of the rounds\' medians)', median(j.map((r) => r.decodeMs)).toFixed(1)],
      ['`dcmdjpeg` (process start, read, decode, write)', results.dcmdjpeg.toFixed(1)],
      ['`dcmconv` (process start, read, write: no decoding)', results.dcmconv.toFixed(1)],
      ['`dcmdjpeg` − `dcmconv` (the decoding itself, roughly)', (results.dcmdjpeg - results.dcmconv).toFixed(1)],
      ['`dcmdjpeg` on one ' + DECODES + '-frame object, less `dcmconv` on it, per frame', (results.multiframe.dcmdjpeg - results.multiframe.dcmconv).toFixed(1)],
    ]),
    '',
    'Page decode beside dcmtk\'s decoding on the multi-frame object: ' +
      (median(j.map((r) => r.decodeMs)) / (results.multiframe.dcmdjpeg - results.multiframe.dcmconv)).toFixed(1) + '×. ' +
      'Load average (1 min) before the run ' + results.load[0].toFixed(2) + ', after it ' + results.load[1].toFixed(2) +
      ': other work shares the two cores, so the figures move from run to run; the two discs and the page and dcmtk ' +
      'ran in the same run.',
    '',
    'The page\'s figure includes handing the compressed frame to the worker and the decoded one back. ' +
      'Page errors seen: ' + (results.pageErrors.length ? results.pageErrors.join('; ') : 'none') + '.',
    END,
  ];
  return lines.join('\n');
}

async function main() {
  const loadBefore = os.loadavg()[0];
  const work = tempDir('lumidra-viewer-bench-');
  try {
    const discs = makeDiscs(work);
    const served = {};
    for (const name of Object.keys(discs)) served[name] = await serve(work, discs[name].disc, name);
    const rounds = { uncompressed: [], 'JPEG lossless': [] };
    for (let r = 0; r < ROUNDS; r++) {
      const order = r % 2 ? ['JPEG lossless', 'uncompressed'] : ['uncompressed', 'JPEG lossless'];
      for (const name of order) {
        log('round ' + (r + 1) + ', ' + name);
        rounds[name].push(await oneRound(served[name]));
      }
    }
    const decoded = rounds['JPEG lossless'][0].decodedPaths.map((p) => path.join(served['JPEG lossless'].workspace, 'DATA', p));
    const existing = decoded.map((p) => (fs.existsSync(p) ? p : path.join(discs['JPEG lossless'].disc, 'DATA', path.relative(path.join(served['JPEG lossless'].workspace, 'DATA'), p))));
    const results = {
      rounds,
      bytes: { uncompressed: discs.uncompressed.bytes, 'JPEG lossless': discs['JPEG lossless'].bytes },
      dcmdjpeg: median([0, 1, 2].map(() => perFile('dcmdjpeg', [], existing, work))),
      dcmconv: median([0, 1, 2].map(() => perFile('dcmconv', [], existing, work))),
      multiframe: dcmtkDecodePerFrame(work),
      load: [loadBefore, os.loadavg()[0]],
      chromium: execFileSync(process.env.LUMIDRA_CHROMIUM || '/usr/bin/chromium', ['--version'], { encoding: 'utf-8', stdio: ['ignore', 'pipe', 'ignore'] }).trim(),
      workers: rounds.uncompressed[0].workers,
      pageErrors: [...new Set(Object.values(rounds).flat().flatMap((r) => r.pageErrors))],
    };
    for (const s of Object.values(served)) await s.server.close();
    const section = render(results);
    writeSection(OUT, BEGIN, END, section);
    process.stdout.write(section + '\n');
  } finally {
    fs.rmSync(work, { recursive: true, force: true });
  }
}

module.exports = { serve, recordShownImages };

if (require.main === module) {
  main().catch((e) => {
    process.stderr.write(e.stack + '\n');
    process.exit(1);
  });
}
