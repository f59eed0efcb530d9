// The decoding worker as a page from file:// starts it, from a blob: the codecs' WebAssembly
// comes from the page in its first message and is given to the codecs where they would fetch it,
// since nothing may be fetched there.
import './embedded_codecs_fetch.mjs';
import './decode_worker.mjs';
