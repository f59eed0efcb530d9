// Reads the documents a study may carry beside its images: an encapsulated PDF, a structured
// report (its content tree walked item by item, as the SR content item attributes define it) and
// a key object selection (the images it names). Values only; the page lays them out.
import { parse, Values } from './dataset.mjs';

export const PDF_CLASS = '1.2.840.10008.5.1.4.1.1.104.1';
export const KEY_OBJECT_CLASS = '1.2.840.10008.5.1.4.1.1.88.59';

const CONTENT_SEQUENCE = 0x0040a730;
const CONCEPT_NAME = 0x0040a043;
const CODE_MEANING = 0x00080104;
const CODE_VALUE = 0x00080100;
const REFERENCED_SOP = 0x00081199;
// Content trees nest rarely beyond a few levels; a deeper one is a damaged or hostile file.
const MAX_DEPTH = 64;
const MAX_ITEMS = 100000;

export class DocumentError extends Error {}

const RELATIONSHIPS = {
  CONTAINS: '', 'HAS PROPERTIES': 'property', 'HAS OBS CONTEXT': 'context', 'HAS ACQ CONTEXT': 'acquisition context',
  'HAS CONCEPT MOD': 'modifier', 'INFERRED FROM': 'inferred from', 'SELECTED FROM': 'selected from',
};

function codeMeaning(items) {
  const item = items[0];
  if (!item) return '';
  return item.text(CODE_MEANING) || item.text(CODE_VALUE);
}

function clean(s) {
  return s.replace(/\0/g, '');
}

function referencesOf(v) {
  return v.items(REFERENCED_SOP).map((r) => ({
    sopClassUid: clean(r.text(0x00081150)),
    sopInstanceUid: clean(r.text(0x00081155)),
    frames: r.texts(0x00081160).map(Number).filter((n) => Number.isInteger(n) && n > 0),
  }));
}

// A numeric item: its value with the unit's meaning (UCUM code when the meaning is missing), or why
// there is no value.
function numericValue(v) {
  const measured = v.items(0x0040a300)[0];
  if (!measured) return { value: codeMeaning(v.items(0x0040a301)) || 'no value' };
  const unitItem = measured.items(0x004008ea)[0];
  const unitCode = unitItem ? unitItem.text(CODE_VALUE) : '';
  // UCUM's "1" is a unitless ratio or count.
  const unit = unitCode === '1' ? '' : (unitItem && unitItem.text(CODE_MEANING)) || unitCode;
  return { value: measured.text(0x0040a30a), unit };
}

function valueOf(type, v) {
  switch (type) {
    case 'TEXT': return { value: v.text(0x0040a160) };
    case 'CODE': return { value: codeMeaning(v.items(0x0040a168)) };
    case 'NUM': return numericValue(v);
    case 'DATE': return { value: v.text(0x0040a121), format: 'date' };
    case 'TIME': return { value: v.text(0x0040a122), format: 'time' };
    case 'DATETIME': return { value: v.text(0x0040a120), format: 'datetime' };
    case 'PNAME': return { value: v.text(0x0040a123), format: 'personName' };
    case 'UIDREF': return { value: clean(v.text(0x0040a124)) };
    case 'IMAGE':
    case 'COMPOSITE':
    case 'WAVEFORM': return { references: referencesOf(v) };
    case 'SCOORD':
    case 'SCOORD3D': return { value: v.text(0x00700023) };
    case 'TCOORD': return { value: v.text(0x0040a130) };
    default: return {};
  }
}

