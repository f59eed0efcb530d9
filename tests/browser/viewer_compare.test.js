// The compare workspace as a doctor uses it, on a CT study whose pixels pydicom reads back: two
// series side by side scrolled together by slice position, one viewport full size and back,
// coronal and sagittal planes of the volume, a series that is not a volume refused with the
// reason, measurements checked against the pixel data, and the view saved as PNG.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir } = require('./support/disc.js');
const { startFakeLauncher } = require('./support/fake_launcher.js');
const { openBrowser, waitForImage } = require('./support/browser.js');
const { makeStudyWorkspace } = require('./support/study_workspace.js');

const LAUNCH_ID = 'LUMIDRA_c0ffee0123ab';
const work = tempDir('lumidra-compare-');
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

async function launch(t, name, locale, init) {
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const { data, expected } = makeStudyWorkspace(path.join(work, name), port, 'make_ct_study.py');
  const fake = await startFakeLauncher({ workspaceData: data, discData: data, launchId: LAUNCH_ID, port });
  fake.setReady(true);
  const browser = await openBrowser({ locale });
  t.after(async () => {
    await browser.close();
    await fake.close();
  });
  const { page } = browser;
  if (init) await page.addInitScript(init);
  await page.goto('http://localhost:' + port + '/7z/index.html?uniqueId=' + LAUNCH_ID);
  await page.waitForSelector('#study-list[data-state="ready"]');
  await waitForImage(page, 1);
  return { page, errors: browser.errors, expected };
}

const cell = (page, i) => page.locator('.grid-cell[data-cell="' + i + '"]');
const shownImage = async (page, i) => Number(await cell(page, i).getAttribute('data-image'));

function markers(page, i) {
  return cell(page, i).locator('.orientation-marker').evaluateAll((els) =>
    Object.fromEntries(els.map((e) => [e.classList[1], e.textContent])));
}

// The annotations cornerstone keeps: where the user's handles landed, in patient coordinates.
function annotations(page) {
  return page.evaluate(() => window.LumidraCornerstone.tools.annotation.state.getAllAnnotations()
    .map((a) => ({ tool: a.metadata.toolName, points: a.data.handles.points })));
}

// The slice of a head-first series whose position is nearest z.
function nearest(zs, z) {
  let best = 0;
  zs.forEach((v, i) => { if (Math.abs(v - z) < Math.abs(zs[best] - z)) best = i; });
  return best;
}

