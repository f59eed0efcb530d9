// The list of measurements beside the compare workspace: each one's figures in the modality's
// units (HU on CT), and a button that removes it.
(function (root) {
  'use strict';

  // cornerstone's tool names to the list's words.
  const KINDS = {
    Length: 'length', Angle: 'angle', CobbAngle: 'cobb', EllipticalROI: 'ellipse', RectangleROI: 'rectangle',
    Probe: 'probe', ArrowAnnotate: 'arrow',
  };

  function round(value) {
    return Number.isFinite(value) ? String(Math.round(value * 100) / 100) : '–';
  }

  function figures(kind, stats, text, T) {
    const unit = stats.modalityUnit ? ' ' + stats.modalityUnit : '';
    switch (kind) {
      case 'length': return round(stats.length) + ' ' + (stats.unit || 'mm');
      case 'angle': return round(stats.angle) + '°';
      case 'cobb': return round(stats.angle) + '°';
      case 'probe': return round(stats.value) + unit;
      case 'arrow': return text || '';
      default:
        return [T.t('mean') + ' ' + round(stats.mean) + unit, T.t('sd') + ' ' + round(stats.stdDev) + unit,
          T.t('min') + ' ' + round(stats.min) + unit, T.t('max') + ' ' + round(stats.max) + unit,
          T.t('area') + ' ' + round(stats.area) + ' ' + (stats.areaUnit || '')].join('\n');
    }
  }

  // list: the <ul>; remove(uid) deletes one.
  function createMeasurementList(list, remove, T) {
    function show(measurements) {
      list.textContent = '';
      list.dataset.count = String(measurements.length);
      if (!measurements.length) {
        const empty = document.createElement('li');
        empty.className = 'empty';
        empty.textContent = T.t('noMeasurements');
        list.appendChild(empty);
        return;
      }
      for (const m of measurements) {
        const kind = KINDS[m.tool] || m.tool;
        const item = document.createElement('li');
        item.className = 'measurement';
        item.dataset.kind = kind;
        item.dataset.uid = m.uid;
        for (const name of ['mean', 'stdDev', 'min', 'max', 'area', 'angle', 'length', 'value']) {
          if (Number.isFinite(m.stats[name])) item.dataset[name] = String(m.stats[name]);
        }
        const label = document.createElement('span');
        label.textContent = T.t(kind) + ': ' + figures(kind, m.stats, m.text, T);
        item.appendChild(label);
        const button = document.createElement('button');
        button.type = 'button';
        button.className = 'remove-measurement';
        button.textContent = T.t('remove');
        button.addEventListener('click', () => remove(m.uid));
        item.appendChild(button);
        list.appendChild(item);
      }
    }
    return { show };
  }

  root.LumidraMeasurementList = { createMeasurementList };
})(typeof self !== 'undefined' ? self : this);
