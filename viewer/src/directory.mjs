// Turns a DICOMDIR into the patient / study / series / image tree, following the records'
// offsets as the index defines them, and the file ids into URL paths.
import { parse, Values } from './dataset.mjs';

const ROOT_FIRST = 0x00041200;
const RECORD_SEQUENCE = 0x00041220;
const NEXT_RECORD = 0x00041400;
const IN_USE = 0x00041410;
const LOWER_LEVEL = 0x00041420;
const RECORD_TYPE = 0x00041430;
const FILE_ID = 0x00041500;
const FILE_TRANSFER_SYNTAX = 0x00041512;
const LEVELS = ['PATIENT', 'STUDY', 'SERIES'];
// Records below a series that name a file with pixels (segmentations are IMAGE records).
const IMAGE_RECORDS = new Set(['IMAGE', 'RT DOSE']);
// Records of documents a series may hold beside (or instead of) images, by the view that shows them.
const DOCUMENT_RECORDS = { 'ENCAP DOC': 'pdf', 'SR DOCUMENT': 'sr', 'KEY OBJECT DOC': 'keyImages' };
const MAX_RECORDS = 200000;

// A file id component as the index allows it: letters, digits, underscore (and the dots some
// writers add). "." and ".." and anything with a separator are refused: no path leaves the disc.
const SAFE_COMPONENT = /^[A-Za-z0-9_][A-Za-z0-9_.-]{0,15}$/;

export function fileIdToPath(components) {
  if (!components.length || components.length > 8) return null;
  for (const c of components) {
    if (!SAFE_COMPONENT.test(c) || /^\.+$/.test(c)) return null;
  }
  return components.map(encodeURIComponent).join('/');
}

function optionalNumber(values, tag) {
  return values.number(tag);
}

function describe(type, v) {
  switch (type) {
    case 'PATIENT':
      return { name: v.text(0x00100010), id: v.text(0x00100020), birthDate: v.text(0x00100030), sex: v.text(0x00100040), studies: [] };
    case 'STUDY':
      return {
        uid: v.text(0x0020000d), date: v.text(0x00080020), time: v.text(0x00080030), description: v.text(0x00081030),
        id: v.text(0x00200010), accession: v.text(0x00080050), series: [],
      };
    case 'SERIES':
      return { uid: v.text(0x0020000e), modality: v.text(0x00080060), number: optionalNumber(v, 0x00200011), description: v.text(0x0008103e), images: [], documents: [] };
    default:
      return null;
  }
}

function imageOf(v) {
  const path = fileIdToPath(v.texts(FILE_ID));
  if (!path) return null;
  return {
    path, instanceNumber: optionalNumber(v, 0x00200013), transferSyntax: v.text(FILE_TRANSFER_SYNTAX).replace(/\0/g, ''),
    sopInstanceUid: v.text(0x00041511).replace(/\0/g, ''),
  };
}

// What the list can say of a document before its file is read.
function documentOf(type, v) {
  const path = fileIdToPath(v.texts(FILE_ID));
  if (!path) return null;
  const concept = v.items(0x0040a043)[0];
  return {
    path, kind: DOCUMENT_RECORDS[type], instanceNumber: optionalNumber(v, 0x00200013),
    title: v.text(0x00420010) || (concept ? concept.text(0x00080104) : ''), date: v.text(0x00080023),
    completion: v.text(0x0040a491), verification: v.text(0x0040a493),
  };
}

export function sortImages(tree) {
  const order = (a, b) => {
    const na = a.instanceNumber === null ? Infinity : a.instanceNumber;
    const nb = b.instanceNumber === null ? Infinity : b.instanceNumber;
    return na !== nb ? na - nb : (a.path < b.path ? -1 : a.path > b.path ? 1 : 0);
  };
  for (const patient of tree) {
    for (const study of patient.studies) for (const series of study.series) series.images.sort(order);
  }
  return tree;
}

// Adds a record's entry to its parent list; records above IMAGE get a child list.
function attach(type, v, parentEntry, parentLevel, out) {
  if (DOCUMENT_RECORDS[type]) {
    const doc = parentLevel === 2 ? documentOf(type, v) : null;
    if (doc) parentEntry.documents.push(doc);
    return null;
  }
  if (IMAGE_RECORDS.has(type)) {
    if (parentLevel !== 2) return null;
    const image = imageOf(v);
    if (image) parentEntry.images.push(image);
    else out.skipped++;
    return null;
  }
  const level = LEVELS.indexOf(type);
  if (level < 0 || level !== parentLevel + 1) return null;
  const entry = describe(type, v);
  if (level === 0) out.tree.push(entry);
  else if (level === 1) parentEntry.studies.push(entry);
  else parentEntry.series.push(entry);
  return entry;
}

function inUse(v) {
  return v.uint16(IN_USE) !== 0;
}

// Walks the records through their next and lower-level offsets.
function walkByOffsets(records, firstOffset, out) {
  const visited = new Set();
  let count = 0;
  const walk = (start, parentEntry, parentLevel) => {
    for (let offset = start; offset;) {
      const v = records.get(offset);
      if (!v || visited.has(offset)) {
        out.broken = true;
        return;
      }
      visited.add(offset);
      if (++count > MAX_RECORDS) throw new Error('too many directory records');
      if (inUse(v)) {
        const entry = attach(v.text(RECORD_TYPE), v, parentEntry, parentLevel, out);
        const lower = v.uint32(LOWER_LEVEL) || 0;
        if (entry && lower && parentLevel < 2) walk(lower, entry, parentLevel + 1);
      }
      offset = v.uint32(NEXT_RECORD) || 0;
    }
  };
  walk(firstOffset, null, -1);
}

// Without usable offsets the records are read in file order, each under the last record of the
// level above it, which is how writers lay them out.
function walkInOrder(records, out) {
  const current = [null, null, null];
  for (const v of records) {
    if (!inUse(v)) continue;
    const type = v.text(RECORD_TYPE);
    const level = IMAGE_RECORDS.has(type) || DOCUMENT_RECORDS[type] ? 3 : LEVELS.indexOf(type);
    if (level < 0) continue;
    const parent = level === 0 ? null : current[level - 1];
    if (level > 0 && !parent) continue;
    const entry = attach(type, v, parent, level - 1, out);
    if (level < 3) {
      current[level] = entry;
      for (let l = level + 1; l < 3; l++) current[l] = null;
    }
  }
}

// Returns { patients, skipped }, skipped counting image records with unusable file ids.
export function readDirectory(arrayBuffer) {
  const values = new Values(parse(arrayBuffer).dataSet);
  if (!values.has(RECORD_SEQUENCE)) throw new Error('not a DICOMDIR: no directory record sequence');
  const items = values.itemsWithOffsets(RECORD_SEQUENCE);
  const records = new Map(items.map((item) => [item.offset, item.values]));
  const first = values.uint32(ROOT_FIRST) || 0;
  let out = { tree: [], skipped: 0, broken: false };
  if (first && records.has(first)) walkByOffsets(records, first, out);
  if (!first || !records.has(first) || out.broken) {
    out = { tree: [], skipped: 0, broken: false };
    walkInOrder(items.map((item) => item.values), out);
  }
  return { patients: sortImages(out.tree), skipped: out.skipped };
}
