// Key images: the images each key object selection names, as a series of their own to step
// through, and for every image whether (and in which selections) it is a key image.
(function (root) {
  'use strict';

  // patients: the study tree; read(path): Promise<document>. Selections are read in the
  // background, one at a time; changed() follows each one read.
  function createKeyImages(patients, read, changed) {
    const byUid = new Map();
    const selections = [];
    for (const patient of patients) {
      for (const study of patient.studies) {
        for (const series of study.series) {
          series.images.forEach((image, index) => {
            if (image.sopInstanceUid) byUid.set(image.sopInstanceUid, { image, series, index });
          });
          for (const doc of series.documents || []) if (doc.kind === 'keyImages') selections.push(doc);
        }
      }
    }
    const marks = new Map();
    const cache = new Map();

    // The selection's images found on the disc, as a series the page can show like any other.
    function seriesOf(entry) {
      if (!cache.has(entry)) {
        cache.set(entry, read(entry.path).then((doc) => {
          const found = root.LumidraDocuments.imageReferences(doc.content)
            .map((r) => byUid.get(r.sopInstanceUid)).filter(Boolean);
          const title = doc.title || entry.title || root.LumidraTexts.t('keyImages');
          for (const f of found) {
            const titles = marks.get(f.image.sopInstanceUid) || [];
            if (!titles.includes(title)) titles.push(title);
            marks.set(f.image.sopInstanceUid, titles);
          }
          return {
            title: root.LumidraTexts.t('keyImages') + ' · ' + title, modality: 'KO', number: null, description: title, keyImages: true,
            images: found.map((f) => f.image), documents: [], missing: imageCount(doc) - found.length,
          };
        }));
      }
      return cache.get(entry);
    }

    function imageCount(doc) {
      return root.LumidraDocuments.imageReferences(doc.content).length;
    }

    const ready = (async () => {
      for (const entry of selections) {
        try {
          await seriesOf(entry);
          changed();
        } catch (e) {
          // Choosing the selection names the reason.
        }
      }
    })();

    return {
      selections,
      seriesOf,
      ready,
      // The selections' titles that name the image, or null.
      marksOf: (uid) => marks.get(uid) || null,
      find: (uid) => byUid.get(uid) || null,
    };
  }

  root.LumidraKeyImages = { createKeyImages };
})(typeof self !== 'undefined' ? self : this);
