// The study in a folder the user chose: through its DICOMDIR when it has one that names files in
// the folder, else by looking at every file.
import { readDirectory } from './directory.mjs';
import { scanFolder } from './scan.mjs';

// The DICOMDIR nearest the folder's top; its file ids count from its own folder.
function indexPath(source) {
  const candidates = source.list().filter((p) => /(^|\/)DICOMDIR(;\d*)?$/i.test(p));
  candidates.sort((a, b) => a.split('/').length - b.split('/').length || (a < b ? -1 : 1));
  return candidates[0] || null;
}

function firstImage(patients) {
  for (const p of patients) for (const st of p.studies) for (const se of st.series) if (se.images.length) return se.images[0];
  return null;
}

function prefixPaths(patients, prefix) {
  if (!prefix) return;
  for (const p of patients) for (const st of p.studies) for (const se of st.series) for (const im of se.images) im.path = prefix + im.path;
}

// Resolves to { patients, skipped, how: 'index' | 'scan', note }; progress(done, total) while scanning.
export async function readLocalStudy(source, progress) {
  const index = indexPath(source);
  let note = '';
  if (index) {
    try {
      const directory = readDirectory(await source.read(index));
      prefixPaths(directory.patients, index.slice(0, index.length - index.split('/').pop().length));
      const first = firstImage(directory.patients);
      if (first && source.has(first.path)) return Object.assign(directory, { how: 'index', note });
      note = 'The folder\'s ' + index + ' names files that are not in it; its files were looked at instead.';
    } catch (e) {
      note = 'The folder\'s ' + index + ' could not be read (' + e.message + '); its files were looked at instead.';
    }
  }
  const found = await scanFolder(source, progress);
  return Object.assign(found, { how: 'scan', note });
}
