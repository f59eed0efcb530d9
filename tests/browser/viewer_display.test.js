// What the image area shows, read back from the canvas: 1:1 and pan on normal and HiDPI
// screens, zoom, invert and MONOCHROME1, distances, and cine for multi-frame images. The study
// is made with pydicom so that every pixel value is known.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir } = require('./support/disc.js');
const { makeUiWorkspace } = require('./support/ui_study.js');
const { startFakeLauncher } = require('./support/fake_launcher.js');
const { openBrowser, text, waitForImage, settle, press, waitForText } = require('./support/browser.js');

const work = tempDir('lumidra-display-');
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

// The pattern image of make_ui_study.py: 32 x 24, value (7x + 29y) mod 256, shown as is.
const PATTERN = { columns: 32, rows: 24, value: (x, y) => (7 * x + 29 * y) % 256 };

async function launch(t, name, browserOptions) {
  const probe = await startFakeLauncher({ workspaceData: work, discData: work, launchId: '' });
  const port = probe.port;
  await probe.close();
  const data = makeUiWorkspace(path.join(work, name), port);
  const fake = await startFakeLauncher({ workspaceData: data, discData: data, launchId: 'LUMIDRA_ui', port });
  const browser = await openBrowser(browserOptions);
  t.after(async () => {
    await browser.close();
    await fake.close();
  });
  await browser.page.goto('http://localhost:' + port + '/7z/index.html');
  await waitForImage(browser.page, 1);
  return { page: browser.page, errors: browser.errors };
}

// Where on the canvas the whole image shows exactly, one image pixel on one screen pixel, with
// each value mapped through map; searched within 4 pixels of near. null when nowhere.
function findImage(page, image, near, map = (v) => v) {
  const expected = [];
  for (let y = 0; y < image.rows; y++) for (let x = 0; x < image.columns; x++) expected.push(map(image.value(x, y)));
  return page.evaluate(({ expected, columns, rows, near }) => {
    const canvas = document.getElementById('image-canvas');
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    const matches = (ox, oy) => {
      for (let y = 0; y < rows; y++) {
        for (let x = 0; x < columns; x++) {
          const at = ((oy + y) * canvas.width + ox + x) * 4;
          const v = expected[y * columns + x];
          if (data[at] !== v || data[at + 1] !== v || data[at + 2] !== v) return false;
        }
      }
      return true;
    };
    for (let dy = -4; dy <= 4; dy++) {
      for (let dx = -4; dx <= 4; dx++) {
        const ox = Math.round(near.x) + dx;
        const oy = Math.round(near.y) + dy;
        if (ox >= 0 && oy >= 0 && ox + columns <= canvas.width && oy + rows <= canvas.height && matches(ox, oy)) {
          return { x: ox, y: oy };
        }
      }
    }
    return null;
  }, { expected, columns: image.columns, rows: image.rows, near });
}

function canvasFacts(page) {
  return page.evaluate(() => {
    const canvas = document.getElementById('image-canvas');
    const box = canvas.getBoundingClientRect();
    return { width: canvas.width, height: canvas.height, cssWidth: box.width, cssHeight: box.height, left: box.left, top: box.top };
  });
}

function pixelAt(page, x, y) {
  return page.evaluate(({ x, y }) => {
    const canvas = document.getElementById('image-canvas');
    return Array.from(canvas.getContext('2d').getImageData(x, y, 1, 1).data.slice(0, 3));
  }, { x, y });
}

// The image at 1:1 on a canvas: found around the middle, where it must sit.
async function patternAtActualSize(page) {
  await press(page, '1');
  const c = await canvasFacts(page);
  const centre = { x: (c.width - PATTERN.columns) / 2, y: (c.height - PATTERN.rows) / 2 };
  return { canvas: c, origin: await findImage(page, PATTERN, centre) };
}

