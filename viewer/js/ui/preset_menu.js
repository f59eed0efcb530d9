// The window preset menu: the presets of the frame shown, with the one that matches the window
// on screen selected, so that the menu always says where the window stands.
(function (root) {
  'use strict';

  const Format = root.LumidraFormat;

  const lutOf = (v) => (v.voiLut === undefined ? null : v.voiLut);

  function matches(preset, view) {
    return Boolean(view) && preset.center === view.center && preset.width === view.width && lutOf(preset) === lutOf(view);
  }

  // choose(preset): the user picked one.
  function createPresetMenu(select, choose) {
    let presets = [];
    select.addEventListener('change', () => {
      if (select.value !== '') choose(presets[Number(select.value)]);
    });

    function show(list, view) {
      if (list !== presets) {
        presets = list;
        select.length = 1;
        list.forEach((p, i) => {
          select.add(new Option(p.name + ' (W ' + Format.number(p.width) + ' L ' + Format.number(p.center) + ')', String(i)));
        });
      }
      select.disabled = !list.length;
      const at = list.findIndex((p) => matches(p, view));
      select.value = at >= 0 ? String(at) : '';
    }

    // The preset after the one on screen (the first when none is).
    function next(view) {
      if (!presets.length) return null;
      return presets[(presets.findIndex((p) => matches(p, view)) + 1) % presets.length];
    }

    return { show, next };
  }

  root.LumidraPresetMenu = { createPresetMenu, lutOf };
})(typeof self !== 'undefined' ? self : this);
