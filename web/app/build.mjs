// Bundles the page's script (src/main.js and CodeMirror) into one minified
// file for the browser: node build.mjs OUT.js
import { build } from 'esbuild';

await build({
  entryPoints: [new URL('./src/main.js', import.meta.url).pathname],
  bundle: true,
  minify: true,
  format: 'iife',
  target: 'es2020',
  charset: 'utf8',
  legalComments: 'eof',
  logLevel: 'warning',
  outfile: process.argv[2],
});
