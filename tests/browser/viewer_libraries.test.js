// The libraries the page loads only on demand (cornerstone3D for the compare workspace, pdf.js's
// worker and data) sit once on a disc made by the disc builder, in DATA/LIB, outside viewer.7z:
// the page the launcher serves and INDEX.HTM opened from file:// both find them there.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { SOURCE_DIR, tempDir, makeStudyDisc, stageWorkspace } = require('./support/disc.js');
const { startFakeLauncher } = require('./support/fake_launcher.js');
const { openBrowser, waitForImage } = require('./support/browser.js');

const LAUNCH_ID = 'LUMIDRA_11b5a0de0123';
const ON_DEMAND = ['cornerstone.js', 'pdf.worker.js', 'pdfjs/cmaps', 'pdfjs/standard_fonts'];
const work = tempDir('lumidra-libraries-');
test.after(() => fs.rmSync(work, { recursive: true, force: true }));
const study = path.join(work, 'study');
const disc = path.join(work, 'disc');
execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'tests', 'browser', 'support', 'make_ct_study.py'), study], { stdio: 'pipe' });
makeStudyDisc(path.join(study, 'DICOM'), disc);

// The compare workspace opened with two viewports: cornerstone3D loaded and an image drawn.
async function openCompare(page) {
  await page.locator('.layout[data-layout="1x2"]').click();
  await page.waitForSelector('.grid-cell[data-cell="0"][data-image]', { timeout: 60000 });
  assert.equal(await page.evaluate(() => typeof window.LumidraCornerstone), 'object');
}

test('the disc carries the on-demand libraries once, in DATA/LIB, and viewer.7z does not', async (t) => {
  const workspace = tempDir('lumidra-libraries-ws-');
  t.after(() => fs.rmSync(workspace, { recursive: true, force: true }));
  const data = stageWorkspace(disc, workspace, 8000);
  assert.ok(fs.existsSync(path.join(data, '7z', 'js', 'images.js')));
  for (const name of ON_DEMAND) {
    assert.ok(fs.existsSync(path.join(disc, 'DATA', 'LIB', name)), name + ' is not in DATA/LIB');
    assert.ok(!fs.existsSync(path.join(data, '7z', 'js', name)), name + ' is still in viewer.7z');
    assert.ok(!fs.existsSync(path.join(disc, 'VIEWER', 'js', name)), name + ' is on the disc twice');
  }
  assert.ok(fs.statSync(path.join(disc, 'DATA', '7z', 'viewer.7z')).size < 1.5 * 1048576);
});

test('the page the launcher serves loads cornerstone3D and pdf.js\'s worker from the disc', { timeout: 180000 }, async (t) => {
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const workspace = tempDir('lumidra-libraries-ws-');
  const data = stageWorkspace(disc, workspace, port);
  const fake = await startFakeLauncher({ workspaceData: data, discData: path.join(disc, 'DATA'), launchId: LAUNCH_ID, port });
  fake.setReady(true);
  const browser = await openBrowser();
  t.after(async () => {
    await browser.close();
    await fake.close();
    fs.rmSync(workspace, { recursive: true, force: true });
  });
  const { page } = browser;
  const loaded = [];
  page.on('response', (response) => loaded.push(response.url() + ' ' + response.status()));
  await page.goto('http://localhost:' + port + '/7z/index.html?uniqueId=' + LAUNCH_ID);
  await page.waitForSelector('#study-list[data-state="ready"]');
  await waitForImage(page, 1);
  assert.ok(!loaded.some((line) => line.includes('cornerstone')), 'cornerstone3D was loaded before it was needed');
  await openCompare(page);
  assert.ok(loaded.includes('http://localhost:' + port + '/LIB/cornerstone.js 200'), loaded.join('\n'));
  const worker = await page.evaluate(async () => {
    const url = window.LumidraLibraries.url('pdf.worker.js');
    return { url, status: (await fetch(url)).status };
  });
  assert.deepEqual(worker, { url: 'http://localhost:' + port + '/LIB/pdf.worker.js', status: 200 });
  assert.deepEqual(browser.errors, []);
});

test('INDEX.HTM from file:// loads cornerstone3D from the disc\'s DATA/LIB', { timeout: 180000 }, async (t) => {
  const browser = await openBrowser();
  t.after(() => browser.close());
  const requests = [];
  browser.context.on('request', (request) => requests.push(request.url()));
  const { page } = browser;
  await page.goto('file://' + disc + '/INDEX.HTM');
  await page.waitForSelector('#folder-open:not([hidden])');
  await page.setInputFiles('#folder-input', disc);
  await page.waitForSelector('#study-list[data-state="ready"]', { timeout: 30000 });
  await waitForImage(page, 1);
  await openCompare(page);
  assert.ok(requests.includes('file://' + disc + '/DATA/LIB/cornerstone.js'), requests.join('\n'));
  assert.equal(await page.locator('#message.error').count(), 0, await page.locator('#message').textContent());
  assert.deepEqual(browser.errors, []);
});
