// Lays out the viewer page as the discs carry it: the page, its styles and scripts, the image
// module and its decoding worker bundled with esbuild, and the WebAssembly codecs beside the
// worker. Everything is loaded from the disc; nothing is fetched from elsewhere.
// With a second folder, also the page as it opens from the disc itself (file://, no launcher):
// INDEX.HTM beside VIEWER/, the decoding worker and the codecs carried inside a page script.
// The libraries the page loads only on demand go, with a disc root folder, to its DATA/LIB: one copy
// on the disc, outside viewer.7z, reached by the launcher's page and by INDEX.HTM alike.
// Usage: node viewer/build.mjs <output folder> [<disc root folder>]
import * as esbuild from 'esbuild';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const viewer = path.dirname(fileURLToPath(import.meta.url));
const root = path.dirname(viewer);
const out = path.resolve(process.argv[2] || path.join(root, 'build', 'viewer'));
const discOut = process.argv[3] ? path.resolve(process.argv[3]) : null;
const modules = path.join(root, 'node_modules');
// By its real path, as esbuild resolves the loader's own relative imports: one copy of each
// module (the wasm location set by the worker is the one the decoders read) even when
// node_modules is a link.
const cornerstoneShared = fs.realpathSync(path.join(modules, '@cornerstonejs', 'dicom-image-loader', 'dist', 'esm', 'shared'));
const CODECS = [
  ['codec-libjpeg-turbo-8bit', 'libjpegturbowasm_decode.wasm'],
  ['codec-charls', 'charlswasm_decode.wasm'],
  ['codec-openjpeg', 'openjpegwasm_decode.wasm'],
  ['codec-openjph', 'openjphjs.wasm'],
];
// Loaded on demand (the compare workspace, a PDF report): the launcher unpacks viewer.7z before it
// opens the browser, and these are three quarters of it.
const ON_DEMAND = ['cornerstone.js', 'cornerstone.js.LEGAL.txt', 'pdf.worker.js', 'pdfjs'];
const LIBRARIES_META = '<meta name="lumidra-libraries" content="js/">';
// The page's own scripts that are not bundled.
const PAGE_FILES = ['index.html', 'css', 'data', 'js'];

// The loader's per-codec decoders are not among its package exports; they are reached by path.
const cornerstonePlugin = {
  name: 'cornerstone-shared',
  setup(build) {
    build.onResolve({ filter: /^cornerstone-shared\// }, (args) => ({
      path: path.join(cornerstoneShared, args.path.slice('cornerstone-shared/'.length)),
    }));
  },
};

// vtk.js's XML file readers, which the page never uses, pull in a Node-only XML builder.
const noXmlPlugin = {
  name: 'no-xml',
  setup(build) {
    build.onResolve({ filter: /^xmlbuilder2$/ }, () => ({ path: 'xmlbuilder2', namespace: 'no-xml' }));
    build.onLoad({ filter: /.*/, namespace: 'no-xml' }, () => ({
      contents: "export function create() { throw new Error('XML files are not read here'); }",
    }));
  },
};

const common = {
  bundle: true,
  minify: true,
  legalComments: 'external',
  target: ['chrome90', 'firefox90', 'safari15'],
  logLevel: 'warning',
  plugins: [cornerstonePlugin],
  // The codecs' start-up code also knows how to run under Node; the page never takes that path.
  external: ['fs', 'path', 'crypto', 'module', 'url', 'worker_threads'],
};

