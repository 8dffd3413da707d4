// The page's own TypeScript modules (the fitter, the smoother, the path text, the strokes the
// tests draw), bundled for node with esbuild as build.mjs bundles the unit tests, for the ink
// benchmark and the browser tests that measure what the page placed against them.
import { build } from 'esbuild';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const page = join(dirname(fileURLToPath(import.meta.url)), '..');

export async function pageModules() {
  const out = await build({
    stdin: {
      contents: ['src/fit.ts', 'src/smooth.ts', 'src/path.ts', 'bench/strokes.ts'].map((f) => `export * from './${f}';`).join('\n'),
      resolveDir: page,
      loader: 'ts',
    },
    bundle: true,
    format: 'esm',
    platform: 'node',
    target: 'node20',
    write: false,
    logLevel: 'warning',
  });
  return import(`data:text/javascript;base64,${Buffer.from(out.outputFiles[0].text).toString('base64')}`);
}
