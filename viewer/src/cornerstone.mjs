// What the page uses of cornerstone3D (window.LumidraCornerstone): its rendering, volumes and
// tools over Lumidra's own reading and decoding. Images are named `lumidra:<path>#<frame>`; the
// loader and the metadata provider answer from the image module (window.LumidraImages), so the
// decode pool, its priorities and its reasons stay ours.
import {
  init as initCore, RenderingEngine, Enums, imageLoader, metaData, volumeLoader, cache, utilities,
  setVolumesForViewports, getRenderingEngine, eventTarget, StreamingImageVolume, getRenderingCapabilities,
} from '@cornerstonejs/core';
import * as tools from '@cornerstonejs/tools';
import { Filter } from '@kitware/vtk.js/Rendering/OpenGL/Texture/Constants.js';
import { volumeOf } from './volume.mjs';

const SCHEME = 'lumidra';
const known = new Map();

export function imageIdOf(url, frame) {
  return SCHEME + ':' + url + '#' + frame;
}

function parseId(imageId) {
  const hash = imageId.lastIndexOf('#');
  return { url: imageId.slice(SCHEME.length + 1, hash), frame: Number(imageId.slice(hash + 1)) };
}

const ARRAYS = { Float32Array, Int16Array, Uint16Array, Uint8Array, Int8Array, Int32Array, Uint32Array };

// Stored values through the modality rescale: the figures tools show are then in the modality's
// units (HU on CT).
function scaled(decoded, rescale, type) {
  const { slope, intercept } = rescale;
  const integral = Number.isInteger(slope) && Number.isInteger(intercept);
  const lo = Math.min(decoded.min * slope, decoded.max * slope) + intercept;
  const hi = Math.max(decoded.min * slope, decoded.max * slope) + intercept;
  let Type = ARRAYS[type];
  if (!Type) Type = !integral ? Float32Array : lo >= -32768 && hi <= 32767 ? Int16Array : Float32Array;
  const out = new Type(decoded.pixels.length);
  for (let i = 0; i < out.length; i++) out[i] = decoded.pixels[i] * slope + intercept;
  return { pixels: out, min: lo, max: hi };
}

async function loadImage(imageId, options) {
  const { url, frame } = parseId(imageId);
  const image = await window.LumidraImages.open(url);
  await image.loadFrame(frame);
  const decoded = image.pixels(frame);
  if (!decoded) throw new Error('frame ' + (frame + 1) + ' of ' + url + ' was pushed out before it was shown');
  const color = decoded.kind === 'rgb';
  const rescale = image.rescales[frame];
  const target = options && options.targetBuffer && options.targetBuffer.type;
  const data = color ? { pixels: decoded.pixels, min: 0, max: 255 } : scaled(decoded, rescale, target);
  const view = window.LumidraImages.defaultView(image, frame);
  const spacing = image.pixelSpacing || [1, 1];
  return {
    imageId,
    rows: image.rows,
    columns: image.columns,
    height: image.rows,
    width: image.columns,
    color,
    rgba: false,
    numberOfComponents: color ? 3 : 1,
    minPixelValue: data.min,
    maxPixelValue: data.max,
    slope: 1,
    intercept: 0,
    windowCenter: view.center,
    windowWidth: view.width,
    invert: image.photometric === 'MONOCHROME1',
    rowPixelSpacing: spacing[0],
    columnPixelSpacing: spacing[1],
    sizeInBytes: data.pixels.byteLength,
    getPixelData: () => data.pixels,
    dataType: data.pixels.constructor.name,
    preScale: { enabled: !color, scaled: !color, scalingParameters: { rescaleSlope: rescale.slope, rescaleIntercept: rescale.intercept, modality: image.modality } },
  };
}

// Each frame's plane by its image id, made once: cornerstone asks for it many times a drawing (the
// crosshairs look for the slice nearest each plane among all of a volume's slices at every step).
// Emptied when an image is opened anew.
const planeModules = new Map();

function planeModule(imageId, image, frame) {
  const plane = image.planes[frame] || {};
  const spacing = image.pixelSpacing;
  const o = plane.orientation;
  const module = {
    frameOfReferenceUID: image.frameOfReference || undefined,
    rows: image.rows,
    columns: image.columns,
    imageOrientationPatient: o || undefined,
    rowCosines: o ? o.slice(0, 3) : undefined,
    columnCosines: o ? o.slice(3, 6) : undefined,
    imagePositionPatient: plane.position || undefined,
    sliceThickness: plane.thickness || undefined,
    sliceLocation: plane.location === null ? undefined : plane.location,
    pixelSpacing: spacing || undefined,
    rowPixelSpacing: spacing ? spacing[0] : null,
    columnPixelSpacing: spacing ? spacing[1] : null,
    usingDefaultValues: !spacing,
  };
  planeModules.set(imageId, module);
  return module;
}

