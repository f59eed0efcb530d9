// Files served by the launcher: a path below the server's root (or, without one, below the
// page's own address), read with fetch.

// A failure that may pass while the launcher is still unpacking (a missing file, no answer) is
// marked transient; a damaged file is not.
function transient(error) {
  error.transient = true;
  return error;
}

function joinUrl(base, path) {
  return base.replace(/\/+$/, '') + '/' + String(path).replace(/^\/+/, '');
}

export function httpSource(base) {
  const urlOf = (path) => (base ? joinUrl(base, path) : path);
  return {
    kind: 'http',
    async read(path) {
      let response;
      try {
        response = await fetch(urlOf(path), { cache: 'no-store' });
      } catch (e) {
        throw transient(new Error('could not read ' + path + ': ' + e.message));
      }
      if (!response.ok) throw transient(new Error('HTTP ' + response.status + ' for ' + path));
      return response.arrayBuffer();
    },
    where: () => (base ? new URL(base).host : location.host),
  };
}
