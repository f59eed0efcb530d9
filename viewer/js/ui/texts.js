// The compare workspace's texts in Czech and English, following the browser's language as the
// launcher follows the system's.
(function (root) {
  'use strict';

  const TEXTS = {
    en: {
      imageOf: (i, n) => 'Image ' + i + ' / ' + n,
      axial: () => 'Axial', coronal: () => 'Coronal', sagittal: () => 'Sagittal',
      notVolume: (title, reason) => title + ' cannot be reformatted: ' + t(reason) + '.',
      fewImages: () => 'it has fewer than three images',
      noPosition: () => 'some images do not say where they lie in the patient',
      sizes: () => 'its images differ in size',
      frames: () => 'its images lie in different frames of reference',
      orientations: () => 'its images lie in different orientations',
      samePosition: () => 'two of its images lie at the same position',
      spacing: () => 'its slices are not evenly spaced',
      noSeries: () => 'Drag a series here from the list, or choose one with [ and ].',
      remove: () => 'Remove',
      length: () => 'Length', angle: () => 'Angle', cobb: () => 'Cobb angle', ellipse: () => 'Ellipse',
      rectangle: () => 'Rectangle', probe: () => 'Probe', arrow: () => 'Arrow',
      mean: () => 'Mean', sd: () => 'SD', min: () => 'Min', max: () => 'Max', area: () => 'Area',
      noMeasurements: () => 'No measurements yet.',
      location: (mm) => 'Location ' + mm + ' mm', thickness: (mm) => 'Thickness ' + mm + ' mm',
      sync: () => 'Sync', byPosition: () => 'by position', byIndex: () => 'by image number', syncOff: () => 'off', link: () => 'Link W/L', smooth: () => 'Smooth', slab: () => 'Slab', oneSlice: () => '1 slice',
      crosshairs: () => 'Crosshairs', savePng: () => 'Save PNG', print: () => 'Print', withOverlay: () => 'with overlay', measurements: () => 'Measurements',
    },
    cs: {
      imageOf: (i, n) => 'Snímek ' + i + ' / ' + n,
      axial: () => 'Axiální', coronal: () => 'Koronální', sagittal: () => 'Sagitální',
      notVolume: (title, reason) => title + ' nelze rekonstruovat: ' + t(reason) + '.',
      fewImages: () => 'má méně než tři snímky',
      noPosition: () => 'některé snímky neudávají svou polohu v pacientovi',
      sizes: () => 'snímky mají různou velikost',
      frames: () => 'snímky leží v různých vztažných soustavách',
      orientations: () => 'snímky mají různou orientaci',
      samePosition: () => 'dva snímky leží na stejném místě',
      spacing: () => 'řezy nejsou rovnoměrně rozložené',
      noSeries: () => 'Přetáhněte sem sérii ze seznamu nebo ji vyberte klávesami [ a ].',
      remove: () => 'Odstranit',
      length: () => 'Délka', angle: () => 'Úhel', cobb: () => 'Cobbův úhel', ellipse: () => 'Elipsa',
      rectangle: () => 'Obdélník', probe: () => 'Bod', arrow: () => 'Šipka',
      mean: () => 'Průměr', sd: () => 'SD', min: () => 'Min', max: () => 'Max', area: () => 'Plocha',
      noMeasurements: () => 'Zatím žádná měření.',
      location: (mm) => 'Poloha ' + mm + ' mm', thickness: (mm) => 'Tloušťka ' + mm + ' mm',
      sync: () => 'Synchronizovat', byPosition: () => 'podle polohy', byIndex: () => 'podle čísla snímku', syncOff: () => 'ne', link: () => 'Propojit W/L', smooth: () => 'Vyhladit', slab: () => 'Vrstva',
      oneSlice: () => '1 řez', crosshairs: () => 'Zaměřovač', savePng: () => 'Uložit PNG', print: () => 'Tisk', withOverlay: () => 's popisem', measurements: () => 'Měření',
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

  // The page's own words, named by data-text, in the browser's language.
  function translate(rootElement) {
    for (const el of rootElement.querySelectorAll('[data-text]')) el.textContent = t(el.dataset.text);
  }

  root.LumidraTexts = { t, language, languageOf, translate };
})(typeof self !== 'undefined' ? self : this);
