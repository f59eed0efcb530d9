// Text values in the character set their data set names, through dicom-character-set: every set
// DICOM defines, single-byte and multi-byte, and ISO 2022 code extensions where escape sequences
// switch repertoires inside a value (and a person name returns to the first set at each component).
// What cannot be decoded keeps what can be read, with MARK in place of the rest: escape bytes and
// control codes never reach the page.
import { convertBytes, characterSets } from 'dicom-character-set';

export const MARK = '\uFFFD';

// Latin alphabet No. 9 is defined by DICOM but not known to the library.
const ascii = characterSets['ISO 2022 IR 6'].elements[0];
if (!characterSets['ISO_IR 203']) characterSets['ISO_IR 203'] = { encoding: 'iso-8859-15' };
if (!characterSets['ISO 2022 IR 203']) {
  characterSets['ISO 2022 IR 203'] = {
    extension: true,
    elements: [ascii, { codeElement: 'G1', escapeSequence: [0x1b, 0x2d, 0x62], encoding: 'iso-8859-15', bytesPerCodePoint: 1 }],
  };
}

// Files that name no character set often hold Latin-1 all the same; read them so rather than fail.
const DEFAULT = 'ISO_IR 100';
const ESCAPE_SEQUENCE = /\x1b[\x20-\x2f]*[\x30-\x7e]?/g;
// C0 and C1 controls other than tab, line feed, form feed and carriage return.
const CONTROL = /[\x00-\x08\x0b\x0e-\x1f\x7f-\x9f]/g;

function term(value) {
  const t = value.trim().toUpperCase().replace(/^ISO[_ -]?IR[_ -]?(\d+)$/, 'ISO_IR $1');
  return t.replace(/^ISO[_ ]2022[_ ]IR[_ ](\d+)$/, 'ISO 2022 IR $1');
}

// The Specific Character Set value as the decoder takes it. Terms it does not know are left out,
// so the known ones still apply.
export function characterSetOf(value) {
  const terms = (value || '').split('\\').map(term);
  const known = terms.filter((t, i) => (t === '' && i === 0) || characterSets[t]);
  if (!known.length || known.every((t) => t === '')) return DEFAULT;
  return known.join('\\');
}

// The readable part of bytes no decoder accepted: ASCII as it is, the rest marked.
function fallback(bytes) {
  let s = '';
  for (const b of bytes) s += b < 0x80 ? String.fromCharCode(b) : MARK;
  return s;
}

// characterSet as characterSetOf returns it; vr decides the delimiters where ISO 2022 resets.
export function decodeText(characterSet, bytes, vr) {
  let text;
  try {
    text = convertBytes(characterSet || DEFAULT, bytes, { vr: vr || '' });
  } catch (e) {
    text = fallback(bytes);
  }
  return text.replace(ESCAPE_SEQUENCE, MARK).replace(CONTROL, (c) => (c === '\0' ? c : MARK));
}
