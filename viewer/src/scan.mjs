// A folder without a DICOMDIR: its DICOM files found by content and grouped into the same
// patient / study / series tree, with images and documents, that directory.mjs reads from an index.
import { parse, Values, DicomError } from './dataset.mjs';
import { sortImages } from './directory.mjs';
import { documentKind } from './documents.mjs';

const PIXEL_DATA = 'x7fe00010';
const ENCAPSULATED_DOCUMENT = 'x00420011';
const DIRECTORY_CLASS = '1.2.840.10008.1.3.10';
// Enough for the header of nearly every image; a longer one is read whole.
const START_BYTES = 64 * 1024;
const PARALLEL_READS = 16;

function looksLikeDicom(bytes) {
  const magic = bytes.length >= 132 && bytes[128] === 0x44 && bytes[129] === 0x49 && bytes[130] === 0x43 && bytes[131] === 0x4d;
  // File meta without a preamble, or a bare data set starting in group 0008.
  const bare = bytes.length >= 8 && (bytes[0] === 0x02 || bytes[0] === 0x08) && bytes[1] === 0x00 && bytes[3] === 0x00;
  return magic || bare;
}

// The first bytes parsed up to the pixels or, for an encapsulated PDF, up to the document itself,
// so that a report of many megabytes is not read whole to be listed; null when the header goes on
// past them. A parse that merely ran out of bytes at an element's end is not taken for the whole.
function parseStart(bytes) {
  const whole = bytes.length < START_BYTES;
  for (const untilTag of [PIXEL_DATA, ENCAPSULATED_DOCUMENT]) {
    try {
      const parsed = parse(bytes, { untilTag });
      if (whole || parsed.dataSet.elements[untilTag]) return parsed;
    } catch (e) {
      if (!(e instanceof DicomError)) throw e;
    }
  }
  return null;
}

// The patient's name. Some tools (dcmtk's pdf2dcm among them) copy a name's bytes from a UTF-8 image
// under their own default character set; read by that, the report's patient would be another
// person than the image's. Latin-1 text with accents is almost never valid UTF-8, so the bytes
// tell which it is.
function patientName(v) {
  const bytes = v.bytes(0x00100010);
  if (['', 'ISO_IR 6', 'ISO_IR 100'].includes(v.text(0x00080005)) && bytes && bytes.some((b) => b > 0x7f)) {
    try {
      return new TextDecoder('utf-8', { fatal: true }).decode(bytes).replace(/[\0 ]+$/, '');
    } catch (e) {
      // Not UTF-8: the declared set holds.
    }
  }
  return v.text(0x00100010);
}

// The identifying texts of one file, with its image or document entry, or null when it is
// neither an image nor a document.
async function identify(source, path) {
  let bytes = new Uint8Array(await source.readStart(path, START_BYTES));
  if (!looksLikeDicom(bytes)) return null;
  let parsed = parseStart(bytes);
  if (!parsed) {
    // The header goes on past the bytes read (or a deflated file, which inflates whole).
    if (bytes.length < START_BYTES) return null;
    try {
      bytes = new Uint8Array(await source.read(path));
      parsed = parse(bytes, { untilTag: PIXEL_DATA });
    } catch (e) {
      return null;
    }
  }
  const ds = parsed.dataSet;
  const v = new Values(ds);
  const sopClass = v.text(0x00080016) || v.text(0x00020002);
  if (sopClass === DIRECTORY_CLASS || v.has(0x00041220)) return null;
  const found = {
    patient: { name: patientName(v), id: v.text(0x00100020), birthDate: v.text(0x00100030), sex: v.text(0x00100040) },
    study: {
      uid: v.text(0x0020000d), date: v.text(0x00080020), time: v.text(0x00080030), description: v.text(0x00081030),
      id: v.text(0x00200010), accession: v.text(0x00080050),
    },
    series: { uid: v.text(0x0020000e), modality: v.text(0x00080060), number: v.number(0x00200011), description: v.text(0x0008103e) },
  };
  if (ds.elements[PIXEL_DATA]) {
    found.image = {
      path, instanceNumber: v.number(0x00200013), transferSyntax: parsed.transferSyntax,
      sopInstanceUid: v.text(0x00080018),
    };
    return found;
  }
  // What the list shows of a document before it is opened, as a DICOMDIR's record gives it.
  const kind = documentKind(v, sopClass);
  if (!kind) return null;
  const concept = v.items(0x0040a043)[0];
  found.document = {
    path, kind, instanceNumber: v.number(0x00200013),
    title: v.text(0x00420010) || (concept ? concept.text(0x00080104) : ''), date: v.text(0x00080023),
    completion: v.text(0x0040a491), verification: v.text(0x0040a493),
  };
  return found;
}

// The entry of that key, made from values when new; a value its first file left out is taken from
// the next that has it (a report may lack the study's date and description).
function childOf(list, key, values, children) {
  let found = list.find((entry) => entry.key === key);
  if (!found) {
    found = Object.assign(children, values);
    Object.defineProperty(found, 'key', { value: key });
    list.push(found);
  }
  for (const [name, value] of Object.entries(values)) {
    if ((found[name] === '' || found[name] === null) && value !== '' && value !== null) found[name] = value;
  }
  return found;
}

function byNumber(a, b) {
  const na = a.number === null ? Infinity : a.number;
  const nb = b.number === null ? Infinity : b.number;
  return na - nb;
}

// Returns { patients, skipped: 0 } as readDirectory does; progress(done, total) after each file.
export async function scanFolder(source, progress) {
  const paths = source.list();
  const found = new Array(paths.length);
  let next = 0;
  let done = 0;
  const worker = async () => {
    while (next < paths.length) {
      const at = next++;
      try {
        found[at] = await identify(source, paths[at]);
      } catch (e) {
        found[at] = null;
      }
      done++;
      if (progress) progress(done, paths.length);
    }
  };
  await Promise.all(Array.from({ length: Math.min(PARALLEL_READS, paths.length) }, worker));
  const patients = [];
  for (const f of found) {
    if (!f) continue;
    const patient = childOf(patients, f.patient.id + '\\' + f.patient.name, f.patient, { studies: [] });
    const entry = f.image || f.document;
    const study = childOf(patient.studies, f.study.uid || entry.path, f.study, { series: [] });
    const series = childOf(study.series, f.series.uid || entry.path, f.series, { images: [], documents: [] });
    if (f.image) series.images.push(f.image);
    else series.documents.push(f.document);
  }
  for (const patient of patients) {
    patient.studies.sort((a, b) => (a.date + a.time < b.date + b.time ? -1 : a.date + a.time > b.date + b.time ? 1 : 0));
    for (const study of patient.studies) study.series.sort(byNumber);
  }
  return { patients: sortImages(patients), skipped: 0 };
}
