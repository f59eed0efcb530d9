// The whole page in the browser's language: Czech when the first language the browser prefers is
// Czech, English otherwise, as the launcher follows the system's.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir } = require('./support/disc.js');
const { startFakeLauncher } = require('./support/fake_launcher.js');
const { openBrowser, text, waitForImage } = require('./support/browser.js');
const { makeUiWorkspace } = require('./support/ui_study.js');

const LAUNCH_ID = 'LUMIDRA_1a09ea9e0123';
const work = tempDir('lumidra-language-');
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

// languages: what navigator.languages says, first preferred first.
async function launch(t, name, locale, languages) {
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const data = makeUiWorkspace(path.join(work, name), port);
  const fake = await startFakeLauncher({ workspaceData: data, discData: data, launchId: LAUNCH_ID, port });
  const browser = await openBrowser({ locale });
  t.after(async () => {
    await browser.close();
    await fake.close();
  });
  const { page } = browser;
  if (languages) {
    await page.addInitScript((list) => Object.defineProperty(Navigator.prototype, 'languages', { get: () => list }), languages);
  }
  await page.goto('http://localhost:' + port + '/7z/index.html?uniqueId=' + LAUNCH_ID);
  await page.waitForSelector('#study-list[data-state="ready"]');
  await waitForImage(page, 1);
  return { fake, page, errors: browser.errors };
}

// What a person sees of the page's frame: the top bar, the toolbar and the controls.
const frameText = (page) => page.evaluate(() => ['top-bar', 'toolbar', 'controls', 'study-panel']
  .map((id) => document.getElementById(id).innerText).join('\n'));

test('a browser that prefers Czech gets the whole page in Czech', async (t) => {
  const { fake, page, errors } = await launch(t, 'cs', 'cs-CZ');
  assert.equal(await page.evaluate(() => document.documentElement.lang), 'cs');
  assert.equal(await text(page, 'app-title'), 'Prohlížeč Lumidra');
  assert.equal(await text(page, 'exit-button'), 'Ukončit Lumidru');
  assert.deepEqual(await page.locator('#toolbar .tool-group:first-child button').allTextContents(), ['Okno', 'Posun', 'Zvětšení', 'Měřit']);
  assert.equal(await page.locator('#zoom-fit').getAttribute('title'), 'Přizpůsobit snímek oknu (F)');
  assert.equal(await text(page, 'help-button'), 'Klávesy ?');
  assert.equal(await page.locator('label[for="slice-slider"]').textContent(), 'Snímek');
  // The study list, the overlay and the launcher's state.
  for (const count of await page.locator('.series-count').allTextContents()) {
    const n = parseInt(count, 10);
    assert.equal(count, n + (n === 1 ? ' snímek' : n <= 4 ? ' snímky' : ' snímků'));
  }
  assert.match(await text(page, 'image-info'), /^Série 1 .*\nSnímek 1 \/ \d+$/s);
  assert.match(await text(page, 'view-info'), /^Zvětšení \d+ % \(přizpůsobeno\)$/);
  await page.waitForFunction(() => /^čekám na spouštěč… \(2\)$/.test(document.getElementById('launch-id').textContent));
  assert.equal(await text(page, 'copy-status'), 'kopíruje se z disku…');
  fake.setCopyStatus('1');
  fake.setReady(true);
  await page.waitForSelector('#copy-status[data-state="complete"]');
  assert.equal(await text(page, 'copy-status'), 'úplná');
  const shown = await frameText(page);
  assert.doesNotMatch(shown, /\b(Window|Pan|Zoom|Measure|Fit|Invert|Reset|Keys|Image|Study|Exit|images?)\b/, shown);
  // The keyboard help, from the same key table as the keys themselves.
  await page.keyboard.press('?');
  await page.waitForSelector('#help:not([hidden])');
  assert.equal(await text(page, 'help-title'), 'Klávesnice a myš');
  const keys = await page.locator('#help-keys tr').allInnerTexts();
  assert.equal(keys[0].replace(/\s+/g, ' '), '↑ / ← Předchozí snímek');
  assert.ok(keys.some((row) => /^Mezerník\s+Přehrát \/ zastavit rámce/.test(row)), keys.join('\n'));
  assert.match((await page.locator('#help-mouse tr').first().innerText()).replace(/\s+/g, ' '), /^Kolečko Předchozí \/ další snímek$/);
  assert.deepEqual(errors, []);
});

test('Czech only as a later choice leaves the page in English', async (t) => {
  const { page, errors } = await launch(t, 'de', 'de-DE', ['de-DE', 'cs-CZ', 'en']);
  assert.equal(await page.evaluate(() => document.documentElement.lang), 'en');
  assert.deepEqual(await page.locator('#toolbar .tool-group:first-child button').allTextContents(), ['Window', 'Pan', 'Zoom', 'Measure']);
  assert.match(await text(page, 'image-info'), /^Series 1 .*\nImage 1 \/ \d+$/s);
  assert.match(await text(page, 'view-info'), /^Zoom \d+% \(fit\)$/);
  assert.deepEqual(errors, []);
});