for (const ratio of [1, 2]) {
  test('1:1 puts each image pixel on one screen pixel and a middle-button drag pans it (device pixel ratio ' + ratio + ')', async (t) => {
    const { page, errors } = await launch(t, 'actual' + ratio, { deviceScaleFactor: ratio });
    const { canvas: c, origin } = await patternAtActualSize(page);
    assert.equal(c.width, Math.round(c.cssWidth * ratio), 'the canvas has the screen\'s own resolution');
    assert.equal(c.height, Math.round(c.cssHeight * ratio));
    assert.ok(origin, 'the pattern shows pixel for pixel in the middle of the canvas');
    assert.match(await text(page, 'view-info'), /^Zoom 100%/);

    const start = { x: c.left + (origin.x + 10) / ratio, y: c.top + (origin.y + 10) / ratio };
    await page.mouse.move(start.x, start.y);
    await page.mouse.down({ button: 'middle' });
    await page.mouse.move(start.x + 20, start.y + 12, { steps: 3 });
    await page.mouse.up({ button: 'middle' });
    await settle(page);
    const moved = await findImage(page, PATTERN, { x: origin.x + 20 * ratio, y: origin.y + 12 * ratio });
    assert.deepEqual(moved, { x: origin.x + 20 * ratio, y: origin.y + 12 * ratio }, 'the image follows the drag');

    await press(page, 'f');
    assert.match(await text(page, 'view-info'), /^Zoom \d+% \(fit\)/);
    const fitted = Number(/Zoom (\d+)%/.exec(await text(page, 'view-info'))[1]);
    assert.ok(fitted > 1000, 'the small pattern is magnified to fit: ' + fitted + '%');
    assert.deepEqual(errors, []);
  });
}

test('zoom: + and - step, Ctrl + wheel zooms around the pointer, F fits again', async (t) => {
  const { page } = await launch(t, 'zoom');
  const { canvas: c, origin } = await patternAtActualSize(page);
  await press(page, '+');
  assert.match(await text(page, 'view-info'), /^Zoom 125%/);
  await press(page, '-', '-');
  assert.match(await text(page, 'view-info'), /^Zoom 80%/);
  await press(page, '1');
  // Nearest neighbour, so that the magnified pixels keep the image's own values.
  await page.locator('#smooth-button').click();

  // The middle of image pixel (10, 8) stays under the pointer while zooming in.
  const pointer = { x: c.left + origin.x + 10.5, y: c.top + origin.y + 8.5 };
  await page.mouse.move(pointer.x, pointer.y);
  for (let i = 0; i < 3; i++) {
    await page.keyboard.down('Control');
    await page.mouse.wheel(0, -100);
    await page.keyboard.up('Control');
  }
  await settle(page);
  assert.match(await text(page, 'view-info'), /^Zoom 195%/);
  // Pointer positions may land on whole pixels, so a neighbour of (10, 8) may be under it; zoomed
  // around the middle of the canvas, pixel (13, 10) would be.
  const [under] = await pixelAt(page, origin.x + 10, origin.y + 8);
  const near = [];
  for (let y = 7; y <= 9; y++) for (let x = 9; x <= 11; x++) near.push(PATTERN.value(x, y));
  assert.ok(near.includes(under), 'value ' + under + ' under the pointer is not from around (10, 8)');
  assert.notDeepEqual(await pixelAt(page, origin.x, origin.y), Array(3).fill(PATTERN.value(0, 0)),
    'the corner moved away from the pointer');

  // The right button zooms as well: up is in.
  await page.mouse.down({ button: 'right' });
  await page.mouse.move(pointer.x, pointer.y - 60, { steps: 3 });
  await page.mouse.up({ button: 'right' });
  await settle(page);
  assert.ok(Number(/Zoom (\d+)%/.exec(await text(page, 'view-info'))[1]) > 195);
  await press(page, 'F');
  assert.match(await text(page, 'view-info'), /\(fit\)/);

  // A fitted image fits the window again after the window changes size.
  const fitted = await text(page, 'view-info');
  await page.setViewportSize({ width: 900, height: 600 });
  await page.waitForFunction((before) => document.getElementById('view-info').textContent !== before, fitted);
  await settle(page);
  const after = await canvasFacts(page);
  assert.equal(after.width, Math.round(after.cssWidth));
  const zoom = Number(/Zoom (\d+)%/.exec(await text(page, 'view-info'))[1]) / 100;
  assert.ok(Math.abs(Math.min(after.width / 32, after.height / 24) - zoom) < 0.01, 'zoom ' + zoom + ' fits ' + after.width + ' x ' + after.height);
});

test('invert flips the grey values; MONOCHROME1 starts inverted and flips back', async (t) => {
  const { page } = await launch(t, 'invert');
  const { origin } = await patternAtActualSize(page);
  assert.doesNotMatch(await text(page, 'view-info'), /Inverted/);
  await press(page, 'i');
  assert.deepEqual(await findImage(page, PATTERN, origin, (v) => 255 - v), origin);
  assert.match(await text(page, 'view-info'), /Inverted/);
  assert.equal(await page.locator('#invert-button').getAttribute('aria-pressed'), 'true');
  await page.locator('#invert-button').click();
  await settle(page);
  assert.deepEqual(await findImage(page, PATTERN, origin), origin);

  // Series 3 holds the same values as MONOCHROME1: low values bright.
  await press(page, ']', ']');
  await waitForImage(page, 1);
  assert.match(await text(page, 'image-info'), /Series 3 · Inverted pattern/);
  await press(page, '1');
  assert.deepEqual(await findImage(page, PATTERN, origin, (v) => 255 - v), origin);
  assert.match(await text(page, 'view-info'), /Inverted/);
  await press(page, 'I');
  assert.deepEqual(await findImage(page, PATTERN, origin), origin);
});

