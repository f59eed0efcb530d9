// Starts a decoding worker. Served pages load decode-worker.js beside the image script; a page
// opened from file:// may not (Chrome refuses worker scripts there), so it carries the worker's
// text in a page script (self.LumidraWorkerSource) and starts it from a blob.
export function workerFactory(scriptUrl) {
  const text = self.LumidraWorkerSource;
  if (typeof text === 'string') {
    let url = null;
    return () => {
      url = url || URL.createObjectURL(new Blob([text], { type: 'text/javascript' }));
      return new Worker(url);
    };
  }
  const url = new URL('decode-worker.js', scriptUrl);
  return () => new Worker(url, { type: 'module' });
}
