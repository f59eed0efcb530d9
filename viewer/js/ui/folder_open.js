// The page opened from the disc itself: the browser lets it read the disc only once the user
// has chosen the disc's folder or dragged the disc in. Gives the files found there as
// [{ path, file }] with paths relative to the chosen folder.
(function (root) {
  'use strict';

  const $ = (id) => document.getElementById(id);
  const T = root.LumidraTexts;

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

  // Files are taken from the system only when read: a disc holds thousands.
  async function walkEntry(entry, prefix, out) {
    if (entry.isFile) {
      out.push({ path: prefix + entry.name, getFile: () => new Promise((resolve, reject) => entry.file(resolve, reject)) });
    } else if (entry.isDirectory) {
      for (const child of await readAll(entry.createReader())) await walkEntry(child, prefix + entry.name + '/', out);
    }
  }

  async function walkHandle(handle, prefix, out) {
    if (handle.kind === 'file') out.push({ path: prefix + handle.name, getFile: () => handle.getFile() });
    else for await (const child of handle.values()) await walkHandle(child, prefix + handle.name + '/', out);
  }

  // One dropped folder counts as the chosen folder: its own name is left out of the paths.
  async function dropped(items, walk, children) {
    const out = [];
    if (items.length === 1 && children(items[0])) {
      for (const child of await children(items[0])) await walk(child, '', out);
      return { entries: out, name: items[0].name };
    }
    for (const item of items) await walk(item, '', out);
    return { entries: out, name: '' };
  }

  async function handleChildren(handle) {
    const all = [];
    for await (const child of handle.values()) all.push(child);
    return all;
  }

  // What was dropped, taken while the drop event lasts. Chrome and Edge refuse to list a dropped
  // folder through entries on a file:// page (EncodingError) but not through file system
  // handles; Firefox and Safari have entries only.
  function takeDrop(dataTransfer) {
    const items = [...dataTransfer.items].filter((item) => item.kind === 'file');
    if (items.length && typeof items[0].getAsFileSystemHandle === 'function') {
      const handles = items.map((item) => item.getAsFileSystemHandle());
      return async () => dropped((await Promise.all(handles)).filter(Boolean), walkHandle,
        (h) => h.kind === 'directory' && handleChildren(h));
    }
    const entries = items.map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
    return () => dropped(entries, walkEntry, (e) => e.isDirectory && readAll(e.createReader()));
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
      status.textContent = T.t('readingFolder');
      try {
        const folder = await read();
        const problem = folder.entries.length ? await chosen(folder) : T.t('folderEmpty');
        status.textContent = problem;
        status.className = problem ? 'error' : '';
        panel.hidden = !problem;
      } catch (e) {
        status.textContent = T.t('folderFailed', e.message);
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
      if (event.dataTransfer && event.dataTransfer.items.length) take(takeDrop(event.dataTransfer));
    });
  }

  // What the person at this computer can do instead, first for the system the page runs on.
  function systemHint() {
    const platform = String((navigator.userAgentData && navigator.userAgentData.platform) || navigator.platform || '');
    if (/win/i.test(platform)) return T.t('hintWindows');
    if (/linux/i.test(platform) && !/android|cros/i.test(navigator.userAgent)) return T.t('hintLinux');
    return T.t('hintOther');
  }

  root.LumidraFolderOpen = { askForFolder, systemHint };
})(typeof self !== 'undefined' ? self : this);
