// A folder without a DICOMDIR: its DICOM files found by content and grouped into the same
// patient / study / series / image tree that directory.mjs reads from an index.
import { parse, Values, DicomError } from './dataset.mjs';
import { sortImages } from './directory.mjs';

const PIXEL_DATA = 'x7fe00010';
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

// The identifying texts of one file, or null when it is not a DICOM image.
async function identify(source, path) {
  let bytes = new Uint8Array(await source.readStart(path, START_BYTES));
  if (!looksLikeDicom(bytes)) return null;
  let parsed;
  try {
    parsed = parse(bytes, { untilTag: PIXEL_DATA });
  } catch (e) {
    // The header went on past the bytes read (or a deflated file, which inflates whole).
    if (!(e instanceof DicomError) || bytes.length < START_BYTES) return null;
    try {
      bytes = new Uint8Array(await source.read(path));
      parsed = parse(bytes, { untilTag: PIXEL_DATA });
    } catch (e2) {
      return null;
    }
  }
  const ds = parsed.dataSet;
  const v = new Values(ds);
  const sopClass = v.text(0x00080016) || v.text(0x00020002);
  if (sopClass === DIRECTORY_CLASS || v.has(0x00041220) || !ds.elements[PIXEL_DATA]) return null;
  return {
    patient: { name: v.text(0x00100010), id: v.text(0x00100020), birthDate: v.text(0x00100030), sex: v.text(0x00100040) },
    study: {
      uid: v.text(0x0020000d), date: v.text(0x00080020), time: v.text(0x00080030), description: v.text(0x00081030),
      id: v.text(0x00200010), accession: v.text(0x00080050),
    },
    series: { uid: v.text(0x0020000e), modality: v.text(0x00080060), number: v.number(0x00200011), description: v.text(0x0008103e) },
    image: { path, instanceNumber: v.number(0x00200013), transferSyntax: parsed.transferSyntax },
  };
}

function childOf(list, key, make) {
  let found = list.find((entry) => entry.key === key);
  if (!found) {
    found = make();
    Object.defineProperty(found, 'key', { value: key });
    list.push(found);
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
    const patient = childOf(patients, f.patient.id + '\\' + f.patient.name, () => Object.assign({ studies: [] }, f.patient));
    const study = childOf(patient.studies, f.study.uid || f.image.path, () => Object.assign({ series: [] }, f.study));
    const series = childOf(study.series, f.series.uid || f.image.path, () => Object.assign({ images: [] }, f.series));
    series.images.push(f.image);
  }
  for (const patient of patients) {
    patient.studies.sort((a, b) => (a.date + a.time < b.date + b.time ? -1 : a.date + a.time > b.date + b.time ? 1 : 0));
    for (const study of patient.studies) study.series.sort(byNumber);
  }
  return { patients: sortImages(patients), skipped: 0 };
}
