// Turns three.js's ES modules into one classic script, vendor/three.js, that defines the
// global THREE, and its loaders of DDS and KTX2 into another, vendor/three-addons.js.
// Chromium refuses module scripts on a page opened from file:// (its origin is "null", and
// module scripts are fetched with CORS), so the page loads plain scripts.
//
// three.js is built as two modules: three.core.js, which imports nothing, and
// three.module.js, which imports from three.core.js and re-exports part of it. Each body is
// wrapped in a function of its own, so that their private top-level names cannot collide,
// and their export lists become the returned objects. Only Node.js's own modules are used:
// this runs as the postinstall step of a production install (npm ci --omit=dev) as well.
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const buildDir = path.join(here, 'node_modules/three/build');
const outFile = path.join(here, 'vendor/three.js');

function fail(message) {
  throw new Error(`build-vendor.mjs: ${message}; the layout of three.js's build has changed, ` +
    'so this script needs updating');
}

// The names of `{ a, b, c }`, which must be plain identifiers (no renaming with `as`).
function names(list, where) {
  const out = list.split(',').map((s) => s.trim()).filter(Boolean);
  for (const n of out) if (!/^[A-Za-z_$][\w$]*$/.test(n)) fail(`unexpected name "${n}" in ${where}`);
  return out;
}

// Splits a module into its body and its import and export statements, which rollup writes
// one per line at the top level. Any other top-level import or export is refused.
function parseModule(file) {
  const lines = fs.readFileSync(path.join(buildDir, file), 'utf8').split('\n');
  const mod = { body: [], imports: null, reexports: null, exports: null };
  for (const line of lines) {
    let m;
    if ((m = /^import \{([^}]*)\} from '\.\/three\.core\.js';$/.exec(line))) {
      if (mod.imports) fail(`two imports in ${file}`);
      mod.imports = names(m[1], file);
    } else if ((m = /^export \{([^}]*)\} from '\.\/three\.core\.js';$/.exec(line))) {
      if (mod.reexports) fail(`two re-exports in ${file}`);
      mod.reexports = names(m[1], file);
    } else if ((m = /^export \{([^}]*)\};$/.exec(line))) {
      if (mod.exports) fail(`two export lists in ${file}`);
      mod.exports = names(m[1], file);
    } else if (/^(import|export)\b/.test(line)) {
      fail(`unexpected statement in ${file}: ${line.slice(0, 80)}`);
    } else {
      mod.body.push(line);
    }
  }
  if (!mod.exports) fail(`no export list in ${file}`);
  return mod;
}

const core = parseModule('three.core.js');
const main = parseModule('three.module.js');
if (core.imports || core.reexports) fail('three.core.js imports from elsewhere');
if (!main.imports) fail('three.module.js does not import three.core.js');
const coreNames = new Set(core.exports);
for (const n of [...main.imports, ...(main.reexports || [])]) {
  if (!coreNames.has(n)) fail(`three.module.js takes ${n}, which three.core.js does not export`);
}

const version = JSON.parse(fs.readFileSync(path.join(here, 'node_modules/three/package.json'), 'utf8')).version;
const out = [
  `// three.js ${version} (MIT licence, see node_modules/three/LICENSE) as a classic script`,
  '// that defines the global THREE; made from build/three.core.js and build/three.module.js',
  '// by build-vendor.mjs.',
  'var THREE = (function () {',
  '\'use strict\';',
  'const core = (function () {',
  ...core.body,
  `return { ${core.exports.join(', ')} };`,
  '})();',
  'return (function () {',
  `const { ${main.imports.join(', ')} } = core;`,
  ...main.body,
  'return Object.freeze({',
  ...(main.reexports || []).map((n) => `${n}: core.${n},`),
  ...main.exports.map((n) => `${n}: ${n},`),
  '});',
  '})();',
  '})();',
  '',
].join('\n');

// Run it once without a browser: a mistake in the wrapping shows here, not on the page.
const sandbox = {};
vm.runInNewContext(out + '\nthis.THREE = THREE;', sandbox, { filename: 'vendor/three.js' });
const THREE = sandbox.THREE;
if (!THREE || typeof THREE.WebGLRenderer !== 'function' || typeof THREE.DataTexture !== 'function' ||
    THREE.REVISION !== version.split('.')[1]) {
  fail('the script made does not define THREE');
}

fs.mkdirSync(path.dirname(outFile), { recursive: true });
fs.writeFileSync(outFile, out);

