// Reports, key images and character sets on the page, against what pydicom reads from the same
// files: a PDF made by dcmtk's pdf2dcm, a structured report and a key object selection made with
// pydicom, and pydicom's own character set test files. Nothing is fetched from beyond localhost.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir } = require('./support/disc.js');
const { startFakeLauncher } = require('./support/fake_launcher.js');
const { openBrowser, text, waitForImage, settle } = require('./support/browser.js');
const { makeStudyWorkspace } = require('./support/study_workspace.js');
const { expectedLines } = require('./support/report_lines.js');
const Format = require('../../viewer/js/format.js');

const LAUNCH_ID = 'LUMIDRA_feed0123abcd';
const work = tempDir('lumidra-reports-');
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

async function launch(t, name, maker) {
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const { data, expected } = makeStudyWorkspace(path.join(work, name), port, maker);
  const fake = await startFakeLauncher({ workspaceData: data, discData: data, launchId: LAUNCH_ID, port });
  fake.setReady(true);
  const browser = await openBrowser();
  const outside = [];
  browser.page.on('request', (request) => {
    const url = new URL(request.url());
    if (!['blob:', 'data:'].includes(url.protocol) && !['localhost', '127.0.0.1'].includes(url.hostname)) outside.push(request.url());
  });
  t.after(async () => {
    await browser.close();
    await fake.close();
  });
  await browser.page.goto('http://localhost:' + port + '/7z/index.html?uniqueId=' + LAUNCH_ID);
  await browser.page.waitForSelector('#study-list[data-state="ready"]');
  return { page: browser.page, errors: browser.errors, expected, outside };
}

test('a PDF report, a structured report and key images, as pydicom reads them', async (t) => {
  const { page, errors, expected, outside } = await launch(t, 'reports', 'make_report_study.py');
  await waitForImage(page, 1);

  // The list names each document with its title, date and author.
  const entries = await page.locator('.document').evaluateAll((els) => els.map((e) => ({ kind: e.dataset.kind, text: e.textContent })));
  assert.deepEqual(entries.map((e) => e.kind), ['pdf', 'sr', 'keyImages']);
  await page.waitForFunction(() => /Dvorak/.test(document.querySelector('.document[data-kind="pdf"]').textContent));
  const pdfEntry = await page.locator('.document[data-kind="pdf"]').textContent();
  assert.match(pdfEntry, new RegExp(expected.pdf.title));
  assert.ok(pdfEntry.includes(Format.date(expected.pdf.date)), pdfEntry);
  assert.match(pdfEntry, /MUDr\. Petr Dvorak/);
  assert.match(entries[1].text, new RegExp(expected.sr.title));

  // The structured report reads as pydicom reads it, flags included.
  await page.locator('.document[data-kind="sr"]').click();
  await page.waitForSelector('#document-view[data-state="ready"]');
  const report = await page.locator('#document-view').innerText();
  assert.match(report, new RegExp('^' + expected.sr.title));
  for (const line of expectedLines(expected.sr.content)) assert.ok(report.includes(line), 'the report lacks "' + line + '":\n' + report);
  assert.ok(report.includes('Complete · Verified by ' + Format.personName(expected.sr.verifier)), report);
  assert.ok(!report.includes('\uFFFD'));

  // Its image reference opens the image it names: the third CT image.
  await page.locator('.report-image').click();
  await waitForImage(page, 3);
  assert.equal(await page.locator('#view-panel').getAttribute('data-view'), 'image');
  assert.match(await text(page, 'image-info'), /Image 3 \/ 4/);

  // Key images: their own entry steps through the two selected, each marked, and the mark goes
  // with them into their own series (images 2 and 4, not 1 and 3).
  await page.locator('.document[data-kind="keyImages"]').click();
  await waitForImage(page, 1);
  assert.match(await text(page, 'image-info'), new RegExp('Key images · ' + expected.ko.title + '[\\s\\S]*Image 1 / 2[\\s\\S]*Key image'));
  await page.keyboard.press('ArrowDown');
  await waitForImage(page, 2);
  assert.match(await text(page, 'image-info'), /Image 2 \/ 2[\s\S]*★ Key image/);
  await page.locator('.series').first().click();
  const marked = [];
  for (let n = 1; n <= 4; n++) {
    await waitForImage(page, n);
    marked.push(await page.locator('#image-canvas').getAttribute('data-key-image') === 'true');
    await page.keyboard.press('ArrowDown');
  }
  const ct = expected.ct.map((uid) => expected.ko.images.includes(uid));
  assert.deepEqual(marked, ct);
  assert.deepEqual(marked, [false, true, false, true]);

  // The PDF: its pages drawn, its text selectable, zoom, and the saved file the document itself.
  await page.locator('.document[data-kind="pdf"]').click();
  await page.waitForSelector('#document-view[data-state="ready"]');
  assert.equal(await page.locator('.pdf-pages .page').count(), expected.pdf.pages);
  await page.waitForFunction(() => document.querySelector('.textLayer span'));
  const pdfText = await page.locator('.pdf-pages .textLayer').innerText();
  for (const line of expected.pdf.text) assert.ok(pdfText.replace(/\s+/g, ' ').includes(line), pdfText);
  const selected = await page.evaluate(() => {
    const range = document.createRange();
    range.selectNodeContents(document.querySelector('.textLayer'));
    getSelection().removeAllRanges();
    getSelection().addRange(range);
    return getSelection().toString();
  });
  assert.ok(selected.includes('liver lesion'), 'the text can be selected: ' + selected);
  const width = (await page.locator('.pdf-pages .page').boundingBox()).width;
  await page.getByTitle('Zoom in').click();
  await page.waitForSelector('#document-view[data-state="ready"]');
  await settle(page);
  const wider = (await page.locator('.pdf-pages .page').boundingBox()).width;
  assert.ok(Math.abs(wider / width - 1.25) < 0.02, 'zoom in: ' + width + ' -> ' + wider);
  const save = page.locator('.save-button');
  assert.equal(await save.getAttribute('download'), 'CT_abdomen_report.pdf');
  const saved = await page.evaluate(async () => {
    const bytes = new Uint8Array(await (await fetch(document.querySelector('.save-button').href)).arrayBuffer());
    return { length: bytes.length, head: String.fromCharCode(...bytes.subarray(0, 5)), tail: String.fromCharCode(...bytes.subarray(-6)) };
  });
  assert.deepEqual(saved, { length: expected.pdf.length, head: '%PDF-', tail: '%%EOF\n' });

  assert.deepEqual(errors, []);
  assert.deepEqual(outside, []);
});

