// Builds the drawing page from src/ into the folder the server serves (../web): one script,
// one style sheet, one page. Nothing else goes there, no source maps, no node_modules.
// With --tests it builds the unit tests instead, into ../build/page-tests.
import { build } from 'esbuild';
import { copyFile, mkdir } from 'node:fs/promises';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const web = join(here, '..', 'web');

const tests = process.argv.includes('--tests');
if (!tests) await mkdir(web, { recursive: true });
if (!tests) await build({
  entryPoints: [join(here, 'src', 'main.ts')],
  outfile: join(web, 'overlay.js'),
  bundle: true,
  format: 'iife',
  target: ['safari15', 'chrome110'],
  minify: true,
  legalComments: 'inline',
  sourcemap: false,
  logLevel: 'warning',
});
if (!tests) for (const f of ['overlay.html', 'overlay.css']) await copyFile(join(here, 'src', 'static', f), join(web, f));

// The unit tests import the page's modules; each test file is bundled for node.
if (tests) {
  const { readdir } = await import('node:fs/promises');
  const dir = join(here, 'test', 'unit');
  const files = (await readdir(dir)).filter((f) => f.endsWith('.test.ts'));
  await build({
    entryPoints: files.map((f) => join(dir, f)),
    outdir: join(here, '..', 'build', 'page-tests', 'unit'),
    outExtension: { '.js': '.mjs' },
    bundle: true,
    format: 'esm',
    platform: 'node',
    target: 'node20',
    logLevel: 'warning',
  });
}
