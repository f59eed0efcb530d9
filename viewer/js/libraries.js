// Where the page finds the libraries it loads only on demand (cornerstone3D, pdf.js's worker and
// data): the folder its lumidra-libraries meta names, relative to the page. On a disc that is the
// one copy beside the study, outside viewer.7z, so the launcher has less to unpack before the
// browser opens.
(function (root) {
  'use strict';

  function url(name) {
    const meta = root.document.querySelector('meta[name="lumidra-libraries"]');
    return new URL(name, new URL(meta ? meta.content : 'js/', root.document.baseURI)).href;
  }

  root.LumidraLibraries = { url };
})(self);
