// Turns a parsed DICOMDIR into the patient / study / series / image tree, following the
// records' offsets as the index defines them, and the file ids into URL paths.
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.LumidraDicomdir = api;
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  const ROOT_FIRST = 0x00041200;
  const RECORD_SEQUENCE = 0x00041220;
  const NEXT_RECORD = 0x00041400;
  const IN_USE = 0x00041410;
  const LOWER_LEVEL = 0x00041420;
  const RECORD_TYPE = 0x00041430;
  const FILE_ID = 0x00041500;
  const FILE_TRANSFER_SYNTAX = 0x00041512;
  const LEVELS = ['PATIENT', 'STUDY', 'SERIES'];
  const MAX_RECORDS = 200000;

  // A file id component as the index allows it: upper case letters, digits, underscore.
  // Anything else (in particular "." and "..") is refused so that no path leaves the disc.
  const SAFE_COMPONENT = /^[A-Za-z0-9_][A-Za-z0-9_.-]{0,15}$/;

  function fileIdToPath(components) {
    if (!components.length || components.length > 8) return null;
    for (const c of components) {
      if (!SAFE_COMPONENT.test(c) || /^\.+$/.test(c)) return null;
    }
    return components.map(encodeURIComponent).join('/');
  }

  function describe(type, ds) {
    switch (type) {
      case 'PATIENT':
        return {
          name: ds.string(0x00100010) || '', id: ds.string(0x00100020) || '',
          birthDate: ds.string(0x00100030) || '', sex: ds.string(0x00100040) || '', studies: [],
        };
      case 'STUDY':
        return {
          uid: ds.string(0x0020000d) || '', date: ds.string(0x00080020) || '',
          time: ds.string(0x00080030) || '', description: ds.string(0x00081030) || '',
          id: ds.string(0x00200010) || '', accession: ds.string(0x00080050) || '', series: [],
        };
      case 'SERIES':
        return {
          uid: ds.string(0x0020000e) || '', modality: ds.string(0x00080060) || '',
          number: ds.number(0x00200011), description: ds.string(0x0008103e) || '', images: [],
        };
      default:
        return null;
    }
  }

  function imageOf(ds) {
    const path = fileIdToPath(ds.strings(FILE_ID));
    if (!path) return null;
    return {
      path,
      instanceNumber: ds.number(0x00200013),
      transferSyntax: (ds.string(FILE_TRANSFER_SYNTAX) || '').replace(/\0/g, ''),
    };
  }

  function sortImages(tree) {
    for (const patient of tree) {
      for (const study of patient.studies) {
        for (const series of study.series) {
          series.images.sort((a, b) => {
            const na = a.instanceNumber === null ? Infinity : a.instanceNumber;
            const nb = b.instanceNumber === null ? Infinity : b.instanceNumber;
            return na !== nb ? na - nb : (a.path < b.path ? -1 : a.path > b.path ? 1 : 0);
          });
        }
      }
    }
    return tree;
  }

  // Adds a record's entry to its parent list; records above IMAGE get a child list.
  function attach(type, ds, parentEntry, parentLevel, out) {
    const level = LEVELS.indexOf(type);
    if (type === 'IMAGE') {
      if (parentLevel !== 2) return null;
      const image = imageOf(ds);
      if (image) parentEntry.images.push(image);
      else out.skipped++;
      return null;
    }
    if (level !== parentLevel + 1) return null;
    const entry = describe(type, ds);
    if (level === 0) out.tree.push(entry);
    else if (level === 1) parentEntry.studies.push(entry);
    else parentEntry.series.push(entry);
    return entry;
  }

  // Walks the records through their next and lower-level offsets.
  function walkByOffsets(records, firstOffset, out) {
    const visited = new Set();
    let count = 0;
    const walk = (offset, parentEntry, parentLevel) => {
      while (offset) {
        const ds = records.get(offset);
        if (!ds || visited.has(offset)) {
          out.broken = true;
          return;
        }
        visited.add(offset);
        if (++count > MAX_RECORDS) throw new Error('too many directory records');
        if (ds.number(IN_USE) !== 0) {
          const type = ds.string(RECORD_TYPE) || '';
          const entry = attach(type, ds, parentEntry, parentLevel, out);
          const lower = ds.number(LOWER_LEVEL) || 0;
          if (entry && lower && parentLevel < 2) walk(lower, entry, parentLevel + 1);
        }
        offset = ds.number(NEXT_RECORD) || 0;
      }
    };
    walk(firstOffset, null, -1);
  }

  // Without usable offsets the records are read in file order, each under the last record of
  // the level above it, which is how writers lay them out.
  function walkInOrder(items, out) {
    const current = [null, null, null];
    for (const ds of items) {
      if (ds.number(IN_USE) === 0) continue;
      const type = ds.string(RECORD_TYPE) || '';
      const level = type === 'IMAGE' ? 3 : LEVELS.indexOf(type);
      if (level < 0) continue;
      const parent = level === 0 ? null : current[level - 1];
      if (level > 0 && !parent) continue;
      const entry = attach(type, ds, parent, level - 1, out);
      if (level < 3) {
        current[level] = entry;
        for (let l = level + 1; l < 3; l++) current[l] = null;
      }
    }
  }

  // parsed: the result of LumidraDicom.parseDicom on a DICOMDIR.
  // Returns { patients, skipped } where skipped counts image records with unusable file ids.
  function readDicomdir(parsed) {
    const ds = parsed.dataset;
    const element = ds.get(RECORD_SEQUENCE);
    if (!element || !element.items) throw new Error('not a DICOMDIR: no directory record sequence');
    const items = element.items;
    const records = new Map(items.map((item) => [item.offset, item]));
    const first = ds.number(ROOT_FIRST) || 0;
    let out = { tree: [], skipped: 0, broken: false };
    if (first && records.has(first)) walkByOffsets(records, first, out);
    if (!first || !records.has(first) || out.broken) {
      out = { tree: [], skipped: 0, broken: false };
      walkInOrder(items, out);
    }
    return { patients: sortImages(out.tree), skipped: out.skipped };
  }

  return { readDicomdir, fileIdToPath };
});
