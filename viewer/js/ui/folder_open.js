// The page opened from the disc itself: the browser lets it read the disc only once the user
// has chosen the disc's folder or dragged the disc in. Gives the files found there as
// [{ path, file }] with paths relative to the chosen folder.
(function (root) {
  'use strict';

  const $ = (id) => document.getElementById(id);

  // A dropped folder's entries, read in the batches the browser hands out.
  function readAll(reader) {
    return new Promise((resolve, reject) => {
      const all = [];
      const next = () => reader.readEntries((batch) => {
        if (!batch.length) resolve(all);
        else {
          all.push(...batch);
          next();
        }
      }, reject);
      next();
    });
  }

  async function walk(entry, prefix, out) {
    if (entry.isFile) {
      const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
      out.push({ path: prefix + entry.name, file });
    } else if (entry.isDirectory) {
      for (const child of await readAll(entry.createReader())) await walk(child, prefix + entry.name + '/', out);
    }
  }

  // One dropped folder counts as the chosen folder: its own name is left out of the paths.
  async function droppedEntries(entries) {
    const out = [];
    if (entries.length === 1 && entries[0].isDirectory) {
      for (const child of await readAll(entries[0].createReader())) await walk(child, '', out);
      return { entries: out, name: entries[0].name };
    }
    for (const entry of entries) await walk(entry, '', out);
    return { entries: out, name: '' };
  }

  // chosen({ entries, name }) is called for each folder given; it resolves to a text to show
  // when the folder held no study (the panel then stays), or to '' once the study is shown.
  function askForFolder(chosen) {
    const panel = $('folder-open');
    const input = $('folder-input');
    const status = $('folder-status');
    let busy = false;
    panel.hidden = false;
    $('folder-button').focus();

    async function take(read) {
      if (busy) return;
      busy = true;
      status.className = '';
      status.textContent = 'Reading the folder…';
      try {
        const folder = await read();
        const problem = folder.entries.length ? await chosen(folder) : 'The folder is empty.';
        status.textContent = problem;
        status.className = problem ? 'error' : '';
        panel.hidden = !problem;
      } catch (e) {
        status.textContent = 'The folder could not be read: ' + e.message;
        status.className = 'error';
      } finally {
        busy = false;
        input.value = '';
      }
    }

    $('folder-button').addEventListener('click', () => input.click());
    input.addEventListener('change', () => {
      if (input.files.length) take(async () => root.LumidraImages.entriesOfFileList(input.files));
    });
    document.addEventListener('dragover', (event) => {
      event.preventDefault();
      event.dataTransfer.dropEffect = 'copy';
      document.body.classList.add('dropping');
    });
    document.addEventListener('dragleave', (event) => {
      if (!event.relatedTarget) document.body.classList.remove('dropping');
    });
    document.addEventListener('drop', (event) => {
      event.preventDefault();
      document.body.classList.remove('dropping');
      const items = event.dataTransfer.items;
      if (items && items.length) {
        // The entries must be taken while the drop event lasts.
        const entries = [...items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
        take(() => droppedEntries(entries));
      }
    });
  }

  // What the person at this computer can do instead, first for the system the page runs on.
  function systemHint() {
    const platform = String((navigator.userAgentData && navigator.userAgentData.platform) || navigator.platform || '');
    if (/win/i.test(platform)) return 'On this Windows computer you can also start lumidra.exe on the disc: it opens the viewer without asking for the folder.';
    if (/linux/i.test(platform) && !/android|cros/i.test(navigator.userAgent)) return 'On this Linux computer you can also start ./lumidra on the disc: it opens the viewer without asking for the folder.';
    return 'Nothing needs to be installed or started: this page is all you need on this computer.';
  }

  root.LumidraFolderOpen = { askForFolder, systemHint };
})(typeof self !== 'undefined' ? self : this);
