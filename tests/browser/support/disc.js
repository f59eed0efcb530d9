// Sample discs for the browser tests, and a workspace laid out the way the launcher lays it out.
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const SOURCE_DIR = process.env.LUMIDRA_SOURCE_DIR || path.resolve(__dirname, '..', '..', '..');
const BUILDER = path.join(SOURCE_DIR, 'tools', 'make_sample_disc.py');
const SEVEN_ZIP = ['7zz', '7za', '7z'];
const VIEWER_DIR = process.env.LUMIDRA_VIEWER_DIR || path.join(SOURCE_DIR, 'build', 'viewer');
const LIBRARIES_DIR = path.join(path.dirname(VIEWER_DIR), 'viewer-disc', 'DATA', 'LIB');

function tempDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

// Builds a disc into folder with the builder's options; returns the builder's output.
function buildDisc(folder, options = []) {
  return execFileSync('python3', [BUILDER, folder, ...options], { encoding: 'utf-8', stdio: 'pipe' });
}

// A disc of any DICOM folder, made by the disc builder. These tests run the Linux launcher only,
// so the Windows program and its extractor are stand-ins: a fresh tree has no Windows build yet.
function makeStudyDisc(study, disc) {
  const programs = tempDir('lumidra-stand-ins-');
  try {
    const options = [];
    for (const [option, name] of [['--windows-launcher', 'lumidra.exe'], ['--windows-7za', '7za.exe']]) {
      fs.writeFileSync(path.join(programs, name), 'MZ stand-in for ' + name + '\n');
      options.push(option, path.join(programs, name));
    }
    execFileSync('/usr/bin/python3', [path.join(SOURCE_DIR, 'tools', 'make_disc.py'), study, disc, '--quiet', ...options],
      { stdio: 'pipe' });
  } finally {
    fs.rmSync(programs, { recursive: true, force: true });
  }
}

function sevenZip() {
  for (const name of SEVEN_ZIP) {
    try {
      execFileSync(name, ['i'], { stdio: 'ignore' });
      return name;
    } catch (e) {
      // try the next name
    }
  }
  throw new Error('no 7-Zip found');
}

// What the launcher has done before it opens the browser: viewer.7z into DATA/7z, data.zip into
// the workspace, copy_status.txt "0", and the first "localhost:8000" of the configuration
// rewritten to the given port.
function stageWorkspace(disc, workspace, port) {
  const data = path.join(workspace, 'DATA');
  fs.mkdirSync(path.join(data, '7z'), { recursive: true });
  fs.writeFileSync(path.join(data, 'copy_status.txt'), '0');
  const zip = sevenZip();
  execFileSync(zip, ['x', '-y', '-o' + path.join(data, '7z'), path.join(disc, 'DATA', '7z', 'viewer.7z')], { stdio: 'pipe' });
  execFileSync(zip, ['x', '-y', '-o' + workspace, path.join(disc, 'data.zip')], { stdio: 'pipe' });
  const config = path.join(data, '7z', 'data', 'config', 'config-lumidra.json');
  const text = fs.readFileSync(config, 'utf-8');
  fs.writeFileSync(config, text.replace('localhost:8000', 'localhost:' + port));
  return data;
}

// The viewer page where the launcher unpacks it (data/7z), and the libraries it loads on demand
// where a disc carries them (data/LIB).
function placeViewer(data) {
  fs.cpSync(VIEWER_DIR, path.join(data, '7z'), { recursive: true });
  fs.cpSync(LIBRARIES_DIR, path.join(data, 'LIB'), { recursive: true });
}

// Every file below folder, as paths relative to it with "/" separators.
function listFiles(folder) {
  const out = [];
  const walk = (dir, prefix) => {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
      const rel = prefix ? prefix + '/' + entry.name : entry.name;
      if (entry.isDirectory()) walk(path.join(dir, entry.name), rel);
      else out.push(rel);
    }
  };
  walk(folder, '');
  return out.sort();
}

function readArrayBuffer(file) {
  const b = fs.readFileSync(file);
  return b.buffer.slice(b.byteOffset, b.byteOffset + b.length);
}

module.exports = { SOURCE_DIR, tempDir, buildDisc, makeStudyDisc, sevenZip, stageWorkspace, placeViewer, listFiles, readArrayBuffer };