// The content items below v as nodes { relationship, type, name, value?, unit?, format?,
// references?, reference?, children }.
function contentOf(v, depth, budget) {
  if (depth > MAX_DEPTH) throw new DocumentError('the report\'s content tree is nested too deeply');
  return v.items(CONTENT_SEQUENCE).map((item) => {
    if (++budget.count > MAX_ITEMS) throw new DocumentError('the report has too many content items');
    const node = {
      relationship: RELATIONSHIPS[item.text(0x0040a010)] ?? item.text(0x0040a010).toLowerCase(),
      type: item.text(0x0040a040),
      name: codeMeaning(item.items(CONCEPT_NAME)),
      children: [],
    };
    // An item given by reference names another item by its position in the tree.
    const byReference = item.uint32(0x0040db73) !== null ? [] : null;
    if (byReference) {
      for (let i = 0; item.uint32(0x0040db73, i) !== null && i < MAX_DEPTH; i++) byReference.push(item.uint32(0x0040db73, i));
      node.reference = byReference.join('.');
    } else {
      Object.assign(node, valueOf(node.type, item));
      node.children = contentOf(item, depth + 1, budget);
    }
    return node;
  });
}

function observers(v, sequence, nameTag) {
  return v.items(sequence).map((o) => o.text(nameTag)).filter(Boolean);
}

function pdfOf(v) {
  let bytes = v.bytes(0x00420011);
  if (!bytes || !bytes.length) throw new DocumentError('the document holds no PDF');
  // The value is padded to an even length; the document's own length, where given, drops the pad.
  const length = v.uint32(0x00420015);
  if (length !== null && length > 0 && length < bytes.length) bytes = bytes.subarray(0, length);
  return {
    kind: 'pdf',
    title: v.text(0x00420010) || codeMeaning(v.items(CONCEPT_NAME)),
    authors: [v.text(0x00700084)].filter(Boolean),
    pdf: bytes,
  };
}

function reportOf(v, sopClass) {
  const content = contentOf(v, 0, { count: 0 });
  return {
    kind: sopClass === KEY_OBJECT_CLASS ? 'keyImages' : 'sr',
    title: codeMeaning(v.items(CONCEPT_NAME)),
    completion: v.text(0x0040a491),
    verification: v.text(0x0040a493),
    verifiers: observers(v, 0x0040a073, 0x0040a075),
    verifiedAt: v.text(0x0040a030),
    authors: observers(v, 0x0040a078, 0x0040a123),
    content,
  };
}

// Every image a tree refers to, in reading order, once each.
export function imageReferences(content) {
  const out = [];
  const seen = new Set();
  const walk = (nodes) => {
    for (const node of nodes) {
      for (const r of node.references || []) {
        if (node.type === 'IMAGE' && r.sopInstanceUid && !seen.has(r.sopInstanceUid)) {
          seen.add(r.sopInstanceUid);
          out.push(r);
        }
      }
      walk(node.children);
    }
  };
  walk(content);
  return out;
}

// Which view shows a data set of the given SOP class ('pdf', 'sr' or 'keyImages'), or null for one
// that is not a document.
export function documentKind(v, sopClass) {
  if (sopClass === PDF_CLASS) return 'pdf';
  if (v.has(CONTENT_SEQUENCE) || v.text(0x0040a040) === 'CONTAINER') return sopClass === KEY_OBJECT_CLASS ? 'keyImages' : 'sr';
  return null;
}

// Reads a document file: { kind: 'pdf' | 'sr' | 'keyImages', title, date, time, authors, ... }.
// Throws DicomError or DocumentError with the reason when it cannot.
export function readDocument(arrayBuffer) {
  const v = new Values(parse(arrayBuffer).dataSet);
  const sopClass = clean(v.text(0x00080016));
  const common = {
    sopClassUid: sopClass, sopInstanceUid: clean(v.text(0x00080018)),
    date: v.text(0x00080023) || v.text(0x00080012), time: v.text(0x00080023) ? v.text(0x00080033) : v.text(0x00080013),
    patientName: v.text(0x00100010), patientId: v.text(0x00100020),
  };
  const kind = documentKind(v, sopClass);
  if (kind === 'pdf') return Object.assign(common, pdfOf(v));
  if (kind) return Object.assign(common, reportOf(v, sopClass));
  throw new DocumentError('neither a PDF nor a structured report (SOP class ' + (sopClass || 'not given') + ')');
}