test('two CT series side by side scroll together by slice position or, on request, by image number; window linked; one viewport full size and back', async (t) => {
  const { page, errors, expected } = await launch(t, 'compare');
  await page.locator('.layout[data-layout="1x2"]').click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-image]');
  assert.equal(await page.locator('.grid-cell').count(), 2);
  assert.match(await cell(page, 0).getAttribute('data-series'), /Chest 2\.5 mm/);
  // The middle of the 20 slices, head first, with its place, thickness and the patient's sides.
  assert.equal(await shownImage(page, 0), 10);
  assert.match(await cell(page, 0).locator('.grid-info').textContent(), new RegExp('Location ' + expected.series1.z[9] + ' mm · Thickness 2.5 mm'));
  assert.deepEqual(await markers(page, 0), { top: 'A', bottom: 'P', left: 'R', right: 'L' });
  // The scale bar: its length on screen is its millimetres at the image's zoom, as the drawn
  // image's width (48 columns of 0.6 mm, on black) gives it.
  const bar = await cell(page, 0).locator('.scale-bar').evaluate((e) => ({ mm: Number(e.dataset.mm), width: e.getBoundingClientRect().width - 4 }));
  const drawnWidth = await cell(page, 0).locator('canvas').evaluate((canvas) => {
    const row = canvas.getContext('2d').getImageData(0, Math.floor(canvas.height / 2), canvas.width, 1).data;
    let lit = 0;
    for (let p = 0; p < row.length; p += 4) if (row[p] > 0) lit++;
    return lit / (canvas.width / canvas.getBoundingClientRect().width);
  });
  const perMm = drawnWidth / (48 * 0.6);
  assert.ok(Math.abs(bar.width - bar.mm * perMm) < 2, JSON.stringify([bar, perMm]));

  // Series 2 dragged from the list into the second viewport, which becomes the active one.
  await page.locator('.series', { hasText: 'Chest 1.25 mm' }).dragTo(cell(page, 1));
  await page.waitForSelector('.grid-cell[data-cell="1"][data-image]');
  assert.match(await cell(page, 1).getAttribute('data-series'), /Chest 1\.25 mm/);
  assert.equal(await page.locator('.grid-cell.active').getAttribute('data-cell'), '1');

  // The new series opens at the slice nearest the other viewport's position.
  await page.waitForFunction((n) => document.querySelector('.grid-cell[data-cell="1"]').dataset.image === String(n),
    nearest(expected.series2.z, expected.series1.z[9]) + 1);
  assert.equal(await shownImage(page, 0), 10);

  // The wheel over the first viewport moves both, to the slice at the same position.
  const box = await cell(page, 0).boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  const from = await shownImage(page, 0);
  for (let i = 0; i < 3; i++) await page.mouse.wheel(0, -100);
  await page.waitForFunction((n) => document.querySelector('.grid-cell[data-cell="0"]').dataset.image === String(n), from - 3);
  const want = nearest(expected.series2.z, expected.series1.z[from - 4]) + 1;
  assert.notEqual(want, from - 3);
  await page.waitForFunction((n) => document.querySelector('.grid-cell[data-cell="1"]').dataset.image === String(n), want);
  assert.equal(await page.locator('.grid-cell.active').getAttribute('data-cell'), '0');

  // By image number, on request: the second follows the first's number, not its position.
  await page.locator('#sync-select').selectOption('index');
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.wheel(0, 100);
  await page.waitForFunction((n) => document.querySelector('.grid-cell[data-cell="0"]').dataset.image === String(n), from - 2);
  await page.waitForFunction((n) => document.querySelector('.grid-cell[data-cell="1"]').dataset.image === String(n), from - 2);
  await page.mouse.wheel(0, -100);
  await page.waitForFunction((n) => document.querySelector('.grid-cell[data-cell="1"]').dataset.image === String(n), from - 3);
  const want2 = await shownImage(page, 1);

  // Sync off: the second stays where it is.
  await page.locator('#sync-select').selectOption('off');
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.wheel(0, -100);
  await page.waitForFunction((n) => document.querySelector('.grid-cell[data-cell="0"]').dataset.image === String(n), from - 4);
  await page.waitForTimeout(300);
  assert.equal(await shownImage(page, 1), want2);

  // Window dragged in one viewport: the other keeps its own until window and zoom are linked.
  const still = await brightness(page, 1);
  await drag(page, box, [box.width / 2, box.height / 2], [box.width / 2 + 60, box.height / 2 + 80]);
  await page.waitForTimeout(300);
  assert.equal(await brightness(page, 1), still);
  await page.locator('#link-button').click();
  await drag(page, box, [box.width / 2, box.height / 2], [box.width / 2 + 60, box.height / 2 + 80]);
  await page.waitForFunction((b) => {
    const canvas = document.querySelector('.grid-cell[data-cell="1"] canvas');
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    let sum = 0;
    for (let p = 0; p < data.length; p += 4) sum += data[p];
    return Math.abs(sum / (data.length / 4) - b) > 1;
  }, still);

  // Double-click: the viewport alone, at full size; again: the grid.
  await cell(page, 1).dblclick();
  assert.equal(await cell(page, 0).isVisible(), false);
  const full = await cell(page, 1).boundingBox();
  assert.ok(full.width > box.width * 1.8, full.width + ' vs ' + box.width);
  await cell(page, 1).dblclick();
  assert.equal(await cell(page, 0).isVisible(), true);

  // 2x2 keeps both series in place.
  await page.locator('.layout[data-layout="2x2"]').click();
  await page.waitForFunction(() => document.querySelectorAll('.grid-cell').length === 4);
  await page.waitForSelector('.grid-cell[data-cell="1"][data-image]');
  assert.match(await cell(page, 1).getAttribute('data-series'), /Chest 1\.25 mm/);
  assert.deepEqual(errors, []);
});

