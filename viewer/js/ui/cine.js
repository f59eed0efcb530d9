// Cine: plays the frames of a multi-frame image in a loop at the file's frame rate. A frame is
// shown only once it is decoded, so a slow decode slows the loop rather than skipping frames.
(function (root) {
  'use strict';

  // Without a frame time in the file.
  const DEFAULT_FPS = 10;
  const MAX_FPS = 60;

  // Frames per second from the frame time in milliseconds; fromFile says whether the file gave it.
  function frameRate(frameTime) {
    if (frameTime > 0) return { fps: Math.min(MAX_FPS, 1000 / frameTime), fromFile: true };
    return { fps: DEFAULT_FPS, fromFile: false };
  }

  // options: { advance(): Promise<bool> shows the next frame (false: it could not),
  // playingChanged(playing) }
  function createCine(options) {
    let run = 0;
    let playing = false;

    function stop() {
      if (!playing) return;
      run++;
      playing = false;
      options.playingChanged(false);
    }

    async function play(fps) {
      stop();
      const id = ++run;
      playing = true;
      options.playingChanged(true);
      const interval = 1000 / fps;
      while (id === run) {
        const started = performance.now();
        let shown = false;
        try {
          shown = await options.advance();
        } catch (e) {
          shown = false;
        }
        if (id !== run) return;
        if (!shown) {
          stop();
          return;
        }
        const rest = interval - (performance.now() - started);
        await new Promise((resolve) => setTimeout(resolve, Math.max(0, rest)));
      }
    }

    return { play, stop, isPlaying: () => playing };
  }

  root.LumidraCine = { createCine, frameRate, DEFAULT_FPS };
})(typeof self !== 'undefined' ? self : this);
