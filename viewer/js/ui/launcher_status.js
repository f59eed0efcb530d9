// The launcher in the top bar: its launch id, the copy status and the exit button, and the
// closing screen once the launcher has accepted the exit.
(function (root) {
  'use strict';

  const Launcher = root.LumidraLauncher;
  const CLOSE_WATCH_SECONDS = 20;
  const COPY_TEXTS = {
    unknown: 'unknown',
    copying: 'copying from the disc…',
    complete: 'complete',
    incomplete: 'incomplete – some files are read from the disc',
  };

  const $ = (id) => document.getElementById(id);

  // launcher: from LumidraLauncher.createLauncher; pageLaunchId: the id the page was opened
  // with; showMessage(text, kind); closing(): called once the launcher has accepted the exit.
  function followLauncher(launcher, pageLaunchId, showMessage, closing) {
    let launchId = null;

    function showCopyStatus(status) {
      const el = $('copy-status');
      el.dataset.state = status;
      el.textContent = COPY_TEXTS[status] || status;
      // The whole text, also when a narrow window cuts it short.
      el.title = el.textContent;
    }

    launcher.waitForLaunchId((attempt) => {
      $('launch-id').textContent = 'waiting for the launcher… (' + attempt + ')';
    }).then((id) => {
      if (!id) return;
      launchId = id;
      const el = $('launch-id');
      el.textContent = id;
      el.title = id;
      el.dataset.state = 'ready';
      if (pageLaunchId && pageLaunchId !== id) {
        showMessage('This page was opened for another launch; it now follows launch ' + id + '.', 'warn');
      }
    });
    launcher.followCopyStatus(showCopyStatus, () => launchId !== null);

    // Tells the user that the launcher is going, then that it has gone once its server stops.
    async function showClosing() {
      closing();
      document.body.dataset.phase = 'closing';
      $('closing').hidden = false;
      $('closing-title').textContent = 'Lumidra is closing';
      $('closing-text').textContent = 'The launcher is stopping its server and removing its ' +
        'temporary files. You can close this browser tab.';
      for (let i = 0; i < CLOSE_WATCH_SECONDS; i++) {
        await Launcher.sleep(1000);
        if (!(await launcher.isServing())) {
          document.body.dataset.phase = 'closed';
          $('closing-title').textContent = 'Lumidra has closed';
          $('closing-text').textContent = 'The launcher has ended. You can close this browser tab now.';
          return;
        }
      }
    }

    async function exit() {
      const id = launchId || pageLaunchId;
      if (!id) {
        showMessage('Lumidra has not given its launch id yet. Please try again in a moment.', 'warn');
        return;
      }
      const button = $('exit-button');
      button.disabled = true;
      button.textContent = 'Closing…';
      const result = await launcher.requestExit(id);
      if (result === 'closing') {
        showClosing();
        return;
      }
      button.disabled = false;
      button.textContent = 'Exit Lumidra';
      if (result === 'refused') {
        showMessage('Lumidra did not accept the request to close. It accepts it once the study has ' +
          'been copied; you can also close it with the Terminate button in its window.', 'warn');
      } else {
        showMessage('Lumidra could not be reached; it may have closed already.', 'error');
      }
    }

    $('exit-button').addEventListener('click', exit);
  }

  root.LumidraLauncherStatus = { followLauncher };
})(typeof self !== 'undefined' ? self : this);
