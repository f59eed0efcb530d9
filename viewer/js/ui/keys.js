// Every key and mouse gesture of the viewer, in one table: the keyboard handler and the help
// both read it, so the help cannot leave a key out.
(function (root) {
  'use strict';

  // keys: event.key values; shown: how the help writes them.
  const KEYS = [
    { action: 'previousImage', keys: ['ArrowUp', 'ArrowLeft'], shown: '↑ / ←', label: 'Previous image' },
    { action: 'nextImage', keys: ['ArrowDown', 'ArrowRight'], shown: '↓ / →', label: 'Next image' },
    { action: 'backTen', keys: ['PageUp'], shown: 'Page Up', label: '10 images back' },
    { action: 'forwardTen', keys: ['PageDown'], shown: 'Page Down', label: '10 images forward' },
    { action: 'firstImage', keys: ['Home'], shown: 'Home', label: 'First image' },
    { action: 'lastImage', keys: ['End'], shown: 'End', label: 'Last image' },
    { action: 'previousSeries', keys: ['['], shown: '[', label: 'Previous series' },
    { action: 'nextSeries', keys: [']'], shown: ']', label: 'Next series' },
    { action: 'previousFrame', keys: [','], shown: ',', label: 'Previous frame (multi-frame images)' },
    { action: 'nextFrame', keys: ['.'], shown: '.', label: 'Next frame (multi-frame images)' },
    { action: 'toggleCine', keys: [' '], shown: 'Space', label: 'Play / stop the frames (cine)' },
    { action: 'zoomIn', keys: ['+', '='], shown: '+', label: 'Zoom in' },
    { action: 'zoomOut', keys: ['-', '_'], shown: '−', label: 'Zoom out' },
    { action: 'fit', keys: ['f', 'F'], shown: 'F', label: 'Fit the image to the window' },
    { action: 'actualSize', keys: ['1'], shown: '1', label: 'Actual size: one image pixel per screen pixel (1:1)' },
    { action: 'invert', keys: ['i', 'I'], shown: 'I', label: 'Invert the grey scale' },
    { action: 'nextPreset', keys: ['v', 'V'], shown: 'V', label: 'Next window preset' },
    { action: 'reset', keys: ['r', 'R'], shown: 'R', label: 'Reset window, zoom, pan and invert' },
    { action: 'toolWindow', keys: ['w', 'W'], shown: 'W', label: 'Tool: window / level (drag)' },
    { action: 'toolPan', keys: ['p', 'P'], shown: 'P', label: 'Tool: pan (drag)' },
    { action: 'toolZoom', keys: ['z', 'Z'], shown: 'Z', label: 'Tool: zoom (drag up / down)' },
    { action: 'toolMeasure', keys: ['m', 'M'], shown: 'M', label: 'Tool: measure a distance (drag)' },
    { action: 'clear', keys: ['Escape', 'Delete'], shown: 'Esc / Del', label: 'Remove the measurement; close this help' },
    { action: 'help', keys: ['?'], shown: '?', label: 'Show / hide this keyboard help' },
  ];

  const MOUSE = [
    { shown: 'Wheel', label: 'Previous / next image' },
    { shown: 'Shift + wheel', label: 'Previous / next frame' },
    { shown: 'Ctrl + wheel', label: 'Zoom around the pointer' },
    { shown: 'Left drag', label: 'The chosen tool (window / level at first: right widens, down raises the level)' },
    { shown: 'Middle drag', label: 'Pan' },
    { shown: 'Right drag', label: 'Zoom (up: in, down: out)' },
  ];

  const byKey = new Map();
  for (const entry of KEYS) for (const key of entry.keys) byKey.set(key, entry.action);

  // The action a key press asks for, or null. Ctrl and Meta combinations belong to the browser;
  // AltGr (Ctrl + Alt on Windows) still types the brackets of some layouts.
  function actionFor(event) {
    const altGr = event.ctrlKey && event.altKey;
    if ((event.ctrlKey || event.metaKey || event.altKey) && !altGr) return null;
    return byKey.get(event.key) || null;
  }

  root.LumidraKeys = { KEYS, MOUSE, actionFor };
})(typeof self !== 'undefined' ? self : this);