// The mean grey level a viewport shows.
function brightness(page, i) {
  return page.evaluate((i) => {
    const canvas = document.querySelector('.grid-cell[data-cell="' + i + '"] canvas');
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    let sum = 0;
    for (let p = 0; p < data.length; p += 4) sum += data[p];
    return sum / (data.length / 4);
  }, i);
}

// HU of series 1 at a point in patient coordinates, as pydicom reads the pixels.
function huAt(expected, point) {
  const [sx, sy] = [expected.spacing[1], expected.spacing[0]];
  const i = Math.round((point[0] - expected.origin[0]) / sx);
  const j = Math.round((point[1] - expected.origin[1]) / sy);
  const k = nearest(expected.series1.z, point[2]);
  return expected.series1.hu[k][j][i];
}

test('MPR: axial, coronal and sagittal planes of a CT volume, a probe in HU, MIP, crosshairs; a series that is not a volume says why, in Czech', async (t) => {
  const { page, errors, expected } = await launch(t, 'mpr', 'cs-CZ');
  await page.locator('.layout[data-layout="1x1"]').click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-image]');

  // The localisers lie in three orientations.
  await page.locator('.series', { hasText: 'Localisers' }).click();
  await page.locator('#mpr-button').click();
  await page.waitForSelector('#grid[data-mpr="refused"]');
  // In the browser's language, Czech here.
  assert.match(await page.locator('#message').textContent(), /Localisers nelze rekonstruovat: snímky mají různou orientaci\./);
  assert.equal(await page.locator('#save-png').textContent(), 'Uložit PNG');

  await page.locator('.series', { hasText: 'Chest 2.5 mm' }).click();
  await page.locator('#mpr-button').click();
  await page.waitForSelector('#grid[data-mpr="ready"]');
  assert.deepEqual(await page.locator('.grid-cell').evaluateAll((els) => els.map((e) => e.dataset.plane)), ['axial', 'coronal', 'sagittal']);
  assert.deepEqual(await markers(page, 1), { top: 'H', bottom: 'F', left: 'R', right: 'L' });
  assert.deepEqual(await markers(page, 2), { top: 'H', bottom: 'F', left: 'A', right: 'P' });

  // A probe in the middle of the coronal plane reads the voxel pydicom reads there.
  await page.locator('.tool[data-tool="probe"]').click();
  const box = await cell(page, 1).boundingBox();
  await page.mouse.click(box.x + box.width / 2 + 7, box.y + box.height / 2 + 5);
  await page.waitForSelector('#measurements li[data-kind="probe"][data-value]');
  const [probe] = (await annotations(page)).filter((a) => a.tool === 'Probe');
  const value = Number(await page.locator('#measurements li[data-kind="probe"]').getAttribute('data-value'));
  assert.equal(value, huAt(expected, probe.points[0]));
  // The coronal plane: a fixed y (row), running through the slices.
  const plane = await page.evaluate(() => {
    const el = document.querySelector('.grid-cell[data-plane="coronal"] .grid-surface');
    return window.LumidraCornerstone.getRenderingEngine('lumidra-grid').getViewports().find((v) => v.element === el).getCamera().viewPlaneNormal;
  });
  assert.deepEqual(plane.map((v) => Math.abs(Math.round(v))), [0, 1, 0]);

  // A MIP slab: the values rise with the row and the slice, so the coronal plane, its maximum
  // taken across 10 mm of rows, draws brighter.
  const before = await brightness(page, 1);
  await page.locator('#slab-select').selectOption('10');
  await page.waitForSelector('#grid[data-slab="10"]');
  await page.waitForTimeout(300);
  const after = await brightness(page, 1);
  assert.ok(after > before + 1, before + ' -> ' + after);

  // The crosshairs: their centre dragged in the axial plane moves the coronal plane to the row
  // where it is let go, and the sagittal plane to the column.
  await page.locator('.tool[data-tool="crosshairs"]').click();
  const axial = await cell(page, 0).boundingBox();
  await drag(page, axial, [axial.width / 2, axial.height / 2], [axial.width * 0.3, axial.height * 0.6]);
  await page.waitForTimeout(300);
  const planes = await page.evaluate(({ x, y }) => {
    const viewports = window.LumidraCornerstone.getRenderingEngine('lumidra-grid').getViewports();
    const of = (plane) => viewports.find((v) => v.element === document.querySelector('.grid-cell[data-plane="' + plane + '"] .grid-surface'));
    return { released: of('axial').canvasToWorld([x, y]), coronal: of('coronal').getCamera().focalPoint, sagittal: of('sagittal').getCamera().focalPoint };
  }, { x: axial.width * 0.3, y: axial.height * 0.6 });
  assert.ok(Math.abs(planes.coronal[1] - planes.released[1]) < 1, JSON.stringify(planes));
  assert.ok(Math.abs(planes.sagittal[0] - planes.released[0]) < 1, JSON.stringify(planes));

  // Back to a layout: the planes and their volume go; the series shows as a stack again.
  await page.locator('.layout[data-layout="1x2"]').click();
  await page.waitForFunction(() => document.querySelectorAll('.grid-cell').length === 2);
  await page.locator('.series', { hasText: 'Chest 2.5 mm' }).click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-image]');
  assert.equal(await page.evaluate(() => window.LumidraCornerstone.cache.getVolumes().length), 0);

  assert.deepEqual(errors, []);
});