// Metadata for an image already opened (known): cornerstone asks synchronously.
function provider(type, imageId) {
  if (type === 'imagePlaneModule' && planeModules.has(imageId)) return planeModules.get(imageId);
  if (typeof imageId !== 'string' || !imageId.startsWith(SCHEME + ':')) return undefined;
  const { url, frame } = parseId(imageId);
  const image = known.get(url);
  if (!image) return undefined;
  const rescale = image.rescales[frame];
  switch (type) {
    case 'imagePlaneModule':
      return planeModule(imageId, image, frame);
    case 'imagePixelModule':
      return {
        samplesPerPixel: image.samplesPerPixel,
        photometricInterpretation: image.photometric,
        rows: image.rows,
        columns: image.columns,
        bitsAllocated: image.bitsAllocated,
        bitsStored: image.bitsStored,
        highBit: image.bitsStored - 1,
        pixelRepresentation: image.pixelRepresentation,
      };
    case 'modalityLutModule':
      return { rescaleSlope: rescale.slope, rescaleIntercept: rescale.intercept, rescaleType: image.modality === 'CT' ? 'HU' : undefined };
    case 'voiLutModule':
      return {
        windowCenter: image.windows.map((w) => w.center),
        windowWidth: image.windows.map((w) => w.width),
      };
    case 'generalSeriesModule':
      return { modality: image.modality, seriesInstanceUID: image.seriesInstanceUid, seriesNumber: undefined };
    case 'generalImageModule':
      return { instanceNumber: image.instanceNumber, sopInstanceUID: image.sopInstanceUid };
    case 'sopCommonModule':
      return { sopInstanceUID: image.sopInstanceUid };
    case 'transferSyntax':
      return { transferSyntaxUID: image.transferSyntax };
    default:
      return undefined;
  }
}

// cornerstone's streaming volume, but holding 16-bit values as 32-bit floats where the graphics
// cannot filter 16-bit normalised textures: the texture is then 32-bit floats anyway, and vtk.js
// would widen every slice again on the page's thread each time the texture is filled. Only while
// the floats take at most half the cache: a long series stays 16-bit, slower to fill the texture
// but as large as it was, where floats would crowd out the images or not fit at all.
function streamingVolume(volumeId, options) {
  const props = utilities.generateVolumePropsFromImageIds(options.imageIds, volumeId);
  const gpu = getRenderingCapabilities();
  const [columns, rows, slices] = props.dimensions;
  const floatBytes = columns * rows * slices * (props.numberOfComponents || 1) * 4;
  const widen = ['Int16Array', 'Uint16Array'].includes(props.dataType) && !(gpu.norm16 && gpu.norm16Linear) &&
    gpu.floatLinear && floatBytes <= cache.getMaxCacheSize() / 2;
  const volume = new StreamingImageVolume({
    volumeId,
    metadata: props.metadata,
    dimensions: props.dimensions,
    spacing: props.spacing,
    origin: props.origin,
    direction: props.direction,
    imageIds: props.imageIds,
    dataType: widen ? 'Float32Array' : props.dataType,
    numberOfComponents: props.numberOfComponents,
  }, {
    imageIds: props.imageIds,
    loadStatus: { loaded: false, loading: false, cancelled: false, cachedFrames: [], callbacks: [] },
  });
  return { promise: Promise.resolve(volume), decache: () => volume.destroy(), cancel: () => volume.cancelLoading() };
}

// The planes of a volume share its one texture. Its filter is set before the first of them is
// drawn: set while drawing, it marks every slice changed, and the next plane sends them all again.
function setVolumeFilter(volumeId, linear) {
  const texture = cache.getVolume(volumeId).vtkOpenGLTexture;
  const filter = linear ? Filter.LINEAR : Filter.NEAREST;
  texture.setMinificationFilter(filter);
  texture.setMagnificationFilter(filter);
}

let started = false;

function start() {
  if (started) return;
  started = true;
  initCore({ rendering: { preferSizeOverAccuracy: true } });
  tools.init();
  imageLoader.registerImageLoader(SCHEME, (imageId, options) => ({ promise: loadImage(imageId, options) }));
  volumeLoader.registerVolumeLoader('cornerstoneStreamingImageVolume', streamingVolume);
  metaData.addProvider(provider, 10000);
  // Beside the image module's own cache of decoded frames; a 500-slice CT volume takes 250 MiB.
  cache.setMaxCacheSize(1024 * 1024 * 1024);
}

// Opens every image of the list, so that the provider can answer for each of their frames, and
// names their frames: in order along the slice normal when they make a volume, else as listed.
async function openSeries(urls) {
  const images = await Promise.all(urls.map((url) => window.LumidraImages.open(url)));
  urls.forEach((url, i) => {
    if (known.has(url) && known.get(url) !== images[i]) planeModules.clear();
    known.set(url, images[i]);
  });
  const frames = [];
  images.forEach((image, i) => {
    for (let f = 0; f < image.frameCount; f++) {
      frames.push({
        imageId: imageIdOf(urls[i], f), rows: image.rows, columns: image.columns,
        frameOfReference: image.frameOfReference, plane: image.planes[f] || {},
      });
    }
  });
  const volume = volumeOf(frames);
  // Head first: the slice nearest the head (largest position along the normal) on top.
  const imageIds = volume.reason ? frames.map((f) => f.imageId) : volume.order.map((i) => frames[i].imageId).reverse();
  return { imageIds, notVolume: volume.reason, modality: images[0] && images[0].modality };
}

self.LumidraCornerstone = {
  start, imageIdOf, openSeries, setVolumeFilter, RenderingEngine, Enums, volumeLoader, cache, utilities, metaData, imageLoader,
  setVolumesForViewports, getRenderingEngine, eventTarget, tools,
};
