// The viewer page: study list, image display with window / level and scrolling, and the
// launcher's state and exit.
(function () {
  'use strict';

  const Dicom = window.LumidraDicom;
  const Dicomdir = window.LumidraDicomdir;
  const Imaging = window.LumidraImaging;
  const Launcher = window.LumidraLauncher;
  const Format = window.LumidraFormat;

  const $ = (id) => document.getElementById(id);
  const PRELOAD_PARALLEL = 3;
  const INDEX_ATTEMPTS = 4;
  const WHEEL_STEP = 100;
  const CLOSE_WATCH_SECONDS = 20;
  // Decoded images kept for scrolling; the least recently shown go first beyond this.
  const CACHE_BYTES = 256 * 1024 * 1024;

  const COPY_TEXTS = {
    unknown: 'unknown',
    copying: 'copying from the disc…',
    complete: 'complete',
    incomplete: 'incomplete – some files are read from the disc',
  };

  const state = {
    launcher: null,
    launchId: null,
    pageLaunchId: new URLSearchParams(location.search).get('uniqueId'),
    series: null,
    seriesButtons: new Map(),
    index: 0,
    window: null,
    windowChanged: false,
    current: null,
    showToken: 0,
    preloadToken: 0,
    images: new Map(),
    imageBytes: new Map(),
    cachedBytes: 0,
    rendered: null,
    drawPending: false,
    wheel: 0,
    closing: false,
  };

  class HttpError extends Error {
    constructor(status, path) {
      super('HTTP ' + status + ' for ' + path);
      this.status = status;
    }
  }

  function showMessage(text, kind) {
    const el = $('message');
    el.textContent = text || '';
    el.className = kind || '';
  }

  async function fetchBuffer(path) {
    const response = await fetch(Launcher.joinUrl(state.launcher.base, path), { cache: 'no-store' });
    if (!response.ok) throw new HttpError(response.status, path);
    return response.arrayBuffer();
  }

  // ---- launcher state -------------------------------------------------------------------

  function showCopyStatus(status) {
    const el = $('copy-status');
    el.dataset.state = status;
    el.textContent = COPY_TEXTS[status] || status;
  }

  function followLauncher() {
    const launcher = state.launcher;
    launcher.waitForLaunchId((attempt) => {
      $('launch-id').textContent = 'waiting for the launcher… (' + attempt + ')';
    }).then((id) => {
      if (!id) return;
      state.launchId = id;
      const el = $('launch-id');
      el.textContent = id;
      el.dataset.state = 'ready';
      if (state.pageLaunchId && state.pageLaunchId !== id) {
        showMessage('This page was opened for another launch; it now follows launch ' + id + '.', 'warn');
      }
    });
    launcher.followCopyStatus(showCopyStatus, () => state.launchId !== null);
  }

  async function exitLauncher() {
    const id = state.launchId || state.pageLaunchId;
    if (!id) {
      showMessage('Lumidra has not given its launch id yet. Please try again in a moment.', 'warn');
      return;
    }
    const button = $('exit-button');
    button.disabled = true;
    button.textContent = 'Closing…';
    const result = await state.launcher.requestExit(id);
    if (result === 'closing') {
      showClosing();
      return;
    }
    button.disabled = false;
    button.textContent = 'Exit Lumidra';
    if (result === 'refused') {
      showMessage('Lumidra did not accept the request to close. It accepts it once the study has ' +
        'been copied; you can also close it with the Terminate button in its window.', 'warn');
    } else {
      showMessage('Lumidra could not be reached; it may have closed already.', 'error');
    }
  }

  // Tells the user that the launcher is going, then that it has gone once its server stops.
  async function showClosing() {
    state.closing = true;
    state.preloadToken++;
    document.body.dataset.phase = 'closing';
    $('closing').hidden = false;
    $('closing-title').textContent = 'Lumidra is closing';
    $('closing-text').textContent = 'The launcher is stopping its server and removing its ' +
      'temporary files. You can close this browser tab.';
    for (let i = 0; i < CLOSE_WATCH_SECONDS; i++) {
      await Launcher.sleep(1000);
      if (!(await state.launcher.isServing())) {
        document.body.dataset.phase = 'closed';
        $('closing-title').textContent = 'Lumidra has closed';
        $('closing-text').textContent = 'The launcher has ended. You can close this browser tab now.';
        return;
      }
    }
  }

  // ---- study list -----------------------------------------------------------------------

  function element(tag, className, text) {
    const el = document.createElement(tag);
    if (className) el.className = className;
    if (text !== undefined) el.textContent = text;
    return el;
  }

  function seriesTitle(series) {
    return 'Series ' + (series.number === null ? '?' : series.number) +
      (series.description ? ' · ' + series.description : '');
  }

  function showPatientDetails(patient) {
    const details = ['ID ' + (patient.id || '–')];
    if (patient.birthDate) details.push('born ' + Format.date(patient.birthDate));
    if (patient.sex) details.push(Format.sex(patient.sex));
    patient.detailsElement.textContent = details.filter(Boolean).join(' · ');
  }

  function renderStudyList(patients) {
    const list = $('study-list');
    list.textContent = '';
    state.seriesButtons.clear();
    for (const patient of patients) {
      const p = element('div', 'patient');
      p.appendChild(element('div', 'patient-name', Format.personName(patient.name) || '(no name)'));
      const details = element('div', 'patient-details');
      patient.detailsElement = details;
      showPatientDetails(patient);
      p.appendChild(details);
      for (const study of patient.studies) {
        const s = element('div', 'study');
        s.appendChild(element('div', 'study-title', study.description || 'Study'));
        const when = [Format.date(study.date), Format.time(study.time)].filter(Boolean).join(' ');
        s.appendChild(element('div', 'study-details', [when, study.accession && 'Acc. ' + study.accession]
          .filter(Boolean).join(' · ')));
        const ul = element('ul', 'series-list');
        for (const series of study.series) {
          const li = element('li');
          const button = element('button', 'series');
          button.type = 'button';
          button.setAttribute('aria-pressed', 'false');
          button.appendChild(element('span', 'modality', series.modality || '?'));
          button.appendChild(element('span', 'series-title', seriesTitle(series)));
          button.appendChild(element('span', 'series-count',
            series.images.length + (series.images.length === 1 ? ' image' : ' images')));
          button.addEventListener('click', () => selectSeries(series));
          state.seriesButtons.set(series, button);
          li.appendChild(button);
          ul.appendChild(li);
        }
        s.appendChild(ul);
        p.appendChild(s);
      }
      list.appendChild(p);
    }
    list.dataset.state = 'ready';
    const first = patients[0];
    if (first) {
      $('patient-banner').textContent = [Format.personName(first.name), first.id,
        first.birthDate && Format.date(first.birthDate)].filter(Boolean).join(' · ');
      document.title = 'Lumidra Viewer – ' + Format.personName(first.name);
    }
  }

  // The index need not name series descriptions, birth dates or sex; the first image of each
  // series has them.
  async function fillSeriesDescriptions(patients) {
    for (const patient of patients) {
      for (const study of patient.studies) {
        for (const series of study.series) {
          if (!series.images.length || state.closing) continue;
          if (series.description && (patient.birthDate || patient.sex)) continue;
          try {
            const image = await loadImage(series.images[0].path);
            if (!patient.birthDate && !patient.sex && (image.patientBirthDate || image.patientSex)) {
              patient.birthDate = image.patientBirthDate;
              patient.sex = image.patientSex;
              showPatientDetails(patient);
            }
            series.description = series.description || image.seriesDescription;
            const button = state.seriesButtons.get(series);
            if (button) button.querySelector('.series-title').textContent = seriesTitle(series);
          } catch (e) {
            // The series entry keeps its number only; showing the image reports the error.
          }
        }
      }
    }
  }

  async function loadStudy(path) {
    let lastError = null;
    for (let attempt = 1; attempt <= INDEX_ATTEMPTS; attempt++) {
      try {
        const parsed = Dicom.parseDicom(await fetchBuffer(path));
        const directory = Dicomdir.readDicomdir(parsed);
        const patients = directory.patients;
        if (!patients.length) throw new Error('the study index lists no patient');
        renderStudyList(patients);
        if (directory.skipped) {
          showMessage(directory.skipped + ' image(s) in the index have an unusable file name and are left out.', 'warn');
        }
        const firstSeries = patients.flatMap((p) => p.studies.flatMap((s) => s.series))
          .find((s) => s.images.length);
        if (firstSeries) await selectSeries(firstSeries);
        fillSeriesDescriptions(patients);
        return;
      } catch (e) {
        lastError = e;
        // A missing or unreachable index may still appear while the launcher starts; a damaged
        // one will not get better.
        const transient = e instanceof HttpError || e instanceof TypeError;
        if (!transient) break;
        await Launcher.sleep(1000 * attempt);
      }
    }
    const list = $('study-list');
    list.dataset.state = 'error';
    list.textContent = 'The study index could not be read.';
    showMessage('The study index (' + path + ' on ' + new URL(state.launcher.base).host +
      ') could not be read: ' + lastError.message, 'error');
  }

  // ---- images ---------------------------------------------------------------------------

  function forgetImage(path) {
    state.cachedBytes -= state.imageBytes.get(path) || 0;
    state.imageBytes.delete(path);
    state.images.delete(path);
  }

  // Drops the least recently used decoded images (Map order) until the cache fits again.
  function trimCache(keep) {
    for (const path of state.images.keys()) {
      if (state.cachedBytes <= CACHE_BYTES) return;
      if (path !== keep && state.imageBytes.has(path)) forgetImage(path);
    }
  }

  function loadImage(path) {
    let promise = state.images.get(path);
    if (promise) {
      state.images.delete(path);
      state.images.set(path, promise);
    } else {
      promise = fetchBuffer(path).then((buffer) => {
        const parsed = Dicom.parseDicom(buffer);
        const ds = parsed.dataset;
        return {
          pixels: Imaging.decodeImage(ds, parsed.transferSyntax),
          seriesDescription: ds.string(0x0008103e) || '',
          modality: ds.string(0x00080060) || '',
          patientBirthDate: ds.string(0x00100030) || '',
          patientSex: ds.string(0x00100040) || '',
          instanceNumber: ds.number(0x00200013),
          sliceLocation: ds.number(0x00201041),
        };
      });
      promise.then((image) => {
        if (state.images.get(path) !== promise) return;
        state.imageBytes.set(path, image.pixels.values.byteLength);
        state.cachedBytes += image.pixels.values.byteLength;
        trimCache(path);
      }, () => {
        if (state.images.get(path) === promise) forgetImage(path);
      });
      state.images.set(path, promise);
    }
    return promise;
  }

  async function preloadSeries(series) {
    const token = ++state.preloadToken;
    const queue = series.images.map((image) => image.path);
    const worker = async () => {
      while (queue.length && token === state.preloadToken && state.cachedBytes < CACHE_BYTES * 0.75) {
        try {
          await loadImage(queue.shift());
        } catch (e) {
          // Reported when the image is shown.
        }
      }
    };
    await Promise.all(Array.from({ length: PRELOAD_PARALLEL }, worker));
  }

  async function selectSeries(series) {
    state.series = series;
    state.window = null;
    state.windowChanged = false;
    for (const [s, button] of state.seriesButtons) button.setAttribute('aria-pressed', String(s === series));
    const slider = $('slice-slider');
    slider.max = String(Math.max(0, series.images.length - 1));
    slider.disabled = series.images.length < 2;
    $('reset-window').disabled = false;
    preloadSeries(series);
    await showImage(0);
  }

  function updateImageText() {
    const series = state.series;
    const count = series ? series.images.length : 0;
    $('slice-slider').value = String(state.index);
    $('slice-number').textContent = count ? (state.index + 1) + ' / ' + count : '–';
    const lines = [];
    if (series) {
      lines.push(seriesTitle(series) + (series.modality ? ' · ' + series.modality : ''));
      lines.push('Image ' + (state.index + 1) + ' / ' + count);
    }
    const current = state.current;
    if (current && current.pixels.frames > 1) lines.push('frame 1 of ' + current.pixels.frames);
    if (current && current.sliceLocation !== null) lines.push('Location ' + Format.number(current.sliceLocation) + ' mm');
    $('image-info').textContent = lines.join('\n');
    const w = state.window;
    $('wl-info').textContent = w ? 'W ' + Format.number(w.width) + '  L ' + Format.number(w.center) : '';
  }

  async function showImage(index) {
    const series = state.series;
    if (!series || !series.images.length) return;
    state.index = Math.max(0, Math.min(series.images.length - 1, index));
    const token = ++state.showToken;
    updateImageText();
    let image;
    try {
      image = await loadImage(series.images[state.index].path);
    } catch (e) {
      if (token !== state.showToken) return;
      state.current = null;
      state.rendered = null;
      clearCanvas();
      updateImageText();
      showMessage('Image ' + (state.index + 1) + ' could not be shown: ' + e.message, 'error');
      return;
    }
    if (token !== state.showToken) return;
    state.current = image;
    if (!state.windowChanged || !state.window) state.window = Imaging.defaultWindow(image.pixels, 0);
    if ($('message').className === 'error') showMessage('');
    state.rendered = null;
    updateImageText();
    draw();
  }

  function step(delta) {
    if (state.series) showImage(state.index + delta);
  }

  // ---- drawing --------------------------------------------------------------------------

  function clearCanvas() {
    const canvas = $('image-canvas');
    const ctx = canvas.getContext('2d');
    ctx.fillStyle = '#000';
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    delete canvas.dataset.image;
  }

  // The image at its own size, redrawn only when the image or the window changed.
  function renderedImage() {
    const current = state.current;
    const w = state.window;
    const r = state.rendered;
    if (r && r.image === current && r.center === w.center && r.width === w.width) return r.canvas;
    const pixels = current.pixels;
    const canvas = r && r.canvas.width === pixels.columns && r.canvas.height === pixels.rows
      ? r.canvas : document.createElement('canvas');
    canvas.width = pixels.columns;
    canvas.height = pixels.rows;
    const ctx = canvas.getContext('2d');
    const data = ctx.createImageData(pixels.columns, pixels.rows);
    Imaging.renderFrame(pixels, 0, w, data.data);
    ctx.putImageData(data, 0, 0);
    state.rendered = { image: current, center: w.center, width: w.width, canvas };
    return canvas;
  }

  function draw() {
    state.drawPending = false;
    const canvas = $('image-canvas');
    const box = $('viewport').getBoundingClientRect();
    const scale = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(box.width * scale));
    const height = Math.max(1, Math.round(box.height * scale));
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    clearCanvas();
    if (!state.current || !state.window) return;
    const pixels = state.current.pixels;
    const source = renderedImage();
    // Physical proportions: rows are rowSpacing apart, columns columnSpacing apart.
    const physicalWidth = pixels.columns * pixels.columnSpacing;
    const physicalHeight = pixels.rows * pixels.rowSpacing;
    const fit = Math.min(width / physicalWidth, height / physicalHeight);
    const w = physicalWidth * fit;
    const h = physicalHeight * fit;
    const ctx = canvas.getContext('2d');
    ctx.imageSmoothingEnabled = true;
    ctx.drawImage(source, (width - w) / 2, (height - h) / 2, w, h);
    canvas.dataset.image = String(state.index + 1);
  }

  function scheduleDraw() {
    if (state.drawPending) return;
    state.drawPending = true;
    requestAnimationFrame(draw);
  }

  // ---- input ----------------------------------------------------------------------------

  function installInput() {
    const viewport = $('viewport');
    const canvas = $('image-canvas');
    let drag = null;

    viewport.addEventListener('wheel', (event) => {
      event.preventDefault();
      const unit = event.deltaMode === 1 ? 40 : event.deltaMode === 2 ? 400 : 1;
      state.wheel += event.deltaY * unit;
      while (Math.abs(state.wheel) >= WHEEL_STEP) {
        const direction = Math.sign(state.wheel);
        state.wheel -= direction * WHEEL_STEP;
        step(direction);
      }
    }, { passive: false });

    canvas.addEventListener('pointerdown', (event) => {
      if (event.button !== 0 || !state.window) return;
      viewport.focus();
      drag = { x: event.clientX, y: event.clientY, center: state.window.center, width: state.window.width };
      canvas.setPointerCapture(event.pointerId);
    });
    canvas.addEventListener('pointermove', (event) => {
      if (!drag) return;
      // Right widens the window, down raises the level; faster for wide windows.
      const speed = Math.max(drag.width, 64) / 256;
      state.window = {
        center: drag.center + (event.clientY - drag.y) * speed,
        width: Math.max(1, drag.width + (event.clientX - drag.x) * speed * 2),
      };
      state.windowChanged = true;
      updateImageText();
      scheduleDraw();
    });
    const endDrag = () => { drag = null; };
    canvas.addEventListener('pointerup', endDrag);
    canvas.addEventListener('pointercancel', endDrag);

    document.addEventListener('keydown', (event) => {
      // Also when the slider has the focus, so that the arrows mean the same everywhere.
      if (event.altKey || event.ctrlKey || event.metaKey) return;
      const moves = { ArrowUp: -1, ArrowLeft: -1, ArrowDown: 1, ArrowRight: 1, PageUp: -10, PageDown: 10 };
      if (event.key in moves) step(moves[event.key]);
      else if (event.key === 'Home') showImage(0);
      else if (event.key === 'End' && state.series) showImage(state.series.images.length - 1);
      else if (event.key === 'r' || event.key === 'R') resetWindow();
      else return;
      event.preventDefault();
    });

    $('slice-slider').addEventListener('input', (event) => showImage(Number(event.target.value)));
    $('reset-window').addEventListener('click', resetWindow);
    $('exit-button').addEventListener('click', exitLauncher);
    new ResizeObserver(scheduleDraw).observe(viewport);
  }

  function resetWindow() {
    if (!state.current) return;
    state.windowChanged = false;
    state.window = Imaging.defaultWindow(state.current.pixels, 0);
    updateImageText();
    scheduleDraw();
  }

  // ---- start ----------------------------------------------------------------------------

  async function start() {
    installInput();
    let config;
    try {
      const response = await fetch(Launcher.CONFIG_PATH, { cache: 'no-store' });
      if (!response.ok) throw new Error('HTTP ' + response.status);
      config = Launcher.parseConfig(await response.text());
    } catch (e) {
      config = Launcher.parseConfig('{}');
      showMessage('The viewer configuration could not be read (' + e.message +
        '); using the server this page came from.', 'warn');
    }
    let base;
    try {
      base = Launcher.serverBase(config.server, location.href);
    } catch (e) {
      showMessage(e.message, 'error');
      base = location.origin;
    }
    $('server-address').textContent = new URL(base).host;
    state.launcher = Launcher.createLauncher({
      base, pollMilliseconds: config.pollMilliseconds, copyStatus: config.copyStatus,
    });
    document.body.dataset.phase = 'running';
    followLauncher();
    await loadStudy(config.dicomdir);
  }

  start();
})();
