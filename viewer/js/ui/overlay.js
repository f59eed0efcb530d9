// The texts over the image: patient and study (top left), series, image and frame (top
// right), window, zoom and invert (bottom left), the measured distance (bottom right).
(function (root) {
  'use strict';

  const Format = root.LumidraFormat;
  const Measure = root.LumidraMeasure;
  const T = root.LumidraTexts;

  const join = (parts, separator) => parts.filter(Boolean).join(separator || ' · ');

  function seriesTitle(series) {
    if (series.title) return series.title;
    return T.t('series', series.number === null || series.number === undefined ? '?' : series.number) +
      (series.description ? ' · ' + series.description : '');
  }

  function patientLines(image) {
    if (!image) return [];
    return [
      image.patientName,
      join([image.patientId && 'ID ' + image.patientId, image.patientBirthDate && T.t('born', Format.date(image.patientBirthDate))]),
      join([Format.date(image.studyDate), image.studyDescription]),
    ].filter(Boolean);
  }

  // where: { series, index, count, frame }
  function imageLines(where, image) {
    if (!where.series) return [];
    const lines = [seriesTitle(where.series) + (where.series.modality ? ' · ' + where.series.modality : '')];
    lines.push(T.t('imageOf', where.index + 1, where.count));
    if (image && image.frameCount > 1) lines.push(T.t('frameOf', where.frame + 1, image.frameCount));
    if (where.keyImage) lines.push(T.t('keyImage', where.keyImage.join(', ')));
    return lines;
  }

  function windowText(display) {
    if (!display || !display.view || !display.image) return '';
    if (display.image.isColor) return T.t('colourImage');
    if (display.view.voiLut !== undefined && display.view.voiLut !== null) return T.t('voiLutOfFile');
    return 'W ' + Format.number(display.view.width) + '  L ' + Format.number(display.view.center);
  }

  // zoom: the zoom on screen (screen pixels per image column).
  function viewText(display, zoom, presetName) {
    if (!display || !display.view) return '';
    return join([T.t('zoomPercent', Math.round(zoom * 100), display.zoom === null),
      display.view.invert && T.t('inverted'), presetName]);
  }

  function measureText(display) {
    const m = display && display.measurement;
    if (!m || !display.image) return '';
    return T.t('distance', Measure.distance(display.image, m.a, m.b).text);
  }

  // elements: { patient, image, window, view, measure }
  function show(elements, where, display, zoom, presetName) {
    const image = display && display.image;
    elements.patient.textContent = patientLines(image).join('\n');
    elements.image.textContent = imageLines(where, image).join('\n');
    elements.window.textContent = windowText(display);
    elements.view.textContent = image ? viewText(display, zoom, presetName) : '';
    elements.measure.textContent = measureText(display);
  }

  root.LumidraOverlay = { show, seriesTitle };
})(typeof self !== 'undefined' ? self : this);
