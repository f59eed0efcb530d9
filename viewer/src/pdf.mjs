// What the page uses of pdf.js (window.LumidraPdf): a document opened from the bytes of an
// encapsulated PDF, and one page drawn into an element at a scale, its text laid over the picture
// so that it can be selected and copied. The worker, fonts, character maps and decoders all come
// from the disc, where the page's libraries are; a document never fetches anything itself.
import { getDocument, GlobalWorkerOptions, PDFWorker, TextLayer } from 'pdfjs-dist/legacy/build/pdf.mjs';
import { carrying, carriedFile, CarriedDataFactory } from './pdf_carried.mjs';

const here = (name) => self.LumidraLibraries.url(name);
GlobalWorkerOptions.workerSrc = here('pdf.worker.js');

let workerUrl = null;

// From file://, each document gets a worker of its own, started from a blob of the carried worker
// script.
async function carriedWorker() {
  if (!workerUrl) {
    workerUrl = carriedFile(here('pdf.worker.js')).then((bytes) => URL.createObjectURL(new Blob([bytes], { type: 'text/javascript' })));
    workerUrl.catch(() => {
      workerUrl = null;
    });
  }
  const port = new Worker(await workerUrl);
  return { worker: new PDFWorker({ port }), port };
}

// A worker given to pdf.js outlives the task unless ended with it.
function end(task, own) {
  return task.destroy().finally(() => {
    if (!own) return;
    own.worker.destroy();
    own.port.terminate();
  });
}

// Resolves to { pages, info: { title, author, created }, document, task }.
async function open(bytes) {
  const options = {
    // pdf.js takes the buffer over; the caller keeps its own copy.
    data: bytes.slice(),
    cMapUrl: here('pdfjs/cmaps/'),
    cMapPacked: true,
    standardFontDataUrl: here('pdfjs/standard_fonts/'),
    wasmUrl: here('pdfjs/wasm/'),
    iccUrl: here('pdfjs/iccs/'),
    isEvalSupported: false,
    enableXfa: false,
  };
  const own = carrying() ? await carriedWorker() : null;
  // There the data pdf.js asks for comes from the carried scripts. The CMYK profile, which pdf.js
  // would read with a synchronous request, is left out: such colours are converted without it.
  if (own) Object.assign(options, { worker: own.worker, BinaryDataFactory: CarriedDataFactory, useWorkerFetch: false, iccUrl: null });
  const task = getDocument(options);
  let doc;
  try {
    doc = await task.promise;
  } catch (e) {
    end(task, own);
    throw e;
  }
  let info = {};
  try {
    info = (await doc.getMetadata()).info || {};
  } catch (e) {
    // A document without readable metadata is still shown.
  }
  return {
    pages: doc.numPages,
    info: { title: info.Title || '', author: info.Author || '', created: info.CreationDate || '' },
    document: doc,
    task,
    own,
  };
}

// Draws page number (1-based) into element at scale (1 = 72 dpi CSS pixels), replacing what the
// element held.
async function renderPage(opened, number, scale, element) {
  const page = await opened.document.getPage(number);
  const viewport = page.getViewport({ scale });
  const ratio = window.devicePixelRatio || 1;
  const canvas = document.createElement('canvas');
  canvas.width = Math.floor(viewport.width * ratio);
  canvas.height = Math.floor(viewport.height * ratio);
  canvas.style.width = Math.floor(viewport.width) + 'px';
  canvas.style.height = Math.floor(viewport.height) + 'px';
  const text = document.createElement('div');
  text.className = 'textLayer';
  element.replaceChildren(canvas, text);
  element.style.width = canvas.style.width;
  element.style.height = canvas.style.height;
  element.style.setProperty('--scale-factor', String(scale));
  await page.render({
    canvasContext: canvas.getContext('2d'),
    canvas,
    viewport,
    transform: ratio === 1 ? null : [ratio, 0, 0, ratio, 0, 0],
  }).promise;
  await new TextLayer({ textContentSource: page.streamTextContent(), container: text, viewport }).render();
  page.cleanup();
}

function close(opened) {
  return end(opened.task, opened.own);
}

self.LumidraPdf = { open, renderPage, close };