// three.js's own loaders of the GPU's containers, DDSLoader and KTX2Loader, and the modules
// they import, as a second classic script, vendor/three-addons.js, that defines the global
// THREE_ADDONS. Each module's body is wrapped in a function of its own: its imports (a
// brace list from 'three' or from one of the modules before it, at the start of a line)
// become constants taken from THREE or from that module, and its exports (an export list,
// which the minified libraries put at their very end, or an exported class, function or
// constant) the returned object. import.meta.url, which KTX2Loader uses only to find the
// Basis transcoder (never loaded here: the textures are uploaded as they are), becomes the
// page's address. Any other import or export is refused.
const jsmDir = path.join(here, 'node_modules/three/examples/jsm');
const addonsFile = path.join(here, 'vendor/three-addons.js');
const addonModules = ['libs/ktx-parse.module.js', 'libs/zstddec.module.js', 'utils/WorkerPool.js',
  'math/ColorSpaces.js', 'loaders/DDSLoader.js', 'loaders/KTX2Loader.js'];

// `{ a, b as c }` as a destructuring pattern (`a, b: c`), or as an object's entries for an
// export list (`a, c: b`); plain identifiers only.
function bindings(list, where, exporting) {
  return list.split(',').map((s) => s.trim()).filter(Boolean).map((item) => {
    const m = /^([A-Za-z_$][\w$]*)(?:\s+as\s+([A-Za-z_$][\w$]*))?$/.exec(item);
    if (!m) fail(`unexpected name "${item}" in ${where}`);
    const [, name, alias] = m;
    if (!alias) return name;
    return exporting ? `${alias}: ${name}` : `${name}: ${alias}`;
  });
}

function wrapAddon(file) {
  let body = fs.readFileSync(path.join(jsmDir, file), 'utf8');
  const exported = [];
  body = body.replace(/^import\s*\{([^}]*)\}\s*from\s*'([^']+)';[ \t]*$/gm, (all, list, from) => {
    let source = 'THREE';
    if (from !== 'three') {
      const target = path.posix.normalize(path.posix.join(path.posix.dirname(file), from));
      if (addonModules.indexOf(target) < 0 || addonModules.indexOf(target) >= addonModules.indexOf(file)) {
        fail(`${file} imports ${from}, which is not one of the modules before it`);
      }
      source = `modules[${JSON.stringify(target)}]`;
    }
    return `const { ${bindings(list, file, false).join(', ')} } = ${source};`;
  });
  body = body.replace(/export\s*\{([^}]*)\}\s*;?\s*$/, (all, list) => {
    exported.push(...bindings(list, file, true));
    return '\n';
  });
  body = body.replace(/^export (class|function|const) ([A-Za-z_$][\w$]*)/gm, (all, kind, name) => {
    exported.push(name);
    return `${kind} ${name}`;
  });
  body = body.replace(/\bimport\.meta\.url\b/g, 'pageUrl');
  if (/^\s*(import|export)\b|\bexport\s*\{|\bimport\s*\(|\bimport\.meta\b/m.test(body)) {
    fail(`an import or export in ${file} that this script does not know`);
  }
  if (!exported.length) fail(`no exports in ${file}`);
  return [
    `modules[${JSON.stringify(file)}] = (function () {`,
    body,
    `return { ${exported.join(', ')} };`,
    '})();',
  ].join('\n');
}

const addons = [
  `// three.js ${version}'s DDSLoader and KTX2Loader (MIT licence, see node_modules/three/LICENSE)`,
  '// with the modules they import, as a classic script that defines the global THREE_ADDONS;',
  '// made from examples/jsm by build-vendor.mjs. Load it after vendor/three.js.',
  'var THREE_ADDONS = (function () {',
  '\'use strict\';',
  'const pageUrl = typeof document !== \'undefined\' && document.baseURI ? document.baseURI : \'file:///\';',
  'const modules = {};',
  ...addonModules.map(wrapAddon),
  'return Object.freeze({',
  '  DDSLoader: modules[\'loaders/DDSLoader.js\'].DDSLoader,',
  '  KTX2Loader: modules[\'loaders/KTX2Loader.js\'].KTX2Loader,',
  '});',
  '})();',
  '',
].join('\n');

// Run both without a browser, as above.
const addonSandbox = { URL, TextDecoder, TextEncoder };
vm.runInNewContext(out + '\n' + addons + '\nthis.THREE_ADDONS = THREE_ADDONS;', addonSandbox,
  { filename: 'vendor/three-addons.js' });
const made = addonSandbox.THREE_ADDONS;
if (!made || typeof made.DDSLoader !== 'function' || typeof made.KTX2Loader !== 'function' ||
    typeof new made.DDSLoader().parse !== 'function') {
  fail('the script made does not define THREE_ADDONS');
}
fs.writeFileSync(addonsFile, addons);
