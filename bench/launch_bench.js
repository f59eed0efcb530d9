// The launcher's start to the first image on screen, with the libraries the page loads only on
// demand (cornerstone3D, pdf.js's worker and data) outside viewer.7z, in the disc's DATA/LIB, as
// tools/make_disc.py lays them out, beside the same disc with all of them packed inside viewer.7z
// and with pdf.js's alone inside (the viewer as it was before cornerstone3D): the launcher unpacks
// viewer.7z before it opens the browser. The rounds alternate between the three discs, each in a
// fresh browser that is already running when the launcher starts.
//
// Usage: node bench/launch_bench.js [--images 1000] [--rounds 6] [--out bench/REPORT.md]
//        (./run build first: the launcher and the viewer)
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { option, logger, median, writeSection } = require('./bench_support.js');
const { tempDir, sevenZip } = require('../tests/browser/support/disc.js');
const { makeDisc, launcherRound } = require('./index_bench.js');

const SOURCE_DIR = path.resolve(__dirname, '..');
const BEGIN = '<!-- launch: bench/launch_bench.js -->';
const END = '<!-- end of launch -->';

const IMAGES = Number(option('images', 1000));
const ROUNDS = Number(option('rounds', 6));
const OUT = path.resolve(option('out', path.join(SOURCE_DIR, 'bench', 'REPORT.md')));

const log = logger('launch bench');

// The same disc (hard links, so only the archive differs) with the named libraries packed back
// into viewer.7z where the page used to find them, beside its own scripts, and the others left out.
function discWithLibrariesInside(disc, work, name, wanted) {
  const inside = path.join(work, 'disc-' + name);
  execFileSync('cp', ['-al', disc, inside]);
  const page = path.join(work, 'page-' + name);
  const zip = sevenZip();
  const archive = path.join(inside, 'DATA', '7z', 'viewer.7z');
  execFileSync(zip, ['x', '-y', '-o' + page, archive], { stdio: 'pipe' });
  const libraries = path.join(inside, 'DATA', 'LIB');
  for (const library of fs.readdirSync(libraries).filter(wanted)) {
    fs.cpSync(path.join(libraries, library), path.join(page, 'js', library), { recursive: true });
  }
  const index = path.join(page, 'index.html');
  fs.writeFileSync(index, fs.readFileSync(index, 'utf-8').replace('content="../LIB/"', 'content="js/"'));
  fs.rmSync(libraries, { recursive: true });
  fs.rmSync(archive);
  // As tools/disc/archives.py packs it.
  execFileSync(zip, ['a', '-t7z', '-mx=1', '-bd', '-y', archive, '--', ...fs.readdirSync(page).sort()], { cwd: page, stdio: 'pipe' });
  return inside;
}

function render(results) {
  const range = (values) => median(values).toFixed(0) + ' (' + Math.min(...values).toFixed(0) + '–' + Math.max(...values).toFixed(0) + ')';
  const mb = (bytes) => (bytes / 1048576).toFixed(2);
  const { outside, inside, pdf } = results.rounds;
  return [
    BEGIN,
    '## The launcher\'s start to the first image: on-demand libraries outside viewer.7z',
    '',
    'One disc made by `tools/make_disc.py` of ' + IMAGES + ' CT images (128 × 128, 16-bit, in series of 100: ' +
      'bench/index_study.py), and the same disc with cornerstone3D and pdf.js\'s worker and data packed back into ' +
      'viewer.7z (as before they moved to the disc\'s DATA/LIB, which the launcher serves from the disc), and with ' +
      'pdf.js\'s alone packed inside (the archive as it was before cornerstone3D came). The disc\'s own ' +
      'Linux launcher is started in the disc\'s folder; the time runs from its start to the first image on screen in the ' +
      'page it opens, in a headless Chromium (' + results.chromium + ') already running, on ' + os.cpus().length + ' cores. ' +
      ROUNDS + ' rounds, the three discs alternating; medians with the range in brackets.',
    '',
    '| | viewer.7z (MB) | launcher start to the first image (ms) |',
    '|---|---|---|',
    '| libraries in DATA/LIB, outside viewer.7z (the discs now) | ' + mb(results.bytes.outside) + ' | ' + range(outside.map((r) => r.firstImageMs)) + ' |',
    '| libraries inside viewer.7z (the discs before) | ' + mb(results.bytes.inside) + ' | ' + range(inside.map((r) => r.firstImageMs)) + ' |',
    '| pdf.js\'s inside, no cornerstone3D (the discs before cornerstone3D) | ' + mb(results.bytes.pdf) + ' | ' + range(pdf.map((r) => r.firstImageMs)) + ' |',
    '',
    'Outside beside inside: ' + (median(outside.map((r) => r.firstImageMs)) / median(inside.map((r) => r.firstImageMs))).toFixed(2) +
      '×; beside the discs before cornerstone3D: ' +
      (median(outside.map((r) => r.firstImageMs)) / median(pdf.map((r) => r.firstImageMs))).toFixed(2) + '×. Load average (1 min) before the run ' + results.load[0].toFixed(2) + ', after it ' + results.load[1].toFixed(2) +
      '; page errors seen: ' + (results.pageErrors.length ? results.pageErrors.join('; ') : 'none') + '.',
    END,
  ].join('\n');
}

async function main() {
  const loadBefore = os.loadavg()[0];
  const work = tempDir('lumidra-launch-bench-');
  try {
    const discs = { outside: makeDisc(work, IMAGES) };
    if (!fs.existsSync(path.join(discs.outside, 'DATA', 'LIB', 'cornerstone.js'))) {
      throw new Error('the disc has no DATA/LIB/cornerstone.js: run ./run viewer first');
    }
    discs.inside = discWithLibrariesInside(discs.outside, work, 'inside', () => true);
    discs.pdf = discWithLibrariesInside(discs.outside, work, 'pdf', (name) => !name.startsWith('cornerstone'));
    const rounds = { outside: [], inside: [], pdf: [] };
    const ways = Object.keys(rounds);
    for (let r = 0; r < ROUNDS; r++) {
      const order = ways.slice(r % ways.length).concat(ways.slice(0, r % ways.length));
      for (const way of order) {
        log('round ' + (r + 1) + ', libraries ' + way);
        rounds[way].push(await launcherRound(discs[way], work, way + r));
      }
    }
    const section = render({
      rounds,
      bytes: Object.fromEntries(Object.entries(discs).map(([k, d]) => [k, fs.statSync(path.join(d, 'DATA', '7z', 'viewer.7z')).size])),
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

main().catch((e) => {
  process.stderr.write(e.stack + '\n');
  process.exit(1);
});
