// The viewer on the sample disc as a user moves through it: the overlay, keys for images and
// series, window presets, thumbnails, the keyboard help, and images that cannot be shown.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir, buildDisc, stageWorkspace } = require('./support/disc.js');
const { startFakeLauncher } = require('./support/fake_launcher.js');
const { openBrowser, canvasSummary, gridDifference, text, waitForImage, settle, press, waitForText } = require('./support/browser.js');

const work = tempDir('lumidra-navigation-');
const disc = path.join(work, 'disc');
buildDisc(disc);
test.after(() => fs.rmSync(work, { recursive: true, force: true }));
const CT_FOLDER = ['DICOM', 'PA000001', 'ST000001', 'SE000001'];

// prepare(data) may change the workspace before the page opens.
async function launch(t, name, prepare) {
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const data = stageWorkspace(disc, path.join(work, name), port);
  const fake = await startFakeLauncher({ workspaceData: data, discData: path.join(disc, 'DATA'), launchId: 'LUMIDRA_nav', port });
  if (prepare) prepare(data);
  const browser = await openBrowser();
  t.after(async () => {
    await browser.close();
    await fake.close();
  });
  await browser.page.goto('http://localhost:' + port + '/7z/index.html');
  await waitForImage(browser.page, 1);
  return { page: browser.page, errors: browser.errors, data };
}

test('the overlay names patient, study, series, image, window and zoom; keys move through images and series', async (t) => {
  const { page, errors } = await launch(t, 'overlay');
  assert.equal(await text(page, 'overlay-patient'),
    'Nováková, Jana\nID LUM0001 · born 1967-04-12\n2024-03-15 · CT CHEST + MR HEAD + CR (SAMPLE)');
  assert.equal(await text(page, 'image-info'), 'Series 1 · Chest 2.5 mm · CT\nImage 1 / 48');
  assert.equal(await text(page, 'wl-info'), 'W 400  L 40');
  assert.match(await text(page, 'view-info'), /^Zoom \d+% \(fit\)$/);

  await press(page, 'PageDown');
  await waitForImage(page, 11);
  assert.match(await text(page, 'image-info'), /Image 11 \/ 48$/);
  await press(page, 'PageUp', 'PageUp');
  await waitForImage(page, 1);
  await press(page, 'End');
  await waitForImage(page, 48);
  assert.match(await text(page, 'image-info'), /Image 48 \/ 48$/);

  await press(page, ']');
  await waitForText(page, 'image-info', /^Series 2 · T2 axial head · MR\nImage 1 \/ 6$/);
  await waitForImage(page, 1);
  assert.equal(await page.locator('.series').nth(1).getAttribute('aria-pressed'), 'true');
  assert.equal(await page.locator('.series').nth(0).getAttribute('aria-pressed'), 'false');
  assert.notEqual(await text(page, 'wl-info'), 'W 400  L 40', 'the MR has its own window');
  assert.match(await text(page, 'overlay-patient'), /^Nováková, Jana/);
  await press(page, ']');
  await waitForText(page, 'image-info', /^Series 3 · Chest PA · CR/);
  await press(page, ']');
  await settle(page);
  assert.match(await text(page, 'image-info'), /^Series 3 · Chest PA · CR/, 'no series after the last');
  await press(page, '[', '[');
  await waitForText(page, 'image-info', /^Series 1 · Chest 2.5 mm · CT\nImage 1 \/ 48$/);
  await press(page, '[');
  assert.match(await text(page, 'image-info'), /^Series 1 /, 'no series before the first');
  assert.deepEqual(errors, []);
});

