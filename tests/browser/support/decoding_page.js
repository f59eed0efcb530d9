// The viewer's image module on a bare page in Chromium, served with the test's files by the
// stand-in launcher server, with every request that would leave localhost refused and recorded.
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { SOURCE_DIR } = require('./disc.js');
const { startFakeLauncher } = require('./fake_launcher.js');
const { openBrowser } = require('./browser.js');

const PROBE = '<!DOCTYPE html><meta charset="utf-8"><title>probe</title><script src="js/images.js"></script>';

// The page as `./run viewer` lays it out, built into folder.
function buildViewer(folder) {
  execFileSync('node', [path.join(SOURCE_DIR, 'viewer', 'build.mjs'), folder], { stdio: 'pipe' });
}

// Files from dataFolder and the built viewer, and a browser on the probe page.
async function openProbe(t, viewerFolder, dataFolder) {
  fs.writeFileSync(path.join(dataFolder, 'probe.html'), PROBE);
  const server = await startFakeLauncher({ workspaceData: dataFolder, discData: viewerFolder, launchId: 'probe' });
  const browser = await openBrowser();
  const outside = [];
  await browser.context.route('**/*', (route) => {
    const host = new URL(route.request().url()).hostname;
    if (host === 'localhost' || host === '127.0.0.1') return route.continue();
    outside.push(route.request().url());
    return route.abort();
  });
  t.after(async () => {
    await browser.close();
    await server.close();
  });
  await browser.page.goto('http://localhost:' + server.port + '/probe.html');
  return { page: browser.page, errors: browser.errors, server, outside };
}

// Opens url on the page and decodes the given frames; the frames come back as plain arrays.
function decodeOnPage(page, url, frames) {
  return page.evaluate(async ({ url, frames }) => {
    try {
      const image = await LumidraImages.open(url);
      const out = [];
      for (const f of frames) {
        await image.loadFrame(f);
        const decoded = image.pixels(f);
        out.push({ kind: decoded.kind, pixels: Array.from(decoded.pixels) });
      }
      return { frameCount: image.frameCount, photometric: image.photometric, frames: out };
    } catch (e) {
      return { error: e.message };
    }
  }, { url, frames });
}

module.exports = { buildViewer, openProbe, decodeOnPage };
