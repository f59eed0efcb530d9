// Must run before the decoders are imported: they read the wasm location when first used, and
// the fetch they call is the one in place then.
import CODECS from 'lumidra-embedded-codecs';

const BASE = 'lumidra-codec:/';
self.lumidraWasmBase = BASE;
const realFetch = self.fetch;
self.fetch = (input, init) => {
  const url = String((input && input.url) || input);
  if (!url.startsWith(BASE)) return realFetch.call(self, input, init);
  const bytes = CODECS[url.slice(BASE.length)];
  if (!bytes) return Promise.reject(new TypeError('failed to load wasm: ' + url + ' is not carried'));
  return Promise.resolve(new Response(bytes, { headers: { 'Content-Type': 'application/wasm' } }));
};
