// pdf.js on the page opened from file://, where the browser starts no worker script and fetches
// nothing: every file pdf.js would load (its worker, font and character map data, decoders) is
// carried as a classic script beside where the file itself would be ("pdf.worker.js.js"), which
// hands its bytes, base64, to self.LumidraPdfCarried (a Map the page sets up) under its own
// address when it runs.
// Nothing is loaded until a document needs it.
const SAFE_NAME = /^[A-Za-z0-9_][A-Za-z0-9_.+-]*$/;
const loading = new Map();

export function carrying() {
  return self.LumidraPdfCarried instanceof Map;
}

function decode(base64) {
  const text = atob(base64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
  return bytes;
}

// The bytes of the file at url (absolute, a folder of the page's own), as its script carries them.
export function carriedFile(url) {
  if (!loading.has(url)) {
    const promise = new Promise((resolve, reject) => {
      const script = document.createElement('script');
      const failed = () => reject(new Error(url.split('/').pop() + ' is not on the disc'));
      script.onload = () => {
        const data = self.LumidraPdfCarried.get(script.src);
        self.LumidraPdfCarried.delete(script.src);
        script.remove();
        if (typeof data === 'string') resolve(decode(data));
        else failed();
      };
      script.onerror = () => {
        script.remove();
        failed();
      };
      script.src = url + '.js';
      document.head.appendChild(script);
    });
    loading.set(url, promise);
    promise.catch(() => loading.delete(url));
  }
  return loading.get(url);
}

// In place of pdf.js's own fetching of character maps, standard fonts and decoders; the file name
// comes from the document, so only a plain name in the named folder is looked for.
export class CarriedDataFactory {
  constructor(urls) {
    this.urls = urls;
  }

  async fetch({ kind, filename }) {
    const base = this.urls[kind];
    if (!base || !SAFE_NAME.test(filename)) throw new Error('no ' + kind + ' data for ' + filename);
    // pdf.js may hand the buffer over to its worker; the cached bytes stay whole.
    return (await carriedFile(base + filename)).slice();
  }
}
