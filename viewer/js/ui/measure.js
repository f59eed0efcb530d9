// Distances on an image: millimetres from the pixel spacing, pixels when the file gives none.
(function (root) {
  'use strict';

  // a, b: points in image pixels (x along a row, y down the columns). Pixel spacing is
  // [between rows, between columns] in millimetres, so y steps take the first value.
  function distance(image, a, b) {
    const dx = b.x - a.x;
    const dy = b.y - a.y;
    const spacing = image.pixelSpacing;
    if (spacing) {
      const mm = Math.hypot(dx * spacing[1], dy * spacing[0]);
      return { value: mm, unit: 'mm', text: mm.toFixed(1) + ' mm' };
    }
    const px = Math.hypot(dx, dy);
    return { value: px, unit: 'px', text: px.toFixed(1) + ' px (' + root.LumidraTexts.t('noPixelSpacing') + ')' };
  }

  root.LumidraMeasure = { distance };
})(typeof self !== 'undefined' ? self : this);
