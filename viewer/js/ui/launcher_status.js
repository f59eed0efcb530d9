// The launcher in the top bar: its launch id, the copy status and the exit button, and the
// closing screen once the launcher has accepted the exit.
(function (root) {
  'use strict';

  const Launcher = root.LumidraLauncher;
  const T = root.LumidraTexts;
  const CLOSE_WATCH_SECONDS = 20;
  const COPY_TEXTS = { unknown: 'copyUnknown', copying: 'copyCopying', complete: 'copyComplete', incomplete: 'copyIncomplete' };

  const $ = (id) => document.getElementById(id);

  // launcher: from LumidraLauncher.createLauncher; pageLaunchId: the id the page was opened
  // with; showMessage(text, kind); closing(): called once the launcher has accepted the exit.
  function followLauncher(launcher, pageLaunchId, showMessage, closing) {
    let launchId = null;

    function showCopyStatus(status) {
      const el = $('copy-status');
      el.dataset.state = status;
      el.textContent = COPY_TEXTS[status] ? T.t(COPY_TEXTS[status]) : status;
      // The whole text, also when a narrow window cuts it short.
      el.title = el.textContent;
    }

    launcher.waitForLaunchId((attempt) => {
      $('launch-id').textContent = T.t('waitingForLauncherAttempt', attempt);
    }).then((id) => {
      if (!id) return;
      launchId = id;
      const el = $('launch-id');
      el.textContent = id;
      el.title = id;
      el.dataset.state = 'ready';
      if (pageLaunchId && pageLaunchId !== id) {
        showMessage(T.t('otherLaunch', id), 'warn');
      }
    });
    launcher.followCopyStatus(showCopyStatus, () => launchId !== null);

    // Tells the user that the launcher is going, then that it has gone once its server stops.
    async function showClosing() {
      closing();
      document.body.dataset.phase = 'closing';
      $('closing').hidden = false;
      $('closing-title').textContent = T.t('closingTitle');
      $('closing-text').textContent = T.t('closingText');
      for (let i = 0; i < CLOSE_WATCH_SECONDS; i++) {
        await Launcher.sleep(1000);
        if (!(await launcher.isServing())) {
          document.body.dataset.phase = 'closed';
          $('closing-title').textContent = T.t('closedTitle');
          $('closing-text').textContent = T.t('closedText');
          return;
        }
      }
    }

    async function exit() {
      const id = launchId || pageLaunchId;
      if (!id) {
        showMessage(T.t('noLaunchId'), 'warn');
        return;
      }
      const button = $('exit-button');
      button.disabled = true;
      button.textContent = T.t('closingButton');
      const result = await launcher.requestExit(id);
      if (result === 'closing') {
        showClosing();
        return;
      }
      button.disabled = false;
      button.textContent = T.t('exit');
      if (result === 'refused') {
        showMessage(T.t('exitRefused'), 'warn');
      } else {
        showMessage(T.t('unreachable'), 'error');
      }
    }

    $('exit-button').addEventListener('click', exit);
  }

  root.LumidraLauncherStatus = { followLauncher };
})(typeof self !== 'undefined' ? self : this);
