// The page's images (window.LumidraImages): where files are read from, the study index, image
// headers read on the page, pixels decoded in workers into a bounded cache, rendering under a
// view, window presets and preloading of the images around the one shown.
import { readDirectory } from './directory.mjs';
import { readHeader, frameBytes, pixelLayout } from './image_header.mjs';
import { renderFrame, defaultView as viewFor, presets as presetsFor } from './display.mjs';
import { createPool, morePressing } from './decode_pool.mjs';
import { createFrameCache } from './frame_cache.mjs';
import { workerFactory } from './worker_factory.mjs';
import { httpSource } from './sources/http.mjs';
import { fileSource, entriesOfFileList } from './sources/files.mjs';
import { readLocalStudy } from './local_study.mjs';

const CACHE_BYTES = 512 * 1024 * 1024;
const MAX_OPEN_IMAGES = 4096;
const scriptUrl = (document.currentScript && document.currentScript.src) || new URL('js/images.js', location.href).href;
// As many workers as cores: the page's own thread mostly waits while frames decode.
const workerCount = Math.max(1, Math.min(4, navigator.hardwareConcurrency || 2));
const pool = createPool(workerFactory(scriptUrl), workerCount);
// Where files are read: the page's server until the page names another source.
let source = httpSource('');
let sourceNumber = 0;
const cache = createFrameCache(CACHE_BYTES);
const opened = new Map();
const states = new WeakMap();
let preloadGeneration = 0;

async function loadHeader(path, from = source) {
  return readHeader(await from.read(path));
}

// What drawing needs once the file itself has gone.
function displayPart(h) {
  return {
    rows: h.rows, columns: h.columns, photometric: h.photometric, isColor: h.isColor, modality: h.modality,
    voiLuts: h.voiLuts, frameTransforms: h.frameTransforms,
  };
}

// The image as the page sees it.
function makeImage(path, header) {
  const image = Object.assign({
    path,
    rows: header.rows,
    columns: header.columns,
    frameCount: header.frameCount,
    isColor: header.isColor,
    photometric: header.photometric,
    modality: header.modality,
    bitsStored: header.bitsStored,
    bitsAllocated: header.bitsAllocated,
    transferSyntax: header.transferSyntax,
    pixelSpacing: header.pixelSpacing,
    frameTime: header.frameTime,
    windows: header.windows,
    samplesPerPixel: header.samplesPerPixel,
    pixelRepresentation: header.pixelRepresentation,
    frameOfReference: header.frameOfReference,
    planes: header.planes,
    rescales: header.frameTransforms.map((t) => t.rescale),
  }, header.texts, {
    instanceNumber: header.texts.instanceNumber === '' ? null : Number(header.texts.instanceNumber),
  });
  const state = { header: displayPart(header), source: header, decodedOnce: new Set(), pending: new Map() };
  addFrameAccess(image, path, state, header.frameCount);
  states.set(image, state);
  return image;
}

// The image's frame functions. They keep the state, never the header itself: state.source holds
// the whole file only until every frame has been decoded once.
function addFrameAccess(image, path, state, frameCount) {
  const from = source;
  const prefix = sourceNumber + ':' + path + '#';
  const key = (i) => prefix + i;
  const validFrame = (i) => Number.isInteger(i) && i >= 0 && i < frameCount;
  // Decodes frame i once; later calls find it in the cache until it is pushed out.
  image.loadFrame = (i, options) => {
    if (!validFrame(i)) return Promise.reject(new Error('the image has no frame ' + (Number(i) + 1)));
    const priority = (options && options.priority) || 'show';
    if (cache.get(key(i))) return Promise.resolve();
    const waiting = state.pending.get(i);
    if (waiting) {
      // Asked again more urgently: a frame still reading its file is queued at the new priority.
      waiting.priority = morePressing(waiting.priority, priority);
      pool.promote(key(i), waiting.priority);
      return waiting.work;
    }
    const pending = { priority, work: null };
    pending.work = (async () => {
      // Frames decoded before and since pushed out of the cache need the file again.
      if (!state.source) state.source = await loadHeader(path, from);
      const decoded = await pool.decode(key(i), pixelLayout(state.source), frameBytes(state.source, i), pending.priority);
      cache.put(key(i), decoded);
      state.decodedOnce.add(i);
      if (state.decodedOnce.size === frameCount) state.source = null;
    })();
    state.pending.set(i, pending);
    const forget = () => state.pending.delete(i);
    pending.work.then(forget, forget);
    return pending.work;
  };
  image.frameLoaded = (i) => validFrame(i) && cache.has(key(i));
  // The decoded frame: { kind: 'grey' (stored values) | 'rgb' (8-bit RGB), pixels, min, max }.
  image.pixels = (i) => cache.get(key(i)) || null;
}

function open(path) {
  const known = opened.get(path);
  if (known) {
    opened.delete(path);
    opened.set(path, known);
    return known;
  }
  const promise = loadHeader(path).then((header) => makeImage(path, header));
  opened.set(path, promise);
  promise.catch(() => opened.delete(path));
  for (const old of opened.keys()) {
    if (opened.size <= MAX_OPEN_IMAGES) break;
    opened.delete(old);
  }
  return promise;
}

function loadedFrame(image, frame) {
  const state = states.get(image);
  const decoded = state && image.pixels(frame);
  if (!decoded) throw new Error('frame ' + (frame + 1) + ' of ' + image.path + ' is not loaded');
  return { header: state.header, decoded };
}

function render(image, frame, view, rgba) {
  const { header, decoded } = loadedFrame(image, frame);
  renderFrame(header, frame, decoded, view, rgba);
}

function defaultView(image, frame) {
  const { header, decoded } = loadedFrame(image, frame);
  return viewFor(header, frame, decoded);
}

function presets(image, frame) {
  return presetsFor(states.get(image).header, frame || 0);
}

// Opens and decodes the first frame of each path in turn, behind every frame asked for. A new
// call replaces the list; preloading stops before it would fill more than half of the cache.
function preload(paths) {
  pool.dropPreloads();
  const generation = ++preloadGeneration;
  const budget = cache.stats().limit / 2;
  (async () => {
    let planned = 0;
    for (const path of paths) {
      if (generation !== preloadGeneration) return;
      try {
        const image = await open(path);
        if (generation !== preloadGeneration) return;
        planned += image.rows * image.columns * (image.isColor ? 3 : Math.ceil(image.bitsAllocated / 8));
        if (planned > budget) return;
        if (!image.frameLoaded(0)) image.loadFrame(0, { priority: 'preload' }).catch(() => {});
      } catch (e) {
        // An image that cannot be opened says why when it is shown.
      }
    }
  })();
}

function configure(options) {
  if (options && options.cacheBytes > 0) cache.setLimit(options.cacheBytes);
}

// Images are keyed by their path in the source, so a new source starts afresh.
function useSource(next) {
  source = next;
  sourceNumber++;
  opened.clear();
}

function stats() {
  return Object.assign({ decoding: pool.waiting(), workers: workerCount }, cache.stats());
}

self.LumidraImages = {
  readDirectory, open, render, defaultView, presets, preload, configure, stats,
  useSource, httpSource, fileSource, entriesOfFileList, readLocalStudy, warmUp: () => pool.warm(),
  readFile: (path) => source.read(path),
};
