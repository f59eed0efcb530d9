// Decoded frames by key, the least recently used going first once their bytes pass the limit.
export function createFrameCache(limitBytes) {
  const frames = new Map();
  let bytes = 0;
  let limit = limitBytes;

  function evict(keep) {
    for (const [key, frame] of frames) {
      if (bytes <= limit) return;
      if (key === keep) continue;
      frames.delete(key);
      bytes -= frame.pixels.byteLength;
    }
  }

  return {
    get(key) {
      const frame = frames.get(key);
      if (frame) {
        frames.delete(key);
        frames.set(key, frame);
      }
      return frame;
    },
    has(key) { return frames.has(key); },
    put(key, frame) {
      const old = frames.get(key);
      if (old) bytes -= old.pixels.byteLength;
      frames.delete(key);
      frames.set(key, frame);
      bytes += frame.pixels.byteLength;
      evict(key);
    },
    setLimit(value) {
      limit = value;
      evict(null);
    },
    stats() { return { frames: frames.size, bytes, limit }; },
  };
}