// The reformatted volume's depth and type, and each plane's mean brightness on screen.
function volumeAndPlanes(page) {
  return page.evaluate(() => {
    const [volume] = window.LumidraCornerstone.cache.getVolumes();
    const brightness = [...document.querySelectorAll('.grid-cell canvas')].map((c) => {
      const { data } = c.getContext('2d').getImageData(0, 0, c.width, c.height);
      let sum = 0;
      for (let p = 0; p < data.length; p += 4) sum += data[p];
      return sum / (data.length / 4);
    });
    return { depth: volume.dimensions[2], dataType: volume.dataType, brightness };
  });
}

// With a cache of the default size, and with one where the volume's values as floats would take
// more than half of it: that volume stays 16-bit, as large as its slices, and reformats the same.
for (const crowded of [false, true]) {
  const name = crowded ? 'a volume that floats would crowd out of the cache stays 16-bit, is sent once and draws smooth'
    : 'the volume goes to the graphics once, each slice once, and the planes draw smooth';
  test('MPR: ' + name, async (t) => {
    // Every slice sent into a 3D texture, by depth.
    const { page, errors, expected } = await launch(t, crowded ? 'mpr-16bit' : 'mpr-once', 'en-US', () => {
      window.__sentSlices = [];
      const send = WebGL2RenderingContext.prototype.texSubImage3D;
      WebGL2RenderingContext.prototype.texSubImage3D = function (...args) {
        for (let z = args[4]; z < args[4] + args[7]; z++) window.__sentSlices.push(z);
        return send.apply(this, args);
      };
    });
    await page.locator('.layout[data-layout="1x1"]').click();
    await page.waitForSelector('.grid-cell[data-cell="0"][data-image]');
    if (crowded) {
      const { hu } = expected.series1;
      const floatBytes = hu.length * hu[0].length * hu[0][0].length * 4;
      await page.evaluate((size) => window.LumidraCornerstone.cache.setMaxCacheSize(size), Math.round(floatBytes * 1.9));
    }
    await page.locator('.series', { hasText: 'Chest 2.5 mm' }).click();
    await page.locator('#mpr-button').click();
    await page.waitForSelector('#grid[data-mpr="ready"]');
    await page.waitForSelector('.grid-cell[data-plane="sagittal"][data-interpolation="linear"]');
    await page.waitForTimeout(500);
    const { depth, dataType, brightness } = await volumeAndPlanes(page);
    const sent = await page.evaluate(() => window.__sentSlices.slice().sort((a, b) => a - b));
    assert.equal(depth, expected.series1.hu.length);
    if (crowded) assert.equal(dataType, 'Int16Array');
    assert.deepEqual(sent, Array.from({ length: depth }, (_, z) => z));
    for (const mean of brightness) assert.ok(mean > 1, JSON.stringify(brightness));
    for (const plane of ['axial', 'coronal', 'sagittal']) {
      assert.equal(await page.locator('.grid-cell[data-plane="' + plane + '"]').getAttribute('data-interpolation'), 'linear');
    }
    assert.deepEqual(errors, []);
  });
}

