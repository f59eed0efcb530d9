// A structured report as a person reads it: its title and flags, then the content tree with the
// containers as headings, each item as "name: value" (codes by their meaning, numbers with their
// units, dates as dates) and each image reference a button that opens the image.
(function (root) {
  'use strict';

  const Format = root.LumidraFormat;

  function element(tag, className, text) {
    const el = document.createElement(tag);
    if (className) el.className = className;
    if (text !== undefined) el.textContent = text;
    return el;
  }

  // YYYYMMDDHHMMSS.frac&zone as "YYYY-MM-DD HH:MM:SS".
  function dateTime(dt) {
    const m = /^(\d{8})(\d{2,6})?/.exec(dt || '');
    if (!m) return dt || '';
    return [Format.date(m[1]), m[2] && Format.time(m[2])].filter(Boolean).join(' ');
  }

  function valueText(node) {
    switch (node.format) {
      case 'date': return Format.date(node.value);
      case 'time': return Format.time(node.value);
      case 'datetime': return dateTime(node.value);
      case 'personName': return Format.personName(node.value);
      default: return node.value === undefined ? '' : [node.value, node.unit].filter(Boolean).join(' ');
    }
  }

  function flagsText(doc) {
    const completion = { COMPLETE: 'Complete', PARTIAL: 'Partial (not complete)' }[doc.completion] || '';
    let verification = { VERIFIED: 'Verified', UNVERIFIED: 'Unverified' }[doc.verification] || '';
    if (doc.verification === 'VERIFIED' && doc.verifiers.length) {
      verification += ' by ' + doc.verifiers.map(Format.personName).join(', ');
      if (doc.verifiedAt) verification += ' on ' + dateTime(doc.verifiedAt);
    }
    return [completion, verification].filter(Boolean).join(' · ');
  }

  // options.findImage(reference) -> { label } or null; options.openImage(reference)
  function referenceButtons(node, options) {
    const box = element('span', 'report-references');
    for (const reference of node.references) {
      const found = node.type === 'IMAGE' ? options.findImage(reference) : null;
      if (!found) {
        box.appendChild(element('span', 'report-missing', node.type === 'IMAGE' ? 'image not on this disc' : 'object ' + reference.sopInstanceUid));
        continue;
      }
      const b = element('button', 'report-image', found.label + (reference.frames.length ? ', frame ' + reference.frames.join(', ') : ''));
      b.type = 'button';
      b.dataset.uid = reference.sopInstanceUid;
      b.addEventListener('click', () => options.openImage(reference));
      box.appendChild(b);
    }
    return box;
  }

  function itemElement(node, depth, options) {
    if (node.type === 'CONTAINER') {
      const section = element('section', 'report-section');
      if (node.name) section.appendChild(element('h' + Math.min(6, depth + 3), null, node.name));
      for (const child of node.children) section.appendChild(itemElement(child, depth + 1, options));
      return section;
    }
    const item = element('div', 'report-item');
    item.dataset.type = node.type;
    if (node.relationship) item.appendChild(element('span', 'report-relationship', node.relationship + ' '));
    if (node.name) item.appendChild(element('span', 'report-concept', node.name + ': '));
    if (node.reference) item.appendChild(element('span', 'report-value', 'see item ' + node.reference));
    else if (node.references) item.appendChild(referenceButtons(node, options));
    else item.appendChild(element('span', 'report-value', valueText(node)));
    if (node.children.length) {
      const children = element('div', 'report-children');
      for (const child of node.children) children.appendChild(itemElement(child, depth + 1, options));
      item.appendChild(children);
    }
    return item;
  }

  function showReport(container, doc, options) {
    const article = element('article', 'report');
    article.appendChild(element('h2', 'report-title', doc.title || 'Report'));
    const flags = flagsText(doc);
    if (flags) article.appendChild(element('p', 'report-flags', flags));
    const about = [dateTime(doc.date + doc.time), doc.authors.length && 'by ' + doc.authors.map(Format.personName).join(', ')].filter(Boolean).join(' · ');
    if (about) article.appendChild(element('p', 'report-about', about));
    for (const node of doc.content) article.appendChild(itemElement(node, 0, options));
    container.replaceChildren(article);
    container.dataset.state = 'ready';
    return { close() {} };
  }

  root.LumidraReportView = { showReport, dateTime };
})(typeof self !== 'undefined' ? self : this);