test('window presets: the file\'s window and the CT presets set the window shown; V steps through them', async (t) => {
  const { page } = await launch(t, 'presets');
  const labels = (await page.locator('#preset-select option').allTextContents()).slice(1);
  assert.deepEqual(labels.map((l) => l.replace(/ \(.*/, '')), ['File', 'Brain', 'Soft tissue', 'Lung', 'Bone']);
  assert.equal(labels[0], 'File (W 400 L 40)');
  assert.equal(await page.locator('#preset-select').inputValue(), '0', 'the menu names the window on screen');
  const before = await canvasSummary(page);

  const lung = labels.find((l) => l.startsWith('Lung'));
  const [, width, level] = /W (\S+) L (\S+)\)/.exec(lung);
  await page.locator('#preset-select').selectOption({ label: lung });
  await settle(page);
  assert.equal(await text(page, 'wl-info'), 'W ' + width + '  L ' + level);
  assert.match(await text(page, 'view-info'), /· Lung$/);
  assert.ok(gridDifference(before, await canvasSummary(page)) > 10, 'the lung window changes the picture');

  await page.locator('#viewport').focus();
  await press(page, 'v');
  const bone = /W (\S+) L (\S+)\)/.exec(labels.find((l) => l.startsWith('Bone')));
  assert.equal(await text(page, 'wl-info'), 'W ' + bone[1] + '  L ' + bone[2]);
  assert.match(await text(page, 'view-info'), /· Bone$/);
  await press(page, 'ArrowDown');
  await waitForImage(page, 2);
  assert.equal(await text(page, 'wl-info'), 'W ' + bone[1] + '  L ' + bone[2], 'the preset stays while scrolling');

  // A drag makes a window of the user's own: no preset is named any more.
  const box = await page.locator('#image-canvas').boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + 60, box.y + box.height / 2, { steps: 3 });
  await page.mouse.up();
  await settle(page);
  assert.doesNotMatch(await text(page, 'view-info'), /Bone/);
  assert.equal(await page.locator('#preset-select').inputValue(), '');
  await press(page, 'r');
  assert.equal(await text(page, 'wl-info'), 'W 400  L 40');

  // The MR has no window in its files and is no CT: nothing to choose. The CR offers its own.
  await press(page, ']');
  await waitForText(page, 'image-info', /^Series 2 /);
  await waitForImage(page, 1);
  assert.ok(await page.locator('#preset-select').isDisabled());
  await press(page, ']');
  await waitForText(page, 'image-info', /^Series 3 /);
  await waitForImage(page, 1);
  assert.deepEqual((await page.locator('#preset-select option').allTextContents()).slice(1), ['File (W 256 L 128)']);
});

test('every series shows a thumbnail of its own pictures', async (t) => {
  const { page } = await launch(t, 'thumbnails');
  await page.waitForFunction(() => document.querySelectorAll('.series canvas.thumbnail[data-state="drawn"]').length === 3);
  const thumbnails = await page.evaluate(() => Array.from(document.querySelectorAll('.series canvas.thumbnail')).map((c) => {
    const { data } = c.getContext('2d').getImageData(0, 0, c.width, c.height);
    const levels = new Set();
    const grid = [];
    for (let i = 0; i < data.length; i += 4) levels.add(data[i]);
    for (let y = 4; y < c.height; y += 8) for (let x = 4; x < c.width; x += 8) grid.push(data[(y * c.width + x) * 4]);
    return { levels: levels.size, grid };
  }));
  for (const [i, thumbnail] of thumbnails.entries()) {
    assert.ok(thumbnail.levels >= 4, 'thumbnail ' + (i + 1) + ' shows ' + thumbnail.levels + ' grey levels');
  }
  const differing = (a, b) => a.grid.filter((v, i) => Math.abs(v - b.grid[i]) > 8).length;
  assert.ok(differing(thumbnails[0], thumbnails[1]) > 8 && differing(thumbnails[0], thumbnails[2]) > 8 &&
    differing(thumbnails[1], thumbnails[2]) > 8, 'each thumbnail shows its own series');
});

// A decoder slower than the user's keys: every step replaces the frames read ahead, and the
// thumbnails waiting behind the image on screen must still be drawn.
test('thumbnails are drawn while the user steps through images faster than they decode', async (t) => {
  const { page } = await launch(t, 'slow-decoder', (data) => {
    const js = path.join(data, '7z', 'js');
    fs.renameSync(path.join(js, 'decode-worker.js'), path.join(js, 'decode-worker-real.js'));
    fs.writeFileSync(path.join(js, 'decode-worker.js'), "import './decode-worker-real.js';\n" +
      'const reply = self.postMessage.bind(self);\n' +
      'self.postMessage = (message, transfer) => setTimeout(() => reply(message, transfer), 300);\n');
  });
  const thumbnailsWaiting = () => page.evaluate(() => Boolean(document.querySelector('.series canvas.thumbnail[data-state="waiting"]')));
  for (let step = 0; step < 40 && await thumbnailsWaiting(); step++) {
    await page.keyboard.press('ArrowDown');
    await page.waitForTimeout(100);
  }
  await page.waitForFunction(() => !document.querySelector('.series canvas.thumbnail[data-state="waiting"]'), null, { timeout: 30000 });
  const states = await page.locator('.series canvas.thumbnail').evaluateAll((all) => all.map((c) => c.dataset.state + ' ' + (c.title || '')));
  assert.deepEqual(states, ['drawn ', 'drawn ', 'drawn ']);
});

