// Bundles three.js into one classic script, vendor/three.js, that defines the global THREE.
// Browsers refuse ES modules on pages opened from file://, so the page loads plain scripts.
import { build } from 'esbuild';
import { fileURLToPath } from 'node:url';
import path from 'node:path';

const here = path.dirname(fileURLToPath(import.meta.url));
await build({
  entryPoints: [path.join(here, 'node_modules/three/build/three.module.js')],
  bundle: true,
  format: 'iife',
  globalName: 'THREE',
  minify: true,
  legalComments: 'inline',
  target: 'es2020',
  outfile: path.join(here, 'vendor/three.js'),
  logLevel: 'warning',
});
