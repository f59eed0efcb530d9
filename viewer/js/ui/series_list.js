// The study list: patients, studies and their series, each series a button with a thumbnail
// drawn from its middle image once the button scrolls into view.
(function (root) {
  'use strict';

  const Format = root.LumidraFormat;
  const Overlay = root.LumidraOverlay;
  const T = root.LumidraTexts;
  const THUMBNAIL_SIZE = 64;

  function element(tag, className, text) {
    const el = document.createElement(tag);
    if (className) el.className = className;
    if (text !== undefined) el.textContent = text;
    return el;
  }

  // A crossed box in place of a picture that cannot be drawn; the reason comes with the pointer.
  function showNoPreview(canvas, reason) {
    const ctx = canvas.getContext('2d');
    ctx.fillStyle = '#000';
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    ctx.strokeStyle = '#e06c6c';
    ctx.lineWidth = canvas.width / 32;
    ctx.beginPath();
    ctx.moveTo(canvas.width * 0.3, canvas.height * 0.3);
    ctx.lineTo(canvas.width * 0.7, canvas.height * 0.7);
    ctx.moveTo(canvas.width * 0.7, canvas.height * 0.3);
    ctx.lineTo(canvas.width * 0.3, canvas.height * 0.7);
    ctx.stroke();
    canvas.dataset.state = 'failed';
    canvas.title = T.t('noPreview', reason);
  }

  function patientDetails(patient) {
    return [
      'ID ' + (patient.id || '–'),
      patient.birthDate && T.t('born', Format.date(patient.birthDate)),
      T.sex(patient.sex),
    ].filter(Boolean).join(' · ');
  }

  const DOCUMENT_KINDS = { pdf: 'pdfReport', sr: 'report', keyImages: 'keyImages' };

  // A document's date and authors, once they are known.
  function documentDetails(doc) {
    return [Format.date(doc.date), (doc.authors || []).map(Format.personName).join(', ')].filter(Boolean).join(' · ');
  }

  // options: { select(series), drawThumbnail(series, canvas): Promise (draws the series'
  // picture into the canvas; rejects when it cannot), selectDocument(doc) }
  function createSeriesList(container, patients, options) {
    const buttons = new Map();
    const detailElements = new Map();
    const waiting = [];
    let drawing = false;

    // One thumbnail at a time, so that they never hold up the image being looked at for long.
    async function drawNext() {
      if (drawing) return;
      drawing = true;
      while (waiting.length) {
        const { series, canvas } = waiting.shift();
        try {
          await options.drawThumbnail(series, canvas);
          canvas.dataset.state = 'drawn';
        } catch (e) {
          showNoPreview(canvas, e.message);
        }
      }
      drawing = false;
    }

    const observer = new IntersectionObserver((entries) => {
      for (const entry of entries) {
        if (!entry.isIntersecting) continue;
        observer.unobserve(entry.target);
        waiting.push({ series: entry.target.series, canvas: entry.target });
      }
      drawNext();
    }, { root: container.closest('nav') || null });

    function seriesButton(series) {
      const button = element('button', 'series');
      button.type = 'button';
      button.setAttribute('aria-pressed', 'false');
      const thumbnail = element('canvas', 'thumbnail');
      // Drawn at the screen's resolution, shown at THUMBNAIL_SIZE.
      thumbnail.width = Math.round(THUMBNAIL_SIZE * (root.devicePixelRatio || 1));
      thumbnail.height = thumbnail.width;
      thumbnail.dataset.state = 'waiting';
      thumbnail.setAttribute('aria-hidden', 'true');
      thumbnail.series = series;
      button.appendChild(thumbnail);
      const text = element('span', 'series-text');
      text.appendChild(element('span', 'modality', series.modality || '?'));
      text.appendChild(element('span', 'series-title', Overlay.seriesTitle(series)));
      text.appendChild(element('span', 'series-count', T.t('images', series.images.length)));
      button.appendChild(text);
      button.addEventListener('click', () => options.select(series));
      // Into a viewport of the compare workspace.
      button.draggable = true;
      button.addEventListener('dragstart', (event) => {
        event.dataTransfer.setData('application/x-lumidra-series', String(options.dragKey(series)));
        event.dataTransfer.effectAllowed = 'copy';
      });
      buttons.set(series, button);
      if (series.images.length) observer.observe(thumbnail);
      else showNoPreview(thumbnail, T.t('seriesHasNoImages'));
      return button;
    }

    function documentButton(doc) {
      const button = element('button', 'document');
      button.type = 'button';
      button.dataset.kind = doc.kind;
      button.setAttribute('aria-pressed', 'false');
      button.appendChild(element('span', 'document-kind', T.t(DOCUMENT_KINDS[doc.kind])));
      button.appendChild(element('span', 'document-title', doc.title || ''));
      button.appendChild(element('span', 'document-details', documentDetails(doc)));
      button.addEventListener('click', () => options.selectDocument(doc));
      buttons.set(doc, button);
      return button;
    }

    container.textContent = '';
    for (const patient of patients) {
      const p = element('div', 'patient');
      p.appendChild(element('div', 'patient-name', Format.personName(patient.name) || T.t('noName')));
      const details = element('div', 'patient-details', patientDetails(patient));
      detailElements.set(patient, details);
      p.appendChild(details);
      for (const study of patient.studies) {
        const s = element('div', 'study');
        s.appendChild(element('div', 'study-title', study.description || T.t('studyHeading')));
        const when = [Format.date(study.date), Format.time(study.time)].filter(Boolean).join(' ');
        s.appendChild(element('div', 'study-details', [when, study.accession && T.t('accession', study.accession)]
          .filter(Boolean).join(' · ')));
        const ul = element('ul', 'series-list');
        for (const series of study.series) {
          const documents = series.documents || [];
          // A series of documents only is listed by its documents.
          if (series.images.length || !documents.length) {
            const li = element('li');
            li.appendChild(seriesButton(series));
            ul.appendChild(li);
          }
          for (const doc of documents) {
            const li = element('li');
            li.appendChild(documentButton(doc));
            ul.appendChild(li);
          }
        }
        s.appendChild(ul);
        p.appendChild(s);
      }
      container.appendChild(p);
    }
    container.dataset.state = 'ready';

    return {
      // series: a series, a document, or a series made from a document (key images).
      markSelected(series) {
        const chosen = (series && series.entry) || series;
        for (const [s, button] of buttons) button.setAttribute('aria-pressed', String(s === chosen));
        const button = buttons.get(chosen);
        if (button) button.scrollIntoView({ block: 'nearest' });
      },
      seriesChanged(series) {
        const button = buttons.get(series);
        if (button) button.querySelector('.series-title').textContent = Overlay.seriesTitle(series);
      },
      documentChanged(doc) {
        const button = buttons.get(doc);
        if (!button) return;
        button.querySelector('.document-title').textContent = doc.title || '';
        button.querySelector('.document-details').textContent = documentDetails(doc);
      },
      patientChanged(patient) {
        const details = detailElements.get(patient);
        if (details) details.textContent = patientDetails(patient);
      },
    };
  }

  root.LumidraSeriesList = { createSeriesList, THUMBNAIL_SIZE };
})(typeof self !== 'undefined' ? self : this);
