// The mouse on the image: the chosen tool on the left button (window / level, pan, zoom,
// measure), pan on the middle and zoom on the right button; the wheel for images, frames
// (Shift) and zoom (Ctrl).
(function (root) {
  'use strict';

  const Viewport = root.LumidraViewport;
  const TOOLS = ['window', 'pan', 'zoom', 'measure'];
  const BUTTON_MODES = { 1: 'pan', 2: 'zoom' };
  const WHEEL_STEP = 100;
  // Dragging this many screen pixels up doubles the zoom.
  const ZOOM_DRAG_PIXELS = 120;
  const WHEEL_ZOOM_PER_STEP = 1.25;

  // options: { display(): the display or null, changed(what): after a change ('view', 'zoom',
  // 'measure'), step(delta), stepFrame(delta), toolChanged(name) }
  function installTools(canvas, options) {
    let tool = 'window';
    let drag = null;
    let wheel = 0;

    const ratio = () => root.devicePixelRatio || 1;
    const size = () => ({ width: canvas.width, height: canvas.height });
    const pointOnCanvas = (event) => {
      const box = canvas.getBoundingClientRect();
      return { x: (event.clientX - box.left) * ratio(), y: (event.clientY - box.top) * ratio() };
    };
    const currentLayout = (display) => Viewport.layout(display, canvas.width, canvas.height);

    function setTool(name) {
      if (!TOOLS.includes(name)) return;
      tool = name;
      canvas.dataset.tool = name;
      options.toolChanged(name);
    }

    canvas.addEventListener('contextmenu', (event) => event.preventDefault());

    canvas.addEventListener('pointerdown', (event) => {
      const display = options.display();
      if (!display || !display.image || !display.view) return;
      const mode = event.button === 0 ? tool : BUTTON_MODES[event.button];
      if (!mode || (mode === 'window' && display.image.isColor)) return;
      event.preventDefault();
      canvas.focus();
      const l = currentLayout(display);
      drag = {
        mode, at: pointOnCanvas(event), view: Object.assign({}, display.view),
        zoom: l.zoom, pan: Object.assign({}, display.pan), layout: l,
      };
      if (mode === 'measure') {
        const a = Viewport.toImage(l, drag.at.x, drag.at.y);
        display.measurement = { a, b: a };
      }
      canvas.setPointerCapture(event.pointerId);
    });

    canvas.addEventListener('pointermove', (event) => {
      const display = options.display();
      if (!drag || !display || !display.image) return;
      const p = pointOnCanvas(event);
      const dx = p.x - drag.at.x;
      const dy = p.y - drag.at.y;
      if (drag.mode === 'window') {
        // Right widens the window, down raises the level; faster for wide windows. A window of
        // one's own replaces the file's VOI LUT.
        const speed = Math.max(drag.view.width, 64) / 256 / ratio();
        display.view = Object.assign({}, display.view, {
          center: drag.view.center + dy * speed,
          width: Math.max(1, drag.view.width + dx * speed * 2),
          voiLut: null,
        });
        options.changed('view');
      } else if (drag.mode === 'pan') {
        // Panning starts from the zoom on screen, also when the image was fitted.
        display.zoom = drag.zoom;
        display.pan = { x: drag.pan.x + dx, y: drag.pan.y + dy };
        options.changed('zoom');
      } else if (drag.mode === 'zoom') {
        display.zoom = drag.zoom;
        display.pan = Object.assign({}, drag.pan);
        Viewport.zoomAround(display, drag.zoom * 2 ** (-dy / (ZOOM_DRAG_PIXELS * ratio())),
          drag.at.x, drag.at.y, canvas.width, canvas.height);
        options.changed('zoom');
      } else {
        display.measurement = {
          a: display.measurement.a, b: Viewport.toImage(drag.layout, p.x, p.y),
        };
        options.changed('measure');
      }
    });

    const endDrag = () => { drag = null; };
    canvas.addEventListener('pointerup', endDrag);
    canvas.addEventListener('pointercancel', endDrag);

    canvas.parentElement.addEventListener('wheel', (event) => {
      event.preventDefault();
      const unit = event.deltaMode === 1 ? 40 : event.deltaMode === 2 ? 400 : 1;
      // Some systems turn Shift + wheel into a sideways scroll.
      const delta = (event.deltaY || event.deltaX) * unit;
      const display = options.display();
      if (event.ctrlKey) {
        if (!display || !display.image) return;
        const p = pointOnCanvas(event);
        const l = currentLayout(display);
        Viewport.zoomAround(display, l.zoom * WHEEL_ZOOM_PER_STEP ** (-delta / WHEEL_STEP), p.x, p.y, size().width, size().height);
        options.changed('zoom');
        return;
      }
      wheel += delta;
      while (Math.abs(wheel) >= WHEEL_STEP) {
        const direction = Math.sign(wheel);
        wheel -= direction * WHEEL_STEP;
        if (event.shiftKey) options.stepFrame(direction);
        else options.step(direction);
      }
    }, { passive: false });

    setTool('window');
    return { setTool, tool: () => tool };
  }

  root.LumidraTools = { installTools, TOOLS };
})(typeof self !== 'undefined' ? self : this);