// Drags the measuring tool from one image pixel corner to another at 1:1.
async function measure(page, origin, from, to) {
  const c = await canvasFacts(page);
  await press(page, 'm');
  await page.mouse.move(c.left + origin.x + from.x, c.top + origin.y + from.y);
  await page.mouse.down();
  await page.mouse.move(c.left + origin.x + to.x, c.top + origin.y + to.y, { steps: 4 });
  await page.mouse.up();
  await settle(page);
}

function measureColourPixels(page) {
  return page.evaluate(() => {
    const canvas = document.getElementById('image-canvas');
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    let count = 0;
    for (let i = 0; i < data.length; i += 4) if (data[i] > 200 && data[i + 1] > 170 && data[i + 2] < 130) count++;
    return count;
  });
}

test('distances: millimetres from the pixel spacing on both axes, pixels when the file has none', async (t) => {
  const { page } = await launch(t, 'measure');
  const { origin } = await patternAtActualSize(page);
  await measure(page, origin, { x: 2, y: 3 }, { x: 32, y: 23 });
  assert.equal(await text(page, 'measure-info'), 'Distance 36.1 px (no pixel spacing in the file)');
  assert.equal(await page.locator('#tool-measure').getAttribute('aria-pressed'), 'true');
  assert.ok(await measureColourPixels(page) > 30, 'the line is drawn on the image');
  await press(page, 'Escape');
  assert.equal(await text(page, 'measure-info'), '');
  assert.equal(await measureColourPixels(page), 0, 'Esc removes the line');

  // Series 2: 80 x 50 pixels, 0.8 mm between rows and 0.5 mm between columns, so at 1:1 a row
  // is 1.6 screen pixels high. 40 columns and 20 rows: 20 mm across, 16 mm down.
  await press(page, ']');
  await waitForImage(page, 1);
  await press(page, '1');
  const c = await canvasFacts(page);
  const corner = { x: Math.round((c.width - 80) / 2), y: Math.round((c.height - 50 * 1.6) / 2) };
  await measure(page, corner, { x: 10, y: 8 }, { x: 50, y: 40 });
  assert.equal(await text(page, 'measure-info'), 'Distance 25.6 mm');
  await press(page, 'ArrowDown');
  assert.equal(await text(page, 'measure-info'), 'Distance 25.6 mm', 'a single image stays where it is');
  await press(page, ']');
  await waitForImage(page, 1);
  assert.equal(await text(page, 'measure-info'), '', 'the measurement belongs to its image');
});

function centreValue(page) {
  return page.evaluate(() => {
    const canvas = document.getElementById('image-canvas');
    return canvas.getContext('2d').getImageData(canvas.width >> 1, canvas.height >> 1, 1, 1).data[0];
  });
}