test('the keyboard help lists every key, opens from its button and ?, and closes with Esc', async (t) => {
  const { page } = await launch(t, 'help');
  assert.equal(await page.locator('#help').isVisible(), false);
  await page.locator('#help-button').click();
  assert.ok(await page.locator('#help').isVisible());
  const keys = await page.locator('#help-keys kbd').allTextContents();
  assert.deepEqual(keys, ['↑ / ←', '↓ / →', 'Page Up', 'Page Down', 'Home', 'End', '[', ']', ',', '.', 'Space',
    '+', '−', 'F', '1', 'I', 'V', 'R', 'W', 'P', 'Z', 'M', 'Esc / Del', '?']);
  const rows = await page.locator('#help-keys tr').allTextContents();
  assert.ok(rows.every((r) => r.length > 3), 'every key says what it does');
  assert.match(rows.join('\n'), /Next series[^]*Play \/ stop[^]*Invert[^]*measure a distance/);
  assert.match(await text(page, 'help-mouse'), /Ctrl \+ wheel.*Zoom/);

  // While the help is open, the keys do not move the image behind it, nor does Tab leave it.
  await press(page, 'Tab', 'Tab', 'Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'help-close');
  await press(page, 'ArrowDown');
  assert.equal(await page.locator('#image-canvas').getAttribute('data-image'), '1');
  await press(page, 'Escape');
  assert.equal(await page.locator('#help').isVisible(), false);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'viewport', 'the focus goes back to the image');
  await press(page, '?');
  assert.ok(await page.locator('#help').isVisible());
  await press(page, '?');
  assert.equal(await page.locator('#help').isVisible(), false);
});

test('an image that cannot be shown is named, with the reason, where the image would be', async (t) => {
  const { page, errors } = await launch(t, 'broken', (data) => {
    const second = path.join(data, ...CT_FOLDER, 'IM000002');
    fs.writeFileSync(second, fs.readFileSync(second).subarray(0, 2000));
    fs.rmSync(path.join(data, ...CT_FOLDER, 'IM000004'));
    fs.rmSync(path.join(disc, 'DATA', ...CT_FOLDER, 'IM000004'));
  });

  await press(page, 'v');
  const chosen = await text(page, 'wl-info');
  assert.notEqual(chosen, 'W 400  L 40');
  await press(page, 'ArrowDown');
  await page.waitForSelector('#image-status.error', { state: 'visible' });
  const damaged = await text(page, 'image-status');
  assert.match(damaged, /^Image 2 could not be shown \(series 1 · Chest 2\.5 mm, file DICOM\/PA000001\/ST000001\/SE000001\/IM000002\): \S+/);
  assert.equal(await text(page, 'message'), damaged);
  assert.equal(await page.locator('#image-canvas').getAttribute('data-image'), null, 'nothing is drawn for it');
  assert.equal((await canvasSummary(page)).levels, 1, 'no image left from before');

  await press(page, 'ArrowDown');
  await waitForImage(page, 3);
  assert.equal(await page.locator('#image-status').isVisible(), false, 'the message goes with the next good image');
  assert.equal(await text(page, 'wl-info'), chosen, 'the chosen window outlasts the image that failed');
  await press(page, 'ArrowDown');
  await page.waitForSelector('#image-status.error', { state: 'visible' });
  assert.match(await text(page, 'image-status'), /^Image 4 could not be shown \(series 1 · Chest 2\.5 mm, file DICOM\/PA000001\/ST000001\/SE000001\/IM000004\): HTTP 404/);
  assert.deepEqual(errors, []);
});
