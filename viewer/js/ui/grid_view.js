// The compare workspace (window.LumidraGrid): cornerstone3D viewports in a grid of 1x1, 1x2, 2x1
// or 2x2, a series in each, the active one marked; scrolling linked by slice position within a
// frame of reference; measurement tools whose results are listed; axial, coronal and sagittal
// reformatting of a volume series with a MIP slab. cornerstone3D is loaded on first use only, so
// that the first image of the study is not kept waiting for it.
(function (root) {
  'use strict';

  const LAYOUTS = { '1x1': [1, 1], '1x2': [1, 2], '2x1': [2, 1], '2x2': [2, 2] };
  const ENGINE = 'lumidra-grid';
  const STACK_GROUP = 'lumidra-stack';
  const MPR_GROUP = 'lumidra-mpr';
  // The mouse tools: the page's name, cornerstone's class name.
  const TOOLS = {
    window: 'WindowLevelTool', pan: 'PanTool', zoom: 'ZoomTool', length: 'LengthTool', angle: 'AngleTool',
    cobb: 'CobbAngleTool', ellipse: 'EllipticalROITool', rectangle: 'RectangleROITool', probe: 'ProbeTool',
    arrow: 'ArrowAnnotateTool',
  };
  const MEASURING = ['length', 'angle', 'cobb', 'ellipse', 'rectangle', 'probe', 'arrow'];
  const PLANES = ['AXIAL', 'CORONAL', 'SAGITTAL'];
  const DRAW_WHILE_LOADING_MS = 1000;

  let library = null;

  // The patient directions a screen direction points to (LPS: +x left, +y posterior, +z head),
  // strongest first; oblique views get two or three letters.
  function directionLetters(v) {
    const names = [['R', 'L'], ['A', 'P'], ['F', 'H']];
    return [0, 1, 2].filter((i) => Math.abs(v[i]) > 0.25).sort((a, b) => Math.abs(v[b]) - Math.abs(v[a]))
      .map((i) => names[i][v[i] > 0 ? 1 : 0]).join('');
  }

  function cross(a, b) {
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];
  }

  function loadLibrary() {
    if (!library) {
      library = new Promise((resolve, reject) => {
        const script = document.createElement('script');
        script.src = root.LumidraLibraries.url('cornerstone.js');
        script.onload = () => {
          root.LumidraCornerstone.start();
          resolve(root.LumidraCornerstone);
        };
        script.onerror = () => reject(new Error(script.src + ' could not be loaded'));
        document.head.appendChild(script);
      });
      library.catch(() => { library = null; });
    }
    return library;
  }

  // container: where the cells go; options: { texts: LumidraTexts, measurements(list),
  // activeChanged(cell), message(text, kind) }
  function createGrid(container, options) {
    const T = options.texts;
    let C = null;
    let engine = null;
    let cells = [];
    let active = 0;
    let layout = '1x1';
    let tool = 'window';
    let syncSlices = null;
    // Window and zoom linked between the stack viewports on request.
    let linked = [];
    let byIndex = null;
    let mprVolume = null;
    let serial = 0;
    let smooth = true;

    async function ready() {
      if (C) return C;
      C = await loadLibrary();
      engine = new C.RenderingEngine(ENGINE);
      const t = C.tools;
      for (const name of [...Object.values(TOOLS), 'StackScrollTool', 'CrosshairsTool']) t.addTool(t[name]);
      for (const id of [STACK_GROUP, MPR_GROUP]) {
        const group = t.ToolGroupManager.createToolGroup(id);
        for (const name of Object.values(TOOLS)) group.addTool(t[name].toolName);
        group.addTool(t.StackScrollTool.toolName);
      }
      t.ToolGroupManager.getToolGroup(MPR_GROUP).addTool(t.CrosshairsTool.toolName);
      bindTools();
      syncSlices = t.synchronizers.createImageSliceSynchronizer('lumidra-slices');
      linked = [t.synchronizers.createVOISynchronizer('lumidra-voi', { syncInvertState: true, syncColormap: false }),
        t.synchronizers.createZoomPanSynchronizer('lumidra-zoom')];
      for (const sync of linked) sync.setEnabled(false);
      // On request: the same image number in every viewport, whatever the frame of reference.
      byIndex = t.SynchronizerManager.createSynchronizer('lumidra-index', C.Enums.Events.STACK_NEW_IMAGE, (sync, source, target) => {
        const from = engine.getViewport(source.viewportId);
        const to = engine.getViewport(target.viewportId);
        if (!from || !to || !to.getImageIds) return;
        const index = Math.min(from.getCurrentImageIdIndex(), to.getImageIds().length - 1);
        if (to.getCurrentImageIdIndex() !== index) to.setImageIdIndex(index);
      });
      byIndex.setEnabled(false);
      t.addTool(t.ReferenceLinesTool);
      t.ToolGroupManager.getToolGroup(STACK_GROUP).addTool(t.ReferenceLinesTool.toolName);
      for (const type of ['ANNOTATION_COMPLETED', 'ANNOTATION_MODIFIED', 'ANNOTATION_REMOVED']) {
        C.eventTarget.addEventListener(t.Enums.Events[type], listMeasurements);
      }
      return C;
    }

    // Left: the chosen tool; middle: pan; right: zoom; wheel: through the images. Tools not bound
    // keep their measurements on screen and movable.
    function bindTools() {
      const t = C.tools;
      const { MouseBindings } = t.Enums;
      for (const id of [STACK_GROUP, MPR_GROUP]) {
        const group = t.ToolGroupManager.getToolGroup(id);
        for (const name of Object.values(TOOLS)) group.setToolPassive(t[name].toolName);
        const left = id === MPR_GROUP && tool === 'crosshairs' ? t.CrosshairsTool : t[TOOLS[tool] || TOOLS.window];
        if (id === MPR_GROUP && tool !== 'crosshairs') group.setToolPassive(t.CrosshairsTool.toolName);
        group.setToolActive(left.toolName, { bindings: [{ mouseButton: MouseBindings.Primary }] });
        if (left !== t.PanTool) group.setToolActive(t.PanTool.toolName, { bindings: [{ mouseButton: MouseBindings.Auxiliary }] });
        if (left !== t.ZoomTool) group.setToolActive(t.ZoomTool.toolName, { bindings: [{ mouseButton: MouseBindings.Secondary }] });
        group.setToolActive(t.StackScrollTool.toolName, { bindings: [{ mouseButton: MouseBindings.Wheel }] });
      }
    }

    function cellOf(viewportId) {
      return cells.find((c) => c.viewportId === viewportId);
    }

    // What the page and its tests can read of each cell: the series and the image on screen.
    function markShown(viewportId) {
      const cell = cellOf(viewportId);
      if (!cell || !engine) return;
      const viewport = engine.getViewport(viewportId);
      if (!viewport || cell.kind !== 'stack') return;
      const index = viewport.getCurrentImageIdIndex();
      cell.element.dataset.image = String(index + 1);
      const plane = C.metaData.get('imagePlaneModule', cell.imageIds[index]) || {};
      const slice = [];
      if (Number.isFinite(plane.sliceLocation)) slice.push(T.t('location', round(plane.sliceLocation)));
      if (Number.isFinite(plane.sliceThickness)) slice.push(T.t('thickness', round(plane.sliceThickness)));
      cell.info.textContent = cell.title + '\n' + T.t('imageOf', index + 1, cell.imageIds.length) + (slice.length ? '\n' + slice.join(' · ') : '');
    }

    function round(value) {
      return String(Math.round(value * 100) / 100);
    }

    // A, P, R, L, H, F at the viewport's edges, from its camera: follows rotation and flips.
    function markOrientation(cell) {
      const viewport = engine && engine.getViewport(cell.viewportId);
      if (!viewport) return;
      const { viewUp, viewPlaneNormal } = viewport.getCamera();
      if (!viewUp || !viewPlaneNormal) return;
      const right = cross(viewUp, viewPlaneNormal);
      const letters = { top: viewUp, bottom: viewUp.map((v) => -v), right, left: right.map((v) => -v) };
      for (const [side, vector] of Object.entries(letters)) cell.markers[side].textContent = directionLetters(vector);
      markScale(cell, viewport, right);
    }

    // A bar of a round length in millimetres, at most a quarter of the viewport wide.
    function markScale(cell, viewport, right) {
      const { focalPoint } = viewport.getCamera();
      const a = viewport.worldToCanvas(focalPoint);
      const b = viewport.worldToCanvas(focalPoint.map((v, i) => v + right[i] * 10));
      const perMm = Math.hypot(b[0] - a[0], b[1] - a[1]) / 10;
      const room = cell.surface.clientWidth / 4;
      const mm = [100, 50, 20, 10, 5, 2, 1].find((length) => length * perMm <= room);
      cell.scale.hidden = !mm || !(perMm > 0);
      if (cell.scale.hidden) return;
      cell.scale.style.width = (mm * perMm) + 'px';
      cell.scale.dataset.mm = String(mm);
      cell.scale.textContent = mm + ' mm';
    }

    function makeCell(index) {
      const element = document.createElement('div');
      element.className = 'grid-cell';
      element.dataset.cell = String(index);
      const surface = document.createElement('div');
      surface.className = 'grid-surface';
      element.appendChild(surface);
      const info = document.createElement('div');
      info.className = 'overlay top-left grid-info';
      element.appendChild(info);
      const markers = {};
      for (const side of ['top', 'bottom', 'left', 'right']) {
        markers[side] = document.createElement('div');
        markers[side].className = 'orientation-marker ' + side;
        element.appendChild(markers[side]);
      }
      const scale = document.createElement('div');
      scale.className = 'scale-bar';
      scale.hidden = true;
      element.appendChild(scale);
      const cell = { element, surface, info, markers, scale, index, viewportId: 'cell-' + index + '-' + (++serial), kind: null, series: null };
      // After every render: zoom, pan, rotation and a resized viewport all show there.
      surface.addEventListener('CORNERSTONE_IMAGE_RENDERED', () => {
        markOrientation(cell);
        matchInterpolation(cell);
      });
      element.addEventListener('pointerdown', () => activate(cell.index), true);
      element.addEventListener('wheel', () => { if (active !== cell.index) activate(cell.index); }, { capture: true, passive: true });
      element.addEventListener('dblclick', () => toggleFull(cell.index));
      element.addEventListener('dragover', (event) => {
        if (event.dataTransfer.types.includes('application/x-lumidra-series')) event.preventDefault();
      });
      element.addEventListener('drop', (event) => {
        const key = event.dataTransfer.getData('application/x-lumidra-series');
        if (key === '') return;
        event.preventDefault();
        activate(cell.index);
        options.dropped(Number(key), cell.index);
      });
      return cell;
    }

    function activate(index) {
      active = index;
      for (const cell of cells) cell.element.classList.toggle('active', cell.index === index);
      container.dataset.active = String(index);
      showReferenceLines();
      options.activeChanged(cells[index]);
    }

    // The active viewport's plane drawn as a line across the other stack viewports.
    function showReferenceLines() {
      const cell = cells[active];
      if (!C || !cell || cell.kind !== 'stack') return;
      const group = C.tools.ToolGroupManager.getToolGroup(STACK_GROUP);
      const name = C.tools.ReferenceLinesTool.toolName;
      group.setToolConfiguration(name, { sourceViewportId: cell.viewportId });
      group.setToolEnabled(name);
      engine.render();
    }

    function toggleFull(index) {
      const full = container.dataset.full === String(index) ? '' : String(index);
      if (full) container.dataset.full = full;
      else delete container.dataset.full;
      for (const cell of cells) cell.element.hidden = full !== '' && cell.index !== Number(full);
      resize();
    }

    function dropViewports() {
      for (const cell of cells) {
        if (cell.kind && engine.getViewport(cell.viewportId)) {
          for (const id of [STACK_GROUP, MPR_GROUP]) C.tools.ToolGroupManager.getToolGroup(id).removeViewports(ENGINE, cell.viewportId);
          for (const sync of [syncSlices, byIndex, ...linked]) sync.remove({ renderingEngineId: ENGINE, viewportId: cell.viewportId });
          engine.disableElement(cell.viewportId);
        }
      }
      // A reformatted volume holds every slice a second time: it goes with its planes.
      if (mprVolume) C.cache.removeVolumeLoadObject(mprVolume);
      mprVolume = null;
    }

    // A new grid; the series shown stay in their places where the new grid has room.
    async function setLayout(name, keep = true) {
      await ready();
      const [rows, columns] = LAYOUTS[name];
      const kept = keep ? cells.filter((c) => c.kind === 'stack').map((c) => c.series) : [];
      dropViewports();
      container.textContent = '';
      delete container.dataset.full;
      container.style.gridTemplateRows = 'repeat(' + rows + ', 1fr)';
      container.style.gridTemplateColumns = 'repeat(' + columns + ', 1fr)';
      container.dataset.layout = name;
      layout = name;
      cells = [];
      for (let i = 0; i < rows * columns; i++) {
        const cell = makeCell(i);
        cells.push(cell);
        container.appendChild(cell.element);
      }
      activate(Math.min(active, cells.length - 1));
      for (let i = 0; i < Math.min(kept.length, cells.length); i++) if (kept[i]) await showSeries(kept[i], i);
      listMeasurements();
    }

    async function showSeries(series, index = active) {
      await ready();
      const cell = cells[index];
      if (!cell) return;
      const opened = await C.openSeries(series.images.map((image) => image.path));
      if (cell.kind) {
        C.tools.ToolGroupManager.getToolGroup(cell.kind === 'mpr' ? MPR_GROUP : STACK_GROUP).removeViewports(ENGINE, cell.viewportId);
        for (const sync of [syncSlices, byIndex, ...linked]) sync.remove({ renderingEngineId: ENGINE, viewportId: cell.viewportId });
        engine.disableElement(cell.viewportId);
      }
      engine.enableElement({ viewportId: cell.viewportId, element: cell.surface, type: C.Enums.ViewportType.STACK });
      delete cell.element.dataset.interpolation;
      if (!cell.listening) {
        cell.surface.addEventListener(C.Enums.Events.STACK_NEW_IMAGE, () => markShown(cell.viewportId));
        cell.listening = true;
      }
      Object.assign(cell, { kind: 'stack', series, imageIds: opened.imageIds, title: options.title(series) });
      cell.element.dataset.series = options.title(series);
      C.tools.ToolGroupManager.getToolGroup(STACK_GROUP).addViewport(cell.viewportId, ENGINE);
      const viewport = engine.getViewport(cell.viewportId);
      await viewport.setStack(opened.imageIds, startIndex(cell, opened.imageIds));
      viewport.render();
      markOrientation(cell);
      // Joined after its first image, so that it follows the others rather than leading them.
      for (const sync of [syncSlices, byIndex, ...linked]) sync.add({ renderingEngineId: ENGINE, viewportId: cell.viewportId });
      showReferenceLines();
      markShown(cell.viewportId);
    }

    // The slice nearest the position another viewport of the same frame of reference shows, while
    // the slices are linked; else the middle one.
    function startIndex(cell, imageIds) {
      const middle = Math.floor((imageIds.length - 1) / 2);
      if (syncSlices.isDisabled()) return byIndex.isDisabled() ? middle : Math.min(activeIndex(cell), imageIds.length - 1);
      const plane = (id) => C.metaData.get('imagePlaneModule', id) || {};
      const own = plane(imageIds[0]);
      const other = cells.find((c) => c !== cell && c.kind === 'stack' && engine.getViewport(c.viewportId) &&
        plane(c.imageIds[0]).frameOfReferenceUID === own.frameOfReferenceUID);
      if (!other || !own.frameOfReferenceUID) return middle;
      const target = plane(engine.getViewport(other.viewportId).getCurrentImageId()).imagePositionPatient;
      if (!target) return middle;
      let best = middle;
      let distance = Infinity;
      imageIds.forEach((id, i) => {
        const p = plane(id).imagePositionPatient;
        if (!p) return;
        const d = Math.hypot(p[0] - target[0], p[1] - target[1], p[2] - target[2]);
        if (d < distance) {
          distance = d;
          best = i;
        }
      });
      return best;
    }

    // The image number another stack viewport shows, as a start for one that follows it by index.
    function activeIndex(cell) {
      const other = cells.find((c) => c !== cell && c.kind === 'stack' && engine.getViewport(c.viewportId));
      return other ? engine.getViewport(other.viewportId).getCurrentImageIdIndex() : 0;
    }

    // Axial, coronal and sagittal planes of a volume series, side by side, the crosshair tool on.
    async function reformat(series) {
      await ready();
      const opened = await C.openSeries(series.images.map((image) => image.path));
      if (opened.notVolume) {
        const text = T.t('notVolume', options.title(series), opened.notVolume);
        options.message(text, 'error');
        container.dataset.mpr = 'refused';
        return false;
      }
      await setLayout('1x1', false);
      dropViewports();
      container.textContent = '';
      container.style.gridTemplateRows = '1fr';
      container.style.gridTemplateColumns = 'repeat(3, 1fr)';
      container.dataset.layout = 'mpr';
      const planes = PLANES.map((plane, i) => {
        const cell = makeCell(i);
        container.appendChild(cell.element);
        cell.plane = plane;
        cell.element.dataset.plane = plane.toLowerCase();
        cell.info.textContent = options.title(series) + '\n' + T.t(plane.toLowerCase());
        return cell;
      });
      cells = planes;
      const volumeId = 'cornerstoneStreamingImageVolume:' + series.images[0].path + ':' + (++serial);
      // What the page and the benchmark can read: the slices loading, then the planes drawn.
      container.dataset.mpr = 'loading';
      const volume = await C.volumeLoader.createAndCacheVolume(volumeId, { imageIds: opened.imageIds });
      engine.setViewports(cells.map((cell) => ({
        viewportId: cell.viewportId, element: cell.surface, type: C.Enums.ViewportType.ORTHOGRAPHIC,
        defaultOptions: { orientation: C.Enums.OrientationAxis[cell.plane] },
      })));
      const group = C.tools.ToolGroupManager.getToolGroup(MPR_GROUP);
      for (const cell of cells) {
        Object.assign(cell, { kind: 'mpr', series, title: options.title(series) });
        group.addViewport(cell.viewportId, ENGINE);
      }
      C.setVolumeFilter(volumeId, smooth);
      const { LINEAR, NEAREST } = C.Enums.InterpolationType;
      const interpolate = ({ volumeActor }) => volumeActor.getProperty().setInterpolationType(smooth ? LINEAR : NEAREST);
      await C.setVolumesForViewports(engine, [{ volumeId, callback: interpolate }], cells.map((c) => c.viewportId));
      await loadDrawing(volume, cells[0].viewportId);
      // Left for another layout while its slices were loading: the volume goes, the new layout stays.
      if (cells !== planes) {
        C.cache.removeVolumeLoadObject(volumeId);
        return false;
      }
      container.dataset.mpr = 'loaded';
      mprVolume = volumeId;
      engine.renderViewports(cells.map((c) => c.viewportId));
      for (const cell of cells) markOrientation(cell);
      activate(0);
      container.dataset.mpr = 'ready';
      listMeasurements();
      return true;
    }

    // Loads every slice of the volume while drawing the first plane at most once a second. Each
    // drawing sends the slices that arrived since the last one to the planes' shared texture, so
    // they are mostly in the graphics when the last slice arrives, and the page is not held up
    // sending all of them then. cornerstone's own drawing on load (all planes, every 2% of the
    // slices) is off: on a software renderer that many drawings slowed the loading itself.
    function loadDrawing(volume, viewportId) {
      volume.autoRenderOnLoad = false;
      let last = performance.now();
      let timer = null;
      const draw = () => {
        timer = null;
        last = performance.now();
        engine.renderViewports([viewportId]);
      };
      const modified = (event) => {
        if (event.detail.volumeId !== volume.volumeId || timer !== null) return;
        timer = setTimeout(draw, Math.max(0, last + DRAW_WHILE_LOADING_MS - performance.now()));
      };
      C.eventTarget.addEventListener(C.Enums.Events.IMAGE_VOLUME_MODIFIED, modified);
      return new Promise((resolve) => volume.load(resolve)).finally(() => {
        C.eventTarget.removeEventListener(C.Enums.Events.IMAGE_VOLUME_MODIFIED, modified);
        clearTimeout(timer);
      });
    }

    // Maximum intensity over a slab this thick (mm) in every reformatted plane; 0 for one slice.
    function setSlab(mm) {
      if (!engine) return;
      for (const cell of cells) {
        if (cell.kind !== 'mpr') continue;
        const viewport = engine.getViewport(cell.viewportId);
        viewport.setBlendMode(mm > 0 ? C.Enums.BlendModes.MAXIMUM_INTENSITY_BLEND : C.Enums.BlendModes.COMPOSITE);
        viewport.setSlabThickness(Math.max(mm, 0.1));
        viewport.render();
      }
      container.dataset.slab = String(mm);
    }

    function setTool(name) {
      tool = name;
      if (C) bindTools();
    }

    // mode: 'position' | 'index' | 'off'.
    function setSync(mode) {
      if (!syncSlices) return;
      syncSlices.setEnabled(mode === 'position');
      byIndex.setEnabled(mode === 'index');
    }

    function setLinked(on) {
      for (const sync of linked) sync.setEnabled(on);
    }

    // Canvas pixels per image pixel across and down a stack viewport, from its camera: the
    // canvas's height shows twice the parallel scale, in millimetres.
    function pixelZoom(viewport) {
      const data = viewport.getImageData();
      const { parallelScale } = viewport.getCamera();
      if (!data || !(parallelScale > 0)) return null;
      const perMm = viewport.canvas.height / (2 * parallelScale);
      return [perMm * data.spacing[0], perMm * data.spacing[1]];
    }

    // Smooth when magnified or reduced; nearest neighbour at 1:1, where each image pixel is one
    // canvas pixel and interpolating could only blur, and at every zoom on request.
    function matchInterpolation(cell) {
      const viewport = engine && cell.kind && engine.getViewport(cell.viewportId);
      if (!viewport) return;
      const zoom = cell.kind === 'stack' ? pixelZoom(viewport) : null;
      const actual = Boolean(zoom) && zoom.every((z) => Math.abs(z - 1) < 1e-3);
      const wanted = smooth && !actual ? 'linear' : 'nearest';
      if (cell.element.dataset.interpolation === wanted) return;
      cell.element.dataset.interpolation = wanted;
      const { LINEAR, NEAREST } = C.Enums.InterpolationType;
      const type = wanted === 'linear' ? LINEAR : NEAREST;
      // Already drawn so: a second drawing would change nothing.
      if (viewport.getProperties().interpolationType === type) return;
      viewport.setProperties({ interpolationType: type });
      viewport.render();
    }

    function setSmooth(on) {
      smooth = on;
      for (const cell of cells) matchInterpolation(cell);
    }

    function activeStack() {
      const cell = cells[active];
      return engine && cell && cell.kind === 'stack' ? engine.getViewport(cell.viewportId) : null;
    }

    // One image pixel per canvas pixel in the active viewport, about its middle.
    function actualSize() {
      const viewport = activeStack();
      const data = viewport && viewport.getImageData();
      if (!data) return;
      viewport.setCamera({ parallelScale: viewport.canvas.height * data.spacing[1] / 2 });
      viewport.render();
    }

    function fit() {
      const viewport = activeStack();
      if (!viewport) return;
      viewport.resetCamera();
      viewport.render();
    }

    // Every measurement, with its figures as cornerstone computed them.
    function listMeasurements() {
      if (!C) return;
      const all = C.tools.annotation.state.getAllAnnotations() || [];
      const list = all.filter((a) => MEASURING.some((m) => C.tools[TOOLS[m]].toolName === a.metadata.toolName)).map((a) => {
        const stats = Object.values(a.data.cachedStats || {})[0] || {};
        return { uid: a.annotationUID, tool: a.metadata.toolName, stats, text: a.data.label || a.data.text, imageId: a.metadata.referencedImageId };
      });
      options.measurements(list);
    }

    function removeMeasurement(uid) {
      C.tools.annotation.state.removeAnnotation(uid);
      engine.render();
      listMeasurements();
    }

    function activeViewport() {
      const cell = cells[active];
      return cell && cell.kind && engine.getViewport(cell.viewportId);
    }

    // The active viewport's picture, with its measurements, as a PNG blob.
    function snapshot(withOverlay) {
      const cell = cells[active];
      const viewport = activeViewport();
      if (!viewport) return Promise.resolve(null);
      const source = viewport.getCanvas();
      const canvas = document.createElement('canvas');
      canvas.width = source.width;
      canvas.height = source.height;
      const ctx = canvas.getContext('2d');
      ctx.drawImage(source, 0, 0);
      if (withOverlay) {
        const svg = cell.surface.querySelector('svg');
        const text = cell.info.textContent.split('\n');
        ctx.fillStyle = '#fff';
        ctx.font = '14px sans-serif';
        text.forEach((line, i) => ctx.fillText(line, 8, 20 + i * 18));
        if (svg) return drawSvg(ctx, svg, canvas).then(() => toBlob(canvas));
      }
      return toBlob(canvas);
    }

    function drawSvg(ctx, svg, canvas) {
      const copy = svg.cloneNode(true);
      copy.setAttribute('xmlns', 'http://www.w3.org/2000/svg');
      copy.setAttribute('width', String(canvas.width));
      copy.setAttribute('height', String(canvas.height));
      const url = URL.createObjectURL(new Blob([new XMLSerializer().serializeToString(copy)], { type: 'image/svg+xml' }));
      return new Promise((resolve) => {
        const img = new Image();
        img.onload = () => {
          ctx.drawImage(img, 0, 0, canvas.width, canvas.height);
          URL.revokeObjectURL(url);
          resolve();
        };
        img.onerror = () => {
          URL.revokeObjectURL(url);
          resolve();
        };
        img.src = url;
      });
    }

    function toBlob(canvas) {
      return new Promise((resolve) => canvas.toBlob(resolve, 'image/png'));
    }

    function resize() {
      if (!engine) return;
      engine.resize(true, true);
      for (const cell of cells) markOrientation(cell);
    }

    return {
      setLayout, showSeries, reformat, setSlab, setTool, setSync, setLinked, setSmooth, actualSize, fit, removeMeasurement,
      snapshot, resize,
      get layout() { return layout; },
      get active() { return active; },
    };
  }

  root.LumidraGrid = { createGrid, LAYOUTS };
})(typeof self !== 'undefined' ? self : this);