test('MPR: the slices go to the graphics while the rest still decode, the axial plane shows them, and none is sent twice', async (t) => {
  // Every slice sent into a 3D texture and every plane drawn, with what the page said it was
  // doing at the time.
  const { page, errors } = await launch(t, 'mpr-early', 'en-US', () => {
    window.__sent = [];
    window.__drawn = [];
    document.addEventListener('CORNERSTONE_IMAGE_RENDERED', (event) => {
      const cell = event.target.closest && event.target.closest('.grid-cell[data-plane]');
      if (cell) window.__drawn.push(cell.dataset.plane + ' ' + document.getElementById('grid').dataset.mpr);
    }, true);
    const send = WebGL2RenderingContext.prototype.texSubImage3D;
    WebGL2RenderingContext.prototype.texSubImage3D = function (...args) {
      const state = document.getElementById('grid').dataset.mpr;
      for (let z = args[4]; z < args[4] + args[7]; z++) window.__sent.push({ z, state });
      return send.apply(this, args);
    };
  });
  // The first few decoding requests go through; the rest wait until the test lets them go, so
  // the volume is part loaded for as long as the test looks.
  await page.evaluate(() => {
    const post = Worker.prototype.postMessage;
    const held = [];
    let allowed = 6;
    Worker.prototype.postMessage = function (...args) {
      if (allowed > 0 || !window.holdDecoding) {
        allowed--;
        post.apply(this, args);
      } else {
        held.push([this, args]);
      }
    };
    window.holdDecoding = true;
    window.releaseDecoding = () => {
      window.holdDecoding = false;
      for (const [worker, args] of held.splice(0)) post.apply(worker, args);
    };
  });
  await page.locator('.series', { hasText: 'Chest 1.25 mm' }).click();
  await page.locator('#mpr-button').click();
  await page.waitForFunction(() => window.__sent.length > 0 && window.__drawn.length > 0, null, { timeout: 20000 });
  const early = await page.evaluate(() => ({
    sent: window.__sent.map((s) => s.state),
    drawn: window.__drawn.slice(),
    state: document.getElementById('grid').dataset.mpr,
  }));
  assert.equal(early.state, 'loading');
  assert.ok(early.sent.every((state) => state === 'loading'), JSON.stringify(early.sent));
  assert.ok(early.drawn.includes('axial loading'), JSON.stringify(early.drawn));

  await page.evaluate(() => window.releaseDecoding());
  await page.waitForSelector('#grid[data-mpr="ready"]', { timeout: 60000 });
  await page.waitForTimeout(500);
  const { depth, brightness } = await volumeAndPlanes(page);
  const sent = await page.evaluate(() => window.__sent.map((s) => s.z).sort((a, b) => a - b));
  assert.equal(depth, 20);
  assert.deepEqual(sent, Array.from({ length: depth }, (_, z) => z));
  for (const mean of brightness) assert.ok(mean > 1, JSON.stringify(brightness));
  assert.deepEqual(errors, []);
});