test('a multi-frame image: frame slider and keys, cine at the file\'s frame rate that plays and stops', async (t) => {
  const { page, errors } = await launch(t, 'cine');
  assert.equal(await page.locator('#frame-controls').isVisible(), false, 'no frame controls for one frame');
  await press(page, ']', ']', ']');
  await waitForImage(page, 1);
  assert.match(await text(page, 'image-info'), /Series 4 · Cine[^]*Image 1 \/ 2[^]*Frame 1 \/ 6/);
  assert.ok(await page.locator('#frame-controls').isVisible());
  assert.equal(await text(page, 'frame-number'), '1 / 6');
  assert.equal(await text(page, 'cine-rate'), '25 fps');
  assert.equal(await centreValue(page), 30);

  await press(page, '.');
  await page.waitForSelector('#image-canvas[data-frame="2"]');
  await settle(page);
  assert.equal(await centreValue(page), 70);
  assert.match(await text(page, 'image-info'), /Frame 2 \/ 6/);
  await page.locator('#frame-slider').fill('4');
  await page.waitForSelector('#image-canvas[data-frame="5"]');
  await settle(page);
  assert.equal(await centreValue(page), 190);
  await page.locator('#viewport').hover();
  await page.keyboard.down('Shift');
  await page.mouse.wheel(0, 100);
  await page.keyboard.up('Shift');
  await page.waitForSelector('#image-canvas[data-frame="6"]');
  assert.match(await text(page, 'image-info'), /Image 1 \/ 2\nFrame 6 \/ 6/, 'Shift + wheel moves through frames, not images');

  // Playing goes through every frame and round again.
  await page.evaluate(() => {
    window.seenFrames = [];
    new MutationObserver(() => window.seenFrames.push(document.getElementById('image-canvas').dataset.frame))
      .observe(document.getElementById('image-canvas'), { attributes: true, attributeFilter: ['data-frame'] });
  });
  await page.locator('#cine-button').click();
  assert.equal(await text(page, 'cine-button'), 'Stop');
  await page.waitForFunction(() => {
    const seen = window.seenFrames.join(',');
    return /6,1,2/.test(seen) && /2,3,4,5,6/.test(seen);
  });
  await page.keyboard.press('Space');
  assert.equal(await text(page, 'cine-button'), 'Play');
  const stopped = await page.locator('#image-canvas').getAttribute('data-frame');
  await page.waitForTimeout(400);
  await settle(page);
  assert.equal(await page.locator('#image-canvas').getAttribute('data-frame'), stopped, 'stopped means stopped');
  assert.equal(await centreValue(page), 30 + 40 * (Number(stopped) - 1), 'the frame shown is the frame named');
  assert.equal(await text(page, 'frame-number'), stopped + ' / 6');

  // The second image gives no frame time: the page says which rate it uses.
  await page.locator('#cine-button').click();
  await press(page, 'ArrowDown');
  await waitForImage(page, 2);
  assert.equal(await text(page, 'cine-button'), 'Play', 'cine stops at another image');
  assert.equal(await text(page, 'frame-number'), '1 / 3');
  assert.equal(await text(page, 'cine-rate'), '10 fps (file gives no frame time)');
  assert.equal(await centreValue(page), 50);
  assert.deepEqual(errors, []);
});

test('an image in an encoding the viewer cannot decode is named with the reason; its thumbnail is crossed out', async (t) => {
  const { page, errors } = await launch(t, 'video');
  await press(page, ']', ']', ']', ']');
  await page.waitForSelector('#image-status.error', { state: 'visible' });
  assert.match(await text(page, 'image-status'),
    /^Image 1 could not be shown \(series 5, file DICOM\/ST000001\/SE000005\/IM000001\): .*(1\.2\.840\.10008\.1\.2\.4\.100|MPEG)/);
  assert.match(await text(page, 'image-info'), /^Series 5 · OT\nImage 1 \/ 1$/, 'the overlay still says where we are');
  assert.equal(await page.locator('#image-canvas').getAttribute('data-image'), null);
  const thumbnail = page.locator('.series').nth(4).locator('canvas.thumbnail');
  await page.waitForFunction((el) => el.dataset.state !== 'waiting', await thumbnail.elementHandle());
  assert.equal(await thumbnail.getAttribute('data-state'), 'failed');
  assert.match(await thumbnail.getAttribute('title'), /^No preview: /);
  await press(page, '[');
  await waitForImage(page, 1);
  assert.equal(await page.locator('#image-status').isVisible(), false);
  assert.deepEqual(errors, []);
});

test('a colour image shows its own colours: no window to drag or choose, invert still flips them', async (t) => {
  const { page, errors } = await launch(t, 'colour');
  await press(page, ']', ']', ']', ']', ']');
  await waitForText(page, 'image-info', /^Series 6 · Colour · OT\nImage 1 \/ 1$/);
  await waitForImage(page, 1);
  const { origin } = await patternAtActualSize(page);
  assert.equal(origin, null, 'a colour image is not shown as grey');
  const c = await canvasFacts(page);
  const corner = { x: Math.round((c.width - 32) / 2), y: Math.round((c.height - 24) / 2) };
  const colourAt = (x, y) => pixelAt(page, corner.x + x, corner.y + y);
  assert.deepEqual(await colourAt(5, 7), [40, 70, 200]);
  assert.equal(await text(page, 'wl-info'), 'Colour image');
  assert.ok(await page.locator('#preset-select').isDisabled());

  await page.mouse.move(c.left + corner.x + 16, c.top + corner.y + 12);
  await page.mouse.down();
  await page.mouse.move(c.left + corner.x + 80, c.top + corner.y + 60, { steps: 3 });
  await page.mouse.up();
  await settle(page);
  assert.deepEqual(await colourAt(5, 7), [40, 70, 200], 'dragging the window leaves the colours alone');
  await press(page, 'i');
  assert.deepEqual(await colourAt(5, 7), [215, 185, 55]);
  assert.deepEqual(errors, []);
});
