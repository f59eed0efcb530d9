// What the viewer needs to know about one image file before its pixels are decoded: the pixel
// layout, the transforms to grey levels, the texts for the overlay, and where each frame's bytes
// sit in the file. Anything that cannot be shown is refused here, with the reason named.
import dicomParser from 'dicom-parser';
import Format from '../js/format.js';
import { parse, Values, IMPLICIT_LE, EXPLICIT_LE, EXPLICIT_BE, DEFLATED_LE } from './dataset.mjs';

export class ImageError extends Error {}

export const TRANSFER_SYNTAXES = {
  [IMPLICIT_LE]: 'implicit VR little endian',
  [EXPLICIT_LE]: 'explicit VR little endian',
  [EXPLICIT_BE]: 'explicit VR big endian',
  [DEFLATED_LE]: 'deflated explicit VR little endian',
  '1.2.840.10008.1.2.5': 'RLE lossless',
  '1.2.840.10008.1.2.4.50': 'JPEG baseline',
  '1.2.840.10008.1.2.4.51': 'JPEG extended',
  '1.2.840.10008.1.2.4.57': 'JPEG lossless',
  '1.2.840.10008.1.2.4.70': 'JPEG lossless, first-order prediction',
  '1.2.840.10008.1.2.4.80': 'JPEG-LS lossless',
  '1.2.840.10008.1.2.4.81': 'JPEG-LS near-lossless',
  '1.2.840.10008.1.2.4.90': 'JPEG 2000 lossless',
  '1.2.840.10008.1.2.4.91': 'JPEG 2000',
  '1.2.840.10008.1.2.4.201': 'HTJ2K lossless',
  '1.2.840.10008.1.2.4.202': 'HTJ2K lossless RPCL',
  '1.2.840.10008.1.2.4.203': 'HTJ2K',
};
const NATIVE = new Set([IMPLICIT_LE, EXPLICIT_LE, EXPLICIT_BE, DEFLATED_LE]);
const JPEG_FAMILY = new Set(['1.2.840.10008.1.2.4.50', '1.2.840.10008.1.2.4.51', '1.2.840.10008.1.2.4.57', '1.2.840.10008.1.2.4.70']);
const GREY = new Set(['MONOCHROME1', 'MONOCHROME2']);
const COLOUR = new Set(['RGB', 'YBR_FULL', 'YBR_FULL_422', 'YBR_ICT', 'YBR_RCT']);
const PIXEL_DATA = 'x7fe00010';
const SHARED_GROUPS = 0x52009229;
const PER_FRAME_GROUPS = 0x52009230;
const PIXEL_VALUE_TRANSFORMATION = 0x00289145;
const FRAME_VOI_LUT = 0x00289132;
const PLANE_POSITION = 0x00209113;
const PLANE_ORIENTATION = 0x00209116;
const PIXEL_MEASURES = 0x00289110;
const CT_PRESETS = [
  { name: 'Brain', center: 40, width: 80 },
  { name: 'Soft tissue', center: 40, width: 400 },
  { name: 'Lung', center: -600, width: 1500 },
  { name: 'Bone', center: 300, width: 1500 },
];

function required(v, tag, name) {
  const value = v.uint16(tag);
  if (value === null) throw new ImageError('the image has no ' + name);
  return value;
}

// A lookup table of the file: descriptor (entries, first mapped value, bits) and its data.
function readLut(v, descriptorTag, dataTag, firstSigned) {
  const entries = v.uint16(descriptorTag, 0);
  const bits = v.uint16(descriptorTag, 2);
  const data = v.bytes(dataTag);
  if (entries === null || bits === null || !data) return null;
  const count = entries === 0 ? 65536 : entries;
  const first = firstSigned ? v.int16(descriptorTag, 1) : v.uint16(descriptorTag, 1);
  const values = new Uint16Array(count);
  // Eight-bit tables come either one value a byte or one value a word.
  const oneByte = bits <= 8 && data.length >= count && data.length < count * 2;
  if (!oneByte && data.length < count * 2) return null;
  const view = new DataView(data.buffer, data.byteOffset, data.byteLength);
  for (let i = 0; i < count; i++) values[i] = oneByte ? data[i] : view.getUint16(i * 2, v.ds.byteArrayParser === dicomParser.littleEndianByteArrayParser);
  return { first, bits, values };
}

