// Must run before the decoders are imported: they read the wasm location when first used, and
// the fetch they call is the one in place then. The page sends the codecs (base64 text) as the
// worker's first message.
const BASE = 'lumidra-codec:/';
let codecs = {};
self.lumidraWasmBase = BASE;
self.addEventListener('message', (event) => {
  if (event.data && event.data.codecs) {
    codecs = event.data.codecs;
    event.stopImmediatePropagation();
  }
});

const realFetch = self.fetch;
self.fetch = (input, init) => {
  const url = String((input && input.url) || input);
  if (!url.startsWith(BASE)) return realFetch.call(self, input, init);
  const text = codecs[url.slice(BASE.length)];
  if (!text) return Promise.reject(new TypeError('failed to load wasm: ' + url + ' is not carried'));
  // Decoded only when a frame needs the codec: a worker that decodes none starts sooner.
  const bytes = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
  return Promise.resolve(new Response(bytes, { headers: { 'Content-Type': 'application/wasm' } }));
};
