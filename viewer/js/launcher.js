// The page's side of the launcher: its configuration, the launch id, the copy status and the
// exit request. The launcher answers /cmd/uniqueId only once it has copied the whole study, so
// both the id and the copy status are polled until they settle.
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.LumidraLauncher = api;
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  const CONFIG_PATH = 'data/config/config-lumidra.json';
  const DEFAULTS = { server: '', dicomdir: '/DICOMDIR', copyStatus: '/copy_status.txt', pollMilliseconds: 1000 };
  const REQUEST_TIMEOUT_MS = 8000;
  const LAUNCH_ID = /^[A-Za-z0-9_.-]{1,128}$/;
  const LOOPBACK = new Set(['localhost', '127.0.0.1', '[::1]']);

  function sleep(ms) {
    return new Promise((resolve) => setTimeout(resolve, ms));
  }

  // Settings from the configuration text; anything missing or malformed keeps its default.
  function parseConfig(text) {
    const config = Object.assign({}, DEFAULTS);
    let data;
    try {
      data = JSON.parse(text);
    } catch (e) {
      throw new Error('the configuration is not valid JSON');
    }
    if (!data || typeof data !== 'object') throw new Error('the configuration is not an object');
    for (const key of ['server', 'dicomdir', 'copyStatus']) {
      if (typeof data[key] === 'string' && data[key]) config[key] = data[key];
    }
    const poll = Number(data.pollMilliseconds);
    if (Number.isFinite(poll) && poll >= 100 && poll <= 60000) config.pollMilliseconds = poll;
    if (typeof data.title === 'string') config.title = data.title;
    return config;
  }

  // The origin to talk to. It is the configured server; when that is this page's own server
  // under another loopback name (localhost against 127.0.0.1), the page's own origin is used
  // so that the browser does not treat it as another site.
  function serverBase(configured, pageUrl) {
    const page = new URL(pageUrl);
    if (!configured) return page.origin;
    let url;
    try {
      url = new URL(configured.includes('://') ? configured : 'http://' + configured);
    } catch (e) {
      throw new Error('the configured server address is not valid: ' + configured);
    }
    if (url.protocol !== 'http:' && url.protocol !== 'https:') {
      throw new Error('the configured server address is not http: ' + configured);
    }
    const samePort = (url.port || '80') === (page.port || '80');
    if (samePort && LOOPBACK.has(url.hostname) && LOOPBACK.has(page.hostname)) return page.origin;
    return url.origin;
  }

  function joinUrl(base, path) {
    return base.replace(/\/+$/, '') + '/' + String(path).replace(/^\/+/, '');
  }

  // One request with a time limit; resolves to { status, text } or rejects on network failure.
  async function request(fetchFn, url, options) {
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), REQUEST_TIMEOUT_MS);
    try {
      const response = await fetchFn(url, Object.assign({ cache: 'no-store', signal: controller.signal }, options || {}));
      const text = await response.text();
      return { status: response.status, text };
    } finally {
      clearTimeout(timer);
    }
  }

  function createLauncher(options) {
    const fetchFn = options.fetch || ((...args) => fetch(...args));
    const base = options.base;
    const pollMs = options.pollMilliseconds || DEFAULTS.pollMilliseconds;
    const copyStatusPath = options.copyStatus || DEFAULTS.copyStatus;
    let stopped = false;

    // Resolves with the launch id once the launcher gives it; onWait(attempt, reason) is told
    // about every unanswered attempt. Resolves with null when stopped.
    async function waitForLaunchId(onWait) {
      for (let attempt = 1; !stopped; attempt++) {
        let reason;
        try {
          const answer = await request(fetchFn, joinUrl(base, '/cmd/uniqueId'));
          const id = answer.text.trim();
          if (answer.status === 200 && LAUNCH_ID.test(id)) return id;
          reason = answer.status === 200 ? 'unexpected answer' : 'HTTP ' + answer.status;
        } catch (e) {
          reason = 'no answer';
        }
        if (onWait) onWait(attempt, reason);
        await sleep(pollMs);
      }
      return null;
    }

    // Reads copy_status.txt once: 'complete' ("1"), 'copying' ("0") or 'unknown'.
    async function readCopyStatus() {
      try {
        const answer = await request(fetchFn, joinUrl(base, copyStatusPath));
        if (answer.status !== 200) return 'unknown';
        const flag = answer.text.trim();
        if (flag === '1') return 'complete';
        if (flag === '0') return 'copying';
        return 'unknown';
      } catch (e) {
        return 'unknown';
      }
    }

    // Polls the copy status until it reads "1" or until isFinal() says the launcher has ended
    // its copy (then a "0" means some files could not be copied). onStatus gets every change.
    async function followCopyStatus(onStatus, isFinal) {
      let last = null;
      while (!stopped) {
        const final = isFinal ? isFinal() : false;
        let status = await readCopyStatus();
        if (stopped) return last;
        if (final && status === 'copying') status = 'incomplete';
        if (status !== last) {
          last = status;
          onStatus(status);
        }
        if (status === 'complete' || final) return status;
        await sleep(pollMs);
      }
      return last;
    }

    // Asks the launcher to end. 'closing' when it accepted, 'refused' when it answered
    // something else, 'unreachable' when it did not answer at all.
    async function requestExit(id) {
      const url = joinUrl(base, '/cmd/exit') + '?uniqueId=' + encodeURIComponent(id);
      try {
        const answer = await request(fetchFn, url, { method: 'POST' });
        if (answer.status === 200 && answer.text.trim() === 'OK') {
          stopped = true;
          return 'closing';
        }
        return 'refused';
      } catch (e) {
        return 'unreachable';
      }
    }

    // True while the launcher's server still answers.
    async function isServing() {
      try {
        await request(fetchFn, joinUrl(base, copyStatusPath));
        return true;
      } catch (e) {
        return false;
      }
    }

    return {
      base,
      waitForLaunchId,
      readCopyStatus,
      followCopyStatus,
      requestExit,
      isServing,
      stop() { stopped = true; },
      get stopped() { return stopped; },
    };
  }

  return { CONFIG_PATH, parseConfig, serverBase, joinUrl, createLauncher, sleep };
});
