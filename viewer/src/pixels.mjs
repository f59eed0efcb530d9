// Decoded samples to what the page draws: stored values of grey images (masked to Bits Stored,
// sign-extended), and colour images as 8-bit RGB, one pixel after the other.

// Raw samples of an uncompressed frame; 1-bit pixels are unpacked (first pixel in the lowest bit).
export function nativeSamples(layout, bytes, bitOffset, bigEndian) {
  const count = layout.rows * layout.columns * (layout.photometric === 'YBR_FULL_422' ? 2 : layout.samplesPerPixel);
  const signed = layout.pixelRepresentation === 1;
  switch (layout.bitsAllocated) {
    case 1: {
      const out = new Uint8Array(count);
      for (let i = 0; i < count; i++) {
        const bit = bitOffset + i;
        out[i] = (bytes[bit >> 3] >> (bit & 7)) & 1;
      }
      return out;
    }
    case 8: {
      const copy = bytes.slice(0, count);
      if (bigEndian && layout.pixelVr === 'OW') swapBytes(copy, 2);
      return signed ? new Int8Array(copy.buffer) : copy;
    }
    case 16: {
      const copy = bytes.slice(0, count * 2);
      if (bigEndian) swapBytes(copy, 2);
      return signed ? new Int16Array(copy.buffer) : new Uint16Array(copy.buffer);
    }
    default: {
      const copy = bytes.slice(0, count * 4);
      if (bigEndian) swapBytes(copy, 4);
      return signed ? new Int32Array(copy.buffer) : new Uint32Array(copy.buffer);
    }
  }
}

function swapBytes(bytes, size) {
  for (let i = 0; i + size <= bytes.length; i += size) {
    for (let a = i, b = i + size - 1; a < b; a++, b--) {
      const t = bytes[a];
      bytes[a] = bytes[b];
      bytes[b] = t;
    }
  }
}

// Grey stored values: only Bits Stored count, and with Pixel Representation 1 they are signed.
export function storedValues(layout, samples) {
  const bits = layout.bitsStored;
  const signed = layout.pixelRepresentation === 1;
  const count = layout.rows * layout.columns;
  // Samples that fill their width already hold the values, in the array type they need.
  const fitting = signed ? [Int8Array, Int16Array, Int32Array] : [Uint8Array, Uint16Array, Uint32Array];
  if (bits === layout.bitsAllocated && bits >= 8 && samples.length === count &&
      samples instanceof fitting[Math.log2(bits / 8)]) return samples;
  let out;
  if (layout.bitsAllocated <= 8) out = signed ? new Int8Array(count) : new Uint8Array(count);
  else if (layout.bitsAllocated <= 16 && bits <= 16) out = signed ? new Int16Array(count) : new Uint16Array(count);
  else out = signed ? new Int32Array(count) : new Uint32Array(count);
  if (bits >= 32) {
    for (let i = 0; i < count; i++) out[i] = samples[i];
    return out;
  }
  const mask = 2 ** bits - 1;
  const signBit = 2 ** (bits - 1);
  for (let i = 0; i < count; i++) {
    // >>> 0 first: a codec may hand over values already signed.
    let v = (samples[i] >>> 0) & mask;
    if (signed && v >= signBit) v -= 2 ** bits;
    out[i] = v;
  }
  return out;
}

function clampByte(x) {
  return x < 0 ? 0 : x > 255 ? 255 : Math.round(x);
}

function ybrToRgb(out, o, y, cb, cr) {
  out[o] = clampByte(y + 1.402 * (cr - 128));
  out[o + 1] = clampByte(y - 0.344136 * (cb - 128) - 0.714136 * (cr - 128));
  out[o + 2] = clampByte(y + 1.772 * (cb - 128));
}

function paletteToRgb(layout, samples, count) {
  const out = new Uint8Array(count * 3);
  const tables = [layout.palette.red, layout.palette.green, layout.palette.blue];
  const values = storedValues(layout, samples);
  for (let c = 0; c < 3; c++) {
    const { first, bits, values: table } = tables[c];
    const shift = bits > 8 ? bits - 8 : 0;
    const last = table.length - 1;
    for (let i = 0; i < count; i++) {
      let index = values[i] - first;
      if (index < 0) index = 0;
      else if (index > last) index = last;
      out[i * 3 + c] = table[index] >> shift;
    }
  }
  return out;
}

// Colour samples to 8-bit RGB. alreadyRgb: the codec has turned the encoded colour space into RGB.
// planar: the samples come plane after plane rather than pixel after pixel.
export function colourToRgb(layout, samples, alreadyRgb, planar) {
  const count = layout.rows * layout.columns;
  if (layout.photometric === 'PALETTE COLOR') return paletteToRgb(layout, samples, count);
  const shift = layout.bitsStored > 8 ? layout.bitsStored - 8 : 0;
  const mask = 2 ** Math.min(layout.bitsStored, 16) - 1;
  const sample = (i) => ((samples[i] & mask) >> shift);
  const out = new Uint8Array(count * 3);
  const photometric = alreadyRgb ? 'RGB' : layout.photometric;
  if (photometric === 'YBR_FULL_422' && samples.length >= count * 2 && samples.length < count * 3) {
    // Two luminance values share one chroma pair: Y1 Y2 Cb Cr.
    for (let i = 0; i + 1 < count; i += 2) {
      const at = i * 2;
      const cb = sample(at + 2);
      const cr = sample(at + 3);
      ybrToRgb(out, i * 3, sample(at), cb, cr);
      ybrToRgb(out, i * 3 + 3, sample(at + 1), cb, cr);
    }
    return out;
  }
  const at = planar ? (i, c) => c * count + i : (i, c) => i * 3 + c;
  const ybr = photometric === 'YBR_FULL' || photometric === 'YBR_FULL_422';
  for (let i = 0; i < count; i++) {
    if (ybr) ybrToRgb(out, i * 3, sample(at(i, 0)), sample(at(i, 1)), sample(at(i, 2)));
    else {
      out[i * 3] = sample(at(i, 0));
      out[i * 3 + 1] = sample(at(i, 1));
      out[i * 3 + 2] = sample(at(i, 2));
    }
  }
  return out;
}

// Smallest and largest value, for a window that spans them.
export function valueRange(values) {
  let lo = Infinity;
  let hi = -Infinity;
  for (let i = 0; i < values.length; i++) {
    const v = values[i];
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  return { min: lo === Infinity ? 0 : lo, max: hi === -Infinity ? 0 : hi };
}
