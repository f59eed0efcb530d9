// Pixel data to screen values: stored values, the modality rescale (slope, intercept) and the
// window (center, width) of the linear VOI function, grayscale and RGB.
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.LumidraImaging = api;
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  const PIXEL_DATA = 0x7fe00010;

  class ImageError extends Error {}

  function required(ds, tag, name) {
    const v = ds.number(tag);
    if (v === null) throw new ImageError('the image has no ' + name);
    return v;
  }

  // Stored values of every frame, copied out of the file (so that the file's buffer can go),
  // masked to Bits Stored and sign-extended where Pixel Representation says so. The values
  // keep the width of the file's samples: a study of many images stays small in memory.
  function storedValues(bytes, bitsAllocated, bitsStored, signed, count) {
    const copy = bytes.slice(0, count * (bitsAllocated / 8)).buffer;
    let raw;
    if (bitsAllocated === 8) raw = signed ? new Int8Array(copy) : new Uint8Array(copy);
    else if (bitsAllocated === 16) raw = signed ? new Int16Array(copy) : new Uint16Array(copy);
    else raw = signed ? new Int32Array(copy) : new Uint32Array(copy);
    if (bitsStored >= bitsAllocated) return raw;
    const mask = (2 ** bitsStored) - 1;
    const signBit = 2 ** (bitsStored - 1);
    for (let i = 0; i < count; i++) {
      let v = (raw[i] >>> 0) & mask;
      if (signed && v >= signBit) v -= 2 ** bitsStored;
      raw[i] = v;
    }
    return raw;
  }

  // ds: a parsed data set (LumidraDicom). Throws ImageError for what cannot be shown.
  function decodeImage(ds, transferSyntax) {
    const rows = required(ds, 0x00280010, 'Rows');
    const columns = required(ds, 0x00280011, 'Columns');
    if (rows < 1 || columns < 1) throw new ImageError('the image is empty');
    const samples = ds.number(0x00280002) || 1;
    const photometric = (ds.string(0x00280004) || (samples === 3 ? 'RGB' : 'MONOCHROME2')).toUpperCase();
    const bitsAllocated = required(ds, 0x00280100, 'Bits Allocated');
    const bitsStored = ds.number(0x00280101) || bitsAllocated;
    const signed = ds.number(0x00280103) === 1;
    const frames = Math.max(1, Math.floor(ds.number(0x00280008) || 1));
    const planar = ds.number(0x00280006) === 1;

    if (![8, 16, 32].includes(bitsAllocated)) {
      throw new ImageError(bitsAllocated + '-bit pixels are not supported');
    }
    if (bitsStored < 1 || bitsStored > bitsAllocated) throw new ImageError('Bits Stored is out of range');
    if (samples === 1 && photometric !== 'MONOCHROME1' && photometric !== 'MONOCHROME2') {
      throw new ImageError(photometric + ' images with one sample are not supported');
    }
    if (samples === 3 && (photometric !== 'RGB' || bitsAllocated !== 8)) {
      throw new ImageError('only 8-bit RGB colour images are supported');
    }
    if (samples !== 1 && samples !== 3) throw new ImageError(samples + ' samples per pixel are not supported');

    const element = ds.get(PIXEL_DATA);
    if (!element) throw new ImageError('the file holds no image');
    if (element.fragments) {
      throw new ImageError('compressed images are not supported (' + (transferSyntax || 'unknown') + ')');
    }
    const perFrame = rows * columns * samples;
    const needed = perFrame * frames * (bitsAllocated / 8);
    if (element.length < needed) {
      throw new ImageError('the pixel data is shorter than the image (' + element.length + ' of ' + needed + ' bytes)');
    }
    const values = storedValues(ds.bytes(PIXEL_DATA), bitsAllocated, bitsStored, signed, perFrame * frames);

    const slope = ds.number(0x00281053);
    const intercept = ds.number(0x00281052);
    const centers = ds.numbers(0x00281050);
    const widths = ds.numbers(0x00281051);
    const windows = [];
    for (let i = 0; i < Math.min(centers.length, widths.length); i++) {
      if (widths[i] >= 1) windows.push({ center: centers[i], width: widths[i] });
    }
    const spacing = ds.numbers(0x00280030);
    return {
      rows, columns, frames, samples, photometric, bitsAllocated, bitsStored, signed, planar,
      slope: slope === null || slope === 0 ? 1 : slope,
      intercept: intercept === null ? 0 : intercept,
      windows,
      rowSpacing: spacing[0] > 0 ? spacing[0] : 1,
      columnSpacing: spacing[1] > 0 ? spacing[1] : (spacing[0] > 0 ? spacing[0] : 1),
      values,
      perFrame,
    };
  }

  // Smallest and largest rescaled value of a frame.
  function valueRange(image, frame) {
    const start = (frame || 0) * image.perFrame;
    let lo = Infinity;
    let hi = -Infinity;
    for (let i = start; i < start + image.perFrame; i++) {
      const v = image.values[i];
      if (v < lo) lo = v;
      if (v > hi) hi = v;
    }
    const a = lo * image.slope + image.intercept;
    const b = hi * image.slope + image.intercept;
    return { min: Math.min(a, b), max: Math.max(a, b) };
  }

  // The window to start with: the file's first, else one that spans the frame's values.
  function defaultWindow(image, frame) {
    if (image.windows.length) return { center: image.windows[0].center, width: image.windows[0].width };
    // Center 128, width 256 maps 0..255 onto itself.
    if (image.samples === 3) return { center: 128, width: 256 };
    const r = valueRange(image, frame);
    return { center: (r.min + r.max) / 2, width: Math.max(1, r.max - r.min) };
  }

  // The linear VOI function: modality value to 0..255.
  function windowLevel(x, center, width) {
    if (width <= 1) return x > center - 0.5 ? 255 : 0;
    const lo = center - 0.5 - (width - 1) / 2;
    const hi = center - 0.5 + (width - 1) / 2;
    if (x <= lo) return 0;
    if (x > hi) return 255;
    return Math.round(((x - (center - 0.5)) / (width - 1) + 0.5) * 255);
  }

  // Writes one frame into rgba (Uint8ClampedArray of columns * rows * 4).
  function renderFrame(image, frame, win, rgba) {
    const n = image.rows * image.columns;
    if (rgba.length < n * 4) throw new ImageError('output too small');
    const start = frame * image.perFrame;
    const v = image.values;
    if (image.samples === 3) {
      for (let i = 0; i < n; i++) {
        for (let c = 0; c < 3; c++) {
          const at = image.planar ? start + c * n + i : start + i * 3 + c;
          rgba[i * 4 + c] = windowLevel(v[at], win.center, win.width);
        }
        rgba[i * 4 + 3] = 255;
      }
      return;
    }
    const invert = image.photometric === 'MONOCHROME1';
    // Stored values repeat a lot; a table per render keeps the work per pixel small.
    const cache = new Map();
    for (let i = 0; i < n; i++) {
      const s = v[start + i];
      let g = cache.get(s);
      if (g === undefined) {
        g = windowLevel(s * image.slope + image.intercept, win.center, win.width);
        if (invert) g = 255 - g;
        cache.set(s, g);
      }
      const o = i * 4;
      rgba[o] = g;
      rgba[o + 1] = g;
      rgba[o + 2] = g;
      rgba[o + 3] = 255;
    }
  }

  return { decodeImage, defaultWindow, valueRange, windowLevel, renderFrame, ImageError };
});
