// Which series can be reformatted, and in what order their slices lie: the reasons a series is
// not a volume, one case each, on frames as the image module describes them.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');

const AXIAL = [1, 0, 0, 0, 1, 0];

function frames(zs, change = () => {}) {
  return zs.map((z, i) => {
    const frame = { rows: 40, columns: 48, frameOfReference: '1.2.3', plane: { position: [-14, -12, z], orientation: AXIAL } };
    change(frame, i);
    return frame;
  });
}

test('a volume is ordered along its normal; each way of not being one is named', async () => {
  const { volumeOf } = await import('../../viewer/src/volume.mjs');
  const shuffled = volumeOf(frames([95, 100, 90, 85]));
  assert.deepEqual(shuffled, { reason: null, order: [3, 2, 0, 1], gap: 5 });
  // Oblique slices: the order follows the normal, not z.
  const tilted = [0, 1, 2].map((k) => ({ rows: 2, columns: 2, frameOfReference: 'x', plane: { position: [0, -k * 3, k * 4], orientation: [1, 0, 0, 0, 0.8, 0.6] } }));
  assert.deepEqual(volumeOf(tilted.reverse()).order, [2, 1, 0]);

  const cases = [
    [frames([1, 2]), 'fewImages'],
    [frames([1, 2, 3], (f, i) => { if (i === 1) f.plane.position = null; }), 'noPosition'],
    [frames([1, 2, 3], (f, i) => { if (i === 2) f.rows = 41; }), 'sizes'],
    [frames([1, 2, 3], (f, i) => { if (i === 0) f.frameOfReference = '9'; }), 'frames'],
    [frames([1, 2, 3], (f, i) => { if (i === 1) f.plane.orientation = [1, 0, 0, 0, 0, -1]; }), 'orientations'],
    [frames([1, 2, 2, 3]), 'samePosition'],
    [frames([1, 2, 3, 5]), 'spacing'],
  ];
  for (const [input, reason] of cases) assert.equal(volumeOf(input).reason, reason, reason);
});