// Series 1's voxel centres on slice k inside a shape given by inside(x, y) in patient mm, and
// their HU statistics as pydicom's pixels give them.
function statsWithin(expected, k, inside) {
  const values = [];
  const rows = expected.series1.hu[k];
  rows.forEach((row, j) => row.forEach((hu, i) => {
    if (inside(expected.origin[0] + i * expected.spacing[1], expected.origin[1] + j * expected.spacing[0])) values.push(hu);
  }));
  const mean = values.reduce((a, b) => a + b, 0) / values.length;
  const variance = values.reduce((a, b) => a + (b - mean) ** 2, 0) / values.length;
  return { count: values.length, mean, sd: Math.sqrt(variance), min: Math.min(...values), max: Math.max(...values) };
}

function angleAt(a, b, c) {
  const u = a.map((v, i) => v - b[i]);
  const w = c.map((v, i) => v - b[i]);
  const dot = u.reduce((s, v, i) => s + v * w[i], 0);
  return Math.acos(dot / Math.hypot(...u) / Math.hypot(...w)) * 180 / Math.PI;
}

// The PNG the Save button downloads, read back beside the active viewport's canvas: its size,
// the share of pixels as on screen, and how many are in the measurements' yellow.
async function savedPng(page) {
  const [download] = await Promise.all([page.waitForEvent('download'), page.locator('#save-png').click()]);
  const png = fs.readFileSync(await download.path());
  return page.evaluate(async (base64) => {
    const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/png' }));
    const shown = document.querySelector('.grid-cell[data-cell="0"] canvas');
    const copy = new OffscreenCanvas(bitmap.width, bitmap.height);
    copy.getContext('2d').drawImage(bitmap, 0, 0);
    const saved = copy.getContext('2d').getImageData(0, 0, bitmap.width, bitmap.height).data;
    const screen = shown.getContext('2d').getImageData(0, 0, shown.width, shown.height).data;
    let same = 0;
    let coloured = 0;
    for (let p = 0; p < saved.length; p += 4) {
      if (Math.abs(saved[p] - screen[p]) <= 2 && Math.abs(saved[p + 2] - screen[p + 2]) <= 2) same++;
      if (saved[p] > 200 && saved[p + 1] > 150 && saved[p + 2] < 80) coloured++;
    }
    return { width: bitmap.width, height: bitmap.height, canvas: [shown.width, shown.height], same: same / (saved.length / 4), coloured };
  }, png.toString('base64'));
}

async function drag(page, box, from, to) {
  await page.mouse.move(box.x + from[0], box.y + from[1]);
  await page.mouse.down();
  await page.mouse.move(box.x + (from[0] + to[0]) / 2, box.y + (from[1] + to[1]) / 2, { steps: 4 });
  await page.mouse.move(box.x + to[0], box.y + to[1], { steps: 4 });
  await page.mouse.up();
}