fs.rmSync(out, { recursive: true, force: true });
fs.mkdirSync(out, { recursive: true });
for (const name of PAGE_FILES) {
  const from = path.join(viewer, name);
  if (fs.existsSync(from)) fs.cpSync(from, path.join(out, name), { recursive: true });
}
await esbuild.build({ ...common, entryPoints: [path.join(viewer, 'src', 'images.mjs')], outfile: path.join(out, 'js', 'images.js'), format: 'iife' });
await esbuild.build({ ...common, entryPoints: [path.join(viewer, 'src', 'decode_worker.mjs')], outfile: path.join(out, 'js', 'decode-worker.js'), format: 'esm' });
// cornerstone3D's rendering and tools, for layouts, reformatting and measurements.
await esbuild.build({ ...common, entryPoints: [path.join(viewer, 'src', 'cornerstone.mjs')], outfile: path.join(out, 'js', 'cornerstone.js'), format: 'iife', plugins: [...common.plugins, noXmlPlugin] });
fs.mkdirSync(path.join(out, 'js', 'codecs'), { recursive: true });
for (const [pkg, file] of CODECS) {
  fs.copyFileSync(path.join(modules, '@cornerstonejs', pkg, 'dist', file), path.join(out, 'js', 'codecs', file));
}
// Reports: the document reader, and pdf.js with its worker and the data it loads on demand.
await esbuild.build({ ...common, entryPoints: [path.join(viewer, 'src', 'documents_page.mjs')], outfile: path.join(out, 'js', 'documents.js'), format: 'iife' });
await esbuild.build({ ...common, entryPoints: [path.join(viewer, 'src', 'pdf.mjs')], outfile: path.join(out, 'js', 'pdf.js'), format: 'iife' });
const pdfjs = path.join(modules, 'pdfjs-dist');
fs.copyFileSync(path.join(pdfjs, 'legacy', 'build', 'pdf.worker.min.mjs'), path.join(out, 'js', 'pdf.worker.js'));
for (const folder of ['cmaps', 'standard_fonts', 'wasm', 'iccs']) {
  fs.cpSync(path.join(pdfjs, folder), path.join(out, 'js', 'pdfjs', folder), { recursive: true });
}
fs.copyFileSync(path.join(pdfjs, 'legacy', 'web', 'pdf_viewer.css'), path.join(out, 'css', 'pdf_viewer.css'));

// The page from file://: Chrome runs no worker script and fetches nothing from there, but reads
// classic scripts, so the worker's text travels in one and starts from a blob, and the codecs'
// WebAssembly travels beside it as text the page hands each worker it starts.
async function buildDiscPage(folder) {
  const viewerDir = path.join(folder, 'VIEWER');
  fs.rmSync(folder, { recursive: true, force: true });
  fs.mkdirSync(viewerDir, { recursive: true });
  for (const name of ['css', 'js']) fs.cpSync(path.join(out, name), path.join(viewerDir, name), { recursive: true });
  fs.rmSync(path.join(viewerDir, 'js', 'codecs'), { recursive: true, force: true });
  for (const name of fs.readdirSync(path.join(viewerDir, 'js'))) {
    if (name.startsWith('decode-worker.')) fs.rmSync(path.join(viewerDir, 'js', name));
  }
  const worker = await esbuild.build({
    ...common,
    entryPoints: [path.join(viewer, 'src', 'decode_worker_embedded.mjs')],
    outfile: path.join(viewerDir, 'js', 'decode-worker-embedded.js'),
    format: 'iife',
    define: { 'import.meta.url': '"lumidra-codec:/"' },
    write: false,
  });
  const codecs = {};
  for (const [pkg, file] of CODECS) {
    codecs[file] = fs.readFileSync(path.join(modules, '@cornerstonejs', pkg, 'dist', file)).toString('base64');
  }
  for (const file of worker.outputFiles) {
    const text = file.path.endsWith('.js')
      ? 'self.LumidraWorkerSource = ' + JSON.stringify(file.text) + ';\nself.LumidraCodecs = ' + JSON.stringify(codecs) + ';\n'
      : file.text;
    fs.writeFileSync(file.path, text);
  }
  await carryPdfFiles(path.join(viewerDir, 'js'));
  // The same page, its files found in VIEWER/, the worker's script before the image script.
  const page = fs.readFileSync(path.join(viewer, 'index.html'), 'utf-8')
    .replace('<meta charset="utf-8">', '<meta charset="utf-8">\n  <base href="VIEWER/">')
    .replace('<script src="js/images.js"></script>', '<script src="js/decode-worker-embedded.js"></script>\n  <script src="js/images.js"></script>')
    .replace('<script src="js/pdf.js"></script>', '<script src="js/pdf-carried.js"></script>\n  <script src="js/pdf.js"></script>');
  if (!page.includes('<base href="VIEWER/">') || !page.includes('decode-worker-embedded.js') || !page.includes('pdf-carried.js')) {
    throw new Error('index.html no longer has the places INDEX.HTM is made from');
  }
  fs.writeFileSync(path.join(folder, 'INDEX.HTM'), page);
}

