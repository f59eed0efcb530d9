// A stand-in for the launcher's server, for testing the page on its own: files from the
// workspace's DATA folder, then the disc's; /cmd/uniqueId only once the test says the copy is
// over; POST /cmd/exit?uniqueId=<id> answered "OK", after which the server goes away. Like the
// real server it closes every connection and offers no byte ranges.
'use strict';

const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');

const TYPES = {
  htm: 'text/html', html: 'text/html', css: 'text/css', js: 'application/x-javascript',
  txt: 'text/plain', png: 'image/png', jpg: 'image/jpeg', gif: 'image/gif', xml: 'text/xml',
};
const NOT_FOUND = '<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>' +
  '<p>The requested URL has no content.</p></body></html>';

function typeOf(file) {
  const base = path.basename(file);
  const dot = base.lastIndexOf('.');
  return (dot >= 0 && TYPES[base.slice(dot + 1).toLowerCase()]) || 'application/octet-stream';
}

function findFile(roots, urlPath) {
  let relative;
  try {
    relative = decodeURIComponent(urlPath).replace(/^\/+/, '');
  } catch (e) {
    return null;
  }
  if (relative.split('/').includes('..')) return null;
  for (const root of roots) {
    let file = path.join(root, relative);
    try {
      if (fs.statSync(file).isDirectory()) file = path.join(file, 'index.html');
      if (fs.statSync(file).isFile()) return file;
    } catch (e) {
      // not under this root
    }
  }
  return null;
}

// options: { workspaceData, discData, launchId, exitDelayMs }
function startFakeLauncher(options) {
  const state = {
    ready: false,
    idRequests: 0,
    exitRequests: [],
    requests: [],
  };
  const reply = (res, status, type, body) => {
    res.writeHead(status, { 'Content-Type': type, Connection: 'close', 'Cache-control': 'no-cache' });
    res.end(body);
  };
  const server = http.createServer((req, res) => {
    const [urlPath, query] = req.url.split('?');
    state.requests.push(req.method + ' ' + req.url);
    if (urlPath === '/cmd/uniqueId' && (req.method === 'GET' || !query)) {
      state.idRequests++;
      if (state.ready) return reply(res, 200, 'text/html', options.launchId);
    }
    if (urlPath === '/cmd/exit') {
      state.exitRequests.push({ method: req.method, query: query || '' });
      if (state.ready && req.method === 'POST' && query === 'uniqueId=' + options.launchId) {
        reply(res, 200, 'text/html', 'OK');
        setTimeout(() => server.close(), options.exitDelayMs || 1000);
        server.closeIdleConnections();
        return undefined;
      }
    }
    if (req.method !== 'GET' && req.method !== 'POST') {
      req.socket.destroy();
      return undefined;
    }
    const file = findFile([options.workspaceData, options.discData], urlPath);
    if (!file) return reply(res, 404, 'text/html', NOT_FOUND);
    return reply(res, 200, typeOf(file), fs.readFileSync(file));
  });
  server.on('close', () => { state.closed = true; });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(options.port || 0, '127.0.0.1', () => {
      resolve({
        state,
        port: server.address().port,
        setReady(value) { state.ready = value; },
        setCopyStatus(flag) {
          fs.writeFileSync(path.join(options.workspaceData, 'copy_status.txt'), flag);
        },
        close() {
          return new Promise((done) => {
            if (state.closed) return done();
            server.closeAllConnections();
            return server.close(() => done());
          });
        },
      });
    });
  });
}

module.exports = { startFakeLauncher, findFile };
