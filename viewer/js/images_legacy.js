// The page's image interface (LumidraImages) over the built-in parser: directory, image headers,
// decoded pixels in a bounded cache, rendering under a view, and window presets.
(function (root) {
  'use strict';

  const Dicom = root.LumidraDicom;
  const Dicomdir = root.LumidraDicomdir;
  const Imaging = root.LumidraImaging;
  const Format = root.LumidraFormat;

  // Decoded files kept for scrolling; the least recently used go first beyond this.
  const CACHE_BYTES = 256 * 1024 * 1024;
  const CT_PRESETS = [
    { name: 'Brain', center: 40, width: 80 },
    { name: 'Soft tissue', center: 40, width: 400 },
    { name: 'Lung', center: -600, width: 1500 },
    { name: 'Bone', center: 300, width: 1500 },
  ];

  const decoded = new Map();
  let decodedBytes = 0;
  const preloadQueue = [];
  let preloading = false;

  async function fetchFile(url) {
    const response = await fetch(url, { cache: 'no-store' });
    if (!response.ok) throw new Error('HTTP ' + response.status + ' for ' + url);
    return response.arrayBuffer();
  }

  function remember(url, pixels) {
    if (decoded.has(url)) forget(url);
    decoded.set(url, pixels);
    decodedBytes += pixels.values.byteLength;
    for (const key of decoded.keys()) {
      if (decodedBytes <= CACHE_BYTES) break;
      if (key !== url) forget(key);
    }
  }

  function forget(url) {
    decodedBytes -= decoded.get(url).values.byteLength;
    decoded.delete(url);
  }

  function touch(url) {
    const pixels = decoded.get(url);
    decoded.delete(url);
    decoded.set(url, pixels);
    return pixels;
  }

  async function decodeFile(url) {
    const parsed = Dicom.parseDicom(await fetchFile(url));
    return { parsed, pixels: Imaging.decodeImage(parsed.dataset, parsed.transferSyntax) };
  }

  function describe(url, ds, pixels) {
    const text = (tag) => ds.string(tag) || '';
    const frameTime = ds.number(0x00181063);
    const image = {
      url,
      rows: pixels.rows,
      columns: pixels.columns,
      frameCount: pixels.frames,
      isColor: pixels.samples === 3,
      photometric: pixels.photometric,
      modality: text(0x00080060),
      bitsStored: pixels.bitsStored,
      pixelSpacing: ds.numbers(0x00280030).length >= 2 && ds.numbers(0x00280030).every((v) => v > 0)
        ? ds.numbers(0x00280030).slice(0, 2) : null,
      frameTime: frameTime > 0 ? frameTime : null,
      instanceNumber: ds.number(0x00200013),
      sopInstanceUid: text(0x00080018),
      seriesInstanceUid: text(0x0020000e),
      patientName: Format.personName(text(0x00100010)),
      patientId: text(0x00100020),
      patientBirthDate: text(0x00100030),
      patientSex: text(0x00100040),
      studyDate: text(0x00080020),
      studyDescription: text(0x00081030),
      seriesDescription: text(0x0008103e),
      institutionName: text(0x00080080),
      windows: pixels.windows,
      loadFrame(i) {
        if (!(i >= 0 && i < image.frameCount)) return Promise.reject(new Error('no frame ' + (i + 1)));
        if (decoded.has(url)) {
          touch(url);
          return Promise.resolve();
        }
        return decodeFile(url).then((d) => remember(url, d.pixels));
      },
      frameLoaded: (i) => i >= 0 && i < image.frameCount && decoded.has(url),
    };
    return image;
  }

  async function open(url) {
    const { parsed, pixels } = await decodeFile(url);
    remember(url, pixels);
    return describe(url, parsed.dataset, pixels);
  }

  function pixelsOf(image) {
    const pixels = decoded.get(image.url);
    if (!pixels) throw new Error('the image is not loaded');
    return pixels;
  }

  function render(image, frame, view, rgba) {
    const pixels = pixelsOf(image);
    const n = pixels.rows * pixels.columns;
    if (rgba.length < n * 4) throw new Error('output too small');
    if (!(frame >= 0 && frame < pixels.frames)) throw new Error('no frame ' + (frame + 1));
    const start = frame * pixels.perFrame;
    const v = pixels.values;
    const flip = view.invert ? 255 : 0;
    if (pixels.samples === 3) {
      for (let i = 0; i < n; i++) {
        for (let c = 0; c < 3; c++) {
          const at = pixels.planar ? start + c * n + i : start + i * 3 + c;
          rgba[i * 4 + c] = Math.abs(flip - v[at]);
        }
        rgba[i * 4 + 3] = 255;
      }
      return;
    }
    // Stored values repeat a lot; a table per render keeps the work per pixel small.
    const table = new Map();
    for (let i = 0; i < n; i++) {
      const s = v[start + i];
      let g = table.get(s);
      if (g === undefined) {
        g = Math.abs(flip - Imaging.windowLevel(s * pixels.slope + pixels.intercept, view.center, view.width));
        table.set(s, g);
      }
      const o = i * 4;
      rgba[o] = g;
      rgba[o + 1] = g;
      rgba[o + 2] = g;
      rgba[o + 3] = 255;
    }
  }

  function defaultView(image, frame) {
    const pixels = pixelsOf(image);
    const w = Imaging.defaultWindow(pixels, frame);
    return { center: w.center, width: w.width, invert: image.photometric === 'MONOCHROME1' };
  }

  function presets(image) {
    const own = (image.windows || []).map((w, i) => ({
      name: image.windows.length > 1 ? 'File ' + (i + 1) : 'File', center: w.center, width: w.width,
    }));
    return own.concat(image.modality === 'CT' ? CT_PRESETS : []);
  }

  async function drainPreload() {
    if (preloading) return;
    preloading = true;
    while (preloadQueue.length && decodedBytes < CACHE_BYTES * 0.75) {
      const url = preloadQueue.shift();
      if (decoded.has(url)) continue;
      try {
        remember(url, (await decodeFile(url)).pixels);
      } catch (e) {
        // Reported when the image is shown.
      }
    }
    preloading = false;
  }

  function preload(urls) {
    preloadQueue.length = 0;
    preloadQueue.push(...urls);
    drainPreload();
  }

  function readDirectory(buffer) {
    return Dicomdir.readDicomdir(Dicom.parseDicom(buffer));
  }

  root.LumidraImages = { readDirectory, open, render, defaultView, presets, preload };
})(typeof self !== 'undefined' ? self : this);
