// INDEX.HTM opened from file:// in Chromium as a person would: the disc's folder given to the
// page's folder picker (or dropped onto it), every request the page and its workers make noted.
'use strict';

const assert = require('node:assert/strict');
const { openBrowser, text } = require('./browser.js');

// The folder given to the page's picker, as a person choosing it would.
async function choose(page, disc) {
  await page.setInputFiles('#folder-input', disc);
}

// The folder dragged from the desktop and dropped onto the page.
async function drop(page, disc) {
  const cdp = await page.context().newCDPSession(page);
  const data = { items: [], files: [disc], dragOperationsMask: 1 };
  for (const type of ['dragEnter', 'dragOver', 'drop']) await cdp.send('Input.dispatchDragEvent', { type, x: 600, y: 400, data });
}

// The browser at file://…/INDEX.HTM with the disc's folder given to it; every whole file the page
// reads through the File API is counted.
async function openFromDisc(t, disc, give = choose) {
  const browser = await openBrowser();
  t.after(() => browser.close());
  const requests = [];
  browser.context.on('request', (request) => requests.push(request.url()));
  await browser.context.addInitScript(() => {
    const arrayBuffer = Blob.prototype.arrayBuffer;
    self.lumidraFileReads = 0;
    Blob.prototype.arrayBuffer = function () {
      if (this instanceof File) self.lumidraFileReads++;
      return arrayBuffer.call(this);
    };
  });
  const page = browser.page;
  await page.goto('file://' + disc + '/INDEX.HTM');
  await page.waitForSelector('#folder-open:not([hidden])');
  assert.equal(await text(page, 'folder-button'), 'Choose the disc\'s folder');
  await give(page, disc);
  await page.waitForSelector('#study-list[data-state="ready"]', { timeout: 30000 });
  assert.equal(await page.locator('#folder-open').isHidden(), true);
  return { page, requests, errors: browser.errors };
}

// The requests for anything but the disc's page, its VIEWER/ folder, the libraries it loads on
// demand (DATA/LIB/) and the blobs it starts from.
function onlyPageFiles(requests, disc) {
  const page = 'file://' + disc + '/';
  const ours = (url) => url === page + 'INDEX.HTM' || url.startsWith(page + 'VIEWER/') || url.startsWith(page + 'DATA/LIB/');
  return requests.filter((url) => !(ours(url) || url.startsWith('blob:')));
}

module.exports = { choose, drop, openFromDisc, onlyPageFiles };
