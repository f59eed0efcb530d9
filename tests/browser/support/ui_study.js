// A workspace holding the small study of make_ui_study.py (pixels known to the test), laid out
// as the launcher lays out its workspace: the viewer page in DATA/7z, the study and its index in
// DATA, copy_status.txt "0", the configuration pointing at the given port.
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { placeViewer } = require('./disc.js');

const MAKER = path.join(__dirname, 'make_ui_study.py');
// The distribution's Python has pydicom; a pyenv or virtual environment first on PATH may not.
const PYTHON = process.env.LUMIDRA_PYTHON || '/usr/bin/python3';

function makeUiWorkspace(folder, port) {
  const data = path.join(folder, 'DATA');
  fs.mkdirSync(data, { recursive: true });
  execFileSync(PYTHON, [MAKER, data], { stdio: 'pipe' });
  execFileSync('dcmmkdir', ['+r', '-Pgp', '+I', '+D', 'DICOMDIR', 'DICOM'], { cwd: data, stdio: 'pipe' });
  execFileSync(PYTHON, [MAKER, data, '--video'], { stdio: 'pipe' });
  placeViewer(data);
  fs.writeFileSync(path.join(data, 'copy_status.txt'), '0');
  const config = path.join(data, '7z', 'data', 'config', 'config-lumidra.json');
  fs.writeFileSync(config, fs.readFileSync(config, 'utf-8').replace('localhost:8000', 'localhost:' + port));
  return data;
}

module.exports = { makeUiWorkspace };
