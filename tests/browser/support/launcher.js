// The real launcher started from a disc folder as a person would start it, with a BROWSER that
// only writes down the address it is given.
'use strict';

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { SOURCE_DIR } = require('./disc.js');

const LAUNCHER = process.env.LUMIDRA_LAUNCHER || path.join(SOURCE_DIR, 'build', 'native', 'lumidra');
const OUTPUT = path.join(SOURCE_DIR, 'build', 'browser-test');
// Why the tests that need the launcher are skipped, or false when it is there.
const missing = fs.existsSync(LAUNCHER) ? false : LAUNCHER + ' is not built (./run build)';

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

async function waitFor(what, check, timeoutMs) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = check();
    if (value) return value;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await sleep(100);
  }
}

// Starts the launcher in disc with its own TMPDIR under work; its output goes to
// build/browser-test/launcher-<name>.log. Resolves once the address is known.
async function startLauncher(t, disc, work, name) {
  const tmp = path.join(work, name + '-tmp');
  fs.mkdirSync(tmp);
  const urlFile = path.join(work, name + '-url.txt');
  const browserScript = path.join(work, name + '-browser.sh');
  fs.writeFileSync(browserScript, '#!/bin/sh\nprintf "%s\\n" "$1" >> "' + urlFile + '"\n', { mode: 0o755 });
  fs.mkdirSync(OUTPUT, { recursive: true });
  const log = fs.openSync(path.join(OUTPUT, 'launcher-' + name + '.log'), 'w');
  const env = Object.assign({}, process.env, { TMPDIR: tmp, BROWSER: browserScript, LANG: 'C.UTF-8' });
  const child = spawn(LAUNCHER, [], { cwd: disc, env, stdio: ['pipe', log, log] });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  t.after(async () => {
    if (child.exitCode === null && child.signalCode === null) {
      child.kill('SIGKILL');
      await exited;
    }
    fs.closeSync(log);
  });
  const url = await waitFor('the browser address', () => {
    if (child.exitCode !== null) throw new Error('the launcher ended early with code ' + child.exitCode);
    return fs.existsSync(urlFile) && fs.readFileSync(urlFile, 'utf-8').trim();
  }, 30000);
  return { child, exited, url, tmp };
}

module.exports = { LAUNCHER, OUTPUT, missing, sleep, waitFor, startLauncher };
