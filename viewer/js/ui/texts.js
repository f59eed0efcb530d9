// The compare workspace's texts in Czech and English, following the browser's language as the
// launcher follows the system's.
(function (root) {
  'use strict';

  const TEXTS = {
    en: {
      imageOf: (i, n) => 'Image ' + i + ' / ' + n,
      axial: () => 'Axial', coronal: () => 'Coronal', sagittal: () => 'Sagittal',
      notVolume: (title, reason) => title + ' cannot be reformatted: ' + reason + '.',
      noSeries: () => 'Drag a series here from the list, or choose one with [ and ].',
      remove: () => 'Remove',
      length: () => 'Length', angle: () => 'Angle', cobb: () => 'Cobb angle', ellipse: () => 'Ellipse',
      rectangle: () => 'Rectangle', probe: () => 'Probe', arrow: () => 'Arrow',
      mean: () => 'Mean', sd: () => 'SD', min: () => 'Min', max: () => 'Max', area: () => 'Area',
      noMeasurements: () => 'No measurements yet.',
      location: (mm) => 'Location ' + mm + ' mm', thickness: (mm) => 'Thickness ' + mm + ' mm',
    },
    cs: {
      imageOf: (i, n) => 'Snímek ' + i + ' / ' + n,
      axial: () => 'Axiální', coronal: () => 'Koronální', sagittal: () => 'Sagitální',
      notVolume: (title, reason) => title + ' nelze rekonstruovat (' + reason + ').',
      noSeries: () => 'Přetáhněte sem sérii ze seznamu nebo ji vyberte klávesami [ a ].',
      remove: () => 'Odstranit',
      length: () => 'Délka', angle: () => 'Úhel', cobb: () => 'Cobbův úhel', ellipse: () => 'Elipsa',
      rectangle: () => 'Obdélník', probe: () => 'Bod', arrow: () => 'Šipka',
      mean: () => 'Průměr', sd: () => 'SD', min: () => 'Min', max: () => 'Max', area: () => 'Plocha',
      noMeasurements: () => 'Zatím žádná měření.',
      location: (mm) => 'Poloha ' + mm + ' mm', thickness: (mm) => 'Tloušťka ' + mm + ' mm',
    },
  };

  function languageOf(languages) {
    for (const tag of languages || []) {
      const code = String(tag).toLowerCase().split('-')[0];
      if (TEXTS[code]) return code;
    }
    return 'en';
  }

  const language = languageOf(root.navigator && (root.navigator.languages || [root.navigator.language]));

  function t(key, ...args) {
    const entry = TEXTS[language][key] || TEXTS.en[key];
    return entry ? entry(...args) : key;
  }

  root.LumidraTexts = { t, language, languageOf };
})(typeof self !== 'undefined' ? self : this);
