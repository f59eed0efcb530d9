// A few decoding workers and the frames waiting for them: frames to be shown go before frames
// being preloaded, and a new preload list replaces the frames of the old one still waiting.
const SHOW = 0;
const PRELOAD = 1;

// spawn() starts one worker.
export function createPool(spawn, size) {
  const workers = [];
  const idle = [];
  const queues = [[], []];
  const running = new Map();
  let nextId = 1;

  function start() {
    const worker = spawn();
    worker.onmessage = (event) => {
      const task = running.get(event.data.id);
      running.delete(event.data.id);
      if (event.data.fatal) retire(worker);
      else idle.push(worker);
      if (task) {
        if (event.data.error) task.reject(new Error(event.data.error));
        else task.resolve(event.data.frame);
      }
      pump();
    };
    // A worker that cannot start (its script or a codec missing from the disc) fails its frame.
    worker.onerror = (event) => {
      event.preventDefault();
      for (const [id, task] of running) {
        if (task.worker === worker) {
          running.delete(id);
          task.reject(new Error('the decoder failed: ' + (event.message || 'worker error')));
        }
      }
      retire(worker);
      pump();
    };
    workers.push(worker);
    idle.push(worker);
  }

  function retire(worker) {
    const at = workers.indexOf(worker);
    if (at >= 0) workers.splice(at, 1);
    worker.terminate();
  }

  function pump() {
    while (queues[SHOW].length + queues[PRELOAD].length) {
      if (!idle.length) {
        if (workers.length >= size) return;
        start();
      }
      const task = queues[SHOW].shift() || queues[PRELOAD].shift();
      const worker = idle.pop();
      const id = nextId++;
      task.worker = worker;
      running.set(id, task);
      worker.postMessage({ id, layout: task.layout, bytes: task.bytes, bitOffset: task.bitOffset }, [task.bytes.buffer]);
    }
  }

  return {
    // Resolves with { kind: 'grey' | 'rgb', pixels, min, max }.
    decode(key, layout, frameBytes, preload) {
      return new Promise((resolve, reject) => {
        queues[preload ? PRELOAD : SHOW].push({ key, layout, bytes: frameBytes.bytes, bitOffset: frameBytes.bitOffset, resolve, reject });
        pump();
      });
    },
    // Frames waiting to be preloaded are dropped; their promises reject as superseded.
    dropPreloads() {
      for (const task of queues[PRELOAD].splice(0)) task.reject(new Error('superseded'));
    },
    // A frame asked for while it waits as a preload moves to the front.
    promote(key) {
      const at = queues[PRELOAD].findIndex((task) => task.key === key);
      if (at >= 0) queues[SHOW].unshift(...queues[PRELOAD].splice(at, 1));
    },
    // A worker started ahead of the first frame, while the page waits for the user.
    warm() {
      if (!workers.length) start();
    },
    waiting() {
      return queues[SHOW].length + queues[PRELOAD].length + running.size;
    },
  };
}
