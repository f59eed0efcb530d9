// Decoded frames to screen colours: the modality rescale, then the file's VOI LUT or the linear
// window; MONOCHROME1 and the invert button flip the result; colour images are shown as they are.
import { modalityPresets } from './image_header.mjs';

// The linear VOI function: a modality value to 0..255.
export function windowLevel(x, center, width) {
  if (width <= 1) return x > center - 0.5 ? 255 : 0;
  const lo = center - 0.5 - (width - 1) / 2;
  const hi = center - 0.5 + (width - 1) / 2;
  if (x <= lo) return 0;
  if (x > hi) return 255;
  return Math.round(((x - (center - 0.5)) / (width - 1) + 0.5) * 255);
}

function lutLevel(x, lut) {
  let index = Math.round(x) - lut.first;
  if (index < 0) index = 0;
  else if (index >= lut.values.length) index = lut.values.length - 1;
  return Math.round(lut.values[index] * 255 / (2 ** lut.bits - 1));
}

// The grey level of each stored value between min and max, for one frame under one view.
function greyTable(header, frame, decoded, view) {
  const { rescale } = header.frameTransforms[frame];
  const lut = view.voiLut !== undefined && view.voiLut !== null ? header.voiLuts[view.voiLut] : null;
  const flip = view.invert ? 255 : 0;
  const level = (stored) => {
    const x = stored * rescale.slope + rescale.intercept;
    return Math.abs(flip - (lut ? lutLevel(x, lut) : windowLevel(x, view.center, view.width)));
  };
  const span = decoded.max - decoded.min + 1;
  // Wide 32-bit ranges get no table; each value is computed as it comes.
  if (span > 1 << 20) return { level, table: null };
  const table = new Uint8Array(span);
  for (let i = 0; i < span; i++) table[i] = level(decoded.min + i);
  return { level, table };
}

export function renderFrame(header, frame, decoded, view, rgba) {
  const n = header.rows * header.columns;
  if (!rgba || rgba.length < n * 4) throw new Error('the output holds fewer than ' + n + ' pixels');
  const src = decoded.pixels;
  if (decoded.kind === 'rgb') {
    const flip = view.invert ? 255 : 0;
    for (let i = 0, o = 0; i < n; i++, o += 4) {
      rgba[o] = Math.abs(flip - src[i * 3]);
      rgba[o + 1] = Math.abs(flip - src[i * 3 + 1]);
      rgba[o + 2] = Math.abs(flip - src[i * 3 + 2]);
      rgba[o + 3] = 255;
    }
    return;
  }
  const { level, table } = greyTable(header, frame, decoded, view);
  const min = decoded.min;
  for (let i = 0, o = 0; i < n; i++, o += 4) {
    const g = table ? table[src[i] - min] : level(src[i]);
    rgba[o] = g;
    rgba[o + 1] = g;
    rgba[o + 2] = g;
    rgba[o + 3] = 255;
  }
}

// Where a VOI LUT's output is shown in window terms: its input range.
function lutWindow(lut) {
  return { center: lut.first + lut.values.length / 2, width: lut.values.length };
}

// The view to start with: the file's first window, else its first VOI LUT, else one spanning
// the frame's values.
export function defaultView(header, frame, decoded) {
  const invert = header.photometric === 'MONOCHROME1';
  if (header.isColor) return { center: 128, width: 256, invert: false };
  const { rescale, windows } = header.frameTransforms[frame];
  if (windows.length) return { center: windows[0].center, width: windows[0].width, invert };
  if (header.voiLuts.length) return Object.assign(lutWindow(header.voiLuts[0]), { invert, voiLut: 0 });
  const a = decoded.min * rescale.slope + rescale.intercept;
  const b = decoded.max * rescale.slope + rescale.intercept;
  const lo = Math.min(a, b);
  const hi = Math.max(a, b);
  // The lowest value black, the highest white.
  return { center: (lo + hi) / 2, width: Math.max(1, hi - lo), invert };
}

// The file's windows and VOI LUTs, then the modality's presets.
export function presets(header, frame) {
  if (header.isColor) return [];
  const { windows } = header.frameTransforms[frame || 0];
  const own = windows.map((w) => ({ name: w.name, center: w.center, width: w.width }));
  const luts = header.voiLuts.map((lut, i) => Object.assign({ name: lut.name, voiLut: i }, lutWindow(lut)));
  return own.concat(luts, modalityPresets(header));
}
