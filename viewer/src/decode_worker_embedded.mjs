// The decoding worker as a page from file:// starts it: the codecs' WebAssembly travels inside
// the worker and is handed over where the codecs would fetch it, since nothing may be fetched.
import './embedded_codecs_fetch.mjs';
import './decode_worker.mjs';
