// Writes an ordinary presentation, as a program other than PowerPoint saves one, for the
// packager's test: node make_presentation.mjs OUT.pptx. pptxgenjs comes from scripts/addin/,
// where the test installs it from the lock file.
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(path.join(here, '../../scripts/addin/package.json'));
const PptxGenJS = require('pptxgenjs');

const out = process.argv[2];
if (!out) {
  console.error('usage: node make_presentation.mjs OUT.pptx');
  process.exit(2);
}
const pres = new PptxGenJS();
pres.layout = 'LAYOUT_16x9';
for (const title of ['First', 'Second', 'Third']) {
  const slide = pres.addSlide();
  slide.addText(title, { x: 0.5, y: 0.5, w: 9, h: 1, fontSize: 32 });
  slide.addShape(pres.ShapeType.rect, { x: 1, y: 2, w: 3, h: 2, fill: { color: '4472C4' } });
}
await pres.writeFile({ fileName: out });
