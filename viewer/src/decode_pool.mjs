// A few decoding workers and the frames waiting for them: frames to be shown go first, then
// thumbnails, then frames being preloaded. A new preload list replaces the frames of the old one
// still waiting; thumbnails stay queued, since nothing asks for them again.
const SHOW = 0;
const THUMBNAIL = 1;
const PRELOAD = 2;
const PRIORITIES = { show: SHOW, thumbnail: THUMBNAIL, preload: PRELOAD };

// The more urgent of two priorities.
export function morePressing(a, b) {
  return (PRIORITIES[a] ?? SHOW) <= (PRIORITIES[b] ?? SHOW) ? a : b;
}

// spawn() starts one worker.
export function createPool(spawn, size) {
  const workers = [];
  const idle = [];
  const queues = [[], [], []];
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
    while (queued()) {
      if (!idle.length) {
        if (workers.length >= size) return;
        start();
      }
      const task = queues.find((queue) => queue.length).shift();
      const worker = idle.pop();
      const id = nextId++;
      task.worker = worker;
      running.set(id, task);
      worker.postMessage({ id, layout: task.layout, bytes: task.bytes, bitOffset: task.bitOffset }, [task.bytes.buffer]);
    }
  }

  function queued() {
    return queues.reduce((sum, queue) => sum + queue.length, 0);
  }

  return {
    // priority: 'show' (the default), 'thumbnail' or 'preload'. Resolves with { kind: 'grey' | 'rgb', pixels, min, max }.
    decode(key, layout, frameBytes, priority) {
      const queue = queues[PRIORITIES[priority] ?? SHOW];
      return new Promise((resolve, reject) => {
        queue.push({ key, layout, bytes: frameBytes.bytes, bitOffset: frameBytes.bitOffset, resolve, reject });
        pump();
      });
    },
    // Frames waiting to be preloaded are dropped; their promises reject as superseded.
    dropPreloads() {
      for (const task of queues[PRELOAD].splice(0)) task.reject(new Error('superseded'));
    },
    // A frame asked for again with a higher priority moves to the front of that priority's queue.
    promote(key, priority) {
      const to = PRIORITIES[priority] ?? SHOW;
      for (let from = to + 1; from < queues.length; from++) {
        const at = queues[from].findIndex((task) => task.key === key);
        if (at >= 0) queues[to].unshift(...queues[from].splice(at, 1));
      }
    },
    // A worker started ahead of the first frame, while the page waits for the user.
    warm() {
      if (!workers.length) start();
    },
    waiting() {
      return queued() + running.size;
    },
  };
}
