// Where an image lies on the canvas (zoom, pan, fit, 1:1, the physical aspect of its pixels),
// and drawing it there at the screen's own resolution, with the measurement on top.
//
// A display is { image, index, frame, view, zoom, pan, measurement }: index is the image's place
// in its series, zoom screen pixels per image column (null: fit), pan in screen pixels,
// measurement { a, b } in image pixels or null.
(function (root) {
  'use strict';

  const Images = () => root.LumidraImages;
  const Measure = root.LumidraMeasure;
  const MIN_ZOOM = 1 / 32;
  const MAX_ZOOM = 32;
  const MEASURE_COLOUR = '#ffd24a';

  // The height of a row relative to the width of a column.
  function aspectOf(image) {
    const s = image.pixelSpacing;
    return s ? s[0] / s[1] : 1;
  }

  function fitZoom(image, width, height) {
    return Math.min(width / image.columns, height / (image.rows * aspectOf(image)));
  }

  function clampZoom(zoom) {
    return Math.min(MAX_ZOOM, Math.max(MIN_ZOOM, zoom));
  }

  // The image's corner (x, y) and scale on a canvas of width x height screen pixels. The corner
  // sits on whole pixels, so that at 1:1 each image pixel covers exactly one screen pixel.
  function layout(display, width, height) {
    const image = display.image;
    const zoom = display.zoom === null ? fitZoom(image, width, height) : display.zoom;
    const scaleX = zoom;
    const scaleY = zoom * aspectOf(image);
    return {
      zoom, scaleX, scaleY, width, height,
      x: Math.round((width - image.columns * scaleX) / 2 + display.pan.x),
      y: Math.round((height - image.rows * scaleY) / 2 + display.pan.y),
    };
  }

  function toImage(l, sx, sy) {
    return { x: (sx - l.x) / l.scaleX, y: (sy - l.y) / l.scaleY };
  }

  function toScreen(l, ix, iy) {
    return { x: l.x + ix * l.scaleX, y: l.y + iy * l.scaleY };
  }

  // Sets a new zoom and moves the pan so that the image point under (sx, sy) stays there.
  function zoomAround(display, zoom, sx, sy, width, height) {
    const before = layout(display, width, height);
    const point = toImage(before, sx, sy);
    const z = clampZoom(zoom);
    const aspect = aspectOf(display.image);
    display.zoom = z;
    display.pan = {
      x: sx - point.x * z - (width - display.image.columns * z) / 2,
      y: sy - point.y * z * aspect - (height - display.image.rows * z * aspect) / 2,
    };
  }

  // Zoom steps keep the middle of the canvas where it is.
  function zoomBy(display, factor, width, height) {
    zoomAround(display, layout(display, width, height).zoom * factor, width / 2, height / 2, width, height);
  }

  function fit(display) {
    display.zoom = null;
    display.pan = { x: 0, y: 0 };
  }

  function actualSize(display) {
    display.zoom = 1;
    display.pan = { x: 0, y: 0 };
  }

  // The frame under a view on a canvas of the image's own size.
  function renderToCanvas(image, frame, view, canvas) {
    canvas.width = image.columns;
    canvas.height = image.rows;
    const ctx = canvas.getContext('2d');
    const data = ctx.createImageData(image.columns, image.rows);
    Images().render(image, frame, view, data.data);
    ctx.putImageData(data, 0, 0);
    return canvas;
  }

  // The first frame fitted into a small canvas, in the physical proportions of its pixels.
  function drawThumbnail(image, view, canvas) {
    const full = renderToCanvas(image, 0, view, document.createElement('canvas'));
    const scale = fitZoom(image, canvas.width, canvas.height);
    const w = image.columns * scale;
    const h = image.rows * aspectOf(image) * scale;
    const ctx = canvas.getContext('2d');
    ctx.fillStyle = '#000';
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    ctx.imageSmoothingEnabled = true;
    ctx.drawImage(full, (canvas.width - w) / 2, (canvas.height - h) / 2, w, h);
  }

  // Keeps the last rendered frame, so that zoom, pan and measuring redraw without rendering.
  function createRenderer() {
    let last = null;
    const canvas = document.createElement('canvas');
    return function source(display) {
      const { image, frame, view } = display;
      if (last && last.image === image && last.frame === frame && last.center === view.center &&
          last.width === view.width && last.invert === view.invert) return canvas;
      renderToCanvas(image, frame, view, canvas);
      last = { image, frame, center: view.center, width: view.width, invert: view.invert };
      return canvas;
    };
  }

  // Matches the canvas to its box in screen pixels, so that it is crisp on HiDPI screens.
  function fitCanvas(canvas, box) {
    const ratio = root.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(box.width * ratio));
    const height = Math.max(1, Math.round(box.height * ratio));
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    return ratio;
  }

  function drawMeasurement(ctx, display, l, ratio) {
    const m = display.measurement;
    const a = toScreen(l, m.a.x, m.a.y);
    const b = toScreen(l, m.b.x, m.b.y);
    ctx.save();
    ctx.strokeStyle = MEASURE_COLOUR;
    ctx.fillStyle = MEASURE_COLOUR;
    ctx.lineWidth = Math.max(1, ratio * 1.5);
    ctx.beginPath();
    ctx.moveTo(a.x, a.y);
    ctx.lineTo(b.x, b.y);
    ctx.stroke();
    for (const p of [a, b]) {
      ctx.beginPath();
      ctx.arc(p.x, p.y, 3 * ratio, 0, 2 * Math.PI);
      ctx.fill();
    }
    ctx.font = Math.round(13 * ratio) + 'px system-ui, sans-serif';
    ctx.shadowColor = '#000';
    ctx.shadowBlur = 3 * ratio;
    ctx.fillText(Measure.distance(display.image, m.a, m.b).text, Math.max(a.x, b.x) + 8 * ratio,
      (a.y + b.y) / 2);
    ctx.restore();
  }

  // At 1:1 each image pixel is one screen pixel, which interpolating could only blur; magnified or
  // reduced, smooth unless the user asked for nearest neighbour.
  function interpolationFor(l, smooth) {
    const actual = Math.abs(l.scaleX - 1) < 1e-6 && Math.abs(l.scaleY - 1) < 1e-6;
    return smooth && !actual ? 'linear' : 'nearest';
  }

  // Draws the display (or black when there is nothing to show); returns the layout used, with
  // the interpolation drawn with, or null when no image was drawn. smooth: false for nearest
  // neighbour at every zoom.
  function draw(canvas, box, display, source, smooth = true) {
    const ratio = fitCanvas(canvas, box);
    const ctx = canvas.getContext('2d');
    ctx.fillStyle = '#000';
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    if (!display || !display.image || !display.view || !display.image.frameLoaded(display.frame)) return null;
    const l = layout(display, canvas.width, canvas.height);
    l.interpolation = interpolationFor(l, smooth);
    ctx.imageSmoothingEnabled = l.interpolation === 'linear';
    ctx.drawImage(source(display), l.x, l.y, display.image.columns * l.scaleX, display.image.rows * l.scaleY);
    if (display.measurement) drawMeasurement(ctx, display, l, ratio);
    return l;
  }

  root.LumidraViewport = {
    layout, toImage, toScreen, fitZoom, zoomAround, zoomBy, fit, actualSize, renderToCanvas, drawThumbnail,
    createRenderer, draw,
  };
})(typeof self !== 'undefined' ? self : this);
