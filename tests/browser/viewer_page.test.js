// The viewer page in headless Chromium against a stand-in for the launcher's server, so that
// the test decides when the launch id is given and what the copy status says.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir, buildDisc, stageWorkspace } = require('./support/disc.js');
const { startFakeLauncher } = require('./support/fake_launcher.js');
const { openBrowser, canvasSummary, gridDifference, text, waitForImage, settle } = require('./support/browser.js');

const LAUNCH_ID = 'LUMIDRA_5eed0123abcd';
const work = tempDir('lumidra-page-');
const disc = path.join(work, 'disc');
buildDisc(disc);
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

// A fresh workspace and fake launcher on a free port, and a browser at the start address.
async function launch(t, name) {
  const workspace = path.join(work, name);
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const data = stageWorkspace(disc, workspace, port);
  const fake = await startFakeLauncher({ workspaceData: data, discData: path.join(disc, 'DATA'), launchId: LAUNCH_ID, port });
  const browser = await openBrowser();
  t.after(async () => {
    await browser.close();
    await fake.close();
  });
  await browser.page.goto('http://localhost:' + port + '/7z/index.html?uniqueId=' + LAUNCH_ID);
  return { fake, page: browser.page, errors: browser.errors, data };
}

test('the page shows the study and its images, and follows the launcher', async (t) => {
  const { fake, page, errors } = await launch(t, 'main');

  await page.waitForSelector('#study-list[data-state="ready"]');
  assert.equal(await text(page, 'server-address'), 'localhost:' + fake.port);
  assert.match(await text(page, 'study-list'), /Nováková, Jana/);
  const series = await page.locator('.series').allTextContents();
  assert.equal(series.length, 3);
  assert.match(series[0], /^CT.*48 images$/);
  assert.match(series[1], /^MR.*6 images$/);
  assert.match(series[2], /^CR.*1 image$/);

  await waitForImage(page, 1);
  const first = await canvasSummary(page);
  assert.ok(first.levels > 20, 'the first CT image shows ' + first.levels + ' grey levels');
  assert.match(await text(page, 'wl-info'), /^W 400\s+L 40$/);

  await page.locator('#slice-slider').fill('23');
  await waitForImage(page, 24);
  const middle = await canvasSummary(page);
  assert.ok(gridDifference(first, middle) > 10, 'the middle slice looks like the first');

  await page.locator('#viewport').hover();
  await page.mouse.wheel(0, 100);
  await waitForImage(page, 25);
  await page.keyboard.press('ArrowUp');
  await page.keyboard.press('ArrowUp');
  await waitForImage(page, 23);
  await page.keyboard.press('End');
  await waitForImage(page, 48);
  await page.keyboard.press('Home');
  await waitForImage(page, 1);
  assert.equal(gridDifference(first, await canvasSummary(page)), 0, 'back at the first image');

  // Dragging right and down widens the window and raises the level.
  const box = await page.locator('#image-canvas').boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + 120, box.y + box.height / 2 + 80, { steps: 4 });
  await page.mouse.up();
  await settle(page);
  const [, width, level] = /^W (\S+)\s+L (\S+)$/.exec(await text(page, 'wl-info')).map(Number);
  assert.ok(width > 400 && level > 40, 'window after the drag: ' + width + ' / ' + level);
  const dragged = await canvasSummary(page);
  assert.ok(gridDifference(first, dragged) > 10, 'window / level did not change the picture');
  await page.keyboard.press('ArrowDown');
  await waitForImage(page, 2);
  assert.match(await text(page, 'wl-info'), new RegExp('^W ' + width), 'the changed window stays while scrolling');
  await page.keyboard.press('Home');
  await page.locator('#reset-window').click();
  await waitForImage(page, 1);
  await settle(page);
  assert.equal(gridDifference(first, await canvasSummary(page)), 0, 'reset brings the file\'s window back');

  // The MR series has no window in its files, the CR is 8-bit MONOCHROME1.
  await page.locator('.series').nth(1).click();
  await waitForImage(page, 1);
  assert.match(await text(page, 'image-info'), /T2 axial head/);
  assert.ok((await canvasSummary(page)).levels >= 4);
  await page.locator('.series').nth(2).click();
  await waitForImage(page, 1);
  const cr = await canvasSummary(page);
  assert.ok(cr.levels >= 4 && cr.mean > 20, 'CR: ' + JSON.stringify({ levels: cr.levels, mean: cr.mean }));

  // The launcher has not answered yet: the page keeps asking, and says the copy runs.
  // It counts its attempts; on a busy machine it may be past the third before we look.
  await page.waitForFunction(() => Number((/\((\d+)\)/.exec(document.getElementById('launch-id').textContent) || [])[1]) >= 3);
  assert.ok(fake.state.idRequests >= 3);
  assert.equal(await text(page, 'copy-status'), 'copying from the disc…');
  fake.setCopyStatus('1');
  fake.setReady(true);
  await page.waitForSelector('#launch-id[data-state="ready"]');
  assert.equal(await text(page, 'launch-id'), LAUNCH_ID);
  await page.waitForSelector('#copy-status[data-state="complete"]');
  assert.equal(await text(page, 'copy-status'), 'complete');
  assert.deepEqual(fake.state.exitRequests, []);
  assert.deepEqual(errors, []);
  assert.ok(!fake.state.requests.some((r) => !r.startsWith('GET ')), 'only GET requests while viewing');
});

