// Reports on a disc opened from file:// through INDEX.HTM, with the disc's DICOMDIR and with the
// files found by content: the PDF drawn by pdf.js with its text selectable, the structured report
// and the key images, each as pydicom reads them, and nothing requested but the page's own files.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir, makeStudyDisc } = require('./support/disc.js');
const { text, waitForImage } = require('./support/browser.js');
const { openFromDisc, onlyPageFiles } = require('./support/index_page.js');
const { expectedLines } = require('./support/report_lines.js');

const work = tempDir('lumidra-index-reports-');
test.after(() => fs.rmSync(work, { recursive: true, force: true }));
const study = path.join(work, 'study');
const expected = JSON.parse(execFileSync('/usr/bin/python3', [path.join(__dirname, 'support', 'make_report_study.py'), study],
  { encoding: 'utf-8' }));
const disc = path.join(work, 'disc');
const noIndexDisc = path.join(work, 'no-dicomdir-disc');
makeStudyDisc(path.join(study, 'DICOM'), disc);
fs.cpSync(disc, noIndexDisc, { recursive: true });
fs.rmSync(path.join(noIndexDisc, 'DICOMDIR'));
fs.rmSync(path.join(noIndexDisc, 'DATA', 'DICOMDIR'));

// Chooses a document in the list and waits until it is shown or has failed with its reason.
async function showDocument(page, kind) {
  await page.locator('.document[data-kind="' + kind + '"]').click();
  await page.waitForSelector('#document-view[data-state="ready"], #document-view[data-state="error"]', { timeout: 30000 });
  assert.equal(await page.locator('#document-view').getAttribute('data-state'), 'ready', await text(page, 'document-view'));
}

async function readReports(t, folder) {
  const { page, requests, errors } = await openFromDisc(t, folder);
  await waitForImage(page, 1);
  assert.deepEqual(await page.locator('.document').evaluateAll((els) => els.map((e) => e.dataset.kind)), ['pdf', 'sr', 'keyImages']);
  // The PDF's author comes from the PDF itself, read by pdf.js.
  await page.waitForFunction(() => /Dvorak/.test(document.querySelector('.document[data-kind="pdf"]').textContent));
  assert.match(await page.locator('.document[data-kind="pdf"]').textContent(), new RegExp(expected.pdf.title));
  assert.match(await page.locator('.document[data-kind="sr"]').textContent(), new RegExp(expected.sr.title));

  await showDocument(page, 'pdf');
  assert.equal(await page.locator('.pdf-pages .page').count(), expected.pdf.pages);
  await page.waitForFunction(() => document.querySelector('.textLayer span'));
  const pdfText = (await page.locator('.pdf-pages .textLayer').innerText()).replace(/\s+/g, ' ');
  for (const line of expected.pdf.text) assert.ok(pdfText.includes(line), pdfText);
  const selected = await page.evaluate(() => {
    const range = document.createRange();
    range.selectNodeContents(document.querySelector('.textLayer'));
    getSelection().removeAllRanges();
    getSelection().addRange(range);
    return getSelection().toString();
  });
  assert.ok(selected.includes('liver lesion'), 'the text can be selected: ' + selected);
  // The page was drawn, not left blank: its canvas holds dark text on white.
  const inked = await page.evaluate(() => {
    const canvas = document.querySelector('.pdf-pages canvas');
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    let dark = 0;
    for (let i = 0; i < data.length; i += 4) if (data[i + 3] > 0 && data[i] < 100) dark++;
    return dark;
  });
  assert.ok(inked > 500, inked + ' dark pixels on the PDF page');

  await showDocument(page, 'sr');
  const report = await page.locator('#document-view').innerText();
  for (const line of expectedLines(expected.sr.content)) assert.ok(report.includes(line), 'the report lacks "' + line + '":\n' + report);
  await page.locator('.report-image').click();
  await waitForImage(page, 3);
  assert.match(await text(page, 'image-info'), /Image 3 \/ 4/);

  await page.locator('.document[data-kind="keyImages"]').click();
  await waitForImage(page, 1);
  assert.match(await text(page, 'image-info'), new RegExp('Key images · ' + expected.ko.title + '[\\s\\S]*Image 1 / 2'));
  await page.locator('.series').first().click();
  const marked = [];
  for (let n = 1; n <= 4; n++) {
    await waitForImage(page, n);
    marked.push(await page.locator('#image-canvas').getAttribute('data-key-image') === 'true');
    await page.keyboard.press('ArrowDown');
  }
  assert.deepEqual(marked, expected.ct.map((uid) => expected.ko.images.includes(uid)));

  assert.deepEqual(onlyPageFiles(requests, folder), []);
  assert.deepEqual(errors, []);
}

test('INDEX.HTM shows the PDF, the structured report and the key images through the DICOMDIR', { timeout: 120000 },
  (t) => readReports(t, disc));

test('INDEX.HTM lists and shows the same reports in a folder without DICOMDIR', { timeout: 120000 },
  (t) => readReports(t, noIndexDisc));
