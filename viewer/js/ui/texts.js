// Every text of the page in Czech and English, in one table: Czech when the browser's first
// preferred language is Czech, English otherwise, as the launcher follows the system's. A value
// is a text, or a function of the figures it carries.
(function (root) {
  'use strict';

  const TEXTS = {
    en: {
      // The page's frame: top bar, study panel, toolbar, controls, dialogs.
      appTitle: 'Lumidra Viewer', server: 'Server', studyCopy: 'Study copy', launchId: 'Launch id',
      checking: 'checking…', waitingForLauncher: 'waiting for the launcher…',
      waitingForLauncherAttempt: (n) => 'waiting for the launcher… (' + n + ')',
      exit: 'Exit Lumidra', exitTitle: 'Close Lumidra and remove its temporary files', closingButton: 'Closing…',
      studyHeading: 'Study', loadingIndex: 'Loading the study index…', imageArea: 'Image', imageTools: 'Image tools',
      mouseTool: 'Mouse tool', zoomGroup: 'Zoom', greyScale: 'Grey scale', layoutGroup: 'Layout', imageDisplay: 'Image display',
      toolWindow: 'Window', toolWindowTitle: 'Window / level (W)', toolPan: 'Pan', toolPanTitle: 'Pan (P)',
      toolZoom: 'Zoom', toolZoomTitle: 'Zoom (Z)', toolMeasure: 'Measure', toolMeasureTitle: 'Measure a distance (M)',
      fit: 'Fit', fitTitle: 'Fit the image to the window (F)', actualSizeTitle: 'One image pixel per screen pixel (1)',
      invert: 'Invert', invertTitle: 'Invert the grey scale (I)', preset: 'Window preset', presetTitle: 'Window preset (V: next)',
      presetNone: 'Window preset…', reset: 'Reset', resetTitle: 'Reset window, zoom, pan and invert (R)',
      layout1x1: 'One viewport', layout1x2: 'Two viewports side by side', layout2x1: 'Two viewports one above the other',
      layout2x2: 'Four viewports', mprTitle: 'Axial, coronal and sagittal planes of the series',
      syncTitle: 'Scroll the viewports together', linkTitle: 'Link window and zoom between the viewports',
      smoothTitle: 'Smooth pixels when magnified (off: nearest neighbour; 1:1 is always pixel for pixel)', slabTitle: 'Maximum intensity over a slab (MIP)',
      crosshairsTitle: 'Crosshairs: one point in all planes (MPR)', savePngTitle: 'Save the active viewport as PNG',
      printTitle: 'Print the active viewport', withOverlayTitle: 'Save and print with the texts and measurements',
      helpButton: 'Keys ?', helpButtonTitle: 'Keyboard help (?)', hint: '? keyboard help',
      imageLabel: 'Image', frameLabel: 'Frame', play: 'Play', stop: 'Stop', cineTitle: 'Play / stop the frames (Space)',
      fps: (rate, fromFile) => rate + ' fps' + (fromFile ? '' : ' (file gives no frame time)'),
      helpTitle: 'Keyboard and mouse', mouse: 'Mouse', close: 'Close',
      folderTitle: 'Open the study on this disc',
      folderText: 'Your browser reads the disc only once you allow it: choose the disc\'s folder (the one that holds ' +
        'INDEX.HTM), or drag the disc or its folder onto this page. The images stay on this computer; nothing is sent anywhere.',
      folderButton: 'Choose the disc\'s folder',
      closingTitle: 'Lumidra is closing',
      closingText: 'The launcher is stopping its server and removing its temporary files. You can close this browser tab.',
      closedTitle: 'Lumidra has closed', closedText: 'The launcher has ended. You can close this browser tab now.',

      // The launcher's state and the exit.
      copyUnknown: 'unknown', copyCopying: 'copying from the disc…', copyComplete: 'complete',
      copyIncomplete: 'incomplete – some files are read from the disc',
      otherLaunch: (id) => 'This page was opened for another launch; it now follows launch ' + id + '.',
      noLaunchId: 'Lumidra has not given its launch id yet. Please try again in a moment.',
      exitRefused: 'Lumidra did not accept the request to close. It accepts it once the study has been copied; you can ' +
        'also close it with the Terminate button in its window.',
      unreachable: 'Lumidra could not be reached; it may have closed already.',

      // The keys and the mouse (the help).
      keyPreviousImage: 'Previous image', keyNextImage: 'Next image', keyBackTen: '10 images back',
      keyForwardTen: '10 images forward', keyFirstImage: 'First image', keyLastImage: 'Last image',
      keyPreviousSeries: 'Previous series', keyNextSeries: 'Next series',
      keyPreviousFrame: 'Previous frame (multi-frame images)', keyNextFrame: 'Next frame (multi-frame images)',
      keyToggleCine: 'Play / stop the frames (cine)', keyZoomIn: 'Zoom in', keyZoomOut: 'Zoom out',
      keyFit: 'Fit the image to the window', keyActualSize: 'Actual size: one image pixel per screen pixel (1:1)',
      keyInvert: 'Invert the grey scale', keyNextPreset: 'Next window preset', keyReset: 'Reset window, zoom, pan and invert',
      keyToolWindow: 'Tool: window / level (drag)', keyToolPan: 'Tool: pan (drag)', keyToolZoom: 'Tool: zoom (drag up / down)',
      keyToolMeasure: 'Tool: measure a distance (drag)', keyClear: 'Remove the measurement; close this help',
      keyHelp: 'Show / hide this keyboard help', keySpace: 'Space',
      mouseWheel: 'Wheel', mouseWheelText: 'Previous / next image', mouseShiftWheel: 'Shift + wheel',
      mouseShiftWheelText: 'Previous / next frame', mouseCtrlWheel: 'Ctrl + wheel', mouseCtrlWheelText: 'Zoom around the pointer',
      mouseLeft: 'Left drag', mouseLeftText: 'The chosen tool (window / level at first: right widens, down raises the level)',
      mouseMiddle: 'Middle drag', mouseMiddleText: 'Pan', mouseRight: 'Right drag', mouseRightText: 'Zoom (up: in, down: out)',

      // The study list and the overlay.
      series: (number) => 'Series ' + number, images: (n) => n + (n === 1 ? ' image' : ' images'),
      noPreview: (reason) => 'No preview: ' + reason, seriesHasNoImages: 'the series has no images',
      noName: '(no name)', born: (date) => 'born ' + date, accession: (number) => 'Acc. ' + number,
      sexM: 'male', sexF: 'female', sexO: 'other',
      pdfReport: 'PDF report', report: 'Report', keyImages: 'Key images',
      imageOf: (i, n) => 'Image ' + i + ' / ' + n, frameOf: (i, n) => 'Frame ' + i + ' / ' + n,
      keyImage: (marks) => '\u2605 Key image (' + marks + ')', colourImage: 'Colour image', voiLutOfFile: 'VOI LUT of the file',
      zoomPercent: (percent, fit) => 'Zoom ' + percent + '%' + (fit ? ' (fit)' : ''), inverted: 'Inverted',
      distance: (text) => 'Distance ' + text, noPixelSpacing: 'no pixel spacing in the file',

      // What the page says about loading and failures.
      loadingImage: (n) => 'Loading image ' + n + '…',
      stillLoading: (n, file, seconds) => 'Image ' + n + ' (file ' + file + ') is still loading after ' + seconds +
        ' s; the disc or the computer may be busy.',
      imageFailed: (n, series, file, reason) => 'Image ' + n + ' could not be shown (' + series + ', file ' + file + '): ' + reason,
      frameFailed: (n, reason) => 'frame ' + n + ': ' + reason,
      noImages: (series) => series + ' has no images.',
      noImagesOnDisc: (series, missing) => series + ' has no images: none of the ' + missing + ' it names is on this disc.',
      keyImagesFailed: (file, reason) => 'The key images (file ' + file + ') could not be read: ' + reason,
      imageAt: (series, n) => series + ', image ' + n,
      indexFailedList: 'The study index could not be read.',
      indexFailedImage: 'No study to show: the study index could not be read.',
      indexFailed: (where, reason) => 'The study index (' + where + ') could not be read: ' + reason,
      indexSkipped: (n) => n + ' image(s) in the index have an unusable file name and are left out.',
      chooseFolder: 'Choose the disc\'s folder to see the study.',
      lookingForImages: (done, total) => 'Looking for DICOM images: ' + done + ' of ' + total + ' files read',
      noImagesInFolder: (name, files) => 'No DICOM images were found in ' + (name || 'the files given') + ' (' + files +
        ' files). Choose the disc\'s own folder, the one that holds INDEX.HTM.',
      readingFolder: 'Reading the folder…', folderEmpty: 'The folder is empty.',
      folderFailed: (reason) => 'The folder could not be read: ' + reason,
      hintWindows: 'On this Windows computer you can also start lumidra.exe on the disc: it opens the viewer without asking for the folder.',
      hintLinux: 'On this Linux computer you can also start ./lumidra on the disc: it opens the viewer without asking for the folder.',
      hintOther: 'Nothing needs to be installed or started: this page is all you need on this computer.',
      configFailed: (reason) => 'The viewer configuration could not be read (' + reason + '); using the server this page came from.',
      seriesFailed: (series, reason) => series + ' could not be shown: ' + reason,
      gridFailed: (reason) => 'The compare workspace could not be opened: ' + reason,
      reformatFailed: (reason) => 'The series could not be reformatted: ' + reason,

      // The compare workspace.
      axial: 'Axial', coronal: 'Coronal', sagittal: 'Sagittal',
      notVolume: (title, reason) => title + ' cannot be reformatted: ' + t(reason) + '.',
      fewImages: 'it has fewer than three images',
      noPosition: 'some images do not say where they lie in the patient',
      sizes: 'its images differ in size',
      frames: 'its images lie in different frames of reference',
      orientations: 'its images lie in different orientations',
      samePosition: 'two of its images lie at the same position',
      spacing: 'its slices are not evenly spaced',
      remove: 'Remove',
      length: 'Length', angle: 'Angle', cobb: 'Cobb angle', ellipse: 'Ellipse',
      rectangle: 'Rectangle', probe: 'Probe', arrow: 'Arrow',
      mean: 'Mean', sd: 'SD', min: 'Min', max: 'Max', area: 'Area',
      noMeasurements: 'No measurements yet.', measurements: 'Measurements',
      location: (mm) => 'Location ' + mm + ' mm', thickness: (mm) => 'Thickness ' + mm + ' mm',
      sync: 'Sync', byPosition: 'by position', byIndex: 'by image number', syncOff: 'off', link: 'Link W/L',
      smooth: 'Smooth', slab: 'Slab', oneSlice: '1 slice',
      crosshairs: 'Crosshairs', savePng: 'Save PNG', print: 'Print', withOverlay: 'with overlay',
    },
    cs: {
      appTitle: 'Prohlížeč Lumidra', server: 'Server', studyCopy: 'Kopie studie', launchId: 'ID spuštění',
      checking: 'zjišťuji…', waitingForLauncher: 'čekám na spouštěč…',
      waitingForLauncherAttempt: (n) => 'čekám na spouštěč… (' + n + ')',
      exit: 'Ukončit Lumidru', exitTitle: 'Zavřít Lumidru a odstranit její dočasné soubory', closingButton: 'Ukončuji…',
      studyHeading: 'Studie', loadingIndex: 'Načítám rejstřík studie…', imageArea: 'Snímek', imageTools: 'Nástroje snímku',
      mouseTool: 'Nástroj myši', zoomGroup: 'Zvětšení', greyScale: 'Šedá škála', layoutGroup: 'Rozložení', imageDisplay: 'Zobrazení snímku',
      toolWindow: 'Okno', toolWindowTitle: 'Okno / úroveň (W)', toolPan: 'Posun', toolPanTitle: 'Posun (P)',
      toolZoom: 'Zvětšení', toolZoomTitle: 'Zvětšení (Z)', toolMeasure: 'Měřit', toolMeasureTitle: 'Změřit vzdálenost (M)',
      fit: 'Přizpůsobit', fitTitle: 'Přizpůsobit snímek oknu (F)', actualSizeTitle: 'Jeden pixel snímku na pixel obrazovky (1)',
      invert: 'Invertovat', invertTitle: 'Invertovat šedou škálu (I)', preset: 'Přednastavené okno', presetTitle: 'Přednastavené okno (V: další)',
      presetNone: 'Přednastavené okno…', reset: 'Obnovit', resetTitle: 'Obnovit okno, zvětšení, posun a inverzi (R)',
      layout1x1: 'Jedno zobrazení', layout1x2: 'Dvě zobrazení vedle sebe', layout2x1: 'Dvě zobrazení nad sebou',
      layout2x2: 'Čtyři zobrazení', mprTitle: 'Axiální, koronální a sagitální rovina série',
      syncTitle: 'Listovat zobrazeními společně', linkTitle: 'Propojit okno a zvětšení mezi zobrazeními',
      smoothTitle: 'Vyhlazovat pixely při zvětšení (vypnuto: nejbližší soused; 1:1 vždy pixel na pixel)', slabTitle: 'Maximální intenzita ve vrstvě (MIP)',
      crosshairsTitle: 'Zaměřovač: jeden bod ve všech rovinách (MPR)', savePngTitle: 'Uložit aktivní zobrazení jako PNG',
      printTitle: 'Vytisknout aktivní zobrazení', withOverlayTitle: 'Uložit a tisknout s popisy a měřeními',
      helpButton: 'Klávesy ?', helpButtonTitle: 'Nápověda ke klávesám (?)', hint: '? nápověda ke klávesám',
      imageLabel: 'Snímek', frameLabel: 'Rámec', play: 'Přehrát', stop: 'Zastavit', cineTitle: 'Přehrát / zastavit rámce (mezerník)',
      fps: (rate, fromFile) => rate + ' sn./s' + (fromFile ? '' : ' (soubor neudává dobu rámce)'),
      helpTitle: 'Klávesnice a myš', mouse: 'Myš', close: 'Zavřít',
      folderTitle: 'Otevřít studii na tomto disku',
      folderText: 'Prohlížeč čte disk, až když to dovolíte: vyberte složku disku (tu, ve které je INDEX.HTM), nebo disk ' +
        'či jeho složku přetáhněte na tuto stránku. Snímky zůstávají v tomto počítači; nic se nikam neodesílá.',
      folderButton: 'Vybrat složku disku',
      closingTitle: 'Lumidra se ukončuje',
      closingText: 'Spouštěč zastavuje svůj server a odstraňuje dočasné soubory. Tuto kartu prohlížeče můžete zavřít.',
      closedTitle: 'Lumidra je ukončena', closedText: 'Spouštěč skončil. Tuto kartu prohlížeče nyní můžete zavřít.',

      copyUnknown: 'neznámá', copyCopying: 'kopíruje se z disku…', copyComplete: 'úplná',
      copyIncomplete: 'neúplná – některé soubory se čtou z disku',
      otherLaunch: (id) => 'Tato stránka byla otevřena pro jiné spuštění; nyní sleduje spuštění ' + id + '.',
      noLaunchId: 'Lumidra ještě nesdělila ID spuštění. Zkuste to prosím za chvíli znovu.',
      exitRefused: 'Lumidra žádost o ukončení nepřijala. Přijme ji, až bude studie zkopírována; můžete ji také ukončit ' +
        'tlačítkem Ukončit v jejím okně.',
      unreachable: 'Lumidra není dostupná; možná už byla ukončena.',

      keyPreviousImage: 'Předchozí snímek', keyNextImage: 'Další snímek', keyBackTen: 'O 10 snímků zpět',
      keyForwardTen: 'O 10 snímků vpřed', keyFirstImage: 'První snímek', keyLastImage: 'Poslední snímek',
      keyPreviousSeries: 'Předchozí série', keyNextSeries: 'Další série',
      keyPreviousFrame: 'Předchozí rámec (vícerámcové snímky)', keyNextFrame: 'Další rámec (vícerámcové snímky)',
      keyToggleCine: 'Přehrát / zastavit rámce (cine)', keyZoomIn: 'Zvětšit', keyZoomOut: 'Zmenšit',
      keyFit: 'Přizpůsobit snímek oknu', keyActualSize: 'Skutečná velikost: jeden pixel snímku na pixel obrazovky (1:1)',
      keyInvert: 'Invertovat šedou škálu', keyNextPreset: 'Další přednastavené okno', keyReset: 'Obnovit okno, zvětšení, posun a inverzi',
      keyToolWindow: 'Nástroj: okno / úroveň (tažení)', keyToolPan: 'Nástroj: posun (tažení)', keyToolZoom: 'Nástroj: zvětšení (tažení nahoru / dolů)',
      keyToolMeasure: 'Nástroj: měření vzdálenosti (tažení)', keyClear: 'Odstranit měření; zavřít tuto nápovědu',
      keyHelp: 'Zobrazit / skrýt tuto nápovědu', keySpace: 'Mezerník',
      mouseWheel: 'Kolečko', mouseWheelText: 'Předchozí / další snímek', mouseShiftWheel: 'Shift + kolečko',
      mouseShiftWheelText: 'Předchozí / další rámec', mouseCtrlWheel: 'Ctrl + kolečko', mouseCtrlWheelText: 'Zvětšení kolem ukazatele',
      mouseLeft: 'Tažení levým', mouseLeftText: 'Zvolený nástroj (zpočátku okno / úroveň: doprava rozšiřuje, dolů zvyšuje úroveň)',
      mouseMiddle: 'Tažení prostředním', mouseMiddleText: 'Posun', mouseRight: 'Tažení pravým', mouseRightText: 'Zvětšení (nahoru: zvětšit, dolů: zmenšit)',

      series: (number) => 'Série ' + number, images: (n) => n + ' ' + (n === 1 ? 'snímek' : n >= 2 && n <= 4 ? 'snímky' : 'snímků'),
      noPreview: (reason) => 'Bez náhledu: ' + reason, seriesHasNoImages: 'série nemá žádné snímky',
      noName: '(bez jména)', born: (date) => 'nar. ' + date, accession: (number) => 'Přír. č. ' + number,
      sexM: 'muž', sexF: 'žena', sexO: 'jiné',
      pdfReport: 'Zpráva PDF', report: 'Zpráva', keyImages: 'Klíčové snímky',
      imageOf: (i, n) => 'Snímek ' + i + ' / ' + n, frameOf: (i, n) => 'Rámec ' + i + ' / ' + n,
      keyImage: (marks) => '\u2605 Klíčový snímek (' + marks + ')', colourImage: 'Barevný snímek', voiLutOfFile: 'VOI LUT ze souboru',
      zoomPercent: (percent, fit) => 'Zvětšení ' + percent + ' %' + (fit ? ' (přizpůsobeno)' : ''), inverted: 'Invertováno',
      distance: (text) => 'Vzdálenost ' + text, noPixelSpacing: 'soubor neudává rozteč pixelů',

      loadingImage: (n) => 'Načítám snímek ' + n + '…',
      stillLoading: (n, file, seconds) => 'Snímek ' + n + ' (soubor ' + file + ') se načítá už ' + seconds +
        ' s; disk nebo počítač může být zaneprázdněn.',
      imageFailed: (n, series, file, reason) => 'Snímek ' + n + ' nelze zobrazit (' + series + ', soubor ' + file + '): ' + reason,
      frameFailed: (n, reason) => 'rámec ' + n + ': ' + reason,
      noImages: (series) => series + ' nemá žádné snímky.',
      noImagesOnDisc: (series, missing) => series + ' nemá žádné snímky: žádný z ' + missing + ', které uvádí, na tomto disku není.',
      keyImagesFailed: (file, reason) => 'Klíčové snímky (soubor ' + file + ') nelze přečíst: ' + reason,
      imageAt: (series, n) => series + ', snímek ' + n,
      indexFailedList: 'Rejstřík studie nelze přečíst.',
      indexFailedImage: 'Není co zobrazit: rejstřík studie nelze přečíst.',
      indexFailed: (where, reason) => 'Rejstřík studie (' + where + ') nelze přečíst: ' + reason,
      indexSkipped: (n) => 'Snímky v rejstříku s nepoužitelným názvem souboru jsou vynechány: ' + n + '.',
      chooseFolder: 'Vyberte složku disku, abyste viděli studii.',
      lookingForImages: (done, total) => 'Hledám snímky DICOM: přečteno ' + done + ' z ' + total + ' souborů',
      noImagesInFolder: (name, files) => 'V ' + (name || 'zadaných souborech') + ' (' + files + ' souborů) nejsou žádné ' +
        'snímky DICOM. Vyberte vlastní složku disku, tu, ve které je INDEX.HTM.',
      readingFolder: 'Čtu složku…', folderEmpty: 'Složka je prázdná.',
      folderFailed: (reason) => 'Složku nelze přečíst: ' + reason,
      hintWindows: 'Na tomto počítači s Windows můžete také spustit lumidra.exe na disku: otevře prohlížeč, aniž by se ptal na složku.',
      hintLinux: 'Na tomto počítači s Linuxem můžete také spustit ./lumidra na disku: otevře prohlížeč, aniž by se ptal na složku.',
      hintOther: 'Nic není třeba instalovat ani spouštět: tato stránka je na tomto počítači vše, co potřebujete.',
      configFailed: (reason) => 'Nastavení prohlížeče nelze přečíst (' + reason + '); použije se server, ze kterého stránka přišla.',
      seriesFailed: (series, reason) => series + ' nelze zobrazit: ' + reason,
      gridFailed: (reason) => 'Srovnávací pracovní plochu nelze otevřít: ' + reason,
      reformatFailed: (reason) => 'Sérii nelze rekonstruovat: ' + reason,

      axial: 'Axiální', coronal: 'Koronální', sagittal: 'Sagitální',
      notVolume: (title, reason) => title + ' nelze rekonstruovat: ' + t(reason) + '.',
      fewImages: 'má méně než tři snímky',
      noPosition: 'některé snímky neudávají svou polohu v pacientovi',
      sizes: 'snímky mají různou velikost',
      frames: 'snímky leží v různých vztažných soustavách',
      orientations: 'snímky mají různou orientaci',
      samePosition: 'dva snímky leží na stejném místě',
      spacing: 'řezy nejsou rovnoměrně rozložené',
      remove: 'Odstranit',
      length: 'Délka', angle: 'Úhel', cobb: 'Cobbův úhel', ellipse: 'Elipsa',
      rectangle: 'Obdélník', probe: 'Bod', arrow: 'Šipka',
      mean: 'Průměr', sd: 'SD', min: 'Min', max: 'Max', area: 'Plocha',
      noMeasurements: 'Zatím žádná měření.', measurements: 'Měření',
      location: (mm) => 'Poloha ' + mm + ' mm', thickness: (mm) => 'Tloušťka ' + mm + ' mm',
      sync: 'Synchronizovat', byPosition: 'podle polohy', byIndex: 'podle čísla snímku', syncOff: 'ne', link: 'Propojit W/L',
      smooth: 'Vyhladit', slab: 'Vrstva', oneSlice: '1 řez',
      crosshairs: 'Zaměřovač', savePng: 'Uložit PNG', print: 'Tisk', withOverlay: 's popisem',
    },
  };

  // Only the first preferred language counts: a Czech speaker who also reads English gets Czech,
  // an English speaker who also reads Czech gets English.
  function languageOf(languages) {
    const first = (languages || [])[0];
    const code = String(first || '').toLowerCase().split('-')[0];
    return code === 'cs' ? 'cs' : 'en';
  }

  const language = languageOf(root.navigator && (root.navigator.languages || [root.navigator.language]));

  function t(key, ...args) {
    const entry = key in TEXTS[language] ? TEXTS[language][key] : TEXTS.en[key];
    if (entry === undefined) return key;
    return typeof entry === 'function' ? entry(...args) : entry;
  }

  const sex = (cs) => (['M', 'F', 'O'].includes(cs) ? t('sex' + cs) : '');

  // The page's own words: data-text names an element's text, data-title its title and
  // data-label its aria-label.
  function translate(rootElement) {
    for (const el of rootElement.querySelectorAll('[data-text]')) el.textContent = t(el.dataset.text);
    for (const el of rootElement.querySelectorAll('[data-title]')) el.title = t(el.dataset.title);
    for (const el of rootElement.querySelectorAll('[data-label]')) el.setAttribute('aria-label', t(el.dataset.label));
    if (rootElement.documentElement) {
      rootElement.documentElement.lang = language;
      rootElement.title = t('appTitle');
    }
  }

  root.LumidraTexts = { t, sex, language, languageOf, translate, TEXTS };
})(typeof self !== 'undefined' ? self : this);