function windowsOf(v) {
  const centers = v.numbers(0x00281050);
  const widths = v.numbers(0x00281051);
  const names = v.texts(0x00281055);
  const out = [];
  for (let i = 0; i < Math.min(centers.length, widths.length); i++) {
    if (widths[i] >= 1) out.push({ name: names[i] || (centers.length > 1 ? 'File ' + (i + 1) : 'File'), center: centers[i], width: widths[i] });
  }
  return out;
}

function rescaleOf(v) {
  const slope = v.number(0x00281053);
  const intercept = v.number(0x00281052);
  if (slope === null && intercept === null) return null;
  return { slope: slope === null || slope === 0 ? 1 : slope, intercept: intercept === null ? 0 : intercept };
}

// The first item of a functional group's macro, from the frame's own groups before the shared ones.
function functionalGroup(groups, frame, macro) {
  const perFrame = groups.perFrame[frame];
  const own = perFrame && perFrame.items(macro)[0];
  if (own) return own;
  return (groups.shared && groups.shared.items(macro)[0]) || null;
}

function checkLayout(h) {
  if (h.rows < 1 || h.columns < 1) throw new ImageError('the image is empty');
  if (![1, 8, 16, 32].includes(h.bitsAllocated)) throw new ImageError(h.bitsAllocated + '-bit pixels are not supported');
  if (h.bitsStored < 1 || h.bitsStored > h.bitsAllocated) throw new ImageError('Bits Stored (' + h.bitsStored + ') is out of range');
  if (h.samplesPerPixel === 1) {
    if (!GREY.has(h.photometric) && h.photometric !== 'PALETTE COLOR') {
      throw new ImageError(h.photometric + ' images with one sample per pixel are not supported');
    }
  } else if (h.samplesPerPixel === 3) {
    if (!COLOUR.has(h.photometric)) throw new ImageError(h.photometric + ' colour images are not supported');
    if (h.bitsAllocated === 1 || h.bitsAllocated === 32) throw new ImageError(h.bitsAllocated + '-bit colour images are not supported');
  } else {
    throw new ImageError(h.samplesPerPixel + ' samples per pixel are not supported');
  }
}

function paletteOf(v, signed) {
  if (v.has(0x00281221)) throw new ImageError('segmented palette colour tables are not supported');
  const red = readLut(v, 0x00281101, 0x00281201, signed);
  const green = readLut(v, 0x00281102, 0x00281202, signed);
  const blue = readLut(v, 0x00281103, 0x00281203, signed);
  if (!red || !green || !blue) throw new ImageError('the palette colour tables are missing or damaged');
  return { red, green, blue };
}

// The texts the page shows beside the image ('' when absent); the patient's name readable.
function textsOf(v) {
  return {
    instanceNumber: v.text(0x00200013), sopInstanceUid: v.text(0x00080018), seriesInstanceUid: v.text(0x0020000e),
    patientName: Format.personName(v.text(0x00100010)), patientId: v.text(0x00100020), patientBirthDate: v.text(0x00100030),
    patientSex: v.text(0x00100040), studyDate: v.text(0x00080020), studyDescription: v.text(0x00081030),
    seriesDescription: v.text(0x0008103e), institutionName: v.text(0x00080080),
  };
}

