// The viewer in Firefox (Debian's firefox-esr, driven by puppeteer-core over WebDriver BiDi): the
// page the real launcher serves shows the study's first image, and INDEX.HTM opened from file://
// reads the files given to its picker, decodes in its blob workers and opens a PDF report there.
// Firefox's BiDi cannot give a folder to a folder picker, so INDEX.HTM is given the files of an
// export without DICOMDIR, which it finds by content whatever their folder.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const { tempDir, buildDisc, makeStudyDisc } = require('../browser/support/disc.js');
const { missing, startLauncher } = require('../browser/support/launcher.js');

const FIREFOX = process.env.LUMIDRA_FIREFOX || '/usr/bin/firefox-esr';
const work = tempDir('lumidra-firefox-');
const sampleDisc = path.join(work, 'sample-disc');
const reportDisc = path.join(work, 'report-disc');
const study = path.join(work, 'study');
if (!missing) buildDisc(sampleDisc);
const expected = JSON.parse(execFileSync('/usr/bin/python3', [path.join(__dirname, '..', 'browser', 'support', 'make_report_study.py'), study],
  { encoding: 'utf-8' }));
makeStudyDisc(path.join(study, 'DICOM'), reportDisc);

let browser;
test.before(async () => {
  browser = await puppeteer.launch({ browser: 'firefox', executablePath: FIREFOX, headless: true });
});
test.after(async () => {
  if (browser) await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
});

// A fresh page whose errors and requests are noted.
async function openPage(t) {
  const page = await browser.newPage();
  t.after(() => page.close());
  const errors = [];
  const requests = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('request', (request) => requests.push(request.url()));
  return { page, errors, requests };
}

function waitFor(page, selector) {
  return page.waitForSelector(selector, { timeout: 30000 });
}

// How many colours the image canvas shows.
function canvasLevels(page) {
  return page.$eval('#image-canvas', (canvas) => {
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    const levels = new Set();
    for (let i = 0; i < data.length; i += 4) levels.add(data[i] * 65536 + data[i + 1] * 256 + data[i + 2]);
    return levels.size;
  });
}

test('Firefox shows the first image of the study the launcher serves', { skip: missing, timeout: 120000 }, async (t) => {
  const { child, exited, url } = await startLauncher(t, sampleDisc, work, 'firefox');
  const { page, errors } = await openPage(t);
  await page.goto(url);
  await waitFor(page, '#study-list[data-state="ready"]');
  assert.match(await page.$eval('#study-list', (e) => e.textContent), /Nováková, Jana/);
  await waitFor(page, '#image-canvas[data-series="1"][data-image="1"]');
  assert.equal(await page.$eval('#image-status', (e) => e.hidden), true);
  const levels = await canvasLevels(page);
  assert.ok(levels > 20, 'the first CT image shows ' + levels + ' grey levels');
  assert.deepEqual(errors, []);
  child.kill('SIGTERM');
  assert.deepEqual(await exited, { code: 0, signal: null });
});

test('Firefox opens INDEX.HTM from file://, its images and its PDF report', { timeout: 120000 }, async (t) => {
  const { page, errors, requests } = await openPage(t);
  await page.goto('file://' + reportDisc + '/INDEX.HTM');
  await waitFor(page, '#folder-open:not([hidden])');
  const files = fs.readdirSync(path.join(study, 'DICOM')).map((name) => path.join(study, 'DICOM', name));
  await (await page.$('#folder-input')).uploadFile(...files);
  await waitFor(page, '#study-list[data-state="ready"]');
  await waitFor(page, '#image-canvas[data-series="1"][data-image="1"]');
  assert.equal(await page.$eval('#image-status', (e) => e.hidden), true);
  assert.ok(await canvasLevels(page) > 1, 'the first image shows one flat colour');

  await page.click('.document[data-kind="pdf"]');
  await waitFor(page, '#document-view[data-state="ready"], #document-view[data-state="error"]');
  assert.equal(await page.$eval('#document-view', (e) => e.dataset.state), 'ready',
    await page.$eval('#document-view', (e) => e.textContent));
  await waitFor(page, '.textLayer span');
  const pdfText = (await page.$eval('.pdf-pages .textLayer', (e) => e.textContent)).replace(/\s+/g, ' ');
  for (const line of expected.pdf.text) assert.ok(pdfText.includes(line), pdfText);

  assert.deepEqual(requests.filter((u) => !/^(file|blob|data):/.test(u)), []);
  assert.deepEqual(errors, []);
});