test('measurements on a CT slice: ellipse and rectangle in HU against pydicom, angle and Cobb angle, an arrow with text, listed and removed; the view saved as PNG with or without its overlay, and printed', async (t) => {
  const { page, errors, expected } = await launch(t, 'measure');
  await page.locator('.layout[data-layout="1x1"]').click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-image="10"]');
  const box = await cell(page, 0).boundingBox();
  const k = 9;

  await page.locator('.tool[data-tool="ellipse"]').click();
  await drag(page, box, [box.width * 0.35, box.height * 0.3], [box.width * 0.62, box.height * 0.55]);
  await page.waitForSelector('#measurements li[data-kind="ellipse"][data-mean]');
  await page.locator('.tool[data-tool="rectangle"]').click();
  await drag(page, box, [box.width * 0.2, box.height * 0.6], [box.width * 0.45, box.height * 0.8]);
  await page.waitForSelector('#measurements li[data-kind="rectangle"][data-mean]');
  await page.locator('.tool[data-tool="angle"]').click();
  // Clicks apart, as cornerstone holds a click 400 ms back in case it becomes a double-click.
  for (const [x, y] of [[0.7, 0.2], [0.8, 0.5], [0.65, 0.7]]) {
    await page.mouse.click(box.x + box.width * x, box.y + box.height * y);
    await page.waitForTimeout(1000);
  }
  await page.waitForSelector('#measurements li[data-kind="angle"][data-angle]');
  await page.locator('.tool[data-tool="cobb"]').click();
  // Two clicks for the first line, a drag for the second.
  for (const [x, y] of [[0.1, 0.1], [0.3, 0.15]]) {
    await page.mouse.click(box.x + box.width * x, box.y + box.height * y);
    await page.waitForTimeout(1000);
  }
  await drag(page, box, [box.width * 0.1, box.height * 0.3], [box.width * 0.3, box.height * 0.2]);
  await page.waitForSelector('#measurements li[data-kind="cobb"][data-angle]');
  await page.locator('.tool[data-tool="arrow"]').click();
  page.once('dialog', (dialog) => dialog.accept('Léze 1'));
  await drag(page, box, [box.width * 0.85, box.height * 0.85], [box.width * 0.75, box.height * 0.75]);
  await page.waitForSelector('#measurements li[data-kind="arrow"]');
  await page.waitForFunction(() => /Léze 1/.test(document.querySelector('#measurements li[data-kind="arrow"]').textContent));

  const drawn = await annotations(page);
  const figures = (kind) => page.locator('#measurements li[data-kind="' + kind + '"]').evaluate((li) =>
    Object.fromEntries(Object.entries(li.dataset).filter(([name]) => name !== 'kind' && name !== 'uid').map(([n, v]) => [n, Number(v)])));

  // The ellipse: its axes are the handles' two pairs.
  const ellipse = drawn.find((a) => a.tool === 'EllipticalROI').points;
  assert.equal(nearest(expected.series1.z, ellipse[0][2]), k);
  const centre = [(ellipse[2][0] + ellipse[3][0]) / 2, (ellipse[0][1] + ellipse[1][1]) / 2];
  const a = Math.abs(ellipse[3][0] - ellipse[2][0]) / 2;
  const b = Math.abs(ellipse[1][1] - ellipse[0][1]) / 2;
  const inEllipse = statsWithin(expected, k, (x, y) => ((x - centre[0]) / a) ** 2 + ((y - centre[1]) / b) ** 2 <= 1);
  const shownEllipse = await figures('ellipse');
  assert.ok(inEllipse.count > 50, String(inEllipse.count));
  assert.ok(Math.abs(shownEllipse.mean - inEllipse.mean) < 1e-6, JSON.stringify([shownEllipse, inEllipse]));
  assert.ok(Math.abs(shownEllipse.stdDev - inEllipse.sd) < 1e-6, JSON.stringify([shownEllipse, inEllipse]));
  assert.equal(shownEllipse.min, inEllipse.min);
  assert.equal(shownEllipse.max, inEllipse.max);
  assert.ok(Math.abs(shownEllipse.area - Math.PI * a * b) < 0.01 * Math.PI * a * b, shownEllipse.area + ' mm² vs ' + Math.PI * a * b);
  assert.match(await page.locator('#measurements li[data-kind="ellipse"]').textContent(), /Mean -?\d+(\.\d+)? HU/);

  // The rectangle: its corners.
  const rectangle = drawn.find((r) => r.tool === 'RectangleROI').points;
  const xs = rectangle.map((p) => p[0]);
  const ys = rectangle.map((p) => p[1]);
  const inRectangle = statsWithin(expected, k, (x, y) => x >= Math.min(...xs) && x <= Math.max(...xs) && y >= Math.min(...ys) && y <= Math.max(...ys));
  const shownRectangle = await figures('rectangle');
  assert.ok(Math.abs(shownRectangle.mean - inRectangle.mean) < 1e-6, JSON.stringify([shownRectangle, inRectangle]));
  assert.ok(Math.abs(shownRectangle.stdDev - inRectangle.sd) < 1e-6, JSON.stringify([shownRectangle, inRectangle]));
  assert.equal(shownRectangle.min, inRectangle.min);
  assert.equal(shownRectangle.max, inRectangle.max);

  // The angle between the handles, in patient space.
  const angle = drawn.find((r) => r.tool === 'Angle').points;
  assert.ok(Math.abs((await figures('angle')).angle - angleAt(...angle)) < 0.01);

  // Cobb: the angle between the two lines' directions.
  const cobb = drawn.find((r) => r.tool === 'CobbAngle').points;
  const between = angleAt(cobb[1].map((v, i) => v - cobb[0][i]), [0, 0, 0], cobb[3].map((v, i) => v - cobb[2][i]));
  assert.ok(Math.abs((await figures('cobb')).angle - Math.min(between, 180 - between)) < 0.01, JSON.stringify([await figures('cobb'), between]));

  // The view saved as PNG, with the measurements drawn in: read back, it is the viewport's size,
  // its grey picture where no measurement lies, and it holds the measurements' colour.
  const check = await savedPng(page);
  assert.deepEqual([check.width, check.height], check.canvas);
  assert.ok(check.same > 0.9, JSON.stringify(check));
  assert.ok(check.coloured > 50, JSON.stringify(check));
  // Without the overlay: the picture alone.
  await page.locator('#with-overlay').uncheck();
  const bare = await savedPng(page);
  assert.equal(bare.coloured, 0);
  assert.equal(bare.same, 1);

  // Printed: the same picture on a page of its own, handed to the browser's print.
  await page.evaluate(() => {
    window.printed = [];
    new MutationObserver(() => {
      for (const frame of document.querySelectorAll('iframe.print-frame')) {
        frame.contentWindow.print = () => window.printed.push(frame.contentDocument.querySelector('img').naturalWidth);
      }
    }).observe(document.body, { childList: true });
  });
  await page.locator('#print-view').click();
  await page.waitForFunction(() => window.printed.length === 1);
  assert.equal(await page.evaluate(() => window.printed[0]), check.width);

  // Removed one by one.
  await page.locator('#measurements li[data-kind="rectangle"] .remove-measurement').click();
  await page.waitForFunction(() => document.getElementById('measurements').dataset.count === '4');
  assert.equal((await annotations(page)).some((r) => r.tool === 'RectangleROI'), false);
  assert.deepEqual(errors, []);
});

