// The viewer page: loads the study index, shows the chosen series image by image and frame by
// frame, and ties the keys, tools, overlay, cine and the launcher's state together.
(function () {
  'use strict';

  const Images = window.LumidraImages;
  const Launcher = window.LumidraLauncher;
  const Format = window.LumidraFormat;
  const Keys = window.LumidraKeys;
  const Viewport = window.LumidraViewport;
  const Overlay = window.LumidraOverlay;
  const Cine = window.LumidraCine;
  const T = window.LumidraTexts;

  const $ = (id) => document.getElementById(id);
  const PRELOAD_AHEAD = 8;
  const PRELOAD_BEHIND = 3;
  // A load shorter than this shows no loading text, so that scrolling does not flicker.
  const LOADING_TEXT_DELAY_MS = 150;
  // After this the loading text says that it is still waiting, and for which file.
  const SLOW_LOAD_MS = 15000;
  const ZOOM_STEP = 1.25;

  const state = {
    launcher: null,
    pageLaunchId: new URLSearchParams(location.search).get('uniqueId'),
    allSeries: [],
    series: null,
    index: 0,
    display: null,
    // The last image shown in this series: its window, zoom and pan outlast an image that fails.
    lastShown: null,
    // The user's window, invert, zoom and pan stay while scrolling through a series.
    viewChanged: false,
    presets: [],
    presetName: '',
    showToken: 0,
    drawPending: false,
    closing: false,
    // Smooth interpolation when magnified or reduced; false: nearest neighbour at every zoom.
    smooth: true,
    list: null,
    tools: null,
    cine: null,
    help: null,
  };

  function showMessage(text, kind) {
    const el = $('message');
    el.textContent = text || '';
    el.className = kind || '';
  }

  // Loading and error texts in the middle of the image area.
  function showImageStatus(text, kind) {
    const el = $('image-status');
    el.textContent = text || '';
    el.className = kind || '';
    el.hidden = !text;
  }

  // ---- images -------------------------------------------------------------------------

  // The image module keeps the headers it has read; opening again costs nothing.
  function openImage(path) {
    return Images.open(path);
  }

  function preloadAround(series, index) {
    const paths = [];
    for (let i = 1; i <= PRELOAD_AHEAD; i++) if (series.images[index + i]) paths.push(series.images[index + i].path);
    for (let i = 1; i <= PRELOAD_BEHIND; i++) if (series.images[index - i]) paths.push(series.images[index - i].path);
    Images.preload(paths);
  }

  // "Image 3 could not be shown (series 2 · T2 axial, file DICOM/…): reason"
  function failureText(series, index, reason) {
    const title = Overlay.seriesTitle(series);
    const named = title.startsWith(T.t('series', '').trim()) ? title.charAt(0).toLowerCase() + title.slice(1) : title;
    return T.t('imageFailed', index + 1, named, series.images[index].path, reason);
  }

  async function showImage(index) {
    const series = state.series;
    if (!series || !series.images.length) return;
    const next = Math.max(0, Math.min(series.images.length - 1, index));
    // Already there (the first or last image): the view, cine and measurement stay.
    if (next === state.index && state.display && state.display.image.path === series.images[next].path) return;
    state.index = next;
    state.cine.stop();
    const token = ++state.showToken;
    updateControls();
    const loadingTimer = setTimeout(() => {
      if (token === state.showToken) showImageStatus(T.t('loadingImage', state.index + 1), 'loading');
    }, LOADING_TEXT_DELAY_MS);
    const slowTimer = setTimeout(() => {
      if (token === state.showToken) {
        showImageStatus(T.t('stillLoading', state.index + 1, series.images[state.index].path, SLOW_LOAD_MS / 1000), 'loading');
      }
    }, SLOW_LOAD_MS);
    let image;
    let view;
    try {
      image = await openImage(series.images[state.index].path);
      await image.loadFrame(0);
      view = Images.defaultView(image, 0);
    } catch (e) {
      clearTimeout(loadingTimer);
      clearTimeout(slowTimer);
      if (token !== state.showToken) return;
      state.display = null;
      const text = failureText(series, state.index, e.message);
      showImageStatus(text, 'error');
      showMessage(text, 'error');
      updateControls();
      scheduleDraw();
      return;
    }
    clearTimeout(loadingTimer);
    clearTimeout(slowTimer);
    if (token !== state.showToken) return;
    showImageStatus('');
    if ($('message').className === 'error') showMessage('');
    const old = state.lastShown;
    const keep = state.viewChanged && old && old.image.isColor === image.isColor;
    state.display = {
      image,
      index: state.index,
      frame: 0,
      view: keep ? Object.assign({}, old.view) : view,
      zoom: old ? old.zoom : null,
      pan: old ? old.pan : { x: 0, y: 0 },
      measurement: null,
    };
    state.lastShown = state.display;
    if (!keep) state.presetName = '';
    fillPresets(image, 0);
    updateControls();
    scheduleDraw();
    preloadAround(series, state.index);
  }

  async function showFrame(frame) {
    const display = state.display;
    if (!display || display.image.frameCount < 2) return false;
    const image = display.image;
    const f = Math.max(0, Math.min(image.frameCount - 1, frame));
    const token = state.showToken;
    try {
      await image.loadFrame(f);
    } catch (e) {
      if (token !== state.showToken) return false;
      showMessage(failureText(state.series, state.index, T.t('frameFailed', f + 1, e.message)), 'error');
      return false;
    }
    if (token !== state.showToken || state.display !== display) return false;
    display.frame = f;
    fillPresets(image, f);
    updateControls();
    scheduleDraw();
    return true;
  }

  function step(delta) {
    if (state.series) showImage(state.index + delta);
  }

  function stepFrame(delta) {
    const display = state.display;
    if (!display || display.image.frameCount < 2) return;
    state.cine.stop();
    showFrame(display.frame + delta);
  }

  // index: the image to show first.
  async function selectSeries(series, index = 0) {
    if (!series) return;
    if (state.gridOpen) {
      if (!series.images.length) return;
      state.series = series;
      state.list.markSelected(series);
      $('view-panel').dataset.view = 'grid';
      await showInGrid(series);
      return;
    }
    if (state.documentView) state.documentView.hide();
    state.series = series;
    state.viewChanged = false;
    state.display = null;
    state.lastShown = null;
    state.presetName = '';
    state.list.markSelected(series);
    const slider = $('slice-slider');
    slider.max = String(Math.max(0, series.images.length - 1));
    slider.disabled = series.images.length < 2;
    if (!series.images.length) {
      state.cine.stop();
      updateControls();
      scheduleDraw();
      showImageStatus(series.missing ? T.t('noImagesOnDisc', Overlay.seriesTitle(series), series.missing)
        : T.t('noImages', Overlay.seriesTitle(series)), 'error');
      return;
    }
    await showImage(index);
  }

  // ---- documents and key images -----------------------------------------------------------

  const documentFiles = new Map();

  function readDocument(path) {
    if (!documentFiles.has(path)) {
      const read = Images.readFile(path).then((buffer) => window.LumidraDocuments.readDocument(buffer));
      documentFiles.set(path, read);
      read.catch(() => documentFiles.delete(path));
    }
    return documentFiles.get(path);
  }

  async function selectDocument(entry) {
    state.cine.stop();
    if (entry.kind === 'keyImages') {
      state.list.markSelected(entry);
      try {
        const series = await state.keyImages.seriesOf(entry);
        series.entry = entry;
        await selectSeries(series);
      } catch (e) {
        showMessage(T.t('keyImagesFailed', entry.path, e.message), 'error');
      }
      return;
    }
    state.list.markSelected(entry);
    state.documentView.show(entry);
  }

  // Where a report's image reference is on this disc, as the report names it.
  function findImage(reference) {
    const found = state.keyImages.find(reference.sopInstanceUid);
    return found && { label: T.t('imageAt', Overlay.seriesTitle(found.series), found.index + 1) };
  }

  async function openReference(reference) {
    const found = state.keyImages.find(reference.sopInstanceUid);
    if (!found) return;
    await selectSeries(found.series, found.index);
    if (reference.frames.length) await showFrame(reference.frames[0] - 1);
  }

  // Titles, dates and authors the index leaves out, from the documents themselves.
  async function fillDocumentDetails(patients) {
    const entries = patients.flatMap((p) => p.studies.flatMap((s) => s.series.flatMap((se) => se.documents || [])));
    for (const entry of entries) {
      if (state.closing) return;
      try {
        const doc = await readDocument(entry.path);
        entry.title = entry.title || doc.title;
        entry.date = entry.date || doc.date;
        entry.authors = doc.authors;
        if (doc.kind === 'pdf' && (!entry.authors.length || !entry.title)) {
          const opened = await window.LumidraPdf.open(doc.pdf);
          entry.title = entry.title || opened.info.title;
          if (!entry.authors.length && opened.info.author) entry.authors = [opened.info.author];
          window.LumidraPdf.close(opened);
        }
        state.list.documentChanged(entry);
      } catch (e) {
        // Choosing the document names the reason.
      }
    }
  }

  function stepSeries(delta) {
    const i = state.allSeries.indexOf(state.series) + delta;
    if (i >= 0 && i < state.allSeries.length) selectSeries(state.allSeries[i]);
  }

  // A thumbnail from the middle image of the series, its first frame, in its own window.
  async function drawThumbnail(series, canvas) {
    const image = await openImage(series.images[Math.floor((series.images.length - 1) / 2)].path);
    // Behind the images asked for on screen, ahead of those read ahead.
    await image.loadFrame(0, { priority: 'thumbnail' });
    Viewport.drawThumbnail(image, Images.defaultView(image, 0), canvas);
  }

  // ---- window, presets, zoom ----------------------------------------------------------

  // The presets of the frame shown: a multi-frame image may give each frame its own window.
  function fillPresets(image, frame) {
    state.presets = image.isColor ? [] : Images.presets(image, frame);
  }

  function applyPreset(preset) {
    const display = state.display;
    if (!display || !preset) return;
    // A preset from the file's VOI LUT draws through the LUT; the others through the window.
    display.view = Object.assign({}, display.view, {
      center: preset.center, width: preset.width, voiLut: window.LumidraPresetMenu.lutOf(preset),
    });
    state.viewChanged = true;
    state.presetName = preset.name;
    viewChanged();
  }

  function nextPreset() {
    if (state.display) applyPreset(state.presetMenu.next(state.display.view));
  }

  function invert() {
    const display = state.display;
    if (!display) return;
    display.view = Object.assign({}, display.view, { invert: !display.view.invert });
    state.viewChanged = true;
    viewChanged();
  }

  function resetView() {
    const display = state.display;
    if (!display) return;
    display.view = Images.defaultView(display.image, display.frame);
    display.zoom = null;
    display.pan = { x: 0, y: 0 };
    state.viewChanged = false;
    state.presetName = '';
    fillPresets(display.image, display.frame);
    viewChanged();
  }

  // change(display, width, height): one of the viewport's zoom changes.
  function zoomWith(change) {
    const display = state.display;
    if (!display) return;
    const canvas = $('image-canvas');
    change(display, canvas.width, canvas.height);
    viewChanged();
  }

  function clearMeasurement() {
    if (state.help.isOpen()) state.help.close();
    else if (state.display && state.display.measurement) {
      state.display.measurement = null;
      viewChanged();
    }
  }

  // After the window, zoom, pan, invert or measurement changed.
  function viewChanged(what) {
    if (what === 'view') {
      state.viewChanged = true;
      state.presetName = '';
    }
    scheduleDraw();
  }

  function toggleCine() {
    const display = state.display;
    if (!display || display.image.frameCount < 2) return;
    if (state.cine.isPlaying()) state.cine.stop();
    else state.cine.play(Cine.frameRate(display.image.frameTime).fps);
  }

  // ---- what the page shows --------------------------------------------------------------

  function updateControls() {
    const series = state.series;
    const count = series ? series.images.length : 0;
    $('slice-slider').value = String(state.index);
    $('slice-number').textContent = count ? (state.index + 1) + ' / ' + count : '–';
    const display = state.display;
    const image = display && display.image;
    const frames = image ? image.frameCount : 1;
    $('frame-controls').hidden = frames < 2;
    if (frames > 1) {
      const slider = $('frame-slider');
      slider.max = String(frames - 1);
      slider.value = String(display.frame);
      $('frame-number').textContent = (display.frame + 1) + ' / ' + frames;
      const rate = Cine.frameRate(image.frameTime);
      $('cine-rate').textContent = T.t('fps', Format.number(rate.fps), rate.fromFile);
    }
    state.presetMenu.show(display ? state.presets : [], display && display.view);
    $('reset-window').disabled = !display;
    const invertButton = $('invert-button');
    invertButton.disabled = !display;
    invertButton.setAttribute('aria-pressed', String(Boolean(display && display.view.invert)));
    updateOverlay();
  }

  function updateOverlay() {
    const display = state.display;
    const canvas = $('image-canvas');
    // Screen pixels per image pixel: 100% is 1:1.
    const zoom = display ? Viewport.layout(display, canvas.width, canvas.height).zoom : 1;
    Overlay.show({
      patient: $('overlay-patient'), image: $('image-info'), window: $('wl-info'),
      view: $('view-info'), measure: $('measure-info'),
    }, { series: state.series, index: state.index, count: state.series ? state.series.images.length : 0,
      frame: display ? display.frame : 0, keyImage: keyMarks(display) }, display, zoom, state.presetName);
  }

  function keyMarks(display) {
    return (display && state.keyImages && state.keyImages.marksOf(display.image.sopInstanceUid)) || null;
  }

  function draw() {
    state.drawPending = false;
    const canvas = $('image-canvas');
    const display = state.display;
    const drawn = Viewport.draw(canvas, $('viewport').getBoundingClientRect(), display, state.source, state.smooth);
    if (drawn) {
      // The image drawn, which may still be the one before while the next one loads.
      canvas.dataset.series = String(state.allSeries.indexOf(state.series) + 1);
      canvas.dataset.image = String(display.index + 1);
      canvas.dataset.frame = String(display.frame + 1);
      canvas.dataset.interpolation = drawn.interpolation;
      if (keyMarks(display)) canvas.dataset.keyImage = 'true';
      else delete canvas.dataset.keyImage;
    } else {
      delete canvas.dataset.keyImage;
      delete canvas.dataset.series;
      delete canvas.dataset.image;
      delete canvas.dataset.frame;
    }
    updateControls();
  }

  function scheduleDraw() {
    if (state.drawPending) return;
    state.drawPending = true;
    requestAnimationFrame(draw);
  }

  // ---- study index ----------------------------------------------------------------------

  function showStudy(patients) {
    state.allSeries = patients.flatMap((p) => p.studies.flatMap((s) => s.series));
    state.list = window.LumidraSeriesList.createSeriesList($('study-list'), patients, {
      select: (series) => selectSeries(series), drawThumbnail, selectDocument,
      dragKey: (series) => state.allSeries.indexOf(series),
    });
    state.documentView = window.LumidraDocumentView.createDocumentView($('view-panel'), $('document-view'), {
      read: readDocument, findImage, openImage: openReference,
    });
    state.keyImages = window.LumidraKeyImages.createKeyImages(patients, readDocument, scheduleDraw);
    const first = patients[0];
    if (first) {
      $('patient-banner').textContent = [Format.personName(first.name), first.id,
        first.birthDate && Format.date(first.birthDate)].filter(Boolean).join(' · ');
    }
  }

  function indexFailed(where, e) {
    const list = $('study-list');
    list.dataset.state = 'error';
    list.textContent = T.t('indexFailedList');
    showImageStatus(T.t('indexFailedImage'), 'error');
    showMessage(T.t('indexFailed', where, e.message), 'error');
  }

  async function loadStudy(path) {
    let directory;
    try {
      directory = await window.LumidraStudyIndex.readIndex(Images.readFile, path);
    } catch (e) {
      indexFailed(path + ' on ' + new URL(state.launcher.base).host, e);
      return;
    }
    await showDirectory(directory);
  }

  async function showDirectory(directory) {
    showStudy(directory.patients);
    if (directory.skipped) {
      showMessage(T.t('indexSkipped', directory.skipped), 'warn');
    }
    const firstImages = state.allSeries.find((s) => s.images.length);
    if (firstImages) await selectSeries(firstImages);
    else {
      const firstDocument = state.allSeries.flatMap((s) => s.documents || [])[0];
      if (firstDocument) await selectDocument(firstDocument);
    }
    fillDocumentDetails(directory.patients);
    window.LumidraStudyIndex.fillDetails(directory.patients, openImage, (what) => {
      if (what.patient) state.list.patientChanged(what.patient);
      if (what.series) state.list.seriesChanged(what.series);
      if (what.series === state.series) updateOverlay();
    }, () => state.closing);
  }

  // The page opened from the disc itself (file://): the files of the folder the user gives it,
  // through the disc's DICOMDIR or, without one, found by content.
  function startFromFolder() {
    document.body.dataset.source = 'folder';
    document.body.dataset.phase = 'choosing';
    const list = $('study-list');
    list.dataset.state = 'waiting';
    list.textContent = T.t('chooseFolder');
    $('folder-hint').textContent = window.LumidraFolderOpen.systemHint();
    // Its worker starts from a blob, which takes a moment: now, not when the first image waits.
    Images.warmUp();
    window.LumidraFolderOpen.askForFolder(async ({ entries, name }) => {
      const source = Images.fileSource(entries, name);
      const status = $('folder-status');
      const study = await Images.readLocalStudy(source, (done, total) => {
        status.textContent = T.t('lookingForImages', done, total);
      });
      if (!study.patients.length) {
        return T.t('noImagesInFolder', name, entries.length);
      }
      Images.useSource(source);
      document.body.dataset.phase = 'running';
      $('server-address').textContent = source.where();
      if (study.note) showMessage(study.note, 'warn');
      showDirectory(study);
      return '';
    });
  }

  // ---- compare workspace ----------------------------------------------------------------

  function createGrid() {
    const list = window.LumidraMeasurementList.createMeasurementList($('measurements'), (uid) => state.grid.removeMeasurement(uid), T);
    state.grid = window.LumidraGrid.createGrid($('grid'), {
      texts: T,
      title: (series) => Overlay.seriesTitle(series),
      measurements: list.show,
      message: showMessage,
      dropped: (key, cell) => {
        const series = state.allSeries[key];
        if (series && series.images.length) showInGrid(series, cell);
      },
      activeChanged: (cell) => {
        if (cell && cell.series) state.list.markSelected(cell.series);
      },
    });
  }

  async function showInGrid(series, cell) {
    try {
      await state.grid.showSeries(series, cell);
    } catch (e) {
      showMessage(T.t('seriesFailed', Overlay.seriesTitle(series), e.message), 'error');
    }
  }

  // Layouts, reformatting and the measurement tools live in the workspace; the series shown
  // goes into its first viewport.
  async function openGrid(layout) {
    state.cine.stop();
    const first = !state.gridOpen;
    state.gridOpen = true;
    $('view-panel').dataset.view = 'grid';
    for (const button of document.querySelectorAll('.layout')) button.setAttribute('aria-pressed', String(button.dataset.layout === layout));
    try {
      await state.grid.setLayout(layout);
      if (first && state.series && state.series.images.length) await showInGrid(state.series, 0);
    } catch (e) {
      showMessage(T.t('gridFailed', e.message), 'error');
    }
  }

  async function openMpr() {
    if (!state.series || !state.series.images.length) return;
    state.cine.stop();
    state.gridOpen = true;
    $('view-panel').dataset.view = 'grid';
    for (const button of document.querySelectorAll('.layout')) button.setAttribute('aria-pressed', 'false');
    try {
      if (await state.grid.reformat(state.series)) state.grid.setSlab(Number($('slab-select').value));
    } catch (e) {
      showMessage(T.t('reformatFailed', e.message), 'error');
    }
  }

  function toggle(button, changed) {
    button.addEventListener('click', () => {
      const on = button.getAttribute('aria-pressed') !== 'true';
      button.setAttribute('aria-pressed', String(on));
      changed(on);
    });
  }

  // The active viewport alone, on a page of its own, through the browser's print dialogue.
  async function printView() {
    const blob = await state.grid.snapshot($('with-overlay').checked);
    if (!blob) return;
    const url = URL.createObjectURL(blob);
    const frame = document.createElement('iframe');
    frame.className = 'print-frame';
    frame.hidden = true;
    document.body.appendChild(frame);
    const image = frame.contentDocument.createElement('img');
    image.style.maxWidth = '100%';
    image.onload = () => {
      frame.contentWindow.print();
      setTimeout(() => {
        frame.remove();
        URL.revokeObjectURL(url);
      }, 1000);
    };
    image.src = url;
    frame.contentDocument.body.appendChild(image);
  }

  async function savePng() {
    const blob = await state.grid.snapshot($('with-overlay').checked);
    if (!blob) return;
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = 'lumidra-view.png';
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  }

  function setTool(name) {
    if (state.gridOpen) state.grid.setTool(name === 'measure' ? 'length' : name);
    else state.tools.setTool(name);
    for (const button of document.querySelectorAll('.tool')) {
      button.setAttribute('aria-pressed', String(button.dataset.tool === name));
    }
  }

  // ---- input ----------------------------------------------------------------------------

  const ACTIONS = {
    previousImage: () => step(-1),
    nextImage: () => step(1),
    backTen: () => step(-10),
    forwardTen: () => step(10),
    firstImage: () => showImage(0),
    lastImage: () => state.series && showImage(state.series.images.length - 1),
    previousSeries: () => stepSeries(-1),
    nextSeries: () => stepSeries(1),
    previousFrame: () => stepFrame(-1),
    nextFrame: () => stepFrame(1),
    toggleCine,
    zoomIn: () => zoomWith((d, w, h) => Viewport.zoomBy(d, ZOOM_STEP, w, h)),
    zoomOut: () => zoomWith((d, w, h) => Viewport.zoomBy(d, 1 / ZOOM_STEP, w, h)),
    fit: () => (state.gridOpen ? state.grid.fit() : zoomWith(Viewport.fit)),
    actualSize: () => (state.gridOpen ? state.grid.actualSize() : zoomWith(Viewport.actualSize)),
    invert,
    nextPreset,
    reset: resetView,
    toolWindow: () => setTool('window'),
    toolPan: () => setTool('pan'),
    toolZoom: () => setTool('zoom'),
    toolMeasure: () => setTool('measure'),
    clear: clearMeasurement,
    help: () => state.help.toggle(),
  };

  function onKey(event) {
    const action = Keys.actionFor(event);
    if (!action) return;
    const target = event.target;
    // Controls keep their own keys: a list moves its choice, a button presses on Space.
    if (target.tagName === 'SELECT' && action !== 'help' && action !== 'clear') return;
    if (target.tagName === 'BUTTON' && action === 'toggleCine') return;
    if (state.help.isOpen() && action !== 'help' && action !== 'clear') return;
    // A document scrolls with the keys; only the series keys and the help leave it.
    if ($('view-panel').dataset.view === 'document' && !['help', 'clear', 'previousSeries', 'nextSeries'].includes(action)) return;
    // The workspace's viewports take the wheel and the mouse; its keys are the series and tool keys.
    if ($('view-panel').dataset.view === 'grid' && !/^(help|clear|previousSeries|nextSeries|tool|fit|actualSize)/.test(action)) return;
    event.preventDefault();
    ACTIONS[action]();
  }

  function installInput() {
    const canvas = $('image-canvas');
    state.source = Viewport.createRenderer();
    state.tools = window.LumidraTools.installTools(canvas, {
      display: () => state.display,
      changed: viewChanged,
      step,
      stepFrame,
      toolChanged(name) {
        for (const button of document.querySelectorAll('.tool')) {
          button.setAttribute('aria-pressed', String(button.dataset.tool === name));
        }
      },
    });
    state.cine = Cine.createCine({
      advance: async () => {
        const display = state.display;
        if (!display) return false;
        const count = display.image.frameCount;
        const shown = await showFrame((display.frame + 1) % count);
        // The frame after it decodes while this one is on screen.
        if (shown) display.image.loadFrame((display.frame + 1) % count, { priority: 'preload' }).catch(() => {});
        return shown;
      },
      playingChanged(playing) {
        const button = $('cine-button');
        button.textContent = T.t(playing ? 'stop' : 'play');
        button.setAttribute('aria-pressed', String(playing));
      },
    });
    state.presetMenu = window.LumidraPresetMenu.createPresetMenu($('preset-select'), applyPreset);
    state.help = window.LumidraHelp.createHelp($('help'), $('help-keys'), $('help-mouse'), $('help-close'), $('viewport'));

    document.addEventListener('keydown', onKey);
    for (const button of document.querySelectorAll('.tool')) {
      button.addEventListener('click', () => setTool(button.dataset.tool));
    }
    T.translate(document);
    createGrid();
    for (const button of document.querySelectorAll('.layout')) button.addEventListener('click', () => openGrid(button.dataset.layout));
    $('mpr-button').addEventListener('click', openMpr);
    $('slab-select').addEventListener('change', (event) => state.grid.setSlab(Number(event.target.value)));
    $('sync-select').addEventListener('change', (event) => state.grid.setSync(event.target.value));
    $('save-png').addEventListener('click', savePng);
    $('print-view').addEventListener('click', printView);
    toggle($('link-button'), (on) => state.grid.setLinked(on));
    toggle($('smooth-button'), (on) => {
      state.smooth = on;
      state.grid.setSmooth(on);
      scheduleDraw();
    });
    $('zoom-fit').addEventListener('click', ACTIONS.fit);
    $('zoom-actual').addEventListener('click', ACTIONS.actualSize);
    $('invert-button').addEventListener('click', invert);
    $('reset-window').addEventListener('click', resetView);
    $('help-button').addEventListener('click', () => state.help.toggle());
    $('help-close').addEventListener('click', () => state.help.close());
    $('slice-slider').addEventListener('input', (event) => showImage(Number(event.target.value)));
    $('frame-slider').addEventListener('input', (event) => {
      state.cine.stop();
      showFrame(Number(event.target.value));
    });
    $('cine-button').addEventListener('click', toggleCine);
    new ResizeObserver(scheduleDraw).observe($('viewport'));
    new ResizeObserver(() => state.grid.resize()).observe($('grid'));
  }

  // ---- start ----------------------------------------------------------------------------

  async function start() {
    installInput();
    if (location.protocol === 'file:') {
      startFromFolder();
      return;
    }
    let config;
    try {
      const response = await fetch(Launcher.CONFIG_PATH, { cache: 'no-store' });
      if (!response.ok) throw new Error('HTTP ' + response.status);
      config = Launcher.parseConfig(await response.text());
    } catch (e) {
      config = Launcher.parseConfig('{}');
      showMessage(T.t('configFailed', e.message), 'warn');
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
    Images.useSource(Images.httpSource(base));
    document.body.dataset.phase = 'running';
    window.LumidraLauncherStatus.followLauncher(state.launcher, state.pageLaunchId, showMessage, () => {
      state.closing = true;
      state.cine.stop();
    });
    await loadStudy(config.dicomdir);
  }

  start();
})();
