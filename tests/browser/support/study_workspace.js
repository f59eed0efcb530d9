// A workspace for a study written by one of the support makers (a Python script that writes
// FOLDER/DICOM and prints, as JSON, what pydicom reads from it), indexed by dcmmkdir and laid out
// as the launcher lays out its workspace, the configuration pointing at the given port.
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { placeViewer } = require('./disc.js');

const PYTHON = process.env.LUMIDRA_PYTHON || '/usr/bin/python3';

// Returns { data, expected }.
function makeStudyWorkspace(folder, port, maker) {
  const data = path.join(folder, 'DATA');
  fs.mkdirSync(data, { recursive: true });
  const expected = JSON.parse(execFileSync(PYTHON, [path.join(__dirname, maker), data], { encoding: 'utf-8' }));
  execFileSync('dcmmkdir', ['+r', '-Pgp', '+I', '+D', 'DICOMDIR', 'DICOM'], { cwd: data, stdio: 'pipe' });
  placeViewer(data);
  fs.writeFileSync(path.join(data, 'copy_status.txt'), '1');
  const config = path.join(data, '7z', 'data', 'config', 'config-lumidra.json');
  fs.writeFileSync(config, fs.readFileSync(config, 'utf-8').replace('localhost:8000', 'localhost:' + port));
  return { data, expected };
}

module.exports = { makeStudyWorkspace };