test('another layout chosen while a volume\'s slices are still decoding stays, and the volume is let go', async (t) => {
  const { page, errors } = await launch(t, 'mpr-left');
  // The decoding workers' requests held until the test lets them go, so that the slices are
  // still loading when the user moves on.
  await page.evaluate(() => {
    const post = Worker.prototype.postMessage;
    const held = [];
    window.holdDecoding = true;
    Worker.prototype.postMessage = function (...args) {
      if (window.holdDecoding) held.push([this, args]);
      else post.apply(this, args);
    };
    window.releaseDecoding = () => {
      window.holdDecoding = false;
      for (const [worker, args] of held.splice(0)) post.apply(worker, args);
    };
  });
  await page.locator('.series', { hasText: 'Chest 1.25 mm' }).click();
  await page.locator('#mpr-button').click();
  await page.waitForSelector('#grid[data-mpr="loading"]', { timeout: 60000 });
  await page.locator('.layout[data-layout="1x2"]').click();
  await page.waitForSelector('#grid[data-layout="1x2"]');
  await page.evaluate(() => window.releaseDecoding());
  await page.waitForFunction(() => window.LumidraCornerstone.cache.getVolumes().length === 0, null, { timeout: 30000 });
  await page.waitForTimeout(500);
  assert.equal(await page.locator('#grid').getAttribute('data-layout'), '1x2');
  assert.deepEqual(await page.locator('.grid-cell').evaluateAll((els) => els.map((e) => e.dataset.plane || '')), ['', '']);
  // The new layout's viewports take a series as before.
  await page.locator('.series', { hasText: 'Chest 2.5 mm' }).click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-image]');
  assert.deepEqual(errors, []);
});
