// Files the user gave the page (a chosen or dropped folder), found by the paths the study index
// names. Nothing is read until asked for.

// Lookup keys ignore case and the ";1" version that a bare ISO 9660 reader shows: a DICOMDIR
// names "DATA/DICOM/IM1" whatever the system made of the disc's names.
export function normalise(path) {
  return String(path).split('/').filter((c) => c && c !== '.').map((c) => c.replace(/;\d*$/, '').toUpperCase()).join('/');
}

// entries: [{ path, file } or { path, getFile() }], path relative to the chosen folder with '/'
// separators (the folder's own name removed).
export function fileSource(entries, name) {
  const byPath = new Map();
  for (const entry of entries) {
    const key = normalise(entry.path);
    if (key && !byPath.has(key)) byPath.set(key, entry);
  }

  async function bytes(path, length) {
    const entry = byPath.get(normalise(path));
    if (!entry) throw new Error(path + ' is not in the chosen folder');
    try {
      if (!entry.file) entry.file = await entry.getFile();
      return await (length === undefined ? entry.file : entry.file.slice(0, length)).arrayBuffer();
    } catch (e) {
      throw new Error('could not read ' + path + ' (' + (e.message || e.name) + ')');
    }
  }

  return {
    kind: 'files',
    name: name || '',
    read: (path) => bytes(path),
    // The first bytes only, for telling DICOM files from others.
    readStart: (path, length) => bytes(path, length),
    has: (path) => byPath.has(normalise(path)),
    // Every file's path as given, in a stable order.
    list: () => [...byPath.values()].map((e) => e.path).sort(),
    where: () => name || 'the chosen folder',
  };
}

// A chosen folder's FileList ("DISC/DATA/DICOMDIR" from webkitRelativePath): the folder's own
// name is taken off every path.
export function entriesOfFileList(files) {
  const entries = [];
  let name = '';
  for (const file of files) {
    const parts = (file.webkitRelativePath || file.name).split('/');
    if (parts.length > 1) {
      name = name || parts[0];
      parts.shift();
    }
    entries.push({ path: parts.join('/'), file });
  }
  return { entries, name };
}
