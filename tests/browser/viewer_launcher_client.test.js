// The page's client of the launcher under Node, with a scripted fetch: configuration, server
// address, waiting for the launch id, the copy status and the exit request.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { SOURCE_DIR } = require('./support/disc.js');

const Launcher = require(path.join(SOURCE_DIR, 'viewer', 'js', 'launcher.js'));
const Format = require(path.join(SOURCE_DIR, 'viewer', 'js', 'format.js'));

// A fetch that answers from a list of { status, text } (or 'down' for a network failure),
// repeating the last answer, and records every call.
function scriptedFetch(answers) {
  const calls = [];
  const fetchFn = async (url, options) => {
    calls.push({ url, method: (options && options.method) || 'GET' });
    const answer = answers[Math.min(calls.length - 1, answers.length - 1)];
    if (answer === 'down') throw new TypeError('Failed to fetch');
    return { status: answer.status, text: async () => answer.text };
  };
  return { fetchFn, calls };
}

const client = (answers) => {
  const scripted = scriptedFetch(answers);
  const launcher = Launcher.createLauncher({ base: 'http://localhost:8042', fetch: scripted.fetchFn, pollMilliseconds: 5 });
  return { launcher, calls: scripted.calls };
};

test('configuration and server address', () => {
  const config = Launcher.parseConfig('{"server": "http://localhost:8042", "pollMilliseconds": 5}');
  assert.equal(config.server, 'http://localhost:8042');
  assert.equal(config.dicomdir, '/DICOMDIR');
  assert.equal(config.pollMilliseconds, 1000, 'an absurd poll interval keeps the default');
  assert.throws(() => Launcher.parseConfig('{"server": '), /not valid JSON/);
  assert.throws(() => Launcher.parseConfig('null'), /not an object/);

  const page = 'http://127.0.0.1:8042/7z/index.html?uniqueId=X';
  assert.equal(Launcher.serverBase('http://localhost:8042', page), 'http://127.0.0.1:8042', 'same server, other name');
  assert.equal(Launcher.serverBase('localhost:8042', 'http://localhost:8042/7z/'), 'http://localhost:8042');
  // A configuration that still names 8000 while the page came from 8042 is followed: the
  // configured address is the one the viewer is meant to use.
  assert.equal(Launcher.serverBase('http://localhost:8000', page), 'http://localhost:8000');
  assert.equal(Launcher.serverBase('', page), 'http://127.0.0.1:8042');
  assert.throws(() => Launcher.serverBase('ftp://localhost:8000', page), /not http/);
  assert.throws(() => Launcher.serverBase('http://[bad', page), /not valid/);
});

test('the launch id is asked for again until the launcher gives it', async () => {
  const { launcher, calls } = client([{ status: 404, text: 'Not Found' }, 'down',
    { status: 200, text: '<html>oops</html>' }, { status: 200, text: 'LUMIDRA_00ff12ab\n' }]);
  const waits = [];
  const id = await launcher.waitForLaunchId((attempt, reason) => waits.push([attempt, reason]));
  assert.equal(id, 'LUMIDRA_00ff12ab');
  assert.deepEqual(waits, [[1, 'HTTP 404'], [2, 'no answer'], [3, 'unexpected answer']]);
  assert.ok(calls.every((c) => c.url === 'http://localhost:8042/cmd/uniqueId' && c.method === 'GET'));

  const stopped = client([{ status: 404, text: '' }]);
  const pending = stopped.launcher.waitForLaunchId();
  stopped.launcher.stop();
  assert.equal(await pending, null);
});

test('the copy status is followed until it settles', async () => {
  let seen = [];
  let c = client([{ status: 404, text: '' }, { status: 200, text: '0' }, { status: 200, text: '0' }, { status: 200, text: '1' }]);
  assert.equal(await c.launcher.followCopyStatus((s) => seen.push(s)), 'complete');
  assert.deepEqual(seen, ['unknown', 'copying', 'complete']);
  assert.ok(c.calls.every((call) => call.url === 'http://localhost:8042/copy_status.txt'));

  // Once the launcher has answered the id its copy is over: a "0" then is final.
  seen = [];
  let final = false;
  c = client([{ status: 200, text: '0' }]);
  const result = c.launcher.followCopyStatus((s) => seen.push(s), () => final);
  setTimeout(() => { final = true; }, 20);
  assert.equal(await result, 'incomplete');
  assert.deepEqual(seen, ['copying', 'incomplete']);
});

test('the exit request is a POST with the launch id, and its answer is told apart', async () => {
  let c = client([{ status: 200, text: 'OK' }]);
  assert.equal(await c.launcher.requestExit('LUMIDRA_1f'), 'closing');
  assert.deepEqual(c.calls, [{ url: 'http://localhost:8042/cmd/exit?uniqueId=LUMIDRA_1f', method: 'POST' }]);
  assert.ok(c.launcher.stopped, 'polling stops once the launcher is closing');

  c = client([{ status: 404, text: 'Not Found' }]);
  assert.equal(await c.launcher.requestExit('LUMIDRA_1f'), 'refused');
  assert.ok(!c.launcher.stopped);
  c = client(['down']);
  assert.equal(await c.launcher.requestExit('LUMIDRA_1f'), 'unreachable');
  c = client([{ status: 200, text: 'LUMIDRA_1f' }]);
  assert.equal(await c.launcher.requestExit('LUMIDRA_1f'), 'refused', 'only "OK" means the launcher accepted');
});

test('names, dates and numbers as shown', () => {
  assert.equal(Format.personName('Nováková^Jana'), 'Nováková, Jana');
  assert.equal(Format.personName('Dvořák^Petr^^MUDr.'), 'Dvořák, MUDr. Petr');
  assert.equal(Format.personName('Smith^John^Q^^Jr=Alpha'), 'Smith, John Q Jr (Alpha)');
  assert.equal(Format.personName('Yamada^Tarou=山田^太郎=やまだ^たろう'), 'Yamada, Tarou (山田 太郎, やまだ たろう)');
  assert.equal(Format.personName('=洪^吉洞='), '洪 吉洞');
  assert.equal(Format.personName('^Anon'), 'Anon');
  assert.equal(Format.personName(''), '');
  assert.equal(Format.date('20240315'), '2024-03-15');
  assert.equal(Format.date('2024.03.15'), '2024-03-15');
  assert.equal(Format.date('2024'), '2024');
  assert.equal(Format.time('101500.123'), '10:15:00');
  assert.equal(Format.time('1015'), '10:15');
  assert.equal(Format.number(-1024), '-1024');
  assert.equal(Format.number(39.96), '40');
  assert.equal(Format.number(NaN), '–');
});
