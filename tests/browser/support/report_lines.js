// pydicom's reading of a structured report's content tree (as make_report_study.py prints it) as
// the lines a reader should find: headings, then "name: value" with codes by meaning, numbers
// with units, dates as dates.
'use strict';

function expectedLines(nodes, out = []) {
  for (const node of nodes) {
    if (node.type === 'CONTAINER') out.push(node.name);
    else if (node.type !== 'IMAGE') out.push(node.name + ': ' + node.value);
    expectedLines(node.children, out);
  }
  return out;
}

module.exports = { expectedLines };