test('names in every character set read as pydicom reads them, in the list and over the image', async (t) => {
  const { page, errors, expected, outside } = await launch(t, 'charsets', 'make_charset_study.py');
  const names = await page.locator('.patient').evaluateAll((els) => els.map((p) => ({
    name: p.querySelector('.patient-name').textContent, details: p.querySelector('.patient-details').textContent,
  })));
  const byId = new Map(names.map((n) => [/ID (\S+)/.exec(n.details)[1], n.name]));
  assert.equal(byId.size, expected.length);
  for (const file of expected) {
    const shown = byId.get(file.id);
    const pn = file.name.map((group) => group.join('^')).join('=');
    assert.equal(shown, Format.personName(pn), file.file + ' (' + file.charset + ')');
    for (const part of file.name.flat().filter(Boolean)) assert.ok(shown.includes(part), file.file + ': ' + part + ' in ' + shown);
    assert.ok(!/[\uFFFD\x1b]/.test(shown), file.file + ': ' + JSON.stringify(shown));
  }
  // The spot checks a reader would make.
  assert.equal(byId.get(expected.find((f) => f.file === 'chrH32.dcm').id), 'ﾔﾏﾀﾞ, ﾀﾛｳ (山田 太郎, やまだ たろう)');
  assert.equal(byId.get(expected.find((f) => f.file === 'chrI2.dcm').id), 'Hong, Gildong (洪 吉洞, 홍 길동)');
  assert.equal(byId.get(expected.find((f) => f.file === 'chrGreek.dcm').id), 'Διονυσιος');

  // Over the image, the name comes from the file itself (ISO 2022 with half-width katakana).
  const index = names.findIndex((n) => n.details.includes(expected.find((f) => f.file === 'chrH32.dcm').id));
  await page.locator('.patient').nth(index).locator('.series').click();
  await waitForImage(page, 1);
  assert.equal((await text(page, 'overlay-patient')).split('\n')[0], 'ﾔﾏﾀﾞ, ﾀﾛｳ (山田 太郎, やまだ たろう)');
  assert.deepEqual(errors, []);
  assert.deepEqual(outside, []);
});
