// Every key and mouse gesture of the viewer, in one table: the keyboard handler and the help
// both read it, so the help cannot leave a key out.
(function (root) {
  'use strict';

  // keys: event.key values; shown: how the help writes them (or the name of that text); text:
  // the name of what the help says the key does.
  const KEYS = [
    { action: 'previousImage', keys: ['ArrowUp', 'ArrowLeft'], shown: '↑ / ←', text: 'keyPreviousImage' },
    { action: 'nextImage', keys: ['ArrowDown', 'ArrowRight'], shown: '↓ / →', text: 'keyNextImage' },
    { action: 'backTen', keys: ['PageUp'], shown: 'Page Up', text: 'keyBackTen' },
    { action: 'forwardTen', keys: ['PageDown'], shown: 'Page Down', text: 'keyForwardTen' },
    { action: 'firstImage', keys: ['Home'], shown: 'Home', text: 'keyFirstImage' },
    { action: 'lastImage', keys: ['End'], shown: 'End', text: 'keyLastImage' },
    { action: 'previousSeries', keys: ['['], shown: '[', text: 'keyPreviousSeries' },
    { action: 'nextSeries', keys: [']'], shown: ']', text: 'keyNextSeries' },
    { action: 'previousFrame', keys: [','], shown: ',', text: 'keyPreviousFrame' },
    { action: 'nextFrame', keys: ['.'], shown: '.', text: 'keyNextFrame' },
    { action: 'toggleCine', keys: [' '], shown: 'keySpace', text: 'keyToggleCine' },
    { action: 'zoomIn', keys: ['+', '='], shown: '+', text: 'keyZoomIn' },
    { action: 'zoomOut', keys: ['-', '_'], shown: '−', text: 'keyZoomOut' },
    { action: 'fit', keys: ['f', 'F'], shown: 'F', text: 'keyFit' },
    { action: 'actualSize', keys: ['1'], shown: '1', text: 'keyActualSize' },
    { action: 'invert', keys: ['i', 'I'], shown: 'I', text: 'keyInvert' },
    { action: 'nextPreset', keys: ['v', 'V'], shown: 'V', text: 'keyNextPreset' },
    { action: 'reset', keys: ['r', 'R'], shown: 'R', text: 'keyReset' },
    { action: 'toolWindow', keys: ['w', 'W'], shown: 'W', text: 'keyToolWindow' },
    { action: 'toolPan', keys: ['p', 'P'], shown: 'P', text: 'keyToolPan' },
    { action: 'toolZoom', keys: ['z', 'Z'], shown: 'Z', text: 'keyToolZoom' },
    { action: 'toolMeasure', keys: ['m', 'M'], shown: 'M', text: 'keyToolMeasure' },
    { action: 'clear', keys: ['Escape', 'Delete'], shown: 'Esc / Del', text: 'keyClear' },
    { action: 'help', keys: ['?'], shown: '?', text: 'keyHelp' },
  ];

  const MOUSE = [
    { shown: 'mouseWheel', text: 'mouseWheelText' },
    { shown: 'mouseShiftWheel', text: 'mouseShiftWheelText' },
    { shown: 'mouseCtrlWheel', text: 'mouseCtrlWheelText' },
    { shown: 'mouseLeft', text: 'mouseLeftText' },
    { shown: 'mouseMiddle', text: 'mouseMiddleText' },
    { shown: 'mouseRight', text: 'mouseRightText' },
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
