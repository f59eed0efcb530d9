// DICOM values as a person reads them.
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.LumidraFormat = api;
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  // "Family^Given^Middle^Prefix^Suffix" as "Family, Given Middle"; the ideographic and phonetic
  // groups after "=" (Japanese, Korean, Chinese names) follow in brackets, family name first as
  // they are written.
  function personName(pn) {
    if (!pn) return '';
    const [alphabetic = '', ...others] = pn.split('=');
    const [family = '', given = '', middle = '', prefix = '', suffix = ''] = alphabetic.split('^');
    const first = [prefix, given, middle].filter((p) => p.trim()).join(' ');
    let text = family.trim();
    if (first) text = text ? text + ', ' + first : first;
    if (suffix.trim()) text += ' ' + suffix.trim();
    const written = others.map((group) => group.split('^').map((p) => p.trim()).filter(Boolean).join(' ')).filter(Boolean);
    if (!written.length) return text;
    return text ? text + ' (' + written.join(', ') + ')' : written.join(', ');
  }

  // YYYYMMDD (or the old YYYY.MM.DD) as YYYY-MM-DD; anything else unchanged.
  function date(da) {
    if (!da) return '';
    const m = /^(\d{4})\.?(\d{2})\.?(\d{2})$/.exec(da.trim());
    return m ? m[1] + '-' + m[2] + '-' + m[3] : da;
  }

  // HHMMSS.frac as HH:MM (seconds when given).
  function time(tm) {
    if (!tm) return '';
    const m = /^(\d{2}):?(\d{2})?:?(\d{2})?/.exec(tm.trim());
    if (!m) return tm;
    return m[1] + ':' + (m[2] || '00') + (m[3] ? ':' + m[3] : '');
  }

  // Numbers for the overlay: few decimals, no trailing zeros.
  function number(value) {
    if (!Number.isFinite(value)) return '–';
    const rounded = Math.abs(value) >= 100 ? Math.round(value) : Math.round(value * 10) / 10;
    return String(rounded);
  }

  return { personName, date, time, number };
});
