// The decoding worker: one compressed or uncompressed frame in, stored values (grey) or RGB out.
// The codecs are the cornerstone ones (WebAssembly, loaded from the disc beside this script the
// first time a frame needs them).
import decodeRLE from 'cornerstone-shared/decoders/decodeRLE.js';
import decodeJPEGBaseline8Bit from 'cornerstone-shared/decoders/decodeJPEGBaseline8Bit.js';
import decodeJPEGBaseline12Bit from 'cornerstone-shared/decoders/decodeJPEGBaseline12Bit-js.js';
import decodeJPEGLossless from 'cornerstone-shared/decoders/decodeJPEGLossless.js';
import decodeJPEGLS from 'cornerstone-shared/decoders/decodeJPEGLS.js';
import decodeJPEG2000 from 'cornerstone-shared/decoders/decodeJPEG2000.js';
import decodeHTJ2K from 'cornerstone-shared/decoders/decodeHTJ2K.js';
import { setWasmBasePath } from 'cornerstone-shared/wasmBasePath.js';
import { nativeSamples, storedValues, colourToRgb, valueRange } from './pixels.mjs';

setWasmBasePath(self.lumidraWasmBase || new URL('codecs/', self.location.href).href);

const BIG_ENDIAN = '1.2.840.10008.1.2.2';
const NATIVE = new Set(['1.2.840.10008.1.2', '1.2.840.10008.1.2.1', BIG_ENDIAN, '1.2.840.10008.1.2.1.99']);
const JPEG_LS = new Set(['1.2.840.10008.1.2.4.80', '1.2.840.10008.1.2.4.81']);
const J2K = new Set(['1.2.840.10008.1.2.4.90', '1.2.840.10008.1.2.4.91']);
const HTJ2K = new Set(['1.2.840.10008.1.2.4.201', '1.2.840.10008.1.2.4.202', '1.2.840.10008.1.2.4.203']);
const JPEG = new Set(['1.2.840.10008.1.2.4.50', '1.2.840.10008.1.2.4.51', '1.2.840.10008.1.2.4.57', '1.2.840.10008.1.2.4.70']);
const RLE = new Set(['1.2.840.10008.1.2.5']);
const DAMAGED = [
  [J2K, 'JPEG 2000 data damaged'], [HTJ2K, 'HTJ2K data damaged'], [JPEG_LS, 'JPEG-LS data damaged'],
  [JPEG, 'JPEG data damaged'], [RLE, 'RLE data damaged'],
];

function imageFrame(layout) {
  return {
    rows: layout.rows, columns: layout.columns, samplesPerPixel: layout.samplesPerPixel,
    bitsAllocated: layout.bitsAllocated, bitsStored: layout.bitsStored, pixelRepresentation: layout.pixelRepresentation,
    planarConfiguration: layout.planarConfiguration, photometricInterpretation: layout.photometric,
    signed: layout.pixelRepresentation === 1, bytesPerPixel: layout.bitsAllocated <= 8 ? 1 : 2,
  };
}

// Samples as the codec leaves them, copied out of its memory, and how they are laid out.
async function codecSamples(layout, bytes) {
  const ts = layout.transferSyntax;
  const info = imageFrame(layout);
  let result;
  let planar = false;
  let alreadyRgb = false;
  if (ts === '1.2.840.10008.1.2.5') {
    result = await decodeRLE(info, bytes);
    planar = layout.planarConfiguration === 1;
  } else if (ts === '1.2.840.10008.1.2.4.50') {
    result = await decodeJPEGBaseline8Bit(bytes, info);
    alreadyRgb = true;
  } else if (ts === '1.2.840.10008.1.2.4.51') {
    // This decoder leaves YCbCr as it is; libjpeg-turbo above turns it into RGB.
    result = await decodeJPEGBaseline12Bit(info, bytes);
  } else if (ts === '1.2.840.10008.1.2.4.57' || ts === '1.2.840.10008.1.2.4.70') {
    result = await decodeJPEGLossless(info, bytes);
  } else if (JPEG_LS.has(ts)) {
    result = await decodeJPEGLS(bytes, info);
    planar = result.interleaveMode === 0;
  } else if (J2K.has(ts)) {
    result = await decodeJPEG2000(bytes, info);
    alreadyRgb = layout.photometric !== 'YBR_FULL' && layout.photometric !== 'YBR_FULL_422';
  } else if (HTJ2K.has(ts)) {
    result = await decodeHTJ2K(bytes, info);
    alreadyRgb = layout.photometric !== 'YBR_FULL' && layout.photometric !== 'YBR_FULL_422';
  } else {
    throw new Error('unsupported transfer syntax ' + ts);
  }
  const pixels = result && result.pixelData;
  const expected = layout.rows * layout.columns * (layout.samplesPerPixel === 3 ? 3 : 1);
  if (!pixels || pixels.length < expected) {
    throw new Error('the decoded frame is ' + (pixels ? pixels.length : 0) + ' samples, not ' + expected);
  }
  return { samples: pixels.slice(0, expected), planar, alreadyRgb };
}

async function decodeFrame(layout, bytes, bitOffset) {
  let decoded;
  if (NATIVE.has(layout.transferSyntax)) {
    decoded = {
      samples: nativeSamples(layout, bytes, bitOffset, layout.transferSyntax === BIG_ENDIAN),
      planar: layout.planarConfiguration === 1,
      alreadyRgb: false,
    };
  } else {
    decoded = await codecSamples(layout, bytes);
  }
  if (layout.samplesPerPixel === 3 || layout.photometric === 'PALETTE COLOR') {
    return { kind: 'rgb', pixels: colourToRgb(layout, decoded.samples, decoded.alreadyRgb, decoded.planar), min: 0, max: 255 };
  }
  const pixels = storedValues(layout, decoded.samples);
  return Object.assign({ kind: 'grey', pixels }, valueRange(pixels));
}

// A codec's failure, or a frame it decodes short, means the compressed data is damaged; unless
// the codec itself could not be loaded from the disc.
function reasonFor(layout, error) {
  const text = typeof error === 'string' ? error : (error && error.message) || String(error);
  if (/CompileError|fetching of the wasm failed|failed to load wasm/i.test(text)) {
    return 'the decoder for ' + layout.transferSyntax + ' could not be loaded (' + text + ')';
  }
  for (const [syntaxes, reason] of DAMAGED) {
    if (syntaxes.has(layout.transferSyntax)) return reason + ' (' + text + ')';
  }
  return text;
}

self.onmessage = async (event) => {
  const { id, layout, bytes, bitOffset } = event.data;
  try {
    const frame = await decodeFrame(layout, bytes, bitOffset || 0);
    self.postMessage({ id, frame }, [frame.pixels.buffer]);
  } catch (error) {
    // A codec that aborted has left its WebAssembly instance unusable: this worker must go.
    const fatal = error instanceof WebAssembly.RuntimeError || /abort/i.test(String(error && error.message));
    self.postMessage({ id, error: reasonFor(layout, error), fatal });
  }
};
