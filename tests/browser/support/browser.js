// Headless Chromium (the distribution's) driven through playwright-core, and what a person
// would look at on the page.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const CHROMIUM = process.env.LUMIDRA_CHROMIUM || '/usr/bin/chromium';
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// A browser with a fresh profile; close() removes the profile too. options.deviceScaleFactor
// stands in for a HiDPI screen, options.locale for the user's language.
async function openBrowser(options = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'lumidra-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ARGS,
    viewport: { width: 1200, height: 800 },
    deviceScaleFactor: options.deviceScaleFactor || 1,
    locale: options.locale || 'en-US',
  });
  const page = context.pages()[0] || await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  return {
    context,
    page,
    errors,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A summary of the image canvas: how many grey levels it shows, their mean, and a coarse
// 16 x 16 grid of sampled values for comparing two pictures.
function canvasSummary(page) {
  return page.evaluate(() => {
    const canvas = document.getElementById('image-canvas');
    const ctx = canvas.getContext('2d');
    const { data } = ctx.getImageData(0, 0, canvas.width, canvas.height);
    const levels = new Set();
    let sum = 0;
    for (let i = 0; i < data.length; i += 4) {
      levels.add(data[i] * 65536 + data[i + 1] * 256 + data[i + 2]);
      sum += data[i];
    }
    const grid = [];
    for (let y = 0; y < 16; y++) {
      for (let x = 0; x < 16; x++) {
        const px = Math.floor((x + 0.5) * canvas.width / 16);
        const py = Math.floor((y + 0.5) * canvas.height / 16);
        grid.push(data[(py * canvas.width + px) * 4]);
      }
    }
    return { width: canvas.width, height: canvas.height, levels: levels.size, mean: sum / (data.length / 4), grid };
  });
}

// How many grid samples differ between two summaries.
function gridDifference(a, b) {
  let count = 0;
  for (let i = 0; i < a.grid.length; i++) if (Math.abs(a.grid[i] - b.grid[i]) > 2) count++;
  return count;
}

async function text(page, id) {
  return (await page.locator('#' + id).textContent()).trim();
}

// Waits until the canvas shows the given image number (1-based) and a redraw has happened.
async function waitForImage(page, number) {
  await page.waitForSelector('#image-canvas[data-image="' + number + '"]');
  await settle(page);
}

// Two animation frames: whatever was scheduled to be drawn has been drawn.
function settle(page) {
  return page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
}

// Keys pressed in turn, then the page left to draw.
async function press(page, ...keys) {
  for (const key of keys) await page.keyboard.press(key);
  await settle(page);
}

async function waitForText(page, id, pattern) {
  await page.waitForFunction(({ id, source }) => new RegExp(source).test(document.getElementById(id).textContent),
    { id, source: pattern.source });
}

module.exports = { openBrowser, canvasSummary, gridDifference, text, waitForImage, settle, press, waitForText };
