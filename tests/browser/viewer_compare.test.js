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

async function launch(t, name) {
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const { data, expected } = makeStudyWorkspace(path.join(work, name), port, 'make_ct_study.py');
  const fake = await startFakeLauncher({ workspaceData: data, discData: data, launchId: LAUNCH_ID, port });
  fake.setReady(true);
  const browser = await openBrowser();
  t.after(async () => {
    await browser.close();
    await fake.close();
  });
  const { page } = browser;
  await page.goto('http://localhost:' + port + '/7z/index.html?uniqueId=' + LAUNCH_ID);
  await page.waitForSelector('#study-list[data-state="ready"]');
  await waitForImage(page, 1);
  return { page, errors: browser.errors, expected };
}

const cell = (page, i) => page.locator('.grid-cell[data-cell="' + i + '"]');
const shownImage = async (page, i) => Number(await cell(page, i).getAttribute('data-image'));

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

test('two CT series side by side scroll together by slice position; one viewport full size and back', async (t) => {
  const { page, errors, expected } = await launch(t, 'compare');
  await page.locator('.layout[data-layout="1x2"]').click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-image]');
  assert.equal(await page.locator('.grid-cell').count(), 2);
  assert.match(await cell(page, 0).getAttribute('data-series'), /Chest 2\.5 mm/);
  // The middle of the 20 slices, head first.
  assert.equal(await shownImage(page, 0), 10);

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

  // Sync off: the second stays where it is.
  await page.locator('#sync-button').click();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.wheel(0, -100);
  await page.waitForFunction((n) => document.querySelector('.grid-cell[data-cell="0"]').dataset.image === String(n), from - 4);
  await page.waitForTimeout(300);
  assert.equal(await shownImage(page, 1), want);

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

test('MPR: axial, coronal and sagittal planes of a CT volume, a probe in HU; a series that is not a volume says why', async (t) => {
  const { page, errors, expected } = await launch(t, 'mpr');
  await page.locator('.layout[data-layout="1x1"]').click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-image]');

  // The localisers lie in three orientations.
  await page.locator('.series', { hasText: 'Localisers' }).click();
  await page.locator('#mpr-button').click();
  await page.waitForSelector('#grid[data-mpr="refused"]');
  assert.match(await page.locator('#message').textContent(), /Localisers cannot be reformatted: its images lie in different orientations/);

  await page.locator('.series', { hasText: 'Chest 2.5 mm' }).click();
  await page.locator('#mpr-button').click();
  await page.waitForSelector('#grid[data-mpr="ready"]');
  assert.deepEqual(await page.locator('.grid-cell').evaluateAll((els) => els.map((e) => e.dataset.plane)), ['axial', 'coronal', 'sagittal']);

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
  assert.deepEqual(errors, []);
});
