// The keyboard help: a dialog listing every key and mouse gesture from the key table.
(function (root) {
  'use strict';

  const Keys = root.LumidraKeys;
  const T = root.LumidraTexts;

  function row(shown, label) {
    const tr = document.createElement('tr');
    const key = document.createElement('th');
    key.scope = 'row';
    const kbd = document.createElement('kbd');
    kbd.textContent = shown;
    key.appendChild(kbd);
    const what = document.createElement('td');
    what.textContent = label;
    tr.append(key, what);
    return tr;
  }

  function fillTable(table, entries) {
    table.textContent = '';
    for (const entry of entries) table.appendChild(row(T.t(entry.shown), T.t(entry.text)));
  }

  // dialog: the help's container; keysTable, mouseTable: its two tables; closeButton: its one
  // control; returnFocus: the element that gets the focus back when the help closes.
  function createHelp(dialog, keysTable, mouseTable, closeButton, returnFocus) {
    fillTable(keysTable, Keys.KEYS);
    fillTable(mouseTable, Keys.MOUSE);
    // The page behind is out of reach while the help is open: Tab stays on its button.
    dialog.addEventListener('keydown', (event) => {
      if (event.key !== 'Tab') return;
      event.preventDefault();
      closeButton.focus();
    });
    const isOpen = () => !dialog.hidden;
    function open() {
      dialog.hidden = false;
      dialog.focus();
    }
    function close() {
      if (!isOpen()) return;
      dialog.hidden = true;
      returnFocus.focus();
    }
    return { open, close, isOpen, toggle: () => (isOpen() ? close() : open()) };
  }

  root.LumidraHelp = { createHelp };
})(typeof self !== 'undefined' ? self : this);
