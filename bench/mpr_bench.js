// Reformatting on the 500-slice CT (bench/viewer_study.py, uncompressed), beside the page's own
// stepping in the same round: the time from the MPR button to the three planes on screen, and from
// the volume loaded (every slice read and decoded, most already sent to the graphics while the
// others loaded) to the planes on screen; then frames per second while moving through the coronal
// and sagittal planes with the wheel, each step waited for until cornerstone3D has rendered it.
// Peers: the page's own canvas stepping through the slices, and cornerstone3D's stack viewport
// stepping through the same series. Each round in a fresh browser.
//
// Usage: node bench/mpr_bench.js [--slices 500] [--rounds 3] [--steps 100] [--out bench/REPORT.md]
//        (./run viewer first)
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { option, logger, median, spread, writeSection } = require('./bench_support.js');
const { tempDir, makeStudyDisc } = require('../tests/browser/support/disc.js');
const { openBrowser } = require('../tests/browser/support/browser.js');
const { serve, recordShownImages } = require('./viewer_bench.js');

const SOURCE_DIR = path.resolve(__dirname, '..');
const BEGIN = '<!-- mpr: bench/mpr_bench.js -->';
const END = '<!-- end of mpr -->';
const LAUNCH_ID = 'LUMIDRA_bench';

const SLICES = Number(option('slices', 500));
const ROUNDS = Number(option('rounds', 3));
const STEPS = Math.min(Number(option('steps', 100)), SLICES - 1);
const OUT = path.resolve(option('out', path.join(SOURCE_DIR, 'bench', 'REPORT.md')));

const log = logger('mpr bench');

// In the page: steps the wheel over one grid cell, each step waited for until its viewport has
// rendered; returns frames per second and how far the view moved (mm along the plane's normal,
// or images for a stack).
function wheelSteps({ cell, steps, stack }) {
  const C = window.LumidraCornerstone;
  const element = document.querySelector('.grid-cell[data-cell="' + cell + '"]');
  const surface = element.querySelector('.grid-surface');
  const engine = C.getRenderingEngine('lumidra-grid');
  const viewport = engine.getViewports().find((v) => v.element === surface);
  const where = () => (stack ? viewport.getCurrentImageIdIndex() : viewport.getCamera().focalPoint);
  const before = where();
  const box = surface.getBoundingClientRect();
  const rendered = () => new Promise((resolve) => surface.addEventListener('CORNERSTONE_IMAGE_RENDERED', resolve, { once: true }));
  return (async () => {
    const start = performance.now();
    let slowest = 0;
    let last = start;
    for (let i = 0; i < steps; i++) {
      const next = rendered();
      surface.dispatchEvent(new WheelEvent('wheel', {
        deltaY: 100, deltaMode: 0, bubbles: true, cancelable: true,
        clientX: box.left + box.width / 2, clientY: box.top + box.height / 2,
      }));
      await next;
      const now = performance.now();
      slowest = Math.max(slowest, now - last);
      last = now;
    }
    const after = where();
    const moved = stack ? after - before : Math.hypot(...after.map((v, i) => v - before[i]));
    return { fps: steps / ((last - start) / 1000), slowestMs: slowest, moved };
  })();
}

async function oneRound(served) {
  const browser = await openBrowser();
  try {
    const { page } = browser;
    await page.addInitScript(recordShownImages);
    await page.goto('http://localhost:' + served.port + '/7z/index.html?uniqueId=' + LAUNCH_ID);
    await page.waitForFunction(() => window.__shown && window.__shown['1'] !== undefined, null, { timeout: 120000 });
    // The page's own canvas, stepping as viewer_bench.js does.
    const pageSteps = await page.evaluate(async (steps) => {
      const waitFor = (n) => new Promise((resolve) => {
        if (window.__shown[n] !== undefined) resolve();
        else window.__waiting[n] = resolve;
      });
      const start = performance.now();
      for (let n = 2; n <= steps + 1; n++) {
        document.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown', bubbles: true }));
        await waitFor(String(n));
      }
      return steps / ((window.__shown[String(steps + 1)] - start) / 1000);
    }, STEPS);
    // cornerstone3D's stack viewport on the same series.
    await page.locator('.layout[data-layout="1x1"]').click();
    await page.waitForSelector('.grid-cell[data-cell="0"][data-image]', { timeout: 120000 });
    const stackSteps = await page.evaluate(wheelSteps, { cell: 0, steps: STEPS, stack: true });
    // The three planes: from the button, and from the volume loaded.
    const timing = await page.evaluate(() => new Promise((resolve) => {
      const grid = document.getElementById('grid');
      const marks = {};
      new MutationObserver((records) => {
        const now = performance.now();
        // A state the page left in the same task as it came is seen only as the one before.
        for (const r of records) if (r.oldValue && !(r.oldValue in marks)) marks[r.oldValue] = now;
        const state = grid.dataset.mpr;
        if (state && !(state in marks)) marks[state] = now;
        if (state === 'ready') {
          // On screen: the frame after the planes were rendered.
          requestAnimationFrame(() => requestAnimationFrame(() => {
            marks.onScreen = performance.now();
            resolve(marks);
          }));
        }
      }).observe(grid, { attributes: true, attributeOldValue: true, attributeFilter: ['data-mpr'] });
      marks.click = performance.now();
      document.getElementById('mpr-button').click();
    }));
    if (!timing.loaded) throw new Error('the planes were drawn without the volume loaded: ' + JSON.stringify(timing));
    const coronal = await page.evaluate(wheelSteps, { cell: 1, steps: STEPS, stack: false });
    const sagittal = await page.evaluate(wheelSteps, { cell: 2, steps: STEPS, stack: false });
    return {
      pageImagesPerSecond: pageSteps,
      stack: stackSteps,
      buttonToPlanesMs: timing.onScreen - timing.click,
      loadedToPlanesMs: timing.onScreen - timing.loaded,
      volumeLoadMs: timing.loaded - timing.loading,
      coronal,
      sagittal,
      pageErrors: browser.errors.slice(),
    };
  } finally {
    await browser.close();
  }
}

