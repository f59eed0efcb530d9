// The panel's document view: a report or a PDF in place of the image, read from the disc, with
// the reason named when it cannot be shown.
(function (root) {
  'use strict';

  // panel: the element whose data-view switches between 'image' and 'document'; container:
  // where documents are drawn; options: { read(path), findImage(reference), openImage(reference) }
  function createDocumentView(panel, container, options) {
    let current = null;
    let token = 0;

    function close() {
      token++;
      if (current) current.close();
      current = null;
    }

    async function show(entry) {
      close();
      const mine = token;
      panel.dataset.view = 'document';
      container.dataset.state = 'loading';
      container.dataset.kind = entry.kind;
      container.textContent = 'Loading ' + (entry.title || 'the document') + '…';
      try {
        const doc = await options.read(entry.path);
        if (mine !== token) return;
        const view = doc.kind === 'pdf'
          ? await root.LumidraPdfView.showPdf(container, doc, entry.path)
          : root.LumidraReportView.showReport(container, doc, options);
        if (mine !== token) view.close();
        else current = view;
      } catch (e) {
        if (mine !== token) return;
        container.dataset.state = 'error';
        container.textContent = (entry.title || 'The document') + ' (file ' + entry.path + ') could not be shown: ' + e.message;
      }
    }

    function hide() {
      close();
      panel.dataset.view = 'image';
    }

    return { show, hide };
  }

  root.LumidraDocumentView = { createDocumentView };
})(typeof self !== 'undefined' ? self : this);