// pdf.js's worker and the data it loads on demand, for the page from file://: each file F becomes a
// classic script F.js that hands over its bytes when the page adds it (see src/pdf_carried.mjs).
// The worker is made a classic script too, as Chrome starts no module worker from a blob there.
// The CMYK profile (read synchronously) and the decoders' script fallbacks and the scripting
// engine (never used) are left out.
const PDF_CARRIED = [['pdfjs/cmaps', /\.bcmap$/], ['pdfjs/standard_fonts', /\.(pfb|ttf)$/],
  ['pdfjs/wasm', /^(jbig2|openjpeg|qcms_bg)\.wasm$/]];

async function carryPdfFiles(js) {
  fs.writeFileSync(path.join(js, 'pdf-carried.js'),
    '// Filled by the carried scripts of pdf.js\'s files, each under its own address.\nself.LumidraPdfCarried = new Map();\n');
  const carry = (file, bytes) => {
    fs.writeFileSync(file + '.js', 'self.LumidraPdfCarried.set(document.currentScript.src, "' + bytes.toString('base64') + '");\n');
  };
  const worker = await esbuild.build({
    entryPoints: [path.join(modules, 'pdfjs-dist', 'legacy', 'build', 'pdf.worker.min.mjs')],
    bundle: true,
    format: 'iife',
    minify: true,
    target: common.target,
    logLevel: 'warning',
    define: { 'import.meta.url': 'self.location.href' },
    write: false,
  });
  carry(path.join(js, 'pdf.worker.js'), Buffer.from(worker.outputFiles[0].contents));
  fs.rmSync(path.join(js, 'pdf.worker.js'));
  for (const [name, wanted] of PDF_CARRIED) {
    const where = path.join(js, name);
    for (const file of fs.readdirSync(where)) {
      if (wanted.test(file)) carry(path.join(where, file), fs.readFileSync(path.join(where, file)));
      if (!file.startsWith('LICENSE')) fs.rmSync(path.join(where, file));
    }
  }
  fs.rmSync(path.join(js, 'pdfjs', 'iccs'), { recursive: true, force: true });
}

// Moves the on-demand libraries to the disc's DATA/LIB, which the launcher serves from the disc
// (it looks in the disc's DATA for what its workspace lacks), and points both pages there.
function placeLibraries(folder) {
  const libraries = path.join(folder, 'DATA', 'LIB');
  const discPage = path.join(folder, 'VIEWER', 'js');
  fs.mkdirSync(libraries, { recursive: true });
  for (const name of ON_DEMAND) fs.renameSync(path.join(out, 'js', name), path.join(libraries, name));
  // The scripts carrying pdf.js's files for the page from file:// go beside the files themselves.
  for (const name of fs.readdirSync(discPage, { recursive: true })) {
    if (!/^(pdf\.worker\.js|pdfjs\/.+)\.js$/.test(name.split(path.sep).join('/'))) continue;
    fs.mkdirSync(path.dirname(path.join(libraries, name)), { recursive: true });
    fs.renameSync(path.join(discPage, name), path.join(libraries, name));
  }
  for (const name of ON_DEMAND) fs.rmSync(path.join(discPage, name), { recursive: true, force: true });
  for (const [page, place] of [[path.join(out, 'index.html'), '../LIB/'], [path.join(folder, 'INDEX.HTM'), '../DATA/LIB/']]) {
    const text = fs.readFileSync(page, 'utf-8');
    if (!text.includes(LIBRARIES_META)) throw new Error(page + ' no longer names where its libraries are');
    fs.writeFileSync(page, text.replace(LIBRARIES_META, LIBRARIES_META.replace('"js/"', '"' + place + '"')));
  }
}

if (discOut) {
  await buildDiscPage(discOut);
  placeLibraries(discOut);
}