function render(results) {
  const rounds = results.rounds;
  const cell = (pick, digits) => {
    const s = spread(rounds.map(pick));
    return s.median.toFixed(digits) + ' (' + s.min.toFixed(digits) + '–' + s.max.toFixed(digits) + ')';
  };
  const met = (ok) => (ok ? 'met' : 'not met');
  const planes = median(rounds.map((r) => r.loadedToPlanesMs));
  const coronal = median(rounds.map((r) => r.coronal.fps));
  const sagittal = median(rounds.map((r) => r.sagittal.fps));
  return [
    BEGIN,
    '## Reformatting: a ' + SLICES + '-slice CT in three planes',
    '',
    'The uncompressed series of the viewer section (' + SLICES + ' slices of 512 × 512, 16-bit; bench/viewer_study.py), on a disc made by ' +
      '`tools/make_disc.py`, staged as the launcher stages it and served by the browser tests\' stand-in server. Headless Chromium (' +
      results.chromium + ') on ' + os.cpus().length + ' cores, no GPU: cornerstone3D draws through WebGL2 on SwiftShader, ' +
      'Chromium\'s software renderer, so every figure of a cornerstone3D viewport here is the CPU drawing what a graphics ' +
      'card would. ' + ROUNDS + ' rounds, each in a fresh browser; medians with the range in brackets. Each step is one wheel ' +
      'event, waited for until the viewport has rendered it.',
    '',
    '| | figure |',
    '|---|---|',
    '| MPR button to the three planes on screen (ms) | ' + cell((r) => r.buttonToPlanesMs, 0) + ' |',
    '| of which reading and decoding the ' + SLICES + ' slices into the volume, which goes to the graphics meanwhile (ms) | ' + cell((r) => r.volumeLoadMs, 0) + ' |',
    '| volume loaded to the three planes on screen (ms) | ' + cell((r) => r.loadedToPlanesMs, 0) + ' |',
    '| coronal plane: frames per second, ' + STEPS + ' steps | ' + cell((r) => r.coronal.fps, 1) + ' |',
    '| sagittal plane: frames per second, ' + STEPS + ' steps | ' + cell((r) => r.sagittal.fps, 1) + ' |',
    '| slowest step in the coronal plane (ms) | ' + cell((r) => r.coronal.slowestMs, 0) + ' |',
    '| peer: the page\'s own canvas, images per second stepping through ' + STEPS + ' slices | ' + cell((r) => r.pageImagesPerSecond, 1) + ' |',
    '| peer: cornerstone3D\'s stack viewport, images per second, ' + STEPS + ' steps | ' + cell((r) => r.stack.fps, 1) + ' |',
    '',
    'Goals: the planes on screen within 2,000 ms of the series loaded (' + planes.toFixed(0) + ' ms: ' + met(planes <= 2000) + '); ' +
      'moving through the reformatted planes at 30 frames per second or more (coronal ' + coronal.toFixed(1) + ', sagittal ' +
      sagittal.toFixed(1) + ': ' + met(Math.min(coronal, sagittal) >= 30) + ' here, on the software renderer). "Loaded" is the volume ' +
      'holding every slice; from the button, the page first reads and decodes the slices the volume needs, and sends those that ' +
      'have arrived to the graphics each time it draws the axial plane meanwhile. ' +
      'The coronal plane moved ' + median(rounds.map((r) => r.coronal.moved)).toFixed(1) + ' mm and the sagittal ' +
      median(rounds.map((r) => r.sagittal.moved)).toFixed(1) + ' mm over the ' + STEPS + ' steps; the stack ' +
      median(rounds.map((r) => Math.abs(r.stack.moved))).toFixed(0) + ' images. Reformatted planes beside the stack viewport: ' +
      (coronal / median(rounds.map((r) => r.stack.fps))).toFixed(2) + '× (coronal). Load average (1 min) before the run ' +
      results.load[0].toFixed(2) + ', after it ' + results.load[1].toFixed(2) + '; page errors seen: ' +
      (results.pageErrors.length ? results.pageErrors.join('; ') : 'none') + '.',
    END,
  ].join('\n');
}

async function main() {
  const loadBefore = os.loadavg()[0];
  const work = tempDir('lumidra-mpr-bench-');
  try {
    const study = path.join(work, 'study');
    log('writing ' + SLICES + ' CT slices');
    execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'bench', 'viewer_study.py'), study, String(SLICES)]);
    const disc = path.join(work, 'disc');
    log('making the disc');
    makeStudyDisc(study, disc);
    const served = await serve(work, disc, 'uncompressed');
    const rounds = [];
    for (let r = 0; r < ROUNDS; r++) {
      log('round ' + (r + 1));
      rounds.push(await oneRound(served));
    }
    await served.server.close();
    const section = render({
      rounds,
      load: [loadBefore, os.loadavg()[0]],
      chromium: execFileSync(process.env.LUMIDRA_CHROMIUM || '/usr/bin/chromium', ['--version'], { encoding: 'utf-8', stdio: ['ignore', 'pipe', 'ignore'] }).trim(),
      pageErrors: [...new Set(rounds.flatMap((r) => r.pageErrors))],
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