// Reads the header of a file; throws DicomError or ImageError naming what stops it.
export function readHeader(arrayBuffer) {
  const { dataSet, transferSyntax } = parse(arrayBuffer);
  if (!TRANSFER_SYNTAXES[transferSyntax]) {
    throw new ImageError('unsupported transfer syntax ' + (transferSyntax || '(none)'));
  }
  const v = new Values(dataSet);
  const pixels = dataSet.elements[PIXEL_DATA];
  if (!pixels) {
    const float = dataSet.elements.x7fe00008 || dataSet.elements.x7fe00009;
    throw new ImageError(float ? 'floating-point pixel data is not supported' : 'the file holds no image');
  }
  const samplesPerPixel = v.uint16(0x00280002) || 1;
  const h = {
    transferSyntax,
    transferSyntaxName: TRANSFER_SYNTAXES[transferSyntax],
    rows: required(v, 0x00280010, 'Rows'),
    columns: required(v, 0x00280011, 'Columns'),
    samplesPerPixel,
    photometric: (v.text(0x00280004) || (samplesPerPixel === 3 ? 'RGB' : 'MONOCHROME2')).toUpperCase(),
    bitsAllocated: required(v, 0x00280100, 'Bits Allocated'),
    planarConfiguration: v.uint16(0x00280006) === 1 ? 1 : 0,
    pixelRepresentation: v.uint16(0x00280103) === 1 ? 1 : 0,
    frameCount: Math.max(1, Math.floor(v.number(0x00280008) || 1)),
    modality: v.text(0x00080060),
  };
  h.bitsStored = v.uint16(0x00280101) || h.bitsAllocated;
  checkLayout(h);
  if (h.photometric === 'PALETTE COLOR') h.palette = paletteOf(v, h.pixelRepresentation === 1);
  h.isColor = samplesPerPixel === 3 || h.photometric === 'PALETTE COLOR';
  h.windows = windowsOf(v);
  h.rescale = rescaleOf(v) || { slope: 1, intercept: 0 };
  h.voiLuts = v.items(0x00283010).map((item, i) => {
    const lut = readLut(item, 0x00283002, 0x00283006, h.pixelRepresentation === 1);
    return lut && Object.assign(lut, { name: item.text(0x00283003) || 'File LUT ' + (i + 1) });
  }).filter(Boolean);
  const spacing = v.numbers(0x00280030);
  const measured = spacing.length ? spacing : v.numbers(0x00181164);
  h.pixelSpacing = measured.length >= 2 && measured[0] > 0 && measured[1] > 0 ? [measured[0], measured[1]] : null;
  h.texts = textsOf(v);
  const frameTime = v.number(0x00181063);
  h.frameTime = frameTime > 0 ? frameTime : null;
  h.values = v;
  h.pixelElement = pixels;
  h.dataSet = dataSet;
  checkPixelLength(h);
  const groups = { perFrame: v.items(PER_FRAME_GROUPS), shared: v.items(SHARED_GROUPS)[0] };
  h.frameTransforms = [];
  for (let i = 0; i < h.frameCount; i++) h.frameTransforms.push(frameTransforms(h, groups, i));
  h.frameOfReference = v.text(0x00200052);
  h.planes = [];
  for (let i = 0; i < h.frameCount; i++) h.planes.push(framePlane(v, groups, i));
  return h;
}

// Uncompressed YBR_FULL_422 keeps two luminance values and one chroma pair for every two pixels.
function frameBits(h) {
  const samples = h.photometric === 'YBR_FULL_422' ? 2 : h.samplesPerPixel;
  return h.rows * h.columns * samples * h.bitsAllocated;
}

function checkPixelLength(h) {
  const e = h.pixelElement;
  if (e.encapsulatedPixelData || e.fragments) {
    if (NATIVE.has(h.transferSyntax)) throw new ImageError('the pixel data is encapsulated in an uncompressed transfer syntax');
    // Every compressed frame takes at least one fragment.
    const fragments = (e.fragments || []).length;
    if (h.frameCount > fragments) {
      throw new ImageError('the file names ' + h.frameCount + ' frames but holds ' + fragments + ' compressed fragments');
    }
    return;
  }
  if (!NATIVE.has(h.transferSyntax)) throw new ImageError('the compressed pixel data is not encapsulated');
  const needed = Math.ceil(frameBits(h) * h.frameCount / 8);
  if (e.length < needed) {
    throw new ImageError('the pixel data is shorter than the image (' + e.length + ' of ' + needed + ' bytes)');
  }
}

