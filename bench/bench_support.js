'use strict';
// What every browser benchmark here shares: its options, its medians, and its own section of
// bench/REPORT.md, written between its markers and leaving the other sections as they are.
const fs = require('node:fs');

// The value after --name on the command line, or fallback.
function option(name, fallback) {
  const at = process.argv.indexOf('--' + name);
  return at > 0 ? process.argv[at + 1] : fallback;
}

// A function that writes a line to stderr under the benchmark's name.
function logger(name) {
  return (text) => process.stderr.write('[' + name + '] ' + text + '\n');
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

function spread(values) {
  return { median: median(values), min: Math.min(...values), max: Math.max(...values) };
}

// Replaces the section from begin to end in the report (out), or adds it at the end.
function writeSection(out, begin, end, section) {
  let text = fs.existsSync(out) ? fs.readFileSync(out, 'utf-8') : '# Lumidra benchmarks\n';
  const start = text.indexOf(begin);
  const stop = text.indexOf(end, start);
  if (start >= 0 && stop >= 0) text = text.slice(0, start) + section + text.slice(stop + end.length);
  else text = text.replace(/\n*$/, '\n\n') + section + '\n';
  fs.writeFileSync(out, text);
}

module.exports = { option, logger, median, spread, writeSection };
