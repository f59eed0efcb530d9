// An encapsulated PDF on the page: every page drawn by pdf.js with its text selectable, zoom out,
// in and to the panel's width, and a button that saves the PDF as the disc holds it.
(function (root) {
  'use strict';

  const ZOOM_STEP = 1.25;
  const MIN_SCALE = 0.25;
  const MAX_SCALE = 6;

  function element(tag, className, text) {
    const el = document.createElement(tag);
    if (className) el.className = className;
    if (text !== undefined) el.textContent = text;
    return el;
  }

  function button(text, title, action) {
    const b = element('button', null, text);
    b.type = 'button';
    b.title = title;
    b.addEventListener('click', action);
    return b;
  }

  // A file name for saving: the title's letters and digits, else the document's name on the disc.
  function saveName(doc, fallback) {
    const base = (doc.title || '').replace(/[^\p{L}\p{N} _-]+/gu, ' ').trim().replace(/\s+/g, '_').slice(0, 80);
    return (base || fallback.split('/').pop() || 'report') + '.pdf';
  }

  // Shows doc (as LumidraDocuments.readDocument gives it) in container; resolves to { close() }
  // once the first pages are drawn. path names the file on the disc.
  async function showPdf(container, doc, path) {
    const Pdf = root.LumidraPdf;
    const opened = await Pdf.open(doc.pdf);
    const bar = element('div', 'document-tools');
    const pagesBox = element('div', 'pdf-pages pdfViewer');
    const zoomText = element('span', 'pdf-zoom');
    const blobUrl = URL.createObjectURL(new Blob([doc.pdf], { type: 'application/pdf' }));
    const save = element('a', 'save-button', 'Save PDF');
    save.href = blobUrl;
    save.download = saveName(doc, path);
    save.title = 'Save the report as a PDF file';
    let scale = 1;
    let drawing = 0;
    const pageElements = [];
    for (let n = 1; n <= opened.pages; n++) {
      const page = element('div', 'page');
      page.dataset.page = String(n);
      page.setAttribute('aria-label', 'Page ' + n + ' of ' + opened.pages);
      pageElements.push(page);
      pagesBox.appendChild(page);
    }

    async function draw() {
      const token = ++drawing;
      zoomText.textContent = Math.round(scale * 100) + '%';
      container.dataset.state = 'drawing';
      for (let i = 0; i < pageElements.length; i++) {
        if (token !== drawing) return;
        await Pdf.renderPage(opened, i + 1, scale, pageElements[i]);
      }
      if (token === drawing) container.dataset.state = 'ready';
    }

    function zoom(to) {
      scale = Math.max(MIN_SCALE, Math.min(MAX_SCALE, to));
      return draw();
    }

    async function fitWidth() {
      const page = await opened.document.getPage(1);
      const width = page.getViewport({ scale: 1 }).width;
      const room = pagesBox.clientWidth - 40;
      return zoom(room > 0 && width > 0 ? room / width : 1);
    }

    bar.append(
      element('span', 'pdf-page-count', opened.pages + (opened.pages === 1 ? ' page' : ' pages')),
      button('−', 'Zoom out', () => zoom(scale / ZOOM_STEP)),
      zoomText,
      button('+', 'Zoom in', () => zoom(scale * ZOOM_STEP)),
      button('Fit width', 'Fit the pages to the panel\'s width', fitWidth),
      save);
    container.replaceChildren(bar, pagesBox);
    await fitWidth();
    return {
      info: opened.info,
      close() {
        drawing++;
        URL.revokeObjectURL(blobUrl);
        Pdf.close(opened);
      },
    };
  }

  root.LumidraPdfView = { showPdf, saveName };
})(typeof self !== 'undefined' ? self : this);
