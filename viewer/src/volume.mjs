// Whether a series' frames make a volume that can be reformatted: one frame of reference, one
// size, one orientation, parallel slices at distinct positions, evenly spaced. The answer names
// the first reason it is not, as a key of the page's texts. Plain data in and out: frames are { rows, columns, frameOfReference,
// pixelSpacing, plane: { position, orientation } }.

const ORIENTATION_TOLERANCE = 1e-3;
// Slices whose gaps differ by more than this share of the usual gap are not evenly spaced.
const SPACING_TOLERANCE = 0.1;

function cross(a, b) {
  return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];
}

function dot(a, b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The frames' order along the slice normal (foot to head for axial slices) and the gap between them.
export function volumeOf(frames) {
  if (frames.length < 3) return { reason: 'fewImages' };
  const first = frames[0];
  if (frames.some((f) => !f.plane.position || !f.plane.orientation)) {
    return { reason: 'noPosition' };
  }
  if (frames.some((f) => f.rows !== first.rows || f.columns !== first.columns)) return { reason: 'sizes' };
  if (frames.some((f) => f.frameOfReference !== first.frameOfReference)) return { reason: 'frames' };
  const o = first.plane.orientation;
  if (frames.some((f) => f.plane.orientation.some((v, i) => Math.abs(v - o[i]) > ORIENTATION_TOLERANCE))) {
    return { reason: 'orientations' };
  }
  const normal = cross(o.slice(0, 3), o.slice(3, 6));
  const placed = frames.map((f, index) => ({ index, at: dot(f.plane.position, normal) })).sort((a, b) => a.at - b.at);
  const gaps = placed.slice(1).map((p, i) => p.at - placed[i].at);
  if (gaps.some((g) => g < 1e-3)) return { reason: 'samePosition' };
  const sorted = [...gaps].sort((a, b) => a - b);
  const gap = sorted[Math.floor(sorted.length / 2)];
  if (gaps.some((g) => Math.abs(g - gap) > gap * SPACING_TOLERANCE)) return { reason: 'spacing' };
  return { reason: null, order: placed.map((p) => p.index), gap };
}
