// How the pixels are drawn: smooth when the image is magnified, nearest neighbour at 1:1 (each
// image pixel one screen pixel) and, on request, at every zoom; on the page's own canvas and in
// the compare workspace's viewports alike.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir } = require('./support/disc.js');
const { startFakeLauncher } = require('./support/fake_launcher.js');
const { openBrowser, waitForImage, settle } = require('./support/browser.js');
const { makeUiWorkspace } = require('./support/ui_study.js');

const LAUNCH_ID = 'LUMIDRA_9e1a5b0c0123';
const work = tempDir('lumidra-interpolation-');
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

async function launch(t) {
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const data = makeUiWorkspace(path.join(work, 'ws-' + port), port);
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
  return { page, errors: browser.errors };
}

// Of the vertically neighbouring pixels on the image (not both black), the share that are equal:
// near 1 where each image pixel is a block of screen pixels, low where interpolation grades
// between rows (the pattern series steps by 29 grey levels a row).
function blockiness(canvas) {
  return canvas.evaluate((c) => {
    const { data } = c.getContext('2d').getImageData(0, 0, c.width, c.height);
    let pairs = 0;
    let equal = 0;
    for (let y = 1; y < c.height; y++) {
      for (let x = 0; x < c.width; x++) {
        const a = data[((y - 1) * c.width + x) * 4];
        const b = data[(y * c.width + x) * 4];
        if (a === 0 && b === 0) continue;
        pairs++;
        if (a === b) equal++;
      }
    }
    return equal / pairs;
  });
}

test('the page\'s canvas: smooth when magnified, every image pixel as it is at 1:1, nearest neighbour on request', async (t) => {
  const { page, errors } = await launch(t);
  const canvas = page.locator('#image-canvas');
  // Fitted, the 32 x 24 pattern is magnified many times.
  assert.equal(await canvas.getAttribute('data-interpolation'), 'linear');
  const smooth = await blockiness(canvas);
  await page.keyboard.press('1');
  await page.waitForSelector('#image-canvas[data-interpolation="nearest"]');
  await settle(page);
  // Centred on whole pixels: each screen pixel is the image pixel (7x + 29y) mod 256.
  const wrong = await canvas.evaluate((c) => {
    const { data } = c.getContext('2d').getImageData(0, 0, c.width, c.height);
    const left = Math.round((c.width - 32) / 2);
    const top = Math.round((c.height - 24) / 2);
    let count = 0;
    for (let y = 0; y < 24; y++) {
      for (let x = 0; x < 32; x++) if (data[((top + y) * c.width + left + x) * 4] !== (7 * x + 29 * y) % 256) count++;
    }
    return count;
  });
  assert.equal(wrong, 0);
  await page.keyboard.press('f');
  await page.waitForSelector('#image-canvas[data-interpolation="linear"]');
  await page.locator('#smooth-button').click();
  assert.equal(await page.locator('#smooth-button').getAttribute('aria-pressed'), 'false');
  await page.waitForSelector('#image-canvas[data-interpolation="nearest"]');
  await settle(page);
  const sharp = await blockiness(canvas);
  assert.ok(sharp > 0.9 && smooth < 0.5, JSON.stringify({ smooth, sharp }));
  assert.deepEqual(errors, []);
});

test('the compare workspace: smooth when magnified, nearest neighbour at 1:1 and on request', { timeout: 180000 }, async (t) => {
  const { page, errors } = await launch(t);
  await page.locator('.layout[data-layout="1x1"]').click();
  const cell = page.locator('.grid-cell[data-cell="0"]');
  await page.waitForSelector('.grid-cell[data-cell="0"][data-image][data-interpolation="linear"]', { timeout: 60000 });
  await settle(page);
  const smooth = await blockiness(cell.locator('canvas'));
  await page.locator('#zoom-actual').click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-interpolation="nearest"]');
  await page.locator('#zoom-fit').click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-interpolation="linear"]');
  await page.locator('#smooth-button').click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-interpolation="nearest"]');
  await settle(page);
  const sharp = await blockiness(cell.locator('canvas'));
  assert.ok(sharp > 0.9 && smooth < 0.5, JSON.stringify({ smooth, sharp }));
  assert.deepEqual(errors, []);
});
