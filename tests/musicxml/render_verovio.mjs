// Renders each MusicXML file given with verovio, page 1 to FILE.svg beside
// it; fails on a file verovio cannot load or renders to no page.
//
//     node render_verovio.mjs FILE.musicxml...
import createVerovioModule from 'verovio/wasm';
import { VerovioToolkit } from 'verovio/esm';
import fs from 'fs';

const toolkit = new VerovioToolkit(await createVerovioModule());
toolkit.setOptions({ pageWidth: 2100, pageHeight: 2970, scale: 40 });
let failed = 0;
for (const path of process.argv.slice(2)) {
  const loaded = toolkit.loadData(fs.readFileSync(path, 'utf8'));
  const pages = loaded ? toolkit.getPageCount() : 0;
  if (!loaded || pages === 0) {
    console.error(`verovio: ${path}: not rendered: ${toolkit.getLog()}`);
    failed += 1;
    continue;
  }
  fs.writeFileSync(path.replace(/\.musicxml$/, '.svg'), toolkit.renderToSVG(1));
  console.log(`verovio: ${path}: ${pages} page(s)`);
}
process.exit(failed === 0 ? 0 : 1);
