// Starts a decoding worker. Served pages load decode-worker.js beside the image script; a page
// opened from file:// may not (Chrome refuses worker scripts there), so it carries the worker's
// text and the codecs in a page script (self.LumidraWorkerSource, self.LumidraCodecs), starts the
// worker from a blob and hands it the codecs first.
export function workerFactory(scriptUrl) {
  const text = self.LumidraWorkerSource;
  if (typeof text === 'string') {
    const codecs = self.LumidraCodecs || {};
    let url = null;
    return () => {
      url = url || URL.createObjectURL(new Blob([text], { type: 'text/javascript' }));
      const worker = new Worker(url);
      worker.postMessage({ codecs });
      return worker;
    };
  }
  const url = new URL('decode-worker.js', scriptUrl);
  return () => new Worker(url, { type: 'module' });
}