test('exit: refused before the copy ends, then accepted, and the page says the launcher has gone', async (t) => {
  const { fake, page, errors } = await launch(t, 'exit');
  await page.waitForSelector('#study-list[data-state="ready"]');

  await page.locator('#exit-button').click();
  await page.waitForFunction(() => /did not accept/.test(document.getElementById('message').textContent));
  assert.deepEqual(fake.state.exitRequests, [{ method: 'POST', query: 'uniqueId=' + LAUNCH_ID }]);
  assert.equal(await page.locator('#closing').isVisible(), false);
  assert.ok(await page.locator('#exit-button').isEnabled());

  fake.setReady(true);
  await page.waitForSelector('#launch-id[data-state="ready"]');
  await page.locator('#exit-button').click();
  await page.waitForSelector('#closing', { state: 'visible' });
  assert.equal(await text(page, 'closing-title'), 'Lumidra is closing');
  assert.equal(fake.state.exitRequests.length, 2);
  assert.ok(fake.state.exitRequests.every((r) => r.method === 'POST'));
  await page.waitForSelector('body[data-phase="closed"]', { timeout: 15000 });
  assert.equal(await text(page, 'closing-title'), 'Lumidra has closed');
  assert.deepEqual(errors, []);
});

test('a copy that ends with "0" is shown as incomplete', async (t) => {
  const { fake, page } = await launch(t, 'incomplete');
  await page.waitForSelector('#copy-status[data-state="copying"]');
  fake.setReady(true);
  await page.waitForSelector('#copy-status[data-state="incomplete"]');
  assert.match(await text(page, 'copy-status'), /incomplete/);
});

test('a damaged image is reported and the others still show', async (t) => {
  const { page, errors, data } = await launch(t, 'damaged');
  const second = path.join(data, 'DICOM', 'PA000001', 'ST000001', 'SE000001', 'IM000002');
  fs.writeFileSync(second, fs.readFileSync(second).subarray(0, 2000));
  await waitForImage(page, 1);
  await page.keyboard.press('ArrowDown');
  await page.waitForFunction(() => /Image 2 could not be shown/.test(document.getElementById('message').textContent));
  assert.equal(await page.locator('#image-canvas').getAttribute('data-image'), null, 'nothing is drawn for it');
  await page.keyboard.press('ArrowDown');
  await waitForImage(page, 3);
  assert.equal(await text(page, 'message'), '', 'the error goes once a good image shows');
  assert.deepEqual(errors, []);
});

test('a missing study index is reported, not waited for forever', async (t) => {
  const { page, data } = await launch(t, 'noindex');
  await page.waitForSelector('#study-list[data-state="ready"]');
  // The index is in the workspace and on the disc; take both away and load again.
  fs.rmSync(path.join(data, 'DICOMDIR'));
  fs.renameSync(path.join(disc, 'DATA', 'DICOMDIR'), path.join(work, 'DICOMDIR.away'));
  t.after(() => fs.renameSync(path.join(work, 'DICOMDIR.away'), path.join(disc, 'DATA', 'DICOMDIR')));
  await page.reload();
  await page.waitForSelector('#study-list[data-state="error"]', { timeout: 20000 });
  assert.match(await text(page, 'message'), /study index \(\/DICOMDIR on localhost:\d+\) could not be read: HTTP 404/);
});