// Rescale and windows for one frame: the frame's functional groups before the file's own values.
function frameTransforms(h, groups, frame) {
  const transform = functionalGroup(groups, frame, PIXEL_VALUE_TRANSFORMATION);
  const voi = functionalGroup(groups, frame, FRAME_VOI_LUT);
  const rescale = (transform && rescaleOf(transform)) || h.rescale;
  const windows = h.windows.length ? h.windows : (voi ? windowsOf(voi) : []);
  return { rescale, windows };
}

function vector(values, length) {
  return values.length === length && values.every(Number.isFinite) ? values : null;
}

// Where a frame lies in the patient: position of its first pixel, row and column directions,
// slice thickness; null parts when the file does not say. Enhanced images say it per frame.
function framePlane(v, groups, frame) {
  const position = functionalGroup(groups, frame, PLANE_POSITION) || v;
  const orientation = functionalGroup(groups, frame, PLANE_ORIENTATION) || v;
  const measures = functionalGroup(groups, frame, PIXEL_MEASURES) || v;
  const thickness = measures.number(0x00180050);
  return {
    position: vector(position.numbers(0x00200032), 3),
    orientation: vector(orientation.numbers(0x00200037), 6),
    thickness: thickness > 0 ? thickness : null,
    location: v.number(0x00201041),
  };
}

export function modalityPresets(h) {
  return h.modality === 'CT' && !h.isColor ? CT_PRESETS.map((p) => Object.assign({}, p)) : [];
}

// The bytes of one frame, copied so that the file can go. Native frames of 1-bit pixels need not
// start on a byte; bitOffset says where in the first byte the frame begins.
export function frameBytes(h, frame) {
  if (frame < 0 || frame >= h.frameCount) throw new ImageError('the image has no frame ' + (frame + 1));
  const e = h.pixelElement;
  const all = h.dataSet.byteArray;
  if (!e.encapsulatedPixelData && !e.fragments) {
    const startBit = frame * frameBits(h);
    const start = e.dataOffset + Math.floor(startBit / 8);
    const end = e.dataOffset + Math.ceil((startBit + frameBits(h)) / 8);
    return { bytes: all.slice(start, end), bitOffset: startBit % 8 };
  }
  try {
    return { bytes: encapsulatedFrame(h, e, frame).slice(), bitOffset: 0 };
  } catch (error) {
    if (error instanceof ImageError) throw error;
    throw new ImageError('the compressed frame ' + (frame + 1) + ' cannot be found: ' + (error.message || error));
  }
}

function encapsulatedFrame(h, e, frame) {
  const fragments = e.fragments || [];
  if (!fragments.length) throw new ImageError('the compressed pixel data has no fragments');
  if (h.frameCount === 1) return dicomParser.readEncapsulatedPixelDataFromFragments(h.dataSet, e, 0, fragments.length);
  if (e.basicOffsetTable && e.basicOffsetTable.length) return dicomParser.readEncapsulatedImageFrame(h.dataSet, e, frame);
  if (fragments.length === h.frameCount) return dicomParser.readEncapsulatedPixelDataFromFragments(h.dataSet, e, frame, 1);
  if (JPEG_FAMILY.has(h.transferSyntax)) {
    const table = dicomParser.createJPEGBasicOffsetTable(h.dataSet, e);
    return dicomParser.readEncapsulatedImageFrame(h.dataSet, e, frame, table);
  }
  throw new ImageError('the frames of the compressed pixel data cannot be told apart');
}

// What the decoder in the worker needs to know about the pixels.
export function pixelLayout(h) {
  return {
    transferSyntax: h.transferSyntax, rows: h.rows, columns: h.columns, samplesPerPixel: h.samplesPerPixel,
    bitsAllocated: h.bitsAllocated, bitsStored: h.bitsStored, pixelRepresentation: h.pixelRepresentation,
    planarConfiguration: h.planarConfiguration, photometric: h.photometric, palette: h.palette || null,
    // Big-endian OW words hold two 8-bit samples in swapped order; OB bytes are as written.
    pixelVr: h.pixelElement.vr || 'OW',
  };
}
