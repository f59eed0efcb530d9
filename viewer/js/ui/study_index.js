// The study index: read with a few tries while the launcher may still be unpacking it, and the
// details it may leave out (series descriptions, birth date, sex) taken from each series' first
// image.
(function (root) {
  'use strict';

  const Images = () => root.LumidraImages;
  const ATTEMPTS = 4;

  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  // read(path): Promise<ArrayBuffer>, its errors marked transient when they may pass.
  // Resolves to { patients, skipped } with at least one patient; rejects with the last error.
  async function readIndex(read, path) {
    let lastError = null;
    for (let attempt = 1; attempt <= ATTEMPTS; attempt++) {
      try {
        const directory = Images().readDirectory(await read(path));
        if (!directory.patients.length) throw new Error('the study index lists no patient');
        return directory;
      } catch (e) {
        lastError = e;
        // A missing or unreachable index may still appear while the launcher starts; a damaged
        // one will not get better.
        if (!e.transient) break;
        if (attempt < ATTEMPTS) await sleep(1000 * attempt);
      }
    }
    throw lastError;
  }

  // open(path): Promise<Image>; changed({ patient } | { series }) after each fill;
  // stopped(): true once the page is closing.
  async function fillDetails(patients, open, changed, stopped) {
    for (const patient of patients) {
      for (const study of patient.studies) {
        for (const series of study.series) {
          if (!series.images.length || stopped()) continue;
          if (series.description && (patient.birthDate || patient.sex)) continue;
          try {
            const image = await open(series.images[0].path);
            if (!patient.birthDate && !patient.sex && (image.patientBirthDate || image.patientSex)) {
              patient.birthDate = image.patientBirthDate;
              patient.sex = image.patientSex || '';
              changed({ patient });
            }
            series.description = series.description || image.seriesDescription;
            changed({ series });
          } catch (e) {
            // The series entry keeps its number only; showing the image reports the error.
          }
        }
      }
    }
  }

  root.LumidraStudyIndex = { readIndex, fillDetails };
})(typeof self !== 'undefined' ? self : this);
